// ANSI 378 records: the readers and the conversion to ISO on arbitrary bytes.
// A record that reads converts to an ISO record that reads with the same
// minutiae count.
#include "formats/zr_ansi378.h"
#include "formats/zr_iso19794_2.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    minutiastruct s{};
    const zr_status read = zr_ansi378_to_minutiastruct(input.data(), input.size(), &s);
    FUZZ_CHECK(read == ZR_OK || read == ZR_BAD_FORMAT || read == ZR_BAD_RESOLUTION);
    for (auto reader : {zr_ansi378_v2_to_minutiastruct, zr_ansi378_v3_to_minutiastruct}) {
        minutiastruct other{};
        const zr_status rc = reader(input.data(), input.size(), &other);
        FUZZ_CHECK(rc == ZR_OK || rc == ZR_BAD_FORMAT || rc == ZR_BAD_RESOLUTION);
    }
    for (auto convert : {zr_convert_ansi378_to_iso19794_2_v2, zr_convert_ansi378_to_iso19794_2_v3}) {
        uint8_t* iso = nullptr;
        const zr_status rc = convert(input.data(), input.size(), 255, &iso);
        FUZZ_CHECK(rc == read);
        if (rc == ZR_OK) {
            minutiastruct back{};
            FUZZ_CHECK(zr_iso19794_2_to_minutiastruct(iso, zr_iso19794_2_get_length(iso, 12), &back) == ZR_OK);
            FUZZ_CHECK(back.count == s.count);
        }
        std::free(iso);
    }
    return 0;
}
