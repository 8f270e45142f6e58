// A scripted stand-in for the algorithm library: the eight RADU_ exports the
// engine adapter binds, answering from a script the test sets through the
// script_ exports (quality values, enrolment step codes, match results, the
// saved template), and recording how it was called. Built once complete and
// once per omitted export (OMIT_<export name>) to exercise the binding.
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#define SCRIPT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kSampleBytes = 16896;
constexpr size_t kTemplateBuffer = 20480;

struct Script {
    int32_t quality = 100;
    int32_t init_result = 0;
    std::deque<int32_t> enroll_codes;  // when empty: counts 1..6 as the library does
    int32_t enroll_progress = 0;
    std::deque<int32_t> verify_results;  // when empty: no match
    std::vector<uint8_t> saved_template = std::vector<uint8_t>(1000, 0x5A);
    int32_t saved_size = 1000;  // what save reports (may differ from the bytes written)
    std::map<std::string, int> calls;
    std::map<std::string, int64_t> last_arg;
    std::vector<std::vector<uint8_t>> verified_templates;
    std::vector<uint8_t> last_sample;
};

Script& script() {
    static Script s;
    return s;
}

void note(const char* name, int64_t arg = 0) {
    ++script().calls[name];
    script().last_arg[name] = arg;
}

void keep_sample(const uint8_t* sample) {
    if (sample != nullptr) script().last_sample.assign(sample, sample + kSampleBytes);
}

}  // namespace

// ---- the algorithm library's exports ----

#ifndef OMIT_RADU_alg_request_enroll
SCRIPT_EXPORT int32_t RADU_alg_request_enroll(uint32_t n, const uint8_t* sample) {
    note("RADU_alg_request_enroll", n);
    keep_sample(sample);
    Script& s = script();
    if (!s.enroll_codes.empty()) {
        const int32_t code = s.enroll_codes.front();
        s.enroll_codes.pop_front();
        return code;
    }
    const int32_t step = ++s.enroll_progress;
    if (step >= 6) s.enroll_progress = 0;
    return step;
}
#endif

#ifndef OMIT_RADU_alg_request_verify
SCRIPT_EXPORT int32_t RADU_alg_request_verify(const uint8_t* sample, const uint8_t* bytes, uint32_t size) {
    note("RADU_alg_request_verify", size);
    keep_sample(sample);
    Script& s = script();
    s.verified_templates.emplace_back(bytes, bytes + size);
    if (s.verify_results.empty()) return -10000;
    const int32_t result = s.verify_results.front();
    s.verify_results.pop_front();
    return result;
}
#endif

#ifndef OMIT_RADU_image_quality
SCRIPT_EXPORT int32_t RADU_image_quality(const uint8_t* sample) {
    note("RADU_image_quality");
    keep_sample(sample);
    return script().quality;
}
#endif

#ifndef OMIT_RADU_alg_init
SCRIPT_EXPORT int32_t RADU_alg_init() {
    note("RADU_alg_init");
    script().enroll_progress = 0;
    return script().init_result;
}
#endif

#ifndef OMIT_RADU_alg_exit
SCRIPT_EXPORT int32_t RADU_alg_exit() {
    note("RADU_alg_exit");
    return 0;
}
#endif

#ifndef OMIT_RADU_alg_load_template
SCRIPT_EXPORT int32_t RADU_alg_load_template(uint32_t, const uint8_t*, uint32_t) {
    note("RADU_alg_load_template");
    return 0;
}
#endif

#ifndef OMIT_RADU_alg_save_template
SCRIPT_EXPORT int32_t RADU_alg_save_template(uint32_t n, uint8_t* out, uint8_t* type_out) {
    note("RADU_alg_save_template", n);
    const Script& s = script();
    const size_t bytes = s.saved_template.size() < kTemplateBuffer ? s.saved_template.size() : kTemplateBuffer;
    if (!s.saved_template.empty()) std::memcpy(out, s.saved_template.data(), bytes);
    *type_out = 80;
    return s.saved_size;
}
#endif

#ifndef OMIT_RADU_alg_get_enrolled_count
SCRIPT_EXPORT int32_t RADU_alg_get_enrolled_count(uint32_t n) {
    note("RADU_alg_get_enrolled_count", n);
    return 0;
}
#endif

// ---- the script ----

SCRIPT_EXPORT void script_reset() { script() = Script{}; }
SCRIPT_EXPORT void script_set_quality(int32_t quality) { script().quality = quality; }
SCRIPT_EXPORT void script_set_init_result(int32_t result) { script().init_result = result; }
SCRIPT_EXPORT void script_push_enroll_code(int32_t code) { script().enroll_codes.push_back(code); }
SCRIPT_EXPORT void script_push_verify_result(int32_t result) { script().verify_results.push_back(result); }

// The template the next save writes (`bytes`, at most 20480 of them) and the
// size it reports.
SCRIPT_EXPORT void script_set_saved_template(const uint8_t* bytes, uint32_t count, int32_t reported_size) {
    script().saved_template.assign(bytes, bytes + count);
    script().saved_size = reported_size;
}

SCRIPT_EXPORT int script_calls(const char* name) {
    const auto it = script().calls.find(name);
    return it == script().calls.end() ? 0 : it->second;
}

SCRIPT_EXPORT int64_t script_last_arg(const char* name) {
    const auto it = script().last_arg.find(name);
    return it == script().last_arg.end() ? -1 : it->second;
}

// Copies the template handed to the index-th verification; returns its size or -1.
SCRIPT_EXPORT int64_t script_verified_template(uint32_t index, uint8_t* out, size_t capacity) {
    const auto& all = script().verified_templates;
    if (index >= all.size()) return -1;
    const size_t n = all[index].size() < capacity ? all[index].size() : capacity;
    if (n) std::memcpy(out, all[index].data(), n);
    return static_cast<int64_t>(all[index].size());
}

// Copies the last sample the library was handed; false when it saw none.
SCRIPT_EXPORT bool script_last_sample(uint8_t* out) {
    if (script().last_sample.empty()) return false;
    std::memcpy(out, script().last_sample.data(), kSampleBytes);
    return true;
}
