// Fourier matcher inputs: a Fourier part through the conversion and the
// matcher, or two matcher records through the reader, the work-size query,
// the quick match and the search. Every buffer is exactly sized; the search
// gets exactly the work size it asked for, and its outputs stay in range.
#include <cstdlib>

#include "fuzz_support.h"
#include "match/fourier/zr_fourier.h"

namespace {

void check_match(const uint8_t* probe, uint32_t probe_length, const uint8_t* reference,
                 uint32_t reference_length, uint32_t flags, uint32_t level) {
    zr_spectral_quick_scores quick{};
    (void)zr_spectral_quick_match(probe, probe_length, reference, uint16_t(reference_length),
                                  &quick);
    const uint32_t size = zr_spectral_match_required_mem(probe, probe_length, reference,
                                                         reference_length, uint8_t(flags));
    FUZZ_CHECK(size <= 65535);
    if (size == 0) return;
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size));
    FUZZ_CHECK(buffer != nullptr);
    uint16_t features[ZR_SPECTRAL_FEATURE_ARRAY_LENGTH] = {0, ZR_SPECTRAL_FEATURE_REQUEST, 0};
    uint32_t decision = 7;
    zr_spectral_alignment pose{int32_t(flags >> 16) - 128, int32_t(level * 7) - 40, 3};
    (void)zr_spectral_match(buffer, uint16_t(size), probe, probe_length, reference,
                            reference_length, level % 13, features, &decision, &pose,
                            flags & 0x17F);
    std::free(buffer);
    FUZZ_CHECK(decision <= 2);
    FUZZ_CHECK(features[2] == 0 || features[2] == 1 || features[2] == 17);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FieldReader fields(data, size);
    const uint8_t selector = fields.u8();
    const uint32_t flags = fields.u32();
    const uint32_t level = fields.u8();
    if (selector & 1) {
        // A Fourier part.
        fuzz::ExactCopy part(fields.rest(), fields.rest_size());
        uint8_t* record = nullptr;
        uint16_t length = 0;
        const uint8_t quality = uint8_t(flags);
        if (zr_fusion_spectral_to_matcher(part.data(), int32_t(part.size()), &record, &length,
                                          nullptr, nullptr, nullptr, nullptr, selector & 2,
                                          &quality, nullptr) != ZR_OK) {
            FUZZ_CHECK(record == nullptr);
            return 0;
        }
        FUZZ_CHECK(record != nullptr && length >= 11);
        check_match(record, length, record, length, flags, level);
        std::free(record);
        return 0;
    }
    // Two records: a u16 probe length, then the probe, then the reference.
    const uint16_t probe_length = fields.u16();
    const uint8_t* probe_bytes = nullptr;
    const size_t taken = fields.take(probe_length, &probe_bytes);
    fuzz::ExactCopy probe(probe_bytes, taken);
    fuzz::ExactCopy reference(fields.rest(), fields.rest_size());
    check_match(probe.data(), probe.size(), reference.data(), reference.size(), flags, level);
    return 0;
}
