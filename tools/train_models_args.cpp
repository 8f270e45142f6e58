#include "train_models_args.h"

#include <algorithm>
#include <iterator>

namespace train_models {

namespace {

// The option each mode lists names with; export takes none.
struct ModeOption {
    std::string_view mode;
    std::string_view option;
};
constexpr ModeOption kModeOptions[] = {
    {"train", kModelsOption}, {"calibrate", kModelsOption}, {"evaluate", kSetsOption},
    {"decisions", kSetsOption}, {"export", {}},
};

std::string_view mode_option(std::string_view mode) {
    for (const ModeOption& m : kModeOptions)
        if (m.mode == mode) return m.option;
    return {};
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

std::vector<std::string_view> split_list(std::string_view list) {
    std::vector<std::string_view> items;
    while (!list.empty()) {
        const size_t comma = std::min(list.find(','), list.size());
        if (comma > 0) items.push_back(list.substr(0, comma));
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return items;
}

std::string valid_names_text(const std::vector<std::string_view>& known) {
    return "valid names (either case): " + join_names(known);
}

// The names of `list` matched in `known`; nothing, with the reason, as
// select_mode_names refuses.
std::optional<std::vector<std::string>> select_names(std::string_view list, const std::vector<std::string_view>& known,
                                                     std::string_view option, std::string* error) {
    std::vector<std::string> selected;
    for (std::string_view item : split_list(list)) {
        const auto match = std::find_if(known.begin(), known.end(),
                                        [item](std::string_view name) { return equal_ignoring_case(item, name); });
        if (match == known.end()) {
            *error = "unknown " + std::string(option) + " name \"" + std::string(item) + "\"; " +
                     valid_names_text(known);
            return std::nullopt;
        }
        selected.emplace_back(*match);
    }
    if (selected.empty()) {
        *error = std::string(option) + " needs at least one name; " + valid_names_text(known);
        return std::nullopt;
    }
    return selected;
}

}  // namespace

bool is_mode(std::string_view mode) {
    return std::any_of(std::begin(kModeOptions), std::end(kModeOptions),
                       [mode](const ModeOption& m) { return m.mode == mode; });
}

std::vector<std::string_view> option_names(std::string_view mode, std::string_view option) {
    if (option.empty() || mode_option(mode) != option) return {};
    std::vector<std::string_view> names;
    if (option == kModelsOption) {
        names.assign(std::begin(kModelIds), std::end(kModelIds));
        if (mode == "calibrate") names.push_back(kGivenModelId);
    } else {
        names.assign(std::begin(kSetNames), std::end(kSetNames));
    }
    return names;
}

std::optional<std::vector<std::string>> select_mode_names(std::string_view mode, std::string_view option,
                                                          std::string_view list, std::string* error) {
    const std::vector<std::string_view> known = option_names(mode, option);
    if (!known.empty()) return select_names(list, known, option, error);
    const std::string_view taken = mode_option(mode);
    if (taken.empty())
        *error = std::string(mode) + " takes neither " + std::string(kModelsOption) + " nor " +
                 std::string(kSetsOption);
    else
        *error = std::string(mode) + " takes " + std::string(taken) + ", not " + std::string(option);
    return std::nullopt;
}

std::string join_names(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::string_view name : names) {
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

}  // namespace train_models
