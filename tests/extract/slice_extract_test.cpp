// The slice extractor end to end: its refusals, every output type, and the
// tall whole impressions of the shared data set against template building on
// the whole image.
#include "extract/slice_extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "extract/bal_extract_template.h"
#include "formats/bal_template_container.h"
#include "extract/slice_geometry.h"
#include "formats/zr_iso19794_2.h"
#include "fp_test_data.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_template.h"

namespace {

constexpr uint32_t kIso2005 = 4;      // template type written as ISO/IEC 19794-2:2005
constexpr uint8_t kOrder = 0x15;      // quality descending, the extractors' default order
constexpr uint8_t kMaxMinutiae = 64;  // the extractors' default maximum

// Every `every`-th whole impression of both databases (374 and 300 rows).
std::vector<fp_test::GreyImage> whole_images(size_t every = 1) {
    std::vector<std::filesystem::path> paths;
    for (const char* db : {"fvc2002_db1", "fvc2000_db1"}) {
        const auto dir = fp_test::captures_dir() / db / "full";
        if (!std::filesystem::exists(dir)) continue;
        for (const auto& e : std::filesystem::directory_iterator(dir)) paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<fp_test::GreyImage> out;
    for (size_t i = 0; i < paths.size(); i += every) out.push_back(fp_test::read_pgm(paths[i]));
    return out;
}

const fp_test::GreyImage& first_whole_image() {
    static const fp_test::GreyImage image = [] {
        auto all = whole_images(80);
        return all.empty() ? fp_test::GreyImage{} : all.front();
    }();
    return image;
}

struct ImageDeleter {
    void operator()(zr_image* i) const { zr_image_delete(i); }
};
struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using Image = std::unique_ptr<zr_image, ImageDeleter>;
using Template = std::unique_ptr<zr_template, TemplateDeleter>;

// The first rows of the image as an image object.
Image make_image(const fp_test::GreyImage& g, uint16_t rows, uint16_t dpi = 500, uint16_t hdpi = 500) {
    return Image(zr_image_create(rows, uint16_t(g.cols), dpi, hdpi, g.pixels.data(), 0));
}

zr_status slice(zr_image* image, uint32_t type, Template* out, uint16_t flags = 0) {
    zr_template* t = nullptr;
    const zr_status st = slice_extract_template_ext(nullptr, image, ZR_FINGER_ANONYMOUS, type, &t, flags);
    out->reset(t);
    return st;
}

bool same_minutiae(const minutiastruct& a, const minutiastruct& b) {
    if (a.count != b.count) return false;
    for (uint32_t i = 0; i < a.count; ++i) {
        const minutia& x = a.minutiae[i];
        const minutia& y = b.minutiae[i];
        if (x.row != y.row || x.col != y.col || x.angle != y.angle || x.type != y.type) return false;
    }
    return true;
}

minutiastruct read_iso(const zr_template* t) {
    minutiastruct m{};
    EXPECT_EQ(ZR_OK,
              zr_iso19794_2_to_minutiastruct(zr_template_get_data(t), zr_template_get_data_size(t), &m));
    return m;
}

// The whole image through template building, as the embedded path runs it.
minutiastruct whole_extraction(const fp_test::GreyImage& g, uint16_t rows) {
    uint8_t* record = nullptr;
    uint32_t length = 0;
    minutiastruct m{};
    std::vector<uint8_t> pixels(g.pixels.begin(), g.pixels.begin() + size_t{rows} * g.cols);
    EXPECT_EQ(BAL_OK, bal_extract_template(pixels.data(), rows, uint16_t(g.cols), 0, 0, 0, 0, kMaxMinutiae,
                                           kOrder, 0, BAL_FORMAT_ISO19794_2, &record, &length));
    if (record != nullptr) {
        EXPECT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(record, length, &m));
    }
    EXPECT_EQ(BAL_OK, bal_free_template(record));
    return m;
}

// Within a margin of an edge that lies inside the image (the top of every
// strip but the first, the bottom of every strip but the last).
bool near_strip_edge(int32_t row, const slice_geometry& g) {
    const int32_t band = g.table.margin;
    for (uint32_t j = 0; j < g.strip_count; ++j) {
        const int32_t top = int32_t(j) * g.table.step;
        const int32_t bottom = top + g.table.strip_rows;
        if ((j > 0 && std::abs(row - top) <= band) ||
            (j + 1 < g.strip_count && std::abs(row - bottom) <= band))
            return true;
    }
    return false;
}

bool has_within(const minutiastruct& list, const minutia& m, int32_t pixels) {
    for (uint32_t i = 0; i < list.count; ++i)
        if (std::abs(list.minutiae[i].row - m.row) <= pixels &&
            std::abs(list.minutiae[i].col - m.col) <= pixels)
            return true;
    return false;
}

}  // namespace

TEST(SliceExtract, RefusesWhatItCannotCut) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage& g = first_whole_image();
    ASSERT_FALSE(g.pixels.empty());
    const struct {
        const char* what;
        uint16_t rows, vdpi, hdpi;
        uint32_t type;
        uint16_t flags;
        zr_status expected;
    } cases[] = {
        {"resolutions differ", 200, 500, 508, kIso2005, 0, ZR_UNHANDLED_INPUT},
        {"resolution 0", 200, 0, 0, kIso2005, 0, ZR_UNHANDLED_INPUT},
        {"23 rows", 23, 500, 500, kIso2005, 0, ZR_BAD_ARGUMENT},
        {"11 rows at 250 dpi", 23, 500, 500, kIso2005, BAL_EXTRACT_250DPI, ZR_BAD_ARGUMENT},
        {"template type 7", 200, 500, 500, 7, 0, ZR_IMAGE_LIB_CODE_6},
        {"template type 80", 200, 500, 500, 'P', 0, ZR_IMAGE_LIB_CODE_6},
        {"both speed flags", 200, 500, 500, kIso2005, BAL_EXTRACT_HALF_FREQUENCY | BAL_EXTRACT_250DPI,
         zr_rc_convert_from_zri(BAL_UNSUPPORTED)},  // template building's refusal, mapped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Image image = make_image(g, c.rows, c.vdpi, c.hdpi);
        Template t;
        EXPECT_EQ(c.expected, slice(image.get(), c.type, &t, c.flags));
        EXPECT_EQ(nullptr, t);
    }
    zr_template* t = nullptr;
    EXPECT_EQ(ZR_BAD_ARGUMENT, slice_extract_template(nullptr, nullptr, ZR_FINGER_ANONYMOUS, kIso2005, &t));
    Image image = make_image(g, 200);
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              slice_extract_template(nullptr, image.get(), ZR_FINGER_ANONYMOUS, kIso2005, nullptr));
}

// Every output type of the table, with the type it is created as; the
// records carry the working size and 197 pixels a centimetre.
TEST(SliceExtract, WritesEveryTemplateType) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage& g = first_whole_image();
    Image image = make_image(g, uint16_t(g.rows));
    const struct {
        uint32_t type, created;
    } cases[] = {{1, 1}, {4, 1}, {3, 3}, {6, 3}, {2, 2}, {5, 2}, {67, 67}, {73, 67}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Template t;
        ASSERT_EQ(ZR_OK, slice(image.get(), c.type, &t));
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(c.created, zr_template_get_type(t.get()));
        EXPECT_GT(zr_template_get_data_size(t.get()), 0u);
    }
    for (uint32_t type : {1u, 4u}) {
        Template t;
        ASSERT_EQ(ZR_OK, slice(image.get(), type, &t));
        const minutiastruct m = read_iso(t.get());
        EXPECT_EQ(g.rows, m.rows);
        EXPECT_EQ(g.cols, m.cols);
        EXPECT_EQ(197, m.resolution);
        EXPECT_GT(m.count, 20);
        EXPECT_EQ(zr_iso19794_2_get_length(zr_template_get_data(t.get()), zr_template_get_data_size(t.get())),
                  zr_template_get_data_size(t.get()));
    }
}

// 96 rows or fewer at slice rows 96: one strip, every minutia of it in the
// result, so the result is template building's on the same rows.
TEST(SliceExtract, OneStripImageMatchesWholeExtraction) {
    FP_REQUIRE_CAPTURES();
    for (const fp_test::GreyImage& g : whole_images(40)) {
        for (uint16_t rows : {uint16_t(96), uint16_t(60)}) {
            Image image = make_image(g, rows);
            Template t;
            ASSERT_EQ(ZR_OK, slice(image.get(), kIso2005, &t));
            const minutiastruct sliced = read_iso(t.get());
            const minutiastruct whole = whole_extraction(g, rows);
            EXPECT_GT(whole.count, 0);
            EXPECT_TRUE(same_minutiae(whole, sliced)) << int(whole.count) << " vs " << int(sliced.count);
        }
    }
}

// Whole impressions (374 and 300 rows) cut into six and five strips: the
// minutiae that template building finds on the whole image away from the
// strip edges are found by the slices too, within 2 pixels, nearly always.
// The same image gives the same bytes twice, also at 250 dpi.
TEST(SliceExtract, TallImagesAgreeWithWholeExtraction) {
    FP_REQUIRE_CAPTURES();
    const auto images = whole_images(4);
    ASSERT_EQ(40u, images.size());
    size_t compared = 0, agreed = 0, all = 0, all_agreed = 0;
    for (const fp_test::GreyImage& g : images) {
        slice_geometry geometry{};
        ASSERT_EQ(ZR_OK, slice_plan(g.rows, g.cols, 500, 0, 96, &geometry));
        Image image = make_image(g, uint16_t(g.rows));
        Template t;
        ASSERT_EQ(ZR_OK, slice(image.get(), kIso2005, &t));
        const minutiastruct sliced = read_iso(t.get());
        const minutiastruct whole = whole_extraction(g, uint16_t(g.rows));
        for (uint32_t i = 0; i < whole.count; ++i) {
            ++all;
            if (has_within(sliced, whole.minutiae[i], 2)) ++all_agreed;
            if (near_strip_edge(whole.minutiae[i].row, geometry)) continue;
            ++compared;
            if (has_within(sliced, whole.minutiae[i], 2)) ++agreed;
        }
    }
    std::printf(
        "slice vs whole: %zu of %zu minutiae away from the strip edges agree within 2 px (%.1f %%); "
        "%zu of %zu in all\n",
        agreed, compared, 100.0 * double(agreed) / double(compared), all_agreed, all);
    EXPECT_GT(compared, 300u);
    EXPECT_GE(agreed * 100, compared * 85);

    const fp_test::GreyImage& g = images.front();
    Image image = make_image(g, uint16_t(g.rows));
    for (uint32_t type : {kIso2005, 67u}) {
        for (uint16_t flags : {uint16_t(0), uint16_t(BAL_EXTRACT_250DPI)}) {
            Template a, b;
            ASSERT_EQ(ZR_OK, slice(image.get(), type, &a, flags));
            ASSERT_EQ(ZR_OK, slice(image.get(), type, &b, flags));
            ASSERT_EQ(zr_template_get_data_size(a.get()), zr_template_get_data_size(b.get()));
            EXPECT_EQ(0, std::memcmp(zr_template_get_data(a.get()), zr_template_get_data(b.get()),
                                     zr_template_get_data_size(a.get())));
        }
    }
}

// At 250 dpi the strips are half as tall and the coordinates still count at
// 500 dpi: the record has the image's size and most minutiae sit where the
// 500 dpi slices put them.
TEST(SliceExtract, HalfResolutionKeepsFullResolutionCoordinates) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage& g = first_whole_image();
    Image image = make_image(g, uint16_t(g.rows));
    Template full, half;
    ASSERT_EQ(ZR_OK, slice(image.get(), kIso2005, &full));
    ASSERT_EQ(ZR_OK, slice_extract_template_speedmem(nullptr, image.get(), ZR_FINGER_ANONYMOUS, kIso2005,
                                                     reinterpret_cast<zr_template**>(&half)));
    const minutiastruct a = read_iso(full.get());
    const minutiastruct b = read_iso(half.get());
    EXPECT_EQ(2 * (g.rows / 2), b.rows);
    EXPECT_EQ(2 * (g.cols / 2), b.cols);
    size_t near = 0;
    for (uint32_t i = 0; i < b.count; ++i) near += has_within(a, b.minutiae[i], 6) ? 1 : 0;
    EXPECT_GE(near * 2, size_t{b.count}) << near << " of " << int(b.count);
}
