#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "liveness/nex_math.h"
#include "liveness/zr_pad.h"
#include "liveness/zr_pad_stages.h"
#include "liveness_test_nets.h"
#include "objects/zr_alloc.h"

namespace {

using fp_test::OwnedNetwork;

constexpr uint16_t kRows = 40;
constexpr uint16_t kCols = 36;

// {190, 1}: weight 1.0 on feature 0 only, features ranging over 0..1000.
OwnedNetwork first_feature_network() {
    OwnedNetwork n = fp_test::zero_network({190, 1});
    n.weights[0] = 2048;
    return n;
}

// Owns a model record over a network and a threshold table.
struct TestModel {
    OwnedNetwork owned;
    nex_network net{};
    zr_pad_threshold table[ZR_PAD_LEVELS] = {};
    zr_pad_model model{};

    explicit TestModel(OwnedNetwork n) : owned(std::move(n)) {
        net = owned.net();
        for (uint32_t i = 0; i < ZR_PAD_LEVELS; ++i) table[i] = {static_cast<uint16_t>(100 * i), 0xBEEF};
        model.present = 1;
        model.network = &net;
        model.thresholds = table;
        model.min_rows = 16;
        model.max_rows = 400;
        model.vertical_resolution = 500;
        model.min_cols = 16;
        model.max_cols = 299;
        model.horizontal_resolution = 500;
    }
    TestModel(const TestModel&) = delete;
};

zr_image* make_image(uint16_t rows, uint16_t cols, uint16_t vdpi = 500, uint16_t hdpi = 500,
                     uint8_t fill = 90) {
    std::vector<uint8_t> px(static_cast<size_t>(rows) * cols, fill);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(fill + i % 7);
    return zr_image_create(rows, cols, vdpi, hdpi, px.data(), 0);
}

struct StagesScope {
    const zr_pad_stages* previous;
    explicit StagesScope(const zr_pad_stages* s) : previous(zr_pad_set_stages(s)) {}
    ~StagesScope() { zr_pad_set_stages(previous); }
};

// What the recording stages saw on their last call.
struct StageRecord {
    int32_t rows = 0, cols = 0, block_rows = 0, block_cols = 0, dpi = 0;
    bool work_was_copy = false;
    bool features_saw_mask = false;
    bool features_saw_image = false;
    const uint8_t* image_pixels = nullptr;
};
StageRecord g_record;
int32_t g_feature_value = 700;
uint32_t g_maskgen_error = 0;

void recording_maskgen(uint8_t* work, int32_t rows, int32_t cols, uint8_t*, uint8_t*, uint8_t*,
                       int32_t block_rows, int32_t block_cols, int32_t dpi) {
    g_record.rows = rows;
    g_record.cols = cols;
    g_record.block_rows = block_rows;
    g_record.block_cols = block_cols;
    g_record.dpi = dpi;
    g_record.work_was_copy =
        g_record.image_pixels != nullptr && work != g_record.image_pixels &&
        std::equal(work, work + rows * cols, g_record.image_pixels);
    std::fill(work, work + rows * cols, uint8_t{5});
    if (g_maskgen_error != 0) nex_error(g_maskgen_error);
}

void recording_features(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record) {
    g_record.features_saw_image = image == g_record.image_pixels;
    g_record.features_saw_mask = std::all_of(mask, mask + rows * cols, [](uint8_t m) { return m == 5; });
    record[0] = g_feature_value;
}

const zr_pad_stages kRecordingStages = {recording_maskgen, recording_features};

class PadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_record = {};
        g_feature_value = 700;
        g_maskgen_error = 0;
    }
    TestModel model{first_feature_network()};
    StagesScope stages{&kRecordingStages};
};

// 700 -> input 1433 -> sum 1433 -> 1508 -> 1508 x 900 >> 11 = 662, + 50.
constexpr uint16_t kScoreOf700 = 712;

TEST_F(PadTest, ScoresThroughStagesAndNetwork) {
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    ASSERT_NE(nullptr, pad);
    zr_image* image = make_image(kRows, kCols);
    g_record.image_pixels = zr_image_get_pixels(image);
    uint16_t score = 0;
    ASSERT_EQ(ZR_OK, zr_pad_get_score(pad, image, &score));
    EXPECT_EQ(kScoreOf700, score);
    EXPECT_EQ(kScoreOf700, zr_image_get_liveness_score(image));
    EXPECT_EQ(kRows, g_record.rows);
    EXPECT_EQ(kCols, g_record.cols);
    EXPECT_EQ(3, g_record.block_rows);  // ceil(40 / 16)
    EXPECT_EQ(3, g_record.block_cols);  // ceil(36 / 16)
    EXPECT_EQ(500, g_record.dpi);
    EXPECT_TRUE(g_record.work_was_copy);
    EXPECT_TRUE(g_record.features_saw_image);
    EXPECT_TRUE(g_record.features_saw_mask);

    uint16_t count = 1;
    int32_t* features = nullptr;
    ASSERT_EQ(ZR_OK, zr_pad_get_score_ex(pad, image, &score, &count, &features));
    EXPECT_EQ(kScoreOf700, score);
    EXPECT_EQ(ZR_PAD_FEATURE_COUNT, count);
    ASSERT_NE(nullptr, features);
    EXPECT_EQ(700, features[0]);
    EXPECT_EQ(0, features[189]);
    std::free(features);

    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, AnyResolutionProcessesAtTheImagesOwn) {
    model.model.vertical_resolution = ZR_PAD_ANY_RESOLUTION;
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols, 700, 700);
    uint16_t score = 0;
    EXPECT_EQ(ZR_OK, zr_pad_get_score(pad, image, &score));
    EXPECT_EQ(700, g_record.dpi);
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, RefusedCallsKeepNoScore) {
    struct Case {
        const char* what;
        void (*setup)(zr_pad_model&);
        uint16_t rows, cols, vdpi, hdpi;
        zr_status want;
    };
    const OwnedNetwork small = fp_test::zero_network({189, 1});
    static nex_network wrong_inputs;
    wrong_inputs = small.net();
    static nex_network one_layer;
    one_layer = model.net;
    one_layer.layer_count = 1;
    const Case cases[] = {
        {"model not present", [](zr_pad_model& m) { m.present = 0; }, kRows, kCols, 500, 500, ZR_UNHANDLED_INPUT},
        // The model's size limits are inclusive.
        {"299 columns, max 299", [](zr_pad_model&) {}, kRows, 299, 500, 500, ZR_OK},
        {"400 rows, max 400", [](zr_pad_model&) {}, 400, kCols, 500, 500, ZR_OK},
        {"16 rows and columns, min 16", [](zr_pad_model&) {}, 16, 16, 500, 500, ZR_OK},
        {"300 columns, max 299", [](zr_pad_model&) {}, kRows, 300, 500, 500, ZR_PAD_IMAGE_REFUSED},
        {"too few columns", [](zr_pad_model&) {}, kRows, 15, 500, 500, ZR_PAD_IMAGE_REFUSED},
        {"too many rows", [](zr_pad_model&) {}, 401, kCols, 500, 500, ZR_PAD_IMAGE_REFUSED},
        {"horizontal dpi differs", [](zr_pad_model&) {}, kRows, kCols, 500, 501, ZR_PAD_IMAGE_REFUSED},
        {"vertical dpi differs", [](zr_pad_model&) {}, kRows, kCols, 400, 500, ZR_PAD_IMAGE_REFUSED},
        {"horizontal any", [](zr_pad_model& m) { m.horizontal_resolution = ZR_PAD_ANY_RESOLUTION; }, kRows, kCols, 300, 301, ZR_OK},
        {"no network", [](zr_pad_model& m) { m.network = nullptr; }, kRows, kCols, 500, 500, ZR_PAD_MODEL_UNUSABLE},
        {"189 inputs", [](zr_pad_model& m) { m.network = &wrong_inputs; }, kRows, kCols, 500, 500, ZR_PAD_MODEL_UNUSABLE},
        {"one layer", [](zr_pad_model& m) { m.network = &one_layer; }, kRows, kCols, 500, 500, ZR_PAD_MODEL_UNUSABLE},
        {"zero rows", [](zr_pad_model& m) { m.min_rows = 0; }, 0, kCols, 500, 500, ZR_WRONG_TYPE},
    };
    for (const Case& c : cases) {
        zr_pad_model m = model.model;
        c.setup(m);
        zr_pad* pad = zr_pad_create(nullptr, &m);
        zr_image* image = make_image(c.rows, c.cols, c.vdpi, c.hdpi);
        ASSERT_NE(nullptr, image) << c.what;
        uint16_t score = 1;
        EXPECT_EQ(c.want, zr_pad_get_score(pad, image, &score)) << c.what;
        if (c.want != ZR_OK) {
            EXPECT_EQ(ZR_PAD_NO_SCORE, score) << c.what;
            EXPECT_EQ(ZR_IMAGE_NO_LIVENESS_SCORE, zr_image_get_liveness_score(image)) << c.what;
        }
        uint16_t count = 9;
        int32_t* features = reinterpret_cast<int32_t*>(&count);
        EXPECT_EQ(c.want, zr_pad_get_score_ex(pad, image, &score, &count, &features)) << c.what;
        if (c.want != ZR_OK) {
            EXPECT_EQ(0, count);
            EXPECT_EQ(nullptr, features);
        }
        std::free(features);
        zr_image_delete(image);
        zr_pad_delete(pad);
    }
}

TEST_F(PadTest, ImageWithoutPixelsIsWrongType) {
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    zr_image_mr_weak(image);
    ASSERT_EQ(1u, zr_image_mr_release(image, nullptr));  // pixels freed
    uint16_t score = 0;
    EXPECT_EQ(ZR_WRONG_TYPE, zr_pad_get_score(pad, image, &score));
    EXPECT_EQ(ZR_PAD_NO_SCORE, score);
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, MissingArguments) {
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    uint16_t score = 1, count = 1;
    int32_t* features = nullptr;
    uint32_t live = 7;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_score(nullptr, image, &score));
    EXPECT_EQ(ZR_PAD_NO_SCORE, score);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_score(pad, nullptr, &score));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_score(pad, image, nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_score_ex(pad, image, &score, nullptr, &features));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_score_ex(pad, image, &score, &count, nullptr));
    EXPECT_EQ(0, count);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_decision(pad, image, 7, &live));
    EXPECT_EQ(7u, live);  // level checked before live is written
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_decision(pad, image, 0, nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_pad_get_decision(nullptr, image, 0, &live));
    EXPECT_EQ(0u, live);
    EXPECT_EQ(nullptr, zr_pad_create(nullptr, nullptr));
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, DecisionComparesUnsignedThresholds) {
    struct Case {
        uint16_t threshold;
        uint32_t live;
    };
    const Case cases[] = {
        {kScoreOf700, 1},
        {kScoreOf700 + 1, 0},
        {0, 1},
        {40000, 0},  // read unsigned: above every score
        {0xFFFF, 0},
    };
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    for (const Case& c : cases) {
        model.table[3].threshold = c.threshold;
        uint32_t live = 9;
        EXPECT_EQ(ZR_OK, zr_pad_get_decision(pad, image, 3, &live)) << c.threshold;
        EXPECT_EQ(c.live, live) << c.threshold;
        EXPECT_EQ(c.threshold, zr_pad_get_liveness_threshold(pad, 3));
    }
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, ThresholdOf500DecidesAScoreOf500) {
    TestModel zero(fp_test::zero_network({190, 1}));  // every image scores 500
    zr_pad* pad = zr_pad_create(nullptr, &zero.model);
    zr_image* image = make_image(kRows, kCols);
    uint32_t live = 0;
    zero.table[0].threshold = 500;
    EXPECT_EQ(ZR_OK, zr_pad_get_decision(pad, image, 0, &live));
    EXPECT_EQ(1u, live);
    zero.table[0].threshold = 501;
    EXPECT_EQ(ZR_OK, zr_pad_get_decision(pad, image, 0, &live));
    EXPECT_EQ(0u, live);
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, ThresholdsNeedAPresentModelWithTable) {
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    EXPECT_EQ(600u, zr_pad_get_liveness_threshold(pad, 6));
    EXPECT_EQ(ZR_PAD_NO_THRESHOLD, zr_pad_get_liveness_threshold(pad, 7));
    EXPECT_EQ(ZR_PAD_NO_THRESHOLD, zr_pad_get_liveness_threshold(nullptr, 0));
    model.model.thresholds = nullptr;
    EXPECT_EQ(ZR_PAD_NO_THRESHOLD, zr_pad_get_liveness_threshold(pad, 0));
    uint32_t live = 1;
    EXPECT_EQ(ZR_PAD_MODEL_UNUSABLE, zr_pad_get_decision(pad, image, 0, &live));
    EXPECT_EQ(0u, live);
    model.model.thresholds = model.table;
    model.model.present = 0;
    EXPECT_EQ(ZR_PAD_NO_THRESHOLD, zr_pad_get_liveness_threshold(pad, 0));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_pad_get_decision(pad, image, 0, &live));
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, StageErrorsMapAndDoNotOutliveTheCall) {
    struct Case {
        uint32_t word;
        zr_status want;
    };
    const Case cases[] = {
        {1, ZR_FAILURE}, {2, ZR_UNHANDLED_INPUT}, {3, ZR_NO_MEMORY}, {8, ZR_UNHANDLED_INPUT},
        {16, ZR_PAD_IMAGE_REFUSED}, {22, ZR_PAD_IMAGE_REFUSED}, {23, ZR_FAILURE},
        {26, ZR_UNHANDLED_INPUT}, {27, ZR_BAD_ARGUMENT}, {28, ZR_FAILURE}, {0xFFFFFFFF, ZR_FAILURE},
    };
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    for (const Case& c : cases) {
        g_maskgen_error = c.word;
        uint16_t score = 0;
        EXPECT_EQ(c.want, zr_pad_get_score(pad, image, &score)) << c.word;
        EXPECT_EQ(ZR_PAD_NO_SCORE, score);
        g_maskgen_error = 0;
        EXPECT_EQ(ZR_OK, zr_pad_get_score(pad, image, &score)) << "after " << c.word;
        EXPECT_EQ(kScoreOf700, score);
    }
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, EachFailedAllocationGivesNoMemoryThenTheNextCallSucceeds) {
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* image = make_image(kRows, kCols);
    int failures = 0;
    for (int32_t allowed = 0;; ++allowed) {
        uint16_t score = 0, count = 0;
        int32_t* features = nullptr;
        zr_alloc_fail_after(allowed);
        const zr_status rc = zr_pad_get_score_ex(pad, image, &score, &count, &features);
        zr_alloc_fail_after(-1);
        std::free(features);
        if (rc == ZR_OK) break;
        ASSERT_EQ(ZR_NO_MEMORY, rc) << "allocation " << allowed;
        EXPECT_EQ(ZR_PAD_NO_SCORE, score);
        EXPECT_EQ(nullptr, features);
        ++failures;
        uint16_t next = 0;
        ASSERT_EQ(ZR_OK, zr_pad_get_score(pad, image, &next)) << "after failing allocation " << allowed;
        EXPECT_EQ(kScoreOf700, next);
    }
    // Work copy, features, three block maps, network scratch.
    EXPECT_EQ(6, failures);
    zr_alloc_fail_after(0);
    EXPECT_EQ(nullptr, zr_pad_create(nullptr, &model.model));
    zr_alloc_fail_after(-1);
    zr_image_delete(image);
    zr_pad_delete(pad);
}

TEST_F(PadTest, DetectorHoldsItsSession) {
    zr_session* session = zr_session_create();
    ASSERT_NE(nullptr, session);
    zr_pad* pad = zr_pad_create(session, &model.model);
    EXPECT_EQ(2u, session->ref_count);
    EXPECT_EQ(pad, zr_pad_retain(pad));
    zr_pad_delete(pad);
    EXPECT_EQ(2u, session->ref_count);
    zr_pad_delete(pad);
    EXPECT_EQ(1u, session->ref_count);
    zr_session_delete(session);
}

// Stages for the threaded test: an image whose first pixel is 0 makes the
// mask generation fail with the no-memory error word; features are the
// first pixel value.
void thread_maskgen(uint8_t* work, int32_t, int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t,
                    int32_t, int32_t) {
    if (work[0] == 0) nex_error(NEX_ERROR_NO_MEMORY);
}
void thread_features(const uint8_t* image, uint8_t*, int32_t, int32_t, int32_t* record) {
    record[0] = image[0] * 4;
}
const zr_pad_stages kThreadStages = {thread_maskgen, thread_features};

TEST(LivenessThreads, TwoThreadsScoreWithSeparateErrorWords) {
    TestModel model(first_feature_network());
    StagesScope stages(&kThreadStages);
    zr_pad* pad = zr_pad_create(nullptr, &model.model);
    zr_image* good = make_image(kRows, kCols, 500, 500, 175);  // feature 700
    zr_image* bad = make_image(kRows, kCols, 500, 500, 0);
    std::atomic<int> good_wrong{0}, bad_wrong{0};
    constexpr int kRounds = 200;
    std::thread failing([&] {
        for (int i = 0; i < kRounds; ++i) {
            uint16_t score = 0;
            if (zr_pad_get_score(pad, bad, &score) != ZR_NO_MEMORY) ++bad_wrong;
        }
    });
    std::thread scoring([&] {
        // Each thread scores its own image: the image records its score.
        zr_image* mine = zr_image_copy(good);
        for (int i = 0; i < kRounds; ++i) {
            uint16_t score = 0;
            if (zr_pad_get_score(pad, mine, &score) != ZR_OK || score != kScoreOf700) ++good_wrong;
        }
        zr_image_delete(mine);
    });
    failing.join();
    scoring.join();
    EXPECT_EQ(0, bad_wrong.load());
    EXPECT_EQ(0, good_wrong.load());
    zr_image_delete(good);
    zr_image_delete(bad);
    zr_pad_delete(pad);
}

}  // namespace
