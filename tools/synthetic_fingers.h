// Synthetic fingerprint captures: a small deterministic generator of our own,
// for demos and tests on machines without real captures. Everything it makes
// is synthetic and says so (the files it writes carry a comment line).
//
// Per finger seed: a master print (an orientation field with core and delta
// singularities, ridges of a period near 9 pixels grown from noise by
// oriented filtering, so that they end and fork). Per impression: a 176 x 96
// window of the master, shifted, turned, smoothly distorted, with its own
// pressure, contrast and noise; dark ridges on a light background.
//
// Full impressions take the whole finger instead: a larger master (490 x 320)
// of the same seed, seen through a 440 x 300 image in which the finger is an
// ellipse of about 420 x 260 pixels (smaller under light pressure) on the
// background grey, with the same per-impression shift, turn, distortion,
// pressure, contrast and noise; besides, the part of the finger that touches
// moves from impression to impression, and the ridges break up as on a dry
// finger by a varying amount. They are large enough for a window of any of
// the sensors at 500 dpi, up to 396 rows, and for the 650-dpi windows
// enlarged from them.
//
// The generator has its own random number generator (no library
// distributions): one seed gives the same images on one platform. Floating
// point is used throughout, so images may differ in their last bits between
// platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace synthetic {

constexpr int kRows = 176;
constexpr int kCols = 96;
constexpr size_t kImageBytes = static_cast<size_t>(kRows) * kCols;
constexpr int kEnrolCaptures = 6;
constexpr int kProbes = 2;

// Full impressions: kFullImpressions of each finger, 500 dpi.
constexpr int kFullRows = 440;
constexpr int kFullCols = 300;
constexpr size_t kFullImageBytes = static_cast<size_t>(kFullRows) * kFullCols;
constexpr int kFullImpressions = kEnrolCaptures + kProbes;

// Window placement limits, pixels and degrees (enrolment; probes use less).
constexpr double kMaxShiftRows = 24.0;
constexpr double kMaxShiftCols = 12.0;
constexpr double kMaxProbeShiftRows = 16.0;
constexpr double kMaxProbeShiftCols = 8.0;
constexpr double kMaxTurnDegrees = 15.0;

// splitmix64: a 64-bit state, full period, good enough for image noise.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Approximately normal (mean 0, deviation 1): the sum of four uniforms.
    double normal();

private:
    uint64_t state_;
};

enum class PatternClass { LeftLoop, RightLoop, Whorl, Arch };

// The whole finger, larger than any window: ridge values in [-1, 1],
// positive on ridges, row-major.
struct MasterPrint {
    int rows = 0;
    int cols = 0;
    double period = 0;  // ridge period in pixels
    PatternClass pattern = PatternClass::LeftLoop;
    std::vector<float> ridges;
};

// How one impression is taken from the master.
struct Impression {
    double shift_rows = 0;   // window centre offset from the master centre
    double shift_cols = 0;
    double turn_degrees = 0;
    double distortion[2][3] = {};  // amplitude (px), wavelength (px), phase per axis
    double pressure = 0;     // > 0 thickens ridges
    double background = 0;   // grey level of the valleys
    double contrast = 0;     // ridge depth in grey levels
    double noise = 0;        // deviation of the sensor noise
    uint64_t noise_seed = 0;
    // Full impressions only (drawn after the fields above, which stay as
    // they were): where on the finger the contact outline is centred, as an
    // offset from the master centre, and how much of the ridges breaks up
    // as on a dry finger (0: unbroken).
    double contact_rows = 0;
    double contact_cols = 0;
    double dryness = 0;
};

// The master print of a finger for the 176 x 96 captures (272 x 200).
MasterPrint make_master(uint64_t finger_seed);
// The master print of a finger for full impressions (490 x 320): the same
// pattern class and singularities around the middle, other ridge detail.
MasterPrint make_full_master(uint64_t finger_seed);
// The placement and appearance of impression `index` (0-based) of a finger.
Impression draw_impression(uint64_t finger_seed, int index, bool probe);
// A 176 x 96 8-bit image, row-major.
std::vector<uint8_t> render(const MasterPrint& master, const Impression& impression);
// A kFullRows x kFullCols 8-bit image, row-major: the finger outline of the
// impression's pressure, centred on the master's centre moved by the contact
// offset, shifted and turned with the finger; dry breaks over the ridges.
// Meant for a full master; a smaller one is extended by its edge pixels.
std::vector<uint8_t> render_full(const MasterPrint& master, const Impression& impression);
// The kFullImpressions full impressions of a finger: impression i placed as
// draw_impression(finger_seed, i, i >= kEnrolCaptures) places it.
std::vector<std::vector<uint8_t>> make_full_impressions(uint64_t finger_seed);

struct Finger {
    std::string name;
    uint64_t seed = 0;
    std::vector<std::vector<uint8_t>> enrol;   // kEnrolCaptures images
    std::vector<std::vector<uint8_t>> probes;  // kProbes images
    std::vector<Impression> impressions;       // enrolment then probes
};

// The seed of finger `index` of a set that starts at `set_seed`.
uint64_t finger_seed(uint64_t set_seed, size_t index);
Finger make_finger(uint64_t seed, std::string name);
// `count` fingers named 1, 2, ... (as text "s001", ...).
std::vector<Finger> make_fingers(size_t count, uint64_t set_seed);

// The comment line every written file carries.
std::string comment_line(const Finger& finger, const char* role, int impression);

// Binary PGM (P5) bytes of a 176 x 96 image with one comment line.
std::string pgm_bytes(const std::vector<uint8_t>& image, const std::string& comment);

// Writes the set in the capture-folder layout: manifest.tsv and
// <db>/<finger>/e1.pgm .. e6.pgm, p7.pgm, p8.pgm. False on a write error.
bool write_set(const std::filesystem::path& folder, const std::string& db, const std::vector<Finger>& fingers);

}  // namespace synthetic
