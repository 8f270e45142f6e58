#include "engine_storage.h"

namespace {

// The storage interface when the call can be made, else the guard's result.
template <typename Slot>
HRESULT guard(WINBIO_PIPELINE* pipeline, Slot WINBIO_STORAGE_INTERFACE::*slot) {
    if (pipeline == nullptr || pipeline->StorageInterface == nullptr) return E_POINTER;
    if (pipeline->StorageInterface->*slot == nullptr) return E_NOTIMPL;
    return S_OK;
}

}  // namespace

HRESULT storage_add_record(WINBIO_PIPELINE* pipeline, WINBIO_STORAGE_RECORD* record) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::AddRecord);
    return FAILED(hr) ? hr : pipeline->StorageInterface->AddRecord(pipeline, record);
}

HRESULT storage_query_by_subject(WINBIO_PIPELINE* pipeline, WINBIO_IDENTITY* identity,
                                 WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::QueryBySubject);
    return FAILED(hr) ? hr : pipeline->StorageInterface->QueryBySubject(pipeline, identity, sub_factor);
}

HRESULT storage_query_by_content(WINBIO_PIPELINE* pipeline, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                 uint32_t* index_vector, size_t index_count) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::QueryByContent);
    return FAILED(hr) ? hr
                      : pipeline->StorageInterface->QueryByContent(pipeline, sub_factor, index_vector,
                                                                    index_count);
}

HRESULT storage_get_record_count(WINBIO_PIPELINE* pipeline, size_t* count) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::GetRecordCount);
    return FAILED(hr) ? hr : pipeline->StorageInterface->GetRecordCount(pipeline, count);
}

HRESULT storage_first_record(WINBIO_PIPELINE* pipeline) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::FirstRecord);
    return FAILED(hr) ? hr : pipeline->StorageInterface->FirstRecord(pipeline);
}

HRESULT storage_next_record(WINBIO_PIPELINE* pipeline) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::NextRecord);
    return FAILED(hr) ? hr : pipeline->StorageInterface->NextRecord(pipeline);
}

HRESULT storage_get_current_record(WINBIO_PIPELINE* pipeline, WINBIO_STORAGE_RECORD* record) {
    const HRESULT hr = guard(pipeline, &WINBIO_STORAGE_INTERFACE::GetCurrentRecord);
    return FAILED(hr) ? hr : pipeline->StorageInterface->GetCurrentRecord(pipeline, record);
}

uint32_t storage_record_count_or_zero(WINBIO_PIPELINE* pipeline, HRESULT* result) {
    size_t count = 0;
    const HRESULT hr = storage_get_record_count(pipeline, &count);
    if (result != nullptr) *result = hr;
    if (FAILED(hr)) return 0;
    return count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}
