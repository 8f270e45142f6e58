// The algorithm presets by name, for the evaluation run.
#include "fpeval_presets.h"

#include <algorithm>

namespace fpeval {

namespace {

constexpr std::span<const Preset> kPresets = kFpNamedPresets;

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
