// The simulated service's reading of a capture-data reply: the input is the
// reply. The record handed on is exactly the reply's data block (its size
// from the reply head, starting right after it) or nothing when the reply
// cannot hold it; a reply shorter than the capture-data record may give
// nothing either.
#include "fuzz_support.h"
#include "sim_biometric_service.h"
#include "winbio_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    const std::vector<uint8_t> record = sim_sample_from_capture_reply(input.data(), input.size());

    constexpr size_t kRecordOffset = offsetof(WINBIO_CAPTURE_DATA, CaptureData) + offsetof(WINBIO_DATA, Data);
    const bool has_head = input.size() >= kRecordOffset;
    uint32_t declared = 0;
    if (has_head) std::memcpy(&declared, input.data() + offsetof(WINBIO_CAPTURE_DATA, CaptureData), sizeof declared);
    if (!has_head || declared == 0 || kRecordOffset + uint64_t(declared) > input.size()) {
        FUZZ_CHECK(record.empty());
        return 0;
    }
    // A reply shorter than the whole capture-data head may be refused.
    if (input.size() < sizeof(WINBIO_CAPTURE_DATA) && record.empty()) return 0;
    FUZZ_CHECK(record.size() == declared);
    FUZZ_CHECK(std::memcmp(record.data(), input.data() + kRecordOffset, declared) == 0);
    return 0;
}
