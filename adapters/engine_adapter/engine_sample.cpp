#include "engine_sample.h"

#include <cstdint>
#include <cstring>

#include "engine_adapter.h"
#include "engine_context.h"
#include "engine_heap.h"
#include "engine_trace.h"

namespace {

// A block lies inside the sample when its end, computed in 64 bits, does not
// pass the sample's end. Empty blocks are never read.
bool block_inside(const WINBIO_BIR_DATA& block, size_t sample_size) {
    if (block.Size == 0) return true;
    const uint64_t end = static_cast<uint64_t>(block.Offset) + static_cast<uint64_t>(block.Size);
    return end <= static_cast<uint64_t>(sample_size);
}

}  // namespace

HRESULT validate_sample_record(const WINBIO_BIR* sample, size_t sample_size) {
    if (sample_size < sizeof(WINBIO_BIR)) return E_INVALIDARG;
    WINBIO_BIR table;
    std::memcpy(&table, sample, sizeof table);
    const WINBIO_BIR_DATA& header = table.HeaderBlock;
    const WINBIO_BIR_DATA& standard = table.StandardDataBlock;
    if (header.Offset == 0 || header.Size < sizeof(WINBIO_BIR_HEADER)) return E_INVALIDARG;
    if (standard.Offset == 0 || standard.Size != WINBIO_SENSOR_IMAGE_BYTES) return E_INVALIDARG;
    if (!block_inside(header, sample_size) || !block_inside(standard, sample_size) ||
        !block_inside(table.VendorDataBlock, sample_size) || !block_inside(table.SignatureBlock, sample_size))
        return E_INVALIDARG;
    WINBIO_BIR_HEADER bir_header;
    std::memcpy(&bir_header, reinterpret_cast<const uint8_t*>(sample) + header.Offset, sizeof bir_header);
    if (bir_header.BiometricDataFormat.Owner != WINBIO_ANSI_381_FORMAT_OWNER ||
        bir_header.BiometricDataFormat.Type != WINBIO_ANSI_381_FORMAT_TYPE)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT EngineAdapterAcceptSampleData(WINBIO_PIPELINE* Pipeline, WINBIO_BIR* SampleBuffer, size_t SampleSize,
                                      WINBIO_BIR_PURPOSE Purpose, WINBIO_REJECT_DETAIL* RejectDetail) {
    engine_trace(" engine engineEngineAdapterAcceptSampleData called\n");
    if (Pipeline == nullptr || SampleBuffer == nullptr || RejectDetail == nullptr) return E_POINTER;
    if (SampleSize == 0 || Purpose == 0) return E_INVALIDARG;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    const HRESULT check = validate_sample_record(SampleBuffer, SampleSize);
    if (FAILED(check)) return check;
    engine_trace("EngineAdapterAcceptSampleData sampleDataSize : %zu, purpose : 0x%08x\n", SampleSize,
                 static_cast<unsigned>(Purpose));

    engine_free_sample(context);
    WINBIO_BIR table;
    std::memcpy(&table, SampleBuffer, sizeof table);
    const uint32_t size = table.StandardDataBlock.Size;
    auto* copy = static_cast<uint8_t*>(EngineHeapAlloc(size));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::memcpy(copy, reinterpret_cast<const uint8_t*>(SampleBuffer) + table.StandardDataBlock.Offset, size);
    context->Sample = copy;
    context->SampleSize = size;
    return S_OK;
}
