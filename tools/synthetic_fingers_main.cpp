// Writes a set of synthetic fingerprint captures in the capture-folder
// layout (manifest.tsv, <db>/<finger>/e1..e6.pgm, p7.pgm, p8.pgm). Every file
// carries a comment line saying it is synthetic.
//
//   synthetic_fingers OUT_DIR [--fingers N] [--seed S] [--db NAME]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "synthetic_fingers.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: synthetic_fingers OUT_DIR [--fingers N] [--seed S] [--db NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out, db = "synthetic";
    unsigned long fingers = 5;
    unsigned long long seed = 1;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--fingers") == 0 && has_value) {
            fingers = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--db") == 0 && has_value) {
            db = argv[++i];
        } else if (argv[i][0] != '-' && out.empty()) {
            out = argv[i];
        } else {
            return usage();
        }
    }
    if (out.empty() || fingers == 0 || fingers > 999 || db.empty() || db.find('/') != std::string::npos)
        return usage();
    const auto set = synthetic::make_fingers(fingers, seed);
    if (!synthetic::write_set(out, db, set)) {
        std::fprintf(stderr, "synthetic_fingers: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%lu synthetic fingers (seed %llu) written to %s/%s\n", fingers, seed, out.c_str(), db.c_str());
    return 0;
}
