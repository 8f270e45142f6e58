#include "api/radu_probe_memo.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "api/fpmatch.h"
#include "objects/zr_alloc.h"

namespace {

constexpr size_t kSampleBytes = size_t(RADU_SAMPLE_ROWS) * RADU_SAMPLE_COLS;

// One allocation: the sample's bytes, then the probe's.
struct Entry {
    uint8_t* block = nullptr;
    uint32_t probe_size = 0;
    uint32_t probe_type = 0;
    uint32_t generation_quality = 0;

    const uint8_t* sample() const { return block; }
    const uint8_t* probe() const { return block + kSampleBytes; }
    size_t block_size() const { return kSampleBytes + probe_size; }
};

std::mutex g_lock;
Entry g_entry;
std::atomic<radu_probe_memo_release_observer> g_release_observer{nullptr};

// Zeros written through a volatile pointer, which the compiler may not drop
// as dead stores before the free.
void wipe(uint8_t* bytes, size_t size) {
    volatile uint8_t* p = bytes;
    for (size_t i = 0; i < size; ++i) p[i] = 0;
}

void release(Entry& entry) {
    if (entry.block != nullptr) {
        wipe(entry.block, entry.block_size());
        if (const radu_probe_memo_release_observer observe = g_release_observer.load())
            observe(entry.block, entry.block_size());
        std::free(entry.block);
    }
    entry = Entry{};
}

// The entry of a sample and its probe; empty when memory runs out.
Entry make_entry(const uint8_t* sample, const zr_template* probe) {
    Entry e;
    const uint32_t size = zr_template_get_data_size(probe);
    e.block = static_cast<uint8_t*>(zr_malloc(kSampleBytes + size));
    if (e.block == nullptr) return Entry{};
    e.probe_size = size;
    e.probe_type = zr_template_get_type(probe);
    e.generation_quality = zr_template_get_generation_quality(probe);
    std::memcpy(e.block, sample, kSampleBytes);
    if (size != 0) std::memcpy(e.block + kSampleBytes, zr_template_get_data(probe), size);
    return e;
}

// The lock is held.
bool holds_locked(const uint8_t* sample) {
    return g_entry.block != nullptr && std::memcmp(g_entry.sample(), sample, kSampleBytes) == 0;
}

// Swaps the held entry for the given one (under the lock) and releases the
// old one outside it.
void replace(Entry next) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        std::swap(g_entry, next);
    }
    release(next);
}

}  // namespace

zr_template* radu_probe_memo_find(const uint8_t* sample) {
    if (sample == nullptr) return nullptr;
    const std::lock_guard<std::mutex> hold(g_lock);
    if (!holds_locked(sample)) return nullptr;
    zr_template* probe = zr_template_create(g_entry.probe_type, g_entry.probe(), g_entry.probe_size);
    zr_template_set_generation_quality(probe, g_entry.generation_quality);
    return probe;
}

void radu_probe_memo_keep(const uint8_t* sample, const zr_template* probe) {
    if (sample == nullptr || probe == nullptr) return;
    replace(make_entry(sample, probe));
}

void radu_probe_memo_clear() { replace(Entry{}); }

bool radu_probe_memo_holds(const uint8_t* sample) {
    if (sample == nullptr) return false;
    const std::lock_guard<std::mutex> hold(g_lock);
    return holds_locked(sample);
}

void radu_probe_memo_set_release_observer(radu_probe_memo_release_observer observer) {
    g_release_observer.store(observer);
}
