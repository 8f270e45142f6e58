#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "formats/zr_fourier_part.h"
#include "objects/zr_alloc.h"

namespace {

using bytes = std::vector<uint8_t>;

// A block field over vectors owned by the test.
struct Field {
    bytes values;
    bytes fine;
    zr_block_field field{};

    Field(uint8_t rows, uint8_t cols, uint8_t block_size, bool with_fine, uint32_t seed) {
        std::mt19937 rng(seed);
        values.resize(size_t(rows) * cols);
        for (auto& v : values) v = uint8_t(rng());
        field.flags = ZR_FEATURE_ENABLE;
        field.block_rows = rows;
        field.block_cols = cols;
        field.block_size = block_size;
        field.values = values.data();
        if (with_fine) {
            fine.resize(values.size() * 9);
            // Cells near their block value, with some far off and some wrapping.
            const uint32_t fine_cols = 3u * cols;
            for (uint32_t i = 0; i < fine.size(); ++i) {
                const uint32_t block = (i / fine_cols / 3) * cols + (i % fine_cols) / 3;
                fine[i] = uint8_t(values[block] + int(rng() % 21) - 10);
            }
            field.flags |= ZR_FIELD_FINE;
            field.fine = fine.data();
        }
    }
};

// Independent coder: the prefix code as a string of '0'/'1', packed MSB first.
bytes oracle_pack(const std::vector<int8_t>& steps) {
    std::string bits;
    for (int8_t s : steps) {
        switch (s) {
            case 0: bits += "00"; break;
            case 1: bits += "01"; break;
            case -1: bits += "11"; break;
            case 2: bits += "101"; break;
            case -2: bits += "100"; break;
        }
    }
    bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] |= uint8_t(0x80 >> (i % 8));
    return out;
}

// The step rule written out case by case.
int oracle_step(int block, int cell) {
    const int d = cell - block;
    if (d >= 6) return 2;
    if (d <= -6) return -2;
    if (d >= 2) return 1;
    if (d <= -2) return -1;
    return 0;
}

struct Written {
    zr_status status;
    bytes data;
};

Written write_part(const Field& o, const Field& f, bool record_form) {
    uint8_t* part = nullptr;
    uint32_t length = 0;
    const zr_status status = zr_spectral_part_write(&o.field, &f.field, record_form, &part, &length);
    Written w{status, {}};
    if (part != nullptr) w.data.assign(part, part + length);
    std::free(part);
    return w;
}

TEST(FineGridStep, QuantisesAndRestoresAsTheStepRuleSays) {
    for (int block : {0, 3, 128, 250, 255}) {
        for (int cell = 0; cell < 256; ++cell) {
            ASSERT_EQ(oracle_step(block, cell), zr_fine_grid_step(uint8_t(block), uint8_t(cell)))
                << block << " " << cell;
        }
    }
    // Six or more above restores as block + 8; one below as the block itself;
    // restoring wraps modulo 256.
    EXPECT_EQ(108, zr_fine_grid_restore(100, zr_fine_grid_step(100, 106)));
    EXPECT_EQ(100, zr_fine_grid_restore(100, zr_fine_grid_step(100, 99)));
    EXPECT_EQ(2, zr_fine_grid_restore(250, 2));
    EXPECT_EQ(248, zr_fine_grid_restore(0, -2));
}

TEST(FineGridCode, PacksLikeTheBitStringOracleAndUnpacksBack) {
    std::mt19937 rng(7);
    for (uint32_t count : {0u, 1u, 3u, 8u, 17u, 400u}) {
        std::vector<int8_t> steps(count);
        for (auto& s : steps) s = int8_t(int(rng() % 5) - 2);
        const bytes expected = oracle_pack(steps);
        bytes out(count * 3 / 8 + 2, 0xEE);
        const uint32_t written = zr_fine_grid_pack(steps.data(), count, out.data(), uint32_t(out.size()));
        ASSERT_EQ(expected.size(), written);
        EXPECT_EQ(expected, bytes(out.begin(), out.begin() + written));

        std::vector<int8_t> back(count + 4, 9);
        EXPECT_EQ(count, zr_fine_grid_unpack(out.data(), written, count, back.data()));
        EXPECT_EQ(steps, std::vector<int8_t>(back.begin(), back.begin() + count));
    }
}

TEST(FineGridCode, StopsAtTheCapacityAndAtTheEndOfTheStream) {
    const std::vector<int8_t> steps = {2, 2, 2, 2};  // 12 bits
    uint8_t out[1] = {};
    EXPECT_EQ(1u, zr_fine_grid_pack(steps.data(), 4, out, 1));  // two codes fit in 8 bits
    EXPECT_EQ(0xB4, out[0]);                                    // 101 101 00

    int8_t back[4] = {};
    // The two pad bits read as one more zero step.
    EXPECT_EQ(3u, zr_fine_grid_unpack(out, 1, 4, back));
    EXPECT_EQ((std::vector<int8_t>{2, 2, 0}), std::vector<int8_t>(back, back + 3));
    // A three-bit code cut by the end of the stream is not decoded.
    const uint8_t cut[1] = {0x02};  // 00 00 00 10|
    EXPECT_EQ(3u, zr_fine_grid_unpack(cut, 1, 8, back));
    EXPECT_EQ(0u, zr_fine_grid_unpack(cut, 0, 8, back));
}

TEST(SpectralPartWriter, PlainFormInterleavesBlocksBehindTheHeader) {
    Field o(2, 3, 12, false, 1), f(2, 3, 12, false, 2);
    o.field.row_offset = -3;
    o.field.col_offset = 0x105;  // only its low byte is stored
    const Written w = write_part(o, f, false);
    ASSERT_EQ(ZR_OK, w.status);
    bytes expected = {12, 0xFD, 2, 0x05, 3};
    for (size_t i = 0; i < 6; ++i) {
        expected.push_back(o.values[i]);
        expected.push_back(f.values[i]);
    }
    EXPECT_EQ(expected, w.data);

    zr_spectral_part_view view{};
    ASSERT_EQ(ZR_OK, zr_spectral_part_read(w.data.data(), uint32_t(w.data.size()), &view));
    EXPECT_EQ(-3, view.row_offset);
    EXPECT_EQ(5, view.col_offset);
    EXPECT_EQ(2, view.bytes_per_block);
    EXPECT_EQ(ZR_FINE_NONE, view.fine_kind);
    EXPECT_EQ(ZR_NOT_FOUND, zr_spectral_part_fine_grids(&view, nullptr, nullptr));
}

TEST(SpectralPartWriter, RecordFormRestoresEveryFineCellFromItsStep) {
    Field o(15, 8, 12, true, 3), f(15, 8, 12, true, 4);
    const Written w = write_part(o, f, true);
    ASSERT_EQ(ZR_OK, w.status);
    const uint32_t n = 15 * 8;
    ASSERT_EQ(0, w.data[0]);
    ASSERT_EQ(0, w.data[1]);
    ASSERT_EQ(5 + 2 * n, uint32_t(w.data[2] << 8 | w.data[3]));
    const uint8_t* fine = w.data.data() + 4 + 5 + 2 * n;
    EXPECT_EQ(ZR_SPECTRAL_RECORD_PACKED_FINE, fine[0]);
    const uint32_t m = uint32_t(fine[1] << 8 | fine[2]);
    const uint32_t p = uint32_t(fine[3] << 8 | fine[4]);
    const uint32_t q = uint32_t(fine[5 + p] << 8 | fine[6 + p]);
    EXPECT_EQ(p + q + 4, m);
    EXPECT_EQ(w.data.size(), 4 + 5 + 2 * n + 3 + m);

    zr_spectral_part_view view{};
    ASSERT_EQ(ZR_OK, zr_spectral_part_read(w.data.data(), uint32_t(w.data.size()), &view));
    ASSERT_EQ(ZR_FINE_PACKED, view.fine_kind);
    bytes orientation(9 * n), frequency(9 * n);
    ASSERT_EQ(ZR_OK, zr_spectral_part_fine_grids(&view, orientation.data(), frequency.data()));
    for (const Field* field : {&o, &f}) {
        const bytes& got = field == &o ? orientation : frequency;
        for (uint32_t i = 0; i < 9 * n; ++i) {
            const uint32_t row = i / 24, col = i % 24;
            const uint8_t block = field->values[(row / 3) * 8 + col / 3];
            const bool centre = row % 3 == 1 && col % 3 == 1;
            const uint8_t expected =
                centre ? block : uint8_t(block + 4 * oracle_step(block, field->fine[i]));
            ASSERT_EQ(expected, got[i]) << "cell " << i;
        }
    }
}

TEST(SpectralPartWriter, RefusesFieldsThatDoNotAgreeAndSixteenBitOverflow) {
    Field o(2, 3, 12, true, 1), f(3, 2, 12, true, 2), empty(0, 5, 12, false, 3);
    EXPECT_EQ(ZR_WRONG_TYPE, write_part(o, f, false).status);
    EXPECT_EQ(ZR_WRONG_TYPE, write_part(empty, empty, false).status);
    Field plain(2, 3, 12, false, 4);
    EXPECT_EQ(ZR_BAD_ARGUMENT, write_part(plain, plain, true).status);

    // 255 x 255 blocks: L = 5 + 2n passes 16 bits; the plain form is fine.
    Field big_o(255, 255, 12, true, 5), big_f(255, 255, 12, true, 6);
    EXPECT_EQ(ZR_BAD_DATA, write_part(big_o, big_f, true).status);
    EXPECT_EQ(ZR_OK, write_part(big_o, big_f, false).status);
    // 181 x 181 blocks: L fits, but the two streams together (M) do not.
    Field mid_o(181, 181, 12, true, 7), mid_f(181, 181, 12, true, 8);
    EXPECT_EQ(ZR_BAD_DATA, write_part(mid_o, mid_f, true).status);

    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, write_part(o, o, false).status);
    zr_alloc_fail_after(-1);
}

TEST(SpectralPartReader, BoundsEveryLengthByThePart) {
    // Record form over one block: 00 00 L=7 | 0C 00 01 00 01 o f | 02 M P .. Q ..
    const bytes good = {0, 0, 0, 7, 12, 0, 1, 0, 1, 0x40, 0x50, 2, 0, 6, 0, 1, 0x55, 0, 1, 0x0F};
    struct Case {
        const char* name;
        bytes data;
        zr_status expected;
        zr_fine_grid_kind fine;
    };
    auto with = [&](size_t at, uint8_t value) {
        bytes b = good;
        b[at] = value;
        return b;
    };
    const Case cases[] = {
        {"whole", good, ZR_OK, ZR_FINE_PACKED},
        {"empty", {}, ZR_BAD_DATA, ZR_FINE_NONE},
        {"record header cut", {0, 0, 0}, ZR_BAD_DATA, ZR_FINE_NONE},
        {"record type 1 first", with(1, 1), ZR_BAD_FORMAT, ZR_FINE_NONE},
        {"L past the part", with(3, 40), ZR_BAD_DATA, ZR_FINE_NONE},
        {"L neither 2n nor 3n", {12, 0, 2, 0, 2, 1, 2, 3, 4, 5, 6, 7}, ZR_BAD_DATA, ZR_FINE_NONE},
        {"fields under 5 bytes", {12, 0, 0, 0}, ZR_BAD_DATA, ZR_FINE_NONE},
        {"three bytes a block", {12, 0, 1, 0, 2, 1, 2, 3, 4, 5, 6}, ZR_OK, ZR_FINE_NONE},
        {"M past the part", with(13, 7), ZR_BAD_DATA, ZR_FINE_NONE},
        {"P past M", with(15, 5), ZR_BAD_DATA, ZR_FINE_NONE},
        {"Q past M", with(18, 2), ZR_BAD_DATA, ZR_FINE_NONE},
        {"unknown second record", with(11, 7), ZR_OK, ZR_FINE_NONE},
        {"raw record of the wrong size", with(11, 1), ZR_OK, ZR_FINE_NONE},
        {"second record cut to 2 bytes", bytes(good.begin(), good.begin() + 13), ZR_OK, ZR_FINE_NONE},
    };
    for (const Case& c : cases) {
        zr_spectral_part_view view{};
        EXPECT_EQ(c.expected, zr_spectral_part_read(c.data.data(), uint32_t(c.data.size()), &view))
            << c.name;
        EXPECT_EQ(c.fine, view.fine_kind) << c.name;
    }

    // A raw fine grid of exactly 18n bytes is taken as it is.
    bytes raw = {0, 0, 0, 7, 12, 0, 1, 0, 1, 0x40, 0x50, 1, 0, 18};
    for (uint8_t i = 0; i < 18; ++i) raw.push_back(i);
    zr_spectral_part_view view{};
    ASSERT_EQ(ZR_OK, zr_spectral_part_read(raw.data(), uint32_t(raw.size()), &view));
    ASSERT_EQ(ZR_FINE_RAW, view.fine_kind);
    uint8_t orientation[9], frequency[9];
    ASSERT_EQ(ZR_OK, zr_spectral_part_fine_grids(&view, orientation, frequency));
    EXPECT_EQ(16, orientation[8]);
    EXPECT_EQ(17, frequency[8]);
}

TEST(SpectralPartReader, ShortStreamLeavesTheMissingCellsAtTheBlockValue) {
    // One block, orientation stream of one byte (steps +1 +1 +1 +1), empty
    // frequency stream.
    const bytes part = {0, 0, 0, 7, 12, 0, 1, 0, 1, 100, 50, 2, 0, 5, 0, 1, 0x55, 0, 0};
    zr_spectral_part_view view{};
    ASSERT_EQ(ZR_OK, zr_spectral_part_read(part.data(), uint32_t(part.size()), &view));
    uint8_t orientation[9], frequency[9];
    ASSERT_EQ(ZR_OK, zr_spectral_part_fine_grids(&view, orientation, frequency));
    EXPECT_EQ((bytes{104, 104, 104, 104, 100, 100, 100, 100, 100}), bytes(orientation, orientation + 9));
    EXPECT_EQ(bytes(9, 50), bytes(frequency, frequency + 9));
}

}  // namespace
