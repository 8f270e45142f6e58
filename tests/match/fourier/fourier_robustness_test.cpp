// Random, truncated and bit-flipped Fourier parts and records through every
// reader of the Fourier matcher. Each buffer is exactly sized, so that the
// sanitizer build catches any read or write outside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "formats/zr_fourier_part.h"
#include "match/fourier/zr_fourier.h"
#include "fourier_test_support.h"

namespace {

using spectral_test::bytes;
using spectral_test::Grid;
using spectral_test::make_record;
using spectral_test::RecordOptions;

// Runs one candidate part through the conversion and everything after it.
void exercise_part(const bytes& part, std::mt19937& rng) {
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[part.size() ? part.size() : 1]);
    std::copy(part.begin(), part.end(), exact.get());
    uint8_t* record = nullptr;
    uint16_t length = 0;
    const uint8_t quality = uint8_t(rng());
    const uint8_t hint[4] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    const zr_status status = zr_fusion_spectral_to_matcher(
        exact.get(), int32_t(part.size()), &record, &length, nullptr, nullptr, nullptr, nullptr,
        int32_t(rng() % 2), rng() % 2 ? &quality : nullptr, rng() % 2 ? hint : nullptr);
    if (status != ZR_OK) {
        EXPECT_EQ(nullptr, record);
        return;
    }
    ASSERT_NE(nullptr, record);
    const bytes converted(record, record + length);
    std::free(record);
    zr_spectral_quick_scores quick{};
    (void)zr_spectral_quick_match(converted.data(), length, converted.data(), length, &quick);
}

void exercise_records(const bytes& probe, const bytes& reference, std::mt19937& rng) {
    const std::unique_ptr<uint8_t[]> p(new uint8_t[probe.size() ? probe.size() : 1]);
    const std::unique_ptr<uint8_t[]> r(new uint8_t[reference.size() ? reference.size() : 1]);
    std::copy(probe.begin(), probe.end(), p.get());
    std::copy(reference.begin(), reference.end(), r.get());
    uint8_t cols, rows, block, quality;
    uint16_t res, w, h;
    const uint8_t *cells, *fine, *hint;
    (void)zr_spectral_unpack_template(p.get(), uint16_t(probe.size()), &cols, &rows, &block, &res,
                                      &cells, &fine, &quality, &hint);
    (void)zr_spectral_to_idim(p.get(), uint16_t(probe.size()), &w, &h);
    zr_spectral_quick_scores quick{};
    (void)zr_spectral_quick_match(p.get(), uint32_t(probe.size()), r.get(),
                                  uint16_t(reference.size()), &quick);
    const uint32_t flags = rng() & 0x17F;
    const uint32_t size = zr_spectral_match_required_mem(p.get(), uint32_t(probe.size()), r.get(),
                                                         uint32_t(reference.size()), uint8_t(flags));
    if (size == 0) return;
    EXPECT_LE(size, 65535u);
    const std::unique_ptr<uint8_t[]> work(new uint8_t[size]);
    uint16_t features[ZR_SPECTRAL_FEATURE_ARRAY_LENGTH] = {0, ZR_SPECTRAL_FEATURE_REQUEST, 0};
    uint32_t decision = 0;
    zr_spectral_alignment pose{int32_t(rng() % 512) - 256, int32_t(rng() % 400) - 200,
                               int32_t(rng() % 400) - 200};
    (void)zr_spectral_match(work.get(), uint16_t(size), p.get(), uint32_t(probe.size()), r.get(),
                            uint32_t(reference.size()), rng() % 13, features, &decision,
                            rng() % 2 ? &pose : nullptr, flags);
}

bytes mutate(bytes data, std::mt19937& rng) {
    switch (rng() % 3) {
        case 0:  // truncate
            data.resize(data.empty() ? 0 : rng() % data.size());
            break;
        case 1:  // flip bits
            for (int i = 0, n = 1 + int(rng() % 4); i < n && !data.empty(); ++i)
                data[rng() % data.size()] ^= uint8_t(1u << (rng() % 8));
            break;
        default:  // overwrite a header byte
            if (!data.empty()) data[rng() % std::min<size_t>(data.size(), 16)] = uint8_t(rng());
            break;
    }
    return data;
}

TEST(SpectralRobustness, DamagedPartsAndRecordsStayInsideTheirBuffers) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        const uint32_t cols = 1 + rng() % 12, rows = 1 + rng() % 12;
        const Grid g = spectral_test::random_grid(rng, cols, rows, 20, true);
        // A well-formed part (plain or with a packed fine grid) to damage.
        bytes ori(cols * rows), freq(cols * rows), ori_fine(cols * rows * 9),
            freq_fine(cols * rows * 9);
        for (size_t i = 0; i < ori.size(); ++i) {
            ori[i] = g.cells[2 * i];
            freq[i] = g.cells[2 * i + 1];
        }
        for (size_t i = 0; i < ori_fine.size(); ++i) {
            ori_fine[i] = g.fine[2 * i];
            freq_fine[i] = g.fine[2 * i + 1];
        }
        const spectral_test::FineFields fields =
            spectral_test::fine_fields(uint8_t(rows), uint8_t(cols), ori, freq, ori_fine, freq_fine);
        uint8_t* written = nullptr;
        uint32_t written_length = 0;
        ASSERT_EQ(ZR_OK, zr_spectral_part_write(&fields.orientation, &fields.frequency, int32_t(round % 2),
                                                &written, &written_length));
        const bytes part(written, written + written_length);
        std::free(written);
        exercise_part(part, rng);
        for (int m = 0; m < 8; ++m) exercise_part(mutate(part, rng), rng);
        bytes noise(rng() % 64);
        for (auto& b : noise) b = uint8_t(rng());
        exercise_part(noise, rng);

        RecordOptions o;
        o.with_fine = rng() % 2;
        o.block_size = uint8_t(1 + rng() % 15);
        o.with_quality = rng() % 2;
        const Grid other = spectral_test::random_grid(rng, 1 + rng() % 12, 1 + rng() % 12, 20, true);
        RecordOptions o2;
        o2.with_fine = rng() % 2;
        const bytes probe = make_record(g, o);
        const bytes reference = make_record(other, o2);
        exercise_records(probe, reference, rng);
        for (int m = 0; m < 4; ++m) {
            exercise_records(mutate(probe, rng), reference, rng);
            exercise_records(probe, mutate(reference, rng), rng);
        }
    }
}

}  // namespace
