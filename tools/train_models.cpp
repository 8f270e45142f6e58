// Trains the score models of the algorithm presets and writes them as tables;
// evaluates the compiled-in model sets; exports sensor windows as capture
// folders.
//
//   train_models train TRAIN_DIR ROOT [--fingers N] [--synthetic N] [--impostors N]
//                [--models id,id,...] [--threshold-pairs N] [--check-held-back]
//   train_models evaluate TRAIN_DIR SSB_DIR [--sets NAME,NAME,...] [--layouts N]
//   train_models calibrate TRAIN_DIR [--models id,...]
//   train_models decisions TRAIN_DIR [--sets NAME,...]
//   train_models export GEOMETRY TRAIN_DIR SSB_DIR OUT_DIR
//
// Model ids (--models: e100 ... l192, and h80 for calibrate) and set names
// (--sets: E100 ... L192) are taken in either case; without the option a
// mode takes them all. An unknown name, an empty list or an option the mode
// does not take is refused (exit status 2) before anything is read or written.
//
// train: windows of each model's sensor geometry are cut from the training
// impressions (fingers 101..107 of every database; 108..110 are held back)
// and from the full impressions of N generated fingers (synthetic_fingers.h;
// database "synthetic", fingers 1..N, made in memory from a fixed set seed,
// all training fingers; none unless --synthetic N asks for them), extracted
// with a preset that uses the model, and compared in genuine and impostor
// pairs (one of our generated fingers is never an impostor to a database
// finger) through the verifier's raw-path feature operation. Each feature is
// clamped to [0, its 99.9th percentile] and standardised (centre:
// impostor mean, scale: pooled deviation); a ridge logistic regression of
// genuine against impostor on the standardised terms (z and z^2, or z alone
// for linear models; z^2 only where the feature's term stays monotone over
// its clamped range) gives the weights, which are quantised to the entry's
// i16 fields with a common scale chosen so that the impostor tail lands
// inside the u16 score range. The thresholds are read off the integer scores
// (the library's own compute operation) of impostor pairs that take every
// pair of fingers (first-placement probes against every template of every
// other finger). Row 0 at FAR level L is the score exceeded by a share
// 1 / N_L of single comparisons; row r (2^r templates) the score exceeded by
// that share of impostor multi-templates: per probe and enrolled finger,
// subsets of 2^r of the finger's templates scored by the verification's
// combination of their two best raw scores, while the fingers have that many
// templates (beyond, the last such row at a share 2^r' times smaller, r' the
// rows beyond it). Each is taken from the sorted scores where at least
// kTailExceedances impostors lie above it and otherwise from an exponential
// fit of the upper impostor tail. Since the impostor tail varies from finger
// to finger and only a few fingers train, each threshold is the 90th
// percentile of that estimate over 200 bootstrap resamples of the training
// fingers (drawn with replacement from a fixed seed; a pair of two drawn
// fingers counts as often as the product of their draw counts), rows and
// columns then made non-decreasing. Output: ROOT/algorithm/match/verifiers/
// zr_vermodel_<id>.inc. The same inputs give the same tables byte for byte;
// the generated images use floating point, so with generated fingers that
// holds on one platform (compiler and machine).
//
// evaluate, calibrate and export use the databases' images only (never our
// generator's fingers).
//
// Our generator's fingers as training data, tried and left out of the shipped
// tables: with 30 of them (51 training fingers, 247,680 threshold pairs;
// about 54 CPU-minutes, the 144 x 396 model alone 17) the held-back
// single-comparison false accepts of the sixteen models together rose at
// levels 6 and 9 (12,745 to 15,349 and 1,220 to 1,472) and stayed level at 12
// (98 to 95, three models still above 12: e144 16, l160m 27, l192 19 instead
// of l160 16, l160m 25, l192 21); genuine accepts moved little. Their
// impostor tails are no heavier than those of the databases' training
// fingers, while the held-back fingers' are heavier than both, and more
// fingers of that kind narrow the bootstrap and lower the thresholds. The
// generated impressions are 440 x 300 (the finger an ellipse of about
// 420 x 260 on the background grey, large enough for the 396-row windows),
// each with its own shift, turn, distortion, pressure, contrast and noise,
// its own part of the finger in contact, and ridges broken up as on a dry
// finger by a dryness of the finger's own.
//
// evaluate: for each model set, a preset that uses it enrols six windows
// (impressions 1..6) of each held-back finger and each ssb-dev finger and
// verifies two probes (impressions 7, 8): genuine against its own
// enrolment, impostor against every other finger of its database. Accepts
// at FAR levels 6, 12 and 18 are read from the verification's FAR score.
//
// calibrate: single comparisons of the held-back windows through each
// shipped model, accepts at levels 6, 9 and 12 against the expected counts.
//
// decisions: the model sets' decisions in bulk on the held-back fingers, as
// deployed: six placements x four enrolments of six impressions per finger
// (each leaving a pair of impressions out); every window of every
// impression probes every enrolment of every other finger (41,472
// impostors) and the enrolments of its own finger that left it out.
//
// export: the held-back and the ssb-dev windows of one geometry as folders
// <db>/<finger>/e1..e6.pgm, p7.pgm, p8.pgm.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fp_sensor_windows.h"
#include "fp_test_data.h"
#include "match/zr_algorithm.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"
#include "match/fourier/zr_fourier.h"
#include "match/verifiers/zr_verifier.h"
#include "match/verifiers/zr_vermodels.h"
#include "match/verify/zr_multitemplate_verify.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_template.h"
#include "synthetic_fingers.h"
#include "train_models_args.h"

namespace {

namespace fs = std::filesystem;
using fp_test::SensorGeometry;
using preset_fn = zr_algorithm* (*)(zr_session*);
using clock_type = std::chrono::steady_clock;

// --- catalogue ---------------------------------------------------------------

// Sensor windows (rows x cols at dpi), as fp_sensor_windows.h lists them.
constexpr const SensorGeometry* kG100 = &fp_test::kSensorGeometries[0];
constexpr const SensorGeometry* kG115 = &fp_test::kSensorGeometries[1];
constexpr const SensorGeometry* kG130 = &fp_test::kSensorGeometries[2];
constexpr const SensorGeometry* kG144 = &fp_test::kSensorGeometries[3];
constexpr const SensorGeometry* kG160 = &fp_test::kSensorGeometries[4];
constexpr const SensorGeometry* kG192 = &fp_test::kSensorGeometries[5];
constexpr const SensorGeometry* kG56 = &fp_test::kSensorGeometries[6];
constexpr const SensorGeometry* kG80 = &fp_test::kSensorGeometries[7];
constexpr const SensorGeometry* kG64 = &fp_test::kSensorGeometries[8];

struct ModelSpec {
    const char* id;      // command-line name and file suffix
    const char* symbol;  // tables k<symbol>Coefficients, k<symbol>Thresholds
    const char* what;    // first comment line of the table file
    const SensorGeometry* geometry;
    preset_fn preset;  // extracts and compares as the presets using the model do
    const zr_verifier_descriptor* verifier;
    uint32_t features;
    bool linear;  // zr_ml_compute_score_linear: no quadratic terms
};

constexpr uint32_t kSpectralFeatures = ZR_SPECTRAL_FEATURE_SCORE_COUNT;

constexpr ModelSpec kModels[] = {
    {"e100", "E100Ehm", "EHM model of the 100 x 100 presets", kG100, gen_100x100_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"e115", "E115Ehm", "EHM model of the 115 x 115 presets", kG115, gen_115x115_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"e130", "E130Ehm", "EHM model of the 130 x 130 presets", kG130, gen_130x130_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"e144", "E144Ehm", "EHM model of the 144 x 396 swipe presets", kG144, gen_144x396_sw_hybrid_create,
     &ehm_verifier, ZR_EHM_FEATURES, false},
    {"e56", "E56Ehm", "EHM model of the 192 x 56 presets", kG56, gen_192x56_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"e64", "E64Ehm", "EHM model of the 80 x 64 preset", kG64, gen_80x64_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"e80", "E80Ehm", "EHM model of the 192 x 80 presets", kG80, gen_192x80_hybrid_create, &ehm_verifier,
     ZR_EHM_FEATURES, false},
    {"h100", "H100Ehmhr", "EHM-HR model of the 100 x 100 presets", kG100, gen_100x100_hybridhr_create,
     &ehmhr_verifier, ZR_EHM_FEATURES, false},
    {"h115", "H115Ehmhr", "EHM-HR model of the 115 x 115 presets", kG115, gen_115x115_hybridhr_create,
     &ehmhr_verifier, ZR_EHM_FEATURES, false},
    {"h130", "H130Ehmhr", "EHM-HR model of the 130 x 130 presets", kG130, gen_130x130_hybridhr_create,
     &ehmhr_verifier, ZR_EHM_FEATURES, false},
    {"h56", "H56Ehmhr", "EHM-HR model of the 192 x 56 presets", kG56, gen_192x56_hybridhr_create,
     &ehmhr_verifier, ZR_EHM_FEATURES, false},
    {"p115", "P115Spectral", "spectral model of the 115 x 115 pro presets", kG115,
     gen_115x115_pro_speed_mem_create, &spectral_verifier, kSpectralFeatures, false},
    {"p130", "P130Spectral", "spectral model of the 130 x 130 pro presets", kG130,
     gen_130x130_pro_speed_mem_create, &spectral_verifier, kSpectralFeatures, false},
    {"l160", "L160Ehm", "linear EHM model of the 160 x 160 presets", kG160, gen_160x160_hybrid_create,
     &ehm_verifier, ZR_EHM_FEATURES, true},
    {"l160m", "L160mEhm", "linear EHM model of the 160 x 160 speed_mem preset", kG160,
     gen_160x160_hybrid_speed_mem_create, &ehm_verifier, ZR_EHM_FEATURES, true},
    {"l192", "L192Ehm", "linear EHM model of the 192 x 192 presets", kG192, gen_192x192_hybrid_create,
     &ehm_verifier, ZR_EHM_FEATURES, true},
};

// One preset per model set, for the evaluation (H80: the exported preset).
struct SetSpec {
    const char* name;
    const char* preset_name;
    preset_fn preset;
    const SensorGeometry* geometry;
};
constexpr SetSpec kSets[] = {
    {"E100", "gen_100x100_hybrid_create", gen_100x100_hybrid_create, kG100},
    {"E115", "gen_115x115_hybrid_create", gen_115x115_hybrid_create, kG115},
    {"E130", "gen_130x130_hybrid_create", gen_130x130_hybrid_create, kG130},
    {"E144", "gen_144x396_sw_hybrid_create", gen_144x396_sw_hybrid_create, kG144},
    {"E56", "gen_192x56_hybrid_create", gen_192x56_hybrid_create, kG56},
    {"E64", "gen_80x64_hybrid_create", gen_80x64_hybrid_create, kG64},
    {"E80", "gen_192x80_hybrid_create", gen_192x80_hybrid_create, kG80},
    {"H100", "gen_100x100_hybridhr_create", gen_100x100_hybridhr_create, kG100},
    {"H115", "gen_115x115_hybridhr_create", gen_115x115_hybridhr_create, kG115},
    {"H130", "gen_130x130_hybridhr_create", gen_130x130_hybridhr_create, kG130},
    {"H56", "gen_192x56_hybridhr_create", gen_192x56_hybridhr_create, kG56},
    {"H80", "gen_192x80_hybridhr_create", gen_192x80_hybridhr_create, kG80},
    {"P115", "gen_115x115_pro_speed_mem_create", gen_115x115_pro_speed_mem_create, kG115},
    {"P130", "gen_130x130_pro_speed_mem_create", gen_130x130_pro_speed_mem_create, kG130},
    {"L160", "gen_160x160_hybrid_create", gen_160x160_hybrid_create, kG160},
    {"L160m", "gen_160x160_hybrid_speed_mem_create", gen_160x160_hybrid_speed_mem_create, kG160},
    {"L192", "gen_192x192_hybrid_create", gen_192x192_hybrid_create, kG192},
};

// Whether the table's names are the command line's catalogue
// (train_models_args.h), in the same order.
template <typename Spec, size_t N, size_t M>
constexpr bool same_names(const Spec (&specs)[N], const std::string_view (&names)[M], const char* Spec::*name) {
    if (N != M) return false;
    for (size_t i = 0; i < N; ++i)
        if (std::string_view(specs[i].*name) != names[i]) return false;
    return true;
}
static_assert(same_names(kModels, train_models::kModelIds, &ModelSpec::id), "kModels differs from kModelIds");
static_assert(same_names(kSets, train_models::kSetNames, &SetSpec::name), "kSets differs from kSetNames");

// --- tunables ------------------------------------------------------------------

constexpr int kFirstHeldBackFinger = 108;  // fingers 108..110 of each training database
// Generated full impressions added to the training fingers: fingers 1..N of
// the database kSyntheticDb, all below kFirstHeldBackFinger (never held back).
constexpr const char* kSyntheticDb = "synthetic";
constexpr uint64_t kSyntheticSetSeed = 20261211;
constexpr int kDefaultSyntheticFingers = 0;
constexpr int kMaxSyntheticFingers = kFirstHeldBackFinger - 1;
constexpr int kTrainLayouts = 3;           // windows per training impression
constexpr int kTrainJitterDivisor = 6;     // jitter up to 1/6 of the window each way
constexpr int kEnrolJitterDivisor = 6;
constexpr int kProbeJitterDivisor = 10;
constexpr int kEnrolCaptures = 6;
constexpr int kProbeImpressions[] = {7, 8};
constexpr size_t kImpostorPairs = 40000;
constexpr size_t kMaxGenuinePairs = 12000;
constexpr double kClampPercentile = 0.999;
constexpr double kRidge = 1e-4;  // on the term weights; the loss is a weighted mean
constexpr int kStepHalvings = 30;
constexpr int kNewtonIterations = 40;
constexpr double kNewtonTolerance = 1e-10;
constexpr int kWeightLimit = 32767;
constexpr double kScoreBase = 4096.0;   // the compute operation's offset
constexpr double kScoreSpan = 32768.0;  // 4096 x 8: the gain of a weight-average term of 1
constexpr double kTopScore = 48000.0;   // where the extrapolated impostor tail should end
constexpr double kTopExceedance = 1.0 / (64.0 * 1e9);
constexpr size_t kTailExceedances = 20;  // sorted scores hold below this many exceedances
constexpr size_t kTailShare = 50;        // tail fit on the top 1/50 of impostors (at least kTailExceedances)
constexpr uint16_t kHighestThreshold = 65534;
constexpr int kBootstrapReplicates = 200;    // finger resamples for the thresholds
constexpr double kBootstrapQuantile = 0.90;  // each threshold: this quantile of its replicate values
constexpr uint32_t kEnrolMaxCaptures = 6;
constexpr uint32_t kEnrolTemplateBytes = 20480;
constexpr uint32_t kScoreLevel = 28;  // verification without a decision: the whole FAR score
constexpr uint32_t kReportLevels[] = {6, 12, 18};
constexpr uint32_t kCalibrationLevels[] = {6, 9, 12};

// --- data ------------------------------------------------------------------------

struct Impression {
    std::string db;
    int finger = 0;
    int impression = 0;
    fp_test::GreyImage image;
    fp_test::Foreground foreground;
};

struct Dataset {
    std::vector<Impression> impressions;
    const Impression* find(const std::string& db, int finger, int impression) const {
        for (const Impression& i : impressions)
            if (i.db == db && i.finger == finger && i.impression == impression) return &i;
        return nullptr;
    }
};

bool load_impression(const fs::path& file, Impression* out) {
    out->image = fp_test::read_pgm(file);
    if (out->image.pixels.empty()) return false;
    out->foreground = fp_test::find_foreground(out->image);
    return true;
}

// Training images from TRAIN_DIR/manifest.tsv; at most `fingers` fingers a
// database (0: all).
Dataset load_training(const fs::path& dir, int fingers) {
    Dataset out;
    std::map<std::string, std::vector<int>> seen;
    for (auto row : fp_test::manifest_rows(dir / "manifest.tsv")) {
        row.resize(std::max<size_t>(row.size(), 4));
        const std::string &db = row[0], &finger = row[1], &impression = row[2], &file = row[3];
        Impression imp;
        imp.db = db;
        imp.finger = std::atoi(finger.c_str());
        imp.impression = std::atoi(impression.c_str());
        auto& list = seen[db];
        if (std::find(list.begin(), list.end(), imp.finger) == list.end()) list.push_back(imp.finger);
        if (fingers > 0 && int(list.size()) > fingers && imp.finger < kFirstHeldBackFinger) continue;
        if (!load_impression(dir / file, &imp)) {
            std::fprintf(stderr, "cannot read %s\n", (dir / file).c_str());
            continue;
        }
        out.impressions.push_back(std::move(imp));
    }
    return out;
}

// Adds `count` generated fingers (kFullImpressions full impressions each) to
// the training data as database kSyntheticDb, fingers 1..count, made in
// memory from kSyntheticSetSeed.
void add_synthetic(int count, Dataset* data) {
    for (int f = 0; f < count; ++f) {
        const uint64_t seed = synthetic::finger_seed(kSyntheticSetSeed, size_t(f));
        std::vector<std::vector<uint8_t>> images = synthetic::make_full_impressions(seed);
        for (size_t i = 0; i < images.size(); ++i) {
            Impression imp;
            imp.db = kSyntheticDb;
            imp.finger = f + 1;
            imp.impression = int(i) + 1;
            imp.image = {uint32_t(synthetic::kFullRows), uint32_t(synthetic::kFullCols), std::move(images[i])};
            imp.foreground = fp_test::find_foreground(imp.image);
            data->impressions.push_back(std::move(imp));
        }
    }
}

// The whole impressions of ssb-dev: SSB_DIR/<db>/full/<finger>_<impression>.pgm.
Dataset load_ssb(const fs::path& dir) {
    Dataset out;
    if (!fs::is_directory(dir)) return out;
    std::vector<fs::path> files;
    for (const auto& db : fs::directory_iterator(dir)) {
        if (!fs::is_directory(db.path() / "full")) continue;
        for (const auto& f : fs::directory_iterator(db.path() / "full")) files.push_back(f.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        Impression imp;
        imp.db = f.parent_path().parent_path().filename().string();
        const std::string stem = f.stem().string();
        const size_t cut = stem.find('_');
        if (cut == std::string::npos) continue;
        imp.finger = std::atoi(stem.substr(0, cut).c_str());
        imp.impression = std::atoi(stem.substr(cut + 1).c_str());
        if (load_impression(f, &imp)) out.impressions.push_back(std::move(imp));
    }
    return out;
}

std::string window_key(const Impression& imp, const SensorGeometry& g, const std::string& role, int layout) {
    return imp.db + "/" + std::to_string(imp.finger) + "/" + std::to_string(imp.impression) + "/" + g.name + "/" +
           role + "/" + std::to_string(layout);
}

// --- templates -------------------------------------------------------------------

zr_image* window_image(const std::vector<uint8_t>& window, const SensorGeometry& g) {
    return zr_image_create(g.rows, g.cols, g.dpi, g.dpi, window.data(), 0);
}

zr_template* extract(zr_algorithm* algorithm, const std::vector<uint8_t>& window, const SensorGeometry& g) {
    zr_image* image = window_image(window, g);
    zr_template* out = nullptr;
    if (image == nullptr || zr_algorithm_extract_template(algorithm, image, nullptr, &out) != ZR_OK) out = nullptr;
    zr_image_delete(image);
    return out;
}

struct TrainingTemplate {
    int finger_key;  // distinct per finger
    int impression;
    int layout;
    zr_template* tmpl;
    bool generated;  // of a generated finger
};

// An impostor pair worth learning from: two fingers, both of the databases
// or both of our generator. One of each is told apart by the
// images' make rather than by the finger, so such pairs would only thin the
// impostor tail.
bool impostor_pair(const TrainingTemplate& a, const TrainingTemplate& b) {
    return a.finger_key != b.finger_key && a.generated == b.generated;
}

// Templates of every training placement of the training fingers (or, with
// `held_back`, of the held-back fingers).
std::vector<TrainingTemplate> training_templates(zr_algorithm* algorithm, const Dataset& data,
                                                 const SensorGeometry& g, size_t* failures, bool held_back = false) {
    std::vector<TrainingTemplate> out;
    std::map<std::string, int> finger_keys;
    for (const Impression& imp : data.impressions) {
        if ((imp.finger >= kFirstHeldBackFinger) != held_back) continue;
        const std::string finger = imp.db + "/" + std::to_string(imp.finger);
        const int key = finger_keys.emplace(finger, int(finger_keys.size())).first->second;
        for (int layout = 0; layout < kTrainLayouts; ++layout) {
            const auto window = fp_test::jittered_window(imp.image, imp.foreground, g,
                                                         window_key(imp, g, "train", layout), kTrainJitterDivisor);
            zr_template* t = extract(algorithm, window, g);
            if (t == nullptr) {
                ++*failures;
                continue;
            }
            out.push_back({key, imp.impression, layout, t, imp.db == kSyntheticDb});
        }
    }
    return out;
}

// --- feature collection ------------------------------------------------------------

struct Sample {
    std::vector<uint16_t> x;
    bool genuine;
    int enrolled_finger = -1, probe_finger = -1;  // TrainingTemplate::finger_key of each side
    size_t probe = 0;                             // index of the probe's template
};

struct Pair {
    size_t enrolled, probe;
    bool genuine;
};

// Genuine pairs (different impressions of one finger, at most
// kMaxGenuinePairs, evenly thinned) and up to `impostor_pairs` impostor pairs
// (impostor_pair) drawn at random (at most half of those possible).
std::vector<Pair> fit_pairs(const std::vector<TrainingTemplate>& t, size_t impostor_pairs) {
    std::vector<Pair> genuine;
    size_t possible_impostors = 0;
    for (size_t i = 0; i < t.size(); ++i)
        for (size_t j = 0; j < t.size(); ++j) {
            if (impostor_pair(t[i], t[j]))
                ++possible_impostors;
            else if (t[i].finger_key == t[j].finger_key && t[i].impression != t[j].impression)
                genuine.push_back({i, j, true});
        }
    uint32_t state = fp_test::window_seed("pairs");
    std::vector<Pair> out;
    const size_t keep = std::min(genuine.size(), kMaxGenuinePairs);
    for (size_t k = 0; k < keep; ++k) out.push_back(genuine[k * genuine.size() / keep]);
    const size_t wanted = std::min(impostor_pairs, possible_impostors / 2);
    for (size_t drawn = 0; drawn < wanted;) {
        const size_t i = fp_test::xorshift32(&state) % t.size(), j = fp_test::xorshift32(&state) % t.size();
        if (!impostor_pair(t[i], t[j])) continue;
        out.push_back({i, j, false});
        ++drawn;
    }
    return out;
}

// Impostor pairs for the thresholds: every probe of the first placement
// against every template of every other finger (at most `limit`, evenly
// thinned), so that every pair of fingers contributes; database and generated
// fingers are not paired with each other (impostor_pair).
std::vector<Pair> threshold_pairs(const std::vector<TrainingTemplate>& t, size_t limit) {
    std::vector<Pair> all;
    for (size_t j = 0; j < t.size(); ++j) {
        if (t[j].layout != 0) continue;
        for (size_t i = 0; i < t.size(); ++i)
            if (impostor_pair(t[i], t[j])) all.push_back({i, j, false});
    }
    const size_t keep = std::min(all.size(), limit);
    std::vector<Pair> out;
    for (size_t k = 0; k < keep; ++k) out.push_back(all[k * all.size() / keep]);
    return out;
}

// Features of the pair through the verifier's raw-path operation, the
// enrolled template first, with an empty starting alignment as in the
// verification walk. False (and a count of failures) when it fails.
bool pair_features(zr_session* session, const zr_verifier_descriptor* verifier, uint32_t features,
                   zr_template* enrolled, zr_template* probe, std::vector<uint16_t>* out) {
    uint16_t* scores = nullptr;
    uint16_t count = 0;
    zr_alignment* alignment = nullptr;
    const zr_status status =
        verifier->extract_feature_scores_raw(session, enrolled, probe, &scores, &count, &alignment);
    zr_alignment_delete(alignment);
    const bool ok = status == ZR_OK && scores != nullptr && count == features;
    if (ok) out->assign(scores, scores + count);
    std::free(scores);
    return ok;
}

// --- fitting -----------------------------------------------------------------------

struct Standardiser {
    uint16_t lo = 0, hi = 1;
    double centre = 0.0;  // feature units
    double sigma = 0.0;   // 0: feature unused
};

double clamp_feature(uint16_t x, const Standardiser& s) { return double(std::clamp(x, s.lo, s.hi)); }

std::vector<Standardiser> standardise(const std::vector<Sample>& samples, uint32_t features) {
    std::vector<Standardiser> out(features);
    for (uint32_t f = 0; f < features; ++f) {
        std::vector<uint16_t> v;
        for (const Sample& s : samples) v.push_back(s.x[f]);
        std::sort(v.begin(), v.end());
        Standardiser& st = out[f];
        st.hi = std::max<uint16_t>(1, v.empty() ? 1 : v[size_t(double(v.size() - 1) * kClampPercentile)]);
        double sum = 0, impostor_sum = 0, impostors = 0;
        for (const Sample& s : samples) {
            const double x = clamp_feature(s.x[f], st);
            sum += x;
            if (!s.genuine) {
                impostor_sum += x;
                impostors += 1;
            }
        }
        const double mean = samples.empty() ? 0 : sum / double(samples.size());
        double squares = 0;
        for (const Sample& s : samples) squares += std::pow(clamp_feature(s.x[f], st) - mean, 2);
        st.sigma = samples.size() > 1 ? std::sqrt(squares / double(samples.size() - 1)) : 0.0;
        st.centre = impostors > 0 ? impostor_sum / impostors : mean;
    }
    return out;
}

// Terms of one sample: z per used feature and, for quadratic models, z^2
// (0 where `quadratic` leaves it out), in feature order.
void terms_of(const Sample& s, const std::vector<Standardiser>& st, bool linear, const std::vector<bool>& quadratic,
              std::vector<double>* out) {
    out->clear();
    for (size_t f = 0; f < st.size(); ++f) {
        const double z = st[f].sigma > 0 ? (clamp_feature(s.x[f], st[f]) - st[f].centre) / st[f].sigma : 0.0;
        out->push_back(z);
        if (!linear) out->push_back(quadratic[f] ? z * z : 0.0);
    }
}

// Features whose fitted term a z + q z^2 turns inside the clamped range: the
// vertex -a / 2q lies strictly between the standardised bounds.
std::vector<size_t> non_monotone(const std::vector<double>& beta, const std::vector<Standardiser>& st) {
    std::vector<size_t> out;
    for (size_t f = 0; f < st.size(); ++f) {
        const double a = beta[2 * f], q = beta[2 * f + 1];
        if (q == 0.0 || st[f].sigma <= 0) continue;
        const double vertex = -a / (2 * q);
        const double z_lo = (double(st[f].lo) - st[f].centre) / st[f].sigma;
        const double z_hi = (double(st[f].hi) - st[f].centre) / st[f].sigma;
        if (vertex > z_lo && vertex < z_hi) out.push_back(f);
    }
    return out;
}

// Solves A x = b (A symmetric positive definite, n x n row-major) by Cholesky;
// false when A is not positive definite.
bool solve_spd(std::vector<double> a, std::vector<double> b, size_t n, std::vector<double>* x) {
    for (size_t j = 0; j < n; ++j) {
        double d = a[j * n + j];
        for (size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
        if (d <= 0) return false;
        a[j * n + j] = std::sqrt(d);
        for (size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (size_t k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / a[j * n + j];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        for (size_t k = 0; k < i; ++k) b[i] -= a[i * n + k] * b[k];
        b[i] /= a[i * n + i];
    }
    for (size_t i = n; i-- > 0;) {
        for (size_t k = i + 1; k < n; ++k) b[i] -= a[k * n + i] * b[k];
        b[i] /= a[i * n + i];
    }
    *x = std::move(b);
    return true;
}

// Ridge logistic regression (Newton) with per-sample weights, genuine and
// impostor weighted to equal totals. Returns the term weights and, last, the
// intercept.
std::vector<double> fit_logistic(const std::vector<std::vector<double>>& terms, const std::vector<bool>& genuine,
                                 const std::vector<double>& weight) {
    const size_t n = terms.empty() ? 0 : terms[0].size() + 1;  // intercept last
    std::vector<double> beta(n, 0.0);
    double genuines = 0, impostors = 0;
    size_t genuine_count = 0;
    for (size_t s = 0; s < genuine.size(); ++s) {
        (genuine[s] ? genuines : impostors) += weight[s];
        genuine_count += genuine[s];
    }
    if (genuines <= 0 || impostors <= 0) return beta;  // nothing to separate: all weights 0
    const double wg = 0.5 / genuines, wi = 0.5 / impostors;
    const double ridge = kRidge;
    (void)genuine_count;
    // Weighted negative log-likelihood plus the ridge on the term weights.
    auto loss = [&](const std::vector<double>& b) {
        double total = 0;
        for (size_t s = 0; s < terms.size(); ++s) {
            double f = b[n - 1];
            for (size_t k = 0; k + 1 < n; ++k) f += b[k] * terms[s][k];
            const double margin = genuine[s] ? f : -f;  // log(1 + e^-margin), computed stably
            total += (genuine[s] ? wg : wi) * weight[s] *
                     (margin > 0 ? std::log1p(std::exp(-margin)) : -margin + std::log1p(std::exp(margin)));
        }
        for (size_t k = 0; k + 1 < n; ++k) total += 0.5 * ridge * b[k] * b[k];
        return total;
    };
    double current = loss(beta);
    for (int it = 0; it < kNewtonIterations; ++it) {
        std::vector<double> hessian(n * n, 0.0), gradient(n, 0.0), row(n);
        for (size_t s = 0; s < terms.size(); ++s) {
            std::copy(terms[s].begin(), terms[s].end(), row.begin());
            row[n - 1] = 1.0;
            double f = 0;
            for (size_t k = 0; k < n; ++k) f += beta[k] * row[k];
            const double p = f >= 0 ? 1.0 / (1.0 + std::exp(-f)) : std::exp(f) / (1.0 + std::exp(f));
            const double w = (genuine[s] ? wg : wi) * weight[s];
            const double residual = (genuine[s] ? 1.0 : 0.0) - p;
            const double curvature = w * p * (1 - p);
            for (size_t i = 0; i < n; ++i) {
                gradient[i] += w * residual * row[i];
                for (size_t j = 0; j <= i; ++j) hessian[i * n + j] += curvature * row[i] * row[j];
            }
        }
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < i; ++j) hessian[j * n + i] = hessian[i * n + j];
        for (size_t i = 0; i + 1 < n; ++i) {
            hessian[i * n + i] += ridge;
            gradient[i] -= ridge * beta[i];
        }
        std::vector<double> step;
        if (!solve_spd(hessian, gradient, n, &step)) break;
        // Damped step: halved until the loss does not rise.
        std::vector<double> trial(n);
        double scale = 1.0, next = current;
        for (int halving = 0; halving < kStepHalvings; ++halving, scale /= 2) {
            for (size_t i = 0; i < n; ++i) trial[i] = beta[i] + scale * step[i];
            next = loss(trial);
            if (next <= current) break;
        }
        if (next > current) break;
        double largest = 0;
        for (size_t i = 0; i < n; ++i) largest = std::max(largest, std::fabs(trial[i] - beta[i]));
        beta = trial;
        current = next;
        if (largest < kNewtonTolerance) break;
    }
    return beta;
}

// Value exceeded by a share `exceedance` of the sorted (ascending) values:
// read from the sorted values where at least kTailExceedances lie above it,
// else extrapolated from an exponential fit of the top tail.
double upper_quantile(const std::vector<double>& sorted, double exceedance) {
    const size_t m = sorted.size();
    if (m == 0) return 0.0;
    const size_t tail = std::min(m - 1, std::max(kTailExceedances, m / kTailShare));
    const double above = exceedance * double(m);
    if (above >= double(tail) || tail == 0) {
        const size_t k = std::min(m - 1, size_t(above));
        return sorted[m - 1 - k];
    }
    const double u0 = sorted[m - 1 - tail];
    double excess = 0;
    for (size_t i = m - tail; i < m; ++i) excess += sorted[i] - u0;
    excess = std::max(excess / double(tail), 1.0);
    return u0 + excess * std::log(double(tail) / above);
}

struct Entry {
    uint16_t lo, hi;
    uint32_t centre, scale;
    int16_t w1, w2;
};

constexpr double kFixedOne = 65536.0;
constexpr double kMaxU32 = 4294967295.0;

// The coefficient entries for term weights fitted on standardised terms: per
// feature a stretch alpha (capped so the scale fits 32 bits) divides z, the
// weights take alpha and alpha^2, and one common factor brings the largest
// to kWeightLimit. alpha is chosen so that the score of the extrapolated
// impostor tail (terms' sum at kTopExceedance) is about kTopScore.
std::vector<Entry> quantise(const std::vector<double>& beta, const std::vector<Standardiser>& st, bool linear,
                            double tail_sum) {
    const size_t per = linear ? 1 : 2;
    auto alpha_of = [&](size_t f, double alpha) {
        const double cap = kMaxU32 / std::max(st[f].sigma * kFixedOne, 1.0);
        const double floor_alpha = 1.0 / std::max(st[f].sigma * kFixedOne, 1.0);
        return std::clamp(alpha, floor_alpha, cap);
    };
    auto weight_sum = [&](double alpha) {
        double w = 0;
        for (size_t f = 0; f < st.size(); ++f) {
            const double a = alpha_of(f, alpha);
            w += std::fabs(beta[f * per]) * a;
            if (!linear) w += std::fabs(beta[f * per + 1]) * a * a;
        }
        return w;
    };
    const double wanted_gain = tail_sum > 0 ? (kTopScore - kScoreBase) / tail_sum : 1000.0;
    double lo = -40, hi = 40;  // log2 alpha
    for (int it = 0; it < 200; ++it) {
        const double mid = (lo + hi) / 2;
        const double w = weight_sum(std::exp2(mid));
        const double gain = w > 0 ? kScoreSpan / w : 0;
        (gain > wanted_gain ? lo : hi) = mid;
    }
    const double alpha = std::exp2((lo + hi) / 2);
    double largest = 0;
    for (size_t f = 0; f < st.size(); ++f) {
        const double a = alpha_of(f, alpha);
        largest = std::max(largest, std::fabs(beta[f * per]) * a);
        if (!linear) largest = std::max(largest, std::fabs(beta[f * per + 1]) * a * a);
    }
    const double k = largest > 0 ? kWeightLimit / largest : 0;
    std::vector<Entry> out;
    for (size_t f = 0; f < st.size(); ++f) {
        const double a = alpha_of(f, alpha);
        Entry e{st[f].lo, st[f].hi, uint32_t(std::llround(st[f].centre * kFixedOne)),
                uint32_t(std::clamp(std::llround(a * st[f].sigma * kFixedOne), 1LL, (long long)kMaxU32)), 0, 0};
        if (st[f].sigma > 0) {
            e.w1 = int16_t(std::clamp(std::llround(beta[f * per] * a * k), -32767LL, 32767LL));
            if (!linear) e.w2 = int16_t(std::clamp(std::llround(beta[f * per + 1] * a * a * k), -32767LL, 32767LL));
        }
        out.push_back(e);
    }
    return out;
}

std::vector<uint8_t> entry_bytes(const std::vector<Entry>& entries) {
    std::vector<uint8_t> out;
    auto put = [&out](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    for (const Entry& e : entries) {
        put(e.lo, 2);
        put(e.hi, 2);
        put(e.centre, 4);
        put(e.scale, 4);
        put(uint16_t(e.w1), 2);
        put(uint16_t(e.w2), 2);
    }
    return out;
}

// FAR denominators of levels 0..27 (1, 2, 5, 10, ...).
std::vector<double> far_denominators() {
    std::vector<double> out;
    for (int decade = 0; out.size() < ZR_FAR_LEVELS; ++decade)
        for (int m : {1, 2, 5})
            if (out.size() < ZR_FAR_LEVELS) out.push_back(m * std::pow(10.0, decade));
    return out;
}

using Thresholds = std::vector<std::vector<uint16_t>>;
using ThresholdCells = std::vector<std::vector<double>>;  // [row][level], before rounding

// Rows of 2^r templates by FAR level from sorted (ascending) impostor scores,
// unrounded; level 0 is 0.
ThresholdCells threshold_cells(const std::vector<double>& sorted_impostors) {
    const std::vector<double> n = far_denominators();
    ThresholdCells t(ZR_THRESHOLD_ROWS, std::vector<double>(ZR_FAR_LEVELS, 0.0));
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
        for (uint32_t level = 1; level < ZR_FAR_LEVELS; ++level)
            t[r][level] = upper_quantile(sorted_impostors, 1.0 / (double(1u << r) * n[level]));
    return t;
}

// The cells rounded up into [0, kHighestThreshold]; rows and columns made
// non-decreasing; the last cell at least 1.
Thresholds rounded_rows(const ThresholdCells& cells) {
    Thresholds t(ZR_THRESHOLD_ROWS, std::vector<uint16_t>(ZR_FAR_LEVELS, 0));
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
        for (uint32_t level = 1; level < ZR_FAR_LEVELS; ++level)
            t[r][level] = uint16_t(std::clamp(std::ceil(cells[r][level]), 0.0, double(kHighestThreshold)));
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
        for (uint32_t level = 1; level < ZR_FAR_LEVELS; ++level) {
            t[r][level] = std::max(t[r][level], t[r][level - 1]);
            if (r > 0) t[r][level] = std::max(t[r][level], t[r - 1][level]);
        }
    if (t[ZR_THRESHOLD_ROWS - 1][ZR_FAR_LEVELS - 1] == 0) t[ZR_THRESHOLD_ROWS - 1][ZR_FAR_LEVELS - 1] = 1;
    return t;
}

struct FingerPairScore {
    double score;
    int enrolled_finger, probe_finger;
};

// Impostor scores of one kind of comparison: single templates (row 0) or
// multi-templates of 2^r templates (their combined score), sorted by score.
using ScoreDistribution = std::vector<FingerPairScore>;

// Where a threshold row is read: a distribution, at the exceedance
// 1 / (extra N_L) for FAR level L.
struct RowSource {
    size_t distribution;
    double extra;
};

// Rows of unrounded cells from the sorted scores of each distribution.
ThresholdCells row_cells(const std::vector<std::vector<double>>& sorted, const std::vector<RowSource>& rows) {
    const std::vector<double> n = far_denominators();
    ThresholdCells t(ZR_THRESHOLD_ROWS, std::vector<double>(ZR_FAR_LEVELS, 0.0));
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
        for (uint32_t level = 1; level < ZR_FAR_LEVELS; ++level)
            t[r][level] = upper_quantile(sorted[rows[r].distribution], 1.0 / (rows[r].extra * n[level]));
    return t;
}

// Thresholds that allow for finger-to-finger variation of the impostor tail:
// a bootstrap over the training fingers. Each of kBootstrapReplicates
// replicates draws as many fingers as there are, with replacement
// (xorshift32 from a fixed seed), and keeps every impostor score of two
// distinct drawn fingers as often as the product of their draw counts; each
// cell is then the kBootstrapQuantile quantile of its replicate values (the
// value at rank ceil(q B) of the B sorted ones).
ThresholdCells bootstrap_cells(const std::vector<ScoreDistribution>& distributions,
                               const std::vector<RowSource>& rows, int fingers) {
    std::vector<ThresholdCells> replicates;
    uint32_t state = fp_test::window_seed("finger bootstrap");
    std::vector<int> draws(size_t(std::max(fingers, 0)));
    std::vector<std::vector<double>> resampled(distributions.size());
    for (int b = 0; b < kBootstrapReplicates; ++b) {
        std::fill(draws.begin(), draws.end(), 0);
        for (int k = 0; k < fingers; ++k) ++draws[fp_test::xorshift32(&state) % uint32_t(fingers)];
        for (size_t d = 0; d < distributions.size(); ++d) {
            resampled[d].clear();
            for (const FingerPairScore& p : distributions[d]) {
                const int copies = draws[size_t(p.enrolled_finger)] * draws[size_t(p.probe_finger)];
                resampled[d].insert(resampled[d].end(), size_t(copies), p.score);
            }
        }
        replicates.push_back(row_cells(resampled, rows));
    }
    const size_t rank = size_t(std::ceil(kBootstrapQuantile * double(kBootstrapReplicates))) - 1;
    ThresholdCells out(ZR_THRESHOLD_ROWS, std::vector<double>(ZR_FAR_LEVELS, 0.0));
    std::vector<double> cell(replicates.size());
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
        for (uint32_t level = 1; level < ZR_FAR_LEVELS; ++level) {
            for (size_t b = 0; b < replicates.size(); ++b) cell[b] = replicates[b][r][level];
            std::sort(cell.begin(), cell.end());
            out[r][level] = cell[rank];
        }
    return out;
}

// The impostor scores of one probe against the templates of one other finger.
struct ImpostorGroup {
    int enrolled_finger, probe_finger;
    std::vector<uint16_t> scores;
};

// Groups of the threshold pairs' impostor scores by probe template and
// enrolled finger, in the order the pairs first meet them.
std::vector<ImpostorGroup> impostor_groups(const std::vector<Sample>& samples, const std::vector<uint16_t>& scores) {
    std::vector<ImpostorGroup> out;
    std::map<std::pair<size_t, int>, size_t> index;
    for (size_t k = 0; k < samples.size(); ++k) {
        const Sample& s = samples[k];
        if (s.genuine) continue;
        const auto [at, fresh] = index.emplace(std::make_pair(s.probe, s.enrolled_finger), out.size());
        if (fresh) out.push_back({s.enrolled_finger, s.probe_finger, {}});
        out[at->second].scores.push_back(scores[k]);
    }
    return out;
}

// Combined scores of multi-templates of `count` templates: per group, as
// many subsets of `count` of its templates as it has templates, drawn
// without replacement (xorshift32 from `state`), each scored by the
// verification's combination of its two best raw scores. Groups with fewer
// templates take no part. Sorted by score.
ScoreDistribution combined_scores(const std::vector<ImpostorGroup>& groups, uint32_t count, uint32_t* state) {
    ScoreDistribution out;
    std::vector<uint16_t> pool;
    for (const ImpostorGroup& g : groups) {
        if (g.scores.size() < count) continue;
        for (size_t draw = 0; draw < g.scores.size(); ++draw) {
            pool = g.scores;
            // The first `count` places of a partial shuffle are the subset.
            for (uint32_t i = 0; i < count; ++i)
                std::swap(pool[i], pool[i + fp_test::xorshift32(state) % uint32_t(pool.size() - i)]);
            std::partial_sort(pool.begin(), pool.begin() + std::min<uint32_t>(2, count), pool.begin() + count,
                              std::greater<>());
            const uint16_t second = count > 1 ? pool[1] : 0;
            out.push_back({double(zr_raw_combined_score(count, pool[0], second)), g.enrolled_finger,
                           g.probe_finger});
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const FingerPairScore& a, const FingerPairScore& b) { return a.score < b.score; });
    return out;
}

// The impostor scores behind each threshold row. Row 0 reads the single
// comparisons; row r the combined scores of multi-templates of 2^r
// templates of one enrolled finger against one probe, as the verification
// combines them, while every group holds that many templates; the rows
// beyond read the last such distribution at an exceedance 2^(r - last)
// times smaller.
struct RowDistributions {
    std::vector<ScoreDistribution> distributions;
    std::vector<RowSource> rows;
};

RowDistributions row_distributions(ScoreDistribution singles, const std::vector<ImpostorGroup>& groups) {
    RowDistributions out;
    out.distributions.push_back(std::move(singles));
    size_t smallest = groups.empty() ? 1 : SIZE_MAX;
    for (const ImpostorGroup& g : groups) smallest = std::min(smallest, g.scores.size());
    uint32_t state = fp_test::window_seed("multi-template subsets");
    size_t last = 0;
    for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r) {
        const uint32_t count = 1u << r;
        if (r > 0 && count <= smallest) {
            out.distributions.push_back(combined_scores(groups, count, &state));
            last = r;
        }
        out.rows.push_back({out.distributions.size() - 1, double(1u << (r - last))});
    }
    return out;
}

// Area under the ROC curve (ties count half).
double auc(const std::vector<double>& genuine, const std::vector<double>& impostor) {
    std::vector<std::pair<double, int>> all;
    for (double g : genuine) all.push_back({g, 1});
    for (double i : impostor) all.push_back({i, 0});
    std::sort(all.begin(), all.end());
    double rank_sum = 0;
    for (size_t i = 0; i < all.size();) {
        size_t j = i;
        while (j < all.size() && all[j].first == all[i].first) ++j;
        const double mid = (double(i) + double(j - 1)) / 2 + 1;
        for (size_t k = i; k < j; ++k)
            if (all[k].second) rank_sum += mid;
        i = j;
    }
    const double g = double(genuine.size()), m = double(impostor.size());
    return g > 0 && m > 0 ? (rank_sum - g * (g + 1) / 2) / (g * m) : 0.0;
}

// --- writing -----------------------------------------------------------------------

std::string hex_byte(uint8_t b) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X", b);
    return s;
}

std::string table_text(const ModelSpec& m, const std::vector<Entry>& entries, const Thresholds& t,
                       const std::string& provenance) {
    const std::vector<uint8_t> bytes = entry_bytes(entries);
    std::ostringstream o;
    o << "// Trained by tools/train_models.cpp; do not edit (README.md, \"Score models\").\n";
    o << "// " << m.what << ": " << m.features << " coefficient entries of 16\n";
    o << "// little-endian bytes (u16 lower bound, u16 upper bound, u32 centre in\n";
    o << "// 1/65536, u32 scale, i16 linear weight, i16 quadratic weight) and the\n";
    o << "// threshold rows for 1, 2, 4, 8, 16, 32 and 64 templates by FAR level.\n";
    o << "// " << provenance << "\n\n";
    o << "constexpr uint8_t k" << m.symbol << "Coefficients[" << bytes.size() << "] = {\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        o << "   ";
        for (size_t b = 0; b < ZR_COEFFICIENT_ENTRY_SIZE; ++b) o << " " << hex_byte(bytes[i * 16 + b]) << ",";
        const Entry& e = entries[i];
        o << "  // " << i << ": (" << e.lo << ", " << e.hi << ", " << e.centre << ", " << e.scale << ", " << e.w1
          << ", " << e.w2 << ")\n";
    }
    o << "};\n\n";
    o << "constexpr uint16_t k" << m.symbol << "Thresholds[7][28] = {\n";
    for (const auto& row : t) {
        o << "    {";
        for (size_t l = 0; l < row.size(); ++l) o << (l ? ", " : "") << row[l];
        o << "},\n";
    }
    o << "};\n";
    return o.str();
}

// --- training ------------------------------------------------------------------------

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

struct ScoredSet {
    std::vector<double> genuine, impostor;
};

bool train_model(const ModelSpec& m, const Dataset& data, const fs::path& root, size_t impostor_pairs,
                 size_t threshold_limit, bool check_held_back) {
    const auto start = clock_type::now();
    zr_algorithm* algorithm = m.preset(nullptr);
    if (algorithm == nullptr) return false;
    zr_session* session = zr_algorithm_get_session(algorithm);
    size_t extraction_failures = 0;
    std::vector<TrainingTemplate> templates = training_templates(algorithm, data, *m.geometry, &extraction_failures);
    size_t comparison_failures = 0;
    auto collect = [&](const std::vector<Pair>& pairs) {
        std::vector<Sample> out;
        for (const Pair& p : pairs) {
            Sample s{{}, p.genuine, templates[p.enrolled].finger_key, templates[p.probe].finger_key, p.probe};
            if (pair_features(session, m.verifier, m.features, templates[p.enrolled].tmpl, templates[p.probe].tmpl,
                              &s.x))
                out.push_back(std::move(s));
            else
                ++comparison_failures;
        }
        return out;
    };
    const std::vector<Sample> samples = collect(fit_pairs(templates, impostor_pairs));
    const std::vector<Sample> threshold_samples = collect(threshold_pairs(templates, threshold_limit));
    const double collect_seconds = seconds_since(start);

    // Pairs the verifier scores 0 whatever the model says take no part in the fit.
    auto scored_by_model = [&m](const Sample& s) {
        if (m.verifier == &spectral_verifier) return s.x[0] != 0;
        return s.x[0] != 0 || s.x[9] != 0;
    };
    const std::vector<Standardiser> st = standardise(samples, m.features);
    // Quadratic terms stay only where they keep the feature's term monotone
    // over its clamped range: a term that turns would reward impostors far
    // out on the side the fit saw little of. Refit until none turns.
    std::vector<bool> quadratic(m.features, !m.linear);
    std::vector<double> beta, row;
    for (;;) {
        std::vector<std::vector<double>> terms;
        std::vector<bool> labels;
        for (const Sample& s : samples) {
            if (!scored_by_model(s)) continue;
            terms_of(s, st, m.linear, quadratic, &row);
            terms.push_back(row);
            labels.push_back(s.genuine);
        }
        beta = fit_logistic(terms, labels, std::vector<double>(labels.size(), 1.0));
        if (!beta.empty()) beta.pop_back();  // the intercept: the score's offset is fixed
        beta.resize(size_t(m.features) * (m.linear ? 1 : 2), 0.0);  // all 0 when there was nothing to fit
        if (m.linear) break;
        const std::vector<size_t> turning = non_monotone(beta, st);
        if (turning.empty()) break;
        for (size_t f : turning) quadratic[f] = false;
    }

    auto fitted_scores = [&](const std::vector<Sample>& set) {
        ScoredSet out;
        for (const Sample& s : set) {
            double sum = -1e9;  // below every fitted value: scored 0 by the verifier
            if (scored_by_model(s)) {
                terms_of(s, st, m.linear, quadratic, &row);
                sum = 0;
                for (size_t k = 0; k < row.size(); ++k) sum += beta[k] * row[k];
            }
            (s.genuine ? out.genuine : out.impostor).push_back(sum);
        }
        return out;
    };
    ScoredSet fitted = fitted_scores(threshold_samples);
    fitted.genuine = fitted_scores(samples).genuine;
    std::vector<double> sorted_fitted = fitted_scores(samples).impostor;
    std::sort(sorted_fitted.begin(), sorted_fitted.end());
    const std::vector<Entry> entries = quantise(beta, st, m.linear, upper_quantile(sorted_fitted, kTopExceedance));
    const std::vector<uint8_t> bytes = entry_bytes(entries);

    // The integer scores of the library's compute operation.
    const zr_vermodel model{m.verifier, 0, bytes.data(), bytes.size(), m.features,
                            m.linear ? zr_ml_compute_score_linear : zr_ml_compute_score_linear_squares, nullptr};
    auto integer_score = [&](const Sample& s) {
        uint16_t score = 0;
        if (m.verifier->verify_feature_scores(session, nullptr, nullptr, s.x.data(), uint16_t(s.x.size()), &model,
                                              &score) != ZR_OK)
            score = 0;
        return score;
    };
    ScoredSet integer;
    for (const Sample& s : samples)
        if (s.genuine) integer.genuine.push_back(integer_score(s));
    std::vector<uint16_t> threshold_scores;
    ScoreDistribution impostor_fingers;
    for (const Sample& s : threshold_samples) {
        threshold_scores.push_back(integer_score(s));
        (s.genuine ? integer.genuine : integer.impostor).push_back(threshold_scores.back());
        if (!s.genuine) impostor_fingers.push_back({double(threshold_scores.back()), s.enrolled_finger, s.probe_finger});
    }
    std::vector<double> sorted_impostors = integer.impostor;
    std::sort(sorted_impostors.begin(), sorted_impostors.end());
    std::stable_sort(impostor_fingers.begin(), impostor_fingers.end(),
                     [](const FingerPairScore& a, const FingerPairScore& b) { return a.score < b.score; });
    int fingers = 0;
    for (const TrainingTemplate& t : templates) fingers = std::max(fingers, t.finger_key + 1);
    const Thresholds pooled = rounded_rows(threshold_cells(sorted_impostors));
    const RowDistributions rows =
        row_distributions(std::move(impostor_fingers), impostor_groups(threshold_samples, threshold_scores));
    const Thresholds thresholds = rounded_rows(bootstrap_cells(rows.distributions, rows.rows, fingers));

    size_t genuine_above = 0;
    for (double g : integer.genuine) genuine_above += g > thresholds[0][12];
    size_t impostors_above[3] = {0, 0, 0};
    for (double i : integer.impostor)
        for (int l = 0; l < 3; ++l) impostors_above[l] += i > thresholds[0][kCalibrationLevels[l]];
    size_t fit_genuine = 0;
    for (const Sample& s : samples) fit_genuine += s.genuine;
    int synthetic_fingers = 0;
    for (const Impression& imp : data.impressions)
        synthetic_fingers = std::max(synthetic_fingers, imp.db == kSyntheticDb ? imp.finger : 0);
    const std::string generated =
        synthetic_fingers > 0 ? " of " + std::to_string(fingers) + " fingers (" + std::to_string(synthetic_fingers) +
                                    " generated)"
                              : "";
    const std::string provenance = "Windows " + std::string(m.geometry->name) + ", " +
                                   std::to_string(templates.size()) + " templates" + generated + "; fit on " +
                                   std::to_string(fit_genuine) + " genuine and " +
                                   std::to_string(samples.size() - fit_genuine) +
                                   " impostor pairs,\n// thresholds from " +
                                   std::to_string(integer.impostor.size()) + " impostor pairs.";
    if (check_held_back) {
        // The same counts on the held-back fingers (single comparisons, both orders).
        size_t failures = 0, impostors = 0, held_above[3] = {0, 0, 0};
        std::vector<TrainingTemplate> held = training_templates(algorithm, data, *m.geometry, &failures, true);
        std::vector<uint16_t> x;
        for (size_t i = 0; i < held.size(); ++i)
            for (size_t j = 0; j < held.size(); ++j) {
                if (held[i].finger_key == held[j].finger_key ||
                    !pair_features(session, m.verifier, m.features, held[i].tmpl, held[j].tmpl, &x))
                    continue;
                uint16_t score = 0;
                if (m.verifier->verify_feature_scores(session, nullptr, nullptr, x.data(), uint16_t(x.size()), &model,
                                                      &score) != ZR_OK)
                    score = 0;
                ++impostors;
                for (int l = 0; l < 3; ++l) held_above[l] += score > thresholds[0][kCalibrationLevels[l]];
            }
        std::printf("%-6s held back: impostors above levels 6, 9, 12: %zu %zu %zu of %zu\n", m.id, held_above[0],
                    held_above[1], held_above[2], impostors);
        for (TrainingTemplate& t : held) zr_template_delete(t.tmpl);
    }
    const fs::path out = root / "algorithm" / "match" / "verifiers" / ("zr_vermodel_" + std::string(m.id) + ".inc");
    fs::create_directories(out.parent_path());
    std::ofstream(out, std::ios::binary) << table_text(m, entries, thresholds, provenance);

    std::printf("%-6s %s: %zu templates (%zu extraction failures); fit on %zu pairs, thresholds from %zu impostor "
                "pairs (%zu comparison failures); AUC fitted %.4f, integer %.4f; "
                "level-6 and level-12 thresholds %u %u (pooled %u %u); "
                "genuine above the level-12 threshold %zu of %zu, impostors above levels 6, 9, 12: %zu %zu %zu; "
                "%.1f s (features %.1f s)\n",
                m.id, m.geometry->name, templates.size(), extraction_failures, samples.size(),
                integer.impostor.size(), comparison_failures, auc(fitted.genuine, fitted.impostor),
                auc(integer.genuine, integer.impostor), unsigned(thresholds[0][6]), unsigned(thresholds[0][12]),
                unsigned(pooled[0][6]), unsigned(pooled[0][12]), genuine_above, integer.genuine.size(), impostors_above[0],
                impostors_above[1], impostors_above[2],
                seconds_since(start), collect_seconds);
    std::fflush(stdout);
    for (TrainingTemplate& t : templates) zr_template_delete(t.tmpl);
    zr_algorithm_delete(algorithm);
    return true;
}

// --- evaluation ----------------------------------------------------------------------

struct EvalFinger {
    std::string db;
    int finger;
    std::string name;
    std::vector<std::vector<uint8_t>> enrol;
    std::vector<std::vector<uint8_t>> probes;
};

// Fingers (layout-wise) with all eight impressions; held-back training fingers
// only when `held_back` (ssb-dev: every finger).
std::vector<EvalFinger> eval_fingers(const Dataset& data, const SensorGeometry& g, bool held_back, int layouts) {
    std::map<std::pair<std::string, int>, bool> fingers;
    for (const Impression& imp : data.impressions)
        if (!held_back || imp.finger >= kFirstHeldBackFinger) fingers[{imp.db, imp.finger}] = true;
    std::vector<EvalFinger> out;
    for (const auto& [key, unused] : fingers) {
        (void)unused;
        for (int layout = 0; layout < layouts; ++layout) {
            const std::string placement = layout ? "_" + std::to_string(layout) : "";
            EvalFinger f{key.first, key.second, std::to_string(key.second) + placement, {}, {}};
            bool complete = true;
            for (int i = 1; i <= kEnrolCaptures; ++i) {
                const Impression* imp = data.find(key.first, key.second, i);
                if (imp == nullptr) {
                    complete = false;
                    break;
                }
                f.enrol.push_back(fp_test::jittered_window(imp->image, imp->foreground, g,
                                                           window_key(*imp, g, "enrol", layout), kEnrolJitterDivisor));
            }
            for (int i : kProbeImpressions) {
                const Impression* imp = data.find(key.first, key.second, i);
                if (imp == nullptr) {
                    complete = false;
                    break;
                }
                f.probes.push_back(fp_test::jittered_window(imp->image, imp->foreground, g,
                                                            window_key(*imp, g, "probe", layout), kProbeJitterDivisor));
            }
            if (complete) out.push_back(std::move(f));
        }
    }
    return out;
}

struct Tally {
    int fingers = 0, enrol_failures = 0, errors = 0, probe_failures = 0;
    int genuine = 0, impostor = 0;
    int genuine_accepted[3] = {0, 0, 0};
    int impostor_accepted[3] = {0, 0, 0};
};

zr_algorithm* evaluation_algorithm(preset_fn preset) {
    zr_algorithm* a = preset(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_config* c = zr_algorithm_get_config(a);
    c->max_captures = kEnrolMaxCaptures;
    c->max_template_size = kEnrolTemplateBytes;
    return a;
}

// Multi-template of the six windows; none when enrolment fails.
zr_template* enrol(zr_algorithm* a, const EvalFinger& f, const SensorGeometry& g, int* errors) {
    zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, nullptr, nullptr);
    if (e == nullptr) return nullptr;
    for (const auto& w : f.enrol) {
        zr_image* image = window_image(w, g);
        const zr_status status = zr_multitemplate_enroll_run(e, image, nullptr, nullptr);
        if (status != ZR_OK && status != ZR_ENROLL_COMPLETE) ++*errors;
        zr_image_delete(image);
    }
    zr_template* out = nullptr;
    if (zr_multitemplate_enroll_finalize_template_algorithm(a, e, &out) != ZR_OK) out = nullptr;
    zr_multitemplate_enroll_delete(e);
    return out;
}

// One verification of the probe against the stored multi-template, counted
// as genuine or impostor and as accepted at each report level (its FAR score
// above the level's threshold); an error counts as a rejection.
void decide(zr_algorithm* a, zr_template* stored, zr_template* probe, bool genuine, Tally* t) {
    zr_match_result* result = nullptr;
    const zr_status status = zr_algorithm_verify_templates_ex(a, &stored, 1, probe, kScoreLevel, &result);
    const uint16_t score = status == ZR_OK ? zr_match_result_get_far_score(result) : 0;
    if (status != ZR_OK) ++t->errors;
    zr_match_result_delete(result);
    (genuine ? t->genuine : t->impostor) += 1;
    for (int l = 0; l < 3; ++l)
        (genuine ? t->genuine_accepted[l] : t->impostor_accepted[l]) += score > zr_far_threshold(kReportLevels[l]);
}

Tally evaluate_set(const SetSpec& set, const std::vector<EvalFinger>& fingers) {
    Tally t;
    zr_algorithm* a = evaluation_algorithm(set.preset);
    if (a == nullptr) return t;
    const SensorGeometry& g = *set.geometry;
    std::vector<zr_template*> stored;
    std::vector<std::vector<zr_template*>> probes;
    for (const EvalFinger& f : fingers) {
        ++t.fingers;
        stored.push_back(enrol(a, f, g, &t.errors));
        if (stored.back() == nullptr) ++t.enrol_failures;
        probes.emplace_back();
        for (const auto& w : f.probes) {
            probes.back().push_back(extract(a, w, g));
            if (probes.back().back() == nullptr) ++t.probe_failures;
        }
    }
    for (size_t p = 0; p < fingers.size(); ++p)
        for (zr_template* probe : probes[p]) {
            if (probe == nullptr) continue;
            for (size_t s = 0; s < fingers.size(); ++s) {
                if (stored[s] == nullptr || fingers[s].db != fingers[p].db) continue;
                const bool genuine = s == p;
                // Other placements of the probe's own finger are neither genuine nor impostor.
                if (!genuine && fingers[s].finger == fingers[p].finger) continue;
                decide(a, stored[s], probe, genuine, &t);
            }
        }
    for (zr_template* s : stored) zr_template_delete(s);
    for (auto& list : probes)
        for (zr_template* p : list) zr_template_delete(p);
    zr_algorithm_delete(a);
    return t;
}

// Single comparisons of the held-back windows through a shipped model: every
// pair of different fingers is an impostor pair, every pair of different
// impressions of one finger a genuine pair; accepted at level L when the raw
// score is above the model's one-template threshold.
struct Calibration {
    size_t genuine = 0, impostor = 0, errors = 0;
    size_t genuine_accepted[3] = {0, 0, 0};
    size_t impostor_accepted[3] = {0, 0, 0};
};

Calibration calibrate(const char* name, preset_fn preset, const zr_verifier_descriptor* verifier,
                      const SensorGeometry& g, const Dataset& data) {
    Calibration c;
    zr_algorithm* a = preset(nullptr);
    const zr_vermodel* model = zr_algorithm_get_vermodel(a, verifier, 0);
    if (a == nullptr || model == nullptr) {
        std::fprintf(stderr, "%s: no model\n", name);
        zr_algorithm_delete(a);
        return c;
    }
    zr_session* session = zr_algorithm_get_session(a);
    size_t failures = 0;
    std::vector<TrainingTemplate> t = training_templates(a, data, g, &failures, true);
    for (size_t i = 0; i < t.size(); ++i)
        for (size_t j = 0; j < t.size(); ++j) {
            const bool genuine = t[i].finger_key == t[j].finger_key;
            if (genuine && t[i].impression == t[j].impression) continue;
            uint16_t score = 0;
            if (zr_verifier_get_raw_similarity_score(session, verifier, model, t[i].tmpl, t[j].tmpl, &score, nullptr) !=
                ZR_OK) {
                ++c.errors;
                continue;
            }
            (genuine ? c.genuine : c.impostor) += 1;
            for (int l = 0; l < 3; ++l) {
                const bool accepted = score > (*model->thresholds)[0][kCalibrationLevels[l]];
                (genuine ? c.genuine_accepted[l] : c.impostor_accepted[l]) += accepted;
            }
        }
    std::printf("| %-12s | %7zu | %6zu %6zu %6zu | %7zu | %4zu %4zu %4zu | %6.1f %5.1f %4.1f |\n", name, c.genuine,
                c.genuine_accepted[0], c.genuine_accepted[1], c.genuine_accepted[2], c.impostor,
                c.impostor_accepted[0], c.impostor_accepted[1], c.impostor_accepted[2],
                double(c.impostor) / 100.0, double(c.impostor) / 1000.0, double(c.impostor) / 10000.0);
    std::fflush(stdout);
    for (TrainingTemplate& x : t) zr_template_delete(x.tmpl);
    zr_algorithm_delete(a);
    return c;
}

void print_tally(const char* set, const char* data, const Tally& t) {
    std::printf("| %-5s | %-9s | %3d | %d/%d | %4d | %3d/%-3d %3d/%-3d %3d/%-3d | %5d | %3d %3d %3d |\n", set, data,
                t.fingers, t.enrol_failures, t.errors, t.genuine, t.genuine_accepted[0], t.genuine,
                t.genuine_accepted[1], t.genuine, t.genuine_accepted[2], t.genuine, t.impostor,
                t.impostor_accepted[0], t.impostor_accepted[1], t.impostor_accepted[2]);
    std::fflush(stdout);
}

// --- modes -------------------------------------------------------------------------

bool listed(const std::vector<std::string>& list, const std::string& name) {
    return list.empty() || std::find(list.begin(), list.end(), name) != list.end();
}

int run_train(const fs::path& train_dir, const fs::path& root, int fingers, int synthetic_fingers,
              size_t impostor_pairs, size_t threshold_limit, bool check_held_back,
              const std::vector<std::string>& only) {
    const auto start = clock_type::now();
    Dataset data = load_training(train_dir, fingers);
    if (data.impressions.empty()) {
        std::fprintf(stderr, "no training images under %s\n", train_dir.c_str());
        return 1;
    }
    add_synthetic(synthetic_fingers, &data);
    std::printf("%zu impressions (%d synthetic fingers, made in %.1f s)\n", data.impressions.size(),
                synthetic_fingers, seconds_since(start));
    int failures = 0;
    for (const ModelSpec& m : kModels)
        if (listed(only, m.id) && !train_model(m, data, root, impostor_pairs, threshold_limit, check_held_back))
            ++failures;
    std::printf("trained in %.1f s\n", seconds_since(start));
    return failures == 0 ? 0 : 1;
}

int run_calibrate(const fs::path& train_dir, const std::vector<std::string>& only) {
    const Dataset train = load_training(train_dir, 0);
    std::printf("Single comparisons of the held-back windows (fingers 108..110 of each training database, %d\n"
                "placements an impression) through each shipped model, one-template thresholds.\n\n",
                kTrainLayouts);
    std::printf("| model        | genuine | accepted at 6, 9, 12 | impostor | accepted at 6, 9, 12 | "
                "expected at 6, 9, 12 |\n");
    for (const ModelSpec& m : kModels)
        if (listed(only, m.id)) calibrate(m.id, m.preset, m.verifier, *m.geometry, train);
    if (listed(only, std::string(train_models::kGivenModelId)))
        calibrate("h80 (given)", gen_192x80_hybridhr_create, &ehmhr_verifier, *kG80, train);
    return 0;
}

int run_evaluate(const fs::path& train_dir, const fs::path& ssb_dir, const std::vector<std::string>& only,
                 int layouts) {
    const Dataset train = load_training(train_dir, 0);
    const Dataset ssb = load_ssb(ssb_dir);
    std::printf("Accepts read from the FAR score of a verification at level 28 (accept at L: score above the\n"
                "level's threshold). Held back: training fingers 108..110 of each database, %d placements;\n"
                "ssb-dev: the 20 real fingers, %d placements. Impostors: every other finger of the database.\n\n",
                layouts, layouts);
    std::printf("| set   | data      | fingers | enrol failures/errors | genuine | accepted at 6, 12, 18 | "
                "impostors | accepted at 6, 12, 18 |\n");
    for (const SetSpec& set : kSets) {
        if (!listed(only, set.name)) continue;
        print_tally(set.name, "held back", evaluate_set(set, eval_fingers(train, *set.geometry, true, layouts)));
        if (!ssb.impressions.empty())
            print_tally(set.name, "ssb-dev", evaluate_set(set, eval_fingers(ssb, *set.geometry, false, layouts)));
    }
    return 0;
}

int export_fingers(const std::vector<EvalFinger>& fingers, const SensorGeometry& g, const fs::path& out,
                   const std::string& origin) {
    int written = 0;
    for (const EvalFinger& f : fingers) {
        const fs::path dir = out / f.db / f.name;
        fs::create_directories(dir);
        const std::string comment = std::string("window ") + g.name + " of " + origin + " " + f.db + "/" + f.name;
        for (size_t i = 0; i < f.enrol.size(); ++i)
            written += fp_test::write_pgm(dir / ("e" + std::to_string(i + 1) + ".pgm"), f.enrol[i], g.rows, g.cols,
                                          comment);
        for (size_t i = 0; i < f.probes.size(); ++i)
            written += fp_test::write_pgm(dir / ("p" + std::to_string(kProbeImpressions[i]) + ".pgm"), f.probes[i],
                                          g.rows, g.cols, comment);
    }
    return written;
}

int run_export(const std::string& geometry, const fs::path& train_dir, const fs::path& ssb_dir, const fs::path& out) {
    const SensorGeometry* g = fp_test::sensor_geometry(geometry);
    if (g == nullptr) {
        std::fprintf(stderr, "unknown geometry %s\n", geometry.c_str());
        return 2;
    }
    const int held_back = export_fingers(eval_fingers(load_training(train_dir, 0), *g, true, 1), *g, out, "held-back");
    const int real = export_fingers(eval_fingers(load_ssb(ssb_dir), *g, false, 1), *g, out, "ssb-dev");
    std::printf("%d held-back and %d ssb-dev windows of %d x %d at %d dpi written under %s\n", held_back, real,
                g->rows, g->cols, g->dpi, out.c_str());
    return 0;
}

// --- decisions in bulk -------------------------------------------------------------

// Enrolments of the held-back fingers for the decisions in bulk: per finger
// and placement, one multi-template for each pair of impressions left out.
constexpr int kDecisionLayouts = 6;
constexpr int kLeftOutPairs[][2] = {{7, 8}, {1, 2}, {3, 4}, {5, 6}};

struct DecisionEnrolment {
    int finger;     // index into the held-back fingers
    int left_out;   // index into kLeftOutPairs
    zr_template* tmpl;
};

struct DecisionProbe {
    int finger;
    int impression;
    zr_template* tmpl;
};

// Decisions of a model set in bulk on the held-back fingers, as deployed: a
// probe against an enrolled multi-template of six captures. Every window of
// every impression (kTrainLayouts placements, probe jitter) probes every
// enrolment of every other finger, of any database (impostors), and the
// enrolments of its own finger that left its impression out (genuine).
Tally decide_in_bulk(const SetSpec& set, const Dataset& data) {
    Tally t;
    zr_algorithm* a = evaluation_algorithm(set.preset);
    if (a == nullptr) return t;
    const SensorGeometry& g = *set.geometry;
    std::map<std::pair<std::string, int>, int> finger_index;
    for (const Impression& imp : data.impressions)
        if (imp.finger >= kFirstHeldBackFinger)
            finger_index.emplace(std::make_pair(imp.db, imp.finger), int(finger_index.size()));
    std::vector<DecisionEnrolment> enrolled;
    std::vector<DecisionProbe> probes;
    for (const auto& [key, index] : finger_index) {
        ++t.fingers;
        for (int layout = 0; layout < kDecisionLayouts; ++layout)
            for (int pair = 0; pair < int(std::size(kLeftOutPairs)); ++pair) {
                EvalFinger f{key.first, key.second, "", {}, {}};
                for (int i = 1; i <= kEnrolCaptures + 2; ++i) {
                    if (i == kLeftOutPairs[pair][0] || i == kLeftOutPairs[pair][1]) continue;
                    const Impression* imp = data.find(key.first, key.second, i);
                    if (imp == nullptr) continue;
                    f.enrol.push_back(fp_test::jittered_window(imp->image, imp->foreground, g,
                                                               window_key(*imp, g, "enrol", layout),
                                                               kEnrolJitterDivisor));
                }
                zr_template* stored = enrol(a, f, g, &t.errors);
                if (stored == nullptr)
                    ++t.enrol_failures;
                else
                    enrolled.push_back({index, pair, stored});
            }
        for (int i = 1; i <= kEnrolCaptures + 2; ++i) {
            const Impression* imp = data.find(key.first, key.second, i);
            if (imp == nullptr) continue;
            for (int layout = 0; layout < kTrainLayouts; ++layout) {
                zr_template* probe = extract(a, fp_test::jittered_window(imp->image, imp->foreground, g,
                                                                         window_key(*imp, g, "probe", layout),
                                                                         kProbeJitterDivisor),
                                             g);
                if (probe == nullptr)
                    ++t.probe_failures;
                else
                    probes.push_back({index, i, probe});
            }
        }
    }
    for (const DecisionProbe& p : probes)
        for (const DecisionEnrolment& e : enrolled) {
            const bool genuine = e.finger == p.finger;
            const int* left_out = kLeftOutPairs[e.left_out];
            if (genuine && p.impression != left_out[0] && p.impression != left_out[1]) continue;
            decide(a, e.tmpl, p.tmpl, genuine, &t);
        }
    for (DecisionEnrolment& e : enrolled) zr_template_delete(e.tmpl);
    for (DecisionProbe& p : probes) zr_template_delete(p.tmpl);
    zr_algorithm_delete(a);
    return t;
}

int run_decisions(const fs::path& train_dir, const std::vector<std::string>& only) {
    const Dataset train = load_training(train_dir, 0);
    std::printf("Decisions in bulk on the held-back fingers (108..110 of each training database): %d placements\n"
                "x %zu enrolments of six impressions per finger; every window of every impression (%d placements)\n"
                "probes every enrolment of every other finger (impostors) and those of its own finger that left\n"
                "its impression out (genuine). Expected impostor accepts at 6, 12, 18: a share 1/100, 1/10000,\n"
                "1/1000000.\n\n",
                kDecisionLayouts, std::size(kLeftOutPairs), kTrainLayouts);
    std::printf("| set   | data      | fingers | enrol failures/errors | genuine | accepted at 6, 12, 18 | "
                "impostors | accepted at 6, 12, 18 |\n");
    for (const SetSpec& set : kSets)
        if (listed(only, set.name)) print_tally(set.name, "held back", decide_in_bulk(set, train));
    return 0;
}

int usage(const char* self) {
    using train_models::join_names, train_models::option_names, train_models::kModelsOption,
        train_models::kSetsOption;
    std::fprintf(stderr,
                 "usage: %s train TRAIN_DIR ROOT [--fingers N] [--synthetic N] [--impostors N]\n"
                 "             [--models id,...] [--threshold-pairs N] [--check-held-back]\n"
                 "       %s evaluate TRAIN_DIR SSB_DIR [--sets NAME,...] [--layouts N]\n"
                 "       %s calibrate TRAIN_DIR [--models id,...]\n"
                 "       %s decisions TRAIN_DIR [--sets NAME,...]\n"
                 "       %s export GEOMETRY TRAIN_DIR SSB_DIR OUT_DIR\n"
                 "model ids and set names in either case; without the option, all of them.\n"
                 "  train --models: %s\n"
                 "  calibrate --models: %s\n"
                 "  evaluate, decisions --sets: %s\n",
                 self, self, self, self, self, join_names(option_names("train", kModelsOption)).c_str(),
                 join_names(option_names("calibrate", kModelsOption)).c_str(),
                 join_names(option_names("evaluate", kSetsOption)).c_str());
    return 2;
}

// Selects the names of `option`'s list, when given, for `mode` into `only`;
// false after printing why the list is refused.
bool select_option(const std::string& mode, std::string_view option, const std::optional<std::string>& list,
                   std::vector<std::string>* only) {
    if (!list) return true;
    std::string error;
    std::optional<std::vector<std::string>> selected = train_models::select_mode_names(mode, option, *list, &error);
    if (!selected) {
        std::fprintf(stderr, "train_models: %s\n", error.c_str());
        return false;
    }
    *only = std::move(*selected);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !train_models::is_mode(argv[1])) return usage(argv[0]);
    const std::string mode = argv[1];
    std::vector<std::string> positional;
    std::optional<std::string> models, sets;
    int fingers = 0, layouts = 2, synthetic_fingers = kDefaultSyntheticFingers;
    size_t impostor_pairs = kImpostorPairs;
    size_t threshold_limit = SIZE_MAX;
    bool check_held_back = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--fingers" || arg == "--layouts") && i + 1 < argc) {
            (arg == "--fingers" ? fingers : layouts) = std::atoi(argv[++i]);
        } else if (arg == "--synthetic" && i + 1 < argc) {
            synthetic_fingers = std::atoi(argv[++i]);
            if (synthetic_fingers < 0 || synthetic_fingers > kMaxSyntheticFingers) return usage(argv[0]);
        } else if (arg == "--check-held-back") {
            check_held_back = true;
        } else if (arg == "--threshold-pairs" && i + 1 < argc) {
            threshold_limit = size_t(std::max(0, std::atoi(argv[++i])));
        } else if (arg == "--impostors" && i + 1 < argc) {
            impostor_pairs = size_t(std::max(0, std::atoi(argv[++i])));
        } else if ((arg == "--models" || arg == "--sets") && i + 1 < argc) {
            (arg == "--models" ? models : sets) = argv[++i];
        } else {
            positional.push_back(arg);
        }
    }
    std::vector<std::string> only;  // empty: every name of the mode's option
    if (!select_option(mode, train_models::kModelsOption, models, &only) ||
        !select_option(mode, train_models::kSetsOption, sets, &only))
        return 2;
    if (mode == "train" && positional.size() == 2)
        return run_train(positional[0], positional[1], fingers, synthetic_fingers, impostor_pairs, threshold_limit,
                         check_held_back, only);
    if (mode == "evaluate" && positional.size() == 2)
        return run_evaluate(positional[0], positional[1], only, std::max(1, layouts));
    if (mode == "calibrate" && positional.size() == 1) return run_calibrate(positional[0], only);
    if (mode == "decisions" && positional.size() == 1) return run_decisions(positional[0], only);
    if (mode == "export" && positional.size() == 4)
        return run_export(positional[0], positional[1], positional[2], positional[3]);
    return usage(argv[0]);
}
