// An in-memory storage adapter for the engine adapter's pipeline: the seven
// operations the engine calls, with deep-copied records, a result set and
// cursor as the framework's template store keeps them, call counters and
// error injection.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "wbio_engine_types.h"

enum class StorageOp : size_t {
    AddRecord,
    QueryBySubject,
    QueryByContent,
    GetRecordCount,
    FirstRecord,
    NextRecord,
    GetCurrentRecord,
};
constexpr size_t kStorageOpCount = 7;

// One stored record, owning all its bytes.
struct SimStoredRecord {
    WINBIO_IDENTITY identity{};
    bool has_identity = false;
    WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
    std::vector<uint32_t> index_vector;
    std::vector<uint8_t> template_blob;
    std::vector<uint8_t> payload_blob;
};

class SimStorageAdapter {
public:
    SimStorageAdapter();
    SimStorageAdapter(const SimStorageAdapter&) = delete;
    SimStorageAdapter& operator=(const SimStorageAdapter&) = delete;

    // Installs this adapter in the pipeline (StorageInterface, StorageContext).
    void attach(WINBIO_PIPELINE& pipeline);

    // The operation table; a slot can be removed to test the engine's guard.
    const WINBIO_STORAGE_INTERFACE* storage_interface() const { return &table_; }
    void remove_slot(StorageOp op);

    // Every later call of `op` returns `hr` without doing anything, until cleared.
    void inject_failure(StorageOp op, HRESULT hr);
    void clear_failures();

    size_t calls(StorageOp op) const { return calls_[static_cast<size_t>(op)]; }
    void reset_calls() { calls_.fill(0); }

    // Direct access to the store.
    void add(SimStoredRecord record) { records_.push_back(std::move(record)); }
    const std::vector<SimStoredRecord>& records() const { return records_; }
    void clear() { records_.clear(); results_.clear(); cursor_ = 0; }

    // The operations themselves (the table's slots forward here).
    HRESULT add_record(const WINBIO_STORAGE_RECORD* record);
    HRESULT query_by_subject(const WINBIO_IDENTITY* identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor);
    HRESULT query_by_content(WINBIO_BIOMETRIC_SUBTYPE sub_factor, const uint32_t* index_vector,
                             size_t index_count);
    HRESULT get_record_count(size_t* count);
    HRESULT first_record();
    HRESULT next_record();
    HRESULT get_current_record(WINBIO_STORAGE_RECORD* record);

private:
    std::optional<HRESULT> take_injected(StorageOp op);
    HRESULT finish_query();

    WINBIO_STORAGE_INTERFACE table_{};
    std::vector<SimStoredRecord> records_;
    std::vector<size_t> results_;  // indices into records_ of the last query
    size_t cursor_ = 0;
    SimStoredRecord current_;      // the copy handed out by get_current_record
    std::array<size_t, kStorageOpCount> calls_{};
    std::array<std::optional<HRESULT>, kStorageOpCount> failures_{};
};
