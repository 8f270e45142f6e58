// Writes the main road's golden record (tests/golden/road_hashes.tsv): the
// hashes of every extraction intermediate, template, enrolment and
// verification on the real captures. Run it only when a change of results is
// intended, and commit the new record with that change.
//
// Usage: golden_record OUTPUT   (captures from $FP_DATA_DIR or ../shared/data)
#include <cstdio>
#include <fstream>

#include "golden_road.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    if (!fp_test::have_captures()) {
        std::fprintf(stderr, "real captures not found under %s (set FP_DATA_DIR)\n",
                     fp_test::captures_dir().c_str());
        return 1;
    }
    const fp_golden::Record record = fp_golden::compute();
    std::ofstream out(argv[1]);
    out << "# key\tFNV-1a 64 of the value; written by tools/golden_record.cpp\n";
    fp_golden::write(out, record);
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu entries written to %s\n", record.size(), argv[1]);
    return 0;
}
