#include "extract/slice_geometry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "extract/slice_extract.h"
#include "objects/zr_alloc.h"

namespace {

struct ContainerDeleter {
    void operator()(zr_template_container* c) const { zr_template_container_free(c); }
};
using Container = std::unique_ptr<zr_template_container, ContainerDeleter>;

Container make_container(std::initializer_list<minutia> list, uint8_t quality = 0) {
    Container c(zr_template_container_alloc());
    EXPECT_NE(nullptr, c);
    for (const minutia& m : list) c->minutiae.minutiae[c->minutiae.count++] = m;
    c->minutiae.quality = quality;
    c->minutiae.device_id = ZR_EXTRACT_DEVICE_ID;
    c->minutiae.finger_position = 3;
    c->minutiae.impression_type = 8;
    return c;
}

// Gives the container fields of rows x cols blocks of 12 pixels; block row b
// holds the value base + b in every column.
void add_fields(zr_template_container* c, uint8_t rows, uint8_t cols, uint8_t base, bool frequency = true) {
    for (zr_block_field* f : {&c->orientation, &c->frequency}) {
        if (f == &c->frequency && !frequency) break;
        f->values = static_cast<uint8_t*>(std::malloc(size_t{rows} * cols));
        for (uint32_t r = 0; r < rows; ++r) std::memset(f->values + r * cols, base + r, cols);
        f->block_rows = rows;
        f->block_cols = cols;
        f->block_size = 12;
    }
}

slice_geometry plan(uint32_t rows, uint32_t cols = 300, uint32_t r = 500, uint32_t flags = 0,
                    int32_t slice_rows = 96) {
    slice_geometry g{};
    EXPECT_EQ(ZR_OK, slice_plan(rows, cols, r, flags, slice_rows, &g));
    return g;
}

struct Merge {
    slice_merge m{};
    Merge(const slice_geometry& g, bool fields) { EXPECT_EQ(ZR_OK, slice_merge_init(&m, g, fields)); }
    ~Merge() { slice_merge_free(&m); }
};

// Runs the containers through the merge as strips 0, 1, ...
zr_status merge_all(Merge& merge, const slice_geometry& g, std::vector<Container>& strips) {
    for (uint32_t j = 0; j < strips.size(); ++j) {
        const zr_status st =
            slice_merge_strip(&merge.m, g, j, slice_strip_window_of(g, j, 100000), strips[j].get());
        if (st != ZR_OK) return st;
    }
    return ZR_OK;
}

}  // namespace

TEST(SliceGeometry, StripTableRowFromSliceRows) {
    const struct {
        int32_t slice_rows;
        uint32_t index;
    } cases[] = {{48, 0}, {59, 0}, {60, 1},  {72, 2}, {84, 3}, {95, 3},
                 {96, 4}, {97, 4}, {500, 4}, {47, 4}, {0, 4},  {-12, 4}};
    for (const auto& c : cases) EXPECT_EQ(c.index, slice_strip_table_index(c.slice_rows)) << c.slice_rows;
    EXPECT_EQ(48, slice_strip_table_row(0).strip_rows);
    EXPECT_EQ(12, slice_strip_table_row(0).step);
    EXPECT_EQ(96, slice_strip_table_row(4).strip_rows);
    EXPECT_EQ(60, slice_strip_table_row(4).step);
    for (uint32_t i = 0; i < SLICE_TABLE_ROWS; ++i) {
        EXPECT_EQ(12, slice_strip_table_row(i).margin);
        EXPECT_EQ(25, slice_strip_table_row(i).merge_distance_sq);
        EXPECT_EQ(32, slice_strip_table_row(i).merge_angle);
    }
}

TEST(SliceGeometry, WorkingResolution) {
    const struct {
        uint32_t r, target, tolerance, d;
    } cases[] = {
        {500, 500, 8, 500},  {508, 500, 8, 508},  {492, 500, 8, 492}, {509, 500, 8, 500},  // 509: nothing
                                                                                           // fits
        {1000, 500, 8, 500}, {1016, 500, 8, 508}, {254, 500, 8, 508}, {400, 500, 8, 500}, {0, 500, 8, 500},
        {500, 250, 4, 250},  {246, 250, 4, 246},  {125, 250, 4, 250}, {127, 250, 4, 254}, {240, 250, 4, 250},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.d, slice_working_resolution(c.r, c.target, c.tolerance)) << c.r << " for " << c.target;
}

TEST(SliceGeometry, PlansSizesAndStripCounts) {
    const struct {
        uint32_t rows, cols, r, flags;
        int32_t slice_rows;
        zr_status status;
        uint32_t d, h, w, s, count;
    } cases[] = {
        {96, 96, 500, 0, 96, ZR_OK, 500, 96, 96, 96, 1},  // one strip, whole
        {24, 96, 500, 0, 96, ZR_OK, 500, 24, 96, 96, 1},
        {23, 96, 500, 0, 96, ZR_BAD_ARGUMENT, 0, 0, 0, 0, 0},  // too small
        {97, 96, 500, 0, 96, ZR_OK, 500, 97, 96, 96, 2},
        {374, 388, 500, 0, 96, ZR_OK, 500, 374, 388, 96, 6},  // (374 - 97) / 60 + 2
        {300, 300, 500, 0, 96, ZR_OK, 500, 300, 300, 96, 5},
        {300, 300, 500, 0, 48, ZR_OK, 500, 300, 300, 48, 22},                   // (300 - 49) / 12 + 2
        {748, 776, 1000, 0, 96, ZR_OK, 500, 374, 388, 96, 6},                   // halved to 500 dpi
        {374, 388, 500, BAL_EXTRACT_250DPI, 96, ZR_OK, 250, 187, 194, 48, 6},   // (187 - 49) / 30 + 2
        {23, 96, 500, BAL_EXTRACT_250DPI, 96, ZR_BAD_ARGUMENT, 0, 0, 0, 0, 0},  // 11 working rows
        {24, 96, 500, BAL_EXTRACT_250DPI, 96, ZR_OK, 250, 12, 48, 48, 1},
        {300, 200, 400, 0, 96, ZR_OK, 500, 375, 250, 96, 6},      // no near resolution: the target
        {40000, 96, 500, 0, 96, ZR_BAD_ARGUMENT, 0, 0, 0, 0, 0},  // coordinates past 16 bits
        {100, 100, 0, 0, 96, ZR_UNHANDLED_INPUT, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols << " at " << c.r << " flags " << c.flags
                                        << " slice rows " << c.slice_rows);
        slice_geometry g{};
        ASSERT_EQ(c.status, slice_plan(c.rows, c.cols, c.r, c.flags, c.slice_rows, &g));
        if (c.status != ZR_OK) continue;
        EXPECT_EQ(c.d, g.working);
        EXPECT_EQ(c.h, g.rows);
        EXPECT_EQ(c.w, g.cols);
        EXPECT_EQ(c.s, g.strip_height);
        EXPECT_EQ(c.count, g.strip_count);
        // The last strip reaches the last working row and starts inside the image.
        const uint32_t step = uint32_t(g.table.step) / g.scale;
        EXPECT_GE((g.strip_count - 1) * step + g.strip_height, g.rows);
        EXPECT_LT((g.strip_count - 1) * step, g.rows);
    }
}

TEST(SliceGeometry, StripWindowsAndShifts) {
    const slice_geometry g500 = plan(374);
    const slice_geometry g1000 = plan(748, 300, 1000);
    const slice_geometry g250 = plan(374, 388, 500, BAL_EXTRACT_250DPI);
    const struct {
        const slice_geometry* g;
        uint32_t image_rows, strip, first_row, rows, shift;
    } cases[] = {
        {&g500, 374, 0, 0, 96, 0},   {&g500, 374, 1, 60, 96, 60},     {&g500, 374, 5, 300, 74, 300},
        {&g1000, 748, 0, 0, 192, 0}, {&g1000, 748, 2, 240, 192, 120}, {&g1000, 748, 5, 600, 148, 300},
        {&g250, 374, 1, 60, 96, 60}, {&g250, 374, 5, 300, 74, 300},
    };
    for (const auto& c : cases) {
        const slice_strip_window w = slice_strip_window_of(*c.g, c.strip, c.image_rows);
        EXPECT_EQ(c.first_row, w.first_row) << c.strip;
        EXPECT_EQ(c.rows, w.rows) << c.strip;
        EXPECT_EQ(c.shift, w.y_shift) << c.strip;
    }
}

// Strip 0 keeps rows below 84, strip 1 (shifted by 60) its rows strictly
// between 72 and 144 and merges them; the last strip also appends its tail.
TEST(SliceMerge, OverlapMinutiaeMergeAtTheMidpoint) {
    const slice_geometry g = plan(156);  // two strips: 0..95 and 60..155
    ASSERT_EQ(2u, g.strip_count);
    const struct {
        minutia first;   // strip 0, strip coordinates
        minutia second;  // strip 1, strip coordinates (shifted by 60)
        uint32_t count;
        minutia expected0;
    } cases[] = {
        // 4 pixels apart, angles 10 and 20, ending and bifurcation: one minutia, type 1.
        {{75, 40, 10, 1, 60, 3}, {15, 44, 20, 2, 81, 7}, 1, {75, 42, 15, 1, 70, 3}},
        // Angles 32 apart: not the same.
        {{75, 40, 10, 1, 60, 3}, {15, 44, 42, 2, 80, 7}, 2, {75, 40, 10, 1, 60, 3}},
        // Squared distance 25: not the same.
        {{75, 40, 10, 1, 60, 3}, {15, 45, 10, 1, 60, 7}, 2, {75, 40, 10, 1, 60, 3}},
        // Angles across zero: 250 and 6 differ by 12; the mean is 0.
        {{80, 40, 250, 2, 50, 3}, {22, 40, 6, 2, 50, 7}, 1, {81, 40, 0, 2, 50, 3}},
    };
    for (const auto& c : cases) {
        std::vector<Container> strips;
        strips.push_back(make_container({c.first}));
        strips.push_back(make_container({c.second}));
        Merge merge(g, false);
        ASSERT_EQ(ZR_OK, merge_all(merge, g, strips));
        ASSERT_EQ(c.count, merge.m.minutiae.count);
        const minutia& m = merge.m.minutiae.minutiae[0];
        EXPECT_EQ(c.expected0.row, m.row);
        EXPECT_EQ(c.expected0.col, m.col);
        EXPECT_EQ(c.expected0.angle, m.angle);
        EXPECT_EQ(c.expected0.type, m.type);
        EXPECT_EQ(c.expected0.quality, m.quality);
        EXPECT_EQ(c.expected0.ridge_period, m.ridge_period);
    }
}

TEST(SliceMerge, MarginsDecideWhichStripKeepsAMinutia) {
    const slice_geometry g = plan(216);  // three strips at 0, 60, 120
    ASSERT_EQ(3u, g.strip_count);
    std::vector<Container> strips;
    // Strip 0: rows 83 kept, 84 left to strip 1.
    strips.push_back(make_container({{83, 10, 0, 1, 50, 0}, {84, 20, 0, 1, 50, 0}}));
    // Strip 1 (shift 60): rows 72 and 144 are margins, 73 and 143 kept.
    strips.push_back(make_container(
        {{12, 30, 0, 1, 50, 0}, {13, 40, 0, 1, 50, 0}, {83, 50, 0, 1, 50, 0}, {84, 60, 0, 1, 50, 0}}));
    // Strip 2 (shift 120, last): 132 is margin, 133 merged or appended, tail
    // from 204 appended without comparison (even right on another minutia).
    strips.push_back(make_container({{12, 70, 0, 1, 50, 0},
                                     {13, 80, 0, 1, 50, 0},
                                     {84, 90, 0, 1, 50, 0},
                                     {84, 90, 0, 1, 50, 0},
                                     {95, 100, 0, 1, 50, 0}}));
    Merge merge(g, false);
    ASSERT_EQ(ZR_OK, merge_all(merge, g, strips));
    std::vector<std::pair<int, int>> kept;
    for (uint32_t i = 0; i < merge.m.minutiae.count; ++i)
        kept.emplace_back(merge.m.minutiae.minutiae[i].row, merge.m.minutiae.minutiae[i].col);
    const std::vector<std::pair<int, int>> expected = {{83, 10},  {73, 40},  {143, 50}, {133, 80},
                                                       {204, 90}, {204, 90}, {215, 100}};
    EXPECT_EQ(expected, kept);
}

TEST(SliceMerge, SingleStripKeepsEveryMinutia) {
    const slice_geometry g = plan(96);
    std::vector<Container> strips;
    strips.push_back(make_container({{0, 1, 0, 1, 50, 0},
                                     {50, 2, 0, 1, 50, 0},
                                     {83, 3, 0, 1, 50, 0},
                                     {84, 4, 0, 1, 50, 0},
                                     {95, 5, 0, 1, 50, 0}},
                                    40));
    Merge merge(g, false);
    ASSERT_EQ(ZR_OK, merge_all(merge, g, strips));
    EXPECT_EQ(5u, merge.m.minutiae.count);
    slice_merge_finish(&merge.m, g, BAL_ORDER_ROW);
    EXPECT_EQ(96, merge.m.minutiae.rows);
    EXPECT_EQ(300, merge.m.minutiae.cols);
    EXPECT_EQ(197, merge.m.minutiae.resolution);
    EXPECT_EQ(40, merge.m.minutiae.quality);
    EXPECT_EQ(3, merge.m.minutiae.finger_position);
    EXPECT_EQ(8, merge.m.minutiae.impression_type);
    EXPECT_EQ(ZR_EXTRACT_DEVICE_ID, merge.m.minutiae.device_id);
}

// Six strips of 64 distinct minutiae each would pass the 255 the structure
// holds: appending stops there. The qualities average over the strips that
// have one; a blank image (all 0) gives 0.
TEST(SliceMerge, CountStopsAt255AndQualityIsTheMeanOfNonZeroStrips) {
    const slice_geometry g = plan(374);
    ASSERT_EQ(6u, g.strip_count);
    const uint8_t qualities[6] = {0, 31, 40, 0, 50, 0};  // mean of 31, 40, 50 = 40.33
    std::vector<Container> strips;
    for (uint32_t j = 0; j < 6; ++j) {
        Container c = make_container({}, qualities[j]);
        for (uint32_t i = 0; i < 64; ++i)  // inside every strip's kept band, far apart
            c->minutiae.minutiae[c->minutiae.count++] = {
                int16_t(30 + (i % 8) * 6), int16_t(8 * i + 1000 * j % 7), uint8_t(j * 40 + i), 1, 50, 0};
        strips.push_back(std::move(c));
    }
    Merge merge(g, false);
    ASSERT_EQ(ZR_OK, merge_all(merge, g, strips));
    EXPECT_EQ(255u, merge.m.minutiae.count);
    slice_merge_finish(&merge.m, g, BAL_ORDER_NONE);
    EXPECT_EQ(40, merge.m.minutiae.quality);

    std::vector<Container> blank;
    for (uint32_t j = 0; j < 6; ++j) blank.push_back(make_container({}, 0));
    Merge empty(g, false);
    ASSERT_EQ(ZR_OK, merge_all(empty, g, blank));
    slice_merge_finish(&empty.m, g, BAL_ORDER_NONE);
    EXPECT_EQ(0, empty.m.minutiae.quality);
    EXPECT_EQ(0, empty.m.minutiae.count);
}

// Strip 0's block rows from row 0, later strips' from block row 2, each at
// (j x 60 + row x 12) / 12.
TEST(SliceMerge, FieldsStitchFromBlockRowTwoOfLaterStrips) {
    const slice_geometry g = plan(180, 120);  // fields of 15 x 10 blocks
    Merge merge(g, true);
    ASSERT_EQ(15u, merge.m.capacity_rows);
    ASSERT_EQ(10u, merge.m.capacity_cols);
    std::vector<Container> strips;
    strips.push_back(make_container({}));
    add_fields(strips[0].get(), 8, 10, 100);
    strips.push_back(make_container({}));
    add_fields(strips[1].get(), 10, 10, 200);
    ASSERT_EQ(ZR_OK, merge_all(merge, g, strips));
    EXPECT_EQ(15u, merge.m.field_rows);
    EXPECT_EQ(10u, merge.m.field_cols);
    // Rows 0..6 from strip 0 (100..106), rows 7..14 from strip 1 rows 2..9.
    for (uint32_t r = 0; r < 15; ++r) {
        const uint8_t expected = r < 7 ? uint8_t(100 + r) : uint8_t(200 + (r - 5));
        for (uint32_t c = 0; c < 10; ++c) {
            EXPECT_EQ(expected, merge.m.orientation[r * 10 + c]) << r;
            EXPECT_EQ(expected, merge.m.frequency[r * 10 + c]) << r;
        }
    }
    EXPECT_EQ(60, strips[1]->orientation.row_offset);
    EXPECT_EQ(60, strips[1]->frequency.row_offset);
}

// Field mismatches and fields that would not fit the merged buffers end the
// merge with 17.
TEST(SliceMerge, FieldMismatchGivesFailure) {
    const slice_geometry g = plan(180, 120);
    enum Break {
        NoFrequency,
        RowsDiffer,
        ColsDifferAcrossStrips,
        BlockSizeDiffers,
        BlockSizeZero,
        TooManyRows,
        TooManyCols
    };
    for (Break b : {NoFrequency, RowsDiffer, ColsDifferAcrossStrips, BlockSizeDiffers, BlockSizeZero,
                    TooManyRows, TooManyCols}) {
        SCOPED_TRACE(int(b));
        std::vector<Container> strips;
        strips.push_back(make_container({}));
        strips.push_back(make_container({}));
        add_fields(strips[0].get(), 8, b == TooManyCols ? 11 : 10, 0);
        add_fields(strips[1].get(), b == TooManyRows ? 11 : 10, 10, 0, b != NoFrequency);
        if (b == RowsDiffer) strips[1]->frequency.block_rows = 9;
        if (b == ColsDifferAcrossStrips)
            strips[1]->orientation.block_cols = strips[1]->frequency.block_cols = 9;
        if (b == BlockSizeDiffers) strips[1]->orientation.block_size = strips[1]->frequency.block_size = 6;
        if (b == BlockSizeZero) strips[0]->orientation.block_size = strips[0]->frequency.block_size = 0;
        Merge merge(g, true);
        EXPECT_EQ(ZR_FAILURE, merge_all(merge, g, strips));
    }
}

TEST(SlicePreferredGeometry, ProposesTheWorkingResolutionAndSize) {
    using Fn = zr_status (*)(zr_session*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t*, uint16_t*,
                             uint16_t*, uint16_t*);
    const struct {
        Fn fn;
        uint16_t v, h, rows, cols;
        uint16_t out_v, out_rows, out_cols;
    } cases[] = {
        {slice_extract_pref_idim, 1000, 1000, 748, 776, 500, 374, 388},
        {slice_extract_pref_idim, 254, 254, 150, 100, 508, 300, 200},
        {slice_extract_pref_idim, 500, 500, 374, 388, 500, 374, 388},
        {slice_extract_pref_idim, 400, 400, 300, 200, 500, 375, 250},
        {slice_extract_pref_idim, 500, 1000, 300, 400, 500, 300,
         200},  // columns by the horizontal resolution
        {slice_extract_pref_idim_speed, 1016, 1016, 100, 100, 508, 50, 50},
        {slice_extract_pref_idim_speedmem, 500, 500, 374, 388, 250, 187, 194},
        {slice_extract_pref_idim_speedmem, 254, 254, 100, 100, 254, 100, 100},
        {slice_extract_pref_idim_speedmem, 125, 125, 40000, 100, 250, 65535, 200},  // limited to 16 bits
    };
    for (const auto& c : cases) {
        uint16_t v = 0, h = 0, rows = 0, cols = 0;
        ASSERT_EQ(ZR_OK, c.fn(nullptr, c.v, c.h, c.rows, c.cols, &v, &h, &rows, &cols));
        EXPECT_EQ(c.out_v, v) << c.v;
        EXPECT_EQ(c.out_v, h) << c.v;
        EXPECT_EQ(c.out_rows, rows) << c.v;
        EXPECT_EQ(c.out_cols, cols) << c.v;
    }
    // A resolution of 0 would divide by zero: the input comes back unchanged.
    for (Fn fn : {Fn(slice_extract_pref_idim), Fn(slice_extract_pref_idim_speedmem)}) {
        uint16_t v = 1, h = 1, rows = 1, cols = 1;
        ASSERT_EQ(ZR_OK, fn(nullptr, 0, 500, 300, 200, &v, &h, &rows, &cols));
        EXPECT_EQ(0, v);
        EXPECT_EQ(500, h);
        EXPECT_EQ(300, rows);
        EXPECT_EQ(200, cols);
        ASSERT_EQ(ZR_OK, fn(nullptr, 500, 0, 300, 200, &v, &h, &rows, &cols));
        EXPECT_EQ(500, v);
        EXPECT_EQ(0, h);
    }
}

TEST(SliceMerge, MissingFieldMemoryLeavesNothingAllocated) {
    const slice_geometry g = plan(300);
    for (int32_t successes : {0, 1}) {
        slice_merge merge{};
        zr_alloc_fail_after(successes);
        const zr_status st = slice_merge_init(&merge, g, true);
        zr_alloc_fail_after(-1);
        EXPECT_EQ(ZR_NO_MEMORY, st);
        EXPECT_EQ(nullptr, merge.orientation);
        EXPECT_EQ(nullptr, merge.frequency);
    }
    slice_merge merge{};
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_OK, slice_merge_init(&merge, g, false));  // no fields, nothing to allocate
    zr_alloc_fail_after(-1);
}
