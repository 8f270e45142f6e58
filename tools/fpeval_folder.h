// The capture folder of the evaluation run: databases <db>/ holding fingers
// <db>/<finger>/ with enrolment captures e1.pgm .. e6.pgm and probes p7.pgm,
// p8.pgm, each an 8-bit binary PGM.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fp_test_data.h"

namespace fpeval {

using Capture = fp_test::GreyImage;

struct Finger {
    std::string name;
    std::vector<Capture> enrol;   // e1..e6
    std::vector<Capture> probes;  // those of p7, p8 that exist
};

struct Database {
    std::string name;
    std::vector<Finger> fingers;  // in name order
};

// Capture size in pixels; rows 0 stands for "whatever the first capture has".
struct Geometry {
    uint32_t rows = 0;
    uint32_t cols = 0;
};

struct Folder {
    std::vector<Database> databases;  // in name order; only those with a finger
    Geometry geometry;                // the size every capture has
    std::string error;                // empty when the folder was read
};

// Reads every database of the folder. A finger is a sub-folder of a database
// that holds e1.pgm; it must hold e1..e6 too, and any probe it holds must be
// readable. Every capture must have the size `required` asks for, or, when
// that is left open, the size of the first capture read. The first file that
// breaks a rule ends the reading with `error` naming it (no databases then).
Folder load_folder(const std::filesystem::path& folder, Geometry required);

}  // namespace fpeval
