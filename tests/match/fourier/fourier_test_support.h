// Builders of Fourier matcher records and smooth synthetic block fields for
// the Fourier matcher tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "formats/bal_template_container.h"

namespace spectral_test {

using bytes = std::vector<uint8_t>;

// A block grid: cols x rows cells {orientation, frequency}, optionally with
// its fine grid (3 cols x 3 rows cells).
struct Grid {
    uint32_t cols = 0;
    uint32_t rows = 0;
    bytes cells;  // 2 bytes a cell
    bytes fine;   // 18 bytes a block, or empty

    uint8_t* cell(uint32_t x, uint32_t y) { return &cells[(y * cols + x) * 2]; }
    uint8_t* fine_cell(uint32_t x, uint32_t y) { return &fine[(y * 3 * cols + x) * 2]; }
};

// An orientation and a frequency field of rows x cols blocks of 12 pixels
// with their fine grids, over the caller's bytes (kept alive by the caller),
// as the template writer takes them.
struct FineFields {
    zr_block_field orientation{};
    zr_block_field frequency{};
};

inline FineFields fine_fields(uint8_t rows, uint8_t cols, bytes& ori, bytes& freq, bytes& ori_fine,
                              bytes& freq_fine) {
    FineFields out;
    for (zr_block_field* f : {&out.orientation, &out.frequency}) {
        f->flags = ZR_FEATURE_ENABLE | ZR_FIELD_FINE;
        f->block_rows = rows;
        f->block_cols = cols;
        f->block_size = 12;
    }
    out.orientation.values = ori.data();
    out.orientation.fine = ori_fine.data();
    out.frequency.values = freq.data();
    out.frequency.fine = freq_fine.data();
    return out;
}

struct RecordOptions {
    uint8_t block_size = 12;
    uint16_t resolution = 500;
    bool with_fine = false;
    const uint8_t* hint = nullptr;  // 4 bytes
    bool with_quality = false;
    uint8_t quality = 0;
    bool checked = false;  // set byte 8 and fix the exclusive-or
};

inline bytes make_record(const Grid& g, const RecordOptions& o = {}) {
    bytes r;
    r.reserve(10 + g.cells.size() + g.fine.size() + 5);
    for (uint8_t b : {uint8_t(0x5B), uint8_t(0xDA), uint8_t(0x02), o.block_size,
                      uint8_t(o.resolution >> 8), uint8_t(o.resolution & 0xFF), uint8_t(g.cols),
                      uint8_t(g.rows), uint8_t(0), uint8_t(0)}) {
        r.push_back(b);
    }
    r.insert(r.end(), g.cells.begin(), g.cells.end());
    if (o.with_fine) r.insert(r.end(), g.fine.begin(), g.fine.end());
    if (o.hint != nullptr) r.insert(r.end(), o.hint, o.hint + 4);
    if (o.with_quality) r.push_back(o.quality);
    if (o.checked) {
        r[8] = 1;
        uint8_t x = 0;
        for (uint8_t b : r) x ^= b;
        r[9] ^= x;
    }
    return r;
}

// A smooth random field over the plane: orientation a sum of slow waves,
// frequency in 40..100 (never 0).
struct SmoothField {
    double ax[3], ay[3], ph[3], amp[3];
    double fx, fy, fph;

    explicit SmoothField(uint32_t seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        for (int i = 0; i < 3; ++i) {
            ax[i] = 0.15 + 0.35 * u(rng);
            ay[i] = 0.15 + 0.35 * u(rng);
            if (u(rng) < 0.5) ax[i] = -ax[i];
            ph[i] = 6.283 * u(rng);
            amp[i] = 25.0 + 20.0 * u(rng);
        }
        fx = 0.2 + 0.2 * u(rng);
        fy = 0.2 + 0.2 * u(rng);
        fph = 6.283 * u(rng);
    }
    double orientation(double x, double y) const {
        double v = 0;
        for (int i = 0; i < 3; ++i) v += amp[i] * std::sin(ax[i] * x + ay[i] * y + ph[i]);
        return v;
    }
    double frequency(double x, double y) const {
        return 70.0 + 30.0 * std::sin(fx * x + fph) * std::cos(fy * y);
    }
};

inline uint8_t wrap_byte(double v) {
    long r = std::lround(v);
    return uint8_t(((r % 256) + 256) % 256);
}

// Samples the field on a cols x rows block grid; `to_field` maps a block
// position to field coordinates and `turn` is subtracted from orientations.
template <class Map>
Grid sample_grid(const SmoothField& f, uint32_t cols, uint32_t rows, Map to_field, double turn,
                 bool with_fine) {
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.cells.resize(size_t(cols) * rows * 2);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < cols; ++x) {
            double fxp, fyp;
            to_field(double(x), double(y), &fxp, &fyp);
            g.cell(x, y)[0] = wrap_byte(f.orientation(fxp, fyp) - turn);
            g.cell(x, y)[1] = uint8_t(std::lround(f.frequency(fxp, fyp)));
        }
    }
    if (with_fine) {
        g.fine.resize(size_t(cols) * rows * 18);
        for (uint32_t y = 0; y < 3 * rows; ++y) {
            for (uint32_t x = 0; x < 3 * cols; ++x) {
                double fxp, fyp;
                to_field((double(x) - 1.0) / 3.0, (double(y) - 1.0) / 3.0, &fxp, &fyp);
                g.fine_cell(x, y)[0] = wrap_byte(f.orientation(fxp, fyp) - turn);
                g.fine_cell(x, y)[1] = uint8_t(std::lround(f.frequency(fxp, fyp)));
            }
        }
    }
    return g;
}

// Random canvas content: cols x rows cells with a share of invalid ones.
inline Grid random_grid(std::mt19937& rng, uint32_t cols, uint32_t rows, uint32_t invalid_percent,
                        bool with_fine = false) {
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.cells.resize(size_t(cols) * rows * 2);
    for (size_t i = 0; i < g.cells.size(); i += 2) {
        g.cells[i] = uint8_t(rng());
        g.cells[i + 1] = (rng() % 100) < invalid_percent ? 0 : uint8_t(1 + rng() % 255);
    }
    if (with_fine) {
        g.fine.resize(size_t(cols) * rows * 18);
        for (size_t i = 0; i < g.fine.size(); i += 2) {
            g.fine[i] = uint8_t(rng());
            g.fine[i + 1] = (rng() % 100) < invalid_percent ? 0 : uint8_t(1 + rng() % 255);
        }
    }
    return g;
}

}  // namespace spectral_test
