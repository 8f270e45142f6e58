// Evaluation run over a folder of captures, through the exported interface
// or through the algorithm object of one preset. A test aid; see usage().
//
// One road for both: load the folder, enrol every finger of a database, compare
// every probe with every enrolled finger of its database, report.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "api/fpmatch.h"
#include "exported_verify_score.h"
#include "fpeval_folder.h"
#include "fpeval_presets.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

namespace {

namespace fs = std::filesystem;
using fpeval::Capture;
using fpeval::Database;
using fpeval::Finger;
using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

// FAR levels of the report; the TOTAL line gives the accepts at kTotalLevel.
constexpr uint32_t kPresetLevels[] = {6, 12, 18};
constexpr uint32_t kExportedLevels[] = {12};
constexpr size_t kMaxLevels = std::size(kPresetLevels);
constexpr uint32_t kTotalLevel = 12;
constexpr uint32_t kScoreFarLevel = 28;  // no decision: the whole score
constexpr double kScoreUnitsPerLog2 = 2048.0;

constexpr uint16_t kDefaultDpi = 500;
constexpr const char* kDpiKey = "zr.extractor.dpi";

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--preset NAME] FOLDER\n"
                 "\n"
                 "FOLDER holds databases <db>/<finger>/e1..e6.pgm (enrolment) and p7.pgm, p8.pgm\n"
                 "(probes), 8-bit binary PGM. Each finger is enrolled from e1..e6; each probe is\n"
                 "compared with its own finger (genuine) and every other finger of its database\n"
                 "(impostor).\n"
                 "\n"
                 "Without --preset the run goes through the exported RADU_ interface (176 x 96\n"
                 "captures, decisions at FAR level 12). With --preset NAME it goes through the\n"
                 "algorithm object of that preset (e.g. gen_130x130_hybrid_create, or 130x130_hybrid):\n"
                 "the enrolment engine enrols the captures into a multi-template, and every\n"
                 "comparison is verified at FAR levels 6, 12 and 18 and, for its score, at level 28\n"
                 "(no decision). Captures may have any size, all the same; images are taken at\n"
                 "the preset's \"zr.extractor.dpi\" (500 when it sets none).\n"
                 "\n"
                 "Per database, then for all, it prints the enrolment failures, the genuine and\n"
                 "impostor accepts per level, the lowest genuine and highest impostor score (log2\n"
                 "of the inverse false-accept rate), error codes and median times. The last line is\n"
                 "  TOTAL fingers F enrol-fail X genuine A/B impostor C/D errors E\n"
                 "with the accepts at level 12: a finger whose enrolment failed counts in X and\n"
                 "its probes in B as genuine comparisons not accepted; impostor comparisons are\n"
                 "made only with enrolled fingers; E counts the comparisons that returned an error\n"
                 "(a verification at any level), which count as not accepted.\n",
                 program);
    return 2;
}

double elapsed_ms(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 != 0 ? v[mid] : (v[mid - 1] + v[mid]) / 2.0;
}

// --- the two roads ---

// One comparison: the decision at each of the road's levels, the score and
// the first error code (0 for none).
struct Outcome {
    std::array<bool, kMaxLevels> accepted{};
    int32_t score = -1;  // log2 scale units; -1 when no score came back
    int32_t error = 0;
    double verify_ms = 0;  // the verification that decides at level 12
};

// An enrolment: the index of the stored finger, or the error code when it failed.
struct Enrolment {
    int stored = -1;
    int32_t error = 0;
};

class Road {
public:
    virtual ~Road() = default;
    virtual std::span<const uint32_t> levels() const = 0;
    virtual Enrolment enrol(const Finger& finger) = 0;
    // The probe against a finger enrolled since the last forget().
    virtual Outcome compare(const Capture& probe, int stored) = 0;
    // Drops every enrolment.
    virtual void forget() = 0;
};

// The exported interface: enrolment by RADU_alg_request_enroll, decisions
// by RADU_alg_request_verify (level 12), the score through the exported
// preset's algorithm object at level 28.
class ExportedRoad final : public Road {
public:
    std::span<const uint32_t> levels() const override { return kExportedLevels; }

    Enrolment enrol(const Finger& finger) override {
        RADU_alg_init();
        int32_t code = 0;
        // A failed step ends the enrolment: a further capture would begin another.
        for (const Capture& capture : finger.enrol) {
            code = RADU_alg_request_enroll(0, capture.pixels.data());
            if (code <= 0 || code == RADU_ENROLL_COMPLETE) break;
        }
        if (code != RADU_ENROLL_COMPLETE) return {-1, code};
        bytes out(RADU_TEMPLATE_BUFFER_SIZE);
        uint8_t type = 0;
        const int32_t size = RADU_alg_save_template(0, out.data(), &type);
        if (size <= 0) return {-1, size};
        blobs_.emplace_back(out.begin(), out.begin() + size);
        return {int(blobs_.size() - 1), 0};
    }

    Outcome compare(const Capture& probe, int stored) override {
        const bytes& blob = blobs_[size_t(stored)];
        const auto start = clock_type::now();
        const int32_t result = RADU_alg_request_verify(probe.pixels.data(), blob.data(), uint32_t(blob.size()));
        Outcome o;
        o.verify_ms = elapsed_ms(start);
        o.accepted[0] = result == RADU_VERIFY_MATCH;
        if (result != RADU_VERIFY_MATCH && result != RADU_VERIFY_NO_MATCH) o.error = -result;
        o.score = fp_test::exported_verify_score(probe.pixels, blob);
        return o;
    }

    void forget() override { blobs_.clear(); }

private:
    std::vector<bytes> blobs_;
};

// Islands are computed as the exported enrolment has them computed (and
// freed by the engine); no feedback is printed.
uint32_t free_islands(zr_session*, zr_enroll_island*, uint8_t) { return 1; }
const zr_enroll_callbacks kEnrolCallbacks = {nullptr, free_islands, nullptr, nullptr,
                                             nullptr, nullptr,      nullptr, nullptr};

struct TemplateDelete {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using TemplatePtr = std::unique_ptr<zr_template, TemplateDelete>;

// One preset's algorithm object, as the preset builds it: enrolment through
// the enrolment engine, verification through the algorithm at each level.
class PresetRoad final : public Road {
public:
    // Takes over the algorithm's reference.
    explicit PresetRoad(zr_algorithm* algorithm)
        : algorithm_(algorithm),
          dpi_(uint16_t(zr_session_get_int(zr_algorithm_get_session(algorithm), kDpiKey, kDefaultDpi))) {}
    ~PresetRoad() override { zr_algorithm_delete(algorithm_); }
    PresetRoad(const PresetRoad&) = delete;
    PresetRoad& operator=(const PresetRoad&) = delete;

    uint16_t dpi() const { return dpi_; }
    std::span<const uint32_t> levels() const override { return kPresetLevels; }

    Enrolment enrol(const Finger& finger) override {
        zr_multitemplate_enroll* engine =
            zr_multitemplate_enroll_create_algorithm(algorithm_, ZR_FINGER_ANONYMOUS, &kEnrolCallbacks, nullptr);
        if (engine == nullptr) return {-1, ZR_NO_MEMORY};
        zr_template* finished = nullptr;
        zr_status rc = run_captures(engine, finger);
        if (rc == ZR_OK) rc = zr_multitemplate_enroll_finalize_template_algorithm(algorithm_, engine, &finished);
        zr_multitemplate_enroll_delete(engine);
        if (rc == ZR_OK && finished == nullptr) rc = ZR_FAILURE;
        if (rc != ZR_OK) {
            zr_template_delete(finished);
            return {-1, int32_t(rc)};
        }
        stored_.emplace_back(finished);
        return {int(stored_.size() - 1), 0};
    }

    // A verification of its own at each level: the walk ends at its first
    // accept and shifts scores link by link, so the level-28 score is not
    // taken to settle the decisions.
    Outcome compare(const Capture& probe, int stored) override {
        zr_template* multitemplate = stored_[size_t(stored)].get();
        Outcome o;
        for (size_t i = 0; i < kMaxLevels; ++i) {
            const Verification v = verify(probe, multitemplate, kPresetLevels[i]);
            o.accepted[i] = v.rc == ZR_OK && v.decision == 1;
            if (o.error == 0) o.error = int32_t(v.rc);
            if (kPresetLevels[i] == kTotalLevel) o.verify_ms = v.ms;
        }
        const Verification whole = verify(probe, multitemplate, kScoreFarLevel);
        if (whole.rc == ZR_OK) o.score = whole.far_score;
        if (o.error == 0) o.error = int32_t(whole.rc);
        return o;
    }

    void forget() override { stored_.clear(); }

private:
    struct Verification {
        zr_status rc = ZR_OK;
        uint32_t decision = 0;
        uint16_t far_score = 0;
        double ms = 0;
    };

    // Every enrolment capture in turn until the engine holds its maximum (19).
    zr_status run_captures(zr_multitemplate_enroll* engine, const Finger& finger) const {
        for (const Capture& capture : finger.enrol) {
            zr_image* image = make_image(capture);
            if (image == nullptr) return ZR_NO_MEMORY;
            const zr_status rc = zr_multitemplate_enroll_run(engine, image, nullptr, nullptr);
            zr_image_delete(image);
            if (rc == ZR_ENROLL_COMPLETE) return ZR_OK;
            if (rc != ZR_OK) return rc;
        }
        return ZR_OK;
    }

    zr_image* make_image(const Capture& capture) const {
        return zr_image_create(uint16_t(capture.rows), uint16_t(capture.cols), dpi_, dpi_, capture.pixels.data(), 0);
    }

    // A fresh image a verification, so that none sees what another left.
    Verification verify(const Capture& probe, zr_template* multitemplate, uint32_t level) {
        Verification v;
        zr_image* image = make_image(probe);
        if (image == nullptr) return {ZR_NO_MEMORY, 0, 0, 0};
        zr_template* const list[1] = {multitemplate};
        zr_match_result* result = nullptr;
        const auto start = clock_type::now();
        v.rc = zr_algorithm_verify_image_ex(algorithm_, list, 1, image, level, &result);
        v.ms = elapsed_ms(start);
        if (v.rc == ZR_OK && result != nullptr) {
            v.decision = zr_match_result_get_decision(result);
            v.far_score = zr_match_result_get_far_score(result);
        }
        zr_match_result_delete(result);
        zr_image_delete(image);
        return v;
    }

    zr_algorithm* algorithm_;
    uint16_t dpi_;
    std::vector<TemplatePtr> stored_;
};

// --- counting ---

struct Tally {
    std::string name;
    int fingers = 0;
    int enrol_failures = 0;
    int genuine = 0, impostor = 0, errors = 0;
    std::array<int, kMaxLevels> genuine_accepted{}, impostor_accepted{};
    int32_t lowest_genuine = -1, highest_impostor = -1;
    std::map<int32_t, int> enrol_codes, compare_codes;  // error code -> count
    std::vector<double> enrol_ms, verify_ms;

    void count_enrolment(const Enrolment& e, double ms) {
        enrol_ms.push_back(ms);
        if (e.stored >= 0) return;
        ++enrol_failures;
        ++enrol_codes[e.error];
    }

    // A genuine comparison that could not be made: its finger did not enrol.
    void count_missed_genuine() { ++genuine; }

    void count(const Outcome& o, bool is_genuine) {
        verify_ms.push_back(o.verify_ms);
        if (o.error != 0) {
            ++errors;
            ++compare_codes[o.error];
        }
        auto& accepted = is_genuine ? genuine_accepted : impostor_accepted;
        for (size_t i = 0; i < kMaxLevels; ++i) accepted[i] += o.accepted[i];
        ++(is_genuine ? genuine : impostor);
        if (o.score < 0) return;
        if (is_genuine && (lowest_genuine < 0 || o.score < lowest_genuine)) lowest_genuine = o.score;
        if (!is_genuine) highest_impostor = std::max(highest_impostor, o.score);
    }

    void add(const Tally& t) {
        fingers += t.fingers;
        enrol_failures += t.enrol_failures;
        genuine += t.genuine;
        impostor += t.impostor;
        errors += t.errors;
        for (size_t i = 0; i < kMaxLevels; ++i) {
            genuine_accepted[i] += t.genuine_accepted[i];
            impostor_accepted[i] += t.impostor_accepted[i];
        }
        if (t.lowest_genuine >= 0 && (lowest_genuine < 0 || t.lowest_genuine < lowest_genuine))
            lowest_genuine = t.lowest_genuine;
        highest_impostor = std::max(highest_impostor, t.highest_impostor);
        for (const auto& [code, n] : t.enrol_codes) enrol_codes[code] += n;
        for (const auto& [code, n] : t.compare_codes) compare_codes[code] += n;
        enrol_ms.insert(enrol_ms.end(), t.enrol_ms.begin(), t.enrol_ms.end());
        verify_ms.insert(verify_ms.end(), t.verify_ms.begin(), t.verify_ms.end());
    }
};

// --- the run ---

// Enrols every finger, then compares every probe with every enrolled finger.
Tally evaluate(const Database& db, Road& road) {
    Tally t;
    t.name = db.name;
    t.fingers = int(db.fingers.size());
    std::vector<int> stored;
    for (const Finger& f : db.fingers) {
        const auto start = clock_type::now();
        const Enrolment e = road.enrol(f);
        t.count_enrolment(e, elapsed_ms(start));
        stored.push_back(e.stored);
    }
    for (size_t p = 0; p < db.fingers.size(); ++p)
        for (const Capture& probe : db.fingers[p].probes)
            for (size_t s = 0; s < db.fingers.size(); ++s) {
                if (stored[s] >= 0)
                    t.count(road.compare(probe, stored[s]), s == p);
                else if (s == p)
                    t.count_missed_genuine();
            }
    road.forget();
    return t;
}

// --- the report ---

std::string score_text(int32_t score) {
    if (score < 0) return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", score / kScoreUnitsPerLog2);
    return text;
}

std::string codes_text(const std::map<int32_t, int>& codes) {
    std::string out;
    for (const auto& [code, n] : codes)
        out += (out.empty() ? "" : ", ") + std::string("code ") + std::to_string(code) + " x" + std::to_string(n);
    return out;
}

void print(const Tally& t, std::span<const uint32_t> levels) {
    std::printf("%s: %d fingers, %d enrolment failures\n", t.name.c_str(), t.fingers, t.enrol_failures);
    for (size_t i = 0; i < levels.size(); ++i)
        std::printf("  level %u: genuine accepted %d of %d, impostors accepted %d of %d\n", levels[i],
                    t.genuine_accepted[i], t.genuine, t.impostor_accepted[i], t.impostor);
    std::printf("  log2 score: lowest genuine %s, highest impostor %s\n", score_text(t.lowest_genuine).c_str(),
                score_text(t.highest_impostor).c_str());
    if (!t.enrol_codes.empty()) std::printf("  enrolment failed: %s\n", codes_text(t.enrol_codes).c_str());
    if (!t.compare_codes.empty())
        std::printf("  comparisons with an error: %d (%s)\n", t.errors, codes_text(t.compare_codes).c_str());
    std::printf("  median enrolment %.2f ms (%zu), median verification %.2f ms (%zu)\n", median(t.enrol_ms),
                t.enrol_ms.size(), median(t.verify_ms), t.verify_ms.size());
}

void print_total(const Tally& all, std::span<const uint32_t> levels) {
    const size_t at = size_t(std::find(levels.begin(), levels.end(), kTotalLevel) - levels.begin());
    std::printf("TOTAL fingers %d enrol-fail %d genuine %d/%d impostor %d/%d errors %d\n", all.fingers,
                all.enrol_failures, all.genuine_accepted[at], all.genuine, all.impostor_accepted[at], all.impostor,
                all.errors);
}

// --- the command line ---

struct Options {
    const fpeval::Preset* preset = nullptr;
    fs::path folder;
};

void list_presets() {
    std::fprintf(stderr, "presets (the gen_ prefix and _create suffix may be left out):\n");
    for (const fpeval::Preset& p : fpeval::presets()) std::fprintf(stderr, "  %s\n", p.name);
}

// The options, or an exit code (2) for a usage error.
bool parse(int argc, char** argv, Options* out, int* exit_code) {
    *exit_code = 2;
    if (argc == 4 && std::strcmp(argv[1], "--preset") == 0) {
        out->preset = fpeval::find_preset(argv[2]);
        if (out->preset == nullptr) {
            std::fprintf(stderr, "%s: no preset named %s\n", argv[0], argv[2]);
            list_presets();
            return false;
        }
        out->folder = argv[3];
    } else if (argc == 2 && argv[1][0] != '-') {
        out->folder = argv[1];
    } else {
        usage(argv[0]);
        return false;
    }
    if (!fs::is_directory(out->folder)) {
        std::fprintf(stderr, "%s: not a folder\n", out->folder.c_str());
        return false;
    }
    return true;
}

std::unique_ptr<Road> make_road(const Options& options) {
    if (options.preset == nullptr) return std::make_unique<ExportedRoad>();
    zr_algorithm* algorithm = options.preset->create(nullptr);
    if (algorithm == nullptr) return nullptr;
    return std::make_unique<PresetRoad>(algorithm);
}

void print_heading(const Options& options, const Road& road, fpeval::Geometry geometry) {
    if (options.preset == nullptr) return;
    const auto& preset_road = static_cast<const PresetRoad&>(road);
    std::printf("preset %s, captures %u x %u at %u dpi\n", options.preset->name, geometry.rows, geometry.cols,
                unsigned(preset_road.dpi()));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int exit_code = 0;
    if (!parse(argc, argv, &options, &exit_code)) return exit_code;
    const fpeval::Geometry required =
        options.preset == nullptr ? fpeval::Geometry{RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS} : fpeval::Geometry{};
    const fpeval::Folder folder = fpeval::load_folder(options.folder, required);
    if (!folder.error.empty()) {
        std::fprintf(stderr, "%s\n", folder.error.c_str());
        return 1;
    }
    if (folder.databases.empty()) {
        std::fprintf(stderr, "%s: no database in the <db>/<finger>/e1..e6 layout\n", options.folder.c_str());
        return 1;
    }
    const std::unique_ptr<Road> road = make_road(options);
    if (road == nullptr) {
        std::fprintf(stderr, "%s: the preset could not be built\n", options.preset->name);
        return 1;
    }
    print_heading(options, *road, folder.geometry);
    Tally all;
    all.name = "all";
    for (const Database& db : folder.databases) {
        const Tally t = evaluate(db, *road);
        print(t, road->levels());
        all.add(t);
    }
    if (folder.databases.size() > 1) print(all, road->levels());
    print_total(all, road->levels());
    return 0;
}
