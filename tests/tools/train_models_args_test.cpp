// The score-model trainer's command-line names: which names each mode takes,
// their selection in either case, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "train_models_args.h"

namespace {

using train_models::kModelsOption;
using train_models::kSetsOption;
using train_models::select_mode_names;

const std::vector<std::string_view> kTrained(std::begin(train_models::kModelIds), std::end(train_models::kModelIds));
const std::vector<std::string_view> kSets(std::begin(train_models::kSetNames), std::end(train_models::kSetNames));

std::vector<std::string_view> with_given(std::vector<std::string_view> names) {
    names.push_back("h80");
    return names;
}

std::string in_case(std::string_view name, int (*convert)(int)) {
    std::string out(name);
    for (char& c : out) c = char(convert(static_cast<unsigned char>(c)));
    return out;
}

// The valid names as a refusal ends with them.
std::string listing(const std::vector<std::string_view>& names) {
    std::string text = "valid names (either case): ";
    for (size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + std::string(names[i]);
    return text;
}

TEST(TrainModelsArgs, CatalogueHoldsTheModelsAndSetsOnceEach) {
    EXPECT_EQ(kTrained.size(), 16u);
    EXPECT_EQ(kSets.size(), 17u);
    for (const auto* names : {&kTrained, &kSets}) {
        std::set<std::string> folded;
        for (std::string_view n : *names) folded.insert(in_case(n, ::tolower));
        EXPECT_EQ(folded.size(), names->size()) << "two names differ only in case";
    }
    for (std::string_view id : kTrained) EXPECT_EQ(id, in_case(id, ::tolower));
    EXPECT_EQ(std::count(kTrained.begin(), kTrained.end(), train_models::kGivenModelId), 0);
}

TEST(TrainModelsArgs, EachModeTakesItsOptionsNames) {
    struct Row {
        const char* mode;
        std::vector<std::string_view> models, sets;
    };
    const Row rows[] = {
        {"train", kTrained, {}},     {"calibrate", with_given(kTrained), {}}, {"evaluate", {}, kSets},
        {"decisions", {}, kSets},    {"export", {}, {}},                      {"nonsense", {}, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(train_models::option_names(row.mode, kModelsOption), row.models) << row.mode;
        EXPECT_EQ(train_models::option_names(row.mode, kSetsOption), row.sets) << row.mode;
        EXPECT_EQ(train_models::is_mode(row.mode), std::string_view(row.mode) != "nonsense") << row.mode;
    }
    EXPECT_FALSE(train_models::is_mode("Train"));
    EXPECT_FALSE(train_models::is_mode(""));
}

TEST(TrainModelsArgs, EveryNameIsSelectedInAnyCaseAsTheCatalogueSpellsIt) {
    const struct {
        const char* mode;
        std::string_view option;
        std::vector<std::string_view> names;
    } modes[] = {
        {"train", kModelsOption, kTrained},
        {"calibrate", kModelsOption, with_given(kTrained)},
        {"evaluate", kSetsOption, kSets},
        {"decisions", kSetsOption, kSets},
    };
    for (const auto& m : modes)
        for (std::string_view name : m.names)
            for (const std::string& spelling :
                 {std::string(name), in_case(name, ::toupper), in_case(name, ::tolower)}) {
                std::string error;
                const auto selected = select_mode_names(m.mode, m.option, spelling, &error);
                ASSERT_TRUE(selected.has_value()) << m.mode << " " << spelling << ": " << error;
                EXPECT_EQ(*selected, std::vector<std::string>{std::string(name)}) << m.mode << " " << spelling;
            }
}

TEST(TrainModelsArgs, ListsAreSelectedOrRefused) {
    struct Row {
        const char* what;
        const char* mode;
        std::string_view option;
        const char* list;
        std::vector<std::string> selected;  // empty: refused
        std::string error_has;
        std::vector<std::string_view> valid;  // the names the refusal ends with (none: not listed)
    };
    const Row rows[] = {
        {"mixed case, catalogue spelling", "evaluate", kSetsOption, "e130,l160M", {"E130", "L160m"}, "", {}},
        {"model ids in upper case", "train", kModelsOption, "E130,P115", {"e130", "p115"}, "", {}},
        {"the given model", "calibrate", kModelsOption, "e64,H80", {"e64", "h80"}, "", {}},
        {"empty items skipped", "decisions", kSetsOption, ",E56,,p115,", {"E56", "P115"}, "", {}},
        {"list order kept", "train", kModelsOption, "l192,e100", {"l192", "e100"}, "", {}},
        {"unknown set", "evaluate", kSetsOption, "BOGUS", {}, "unknown --sets name \"BOGUS\"", kSets},
        {"unknown set", "decisions", kSetsOption, "nope", {}, "unknown --sets name \"nope\"", kSets},
        {"unknown model", "calibrate", kModelsOption, "zz9", {}, "unknown --models name \"zz9\"",
         with_given(kTrained)},
        {"unknown model", "train", kModelsOption, "zz9", {}, "unknown --models name \"zz9\"", kTrained},
        {"one unknown among known", "train", kModelsOption, "e130,zz9", {}, "\"zz9\"", kTrained},
        {"a prefix is no name", "train", kModelsOption, "e13", {}, "\"e13\"", kTrained},
        {"a longer name is no name", "evaluate", kSetsOption, "E130x", {}, "\"E130x\"", kSets},
        {"the given model is not trained", "train", kModelsOption, "h80", {}, "\"h80\"", kTrained},
        {"empty list", "evaluate", kSetsOption, "", {}, "--sets needs at least one name", kSets},
        {"commas only", "calibrate", kModelsOption, ",", {}, "--models needs at least one name",
         with_given(kTrained)},
        {"models to evaluate", "evaluate", kModelsOption, "e130", {}, "evaluate takes --sets, not --models", {}},
        {"models to decisions", "decisions", kModelsOption, "e130", {}, "decisions takes --sets, not --models", {}},
        {"sets to train", "train", kSetsOption, "E130", {}, "train takes --models, not --sets", {}},
        {"sets to calibrate", "calibrate", kSetsOption, "E130", {}, "calibrate takes --models, not --sets", {}},
        {"models to export", "export", kModelsOption, "e130", {}, "export takes neither --models nor --sets", {}},
        {"sets to export", "export", kSetsOption, "", {}, "export takes neither --models nor --sets", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + ": " + row.mode + " " + std::string(row.option) + " '" + row.list + "'");
        std::string error;
        const auto selected = select_mode_names(row.mode, row.option, row.list, &error);
        if (!row.selected.empty()) {
            ASSERT_TRUE(selected.has_value()) << error;
            EXPECT_EQ(*selected, row.selected);
            continue;
        }
        ASSERT_FALSE(selected.has_value());
        EXPECT_NE(error.find(row.error_has), std::string::npos) << error;
        if (!row.valid.empty()) {
            const std::string valid = listing(row.valid);
            const bool ends_with_valid =
                error.size() >= valid.size() && error.compare(error.size() - valid.size(), valid.size(), valid) == 0;
            EXPECT_TRUE(ends_with_valid) << error << "\ndoes not end with\n" << valid;
        }
    }
}

}  // namespace
