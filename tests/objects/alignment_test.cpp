// Rigid-transform records against a double-precision model of the same
// transform: p -> R(theta) p + d, theta = rotation x 2 pi / 2^24, d in 1/256
// pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "objects/zr_alignment.h"
#include "objects/zr_alloc.h"

namespace {

constexpr double kTurn24 = 16777216.0;

struct model {
    double dx;  // pixels
    double dy;
    double theta;

    static model of(const zr_alignment* a) {
        return {a->dx / 256.0, a->dy / 256.0, a->rotation * 2.0 * M_PI / kTurn24};
    }
    void apply(double x, double y, double* ox, double* oy) const {
        *ox = std::cos(theta) * x - std::sin(theta) * y + dx;
        *oy = std::sin(theta) * x + std::cos(theta) * y + dy;
    }
    void apply_inverse(double x, double y, double* ox, double* oy) const {
        const double u = x - dx, v = y - dy;
        *ox = std::cos(theta) * u + std::sin(theta) * v;
        *oy = -std::sin(theta) * u + std::cos(theta) * v;
    }
    // this after other
    model after(const model& other) const {
        double tx = 0, ty = 0;
        apply(other.dx, other.dy, &tx, &ty);
        return {tx, ty, theta + other.theta};
    }
};

// Rotation difference folded into -turn/2..turn/2.
int64_t rotation_difference(uint32_t a, double theta) {
    const int64_t expected = int64_t(std::llround(theta / (2.0 * M_PI) * kTurn24)) & 0xFFFFFF;
    int64_t d = (int64_t(a) - expected) & 0xFFFFFF;
    if (d >= 0x800000) d -= 0x1000000;
    return d;
}

struct owned {
    zr_alignment* a;
    explicit owned(zr_alignment* p) : a(p) {}
    ~owned() { zr_alignment_delete(a); }
    owned(const owned&) = delete;
    owned& operator=(const owned&) = delete;
};

// Offsets within +-max_offset (1/256 pixel), rotation a random 16-bit angle.
zr_alignment* random_alignment(std::mt19937& rng, int32_t max_offset) {
    std::uniform_int_distribution<int32_t> offset(-max_offset, max_offset);
    zr_alignment* a = zr_alignment_create_hr(0, 0, uint32_t(rng()) & 0xFFFF, 500);
    a->dx = offset(rng);
    a->dy = offset(rng);
    return a;
}

// The sine and cosine that a constructor stores for this rotation.
void expect_trig_of_rotation(const zr_alignment* a, const char* name) {
    ASSERT_EQ(a->rotation & 0xFF, 0u);
    owned reference(zr_alignment_create_hr(0, 0, a->rotation >> 8, 500));
    EXPECT_EQ(a->sine, reference.a->sine) << name;
    EXPECT_EQ(a->cosine, reference.a->cosine) << name;
}

TEST(Alignment, ConstructorsStoreSubpixelOffsetsAndQ13Trig) {
    owned a(zr_alignment_create(1, -1, 0));
    EXPECT_EQ(a.a->dx, 256);
    EXPECT_EQ(a.a->dy, -256);
    EXPECT_EQ(a.a->sine, 0);
    EXPECT_EQ(a.a->cosine, 8191);
    EXPECT_EQ(a.a->ref_count, 1u);

    owned half(zr_alignment_create_ex(10, 0, 0, 250));
    EXPECT_EQ(half.a->dx, 5120);  // 10 pixels at 250 dpi are 20 at 500

    owned quarter(zr_alignment_create(0, 0, 64));
    EXPECT_EQ(quarter.a->rotation, 0x400000u);
    EXPECT_EQ(quarter.a->sine, 8191);
    EXPECT_EQ(quarter.a->cosine, 0);

    // (v x 128000 +- dpi / 2) / dpi, half away from zero.
    const struct {
        int16_t v;
        int16_t dpi;
        int32_t stored;
    } cases[] = {{1, 3, 42667}, {-1, 3, -42667}, {1, 256000 / 1000, 500}, {3, 7, 54857},
                 {-3, 7, -54857}, {1, 1000, 128}, {-1, 1000, -128}};
    for (const auto& c : cases) {
        owned x(zr_alignment_create_ex(c.v, c.v, 0, c.dpi));
        ASSERT_NE(x.a, nullptr);
        EXPECT_EQ(x.a->dx, c.stored) << c.v << " at " << c.dpi;
    }
}

TEST(Alignment, LargeOffsetsAreComputedIn64BitsAndRefusedWhenTheyDoNotFit) {
    // v x 128000 passes 2^31 from |v| = 16778 on.
    owned big(zr_alignment_create_ex(20000, -20000, 0, 500));
    ASSERT_NE(big.a, nullptr);
    EXPECT_EQ(big.a->dx, 20000 * 256);
    EXPECT_EQ(big.a->dy, -20000 * 256);
    owned extreme(zr_alignment_create(INT16_MIN, INT16_MAX, 0));
    ASSERT_NE(extreme.a, nullptr);
    EXPECT_EQ(extreme.a->dx, INT16_MIN * 256);
    EXPECT_EQ(extreme.a->dy, INT16_MAX * 256);

    EXPECT_EQ(zr_alignment_create_ex(32767, 0, 0, 1), nullptr);  // 32767 x 128000
    EXPECT_EQ(zr_alignment_create_hr(INT32_MAX, 0, 0, 500), nullptr);
    EXPECT_EQ(zr_alignment_create_hr(0, INT32_MIN, 0, 500), nullptr);
    owned edge(zr_alignment_create_hr(8388607, -8388608, 0, 500));  // fits exactly
    ASSERT_NE(edge.a, nullptr);
    EXPECT_EQ(edge.a->dx, 8388607 * 256);
    EXPECT_EQ(edge.a->dy, INT32_MIN);

    EXPECT_EQ(zr_alignment_create_ex(1, 1, 0, 0), nullptr);
    EXPECT_EQ(zr_alignment_create_ex(1, 1, 0, -500), nullptr);
    EXPECT_EQ(zr_alignment_create_hr(1, 1, 0, 0), nullptr);

    // 16-bit angle x 256, modulo 2^24.
    owned wrapped(zr_alignment_create_hr(0, 0, 0x10005, 500));
    EXPECT_EQ(wrapped.a->rotation, 5u * 256);
}

TEST(Alignment, GettersRoundHalfAwayFromZero) {
    const struct {
        int32_t stored;
        int32_t pixels;
    } cases[] = {{128, 1},   {-128, -1}, {127, 0},   {-127, 0},   {383, 1},
                 {384, 2},   {-384, -2}, {0, 0},     {256, 1},    {-129, -1}};
    for (const auto& c : cases) {
        owned a(zr_alignment_create(0, 0, 0));
        a.a->dx = c.stored;
        a.a->dy = -c.stored;
        EXPECT_EQ(zr_alignment_get_dx(a.a), c.pixels) << c.stored;
        EXPECT_EQ(zr_alignment_get_dy(a.a), -c.pixels) << c.stored;
    }
    const struct {
        uint32_t rotation;
        uint32_t angle8;
    } rotations[] = {{0, 0}, {32767, 0}, {32768, 1}, {0x400000, 64}, {0xFFFFFF, 256}, {0xFF7FFF, 255}};
    for (const auto& r : rotations) {
        owned a(zr_alignment_create(0, 0, 0));
        a.a->rotation = r.rotation;
        EXPECT_EQ(zr_alignment_get_rotation(a.a), r.angle8) << r.rotation;
    }
    EXPECT_EQ(zr_alignment_get_dx(nullptr), 0);
    EXPECT_EQ(zr_alignment_get_rotation(nullptr), 0u);

    owned a(zr_alignment_create_ex(-10, 7, 3, 500));
    uint16_t dx = 0, dy = 0;
    uint8_t rotation = 0;
    zr_alignment_get(a.a, &dx, &dy, &rotation, 250);
    EXPECT_EQ(int16_t(dx), -5);
    EXPECT_EQ(int16_t(dy), 4);  // 3.5 rounds away from zero
    EXPECT_EQ(rotation, 3);
    zr_alignment_get(a.a, nullptr, nullptr, nullptr, 250);  // every output optional

    owned hr(zr_alignment_create_hr(-100000, 3, 0x1234, 1000));
    int32_t hdx = 0, hdy = 0;
    uint32_t hrot = 0;
    zr_alignment_get_hr(hr.a, &hdx, &hdy, &hrot, 1000);
    EXPECT_EQ(hdx, -100000);
    EXPECT_EQ(hdy, 3);
    EXPECT_EQ(hrot, 0x1234u);
}

TEST(Alignment, CopyOfNoneIsTheIdentity) {
    owned identity(zr_alignment_copy(nullptr));
    ASSERT_NE(identity.a, nullptr);
    EXPECT_EQ(identity.a->dx, 0);
    EXPECT_EQ(identity.a->dy, 0);
    EXPECT_EQ(identity.a->rotation, 0u);
    EXPECT_EQ(identity.a->sine, 0);
    EXPECT_EQ(identity.a->cosine, 8191);
    owned source(zr_alignment_create(3, 4, 5));
    owned copy(zr_alignment_copy(source.a));
    EXPECT_NE(copy.a, source.a);
    EXPECT_EQ(copy.a->dx, source.a->dx);
    EXPECT_EQ(copy.a->rotation, source.a->rotation);
    EXPECT_EQ(copy.a->sine, source.a->sine);
    EXPECT_EQ(copy.a->ref_count, 1u);
}

TEST(Alignment, TransformPointFollowsTheModelWithinOnePixel) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> coordinate(-1000, 1000);
    for (int i = 0; i < 2000; ++i) {
        owned a(random_alignment(rng, 300 * 256));
        const model m = model::of(a.a);
        const int16_t x = int16_t(coordinate(rng)), y = int16_t(coordinate(rng));
        int16_t ox = 0, oy = 0;
        zr_alignment_transform_point(a.a, x, y, &ox, &oy);
        double ex = 0, ey = 0;
        m.apply(x, y, &ex, &ey);
        EXPECT_NEAR(ox, ex, 1.0) << i;
        EXPECT_NEAR(oy, ey, 1.0) << i;
        zr_alignment_transform_point_inverse(a.a, x, y, &ox, &oy);
        m.apply_inverse(x, y, &ex, &ey);
        EXPECT_NEAR(ox, ex, 1.0) << i;
        EXPECT_NEAR(oy, ey, 1.0) << i;
    }
}

TEST(Alignment, TransformAt45DegreesAnd1000PixelsDoesNotOverflow) {
    // c x 256 + s y 256 passes 2^31 here.
    owned a(zr_alignment_create(0, 0, 32));
    const model m = model::of(a.a);
    for (const int16_t p : {1000, -1000, 4000}) {
        int16_t ox = 0, oy = 0;
        zr_alignment_transform_point(a.a, p, p, &ox, &oy);
        double ex = 0, ey = 0;
        m.apply(p, p, &ex, &ey);
        EXPECT_NEAR(ox, ex, 1.0) << p;
        EXPECT_NEAR(oy, ey, 1.0) << p;
        zr_alignment_transform_point_inverse(a.a, p, p, &ox, &oy);
        m.apply_inverse(p, p, &ex, &ey);
        EXPECT_NEAR(ox, ex, 1.0) << p;
        EXPECT_NEAR(oy, ey, 1.0) << p;
    }
    int16_t untouched = 77;
    zr_alignment_transform_point(nullptr, 1, 1, &untouched, nullptr);
    EXPECT_EQ(untouched, 77);
}

TEST(Alignment, CompositionsFollowComposedTransforms) {
    std::mt19937 rng(5);
    for (int i = 0; i < 500; ++i) {
        owned a(random_alignment(rng, 200 * 256));
        owned b(random_alignment(rng, 200 * 256));
        const model ma = model::of(a.a), mb = model::of(b.a);
        const struct {
            zr_alignment* got;
            model expected;
            const char* name;
        } cases[] = {
            {zr_alignment_multiply(a.a, b.a), ma.after(mb), "multiply"},
            {zr_alignment_combine(a.a, b.a), mb.after(ma), "combine"},
            {zr_alignment_difference(a.a, b.a),
             ma.after({-(std::cos(mb.theta) * mb.dx + std::sin(mb.theta) * mb.dy),
                       std::sin(mb.theta) * mb.dx - std::cos(mb.theta) * mb.dy, -mb.theta}),
             "difference"},
        };
        for (const auto& c : cases) {
            ASSERT_NE(c.got, nullptr) << c.name;
            // Q13 trigonometry is 8191/8192 of 1.0: offsets of up to ~500 px
            // may drift by a few hundredths of a pixel.
            EXPECT_NEAR(c.got->dx / 256.0, c.expected.dx, 0.25) << c.name << " " << i;
            EXPECT_NEAR(c.got->dy / 256.0, c.expected.dy, 0.25) << c.name << " " << i;
            EXPECT_EQ(rotation_difference(c.got->rotation, c.expected.theta), 0) << c.name;
            expect_trig_of_rotation(c.got, c.name);
            zr_alignment_delete(c.got);
        }
    }
    EXPECT_EQ(zr_alignment_multiply(nullptr, nullptr), nullptr);
    owned a(zr_alignment_create(1, 1, 1));
    EXPECT_EQ(zr_alignment_multiply(a.a, nullptr), nullptr);
    EXPECT_EQ(zr_alignment_combine(nullptr, a.a), nullptr);
    EXPECT_EQ(zr_alignment_difference(a.a, nullptr), nullptr);
    EXPECT_EQ(zr_alignment_inverse(nullptr), nullptr);
}

TEST(Alignment, InverseOfTheInverseKeepsTheRotationAndTheTranslation) {
    std::mt19937 rng(17);
    for (int i = 0; i < 1000; ++i) {
        // Within one unit while the Q13 scale error (about 2^-12 of the
        // offset per step) stays below half a unit.
        owned a(random_alignment(rng, 1024));
        owned inverse(zr_alignment_inverse(a.a));
        owned back(zr_alignment_inverse(inverse.a));
        EXPECT_EQ(back.a->rotation, a.a->rotation);
        EXPECT_NEAR(back.a->dx, a.a->dx, 1) << i;
        EXPECT_NEAR(back.a->dy, a.a->dy, 1) << i;
        const model m = model::of(a.a);
        double ex = 0, ey = 0;
        m.apply_inverse(0, 0, &ex, &ey);  // the inverse's translation
        EXPECT_NEAR(inverse.a->dx / 256.0, ex, 1.0 / 256 + 1e-9 + std::hypot(ex, ey) / 4096);
        EXPECT_NEAR(inverse.a->dy / 256.0, ey, 1.0 / 256 + 1e-9 + std::hypot(ex, ey) / 4096);
    }
    owned zero(zr_alignment_create(0, 0, 0));
    owned zero_inverse(zr_alignment_inverse(zero.a));
    EXPECT_EQ(zero_inverse.a->rotation, 0u);  // (2^24 - 0) modulo 2^24
}

TEST(Alignment, TranslationTurnedBackByTheRotation) {
    std::mt19937 rng(23);
    for (int i = 0; i < 500; ++i) {
        owned a(random_alignment(rng, 100 * 256));
        const double back = -double(zr_alignment_get_rotation(a.a) & 0xFF) * 2 * M_PI / 256;
        const double x = zr_alignment_get_dx(a.a), y = zr_alignment_get_dy(a.a);
        // Floored Q14 table values and a flooring shift: within a pixel and a
        // few table steps.
        EXPECT_NEAR(zr_alignment_get_dx_prim(a.a), std::cos(back) * x - std::sin(back) * y, 1.05);
        EXPECT_NEAR(zr_alignment_get_dy_prim(a.a), std::sin(back) * x + std::cos(back) * y, 1.05);
    }
    EXPECT_EQ(zr_alignment_get_dx_prim(nullptr), 0);
}

TEST(Alignment, RectangleExtremesOfTheMovedCorners) {
    int16_t min_x = 1, max_x = 1, min_y = 1, max_y = 1;
    zr_alignment_get_rectangle_extremes(nullptr, 10, 20, &min_x, &max_x, &min_y, &max_y);
    EXPECT_EQ(min_x, 0);
    EXPECT_EQ(max_x, 0);
    EXPECT_EQ(min_y, 0);
    EXPECT_EQ(max_y, 0);

    owned shift(zr_alignment_create(5, -3, 0));
    zr_alignment_get_rectangle_extremes(shift.a, 10, 20, &min_x, &max_x, &min_y, &max_y);
    EXPECT_EQ(min_x, 5);
    EXPECT_EQ(max_x, 15);
    EXPECT_EQ(min_y, -3);
    EXPECT_EQ(max_y, 17);

    // A quarter turn: (x, y) -> (-y, x), with the Q13 scale 8191/8192.
    owned quarter(zr_alignment_create(0, 0, 64));
    zr_alignment_get_rectangle_extremes(quarter.a, 10, 20, &min_x, &max_x, &min_y, &max_y);
    EXPECT_EQ(min_x, -20);
    EXPECT_EQ(max_x, 0);
    EXPECT_EQ(min_y, 0);
    EXPECT_EQ(max_y, 10);
}

TEST(Alignment, DistanceIsTheRootMeanSquareCornerDisplacement) {
    owned a(zr_alignment_create(0, 0, 0));
    EXPECT_EQ(zr_alignment_distance(a.a, a.a, 10, 10), 0u);
    EXPECT_EQ(zr_alignment_distance(a.a, nullptr, 10, 10), 0xFFFFFFFFu);
    EXPECT_EQ(zr_alignment_distance(nullptr, a.a, 10, 10), 0xFFFFFFFFu);
    EXPECT_EQ(zr_alignment_distance(a.a, a.a, 0, 10), 0xFFFFFFFFu);
    EXPECT_EQ(zr_alignment_distance(a.a, a.a, 10, -1), 0xFFFFFFFFu);

    std::mt19937 rng(29);
    for (int i = 0; i < 300; ++i) {
        owned p(random_alignment(rng, 100 * 256));
        owned q(random_alignment(rng, 100 * 256));
        const int16_t width = int16_t(1 + rng() % 300), height = int16_t(1 + rng() % 300);
        const model mp = model::of(p.a), mq = model::of(q.a);
        double sum = 0;
        for (const auto& corner : {std::pair{0, 0}, std::pair{0, int(height)},
                                   std::pair{int(width), 0}, std::pair{int(width), int(height)}}) {
            double px = 0, py = 0, qx = 0, qy = 0;
            mp.apply(corner.first, corner.second, &px, &py);
            mq.apply(corner.first, corner.second, &qx, &qy);
            sum += (px - qx) * (px - qx) + (py - qy) * (py - qy);
        }
        const double rms = std::sqrt(sum / 4);
        EXPECT_NEAR(double(zr_alignment_distance(p.a, q.a, width, height)), rms, 1.0 + rms / 2048)
            << i;
    }

    // Far apart: the mean square passes 2^30 and saturates instead of
    // wrapping to a small distance.
    owned far1(zr_alignment_create_hr(8000000, 0, 0, 500));
    owned far2(zr_alignment_create_hr(-8000000, 0, 0, 500));
    EXPECT_EQ(zr_alignment_distance(far1.a, far2.a, 100, 100), 32768u);
    owned near1(zr_alignment_create_hr(32000, 0, 0, 500));
    owned near2(zr_alignment_create_hr(0, 0, 0, 500));
    EXPECT_EQ(zr_alignment_distance(near1.a, near2.a, 100, 100), 32000u);
    owned over1(zr_alignment_create_hr(40000, 0, 0, 500));
    EXPECT_EQ(zr_alignment_distance(over1.a, near2.a, 100, 100), 32768u);
}

TEST(Alignment, WithinLimits) {
    const struct {
        int16_t dx, dy;
        uint8_t rotation;
        uint16_t max_distance;
        uint8_t max_rotation;
        uint32_t within;
    } single[] = {
        {0, 0, 255, 10, 1, 1},   // one step clockwise
        {0, 0, 254, 10, 1, 0},
        {0, 0, 2, 10, 1, 0},
        {0, 0, 128, 10, 127, 0},  // -128 as a signed angle
        {3, 4, 0, 5, 0, 1},
        {3, 4, 0, 4, 0, 0},
        {-3, -4, 1, 5, 1, 1},
        {300, 400, 0, 500, 0, 1},
        {300, 401, 0, 500, 0, 0},
    };
    for (const auto& c : single) {
        owned a(zr_alignment_create(c.dx, c.dy, c.rotation));
        EXPECT_EQ(zr_alignment_within_limits_single(a.a, c.max_distance, c.max_rotation), c.within)
            << c.dx << "," << c.dy << " rot " << int(c.rotation);
    }
    EXPECT_EQ(zr_alignment_within_limits_single(nullptr, 100, 100), 0u);

    owned a(zr_alignment_create(10, 10, 2));
    owned b(zr_alignment_create(13, 14, 254));
    EXPECT_EQ(zr_alignment_within_limits(a.a, b.a, 5, 4), 1u);
    EXPECT_EQ(zr_alignment_within_limits(a.a, b.a, 5, 3), 0u);
    EXPECT_EQ(zr_alignment_within_limits(a.a, b.a, 4, 4), 0u);
    EXPECT_EQ(zr_alignment_within_limits(b.a, a.a, 5, 4), 1u);
    EXPECT_EQ(zr_alignment_within_limits(a.a, nullptr, 5, 4), 0u);
    // Offsets of opposite extremes: the difference is taken in 64 bits.
    owned left(zr_alignment_create_hr(-8388608, 0, 0, 500));
    owned right(zr_alignment_create_hr(8388607, 0, 0, 500));
    EXPECT_EQ(zr_alignment_within_limits(left.a, right.a, 65535, 0), 0u);
}

TEST(Alignment, ConstructorsGiveNoneWhenOutOfMemory) {
    owned a(zr_alignment_create(1, 2, 3));
    zr_alloc_fail_after(0);
    EXPECT_EQ(zr_alignment_create(1, 2, 3), nullptr);
    EXPECT_EQ(zr_alignment_copy(a.a), nullptr);
    EXPECT_EQ(zr_alignment_inverse(a.a), nullptr);
    EXPECT_EQ(zr_alignment_multiply(a.a, a.a), nullptr);
    zr_alloc_fail_after(1);  // the inverse is made, the product is not
    EXPECT_EQ(zr_alignment_difference(a.a, a.a), nullptr);
    zr_alloc_fail_after(-1);
}

}  // namespace
