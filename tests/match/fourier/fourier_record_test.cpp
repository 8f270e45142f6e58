#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "formats/zr_fourier_part.h"
#include "match/fourier/zr_fourier.h"
#include "match/fourier/zr_fourier_internal.h"
#include "fourier_test_support.h"

namespace {

using spectral_test::bytes;
using spectral_test::Grid;
using spectral_test::make_record;
using spectral_test::RecordOptions;

// Plain-form Fourier part of a grid, 2 or 3 bytes a block.
bytes plain_part(const Grid& g, uint32_t bytes_per_block, uint8_t block_size = 12) {
    bytes p = {block_size, 0xFE, uint8_t(g.rows), 0x03, uint8_t(g.cols)};
    for (size_t i = 0; i < g.cells.size(); i += 2) {
        p.push_back(g.cells[i]);
        p.push_back(g.cells[i + 1]);
        if (bytes_per_block == 3) p.push_back(0xA5);
    }
    return p;
}

// Record form: the plain form wrapped, then a second record {type, M, value}.
bytes record_part(const bytes& plain, uint8_t second_type, const bytes& second) {
    bytes p;
    p.reserve(plain.size() + second.size() + 7);
    for (uint8_t b : {uint8_t(0x00), uint8_t(0x00), uint8_t(plain.size() >> 8), uint8_t(plain.size())}) {
        p.push_back(b);
    }
    p.insert(p.end(), plain.begin(), plain.end());
    if (second_type != 0) {
        p.push_back(second_type);
        p.push_back(uint8_t(second.size() >> 8));
        p.push_back(uint8_t(second.size()));
        p.insert(p.end(), second.begin(), second.end());
    }
    return p;
}

bytes packed_streams(const bytes& orientation, const bytes& frequency) {
    bytes v;
    v.reserve(orientation.size() + frequency.size() + 4);
    v.push_back(uint8_t(orientation.size() >> 8));
    v.push_back(uint8_t(orientation.size()));
    v.insert(v.end(), orientation.begin(), orientation.end());
    v.push_back(uint8_t(frequency.size() >> 8));
    v.push_back(uint8_t(frequency.size()));
    v.insert(v.end(), frequency.begin(), frequency.end());
    return v;
}

struct Converted {
    zr_status status = ZR_FAILURE;
    bytes record;
};

Converted convert(const bytes& part, int32_t skip_fine = 0, const uint8_t* quality = nullptr,
                  const uint8_t* hint = nullptr) {
    Converted c;
    uint8_t* record = nullptr;
    uint16_t length = 0;
    c.status = zr_fusion_spectral_to_matcher(part.data(), int32_t(part.size()), &record, &length,
                                             nullptr, nullptr, nullptr, nullptr, skip_fine,
                                             quality, hint);
    if (record != nullptr) {
        c.record.assign(record, record + length);
        std::free(record);
    }
    return c;
}

Grid small_grid(uint32_t cols, uint32_t rows, uint32_t seed) {
    std::mt19937 rng(seed);
    return spectral_test::random_grid(rng, cols, rows, 20);
}

TEST(SpectralRecord, ConversionWritesHeaderCellsHintAndQualityInOrder) {
    const Grid g = small_grid(3, 2, 1);
    const uint8_t quality = 77;
    const uint8_t hint[4] = {1, 2, 3, 4};
    uint32_t y = 0, x = 0;
    uint16_t rows = 0, cols = 0;
    const bytes part = plain_part(g, 2, 0x1C);
    uint8_t* record = nullptr;
    uint16_t length = 0;
    ASSERT_EQ(ZR_OK, zr_fusion_spectral_to_matcher(part.data(), int32_t(part.size()), &record,
                                                   &length, &y, &x, &rows, &cols, 0, &quality,
                                                   hint));
    bytes expected = {0x5B, 0xDA, 2, 0x0C, 0x01, 0xF4, 3, 2, 0, 0};
    expected.insert(expected.end(), g.cells.begin(), g.cells.end());
    expected.insert(expected.end(), hint, hint + 4);
    expected.push_back(quality);
    EXPECT_EQ(expected, bytes(record, record + length));
    EXPECT_EQ(0xFFFFFFFEu, y);  // signed offsets are sign-extended
    EXPECT_EQ(3u, x);
    EXPECT_EQ(2, rows);
    EXPECT_EQ(3, cols);
    std::free(record);
}

TEST(SpectralRecord, ThreeBytesABlockGiveTheSameRecordAsTwo) {
    const Grid g = small_grid(5, 4, 2);
    const Converted two = convert(plain_part(g, 2));
    const Converted three = convert(plain_part(g, 3));
    ASSERT_EQ(ZR_OK, two.status);
    ASSERT_EQ(ZR_OK, three.status);
    EXPECT_EQ(two.record, three.record);
    // The same in record form, where a fine grid follows the first record.
    const Converted wrapped = convert(record_part(plain_part(g, 3), 0, {}));
    EXPECT_EQ(two.record, wrapped.record);
}

TEST(SpectralRecord, HeaderQueryNeedsNoBuffer) {
    const Grid g = small_grid(4, 3, 3);
    const bytes part = plain_part(g, 2);
    uint16_t rows = 0, cols = 0;
    EXPECT_EQ(ZR_OK, zr_fusion_spectral_to_matcher(part.data(), int32_t(part.size()), nullptr,
                                                   nullptr, nullptr, nullptr, &rows, &cols, 0,
                                                   nullptr, nullptr));
    EXPECT_EQ(3, rows);
    EXPECT_EQ(4, cols);
}

TEST(SpectralRecord, ConversionFailuresTable) {
    const Grid g = small_grid(2, 2, 4);
    const bytes plain = plain_part(g, 2);
    bytes wrong_second_byte = record_part(plain, 0, {});
    wrong_second_byte[1] = 1;
    bytes first_too_long = record_part(plain, 0, {});
    first_too_long.pop_back();
    bytes odd_length = plain;
    odd_length.push_back(0);
    const bytes second_too_long = [&] {
        bytes p = record_part(plain, 2, packed_streams({0x00}, {0x00}));
        p.pop_back();
        return p;
    }();
    const bytes streams_not_adding_up = [&] {
        bytes v = packed_streams({0x00}, {0x00});
        v.push_back(0);  // M is one more than P + Q + 4
        return record_part(plain, 2, v);
    }();
    const bytes stream_past_m = record_part(plain, 2, bytes{0x00, 0x09, 0x00});
    struct Case {
        const char* name;
        bytes part;
        zr_status expected;
    } cases[] = {
        {"shorter than 4", {1, 2, 3}, ZR_UNHANDLED_INPUT},
        {"block fields shorter than 5", {12, 0, 1, 0}, ZR_UNHANDLED_INPUT},
        {"neither 5 + 2n nor 5 + 3n", odd_length, ZR_UNHANDLED_INPUT},
        {"record form, second byte not 0", wrong_second_byte, ZR_BAD_FORMAT},
        {"first record longer than the data", first_too_long, ZR_BAD_DATA},
        {"second record longer than the data", second_too_long, ZR_NOT_FOUND},
        {"stream lengths other than M", streams_not_adding_up, ZR_NOT_FOUND},
        {"stream running past M", stream_past_m, ZR_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Converted out = convert(c.part);
        EXPECT_EQ(c.expected, out.status);
        EXPECT_TRUE(out.record.empty());
    }
    // Skipping the fine grid does not look at the second record.
    EXPECT_EQ(ZR_OK, convert(second_too_long, 1).status);
}

TEST(SpectralRecord, RecordPastSixtyFourKilobytesIsRefusedBeforeAllocating) {
    Grid g;
    g.cols = 255;
    g.rows = 255;
    g.cells.assign(size_t(255) * 255 * 2, 1);
    const Converted out = convert(plain_part(g, 2));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, out.status);
    // 10 + 2n + 1 = 65535 bytes is the largest record: n = 32762.
    Grid fits;
    fits.cols = 254;
    fits.rows = 128;
    fits.cells.assign(size_t(254) * 128 * 2, 1);
    const uint8_t quality = 1;
    EXPECT_EQ(ZR_OK, convert(plain_part(fits, 2), 0, &quality).status);
}

TEST(SpectralRecord, RawFineGridIsCopied) {
    std::mt19937 rng(5);
    const Grid g = spectral_test::random_grid(rng, 3, 2, 10, true);
    const Converted out = convert(record_part(plain_part(g, 2), 1, g.fine));
    ASSERT_EQ(ZR_OK, out.status);
    RecordOptions o;
    o.with_fine = true;
    EXPECT_EQ(make_record(g, o), out.record);
}

// Packed fine grids written by the template writer come back as block value
// + 4 x step around the block value in the centre.
TEST(SpectralRecord, PackedFineGridRoundTripsThroughTheTemplateWriter) {
    const uint8_t rows = 3, cols = 4;
    std::mt19937 rng(6);
    bytes ori(rows * cols), freq(rows * cols), ori_fine(ori.size() * 9), freq_fine(ori.size() * 9);
    for (auto& v : ori) v = uint8_t(rng());
    for (auto& v : freq) v = uint8_t(1 + rng() % 200);
    auto block_of = [&](uint32_t i) { return (i / (3 * cols) / 3) * cols + (i % (3 * cols)) / 3; };
    for (uint32_t i = 0; i < ori_fine.size(); ++i) {
        ori_fine[i] = uint8_t(ori[block_of(i)] + int(rng() % 17) - 8);
        freq_fine[i] = uint8_t(freq[block_of(i)] + int(rng() % 17) - 8);
    }
    const spectral_test::FineFields fields = spectral_test::fine_fields(rows, cols, ori, freq, ori_fine, freq_fine);
    uint8_t* part = nullptr;
    uint32_t part_length = 0;
    ASSERT_EQ(ZR_OK, zr_spectral_part_write(&fields.orientation, &fields.frequency, 1, &part, &part_length));
    const Converted out = convert(bytes(part, part + part_length));
    std::free(part);
    ASSERT_EQ(ZR_OK, out.status);
    ASSERT_EQ(10u + 20u * rows * cols, out.record.size());
    const uint8_t* fine = out.record.data() + 10 + 2 * rows * cols;
    for (uint32_t i = 0; i < ori_fine.size(); ++i) {
        const uint32_t b = block_of(i);
        const bool centre = (i / (3 * cols)) % 3 == 1 && (i % (3 * cols)) % 3 == 1;
        SCOPED_TRACE(i);
        if (centre) {
            EXPECT_EQ(ori[b], fine[2 * i]);
            EXPECT_EQ(freq[b], fine[2 * i + 1]);
        } else {
            EXPECT_EQ(zr_fine_grid_restore(ori[b], zr_fine_grid_step(ori[b], ori_fine[i])),
                      fine[2 * i]);
            EXPECT_EQ(zr_fine_grid_restore(freq[b], zr_fine_grid_step(freq[b], freq_fine[i])),
                      fine[2 * i + 1]);
        }
    }
}

TEST(SpectralRecord, PackedStepsWrapAndShortStreamsLeaveBlockValues) {
    // One block: orientation 250, frequency 9. Orientation stream: +2 (101)
    // then -1 (11) and nothing more; frequency stream empty.
    Grid g;
    g.cols = 1;
    g.rows = 1;
    g.cells = {250, 9};
    const bytes part = record_part(plain_part(g, 2), 2, packed_streams({0xB8}, {}));
    const Converted out = convert(part);
    ASSERT_EQ(ZR_OK, out.status);
    const uint8_t* fine = out.record.data() + 12;
    const bytes expected = {2, 9, 246, 9, 250, 9,  // (0,0) +2 wraps to 2; (0,1) -1; (0,2) 0
                            250, 9, 250, 9, 250, 9, 250, 9, 250, 9, 250, 9};
    EXPECT_EQ(expected, bytes(fine, fine + 18));
}

TEST(SpectralRecord, Unpack5vResults) {
    int8_t steps[8];
    uint32_t decoded = 0;
    const uint8_t exact[] = {0x1B};  // 00 01 10|1 1... : 0, +1, +2, then 1 bit left
    EXPECT_EQ(0u, unpack5v(exact, 1, 3, steps, &decoded));
    EXPECT_EQ(3u, decoded);
    EXPECT_EQ((std::vector<int8_t>{0, 1, 2}), std::vector<int8_t>(steps, steps + 3));
    const uint8_t extra[] = {0x40, 0x00};
    EXPECT_EQ(ZR_UNPACK5V_LEFT_OVER, unpack5v(extra, 2, 2, steps, &decoded));
    EXPECT_EQ(ZR_UNPACK5V_SHORT, unpack5v(exact, 1, 8, steps, &decoded));
    EXPECT_EQ(ZR_UNPACK5V_SHORT, unpack5v(nullptr, 0, 1, steps, &decoded));
    EXPECT_EQ(0u, unpack5v(nullptr, 0, 0, steps, &decoded));
}

TEST(SpectralRecord, ReaderTableOfChecksAndRemainders) {
    const Grid g = small_grid(2, 2, 7);
    const uint8_t hint[4] = {10, 20, 30, 40};
    RecordOptions checked;
    checked.checked = true;
    bytes bad_check = make_record(g, checked);
    bad_check[12] ^= 0x10;
    bytes unchecked_garbage = make_record(g);
    unchecked_garbage[12] ^= 0x10;  // no check when bytes 8 and 9 are 0
    bytes two_left = make_record(g);
    two_left.push_back(0);
    two_left.push_back(0);
    RecordOptions with_hint;
    with_hint.hint = hint;
    RecordOptions hint_quality = with_hint;
    hint_quality.with_quality = true;
    hint_quality.quality = 66;
    RecordOptions quality_only;
    quality_only.with_quality = true;
    quality_only.quality = 5;
    bytes zero_block = make_record(g);
    zero_block[3] = 0;
    bytes zero_res = make_record(g);
    zero_res[4] = zero_res[5] = 0;
    bytes bad_magic = make_record(g);
    bad_magic[1] = 0xDB;
    bytes bad_version = make_record(g);
    bad_version[2] = 3;
    bytes short_cells = make_record(g);
    short_cells.resize(12);
    bytes nine_bytes = make_record(g);
    nine_bytes.resize(9);
    struct Case {
        const char* name;
        bytes record;
        zr_status expected;
        bool hint;
        uint8_t quality;
    } cases[] = {
        {"unchecked, any exclusive-or", unchecked_garbage, ZR_OK, false, 0},
        {"checked, exclusive-or 0", make_record(g, checked), ZR_OK, false, 0},
        {"checked, exclusive-or not 0", bad_check, ZR_UNHANDLED_INPUT, false, 0},
        {"2 bytes after the cells", two_left, ZR_UNHANDLED_INPUT, false, 0},
        {"4 bytes: hint, quality 0", make_record(g, with_hint), ZR_OK, true, 0},
        {"5 bytes: hint and quality", make_record(g, hint_quality), ZR_OK, true, 66},
        {"1 byte: quality", make_record(g, quality_only), ZR_OK, false, 5},
        {"block size 0", zero_block, ZR_UNHANDLED_INPUT, false, 0},
        {"resolution 0", zero_res, ZR_UNHANDLED_INPUT, false, 0},
        {"wrong magic", bad_magic, ZR_UNHANDLED_INPUT, false, 0},
        {"wrong version", bad_version, ZR_UNHANDLED_INPUT, false, 0},
        {"cells past the end", short_cells, ZR_UNHANDLED_INPUT, false, 0},
        {"9 bytes", nine_bytes, ZR_UNHANDLED_INPUT, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t cols = 0, rows = 0, block = 0, quality = 99;
        uint16_t res = 0;
        const uint8_t *cells = nullptr, *fine = nullptr, *hint_out = nullptr;
        EXPECT_EQ(c.expected,
                  zr_spectral_unpack_template(c.record.data(), uint16_t(c.record.size()), &cols,
                                              &rows, &block, &res, &cells, &fine, &quality,
                                              &hint_out));
        if (c.expected != ZR_OK) continue;
        EXPECT_EQ(2, cols);
        EXPECT_EQ(2, rows);
        EXPECT_EQ(c.record.data() + 10, cells);
        EXPECT_EQ(nullptr, fine);
        EXPECT_EQ(c.hint, hint_out != nullptr);
        if (c.hint) {
            EXPECT_EQ(0, std::memcmp(hint, hint_out, 4));
        }
        EXPECT_EQ(c.quality, quality);
    }
}

TEST(SpectralRecord, ImageSizeFromRecord) {
    const Grid g = small_grid(8, 15, 8);
    RecordOptions o;
    o.resolution = 1000;
    uint16_t w = 0, h = 0;
    EXPECT_EQ(ZR_OK, zr_spectral_to_idim(make_record(g, o).data(), 250, &w, &h));
    EXPECT_EQ(48, w);  // 8 x 12 x 500 / 1000
    EXPECT_EQ(90, h);
    bytes bad = make_record(g);
    bad[0] = 0;
    EXPECT_EQ(ZR_IMAGE_LIB_CODE_6, zr_spectral_to_idim(bad.data(), 250, &w, &h));
    EXPECT_EQ(192, w);
    EXPECT_EQ(ZR_BAD_FORMAT, zr_spectral_to_idim(bad.data(), 9, &w, &h));
    bytes zero_res = make_record(g);
    zero_res[4] = zero_res[5] = 0;
    EXPECT_EQ(ZR_OK, zr_spectral_to_idim(zero_res.data(), 250, &w, &h));
    EXPECT_EQ(192, h);
}

uint32_t required(const bytes& probe, const bytes& reference, uint8_t flags = 0) {
    return zr_spectral_match_required_mem(probe.data(), uint32_t(probe.size()), reference.data(),
                                          uint32_t(reference.size()), flags);
}

TEST(SpectralRecord, RequiredMemoryFormulaAndLimits) {
    std::mt19937 rng(9);
    const Grid probe = spectral_test::random_grid(rng, 8, 15, 0, true);
    const Grid ref = spectral_test::random_grid(rng, 10, 12, 0, true);
    // Same pitch: W = 8, H = 15.
    EXPECT_EQ(15u * (16 + 16) + 12u * (20 + 16), required(make_record(probe), make_record(ref)));
    // Square canvas: 15 x 15.
    EXPECT_EQ(15u * (30 + 16) + 12u * (20 + 16),
              required(make_record(probe), make_record(ref), ZR_SPECTRAL_SQUARE_CANVAS));
    // A probe fine grid counts both grids in fine cells.
    RecordOptions fine;
    fine.with_fine = true;
    EXPECT_EQ(45u * (48 + 16) + 36u * (60 + 16),
              required(make_record(probe, fine), make_record(ref)));
    // Probe block 6 against reference block 12: s = 16, W = 4, H = 7.
    RecordOptions half;
    half.block_size = 6;
    EXPECT_EQ(7u * (8 + 16) + 12u * (20 + 16), required(make_record(probe, half), make_record(ref)));
    // At least 48.
    const Grid one = spectral_test::random_grid(rng, 1, 1, 0);
    EXPECT_EQ(48u, required(make_record(one), make_record(one)));
    // A canvas side of 0 gives 1 (probe block 1 against reference block 15).
    RecordOptions tiny, coarse;
    tiny.block_size = 1;
    coarse.block_size = 15;
    const Grid narrow = spectral_test::random_grid(rng, 7, 3, 0);
    EXPECT_EQ(1u, required(make_record(narrow, tiny), make_record(narrow, coarse)));
    // Invalid records give 0.
    bytes broken = make_record(probe);
    broken[0] = 0;
    EXPECT_EQ(0u, required(broken, make_record(ref)));
    EXPECT_EQ(0u, required(make_record(probe), broken));
}

TEST(SpectralRecord, RequiredMemoryRefusesGridsBeyondTheCanvasLimits) {
    std::mt19937 rng(10);
    const Grid ref = spectral_test::random_grid(rng, 10, 10, 0);
    struct Case {
        const char* name;
        uint32_t probe_cols, probe_rows;
        bool fine;
        uint8_t probe_block;
        uint32_t expected_nonzero;
    } cases[] = {
        {"119 columns", 119, 2, false, 12, 1},
        {"120 columns", 120, 2, false, 12, 0},
        {"fine grid of 39 blocks across", 39, 2, true, 12, 1},
        {"fine grid of 40 blocks across (120 cells)", 40, 2, true, 12, 0},
        {"fine grid of 86 block rows (258 cells)", 2, 86, true, 12, 0},
        // A probe block of 15 against 12 stretches 100 columns to 125.
        {"canvas widened by the scale", 100, 2, false, 15, 0},
        {"largest requirement below 65536", 119, 255, false, 12, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Grid probe = spectral_test::random_grid(rng, c.probe_cols, c.probe_rows, 0, c.fine);
        RecordOptions o;
        o.with_fine = c.fine;
        o.block_size = c.probe_block;
        Grid reference = ref;
        if (c.fine) reference = spectral_test::random_grid(rng, 10, 10, 0, true);
        RecordOptions ro;
        ro.with_fine = c.fine;
        const uint32_t bytes_needed = required(make_record(probe, o), make_record(reference, ro));
        EXPECT_EQ(c.expected_nonzero != 0, bytes_needed != 0) << bytes_needed;
    }
    // 255 x (2 x 119 + 16) + 20 x (2 x 20 + 16) = 65890 bytes: refused.
    const Grid deepest = spectral_test::random_grid(rng, 119, 255, 0);
    const Grid larger_ref = spectral_test::random_grid(rng, 20, 20, 0);
    EXPECT_EQ(0u, required(make_record(deepest), make_record(larger_ref)));
    // A reference wider than 119 columns is refused the same way.
    const Grid wide = spectral_test::random_grid(rng, 120, 2, 0);
    EXPECT_EQ(0u, required(make_record(ref), make_record(wide)));
}

TEST(SpectralRecord, ExtremeScaleDoesNotWrapUnderTheLimit) {
    // Probe block 15 at 1 dpi against a reference of block 1 at 65535 dpi:
    // s = 15 x 32 x 65535 = 31456800, W = cols x s >> 5 passes 32 bits for
    // 137 columns; it must be refused, not wrapped.
    std::mt19937 rng(11);
    const Grid probe = spectral_test::random_grid(rng, 119, 1, 0);
    const Grid ref = spectral_test::random_grid(rng, 2, 2, 0);
    RecordOptions p, r;
    p.block_size = 15;
    p.resolution = 1;
    r.block_size = 1;
    r.resolution = 65535;
    EXPECT_EQ(0u, required(make_record(probe, p), make_record(ref, r)));
}

// The quick match against histograms counted in the test.
TEST(SpectralRecord, QuickMatchAgainstDirectHistograms) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 20; ++trial) {
        const Grid a = spectral_test::random_grid(rng, 1 + rng() % 20, 1 + rng() % 20, 30);
        const Grid b = spectral_test::random_grid(rng, 1 + rng() % 20, 1 + rng() % 20, 30);
        uint32_t ha[12] = {}, hb[12] = {}, fa[12] = {}, fb[12] = {};
        auto count = [](const Grid& g, uint32_t* ho, uint32_t* hf) {
            for (size_t i = 0; i < g.cells.size(); i += 2) {
                if (g.cells[i + 1] == 0) continue;
                const int o = (g.cells[i] + 10) / 21;
                ++ho[o >= 12 ? 0 : o];
                int f = (2 * g.cells[i + 1] - 114) / 21;
                ++hf[f < 0 ? 0 : (f > 11 ? 11 : f)];
            }
        };
        count(a, ha, fa);
        count(b, hb, fb);
        uint32_t best = 0, freq = 0;
        for (int s = 0; s < 12; ++s) {
            uint32_t sum = 0;
            for (int k = 0; k < 12; ++k) sum += std::min(ha[k], hb[(k + s) % 12]);
            best = std::max(best, sum);
        }
        for (int k = 0; k < 12; ++k) freq += std::min(fa[k], fb[k]);
        const bytes ra = make_record(a), rb = make_record(b);
        zr_spectral_quick_scores out{};
        ASSERT_EQ(ZR_OK, zr_spectral_quick_match(ra.data(), uint32_t(ra.size()), rb.data(),
                                                 uint16_t(rb.size()), &out));
        EXPECT_EQ(best, out.orientation_agreement);
        EXPECT_EQ(freq, out.frequency_agreement);
    }
}

TEST(SpectralRecord, QuickMatchFrequencyBinsAndFailures) {
    // One valid probe cell against one reference cell: agreement 1 when both
    // fall in the same frequency bin.
    struct Case {
        uint8_t probe_frequency;
        uint8_t same_bin;
        uint8_t other_bin;
    } cases[] = {{40, 57, 68}, {120, 130, 110}, {200, 255, 172}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.probe_frequency));
        Grid p, same, other;
        p.cols = same.cols = other.cols = 1;
        p.rows = same.rows = other.rows = 1;
        p.cells = {0, c.probe_frequency};
        same.cells = {0, c.same_bin};
        other.cells = {0, c.other_bin};
        const bytes rp = make_record(p), rs = make_record(same), ro = make_record(other);
        zr_spectral_quick_scores out{};
        ASSERT_EQ(ZR_OK, zr_spectral_quick_match(rp.data(), uint32_t(rp.size()), rs.data(),
                                                 uint16_t(rs.size()), &out));
        EXPECT_EQ(1, out.frequency_agreement);
        ASSERT_EQ(ZR_OK, zr_spectral_quick_match(rp.data(), uint32_t(rp.size()), ro.data(),
                                                 uint16_t(ro.size()), &out));
        EXPECT_EQ(0, out.frequency_agreement);
    }
    Grid empty;
    const bytes re = make_record(empty);
    const bytes rg = make_record(small_grid(3, 3, 13));
    bytes broken = rg;
    broken[2] = 1;
    zr_spectral_quick_scores out{7, 7};
    EXPECT_EQ(ZR_OK, zr_spectral_quick_match(re.data(), uint32_t(re.size()), rg.data(),
                                             uint16_t(rg.size()), &out));
    EXPECT_EQ(0, out.orientation_agreement);
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_spectral_quick_match(broken.data(), uint32_t(broken.size()),
                                                          rg.data(), uint16_t(rg.size()), &out));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_spectral_quick_match(rg.data(), uint32_t(rg.size()),
                                                          broken.data(), uint16_t(broken.size()),
                                                          &out));
}

TEST(SpectralRecord, DecisionThresholds) {
    struct Case {
        uint16_t score;
        int32_t level;
        uint32_t flags;
        uint32_t decision;
    } cases[] = {
        {6078, 1, 0, 2},     {6079, 1, 0, 1},     {6699, 1, ZR_SPECTRAL_MODE_360, 2},
        {6700, 1, ZR_SPECTRAL_MODE_360, 1}, {12776, 12, 0, 2}, {12777, 12, 0, 1},
        {12963, 12, ZR_SPECTRAL_MODE_360, 1},
    };
    for (const Case& c : cases) {
        uint32_t decision = 0;
        ASSERT_EQ(ZR_OK, zr_spectral_decision(c.score, c.level, &decision, c.flags));
        EXPECT_EQ(c.decision, decision) << c.score << " at level " << c.level;
    }
    uint32_t decision = 0;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_spectral_decision(100, 0, &decision, 0));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_spectral_decision(100, 13, &decision, 0));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_spectral_decision(100, 1, nullptr, 0));
}

}  // namespace
