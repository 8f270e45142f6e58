// The main road's record on the real captures: a 64-bit FNV-1a hash of every
// intermediate of each capture's extraction, of its type-74 template and its
// quality record, of each finger's enrolled template, and of every
// verification's scores and decision (genuine probes and a bounded impostor
// set). tools/golden_record.cpp writes it; the golden test recomputes it and
// compares entry by entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "extract/bal_extract.h"
#include "algorithm_main_road.h"
#include "fp_test_data.h"
#include "match/zr_algorithm.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_quality.h"

namespace fp_golden {

using fp_test::kEnrolDpi;
using fp_test::kVerifyDpi;
constexpr uint32_t kFarLevel = 12;
// Each probe meets the enrolments of this many following fingers of its
// database as an impostor.
constexpr size_t kImpostorsPerProbe = 3;

// FNV-1a, 64 bits.
class Hash {
public:
    Hash& bytes(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i) {
            value_ ^= p[i];
            value_ *= 0x100000001B3ull;
        }
        return *this;
    }
    template <typename T>
    Hash& value(T v) {
        return bytes(&v, sizeof v);
    }
    uint64_t get() const { return value_; }

private:
    uint64_t value_ = 0xCBF29CE484222325ull;
};

// Ordered entries "key" -> hash.
using Record = std::vector<std::pair<std::string, uint64_t>>;

using Finger = fp_test::FingerCaptures;

inline std::vector<Finger> fingers() { return fp_test::finger_captures(); }

inline zr_image* load(const std::filesystem::path& path, uint16_t dpi) {
    const fp_test::GreyImage g = fp_test::read_pgm(path);
    if (g.pixels.empty()) return nullptr;
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi, g.pixels.data(), 0);
}

// The algorithm as the exported interface builds it.
inline zr_algorithm* road_algorithm() { return fp_test::exported_preset_algorithm(); }

// Collects the extraction's intermediates while alive; a stage seen again
// in the same extraction gets a numbered key.
class StageObserver {
public:
    StageObserver(Record* record, std::string prefix) : record_(record), prefix_(std::move(prefix)) {
        bal_extract_set_observer(&StageObserver::seen, this);
    }
    ~StageObserver() { bal_extract_set_observer(nullptr, nullptr); }
    StageObserver(const StageObserver&) = delete;
    StageObserver& operator=(const StageObserver&) = delete;

private:
    static void seen(void* context, const char* stage, const uint8_t* data, size_t bytes) {
        auto* self = static_cast<StageObserver*>(context);
        const int n = ++self->count_[stage];
        std::string key = self->prefix_ + " " + stage;
        if (n > 1) key += "#" + std::to_string(n);
        self->record_->emplace_back(key, Hash().value(uint64_t(bytes)).bytes(data, bytes).get());
    }
    Record* record_;
    std::string prefix_;
    std::map<std::string, int> count_;
};

inline std::string capture_name(const Finger& f, const std::filesystem::path& p) {
    return f.name + "/" + p.stem().string();
}

inline uint64_t template_hash(zr_status status, zr_template* t) {
    Hash h;
    h.value(int32_t(status));
    if (t != nullptr) {
        h.value(zr_template_get_type(t)).value(zr_template_get_data_size(t));
        h.bytes(zr_template_get_data(t), zr_template_get_data_size(t));
    }
    return h.get();
}

// Extraction of one capture (intermediates, template) and its quality gate.
inline void record_capture(zr_algorithm* a, const Finger& f, const std::filesystem::path& path, uint16_t dpi,
                           Record& out) {
    const std::string name = capture_name(f, path);
    zr_image* image = load(path, dpi);
    if (image == nullptr) {
        out.emplace_back(name + " unreadable", 0);
        return;
    }
    zr_template* t = nullptr;
    zr_status status;
    {
        StageObserver observer(&out, name);
        status = zr_algorithm_extract_template(a, image, nullptr, &t);
    }
    out.emplace_back(name + " template", template_hash(status, t));
    zr_template_delete(t);
    zr_image_delete(image);

    zr_image* gate = load(path, kVerifyDpi);
    zr_quality* q = nullptr;
    const zr_status qs = zr_compute_quality_500(nullptr, gate, &q);
    Hash h;
    h.value(int32_t(qs));
    if (q != nullptr) h.value(q->image_quality).value(q->area).value(q->area_percentage).value(q->condition);
    out.emplace_back(name + " quality", h.get());
    zr_quality_delete(q);
    zr_image_delete(gate);
}

// Enrolment of e1..e6 through the enrolment engine; the stored template.
inline zr_template* enrol(zr_algorithm* a, const Finger& f, Record& out) {
    Hash steps;
    zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, nullptr, nullptr);
    if (e == nullptr) {
        out.emplace_back(f.name + " enrol", 0);
        return nullptr;
    }
    for (const auto& path : f.enrol) {
        zr_image* image = load(path, kEnrolDpi);
        uint8_t coverage = 0;
        const zr_status s = image ? zr_multitemplate_enroll_run(e, image, nullptr, &coverage) : ZR_BAD_ARGUMENT;
        steps.value(int32_t(s)).value(coverage);
        zr_image_delete(image);
    }
    steps.value(zr_multitemplate_enroll_get_nbr_of_captures(e));
    zr_template* stored = nullptr;
    const zr_status s = zr_multitemplate_enroll_finalize_template_algorithm(a, e, &stored);
    zr_multitemplate_enroll_delete(e);
    out.emplace_back(f.name + " enrol_steps", steps.get());
    out.emplace_back(f.name + " enrol_template", template_hash(s, stored));
    return stored;
}

// One verification: status, decision, raw and log2 (FAR) scores, the level
// reached, what matched, and each link's work.
inline uint64_t verification_hash(zr_algorithm* a, zr_template* stored, const std::filesystem::path& probe) {
    zr_image* image = load(probe, kVerifyDpi);
    zr_match_result* r = nullptr;
    const zr_status s = image && stored ? zr_algorithm_verify_image_ex(a, &stored, 1, image, kFarLevel, &r)
                                        : ZR_BAD_ARGUMENT;
    Hash h;
    h.value(int32_t(s));
    if (r != nullptr) {
        h.value(r->decision).value(r->raw_score).value(r->far_score).value(r->far_level_reached);
        h.value(r->matching_template_index).value(r->matching_subtemplate_index).value(r->last_link_index);
        for (uint32_t i = 0; i < r->entry_count; ++i)
            for (const zr_match_result_link& l : r->entries[i].links) h.value(l.comparisons).value(l.best_score);
        if (const zr_alignment* al = r->alignment; al != nullptr)
            h.value(al->dx).value(al->dy).value(al->rotation).value(al->sine).value(al->cosine);
    }
    zr_match_result_delete(r);
    zr_image_delete(image);
    return h.get();
}

// The whole record; empty when the captures are missing.
inline Record compute() {
    Record out;
    zr_algorithm* a = road_algorithm();
    if (a == nullptr) return out;
    const std::vector<Finger> all = fingers();
    for (const Finger& f : all) {
        for (const auto& p : f.enrol) record_capture(a, f, p, kEnrolDpi, out);
        for (const auto& p : f.probes) record_capture(a, f, p, kVerifyDpi, out);
    }
    std::vector<zr_template*> stored;
    for (const Finger& f : all) stored.push_back(enrol(a, f, out));
    for (size_t i = 0; i < all.size(); ++i) {
        for (const auto& p : all[i].probes) {
            const std::string probe = capture_name(all[i], p);
            out.emplace_back(probe + " genuine", verification_hash(a, stored[i], p));
            // The next fingers of the same database, wrapping around.
            size_t met = 0;
            for (size_t step = 1; step < all.size() && met < kImpostorsPerProbe; ++step) {
                const size_t j = (i + step) % all.size();
                if (all[j].db != all[i].db) continue;
                out.emplace_back(probe + " impostor " + all[j].name, verification_hash(a, stored[j], p));
                ++met;
            }
        }
    }
    for (zr_template* t : stored) zr_template_delete(t);
    zr_algorithm_delete(a);
    return out;
}

inline std::string hex(uint64_t v) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(v));
    return buffer;
}

inline void write(std::ostream& os, const Record& r) {
    for (const auto& [key, value] : r) os << key << '\t' << hex(value) << '\n';
}

inline Record read(std::istream& is) {
    Record r;
    std::string line;
    while (std::getline(is, line)) {
        const size_t tab = line.rfind('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        r.emplace_back(line.substr(0, tab), std::stoull(line.substr(tab + 1), nullptr, 16));
    }
    return r;
}

}  // namespace fp_golden
