// The engine adapter's sample acceptance: the input is the biometric
// information record the framework hands over. Only the documented results
// come back; an accepted record has its 16896-byte standard block, a header
// of at least 48 bytes naming the standard format, and every block inside the
// record, and the engine keeps an exact copy of the standard block; a refused
// record leaves no sample behind.
#include "engine_adapter.h"
#include "fuzz_support.h"
#include "wbio_engine_types.h"

namespace {

bool block_inside(const WINBIO_BIR_DATA& block, size_t size) {
    return block.Size == 0 || uint64_t(block.Offset) + block.Size <= size;
}

// What an accepted record must hold, read independently of the adapter.
bool record_acceptable(const fuzz::ExactCopy& input) {
    if (input.size() < sizeof(WINBIO_BIR)) return false;
    WINBIO_BIR table;
    std::memcpy(&table, input.data(), sizeof table);
    if (table.HeaderBlock.Offset == 0 || table.HeaderBlock.Size < sizeof(WINBIO_BIR_HEADER)) return false;
    if (table.StandardDataBlock.Offset == 0 || table.StandardDataBlock.Size != WINBIO_SENSOR_IMAGE_BYTES)
        return false;
    for (const WINBIO_BIR_DATA* block : {&table.HeaderBlock, &table.StandardDataBlock, &table.VendorDataBlock,
                                         &table.SignatureBlock})
        if (!block_inside(*block, input.size())) return false;
    WINBIO_REGISTERED_FORMAT format;
    std::memcpy(&format, input.data() + table.HeaderBlock.Offset + offsetof(WINBIO_BIR_HEADER, BiometricDataFormat),
                sizeof format);
    return format.Owner == WINBIO_ANSI_381_FORMAT_OWNER && format.Type == WINBIO_ANSI_381_FORMAT_TYPE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    WINBIO_PIPELINE pipeline{};
    pipeline.SensorHandle = INVALID_HANDLE_VALUE;
    pipeline.EngineHandle = INVALID_HANDLE_VALUE;
    pipeline.StorageHandle = INVALID_HANDLE_VALUE;
    FUZZ_CHECK(EngineAdapterAttach(&pipeline) == S_OK);
    auto* context = static_cast<WINBIO_ENGINE_CONTEXT*>(pipeline.EngineContext);

    WINBIO_REJECT_DETAIL reject = 0;
    const HRESULT result = EngineAdapterAcceptSampleData(&pipeline, reinterpret_cast<WINBIO_BIR*>(input.data()),
                                                         input.size(), WINBIO_PURPOSE_VERIFY, &reject);
    FUZZ_CHECK(result == S_OK || result == E_INVALIDARG || result == E_OUTOFMEMORY);
    if (result == S_OK) {
        FUZZ_CHECK(record_acceptable(input));
        WINBIO_BIR table;
        std::memcpy(&table, input.data(), sizeof table);
        FUZZ_CHECK(context->SampleSize == WINBIO_SENSOR_IMAGE_BYTES && context->Sample != nullptr);
        FUZZ_CHECK(std::memcmp(context->Sample, input.data() + table.StandardDataBlock.Offset,
                               WINBIO_SENSOR_IMAGE_BYTES) == 0);
    } else {
        FUZZ_CHECK(result == E_OUTOFMEMORY || !record_acceptable(input));
        FUZZ_CHECK(context->Sample == nullptr && context->SampleSize == 0);
    }
    FUZZ_CHECK(EngineAdapterDetach(&pipeline) == S_OK);
    return 0;
}
