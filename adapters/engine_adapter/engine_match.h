// The record walk shared by verification, identification and the duplicate
// check, and the engine's side of the match section.
#pragma once

#include <cstdint>

#include "wbio_engine_types.h"

// The walk broke: NextRecord is missing or failed with something other than
// "no more records".
constexpr HRESULT ENGINE_E_WALK_BROKEN = static_cast<HRESULT>(-10000);

// Compares the context's sample with every record of the storage adapter's
// current result set, stopping at the first match: `match` becomes 1 and
// `record` holds the matching record.
HRESULT AdapterFindMatchRecord(WINBIO_PIPELINE* pipeline, WINBIO_ENGINE_CONTEXT* context, uint8_t* match,
                               WINBIO_STORAGE_RECORD* record);
