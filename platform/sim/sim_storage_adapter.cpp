#include "sim_storage_adapter.h"

#include <cstring>

namespace {

SimStorageAdapter* adapter_of(WINBIO_PIPELINE* pipeline) {
    return pipeline ? static_cast<SimStorageAdapter*>(pipeline->StorageContext) : nullptr;
}

HRESULT slot_add_record(WINBIO_PIPELINE* p, WINBIO_STORAGE_RECORD* record) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->add_record(record) : E_POINTER;
}
HRESULT slot_query_by_subject(WINBIO_PIPELINE* p, WINBIO_IDENTITY* identity, WINBIO_BIOMETRIC_SUBTYPE sub) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->query_by_subject(identity, sub) : E_POINTER;
}
HRESULT slot_query_by_content(WINBIO_PIPELINE* p, WINBIO_BIOMETRIC_SUBTYPE sub, uint32_t* index, size_t n) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->query_by_content(sub, index, n) : E_POINTER;
}
HRESULT slot_get_record_count(WINBIO_PIPELINE* p, size_t* count) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->get_record_count(count) : E_POINTER;
}
HRESULT slot_first_record(WINBIO_PIPELINE* p) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->first_record() : E_POINTER;
}
HRESULT slot_next_record(WINBIO_PIPELINE* p) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->next_record() : E_POINTER;
}
HRESULT slot_get_current_record(WINBIO_PIPELINE* p, WINBIO_STORAGE_RECORD* record) {
    SimStorageAdapter* a = adapter_of(p);
    return a ? a->get_current_record(record) : E_POINTER;
}

// Identities are equal when their types agree and the bytes that type uses agree.
bool identities_equal(const WINBIO_IDENTITY& a, const WINBIO_IDENTITY& b) {
    if (a.Type != b.Type) return false;
    switch (a.Type) {
    case WINBIO_ID_TYPE_NULL:
    case WINBIO_ID_TYPE_WILDCARD:
        return true;
    case WINBIO_ID_TYPE_GUID:
        return std::memcmp(&a.Value.TemplateGuid, &b.Value.TemplateGuid, sizeof(GUID)) == 0;
    case WINBIO_ID_TYPE_SID:
        return a.Value.AccountSid.Size == b.Value.AccountSid.Size &&
               a.Value.AccountSid.Size <= SECURITY_MAX_SID_SIZE &&
               std::memcmp(a.Value.AccountSid.Data, b.Value.AccountSid.Data, a.Value.AccountSid.Size) == 0;
    default:
        return std::memcmp(&a.Value, &b.Value, sizeof(a.Value)) == 0;
    }
}

bool sub_factor_matches(WINBIO_BIOMETRIC_SUBTYPE wanted, WINBIO_BIOMETRIC_SUBTYPE stored) {
    return wanted == WINBIO_SUBTYPE_ANY || wanted == stored;
}

template <typename T>
std::vector<T> copy_array(const T* data, size_t count) {
    return (data && count) ? std::vector<T>(data, data + count) : std::vector<T>{};
}

}  // namespace

SimStorageAdapter::SimStorageAdapter() {
    table_.AddRecord = slot_add_record;
    table_.QueryBySubject = slot_query_by_subject;
    table_.QueryByContent = slot_query_by_content;
    table_.GetRecordCount = slot_get_record_count;
    table_.FirstRecord = slot_first_record;
    table_.NextRecord = slot_next_record;
    table_.GetCurrentRecord = slot_get_current_record;
}

void SimStorageAdapter::attach(WINBIO_PIPELINE& pipeline) {
    pipeline.StorageInterface = &table_;
    pipeline.StorageContext = this;
}

void SimStorageAdapter::remove_slot(StorageOp op) {
    switch (op) {
    case StorageOp::AddRecord: table_.AddRecord = nullptr; break;
    case StorageOp::QueryBySubject: table_.QueryBySubject = nullptr; break;
    case StorageOp::QueryByContent: table_.QueryByContent = nullptr; break;
    case StorageOp::GetRecordCount: table_.GetRecordCount = nullptr; break;
    case StorageOp::FirstRecord: table_.FirstRecord = nullptr; break;
    case StorageOp::NextRecord: table_.NextRecord = nullptr; break;
    case StorageOp::GetCurrentRecord: table_.GetCurrentRecord = nullptr; break;
    }
}

void SimStorageAdapter::inject_failure(StorageOp op, HRESULT hr) { failures_[static_cast<size_t>(op)] = hr; }

void SimStorageAdapter::clear_failures() { failures_.fill(std::nullopt); }

std::optional<HRESULT> SimStorageAdapter::take_injected(StorageOp op) {
    ++calls_[static_cast<size_t>(op)];
    return failures_[static_cast<size_t>(op)];
}

HRESULT SimStorageAdapter::add_record(const WINBIO_STORAGE_RECORD* record) {
    if (auto hr = take_injected(StorageOp::AddRecord)) return *hr;
    if (record == nullptr || record->Identity == nullptr) return E_POINTER;
    if ((record->TemplateBlob == nullptr && record->TemplateBlobSize != 0) ||
        (record->PayloadBlob == nullptr && record->PayloadBlobSize != 0) ||
        (record->IndexVector == nullptr && record->IndexElementCount != 0))
        return E_INVALIDARG;
    SimStoredRecord stored;
    stored.identity = *record->Identity;
    stored.has_identity = true;
    stored.sub_factor = record->SubFactor;
    stored.index_vector = copy_array(record->IndexVector, record->IndexElementCount);
    stored.template_blob = copy_array(record->TemplateBlob, record->TemplateBlobSize);
    stored.payload_blob = copy_array(record->PayloadBlob, record->PayloadBlobSize);
    records_.push_back(std::move(stored));
    return S_OK;
}

HRESULT SimStorageAdapter::finish_query() {
    cursor_ = 0;
    return results_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
}

HRESULT SimStorageAdapter::query_by_subject(const WINBIO_IDENTITY* identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
    if (auto hr = take_injected(StorageOp::QueryBySubject)) return *hr;
    if (identity == nullptr) return E_POINTER;
    results_.clear();
    for (size_t i = 0; i < records_.size(); ++i) {
        const SimStoredRecord& r = records_[i];
        const bool subject = identity->Type == WINBIO_ID_TYPE_WILDCARD ||
                             (r.has_identity && identities_equal(*identity, r.identity));
        if (subject && sub_factor_matches(sub_factor, r.sub_factor)) results_.push_back(i);
    }
    return finish_query();
}

HRESULT SimStorageAdapter::query_by_content(WINBIO_BIOMETRIC_SUBTYPE sub_factor, const uint32_t* index_vector,
                                            size_t index_count) {
    if (auto hr = take_injected(StorageOp::QueryByContent)) return *hr;
    if (index_vector == nullptr && index_count != 0) return E_POINTER;
    results_.clear();
    for (size_t i = 0; i < records_.size(); ++i) {
        const SimStoredRecord& r = records_[i];
        bool content = sub_factor_matches(sub_factor, r.sub_factor);
        for (size_t k = 0; content && k < index_count; ++k)
            content = k < r.index_vector.size() && r.index_vector[k] == index_vector[k];
        if (content) results_.push_back(i);
    }
    return finish_query();
}

HRESULT SimStorageAdapter::get_record_count(size_t* count) {
    if (auto hr = take_injected(StorageOp::GetRecordCount)) return *hr;
    if (count == nullptr) return E_POINTER;
    *count = results_.size();
    return S_OK;
}

HRESULT SimStorageAdapter::first_record() {
    if (auto hr = take_injected(StorageOp::FirstRecord)) return *hr;
    cursor_ = 0;
    return results_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
}

HRESULT SimStorageAdapter::next_record() {
    if (auto hr = take_injected(StorageOp::NextRecord)) return *hr;
    if (results_.empty()) return WINBIO_E_DATABASE_NO_RESULTS;
    if (cursor_ + 1 >= results_.size()) {
        cursor_ = results_.size();
        return WINBIO_E_DATABASE_NO_MORE_RECORDS;
    }
    ++cursor_;
    return S_OK;
}

HRESULT SimStorageAdapter::get_current_record(WINBIO_STORAGE_RECORD* record) {
    if (auto hr = take_injected(StorageOp::GetCurrentRecord)) return *hr;
    if (record == nullptr) return E_POINTER;
    if (results_.empty()) return WINBIO_E_DATABASE_NO_RESULTS;
    if (cursor_ >= results_.size()) return WINBIO_E_DATABASE_NO_MORE_RECORDS;
    // The caller gets pointers into a copy that lives until the next
    // GetCurrentRecord, so nothing it does can change the stored record.
    current_ = records_[results_[cursor_]];
    record->Identity = current_.has_identity ? &current_.identity : nullptr;
    record->SubFactor = current_.sub_factor;
    record->IndexVector = current_.index_vector.empty() ? nullptr : current_.index_vector.data();
    record->IndexElementCount = current_.index_vector.size();
    record->TemplateBlob = current_.template_blob.empty() ? nullptr : current_.template_blob.data();
    record->TemplateBlobSize = current_.template_blob.size();
    record->PayloadBlob = current_.payload_blob.empty() ? nullptr : current_.payload_blob.data();
    record->PayloadBlobSize = current_.payload_blob.size();
    return S_OK;
}
