#include "fpdemo_scenario.h"

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <map>

#include "match_section_name.h"

namespace fpdemo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxEnrolSamples = 16;  // captures one enrolment may take, bad ones included
constexpr int kCaptureAttempts = 3;      // a capture abandoned by the driver is requested again
constexpr size_t kDiscardAfter = 3;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

WINBIO_IDENTITY identity_of(uint32_t number) {
    WINBIO_IDENTITY id{};
    id.Type = WINBIO_ID_TYPE_GUID;
    id.Value.TemplateGuid.Data1 = number;
    id.Value.TemplateGuid.Data2 = 0xF1;
    id.Value.TemplateGuid.Data3 = 0x5E;
    for (int i = 0; i < 8; ++i) id.Value.TemplateGuid.Data4[i] = static_cast<uint8_t>(number * 7 + i);
    return id;
}

bool same_identity(const WINBIO_IDENTITY& a, const WINBIO_IDENTITY& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<uint8_t> payload_of(const std::string& label) {
    const std::string text = "payload of " + label;
    return {text.begin(), text.end()};
}

struct Enrolled {
    std::string label;
    WINBIO_IDENTITY identity;
    WINBIO_BIOMETRIC_SUBTYPE sub_factor;
    std::vector<uint8_t> payload;
};

class Runner {
public:
    Runner(SimBiometricService& service, SimStorageAdapter& storage, CaptureDevice& device,
           const std::vector<DemoFinger>& fingers, const ScenarioOptions& options)
        : service_(service), storage_(storage), device_(device), fingers_(fingers), options_(options) {}

    ScenarioSummary run();

private:
    void say(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void check(bool ok, const char* format, ...) __attribute__((format(printf, 3, 4)));

    Capture take_once(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose);
    Capture take(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose);
    SimEnrollOutcome enrol(const DemoFinger& finger, const Enrolled& as);

    void enrol_three();
    void enrol_again();
    void verify_steps();
    void identify_steps();
    void unknown_finger_steps();
    void discarded_enrolment();
    void probe_round();

    SimBiometricService& service_;
    SimStorageAdapter& storage_;
    CaptureDevice& device_;
    const std::vector<DemoFinger>& fingers_;
    ScenarioOptions options_;
    ScenarioSummary summary_;
    std::map<std::string, Enrolled> enrolled_;  // by finger name
    std::vector<Enrolled> roles_;               // A, B, C, D (never enrolled), E
    std::vector<uint8_t> unknown_sample_;       // D's capture taken after the abandoned one
};

void Runner::say(const char* format, ...) {
    if (options_.log == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(options_.log, format, args);
    va_end(args);
    std::fflush(options_.log);
}

void Runner::check(bool ok, const char* format, ...) {
    if (!ok) ++summary_.failed_checks;
    if (options_.log == nullptr) return;
    std::fprintf(options_.log, "  [%s] ", ok ? "ok" : "FAILED");
    va_list args;
    va_start(args, format);
    std::vfprintf(options_.log, format, args);
    va_end(args);
    std::fputc('\n', options_.log);
    std::fflush(options_.log);
}

Capture Runner::take_once(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) {
    ++summary_.captures;
    Capture c = device_.capture(image, purpose);
    if (c.status == E_ABORT) ++summary_.aborted_captures;
    return c;
}

Capture Runner::take(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) {
    Capture c;
    for (int attempt = 0; attempt < kCaptureAttempts; ++attempt) {
        c = take_once(image, purpose);
        if (c.status != E_ABORT) break;
        say("    capture abandoned by the driver after a matched identification (E_ABORT): taken again\n");
    }
    return c;
}

SimEnrollOutcome Runner::enrol(const DemoFinger& finger, const Enrolled& as) {
    size_t next = 0;
    HRESULT capture_failure = S_OK;
    const SimSampleSource source = [&](std::vector<uint8_t>& sample) -> HRESULT {
        Capture c = take(finger.enrol[next++ % finger.enrol.size()], WINBIO_PURPOSE_ENROLL);
        if (FAILED(c.status)) return capture_failure = c.status;
        sample = std::move(c.sample);
        return S_OK;
    };
    const auto start = Clock::now();
    SimEnrollOutcome outcome = service_.enroll(as.identity, as.sub_factor, source, kMaxEnrolSamples, as.payload);
    const double ms = ms_since(start);
    int bad = 0;
    for (HRESULT hr : outcome.updates) bad += hr == WINBIO_E_BAD_CAPTURE;
    summary_.bad_captures += bad;
    if (outcome.result == S_OK && !outcome.duplicate) {
        ++summary_.enrolments;
        summary_.enrolment_ms += ms;
    }
    say("    %zu captures (%d refused as bad), result 0x%08x%s, %.0f ms\n", outcome.samples_used, bad,
        static_cast<unsigned>(outcome.result), FAILED(capture_failure) ? " (a capture failed)" : "", ms);
    return outcome;
}

void Runner::enrol_three() {
    for (size_t k = 0; k < 3; ++k) {
        const Enrolled& as = roles_[k];
        say("1. enrol %s (%s) as identity %u, sub-factor %u\n", as.label.c_str(), fingers_[k].name.c_str(),
            as.identity.Value.TemplateGuid.Data1, as.sub_factor);
        const size_t before = storage_.records().size();
        const SimEnrollOutcome o = enrol(fingers_[k], as);
        check(o.result == S_OK && !o.duplicate && storage_.records().size() == before + 1,
              "%s committed, no duplicate", as.label.c_str());
        if (o.result == S_OK && !o.duplicate) enrolled_[fingers_[k].name] = as;
    }
}

void Runner::enrol_again() {
    Enrolled again = roles_[0];
    again.identity = identity_of(9);
    again.label = "A again";
    say("2. enrol A again under identity 9\n");
    const size_t before = storage_.records().size();
    const SimEnrollOutcome o = enrol(fingers_[0], again);
    check(o.result == S_OK && o.duplicate && same_identity(o.duplicate_identity, roles_[0].identity) &&
              storage_.records().size() == before,
          "the duplicate check names A's identity (%u); nothing committed", o.duplicate_identity.Value.TemplateGuid.Data1);
}

void Runner::verify_steps() {
    const Enrolled& a = roles_[0];
    const Enrolled& b = roles_[1];
    say("3. verify\n");
    Capture c = take(fingers_[0].enrol[0], WINBIO_PURPOSE_VERIFY);
    SimMatchOutcome m = service_.verify(c.sample, a.identity, a.sub_factor);
    ++summary_.verifications;
    check(c.status == S_OK && m.result == S_OK && m.match && m.payload == a.payload,
          "a capture of A as A: match, payload \"%.*s\"", static_cast<int>(m.payload.size()),
          reinterpret_cast<const char*>(m.payload.data()));
    c = take(fingers_[0].enrol[1], WINBIO_PURPOSE_VERIFY);
    m = service_.verify(c.sample, b.identity, b.sub_factor);
    ++summary_.verifications;
    check(c.status == S_OK && m.result == WINBIO_E_NO_MATCH && !m.match, "a capture of A as B: 0x%08x (no match)",
          static_cast<unsigned>(m.result));
}

void Runner::identify_steps() {
    const Enrolled& a = roles_[0];
    const DemoFinger& d = fingers_[3];
    say("4. identify\n");
    Capture c = take(fingers_[0].enrol[2], WINBIO_PURPOSE_IDENTIFY);
    const auto start = Clock::now();
    const SimMatchOutcome m = service_.identify(c.sample);
    summary_.identification_ms += ms_since(start);
    ++summary_.identifications;
    check(c.status == S_OK && m.result == S_OK && same_identity(m.identity, a.identity) && m.sub_factor == a.sub_factor,
          "a capture of A: identity %u, sub-factor %u", m.identity.Value.TemplateGuid.Data1, m.sub_factor);
    const int64_t after_match = sim_read_section(fp_platform::kMatchSectionName);
    check(after_match == 1, "the match section holds %lld", static_cast<long long>(after_match));

    c = take_once(d.enrol[0], WINBIO_PURPOSE_IDENTIFY);
    const int64_t after_abort = sim_read_section(fp_platform::kMatchSectionName);
    check(c.status == E_ABORT && c.start_packets == 0 && c.stop_packets == 2 && after_abort == -1,
          "the next capture: 0x%08x (E_ABORT), %u start and %u stop packets, section %s",
          static_cast<unsigned>(c.status), c.start_packets, c.stop_packets, after_abort == -1 ? "gone" : "still there");
    c = take_once(d.enrol[0], WINBIO_PURPOSE_IDENTIFY);
    const int64_t afresh = sim_read_section(fp_platform::kMatchSectionName);
    check(c.status == S_OK && afresh == 0, "the capture after it: 0x%08x, section created afresh at %lld",
          static_cast<unsigned>(c.status), static_cast<long long>(afresh));
    unknown_sample_ = std::move(c.sample);
}

void Runner::unknown_finger_steps() {
    say("5. identify a finger never enrolled (%s)\n", fingers_[3].name.c_str());
    const auto start = Clock::now();
    const SimMatchOutcome m = service_.identify(unknown_sample_);
    summary_.identification_ms += ms_since(start);
    ++summary_.identifications;
    const int64_t section = sim_read_section(fp_platform::kMatchSectionName);
    check(m.result == WINBIO_E_UNKNOWN_ID && section == 0, "0x%08x (unknown identity), the section at %lld",
          static_cast<unsigned>(m.result), static_cast<long long>(section));
    const Capture c = take_once(fingers_[3].enrol[1 % fingers_[3].enrol.size()], WINBIO_PURPOSE_IDENTIFY);
    check(c.status == S_OK, "the next capture: 0x%08x (not abandoned)", static_cast<unsigned>(c.status));
}

void Runner::discarded_enrolment() {
    const Enrolled& e = roles_[4];
    const DemoFinger& finger = fingers_[fingers_.size() > 4 ? 4 : 3];
    const WINBIO_ENGINE_INTERFACE* engine = service_.engine();
    WINBIO_PIPELINE* pipeline = &service_.pipeline();
    const size_t before = storage_.records().size();
    say("6. an enrolment of %s discarded after %zu captures, then a new one\n", finger.name.c_str(), kDiscardAfter);

    bool steps_ok = engine->CreateEnrollment(pipeline) == S_OK;
    WINBIO_EXTENDED_ENROLLMENT_PARAMETERS parameters{sizeof parameters, e.sub_factor};
    engine->SetEnrollmentParameters(pipeline, &parameters);
    for (size_t i = 0; i < kDiscardAfter; ++i) {
        const Capture c = take(finger.enrol[i % finger.enrol.size()], WINBIO_PURPOSE_ENROLL);
        WINBIO_REJECT_DETAIL reject = 0;
        HRESULT hr = c.status;
        if (SUCCEEDED(hr))
            hr = engine->AcceptSampleData(pipeline, reinterpret_cast<WINBIO_BIR*>(const_cast<uint8_t*>(c.sample.data())),
                                          c.sample.size(), WINBIO_PURPOSE_ENROLL, &reject);
        if (SUCCEEDED(hr)) hr = engine->UpdateEnrollment(pipeline, &reject);
        if (hr == WINBIO_E_BAD_CAPTURE) ++summary_.bad_captures;
        steps_ok = steps_ok && (hr == WINBIO_I_MORE_DATA || hr == WINBIO_E_BAD_CAPTURE);
    }
    steps_ok = steps_ok && engine->DiscardEnrollment(pipeline) == S_OK;
    engine->ClearContext(pipeline);
    check(steps_ok, "%zu captures taken, more data wanted, the enrolment discarded", kDiscardAfter);

    WINBIO_IDENTITY id = e.identity;
    const HRESULT after_discard = engine->CommitEnrollment(pipeline, &id, e.sub_factor, nullptr, 0);
    const HRESULT created = engine->CreateEnrollment(pipeline);
    const HRESULT at_once = engine->CommitEnrollment(pipeline, &id, e.sub_factor, nullptr, 0);
    engine->DiscardEnrollment(pipeline);
    engine->ClearContext(pipeline);
    check(after_discard == WINBIO_E_INVALID_DEVICE_STATE && created == S_OK &&
              at_once == WINBIO_E_INVALID_DEVICE_STATE && storage_.records().size() == before,
          "nothing to commit after the discard (0x%08x) nor in a fresh enrolment (0x%08x)",
          static_cast<unsigned>(after_discard), static_cast<unsigned>(at_once));

    say("   the new enrolment of %s as identity %u\n", finger.name.c_str(), e.identity.Value.TemplateGuid.Data1);
    const SimEnrollOutcome o = enrol(finger, e);
    check(o.result == S_OK && !o.duplicate && storage_.records().size() == before + 1, "%s committed",
          e.label.c_str());
    if (o.result == S_OK && !o.duplicate) enrolled_[finger.name] = e;
    const Capture c = take(finger.enrol[(kDiscardAfter + 1) % finger.enrol.size()], WINBIO_PURPOSE_VERIFY);
    const SimMatchOutcome m = service_.verify(c.sample, e.identity, e.sub_factor);
    ++summary_.verifications;
    check(m.result == S_OK && m.match && m.payload == e.payload, "a capture of %s verifies as %s",
          e.label.c_str(), e.label.c_str());
}

void Runner::probe_round() {
    say("probes: every finger's probes identified, and verified as their own finger when enrolled\n");
    for (const DemoFinger& finger : fingers_) {
        const auto found = enrolled_.find(finger.name);
        const Enrolled* own = found == enrolled_.end() ? nullptr : &found->second;
        for (size_t k = 0; k < finger.probes.size(); ++k) {
            Capture c = take(finger.probes[k], WINBIO_PURPOSE_IDENTIFY);
            const auto start = Clock::now();
            const SimMatchOutcome m = service_.identify(c.sample);
            summary_.identification_ms += ms_since(start);
            ++summary_.identifications;
            const bool answered = m.result == S_OK || m.result == WINBIO_E_UNKNOWN_ID || m.result == WINBIO_E_BAD_CAPTURE;
            std::string who = "unknown";
            for (const auto& [name, e] : enrolled_)
                if (m.result == S_OK && same_identity(m.identity, e.identity)) who = e.label;
            std::string verified;
            if (own != nullptr) {
                ++summary_.probes.genuine_identifications;
                if (m.result == S_OK) (who == own->label ? summary_.probes.genuine_identified
                                                         : summary_.probes.genuine_misidentified)++;
                c = take(finger.probes[k], WINBIO_PURPOSE_VERIFY);
                const SimMatchOutcome v = service_.verify(c.sample, own->identity, own->sub_factor);
                ++summary_.verifications;
                ++summary_.probes.genuine_verifications;
                summary_.probes.genuine_verified += v.match ? 1 : 0;
                verified = v.match ? ", verified as itself" : ", not verified as itself";
                if (v.result != S_OK && v.result != WINBIO_E_NO_MATCH && v.result != WINBIO_E_BAD_CAPTURE)
                    check(false, "verification of a probe: 0x%08x", static_cast<unsigned>(v.result));
            } else {
                ++summary_.probes.impostor_identifications;
                summary_.probes.impostor_accepted += m.result == S_OK;
            }
            say("   %s p%zu (%s): identified as %s (0x%08x)%s\n", finger.name.c_str(), k + 7,
                own ? own->label.c_str() : "never enrolled", who.c_str(), static_cast<unsigned>(m.result),
                verified.c_str());
            if (!answered) check(false, "identification of a probe: 0x%08x", static_cast<unsigned>(m.result));
        }
    }
}

ScenarioSummary Runner::run() {
    const auto start = Clock::now();
    if (fingers_.size() < 4) {
        check(false, "the scenario needs at least four fingers, %zu given", fingers_.size());
        return summary_;
    }
    for (const DemoFinger& f : fingers_)
        if (f.enrol.size() < kDiscardAfter + 2) {
            check(false, "%s has %zu enrolment captures, fewer than %zu", f.name.c_str(), f.enrol.size(),
                  kDiscardAfter + 2);
            return summary_;
        }
    // Sub-factors: right thumb, right index, right middle, left index, left middle.
    const WINBIO_BIOMETRIC_SUBTYPE subs[] = {1, 2, 3, 7, 8};
    const char* labels[] = {"A", "B", "C", "D", "E"};
    for (uint32_t k = 0; k < 5; ++k)
        roles_.push_back(Enrolled{labels[k], identity_of(k + 1), subs[k], payload_of(labels[k])});

    enrol_three();
    enrol_again();
    verify_steps();
    identify_steps();
    unknown_finger_steps();
    discarded_enrolment();
    if (options_.run_probes) probe_round();
    summary_.total_ms = ms_since(start);
    return summary_;
}

}  // namespace

ScenarioSummary run_scenario(SimBiometricService& service, SimStorageAdapter& storage, CaptureDevice& device,
                             const std::vector<DemoFinger>& fingers, const ScenarioOptions& options) {
    return Runner(service, storage, device, fingers, options).run();
}

void print_summary(FILE* out, const char* title, const ScenarioSummary& s) {
    const auto mean = [](double total, int n) { return n > 0 ? total / n : 0.0; };
    std::fprintf(out, "summary (%s): %s\n", title, s.ok() ? "every step passed" : "STEPS FAILED");
    if (!s.ok()) std::fprintf(out, "  failed checks: %d\n", s.failed_checks);
    std::fprintf(out, "  enrolments committed: %d, mean %.0f ms each\n", s.enrolments, mean(s.enrolment_ms, s.enrolments));
    std::fprintf(out, "  verifications: %d; identifications: %d, mean %.1f ms from the captured sample to the answer\n",
                 s.verifications, s.identifications, mean(s.identification_ms, s.identifications));
    std::fprintf(out, "  captures: %d, abandoned after a matched identification: %d, refused as bad: %d\n",
                 s.captures, s.aborted_captures, s.bad_captures);
    const ProbeTally& p = s.probes;
    if (p.genuine_identifications + p.impostor_identifications > 0) {
        std::fprintf(out, "  probes of enrolled fingers: identified %d/%d (wrong identity %d), verified %d/%d\n",
                     p.genuine_identified, p.genuine_identifications, p.genuine_misidentified, p.genuine_verified,
                     p.genuine_verifications);
        std::fprintf(out, "  probes of fingers never enrolled: given an identity %d/%d\n", p.impostor_accepted,
                     p.impostor_identifications);
    }
    std::fprintf(out, "  time: %.1f s\n", s.total_ms / 1000.0);
}

}  // namespace fpdemo
