// Algorithm presets and chain builders.
//
// A preset builds a complete algorithm for one sensor geometry and one
// speed/memory trade-off: configuration, chain of links, template type,
// sensor size, features and verification models. Every preset takes a session
// or none and returns a new algorithm (one reference) or none; none also when
// the session already holds an algorithm. Nothing stays allocated on failure
// (session keys written before the failure stay, as the algorithm object does).
//
// Presets marked "650 dpi" below set "zr.extractor.dpi" to 650 in the session
// unless it already has the key; without a session they make one, which the
// algorithm then holds.
//
// Verification models: every preset's model set holds a model for each EHM,
// EHM-HR (and, in the pro sets, spectral) verifier its chain uses: the given
// EHM-HR model of the 192x80 hybridhr family and sixteen trained ones
// (zr_vermodels.h, tools/train_models.cpp).
#pragma once

#include <cstdint>

#include "match/zr_algorithm.h"
#include "match/chain/zr_algorithm_chain.h"
#include "objects/zr_session.h"

// Chain-table rows: 0..19.
inline constexpr int32_t ZR_PRESET_CHAIN_ROWS = 20;

// Chain builders over one chain-table row: a new chain (links owned), or none
// for a row outside the table, no memory, or a failed session write. The
// two-link builders put a vandrel link before an EHM (ehm_) or EHM-HR
// (ehmhr_) link; the three-link builders a vandrel, an EHM and an EHM-HR link.
// "zr.algorithm.speed" trades subtemplates for speed: the last links search
// fewer subtemplates as it rises. fspec_create_chain also sets
// "zr.ehm.spectral_low_latency" to 1 when the session lacks it.
zr_algorithm_chain* ehm_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row);
zr_algorithm_chain* ehmhr_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row);
zr_algorithm_chain* fehm_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row);
zr_algorithm_chain* fspec_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row);

// 650 dpi: the 100x100, 115x115, 192x56 and 80x64 families.
zr_algorithm* gen_100x100_hybrid_create(zr_session* session);
zr_algorithm* gen_100x100_hybridhr_create(zr_session* session);
zr_algorithm* gen_100x100_hybridhr_speed_create(zr_session* session);
zr_algorithm* gen_100x100_hybridhr_speed_mem_create(zr_session* session);
zr_algorithm* gen_115x115_hybrid_create(zr_session* session);
zr_algorithm* gen_115x115_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_115x115_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_115x115_hybridhr_create(zr_session* session);
zr_algorithm* gen_115x115_hybridhr_speed_create(zr_session* session);
zr_algorithm* gen_115x115_hybridhr_speed_mem_create(zr_session* session);
zr_algorithm* gen_115x115_pro_speed_mem_create(zr_session* session);
zr_algorithm* gen_130x130_hybrid_create(zr_session* session);
zr_algorithm* gen_130x130_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_130x130_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_130x130_hybridhr_create(zr_session* session);
zr_algorithm* gen_130x130_hybridhr_speed_create(zr_session* session);
zr_algorithm* gen_130x130_hybridhr_speed_mem_create(zr_session* session);
zr_algorithm* gen_130x130_pro_speed_mem_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_slice_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_speed_mem_slice_create(zr_session* session);
zr_algorithm* gen_144x396_sw_hybrid_speed_slice_create(zr_session* session);
// The two 160x160 hybrid and hybrid_slice presets also switch spectral full
// search (feature 1) on.
zr_algorithm* gen_160x160_hybrid_create(zr_session* session);
zr_algorithm* gen_160x160_hybrid_slice_create(zr_session* session);
zr_algorithm* gen_160x160_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_160x160_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_160x160_hybrid_speed_mem_slice_create(zr_session* session);
zr_algorithm* gen_160x160_hybrid_speed_slice_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_slice_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_speed_mem_slice_create(zr_session* session);
zr_algorithm* gen_192x192_hybrid_speed_slice_create(zr_session* session);
zr_algorithm* gen_192x56_hybrid_create(zr_session* session);
zr_algorithm* gen_192x56_hybrid_speed_mem_create(zr_session* session);
zr_algorithm* gen_192x56_hybridhr_create(zr_session* session);
zr_algorithm* gen_192x56_hybridhr_speed_mem_create(zr_session* session);
zr_algorithm* gen_192x56_pro_speed_mem_create(zr_session* session);
zr_algorithm* gen_192x80_hybrid_create(zr_session* session);
zr_algorithm* gen_192x80_hybrid_speed_create(zr_session* session);
zr_algorithm* gen_192x80_hybrid_speed_mem_create(zr_session* session);
// The exported interface's preset (trained EHM-HR model).
zr_algorithm* gen_192x80_hybridhr_create(zr_session* session);
zr_algorithm* gen_192x80_hybridhr_speed_create(zr_session* session);
zr_algorithm* gen_192x80_hybridhr_speed_mem_create(zr_session* session);
zr_algorithm* gen_192x80_pro_speed_mem_create(zr_session* session);
zr_algorithm* gen_80x64_hybrid_create(zr_session* session);
