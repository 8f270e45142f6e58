// Every algorithm preset of match/zr_presets.h with its name, in name order:
// one table for the tools, tests and benchmarks that walk or pick presets.
#pragma once

#include "match/zr_presets.h"

struct fp_named_preset {
    const char* name;  // the builder's name, e.g. "gen_130x130_hybrid_create"
    zr_algorithm* (*create)(zr_session* session);
};

#define FP_NAMED_PRESET(fn) fp_named_preset{#fn, fn}
inline constexpr fp_named_preset kFpNamedPresets[] = {
    FP_NAMED_PRESET(gen_100x100_hybrid_create),
    FP_NAMED_PRESET(gen_100x100_hybridhr_create),
    FP_NAMED_PRESET(gen_100x100_hybridhr_speed_create),
    FP_NAMED_PRESET(gen_100x100_hybridhr_speed_mem_create),
    FP_NAMED_PRESET(gen_115x115_hybrid_create),
    FP_NAMED_PRESET(gen_115x115_hybrid_speed_create),
    FP_NAMED_PRESET(gen_115x115_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_115x115_hybridhr_create),
    FP_NAMED_PRESET(gen_115x115_hybridhr_speed_create),
    FP_NAMED_PRESET(gen_115x115_hybridhr_speed_mem_create),
    FP_NAMED_PRESET(gen_115x115_pro_speed_mem_create),
    FP_NAMED_PRESET(gen_130x130_hybrid_create),
    FP_NAMED_PRESET(gen_130x130_hybrid_speed_create),
    FP_NAMED_PRESET(gen_130x130_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_130x130_hybridhr_create),
    FP_NAMED_PRESET(gen_130x130_hybridhr_speed_create),
    FP_NAMED_PRESET(gen_130x130_hybridhr_speed_mem_create),
    FP_NAMED_PRESET(gen_130x130_pro_speed_mem_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_slice_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_speed_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_speed_mem_slice_create),
    FP_NAMED_PRESET(gen_144x396_sw_hybrid_speed_slice_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_slice_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_speed_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_speed_mem_slice_create),
    FP_NAMED_PRESET(gen_160x160_hybrid_speed_slice_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_slice_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_speed_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_speed_mem_slice_create),
    FP_NAMED_PRESET(gen_192x192_hybrid_speed_slice_create),
    FP_NAMED_PRESET(gen_192x56_hybrid_create),
    FP_NAMED_PRESET(gen_192x56_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_192x56_hybridhr_create),
    FP_NAMED_PRESET(gen_192x56_hybridhr_speed_mem_create),
    FP_NAMED_PRESET(gen_192x56_pro_speed_mem_create),
    FP_NAMED_PRESET(gen_192x80_hybrid_create),
    FP_NAMED_PRESET(gen_192x80_hybrid_speed_create),
    FP_NAMED_PRESET(gen_192x80_hybrid_speed_mem_create),
    FP_NAMED_PRESET(gen_192x80_hybridhr_create),
    FP_NAMED_PRESET(gen_192x80_hybridhr_speed_create),
    FP_NAMED_PRESET(gen_192x80_hybridhr_speed_mem_create),
    FP_NAMED_PRESET(gen_192x80_pro_speed_mem_create),
    FP_NAMED_PRESET(gen_80x64_hybrid_create),
};
#undef FP_NAMED_PRESET
