// The capture folder of the evaluation run.
#include "fpeval_folder.h"

#include <algorithm>
#include <limits>

namespace fpeval {

namespace {

namespace fs = std::filesystem;

constexpr int kEnrolCaptures = 6;
constexpr const char* kProbeFiles[] = {"p7.pgm", "p8.pgm"};
// Images carry their size in 16 bits.
constexpr uint32_t kMaxSide = std::numeric_limits<uint16_t>::max();

std::vector<fs::path> sorted_dirs(const fs::path& parent) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec))
        if (entry.is_directory()) out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::string size_text(uint32_t rows, uint32_t cols) {
    return std::to_string(rows) + " x " + std::to_string(cols);
}

// Reads captures one by one, holding every one to the size of the first (or
// the required one); stops at the first fault.
class Reader {
public:
    explicit Reader(Geometry required) : geometry_(required) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    Geometry geometry() const { return geometry_; }

    // The capture at `path`; none (and the reader failed) when it cannot be used.
    bool read(const fs::path& path, std::vector<Capture>* out) {
        Capture c = fp_test::read_pgm(path);
        if (c.pixels.empty()) return fail(path.string() + ": missing, or not an 8-bit binary PGM");
        if (c.rows > kMaxSide || c.cols > kMaxSide)
            return fail(path.string() + ": " + size_text(c.rows, c.cols) + " pixels is too large");
        if (geometry_.rows == 0) {
            geometry_ = {c.rows, c.cols};
            first_ = path;
        }
        if (c.rows != geometry_.rows || c.cols != geometry_.cols) {
            const std::string size = path.string() + ": " + size_text(c.rows, c.cols) + " pixels";
            const std::string wanted = size_text(geometry_.rows, geometry_.cols);
            if (first_.empty()) return fail(size + ", not the " + wanted + " this run takes");
            return fail(size + ", but " + first_.string() + " has " + wanted + "; all captures must have one size");
        }
        out->push_back(std::move(c));
        return true;
    }

private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    Geometry geometry_;
    fs::path first_;  // the capture that set the size, when none was required
    std::string error_;
};

bool is_finger(const fs::path& dir) { return fs::exists(dir / "e1.pgm"); }

bool read_finger(const fs::path& dir, Reader* reader, Finger* finger) {
    finger->name = dir.filename().string();
    for (int i = 1; i <= kEnrolCaptures; ++i)
        if (!reader->read(dir / ("e" + std::to_string(i) + ".pgm"), &finger->enrol)) return false;
    for (const char* probe : kProbeFiles)
        if (fs::exists(dir / probe) && !reader->read(dir / probe, &finger->probes)) return false;
    return true;
}

bool read_database(const fs::path& dir, Reader* reader, Database* db) {
    db->name = dir.filename().string();
    for (const fs::path& finger_dir : sorted_dirs(dir)) {
        if (!is_finger(finger_dir)) continue;
        if (!read_finger(finger_dir, reader, &db->fingers.emplace_back())) return false;
    }
    return true;
}

}  // namespace

Folder load_folder(const fs::path& folder, Geometry required) {
    Folder out;
    Reader reader(required);
    for (const fs::path& db_dir : sorted_dirs(folder)) {
        Database db;
        if (!read_database(db_dir, &reader, &db)) break;
        if (!db.fingers.empty()) out.databases.push_back(std::move(db));
    }
    if (reader.failed()) return Folder{{}, {}, reader.error()};
    out.geometry = reader.geometry();
    return out;
}

}  // namespace fpeval
