// The algorithm presets by name, for the evaluation run.
#include "fpeval_presets.h"

#include <algorithm>
#include <array>

namespace fpeval {

namespace {

#define FPEVAL_PRESET(name) Preset{#name, name}

// Every preset of match/zr_presets.h, in name order.
constexpr std::array kPresets = {
    FPEVAL_PRESET(gen_100x100_hybrid_create),
    FPEVAL_PRESET(gen_100x100_hybridhr_create),
    FPEVAL_PRESET(gen_100x100_hybridhr_speed_create),
    FPEVAL_PRESET(gen_100x100_hybridhr_speed_mem_create),
    FPEVAL_PRESET(gen_115x115_hybrid_create),
    FPEVAL_PRESET(gen_115x115_hybrid_speed_create),
    FPEVAL_PRESET(gen_115x115_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_115x115_hybridhr_create),
    FPEVAL_PRESET(gen_115x115_hybridhr_speed_create),
    FPEVAL_PRESET(gen_115x115_hybridhr_speed_mem_create),
    FPEVAL_PRESET(gen_115x115_pro_speed_mem_create),
    FPEVAL_PRESET(gen_130x130_hybrid_create),
    FPEVAL_PRESET(gen_130x130_hybrid_speed_create),
    FPEVAL_PRESET(gen_130x130_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_130x130_hybridhr_create),
    FPEVAL_PRESET(gen_130x130_hybridhr_speed_create),
    FPEVAL_PRESET(gen_130x130_hybridhr_speed_mem_create),
    FPEVAL_PRESET(gen_130x130_pro_speed_mem_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_slice_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_speed_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_speed_mem_slice_create),
    FPEVAL_PRESET(gen_144x396_sw_hybrid_speed_slice_create),
    FPEVAL_PRESET(gen_160x160_hybrid_create),
    FPEVAL_PRESET(gen_160x160_hybrid_slice_create),
    FPEVAL_PRESET(gen_160x160_hybrid_speed_create),
    FPEVAL_PRESET(gen_160x160_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_160x160_hybrid_speed_mem_slice_create),
    FPEVAL_PRESET(gen_160x160_hybrid_speed_slice_create),
    FPEVAL_PRESET(gen_192x192_hybrid_create),
    FPEVAL_PRESET(gen_192x192_hybrid_slice_create),
    FPEVAL_PRESET(gen_192x192_hybrid_speed_create),
    FPEVAL_PRESET(gen_192x192_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_192x192_hybrid_speed_mem_slice_create),
    FPEVAL_PRESET(gen_192x192_hybrid_speed_slice_create),
    FPEVAL_PRESET(gen_192x56_hybrid_create),
    FPEVAL_PRESET(gen_192x56_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_192x56_hybridhr_create),
    FPEVAL_PRESET(gen_192x56_hybridhr_speed_mem_create),
    FPEVAL_PRESET(gen_192x56_pro_speed_mem_create),
    FPEVAL_PRESET(gen_192x80_hybrid_create),
    FPEVAL_PRESET(gen_192x80_hybrid_speed_create),
    FPEVAL_PRESET(gen_192x80_hybrid_speed_mem_create),
    FPEVAL_PRESET(gen_192x80_hybridhr_create),
    FPEVAL_PRESET(gen_192x80_hybridhr_speed_create),
    FPEVAL_PRESET(gen_192x80_hybridhr_speed_mem_create),
    FPEVAL_PRESET(gen_192x80_pro_speed_mem_create),
    FPEVAL_PRESET(gen_80x64_hybrid_create),
};

#undef FPEVAL_PRESET

constexpr std::string_view kPrefix = "gen_";
constexpr std::string_view kSuffix = "_create";

// The name without the gen_ prefix and the _create suffix.
std::string_view short_name(std::string_view name) {
    if (name.starts_with(kPrefix)) name.remove_prefix(kPrefix.size());
    if (name.ends_with(kSuffix)) name.remove_suffix(kSuffix.size());
    return name;
}

}  // namespace

std::span<const Preset> presets() { return kPresets; }

const Preset* find_preset(std::string_view name) {
    const std::string_view wanted = short_name(name);
    const auto it = std::find_if(kPresets.begin(), kPresets.end(),
                                 [wanted](const Preset& p) { return short_name(p.name) == wanted; });
    return it != kPresets.end() ? &*it : nullptr;
}

}  // namespace fpeval
