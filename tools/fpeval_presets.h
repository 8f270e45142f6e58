// The algorithm presets by name, for the evaluation run.
#pragma once

#include <span>
#include <string_view>

#include "fp_named_presets.h"

namespace fpeval {

using Preset = fp_named_preset;

// All 49 presets, in name order.
std::span<const Preset> presets();

// The preset of that name, given with or without its "gen_" prefix and its
// "_create" suffix; none when no preset has it.
const Preset* find_preset(std::string_view name);

}  // namespace fpeval
