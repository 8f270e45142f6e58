// Fourier matcher records of the real captures: each 176 x 96 capture is
// extracted into a fusion template with fine block fields (the EHM-HR input)
// and its Fourier part converted with and without the fine grid. Built once
// per process; empty where the captures are absent.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "extract/bal_extract_template.h"
#include "fp_test_data.h"
#include "match/fourier/zr_fourier.h"
#include "objects/zr_fusion_parts.h"

namespace fp_test {

struct SpectralCapture {
    std::string finger;  // database and finger, e.g. "fvc2000_db1/101"
    std::string role;    // "enrol" or "probe"
    std::vector<uint8_t> fusion;       // the fusion template (type 74 layout)
    std::vector<uint8_t> record;       // matcher record with the fine grid
    std::vector<uint8_t> coarse;       // matcher record without it
};

// Extraction flags of the fusion template with fine block fields: the block
// fields, their fine grids, the 2011 card, cores and proprietary data.
constexpr uint32_t kFusionFineFlags = 0x4B0 | 0x42;
constexpr uint32_t kMinutiaeOrder = 0x15;
constexpr uint32_t kMaxMinutiae = 64;

inline std::vector<uint8_t> spectral_record_of(const zr_fusion_part& part, uint8_t quality,
                                               int32_t skip_fine) {
    uint8_t* record = nullptr;
    uint16_t length = 0;
    if (zr_fusion_spectral_to_matcher(part.value, int32_t(part.length), &record, &length, nullptr,
                                      nullptr, nullptr, nullptr, skip_fine, &quality,
                                      nullptr) != ZR_OK)
        return {};
    std::vector<uint8_t> out(record, record + length);
    std::free(record);
    return out;
}

inline const std::vector<SpectralCapture>& spectral_captures() {
    static const std::vector<SpectralCapture> captures = [] {
        std::vector<SpectralCapture> out;
        if (!have_captures()) return out;
        for (const auto& row : manifest_rows(captures_dir() / "manifest.tsv")) {
            if (row.size() < 4) continue;
            const std::string &db = row[0], &finger = row[1], &file = row[2], &role = row[3];
            GreyImage img = read_pgm(captures_dir() / file);
            if (img.rows != kSensorRows || img.cols != kSensorCols) continue;
            uint8_t* tmpl = nullptr;
            uint32_t length = 0;
            if (bal_extract_template(img.pixels.data(), uint16_t(img.rows), uint16_t(img.cols), 0,
                                     0, 0, 0, kMaxMinutiae, kMinutiaeOrder, kFusionFineFlags,
                                     BAL_FORMAT_COMPACT_CARD, &tmpl, &length) != BAL_OK)
                continue;
            SpectralCapture c;
            c.finger = db + "/" + finger;
            c.role = role;
            c.fusion.assign(tmpl, tmpl + length);
            (void)bal_free_template(tmpl);
            zr_fusion_part spectral{}, idim{};
            if (zr_fusion_to_parts(c.fusion.data(), uint32_t(c.fusion.size()), nullptr, &spectral,
                                   nullptr, &idim) != ZR_OK || spectral.value == nullptr)
                continue;
            uint8_t quality = 0;
            if (idim.value != nullptr)
                (void)zr_fusion_idim_to_parts(idim.value, int32_t(idim.length), nullptr, nullptr,
                                              &quality);
            c.record = spectral_record_of(spectral, quality, 0);
            c.coarse = spectral_record_of(spectral, quality, 1);
            if (c.record.empty() || c.coarse.empty()) continue;
            out.push_back(std::move(c));
        }
        return out;
    }();
    return captures;
}

}  // namespace fp_test
