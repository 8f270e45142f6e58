// The demo's capture sources: synthetic fingers made on the spot, or a
// capture folder in the layout of the shared development set (manifest.tsv
// and <db>/<finger>/e1..e6.pgm, p7.pgm, p8.pgm).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fpdemo {

struct DemoFinger {
    std::string name;
    std::vector<std::vector<uint8_t>> enrol;   // enrolment captures, 176 x 96 each
    std::vector<std::vector<uint8_t>> probes;  // probes, 176 x 96 each
};

std::vector<DemoFinger> synthetic_fingers(size_t count, uint64_t seed);

// Reads a 176 x 96 binary PGM (comment lines allowed); false otherwise.
bool read_capture(const std::filesystem::path& path, std::vector<uint8_t>& pixels);

// The first `max_fingers` fingers listed in `folder`/manifest.tsv (or in
// `folder`/ssb-dev/manifest.tsv) that have at least one enrolment capture.
// False with `error` set when the folder cannot be read.
bool load_capture_folder(const std::filesystem::path& folder, size_t max_fingers, std::vector<DemoFinger>& fingers,
                         std::string& error);

}  // namespace fpdemo
