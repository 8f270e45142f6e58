// The shared library exports exactly the twelve names of its interface, and
// its header declares them for C callers.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "api/fpmatch.h"

using c_entry = void (*)();
extern "C" const c_entry* api_header_c_entries(int* n);

namespace {

const std::set<std::string> kInterface = {
    "RADU_alg_init",          "RADU_alg_exit",           "RADU_alg_request_enroll",
    "RADU_alg_request_verify", "RADU_alg_save_template", "RADU_alg_load_template",
    "RADU_image_quality",     "RADU_alg_get_version",    "RADU_alg_get_enrolled_count",
    "RADU_alg_is_enrolled",   "RADU_alg_cancel_enroll",  "RADU_alg_remove_fingerprint",
};

// The defined dynamic symbols of the library as nm lists them; the second
// result is false when nm could not be run.
std::pair<std::set<std::string>, bool> defined_dynamic_symbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {names, false};
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name) names.insert(name);
    }
    return {names, pclose(pipe) == 0};
}

TEST(ApiExports, TheSharedLibraryExportsExactlyTheInterface) {
    const auto [names, ran] = defined_dynamic_symbols(FPMATCH_SHARED_LIBRARY);
    ASSERT_TRUE(ran) << "nm -D failed on " << FPMATCH_SHARED_LIBRARY;
    EXPECT_EQ(kInterface, names);
}

}  // namespace

TEST(ApiExports, TheHeaderServesCCallers) {
    int n = 0;
    const c_entry* entries = api_header_c_entries(&n);
    ASSERT_EQ(12, n);
    const c_entry expected[] = {
        reinterpret_cast<c_entry>(RADU_alg_init),
        reinterpret_cast<c_entry>(RADU_alg_exit),
        reinterpret_cast<c_entry>(RADU_alg_get_enrolled_count),
        reinterpret_cast<c_entry>(RADU_alg_get_version),
        reinterpret_cast<c_entry>(RADU_alg_load_template),
        reinterpret_cast<c_entry>(RADU_alg_cancel_enroll),
        reinterpret_cast<c_entry>(RADU_alg_is_enrolled),
        reinterpret_cast<c_entry>(RADU_alg_remove_fingerprint),
        reinterpret_cast<c_entry>(RADU_alg_request_enroll),
        reinterpret_cast<c_entry>(RADU_alg_request_verify),
        reinterpret_cast<c_entry>(RADU_alg_save_template),
        reinterpret_cast<c_entry>(RADU_image_quality),
    };
    for (int i = 0; i < n; ++i) EXPECT_EQ(expected[i], entries[i]) << i;
}
