// Access to the real fingerprint captures shared by the tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fp_test {

struct GreyImage {
    uint32_t rows = 0;
    uint32_t cols = 0;
    std::vector<uint8_t> pixels;
};

// The data directory: $FP_DATA_DIR when set, otherwise the build's default
// (../shared/data beside the source tree).
inline std::filesystem::path data_dir() {
    if (const char* env = std::getenv("FP_DATA_DIR"); env && *env) return env;
#ifdef FP_DATA_DIR
    return FP_DATA_DIR;
#else
    return {};
#endif
}

inline std::filesystem::path captures_dir() { return data_dir() / "ssb-dev"; }

inline bool have_captures() { return std::filesystem::exists(captures_dir() / "manifest.tsv"); }

// Reads a binary (P5) 8-bit PGM; returns an empty image on any error.
inline GreyImage read_pgm(const std::filesystem::path& path) {
    GreyImage img;
    std::ifstream in(path, std::ios::binary);
    if (!in) return img;
    std::string magic;
    in >> magic;
    if (magic != "P5") return img;
    auto next_number = [&in]() -> long {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        long v = -1;
        in >> v;
        return v;
    };
    long cols = next_number(), rows = next_number(), maxval = next_number();
    if (cols <= 0 || rows <= 0 || maxval != 255) return img;
    in.get();  // the single whitespace byte after the header
    std::vector<uint8_t> px(static_cast<size_t>(rows) * static_cast<size_t>(cols));
    in.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
    if (in.gcount() != static_cast<std::streamsize>(px.size())) return img;
    img.rows = static_cast<uint32_t>(rows);
    img.cols = static_cast<uint32_t>(cols);
    img.pixels = std::move(px);
    return img;
}

// The rows of a tab-separated manifest below its header line, each split
// into its fields; none when the file cannot be read.
inline std::vector<std::vector<std::string>> manifest_rows(const std::filesystem::path& path) {
    std::vector<std::vector<std::string>> out;
    std::ifstream manifest(path);
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        out.emplace_back();
        for (std::string v; std::getline(fields, v, '\t');) out.back().push_back(v);
    }
    return out;
}

// Every 176 x 96 capture listed in the manifest (enrolment and probe images).
inline std::vector<std::filesystem::path> capture_paths() {
    std::vector<std::filesystem::path> out;
    for (const auto& row : manifest_rows(captures_dir() / "manifest.tsv"))
        if (row.size() >= 3) out.push_back(captures_dir() / row[2]);
    return out;
}

// One finger of the capture set: its enrolment captures (e1..e6) and probes
// (p7, p8), in manifest order.
struct FingerCaptures {
    std::string db;
    std::string name;  // db/finger
    std::vector<std::filesystem::path> enrol;
    std::vector<std::filesystem::path> probes;
};

// Every finger of the manifest, in manifest order; empty where the captures
// are absent.
inline std::vector<FingerCaptures> finger_captures() {
    std::vector<FingerCaptures> out;
    for (auto row : manifest_rows(captures_dir() / "manifest.tsv")) {
        row.resize(std::max<size_t>(row.size(), 4));  // db, finger, file, role
        const std::string name = row[0] + "/" + row[1];
        if (out.empty() || out.back().name != name) out.push_back(FingerCaptures{row[0], name, {}, {}});
        (row[3] == "enrol" ? out.back().enrol : out.back().probes).push_back(captures_dir() / row[2]);
    }
    return out;
}

constexpr uint32_t kSensorRows = 176;
constexpr uint32_t kSensorCols = 96;

// The first 176 x 96 capture of the set; empty where the captures are absent.
inline const std::vector<uint8_t>& sensor_image() {
    static const std::vector<uint8_t> image = [] {
        if (have_captures())
            for (const auto& path : capture_paths()) {
                GreyImage img = read_pgm(path);
                if (img.rows == kSensorRows && img.cols == kSensorCols) return std::move(img.pixels);
            }
        return std::vector<uint8_t>{};
    }();
    return image;
}

}  // namespace fp_test

// Skips the current test when the shared captures are not available.
#define FP_REQUIRE_CAPTURES()                                                        \
    do {                                                                             \
        if (!fp_test::have_captures())                                               \
            GTEST_SKIP() << "real captures not found under " << fp_test::captures_dir() \
                         << " (set FP_DATA_DIR)";                                    \
    } while (0)
