#include "synthetic_fingers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace synthetic {
namespace {

constexpr double kPi = std::numbers::pi;

// Master print sizes. The capture master holds every 176 x 96 window at its
// largest shift and turn with a margin for the distortion; the full master
// holds the largest finger outline (kFingerRows x kFingerCols, turned) with
// the same margin.
constexpr int kMasterRows = 272;
constexpr int kMasterCols = 200;
constexpr int kFullMasterRows = 490;
constexpr int kFullMasterCols = 320;

// The finger outline of a full impression: an ellipse on the master, centred
// up to kMaxContactShift* from its centre, whose axes shrink with lighter
// pressure (kLightestContactScale at the lightest pressure drawn, 1 at the
// heaviest); ridges fade out over kContactEdge pixels inside it. The full
// master holds the largest outline at its largest offset with a margin for
// the distortion.
constexpr double kFingerRows = 420.0;
constexpr double kFingerCols = 260.0;
constexpr double kLightestContactScale = 0.95;
constexpr double kContactEdge = 8.0;
constexpr double kMaxContactShiftRows = 30.0;
constexpr double kMaxContactShiftCols = 20.0;
// Dry breaks: a smooth random field (bilinear over a grid of kDryCell
// pixels) takes the ink away where it falls below the impression's dryness,
// over a soft edge of kDryEdge in field units. The dryness is the finger's
// own (up to kMaxFingerDryness) varied by up to kDrynessSpread each way per
// impression, at most kMaxDryness.
constexpr double kMinFingerDryness = 0.1;
constexpr double kMaxFingerDryness = 0.7;
constexpr double kDrynessSpread = 0.15;
constexpr double kMaxDryness = 0.8;
constexpr int kDryCell = 4;
constexpr double kDryEdge = 0.15;
constexpr double kMinPressure = -0.25;
constexpr double kMaxPressure = 0.3;

// Ridge growth: a bank of oriented filters applied to noise.
constexpr int kOrientationSteps = 48;  // over half a turn
constexpr int kFilterRadius = 7;
constexpr int kFilterSize = 2 * kFilterRadius + 1;
constexpr double kSigmaAlong = 4.5;    // envelope along the ridge, pixels
constexpr double kSigmaAcross = 3.2;   // across the ridge
constexpr int kGrowthRounds = 8;
constexpr double kGrowthGain = 1.8;    // before clipping to [-1, 1]

constexpr double kMinPeriod = 8.4;
constexpr double kMaxPeriod = 9.6;
constexpr double kMaxDistortion = 3.0;  // pixels

uint64_t mix(uint64_t a, uint64_t b) {
    Rng r(a ^ (b * 0x9E3779B97F4A7C15ull));
    r.next();
    return r.next();
}

double wrap_half_turn(double angle) {
    angle = std::fmod(angle, kPi);
    return angle < 0 ? angle + kPi : angle;
}

// Ridge direction (radians, modulo half a turn) of the zero-pole model: half
// the sum of the angles seen from the cores less those seen from the deltas.
struct Singularities {
    std::vector<std::array<double, 2>> cores;   // {row, col}
    std::vector<std::array<double, 2>> deltas;
    double base = 0;
};

double zero_pole_direction(const Singularities& s, double row, double col) {
    double angle = s.base;
    for (const auto& c : s.cores) angle += 0.5 * std::atan2(row - c[0], col - c[1]);
    for (const auto& d : s.deltas) angle -= 0.5 * std::atan2(row - d[0], col - d[1]);
    return angle;
}

// An arch: ridges across the finger with a hump over its middle.
double arch_direction(double row, double col, double centre_row, double centre_col, double height) {
    const double w = 60.0;
    const double x = (col - centre_col) / w;
    const double hump = height * std::exp(-((row - centre_row) / 120.0) * ((row - centre_row) / 120.0));
    const double slope = hump * 2.0 * x / w * std::exp(-x * x);
    return std::atan(slope);
}

std::vector<double> orientation_field(Rng& rng, PatternClass pattern, int rows, int cols) {
    const double centre_row = rows / 2.0 + rng.uniform(-20, 20);
    const double centre_col = cols / 2.0 + rng.uniform(-12, 12);
    Singularities s;
    switch (pattern) {
        case PatternClass::LeftLoop:
        case PatternClass::RightLoop: {
            const double side = pattern == PatternClass::LeftLoop ? -1.0 : 1.0;
            s.cores.push_back({centre_row - 30 + rng.uniform(-10, 10), centre_col});
            s.deltas.push_back({centre_row + 70 + rng.uniform(-15, 15), centre_col + side * rng.uniform(45, 75)});
            break;
        }
        case PatternClass::Whorl: {
            const double spread = rng.uniform(10, 22);
            s.cores.push_back({centre_row - 25 - spread / 2, centre_col + rng.uniform(-6, 6)});
            s.cores.push_back({centre_row - 25 + spread / 2, centre_col + rng.uniform(-6, 6)});
            s.deltas.push_back({centre_row + 75 + rng.uniform(-10, 10), centre_col - rng.uniform(55, 80)});
            s.deltas.push_back({centre_row + 75 + rng.uniform(-10, 10), centre_col + rng.uniform(55, 80)});
            break;
        }
        case PatternClass::Arch:
            break;
    }
    s.base = rng.uniform(-0.15, 0.15);
    const double arch_height = rng.uniform(25, 45);
    // A slow swirl over the whole field keeps ridges from looking ruled.
    const double swirl = rng.uniform(0.08, 0.2);
    const double swirl_phase = rng.uniform(0, 2 * kPi);
    const double swirl_length = rng.uniform(140, 220);

    std::vector<double> field(static_cast<size_t>(rows) * cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            double a = pattern == PatternClass::Arch
                           ? arch_direction(r, c, centre_row, centre_col, arch_height) + s.base
                           : zero_pole_direction(s, r, c);
            a += swirl * std::sin(2 * kPi * (r + 0.6 * c) / swirl_length + swirl_phase);
            field[static_cast<size_t>(r) * cols + c] = wrap_half_turn(a);
        }
    return field;
}

using Filter = std::array<float, kFilterSize * kFilterSize>;

// Oriented filters tuned to the period, zero mean, unit energy.
std::vector<Filter> filter_bank(double period) {
    std::vector<Filter> bank(kOrientationSteps);
    for (int k = 0; k < kOrientationSteps; ++k) {
        const double direction = kPi * k / kOrientationSteps;  // along the ridge
        const double along_r = std::sin(direction), along_c = std::cos(direction);
        Filter& f = bank[k];
        double sum = 0;
        for (int dr = -kFilterRadius; dr <= kFilterRadius; ++dr)
            for (int dc = -kFilterRadius; dc <= kFilterRadius; ++dc) {
                const double along = dr * along_r + dc * along_c;
                const double across = -dr * along_c + dc * along_r;
                const double envelope = std::exp(-0.5 * (along * along / (kSigmaAlong * kSigmaAlong) +
                                                         across * across / (kSigmaAcross * kSigmaAcross)));
                const double v = envelope * std::cos(2 * kPi * across / period);
                f[(dr + kFilterRadius) * kFilterSize + dc + kFilterRadius] = static_cast<float>(v);
                sum += v;
            }
        const double mean = sum / (kFilterSize * kFilterSize);
        double energy = 0;
        for (float& v : f) {
            v = static_cast<float>(v - mean);
            energy += double(v) * v;
        }
        const double norm = 1.0 / std::sqrt(energy);
        for (float& v : f) v = static_cast<float>(v * norm);
    }
    return bank;
}

// One round of growth over a rows x cols field: every pixel filtered along
// its own orientation (edges clamped).
void grow(const std::vector<float>& in, std::vector<float>& out, const std::vector<int>& orientation,
          const std::vector<Filter>& bank, int rows, int cols) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const Filter& f = bank[orientation[static_cast<size_t>(r) * cols + c]];
            float acc = 0;
            for (int dr = -kFilterRadius; dr <= kFilterRadius; ++dr) {
                const int rr = std::clamp(r + dr, 0, rows - 1);
                const float* row = in.data() + static_cast<size_t>(rr) * cols;
                const float* taps = f.data() + (dr + kFilterRadius) * kFilterSize + kFilterRadius;
                for (int dc = -kFilterRadius; dc <= kFilterRadius; ++dc)
                    acc += taps[dc] * row[std::clamp(c + dc, 0, cols - 1)];
            }
            out[static_cast<size_t>(r) * cols + c] = acc;
        }
}

void normalise_and_clip(std::vector<float>& v) {
    double energy = 0;
    for (float x : v) energy += double(x) * x;
    const double rms = std::sqrt(energy / static_cast<double>(v.size()));
    const double scale = rms > 0 ? kGrowthGain / rms : 0;
    for (float& x : v) x = static_cast<float>(std::clamp(x * scale, -1.0, 1.0));
}

float sample(const MasterPrint& m, double row, double col) {
    row = std::clamp(row, 0.0, m.rows - 1.001);
    col = std::clamp(col, 0.0, m.cols - 1.001);
    const int r0 = static_cast<int>(row), c0 = static_cast<int>(col);
    const double fr = row - r0, fc = col - c0;
    const float* p = m.ridges.data() + static_cast<size_t>(r0) * m.cols + c0;
    const double top = p[0] * (1 - fc) + p[1] * fc;
    const double bottom = p[m.cols] * (1 - fc) + p[m.cols + 1] * fc;
    return static_cast<float>(top * (1 - fr) + bottom * fr);
}

std::string finger_folder_name(size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "s%03zu", index + 1);
    return name;
}

}  // namespace

uint64_t Rng::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

double Rng::normal() {
    // Four uniforms have variance 4/12: scale to unit deviation.
    const double s = uniform() + uniform() + uniform() + uniform() - 2.0;
    return s * std::sqrt(3.0);
}

namespace {

// The master of one finger seed at a given size: the orientation field is
// laid out around the middle, so that sizes differ only in how much finger
// lies around the singularities.
MasterPrint master_of_size(uint64_t seed, int rows, int cols) {
    Rng rng(mix(seed, 1));
    MasterPrint m;
    m.rows = rows;
    m.cols = cols;
    m.period = rng.uniform(kMinPeriod, kMaxPeriod);
    const double kind = rng.uniform();
    m.pattern = kind < 0.35   ? PatternClass::LeftLoop
                : kind < 0.7  ? PatternClass::RightLoop
                : kind < 0.92 ? PatternClass::Whorl
                              : PatternClass::Arch;

    const std::vector<double> field = orientation_field(rng, m.pattern, rows, cols);
    std::vector<int> orientation(field.size());
    for (size_t i = 0; i < field.size(); ++i)
        orientation[i] = static_cast<int>(std::lround(field[i] / kPi * kOrientationSteps)) % kOrientationSteps;
    const std::vector<Filter> bank = filter_bank(m.period);

    std::vector<float> a(field.size()), b(field.size());
    for (float& v : a) v = static_cast<float>(rng.uniform(-1, 1));
    for (int round = 0; round < kGrowthRounds; ++round) {
        grow(a, b, orientation, bank, rows, cols);
        normalise_and_clip(b);
        a.swap(b);
    }
    m.ridges = std::move(a);
    return m;
}

}  // namespace

MasterPrint make_master(uint64_t seed) { return master_of_size(seed, kMasterRows, kMasterCols); }

MasterPrint make_full_master(uint64_t seed) { return master_of_size(seed, kFullMasterRows, kFullMasterCols); }

Impression draw_impression(uint64_t seed, int index, bool probe) {
    Rng rng(mix(seed, 100 + static_cast<uint64_t>(index)));
    Impression p;
    const double max_rows = probe ? kMaxProbeShiftRows : kMaxShiftRows;
    const double max_cols = probe ? kMaxProbeShiftCols : kMaxShiftCols;
    p.shift_rows = rng.uniform(-max_rows, max_rows);
    p.shift_cols = rng.uniform(-max_cols, max_cols);
    p.turn_degrees = rng.uniform(-kMaxTurnDegrees, kMaxTurnDegrees);
    for (auto& axis : p.distortion) {
        axis[0] = rng.uniform(0.5, kMaxDistortion);
        axis[1] = rng.uniform(120, 260);
        axis[2] = rng.uniform(0, 2 * kPi);
    }
    p.pressure = rng.uniform(kMinPressure, kMaxPressure);
    p.background = rng.uniform(185, 230);
    p.contrast = rng.uniform(100, 160);
    p.noise = rng.uniform(3, 10);
    p.noise_seed = rng.next();
    p.contact_rows = rng.uniform(-kMaxContactShiftRows, kMaxContactShiftRows);
    p.contact_cols = rng.uniform(-kMaxContactShiftCols, kMaxContactShiftCols);
    Rng skin(mix(seed, 99));
    const double finger_dryness = skin.uniform(kMinFingerDryness, kMaxFingerDryness);
    p.dryness = std::clamp(finger_dryness + rng.uniform(-kDrynessSpread, kDrynessSpread), 0.0, kMaxDryness);
    return p;
}

namespace {

// How much of the finger touches the sensor at master position (row, col):
// 1 well inside the outline, falling to 0 over kContactEdge pixels at it.
struct Contact {
    double centre_row, centre_col;
    double half_rows, half_cols;  // the ellipse's semi-axes
    double at(double row, double col) const {
        const double y = (row - centre_row) / half_rows, x = (col - centre_col) / half_cols;
        const double inside = (1.0 - std::sqrt(y * y + x * x)) * half_cols / kContactEdge;
        return std::clamp(inside, 0.0, 1.0);
    }
};

Contact finger_outline(const MasterPrint& m, const Impression& p) {
    const double pressure = std::clamp((p.pressure - kMinPressure) / (kMaxPressure - kMinPressure), 0.0, 1.0);
    const double scale = kLightestContactScale + (1.0 - kLightestContactScale) * pressure;
    return {m.rows / 2.0 + p.contact_rows, m.cols / 2.0 + p.contact_cols, scale * kFingerRows / 2.0,
            scale * kFingerCols / 2.0};
}

// The dry-break field of an image: uniform values on a grid of kDryCell
// pixels, read bilinearly; its own stream of the impression's noise seed.
class DryField {
public:
    DryField(uint64_t noise_seed, int rows, int cols)
        : grid_rows_(rows / kDryCell + 2), grid_cols_(cols / kDryCell + 2),
          values_(static_cast<size_t>(grid_rows_) * grid_cols_) {
        Rng rng(mix(noise_seed, 2));
        for (double& v : values_) v = rng.uniform();
    }
    double at(int r, int c) const {
        const int gr = r / kDryCell, gc = c / kDryCell;
        const double fr = double(r % kDryCell) / kDryCell, fc = double(c % kDryCell) / kDryCell;
        const double* p = values_.data() + static_cast<size_t>(gr) * grid_cols_ + gc;
        const double top = p[0] * (1 - fc) + p[1] * fc;
        const double bottom = p[grid_cols_] * (1 - fc) + p[grid_cols_ + 1] * fc;
        return top * (1 - fr) + bottom * fr;
    }

private:
    int grid_rows_, grid_cols_;
    std::vector<double> values_;
};

// A rows x cols image of the master seen through the impression; with a
// contact outline, ridges show only where the finger touches and the rest is
// background and noise.
std::vector<uint8_t> render_window(const MasterPrint& m, const Impression& p, int rows, int cols,
                                   const Contact* contact) {
    std::vector<uint8_t> image(static_cast<size_t>(rows) * cols);
    Rng noise(p.noise_seed);
    const double turn = p.turn_degrees * kPi / 180.0;
    const double cs = std::cos(turn), sn = std::sin(turn);
    const double centre_row = (contact != nullptr ? contact->centre_row : m.rows / 2.0) + p.shift_rows;
    const double centre_col = (contact != nullptr ? contact->centre_col : m.cols / 2.0) + p.shift_cols;
    const bool dry = contact != nullptr && p.dryness > 0;
    const DryField dry_field(dry ? p.noise_seed : 0, dry ? rows : 0, dry ? cols : 0);
    // Uneven pressure across the window: contrast fades towards one side.
    const double fade_angle = noise.uniform(0, 2 * kPi);
    const double fade = noise.uniform(0.0, 0.35);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double u = r - (rows - 1) / 2.0;
            const double v = c - (cols - 1) / 2.0;
            const double du = p.distortion[0][0] * std::sin(2 * kPi * (u + 0.5 * v) / p.distortion[0][1] +
                                                            p.distortion[0][2]);
            const double dv = p.distortion[1][0] * std::sin(2 * kPi * (v + 0.5 * u) / p.distortion[1][1] +
                                                            p.distortion[1][2]);
            const double uu = u + du, vv = v + dv;
            const double row = centre_row + uu * cs - vv * sn;
            const double col = centre_col + uu * sn + vv * cs;
            const double touch = contact != nullptr ? contact->at(row, col) : 1.0;
            double ink = 0;
            if (touch > 0) ink = touch * (0.5 + 0.5 * std::tanh(2.5 * (sample(m, row, col) + p.pressure)));
            if (dry && ink > 0) ink *= std::clamp((dry_field.at(r, c) - p.dryness) / kDryEdge + 0.5, 0.0, 1.0);
            const double along = (u * std::cos(fade_angle) + v * std::sin(fade_angle)) / (rows / 2.0);
            const double local_contrast = 1.0 - fade * (0.5 + 0.5 * along);
            const double grey = p.background - p.contrast * local_contrast * ink + p.noise * noise.normal();
            image[static_cast<size_t>(r) * cols + c] = static_cast<uint8_t>(std::clamp(std::lround(grey), 0L, 255L));
        }
    return image;
}

}  // namespace

std::vector<uint8_t> render(const MasterPrint& m, const Impression& p) {
    return render_window(m, p, kRows, kCols, nullptr);
}

std::vector<uint8_t> render_full(const MasterPrint& m, const Impression& p) {
    const Contact contact = finger_outline(m, p);
    return render_window(m, p, kFullRows, kFullCols, &contact);
}

std::vector<std::vector<uint8_t>> make_full_impressions(uint64_t seed) {
    const MasterPrint master = make_full_master(seed);
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < kFullImpressions; ++i)
        out.push_back(render_full(master, draw_impression(seed, i, i >= kEnrolCaptures)));
    return out;
}

uint64_t finger_seed(uint64_t set_seed, size_t index) { return mix(set_seed, 1000 + index); }

Finger make_finger(uint64_t seed, std::string name) {
    Finger f;
    f.name = std::move(name);
    f.seed = seed;
    const MasterPrint master = make_master(seed);
    for (int i = 0; i < kEnrolCaptures + kProbes; ++i) {
        const bool probe = i >= kEnrolCaptures;
        f.impressions.push_back(draw_impression(seed, i, probe));
        (probe ? f.probes : f.enrol).push_back(render(master, f.impressions.back()));
    }
    return f;
}

std::vector<Finger> make_fingers(size_t count, uint64_t set_seed) {
    std::vector<Finger> fingers;
    for (size_t i = 0; i < count; ++i) fingers.push_back(make_finger(finger_seed(set_seed, i), finger_folder_name(i)));
    return fingers;
}

std::string comment_line(const Finger& finger, const char* role, int impression) {
    char line[160];
    std::snprintf(line, sizeof line, "# synthetic fingerprint, not a real capture: finger %s seed %llu %s %d",
                  finger.name.c_str(), static_cast<unsigned long long>(finger.seed), role, impression);
    return line;
}

std::string pgm_bytes(const std::vector<uint8_t>& image, const std::string& comment) {
    std::string out("P5\n");
    out.append(comment).append("\n").append(std::to_string(kCols)).append(" ");
    out.append(std::to_string(kRows)).append("\n255\n");
    out.append(reinterpret_cast<const char*>(image.data()), image.size());
    return out;
}

bool write_set(const std::filesystem::path& folder, const std::string& db, const std::vector<Finger>& fingers) {
    std::error_code ec;
    std::filesystem::create_directories(folder / db, ec);
    if (ec) return false;
    std::ofstream manifest(folder / "manifest.tsv");
    manifest << "# synthetic captures made by synthetic_fingers; no real finger\n";
    manifest << "db\tfinger\tfile\trole\timpression\tsource\tsrc_w\tsrc_h\tdpi\tscale\timg_w\timg_h\tfg_row\tfg_col"
                "\tjitter_row\tjitter_col\twin_row\twin_col\tfg_frac\n";
    for (const Finger& f : fingers) {
        std::filesystem::create_directories(folder / db / f.name, ec);
        if (ec) return false;
        for (int i = 0; i < kEnrolCaptures + kProbes; ++i) {
            const bool probe = i >= kEnrolCaptures;
            char file[16];
            std::snprintf(file, sizeof file, "%c%d.pgm", probe ? 'p' : 'e', i + 1);
            const std::vector<uint8_t>& image = probe ? f.probes[i - kEnrolCaptures] : f.enrol[i];
            std::ofstream out(folder / db / f.name / file, std::ios::binary);
            out << pgm_bytes(image, comment_line(f, probe ? "probe" : "enrol", i + 1));
            if (!out) return false;
            const Impression& p = f.impressions[i];
            char row[320];
            std::snprintf(row, sizeof row,
                          "%s\t%s\t%s/%s/%s\t%s\t%d\tsynthetic:%llu\t%d\t%d\t500\t1.000000\t%d\t%d\t%.1f\t%.1f\t%ld\t%ld"
                          "\t%ld\t%ld\t1.000\n",
                          db.c_str(), f.name.c_str(), db.c_str(), f.name.c_str(), file,
                          probe ? "probe" : "enrol", i + 1, static_cast<unsigned long long>(f.seed), kMasterCols,
                          kMasterRows, kMasterCols, kMasterRows, kMasterRows / 2.0, kMasterCols / 2.0,
                          std::lround(p.shift_rows), std::lround(p.shift_cols),
                          std::lround(kMasterRows / 2.0 + p.shift_rows - kRows / 2.0),
                          std::lround(kMasterCols / 2.0 + p.shift_cols - kCols / 2.0));
            manifest << row;
        }
    }
    return static_cast<bool>(manifest);
}

}  // namespace synthetic
