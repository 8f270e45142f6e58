// FAR scale, decisions, score models against an exact 128-bit reference, the
// shipped EHM-HR model, model lookup and the verify operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "match/fourier/zr_fourier.h"
#include "match/verifiers/zr_far_table.h"
#include "match/verifiers/zr_vermodels.h"
#include "match/verifiers/zr_verifier.h"

namespace {

// --- FAR scale ---

TEST(FarScale, TableIsFloorOf2048Log2N) {
    // The Part's table.
    const uint16_t expected[28] = {0,     2048,  4755,  6803,  8851,  11558, 13606, 15654, 18361, 20409,
                                   22457, 25165, 27213, 29261, 31968, 34016, 36064, 38771, 40819, 42867,
                                   45575, 47623, 49671, 52378, 54426, 56474, 59181, 61229};
    for (uint32_t level = 0; level < 28; ++level) {
        EXPECT_EQ(zr_far_thresholds[level], expected[level]) << level;
        EXPECT_EQ(zr_far_threshold(level), expected[level]);
        // libm as a second opinion: no value lies near an integer boundary.
        const long double n = (level % 3 == 0 ? 1.0L : level % 3 == 1 ? 2.0L : 5.0L) * powl(10.0L, level / 3);
        EXPECT_EQ(zr_far_thresholds[level], uint16_t(floorl(2048.0L * log2l(n)))) << level;
    }
    EXPECT_EQ(zr_far_thresholds[28], 63277);
    EXPECT_EQ(zr_far_thresholds[29], 63278);
    EXPECT_EQ(zr_far_threshold(28), 63277);
    EXPECT_EQ(zr_far_threshold(500), 63277);
    for (uint32_t q = 0; q <= 100; ++q)
        EXPECT_EQ(zr_quality_normaliser[q], uint16_t(floor(25.0 * sqrt(double(q)) + 0.5))) << q;
}

TEST(FarScale, Shift) {
    struct shift_case {
        uint32_t level;
        int16_t shift;
        uint32_t expected;
    };
    const shift_case cases[] = {{27, 5, 27}, {3, -10, 0}, {28, -3, 28}, {12, 2, 14}, {0, 0, 0}, {12, -32768, 0},
                                {12, 32767, 27}};
    for (const shift_case& c : cases) EXPECT_EQ(zr_far_shift(c.level, c.shift), c.expected) << c.level;
}

// --- decisions ---

struct table_of {
    zr_threshold_table t{};
    table_of(uint16_t base, uint16_t row_step, uint16_t level_step) {
        for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r)
            for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) t[r][l] = uint16_t(base + r * row_step + l * level_step);
    }
};

TEST(Decision, RowsAndInterpolation) {
    const table_of made(1000, 320, 10);
    const zr_threshold_table& table = made.t;  // row r, level l: 1000 + 320 r + 10 l
    struct decision_case {
        uint8_t count;
        uint32_t threshold;  // at level 4
    };
    const decision_case cases[] = {
        {0, 1040},                 // row 0
        {1, 1040},
        {2, 1360},                 // row 1
        {3, 1520},                 // halfway between rows 1 and 2
        {48, 1040 + 5 * 320 + 160},  // halfway between rows 5 and 6
        {64, 1040 + 6 * 320},
        {128, 1040 + 5 * 320 + 3 * 320},  // the 32..64 segment extended to three times its length
    };
    for (const decision_case& c : cases) {
        uint32_t decision = 9;
        uint16_t threshold = 0;
        ASSERT_EQ(ZR_OK, zr_verifier_decision_from_score(nullptr, uint16_t(c.threshold), c.count, 4, &table,
                                                         &decision, &threshold));
        EXPECT_EQ(threshold, c.threshold) << int(c.count);
        EXPECT_EQ(decision, 0u) << "a score equal to the threshold rejects";
        ASSERT_EQ(ZR_OK, zr_verifier_decision_from_score(nullptr, uint16_t(c.threshold + 1), c.count, 4, &table,
                                                         &decision, nullptr));
        EXPECT_EQ(decision, 1u) << int(c.count);
    }
}

TEST(Decision, Failures) {
    table_of made(1000, 320, 10);
    zr_threshold_table& table = made.t;
    uint32_t decision = 7;
    uint16_t threshold = 7;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_verifier_decision_from_score(nullptr, 5, 1, 4, nullptr, &decision, &threshold));
    EXPECT_EQ(decision, 0u);
    EXPECT_EQ(threshold, 65535);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_verifier_decision_from_score(nullptr, 5, 1, 28, &table, &decision, &threshold));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_verifier_decision_from_score(nullptr, 5, 1, 4, &table, nullptr, &threshold));
    table[0][4] = ZR_THRESHOLD_MISSING;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_verifier_decision_from_score(nullptr, 5, 1, 4, &table, &decision, &threshold));
    table[3][4] = ZR_THRESHOLD_MISSING;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_verifier_decision_from_score(nullptr, 5, 7, 4, &table, &decision, &threshold));
    const zr_threshold_table empty{};
    EXPECT_EQ(ZR_FAILURE, zr_verifier_decision_from_score(nullptr, 5, 1, 4, &empty, &decision, &threshold));
}

// The interpolated threshold passes 16 bits; the report saturates, the
// decision compares the full value.
TEST(Decision, ThresholdAbove16BitsSaturatesInTheReport) {
    table_of made(60000, 0, 0);
    zr_threshold_table& table = made.t;
    for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) table[6][l] = 65000;
    uint32_t decision = 9;
    uint16_t threshold = 0;
    ASSERT_EQ(ZR_OK, zr_verifier_decision_from_score(nullptr, 65535, 128, 0, &table, &decision, &threshold));
    EXPECT_EQ(threshold, 65535);  // 60000 + 3 x 5000 = 75000
    EXPECT_EQ(decision, 0u);
}

// --- score models ---

using i128 = __int128;

struct entry {
    uint16_t lo, hi;
    uint32_t centre, scale;
    int16_t w1, w2;
};

std::vector<uint8_t> pack(const std::vector<entry>& entries) {
    std::vector<uint8_t> out;
    for (const entry& e : entries) {
        const uint8_t b[16] = {uint8_t(e.lo),         uint8_t(e.lo >> 8),        uint8_t(e.hi),
                               uint8_t(e.hi >> 8),    uint8_t(e.centre),         uint8_t(e.centre >> 8),
                               uint8_t(e.centre >> 16), uint8_t(e.centre >> 24), uint8_t(e.scale),
                               uint8_t(e.scale >> 8), uint8_t(e.scale >> 16),    uint8_t(e.scale >> 24),
                               uint8_t(uint16_t(e.w1)), uint8_t(uint16_t(e.w1) >> 8), uint8_t(uint16_t(e.w2)),
                               uint8_t(uint16_t(e.w2) >> 8)};
        out.insert(out.end(), b, b + 16);
    }
    return out;
}

// Truncating division of exact integers.
i128 div_trunc(i128 a, i128 b) { return a / b; }

enum class model { linear, squares, no_bias, no_normalization };

// The score by the formulas, exactly, clamped to 32 bits.
int64_t reference(const std::vector<uint32_t>& x, const std::vector<entry>& entries, model m) {
    i128 a = 0, w = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const entry& e = entries[i];
        i128 clamped = int32_t(x[i]) < int32_t(e.lo) ? i128(e.lo) : i128(x[i]);
        if (clamped > e.hi) clamped = e.hi;
        const i128 v = clamped * 65536;
        const i128 d = v < e.centre ? i128(e.centre) - v : v - i128(e.centre);
        if (e.scale != 0) {
            i128 l = div_trunc(i128(e.w1) * d, e.scale);
            a += v < e.centre ? -l : l;
            if (m != model::linear) a += div_trunc((d * d / e.scale) * e.w2, e.scale);
        }
        if (m == model::linear) w += e.w1 < 0 ? -e.w1 : e.w1;
        else if (m == model::no_normalization) w += i128(e.w1) + e.w2;
        else w += (e.w1 < 0 ? -e.w1 : e.w1) + (e.w2 < 0 ? -e.w2 : e.w2);
    }
    const i128 divisor = m == model::no_normalization ? w : w / 8;
    i128 r = divisor == 0 ? a * 4096 : div_trunc(a * 4096, divisor);
    if (m != model::no_bias) r += 4096;
    if (r > INT32_MAX) r = INT32_MAX;
    if (r < INT32_MIN) r = INT32_MIN;
    return int64_t(r);
}

TEST(ScoreModels, AgreeWithExactReference) {
    std::mt19937_64 rng(99);
    const zr_score_model_fn fns[] = {zr_ml_compute_score_linear, zr_ml_compute_score_linear_squares,
                                     zr_ml_compute_score_linear_squares_no_bias,
                                     zr_ml_compute_score_linear_squares_no_normalization};
    const model models[] = {model::linear, model::squares, model::no_bias, model::no_normalization};
    for (int round = 0; round < 3000; ++round) {
        const size_t count = 1 + rng() % 30;
        std::vector<entry> entries(count);
        std::vector<uint32_t> x(count);
        for (size_t i = 0; i < count; ++i) {
            entry& e = entries[i];
            e.lo = uint16_t(rng() % 3 == 0 ? 0 : rng() % 2000);
            e.hi = uint16_t(rng() % 4 == 0 ? 65535 : e.lo + rng() % 30000);
            e.centre = uint32_t(rng());
            // Scales from the shipped models' range up to 32 bits, with 0.
            const int scale_kind = int(rng() % 8);
            e.scale = scale_kind == 0 ? 0 : uint32_t(1u << 18) + uint32_t(rng() % 0xFFF00000u);
            e.w1 = int16_t(rng());
            e.w2 = int16_t(rng());
            const int kind = int(rng() % 5);
            x[i] = kind == 0 ? uint32_t(rng()) : kind == 1 ? e.lo : kind == 2 ? e.hi : uint32_t(rng() % 70000);
        }
        const std::vector<uint8_t> packed = pack(entries);
        for (int m = 0; m < 4; ++m) {
            uint32_t out = 1;
            ASSERT_EQ(ZR_OK, fns[m](x.data(), uint8_t(count), packed.data(), &out));
            EXPECT_EQ(int64_t(int32_t(out)), reference(x, entries, models[m])) << "round " << round << " model " << m;
        }
    }
    uint32_t out = 5;
    const uint32_t one = 1;
    EXPECT_EQ(ZR_OK, zr_ml_compute_score_linear(&one, 0, pack({{0, 1, 0, 1, 1, 1}}).data(), &out));
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(ZR_OK, zr_ml_compute_score_linear(&one, 1, nullptr, &out));
    EXPECT_EQ(out, 0u);
}

// Features at their lower or upper bounds of the shipped model: the 64-bit
// computation gives the values a 32-bit one would have wrapped.
TEST(ScoreModels, H80EhmhrVectors) {
    const zr_vermodel& model = zr_vermodel_h80_ehmhr;
    std::vector<uint32_t> lows(30, 0), highs(30);
    for (uint32_t i = 0; i < 30; ++i)
        highs[i] = zr_score_coefficient_read(model.coefficients + i * ZR_COEFFICIENT_ENTRY_SIZE).upper;
    uint32_t raw = 0;
    ASSERT_EQ(ZR_OK, zr_machine_learning_evaluate(&model, lows.data(), 30, &raw));
    EXPECT_EQ(int32_t(raw), -1838);
    ASSERT_EQ(ZR_OK, zr_machine_learning_evaluate(&model, highs.data(), 30, &raw));
    EXPECT_EQ(int32_t(raw), 62108);

    std::vector<uint16_t> lows16(30, 0), highs16(highs.begin(), highs.end());
    uint16_t score = 9;
    ASSERT_EQ(ZR_OK, zr_machine_learning_evaluate_u16(&model, lows16.data(), 30, &score));
    EXPECT_EQ(score, 0);
    ASSERT_EQ(ZR_OK, zr_verifier_verify_feature_scores(nullptr, highs16.data(), 30, &model, &score));
    EXPECT_EQ(score, 62108);
    // The entries as the table lists them.
    const zr_score_coefficient first = zr_score_coefficient_read(model.coefficients);
    EXPECT_EQ(first.upper, 3416);
    EXPECT_EQ(first.centre, 1131581u);
    EXPECT_EQ(first.scale, 16661407u);
    EXPECT_EQ(first.linear, -668);
    EXPECT_EQ(first.quadratic, 3750);
    EXPECT_EQ((*model.thresholds)[0][12], 5295);
    EXPECT_EQ((*model.thresholds)[6][27], 7617);
}

TEST(ScoreModels, EvaluateRefusals) {
    zr_vermodel model = zr_vermodel_h80_ehmhr;
    const std::vector<uint16_t> features(31, 1);
    uint16_t score = 9;
    EXPECT_EQ(ZR_FAILURE, zr_verifier_verify_feature_scores(nullptr, features.data(), 29, &model, &score));
    EXPECT_EQ(score, 0);
    // More features than coefficient entries would read past the entries.
    EXPECT_EQ(ZR_FAILURE, zr_machine_learning_evaluate_u16(&model, features.data(), 31, &score));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_machine_learning_evaluate_u16(&model, features.data(), -1, &score));
    model.compute = nullptr;
    EXPECT_EQ(ZR_NO_MODEL_OPERATION, zr_verifier_verify_feature_scores(nullptr, features.data(), 30, &model, &score));
    EXPECT_EQ(ZR_NO_MODEL_OPERATION, zr_verifier_verify_feature_scores(nullptr, features.data(), 30, nullptr, &score));
}

// --- model lookup ---

TEST(Vermodels, LookupSkipsUntrainedModels) {
    static const uint8_t zero_coefficients[30 * 16] = {};
    static const zr_threshold_table zero_table{};
    const zr_vermodel zero_filled = {&ehmhr_verifier, 0, zero_coefficients, sizeof zero_coefficients, 30,
                                     zr_ml_compute_score_linear_squares, &zero_table};
    zr_vermodel no_compute = zr_vermodel_h80_ehmhr;
    no_compute.compute = nullptr;
    zr_vermodel no_thresholds = zr_vermodel_h80_ehmhr;
    no_thresholds.thresholds = nullptr;
    zr_vermodel variant1 = zr_vermodel_h80_ehmhr;
    variant1.variant = 1;
    const zr_vermodel* table[] = {&zero_filled, &no_compute, &no_thresholds, &variant1, &zr_vermodel_h80_ehmhr,
                                  nullptr};
    EXPECT_EQ(zr_verifierI_get_vermodel(table, &ehmhr_verifier, 0), &zr_vermodel_h80_ehmhr);
    EXPECT_EQ(zr_verifierI_get_vermodel(table, &ehmhr_verifier, 1), &variant1);
    EXPECT_EQ(zr_verifierI_get_vermodel(table, &ehm_verifier, 0), nullptr);
    EXPECT_EQ(zr_verifierI_get_vermodel(nullptr, &ehmhr_verifier, 0), nullptr);
    const zr_vermodel* only_zero[] = {&zero_filled, nullptr};
    EXPECT_EQ(zr_verifierI_get_vermodel(only_zero, &ehmhr_verifier, 0), nullptr);

}

// Every shipped set lists its models in the presets' order, each one trained
// (compute operation, one entry a feature, a threshold table that decides:
// no missing threshold, rows and columns non-decreasing, level 0 at 0).
TEST(Vermodels, ShippedSetsHoldTheirModelsInListOrder) {
    struct expected_set {
        const char* name;
        const zr_vermodel* const* set;
        std::vector<const zr_verifier_descriptor*> verifiers;
    };
    const std::vector<expected_set> sets = {
        {"E100", zr_vermodels_e100, {&ehm_verifier}},
        {"E115", zr_vermodels_e115, {&ehm_verifier}},
        {"E130", zr_vermodels_e130, {&ehm_verifier}},
        {"E144", zr_vermodels_e144, {&ehm_verifier}},
        {"E56", zr_vermodels_e56, {&ehm_verifier}},
        {"E80", zr_vermodels_e80, {&ehm_verifier}},
        {"E64", zr_vermodels_e64, {&ehm_verifier}},
        {"H100", zr_vermodels_h100, {&ehmhr_verifier}},
        {"H115", zr_vermodels_h115, {&ehmhr_verifier}},
        {"H130", zr_vermodels_h130, {&ehmhr_verifier}},
        {"H56", zr_vermodels_h56, {&ehmhr_verifier, &ehm_verifier}},
        {"H80", zr_vermodels_h80, {&ehmhr_verifier, &ehm_verifier}},
        {"P115", zr_vermodels_p115, {&ehm_verifier, &spectral_verifier, &ehmhr_verifier}},
        {"P130", zr_vermodels_p130, {&ehm_verifier, &spectral_verifier, &ehmhr_verifier}},
        {"L160", zr_vermodels_l160, {&ehm_verifier}},
        {"L160m", zr_vermodels_l160m, {&ehm_verifier}},
        {"L192", zr_vermodels_l192, {&ehm_verifier}},
    };
    for (const expected_set& e : sets) {
        SCOPED_TRACE(e.name);
        size_t n = 0;
        for (; e.set[n] != nullptr; ++n) {
            const zr_vermodel* m = e.set[n];
            ASSERT_LT(n, e.verifiers.size());
            EXPECT_EQ(e.verifiers[n], m->verifier);
            EXPECT_EQ(0, m->variant);
            EXPECT_TRUE(zr_vermodel_is_trained(m));
            EXPECT_EQ(m->verifier == &spectral_verifier ? 17u : 30u, m->feature_count);
            EXPECT_EQ(16u * m->feature_count, m->coefficient_bytes);
            const bool linear = e.set == zr_vermodels_l160 || e.set == zr_vermodels_l160m || e.set == zr_vermodels_l192;
            EXPECT_EQ(linear ? zr_ml_compute_score_linear : zr_ml_compute_score_linear_squares, m->compute);
            const zr_threshold_table& t = *m->thresholds;
            for (uint32_t r = 0; r < ZR_THRESHOLD_ROWS; ++r) {
                EXPECT_EQ(0, t[r][0]);
                for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) {
                    EXPECT_NE(ZR_THRESHOLD_MISSING, t[r][l]);
                    if (l > 0) {
                        EXPECT_LE(t[r][l - 1], t[r][l]) << r << " " << l;
                    }
                    if (r > 0) {
                        EXPECT_LE(t[r - 1][l], t[r][l]) << r << " " << l;
                    }
                }
            }
        }
        EXPECT_EQ(e.verifiers.size(), n);
    }
    // Shared models: E80 and E56 are the second entries of H80 and H56, the
    // pro sets reuse the EHM and EHM-HR models of their families.
    EXPECT_EQ(zr_vermodels_h80[0], &zr_vermodel_h80_ehmhr);
    EXPECT_EQ(zr_vermodels_h80[1], zr_vermodels_e80[0]);
    EXPECT_EQ(zr_vermodels_h56[1], zr_vermodels_e56[0]);
    EXPECT_EQ(zr_vermodels_p115[0], zr_vermodels_e115[0]);
    EXPECT_EQ(zr_vermodels_p115[2], zr_vermodels_h115[0]);
    EXPECT_EQ(zr_vermodels_p130[0], zr_vermodels_e130[0]);
    EXPECT_EQ(zr_vermodels_p130[2], zr_vermodels_h130[0]);
}

// --- verify operations ---

TEST(Verifiers, VandrelScore) {
    uint16_t score = 9;
    const uint16_t two[2] = {1, 2};
    EXPECT_EQ(ZR_FAILURE, zr_vandrel_verify_feature_scores(nullptr, nullptr, nullptr, two, 2, nullptr, &score));
    EXPECT_EQ(score, 0);
    const uint16_t three[3] = {100, 7, 5};
    ASSERT_EQ(ZR_OK, zr_vandrel_verify_feature_scores(nullptr, nullptr, nullptr, three, 3, nullptr, &score));
    EXPECT_EQ(score, 2 * 100 + 3 * 12);
    // Sums are kept to 16 bits.
    const uint16_t wide[3] = {40000, 65535, 2};
    ASSERT_EQ(ZR_OK, zr_vandrel_verify_feature_scores(nullptr, nullptr, nullptr, wide, 3, nullptr, &score));
    EXPECT_EQ(score, uint16_t(80000u + 3u * 1u));
}

TEST(Verifiers, EhmScore) {
    std::vector<uint16_t> features(30, 5);
    features[0] = 0;
    features[9] = 0;
    uint16_t score = 9;
    // Both match scores 0: 0 without a model.
    EXPECT_EQ(ZR_OK, zr_ehm_verify_feature_scores(nullptr, nullptr, nullptr, features.data(), 30, nullptr, &score));
    EXPECT_EQ(score, 0);
    features[9] = 300;
    EXPECT_EQ(ZR_NO_MODEL_OPERATION,
              zr_ehm_verify_feature_scores(nullptr, nullptr, nullptr, features.data(), 30, nullptr, &score));
    EXPECT_EQ(ZR_FAILURE,
              zr_ehm_verify_feature_scores(nullptr, nullptr, nullptr, features.data(), 29, &zr_vermodel_h80_ehmhr, &score));
    ASSERT_EQ(ZR_OK, zr_ehm_verify_feature_scores(nullptr, nullptr, nullptr, features.data(), 30,
                                                  &zr_vermodel_h80_ehmhr, &score));
    uint16_t direct = 0;
    ASSERT_EQ(ZR_OK, zr_machine_learning_evaluate_u16(&zr_vermodel_h80_ehmhr, features.data(), 30, &direct));
    EXPECT_EQ(score, direct);
}

// A verifier whose feature operation gives a fixed vector.
uint16_t g_feature_count = 30;
zr_status fixed_features(zr_session*, zr_template*, zr_template*, uint16_t** out, uint16_t* count,
                         zr_alignment** alignment) {
    *out = static_cast<uint16_t*>(calloc(g_feature_count, sizeof(uint16_t)));
    for (uint16_t i = 0; i < g_feature_count; ++i) (*out)[i] = 50;
    *count = g_feature_count;
    if (alignment) *alignment = zr_alignment_create(1, 2, 3);
    return ZR_OK;
}

TEST(Verifiers, RawSimilarityScore) {
    const zr_verifier_descriptor verifier = {fixed_features, fixed_features, zr_ehm_verify_feature_scores, nullptr};
    uint16_t score = 0;
    zr_alignment* alignment = nullptr;
    g_feature_count = 30;
    ASSERT_EQ(ZR_OK, zr_verifier_get_raw_similarity_score(nullptr, &verifier, &zr_vermodel_h80_ehmhr, nullptr,
                                                          nullptr, &score, &alignment));
    EXPECT_NE(alignment, nullptr);
    zr_alignment_delete(alignment);
    alignment = nullptr;
    g_feature_count = 17;
    EXPECT_EQ(ZR_FAILURE, zr_verifier_get_raw_similarity_score(nullptr, &verifier, &zr_vermodel_h80_ehmhr, nullptr,
                                                               nullptr, &score, &alignment));
    EXPECT_EQ(alignment, nullptr);  // released on failure
    zr_vermodel no_compute = zr_vermodel_h80_ehmhr;
    no_compute.compute = nullptr;
    g_feature_count = 30;
    EXPECT_EQ(ZR_NO_MODEL_OPERATION, zr_verifier_get_raw_similarity_score(nullptr, &verifier, &no_compute, nullptr,
                                                                          nullptr, &score, &alignment));
    EXPECT_EQ(alignment, nullptr);
    // Without a raw-path operation.
    EXPECT_EQ(ZR_FAILURE, zr_verifier_get_raw_similarity_score(nullptr, &vandrel_verifier, nullptr, nullptr, nullptr,
                                                               &score, nullptr));
}

}  // namespace
