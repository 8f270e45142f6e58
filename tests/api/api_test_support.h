// Support of the exported-interface tests: sensor samples (real captures,
// blank and noise frames), whole enrolments through the exported calls, and a
// reader of the stored "ZRMT" record written here from its byte layout, apart
// from the library's decoder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "api/fpmatch.h"
#include "fp_test_data.h"

namespace api_test {

using bytes = std::vector<uint8_t>;

constexpr size_t kSampleBytes = size_t(RADU_SAMPLE_ROWS) * RADU_SAMPLE_COLS;

inline bytes blank_sample() { return bytes(kSampleBytes, 255); }

// Uniform noise from a xorshift generator.
inline bytes noise_sample(uint32_t seed) {
    bytes out(kSampleBytes);
    uint32_t x = seed != 0 ? seed : 1;
    for (uint8_t& px : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        px = uint8_t(x >> 24);
    }
    return out;
}

inline bytes read_sample(const std::filesystem::path& path) {
    fp_test::GreyImage g = fp_test::read_pgm(path);
    if (g.rows != RADU_SAMPLE_ROWS || g.cols != RADU_SAMPLE_COLS) return {};
    return std::move(g.pixels);
}

struct Finger {
    std::string db;
    std::string name;
    std::vector<bytes> enrol;   // e1..e6
    std::vector<bytes> probes;  // p7, p8
};

// Every finger of the capture set (<db>/<finger>/e1..e6, p7, p8), in
// database and finger order; empty where the captures are absent.
inline std::vector<Finger> load_fingers() {
    std::vector<Finger> out;
    if (!fp_test::have_captures()) return out;
    std::vector<std::filesystem::path> dbs;
    for (const auto& entry : std::filesystem::directory_iterator(fp_test::captures_dir()))
        if (entry.is_directory()) dbs.push_back(entry.path());
    std::sort(dbs.begin(), dbs.end());
    for (const auto& db : dbs) {
        std::vector<std::filesystem::path> fingers;
        for (const auto& entry : std::filesystem::directory_iterator(db))
            if (std::filesystem::exists(entry.path() / "e1.pgm")) fingers.push_back(entry.path());
        std::sort(fingers.begin(), fingers.end());
        for (const auto& dir : fingers) {
            Finger f{db.filename().string(), dir.filename().string(), {}, {}};
            for (int i = 1; i <= 6; ++i) f.enrol.push_back(read_sample(dir / ("e" + std::to_string(i) + ".pgm")));
            for (int i = 7; i <= 8; ++i) f.probes.push_back(read_sample(dir / ("p" + std::to_string(i) + ".pgm")));
            out.push_back(std::move(f));
        }
    }
    return out;
}

// One whole enrolment as the engine adapter runs it: init, one enrol call
// per sample, save.
struct Enrolment {
    std::vector<int32_t> codes;
    bytes blob;      // the bytes save wrote
    int32_t saved = -1;
    uint8_t type = 0;
};

inline Enrolment enrol(const std::vector<bytes>& samples) {
    Enrolment e;
    EXPECT_EQ(0, RADU_alg_init());
    for (const bytes& s : samples) e.codes.push_back(RADU_alg_request_enroll(0, s.empty() ? nullptr : s.data()));
    bytes buffer(RADU_TEMPLATE_BUFFER_SIZE, 0);
    e.saved = RADU_alg_save_template(0, buffer.data(), &e.type);
    if (e.saved > 0) e.blob.assign(buffer.begin(), buffer.begin() + e.saved);
    return e;
}

inline int32_t verify(const bytes& sample, const bytes& blob) {
    return RADU_alg_request_verify(sample.data(), blob.data(), uint32_t(blob.size()));
}

// --- the stored record, read from its byte layout ---

struct RecordItem {
    uint8_t tag = 0;
    size_t offset = 0;  // of the item's data in the record
    uint16_t length = 0;
};

struct RecordInstance {
    uint32_t id = 0;
    uint8_t type = 0;
    size_t head_offset = 0;  // of the 10-byte head
    uint32_t size = 0;
    std::vector<RecordItem> items;
};

struct Record {
    bool valid = false;
    uint8_t version = 0;
    std::vector<RecordItem> globals;
    std::vector<RecordInstance> instances;
    const RecordItem* global(uint8_t tag) const {
        for (const RecordItem& item : globals)
            if (item.tag == tag) return &item;
        return nullptr;
    }
};

inline uint32_t be32(const bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Items of one list from `at`; false when one runs past the end.
inline bool read_items(const bytes& b, size_t* at, uint8_t count, std::vector<RecordItem>* out) {
    for (uint8_t i = 0; i < count; ++i) {
        if (*at + 3 > b.size()) return false;
        RecordItem item{b[*at], *at + 3, uint16_t(b[*at + 1] << 8 | b[*at + 2])};
        if (item.offset + item.length > b.size()) return false;
        out->push_back(item);
        *at = item.offset + item.length;
    }
    return true;
}

// A version-3 record as the library writes it: head, global items, instances
// up to the end or the 0xFF fill.
inline Record read_record(const bytes& b) {
    Record r;
    static const uint8_t kMagic[5] = {'Z', 'R', 'M', 'T', 0};
    if (b.size() < 8 || !std::equal(kMagic, kMagic + 5, b.begin())) return r;
    r.version = b[5];
    if (r.version != 3) return r;
    const uint8_t declared = b[6];
    size_t at = 8;
    if (!read_items(b, &at, b[7], &r.globals)) return r;
    while (b.size() - at >= 10 && be32(b, at) != 0xFFFFFFFFu) {
        RecordInstance in{be32(b, at), b[at + 5], at, be32(b, at + 6), {}};
        const uint8_t items = b[at + 4];
        at += 10;
        if (in.size > b.size() - at) return r;
        at += in.size;
        if (!read_items(b, &at, items, &in.items)) return r;
        r.instances.push_back(in);
    }
    for (; at < b.size(); ++at)
        if (b[at] != 0xFF) return r;
    r.valid = declared == 0xFF || declared == r.instances.size();
    return r;
}

}  // namespace api_test
