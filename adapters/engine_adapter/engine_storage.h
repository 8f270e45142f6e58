// Calls into the pipeline's storage adapter, each guarded the same way: no
// storage interface gives E_POINTER and a missing operation E_NOTIMPL, both
// without a call.
#pragma once

#include <cstdint>

#include "wbio_engine_types.h"

HRESULT storage_add_record(WINBIO_PIPELINE* pipeline, WINBIO_STORAGE_RECORD* record);
HRESULT storage_query_by_subject(WINBIO_PIPELINE* pipeline, WINBIO_IDENTITY* identity,
                                 WINBIO_BIOMETRIC_SUBTYPE sub_factor);
HRESULT storage_query_by_content(WINBIO_PIPELINE* pipeline, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                 uint32_t* index_vector, size_t index_count);
HRESULT storage_get_record_count(WINBIO_PIPELINE* pipeline, size_t* count);
HRESULT storage_first_record(WINBIO_PIPELINE* pipeline);
HRESULT storage_next_record(WINBIO_PIPELINE* pipeline);
HRESULT storage_get_current_record(WINBIO_PIPELINE* pipeline, WINBIO_STORAGE_RECORD* record);

// The record count handed to the algorithm library during enrolment: the
// storage adapter's count, or 0 when it cannot be read (the library does not
// depend on it). `result`, when given, receives the storage call's result.
uint32_t storage_record_count_or_zero(WINBIO_PIPELINE* pipeline, HRESULT* result = nullptr);
