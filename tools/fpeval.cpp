// Evaluation run of the exported interface over a folder of captures:
//
//   fpeval FOLDER
//
// FOLDER holds databases <db>/<finger>/e1..e6.pgm (enrolment captures) and
// p7.pgm, p8.pgm (probes), 176 x 96 8-bit binary PGM. Each finger is enrolled
// from e1..e6 through RADU_alg_request_enroll and RADU_alg_save_template;
// each probe is verified through RADU_alg_request_verify against its own
// finger (genuine) and every other finger of its database (impostor). Per
// database it prints the enrolment failures, the genuine and impostor accepts
// at level 12, the lowest genuine and highest impostor score on the log2
// scale (taken from a verification at level 28 through the algorithm
// object), and the median enrolment and verification times. A test aid.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "api/fpmatch.h"
#include "exported_verify_score.h"
#include "fp_test_data.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

constexpr double kScoreUnitsPerLog2 = 2048.0;
constexpr int kEnrolCaptures = 6;

struct Finger {
    std::string name;
    std::vector<bytes> enrol;
    std::vector<bytes> probes;
    bytes blob;  // empty when the enrolment failed
};

struct Comparison {
    bool accepted = false;
    int32_t score = -1;  // log2 scale units; -1 when no score came back
};

struct DbReport {
    std::string name;
    int fingers = 0;
    int enrol_failures = 0;
    int genuine = 0, genuine_accepted = 0;
    int impostor = 0, impostor_accepted = 0;
    int32_t lowest_genuine = -1, highest_impostor = -1;
    std::vector<double> enrol_ms, verify_ms;
};

double elapsed_ms(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 != 0 ? v[mid] : (v[mid - 1] + v[mid]) / 2.0;
}

bytes read_sample(const fs::path& path) {
    fp_test::GreyImage g = fp_test::read_pgm(path);
    if (g.rows != RADU_SAMPLE_ROWS || g.cols != RADU_SAMPLE_COLS) return {};
    return std::move(g.pixels);
}

std::vector<fs::path> sorted_dirs(const fs::path& parent) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(parent))
        if (entry.is_directory()) out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

// The fingers of one database: those with all six enrolment captures.
std::vector<Finger> load_database(const fs::path& db) {
    std::vector<Finger> out;
    for (const fs::path& dir : sorted_dirs(db)) {
        Finger f{dir.filename().string(), {}, {}, {}};
        bool complete = true;
        for (int i = 1; i <= kEnrolCaptures; ++i) {
            f.enrol.push_back(read_sample(dir / ("e" + std::to_string(i) + ".pgm")));
            complete = complete && !f.enrol.back().empty();
        }
        if (!complete) continue;
        for (const char* probe : {"p7.pgm", "p8.pgm"}) {
            bytes p = read_sample(dir / probe);
            if (!p.empty()) f.probes.push_back(std::move(p));
        }
        out.push_back(std::move(f));
    }
    return out;
}

// Enrols the finger; false when any step or the save failed.
bool enrol(Finger* f, DbReport* report) {
    const auto start = clock_type::now();
    RADU_alg_init();
    int32_t code = 0;
    for (const bytes& capture : f->enrol) code = RADU_alg_request_enroll(0, capture.data());
    bytes out(RADU_TEMPLATE_BUFFER_SIZE);
    uint8_t type = 0;
    const int32_t size = code == RADU_ENROLL_COMPLETE ? RADU_alg_save_template(0, out.data(), &type) : 0;
    report->enrol_ms.push_back(elapsed_ms(start));
    if (size <= 0) return false;
    f->blob.assign(out.begin(), out.begin() + size);
    return true;
}

Comparison compare(const bytes& probe, const bytes& blob, DbReport* report) {
    const auto start = clock_type::now();
    const int32_t result = RADU_alg_request_verify(probe.data(), blob.data(), uint32_t(blob.size()));
    report->verify_ms.push_back(elapsed_ms(start));
    return {result == RADU_VERIFY_MATCH, fp_test::exported_verify_score(probe, blob)};
}

DbReport evaluate(const fs::path& db) {
    DbReport report;
    report.name = db.filename().string();
    std::vector<Finger> fingers = load_database(db);
    report.fingers = int(fingers.size());
    for (Finger& f : fingers)
        if (!enrol(&f, &report)) ++report.enrol_failures;
    for (const Finger& probe_finger : fingers) {
        for (const bytes& probe : probe_finger.probes) {
            for (const Finger& stored : fingers) {
                if (stored.blob.empty()) continue;
                const Comparison c = compare(probe, stored.blob, &report);
                if (&stored == &probe_finger) {
                    ++report.genuine;
                    report.genuine_accepted += c.accepted;
                    if (c.score >= 0 && (report.lowest_genuine < 0 || c.score < report.lowest_genuine))
                        report.lowest_genuine = c.score;
                } else {
                    ++report.impostor;
                    report.impostor_accepted += c.accepted;
                    report.highest_impostor = std::max(report.highest_impostor, c.score);
                }
            }
        }
    }
    return report;
}

void print(const DbReport& r) {
    std::printf("%s: %d fingers, %d enrolment failures\n", r.name.c_str(), r.fingers, r.enrol_failures);
    std::printf("  level 12: genuine accepted %d of %d, impostors accepted %d of %d\n", r.genuine_accepted,
                r.genuine, r.impostor_accepted, r.impostor);
    std::printf("  log2 score: lowest genuine %.3f, highest impostor %.3f\n", r.lowest_genuine / kScoreUnitsPerLog2,
                r.highest_impostor / kScoreUnitsPerLog2);
    std::printf("  median enrolment %.2f ms (%zu), median verification %.2f ms (%zu)\n", median(r.enrol_ms),
                r.enrol_ms.size(), median(r.verify_ms), r.verify_ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    if (!fs::is_directory(folder)) {
        std::fprintf(stderr, "%s: not a folder\n", argv[1]);
        return 2;
    }
    int databases = 0;
    for (const fs::path& db : sorted_dirs(folder)) {
        const DbReport report = evaluate(db);
        if (report.fingers == 0) continue;
        print(report);
        ++databases;
    }
    if (databases == 0) {
        std::fprintf(stderr, "%s: no database in the <db>/<finger>/e1..e6 layout\n", argv[1]);
        return 1;
    }
    return 0;
}
