// The names the score-model trainer takes on its command line: the model ids
// of --models (train, calibrate) and the model-set names of --sets (evaluate,
// decisions), and their selection from a comma-separated list. Names match in
// either ASCII case and come back in the catalogue's own spelling.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace train_models {

// The trained models, in the order train_models.cpp's kModels lists them.
inline constexpr std::string_view kModelIds[] = {
    "e100", "e115", "e130", "e144", "e56",  "e64",  "e80",  "h100",
    "h115", "h130", "h56",  "p115", "p130", "l160", "l160m", "l192",
};
// The model given with the library (not trained); calibrate checks it too.
inline constexpr std::string_view kGivenModelId = "h80";
// The model sets, in the order train_models.cpp's kSets lists them.
inline constexpr std::string_view kSetNames[] = {
    "E100", "E115", "E130", "E144", "E56",  "E64",  "E80",  "H100", "H115",
    "H130", "H56",  "H80",  "P115", "P130", "L160", "L160m", "L192",
};

inline constexpr std::string_view kModelsOption = "--models";
inline constexpr std::string_view kSetsOption = "--sets";

// Whether `mode` is one of the trainer's modes (train, evaluate, calibrate,
// decisions, export).
bool is_mode(std::string_view mode);

// The names `option` takes in `mode`, in catalogue order; empty when the mode
// does not take the option (or is no mode of the trainer).
std::vector<std::string_view> option_names(std::string_view mode, std::string_view option);

// The catalogue names of the comma-separated `list` of `option` given to
// `mode` (empty items skipped), each item matched against the names the
// option takes there (option_names) ignoring ASCII case, in the list's order.
// Nothing, with the reason in `error`, when an item is not such a name or the
// list holds no name (the reason lists the valid names), or when the mode does
// not take `option` (the reason names the option it takes).
std::optional<std::vector<std::string>> select_mode_names(std::string_view mode, std::string_view option,
                                                          std::string_view list, std::string* error);

// The names joined with ", ".
std::string join_names(const std::vector<std::string_view>& names);

}  // namespace train_models
