#include "fpdemo_captures.h"

#include <fstream>
#include <map>
#include <sstream>

#include "fp_test_data.h"
#include "synthetic_fingers.h"

namespace fpdemo {

std::vector<DemoFinger> synthetic_fingers(size_t count, uint64_t seed) {
    std::vector<DemoFinger> out;
    for (synthetic::Finger& f : synthetic::make_fingers(count, seed))
        out.push_back(DemoFinger{"synthetic/" + f.name, std::move(f.enrol), std::move(f.probes)});
    return out;
}

bool read_capture(const std::filesystem::path& path, std::vector<uint8_t>& pixels) {
    fp_test::GreyImage image = fp_test::read_pgm(path);
    if (image.rows != synthetic::kRows || image.cols != synthetic::kCols) return false;
    pixels = std::move(image.pixels);
    return true;
}

bool load_capture_folder(const std::filesystem::path& folder, size_t max_fingers, std::vector<DemoFinger>& fingers,
                         std::string& error) {
    std::filesystem::path root = folder;
    if (!std::filesystem::exists(root / "manifest.tsv") && std::filesystem::exists(root / "ssb-dev" / "manifest.tsv"))
        root /= "ssb-dev";
    std::ifstream manifest(root / "manifest.tsv");
    if (!manifest) {
        error = "no manifest.tsv in " + folder.string();
        return false;
    }
    std::map<std::string, size_t> index;
    std::vector<DemoFinger> all;
    std::string line;
    bool header = true;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (header) {  // the column names
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string db, finger, file, role;
        if (!std::getline(fields, db, '\t') || !std::getline(fields, finger, '\t') ||
            !std::getline(fields, file, '\t') || !std::getline(fields, role, '\t'))
            continue;
        const std::string name = db + "/" + finger;
        if (!index.count(name)) {
            if (index.size() == max_fingers) continue;
            index[name] = all.size();
            all.push_back(DemoFinger{name, {}, {}});
        }
        std::vector<uint8_t> pixels;
        if (!read_capture(root / file, pixels)) {
            error = "cannot read a 176 x 96 capture from " + (root / file).string();
            return false;
        }
        (role == "enrol" ? all[index[name]].enrol : all[index[name]].probes).push_back(std::move(pixels));
    }
    for (DemoFinger& f : all)
        if (!f.enrol.empty()) fingers.push_back(std::move(f));
    if (fingers.empty()) {
        error = "no fingers with enrolment captures in " + (root / "manifest.tsv").string();
        return false;
    }
    return true;
}

}  // namespace fpdemo
