#include "match/zr_presets.h"

#include "match/extractors/zr_embedded_extractor.h"
#include "match/extractors/zr_slice_extractor.h"
#include "match/verifiers/zr_vermodels.h"

namespace {

constexpr const char* kSpeedKey = "zr.algorithm.speed";
constexpr const char* kRejectFarKey = "zr.algorithm.reject_far";
constexpr const char* kSpectralLowLatencyKey = "zr.ehm.spectral_low_latency";
constexpr const char* kExtractorDpiKey = "zr.extractor.dpi";

constexpr uint32_t kDefaultRejectFar = 4;
// Read back for a key the session does not have.
constexpr uint32_t kSpectralLowLatencyUnset = 4711;
constexpr int32_t kPresetDpi = 650;
constexpr uint32_t kFehmAcceptShift = 2;
constexpr uint32_t kPresetSensorType = 1;
constexpr uint32_t kSpectralFullSearchFeature = 1;

using chain_builder_fn = zr_algorithm_chain* (*)(zr_session*, const zr_extractor_descriptor*, int32_t);

struct chain_row {
    chain_builder_fn builder;
    uint32_t template_type;
    uint8_t max_templates;
    uint8_t max_captures;
    uint8_t max_subtemplates;
    uint32_t value_a;
    uint32_t value_b;
    uint32_t value_c;
    uint32_t sensor_size;
    uint32_t sensor_type;
};

// One row a sensor family. The builders read the template type and the
// maximum subtemplates; the presets pass the other values themselves.
constexpr chain_row kChainTable[ZR_PRESET_CHAIN_ROWS] = {
    {ehm_create_chain, 67, 16, 8, 8, 60, 121, 20, 2, 1},      // 0
    {ehm_create_chain, 67, 32, 16, 16, 65, 121, 20, 3, 1},    // 1
    {ehmhr_create_chain, 74, 64, 24, 24, 70, 81, 20, 4, 1},   // 2
    {ehmhr_create_chain, 74, 72, 32, 32, 75, 81, 20, 5, 1},   // 3
    {ehm_create_chain, 67, 72, 32, 32, 75, 81, 20, 5, 1},     // 4
    {ehmhr_create_chain, 74, 96, 32, 40, 80, 81, 20, 6, 1},   // 5
    {ehmhr_create_chain, 74, 64, 24, 24, 70, 81, 20, 8, 1},   // 6
    {ehm_create_chain, 67, 64, 24, 24, 70, 81, 20, 8, 1},     // 7
    {ehmhr_create_chain, 74, 72, 32, 32, 75, 81, 20, 9, 1},   // 8
    {ehm_create_chain, 67, 8, 4, 4, 60, 121, 20, 1, 2},       // 9
    {ehm_create_chain, 67, 64, 24, 24, 70, 81, 20, 4, 1},     // 10
    {ehm_create_chain, 67, 72, 32, 32, 75, 81, 20, 9, 1},     // 11
    {ehm_create_chain, 67, 96, 32, 40, 80, 81, 20, 6, 1},     // 12
    {ehm_create_chain, 67, 96, 32, 40, 80, 81, 20, 7, 1},     // 13
    {fspec_create_chain, 74, 64, 24, 24, 70, 81, 20, 4, 1},   // 14
    {fspec_create_chain, 74, 72, 32, 32, 75, 81, 20, 5, 1},   // 15
    {fehm_create_chain, 74, 64, 24, 24, 70, 81, 20, 4, 1},    // 16
    {fehm_create_chain, 74, 72, 32, 32, 75, 81, 20, 5, 1},    // 17
    {fehm_create_chain, 74, 64, 24, 24, 70, 81, 20, 8, 1},    // 18
    {fehm_create_chain, 74, 72, 32, 32, 75, 81, 20, 9, 1},    // 19
};

// Feature switches of a preset: which of features 0..2 are on and which the
// caller may change.
enum feature_set : uint8_t {
    kOn01Mut0,    // on 0,1; mutable 0
    kOn012Mut02,  // on 0,1,2; mutable 0,2
    kOn0Mut0,     // on 0; mutable 0
    kOn0Mut01,    // on 0; mutable 0,1
};

struct feature_lists {
    uint32_t on[3];
    uint32_t on_count;
    uint32_t mutable_[2];
    uint32_t mutable_count;
};

constexpr feature_lists kFeatureLists[] = {
    {{0, 1, 0}, 2, {0, 0}, 1},
    {{0, 1, 2}, 3, {0, 2}, 2},
    {{0, 0, 0}, 1, {0, 0}, 1},
    {{0, 0, 0}, 1, {0, 1}, 2},
};

struct preset_spec {
    int32_t row;
    const zr_extractor_descriptor* extractor;
    uint32_t template_type;
    uint32_t sensor_size;
    feature_set features;
    uint8_t max_templates;
    uint8_t max_captures;
    uint32_t value_a;
    uint32_t value_b;
    uint8_t value_c;
    bool dpi_650;
    bool spectral_full_search;
    const zr_vermodel* const* models;
};

bool read_speed(const zr_session* session, uint32_t default_speed, uint8_t max_subtemplates, uint8_t* out_s) {
    // Read unsigned: a negative setting counts as beyond the maximum.
    uint32_t speed = uint32_t(zr_session_get_int(session, kSpeedKey, default_speed));
    if (max_subtemplates == 0) return false;
    *out_s = speed < max_subtemplates ? uint8_t(speed) : uint8_t(max_subtemplates - 1);
    return true;
}

// Builds the chain from the links in order; on failure frees them all.
zr_algorithm_chain* chain_from_links(zr_algorithm_link* const* links, uint32_t count) {
    bool complete = true;
    for (uint32_t i = 0; i < count; ++i) complete = complete && links[i] != nullptr;
    zr_algorithm_chain* chain = complete ? zr_algorithm_chain_create() : nullptr;
    if (chain == nullptr) {
        for (uint32_t i = 0; i < count; ++i) zr_algorithm_link_delete(links[i]);
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) zr_algorithm_chain_append_link(chain, links[i]);
    return chain;
}

zr_algorithm_chain* two_link_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row,
                                   const zr_verifier_descriptor* second_verifier) {
    if (row < 0 || row >= ZR_PRESET_CHAIN_ROWS) return nullptr;
    const chain_row& r = kChainTable[row];
    uint8_t s = 0;
    if (!read_speed(session, 0, r.max_subtemplates, &s)) return nullptr;
    zr_algorithm_link* links[2] = {
        zr_algorithm_link_create(extractor, r.template_type, nullptr, &vandrel_verifier, 0, 0),
        zr_algorithm_link_create(nullptr, r.template_type, nullptr, second_verifier, 0, 0),
    };
    if (links[0] != nullptr) zr_algorithm_link_set_flag(links[0], ZR_LINK_DROP_SCORES);
    if (links[1] != nullptr) zr_algorithm_link_set_nbr_of_subtemplates(links[1], uint8_t(r.max_subtemplates - s));
    return chain_from_links(links, 2);
}

// About S - s / 3: s x 171 / 512 in 16 bits.
uint8_t ehm_link_subtemplates(uint8_t max_subtemplates, uint8_t s) {
    uint16_t product = uint16_t(uint16_t(s) * 171u);
    return uint8_t(max_subtemplates - (product >> 9));
}

uint8_t ehmhr_link_subtemplates(uint8_t max_subtemplates, uint8_t s) {
    uint8_t left = uint8_t(max_subtemplates - s);
    return left < 2 ? 1 : uint8_t(left >> 1);
}

zr_algorithm_chain* three_link_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row) {
    if (row < 0 || row >= ZR_PRESET_CHAIN_ROWS) return nullptr;
    const chain_row& r = kChainTable[row];
    constexpr uint32_t kType = 74;
    uint8_t default_speed = uint8_t(((uint32_t(r.max_subtemplates) * 3u) >> 2) - 1u);
    uint8_t s = 0;
    if (!read_speed(session, default_speed, r.max_subtemplates, &s)) return nullptr;
    uint32_t reject_far = uint32_t(zr_session_get_int(session, kRejectFarKey, kDefaultRejectFar));
    zr_algorithm_link* links[3] = {
        zr_algorithm_link_create(extractor, kType, nullptr, &vandrel_verifier, 0, 0),
        zr_algorithm_link_create(nullptr, kType, nullptr, &ehm_verifier, kFehmAcceptShift, reject_far),
        zr_algorithm_link_create(nullptr, kType, nullptr, &ehmhr_verifier, 0, 0),
    };
    if (links[0] != nullptr) zr_algorithm_link_set_flag(links[0], ZR_LINK_DROP_SCORES);
    if (links[1] != nullptr) {
        zr_algorithm_link_set_flag(links[1], ZR_LINK_DROP_SCORES);
        zr_algorithm_link_set_nbr_of_subtemplates(links[1], ehm_link_subtemplates(r.max_subtemplates, s));
    }
    if (links[2] != nullptr)
        zr_algorithm_link_set_nbr_of_subtemplates(links[2], ehmhr_link_subtemplates(r.max_subtemplates, s));
    return chain_from_links(links, 3);
}

void fill_config(const preset_spec& p, zr_algorithm_config* config) {
    zr_algorithm_default_config(config);
    config->max_templates = p.max_templates;
    config->max_captures = p.max_captures;
    config->preset_value_a = p.value_a;
    config->preset_value_b = p.value_b;
    config->preset_value_c = p.value_c;
}

// The one body of every preset.
zr_algorithm* create_preset(zr_session* caller_session, const preset_spec& p) {
    zr_session* session = caller_session;
    if (p.dpi_650) {
        session = zr_session_create_or_retain(caller_session);
        if (session == nullptr) return nullptr;
        if (zr_session_set_int_preserve(session, kExtractorDpiKey, kPresetDpi) != ZR_OK) {
            zr_session_delete(session);
            return nullptr;
        }
    }
    zr_algorithm_config config;
    fill_config(p, &config);
    zr_algorithm* algorithm = nullptr;
    zr_algorithm_chain* chain = kChainTable[p.row].builder(session, p.extractor, p.row);
    if (chain != nullptr) {
        const feature_lists& f = kFeatureLists[p.features];
        algorithm = zr_algorithm_create(session, chain, p.template_type, kPresetSensorType, p.sensor_size, f.on,
                                        f.on_count, f.mutable_, f.mutable_count, &config);
        if (algorithm == nullptr) zr_algorithm_chain_delete(chain);
    }
    if (algorithm != nullptr) {
        zr_algorithm_set_simple_extractor(algorithm);
        zr_algorithm_set_vermodels(algorithm, p.models);
        if (p.spectral_full_search) (void)zr_algorithm_set_feature_state(algorithm, kSpectralFullSearchFeature, 1);
    }
    if (p.dpi_650) zr_session_delete(session);  // the algorithm holds its own reference
    return algorithm;
}

// Preset table columns: row, extractor, template type, sensor size,
// features, max templates, max captures, A, B, C, 650 dpi, spectral full
// search, models.
const zr_extractor_descriptor* const E = &embedded_extractor;
const zr_extractor_descriptor* const ES = &embedded_speed_extractor;
const zr_extractor_descriptor* const EM = &embedded_speedmem_extractor;
const zr_extractor_descriptor* const SL = &slice_extractor;
const zr_extractor_descriptor* const SS = &slice_speed_extractor;
const zr_extractor_descriptor* const SM = &slice_speedmem_extractor;

const preset_spec k100Hybrid = {12, E, 67, 6, kOn01Mut0, 96, 32, 80, 81, 20, true, false, zr_vermodels_e100};
const preset_spec k100Hr = {5, E, 74, 6, kOn012Mut02, 96, 32, 80, 81, 20, true, false, zr_vermodels_h100};
const preset_spec k100HrSpeed = {5, ES, 74, 6, kOn012Mut02, 96, 32, 80, 81, 20, true, false, zr_vermodels_h100};
const preset_spec k100HrMem = {5, EM, 74, 6, kOn012Mut02, 96, 32, 80, 81, 20, true, false, zr_vermodels_h100};
const preset_spec k115Hybrid = {4, E, 67, 5, kOn01Mut0, 72, 32, 75, 81, 20, true, false, zr_vermodels_e115};
const preset_spec k115Speed = {4, ES, 67, 5, kOn01Mut0, 72, 32, 75, 81, 20, true, false, zr_vermodels_e115};
const preset_spec k115Mem = {4, EM, 67, 5, kOn01Mut0, 72, 32, 75, 81, 20, true, false, zr_vermodels_e115};
const preset_spec k115Hr = {3, E, 74, 5, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_h115};
const preset_spec k115HrSpeed = {3, ES, 74, 5, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_h115};
const preset_spec k115HrMem = {17, EM, 74, 5, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_p115};
const preset_spec k115Pro = {15, EM, 74, 5, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_p115};
const preset_spec k130Hybrid = {10, E, 67, 4, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e130};
const preset_spec k130Speed = {10, ES, 67, 4, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e130};
const preset_spec k130Mem = {10, EM, 67, 4, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e130};
const preset_spec k130Hr = {2, E, 74, 4, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h130};
const preset_spec k130HrSpeed = {2, ES, 74, 4, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h130};
const preset_spec k130HrMem = {16, EM, 74, 4, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_p130};
const preset_spec k130Pro = {14, EM, 74, 4, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_p130};
const preset_spec k144 = {9, E, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k144Slice = {9, SL, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k144Speed = {9, ES, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k144Mem = {9, EM, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k144MemSlice = {9, SM, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k144SpeedSlice = {9, SS, 67, 1, kOn0Mut0, 8, 4, 60, 121, 20, false, false, zr_vermodels_e144};
const preset_spec k160 = {1, E, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, true, zr_vermodels_l160};
const preset_spec k160Slice = {1, SL, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, true, zr_vermodels_l160};
const preset_spec k160Speed = {1, ES, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, false, zr_vermodels_l160};
const preset_spec k160Mem = {1, EM, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, false, zr_vermodels_l160m};
const preset_spec k160MemSlice = {1, SM, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, false, zr_vermodels_l160};
const preset_spec k160SpeedSlice = {1, SS, 67, 3, kOn0Mut01, 32, 16, 65, 121, 20, false, false, zr_vermodels_l160};
const preset_spec k192 = {0, E, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k192Slice = {0, SL, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k192Speed = {0, ES, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k192Mem = {0, EM, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k192MemSlice = {0, SM, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k192SpeedSlice = {0, SS, 67, 2, kOn0Mut0, 16, 8, 60, 121, 20, false, false, zr_vermodels_l192};
const preset_spec k56Hybrid = {11, E, 67, 9, kOn01Mut0, 72, 32, 75, 81, 20, true, false, zr_vermodels_e56};
const preset_spec k56Mem = {11, EM, 67, 9, kOn01Mut0, 72, 32, 75, 81, 20, true, false, zr_vermodels_e56};
const preset_spec k56Hr = {8, E, 74, 9, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_h56};
const preset_spec k56HrMem = {8, EM, 74, 9, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_h56};
const preset_spec k56Pro = {19, EM, 74, 9, kOn012Mut02, 72, 32, 75, 81, 20, true, false, zr_vermodels_h56};
const preset_spec k80Hybrid = {7, E, 67, 8, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e80};
const preset_spec k80Speed = {7, ES, 67, 8, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e80};
const preset_spec k80Mem = {7, EM, 67, 8, kOn01Mut0, 64, 24, 70, 81, 20, false, false, zr_vermodels_e80};
const preset_spec k80Hr = {6, E, 74, 8, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h80};
const preset_spec k80HrSpeed = {6, ES, 74, 8, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h80};
const preset_spec k80HrMem = {6, EM, 74, 8, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h80};
const preset_spec k80Pro = {18, EM, 74, 8, kOn012Mut02, 64, 24, 70, 81, 20, false, false, zr_vermodels_h80};
const preset_spec k64Hybrid = {13, E, 67, 7, kOn01Mut0, 96, 32, 80, 81, 20, true, false, zr_vermodels_e64};

}  // namespace

zr_algorithm_chain* ehm_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row) {
    return two_link_chain(session, extractor, row, &ehm_verifier);
}

zr_algorithm_chain* ehmhr_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row) {
    return two_link_chain(session, extractor, row, &ehmhr_verifier);
}

zr_algorithm_chain* fehm_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row) {
    return three_link_chain(session, extractor, row);
}

zr_algorithm_chain* fspec_create_chain(zr_session* session, const zr_extractor_descriptor* extractor, int32_t row) {
    if (session != nullptr &&
        uint32_t(zr_session_get_int(session, kSpectralLowLatencyKey, kSpectralLowLatencyUnset)) ==
            kSpectralLowLatencyUnset &&
        zr_session_set_int(session, kSpectralLowLatencyKey, 1) != ZR_OK)
        return nullptr;
    return three_link_chain(session, extractor, row);
}

#define ZR_PRESET(name, spec) \
    zr_algorithm* name(zr_session* session) { return create_preset(session, spec); }

ZR_PRESET(gen_100x100_hybrid_create, k100Hybrid)
ZR_PRESET(gen_100x100_hybridhr_create, k100Hr)
ZR_PRESET(gen_100x100_hybridhr_speed_create, k100HrSpeed)
ZR_PRESET(gen_100x100_hybridhr_speed_mem_create, k100HrMem)
ZR_PRESET(gen_115x115_hybrid_create, k115Hybrid)
ZR_PRESET(gen_115x115_hybrid_speed_create, k115Speed)
ZR_PRESET(gen_115x115_hybrid_speed_mem_create, k115Mem)
ZR_PRESET(gen_115x115_hybridhr_create, k115Hr)
ZR_PRESET(gen_115x115_hybridhr_speed_create, k115HrSpeed)
ZR_PRESET(gen_115x115_hybridhr_speed_mem_create, k115HrMem)
ZR_PRESET(gen_115x115_pro_speed_mem_create, k115Pro)
ZR_PRESET(gen_130x130_hybrid_create, k130Hybrid)
ZR_PRESET(gen_130x130_hybrid_speed_create, k130Speed)
ZR_PRESET(gen_130x130_hybrid_speed_mem_create, k130Mem)
ZR_PRESET(gen_130x130_hybridhr_create, k130Hr)
ZR_PRESET(gen_130x130_hybridhr_speed_create, k130HrSpeed)
ZR_PRESET(gen_130x130_hybridhr_speed_mem_create, k130HrMem)
ZR_PRESET(gen_130x130_pro_speed_mem_create, k130Pro)
ZR_PRESET(gen_144x396_sw_hybrid_create, k144)
ZR_PRESET(gen_144x396_sw_hybrid_slice_create, k144Slice)
ZR_PRESET(gen_144x396_sw_hybrid_speed_create, k144Speed)
ZR_PRESET(gen_144x396_sw_hybrid_speed_mem_create, k144Mem)
ZR_PRESET(gen_144x396_sw_hybrid_speed_mem_slice_create, k144MemSlice)
ZR_PRESET(gen_144x396_sw_hybrid_speed_slice_create, k144SpeedSlice)
ZR_PRESET(gen_160x160_hybrid_create, k160)
ZR_PRESET(gen_160x160_hybrid_slice_create, k160Slice)
ZR_PRESET(gen_160x160_hybrid_speed_create, k160Speed)
ZR_PRESET(gen_160x160_hybrid_speed_mem_create, k160Mem)
ZR_PRESET(gen_160x160_hybrid_speed_mem_slice_create, k160MemSlice)
ZR_PRESET(gen_160x160_hybrid_speed_slice_create, k160SpeedSlice)
ZR_PRESET(gen_192x192_hybrid_create, k192)
ZR_PRESET(gen_192x192_hybrid_slice_create, k192Slice)
ZR_PRESET(gen_192x192_hybrid_speed_create, k192Speed)
ZR_PRESET(gen_192x192_hybrid_speed_mem_create, k192Mem)
ZR_PRESET(gen_192x192_hybrid_speed_mem_slice_create, k192MemSlice)
ZR_PRESET(gen_192x192_hybrid_speed_slice_create, k192SpeedSlice)
ZR_PRESET(gen_192x56_hybrid_create, k56Hybrid)
ZR_PRESET(gen_192x56_hybrid_speed_mem_create, k56Mem)
ZR_PRESET(gen_192x56_hybridhr_create, k56Hr)
ZR_PRESET(gen_192x56_hybridhr_speed_mem_create, k56HrMem)
ZR_PRESET(gen_192x56_pro_speed_mem_create, k56Pro)
ZR_PRESET(gen_192x80_hybrid_create, k80Hybrid)
ZR_PRESET(gen_192x80_hybrid_speed_create, k80Speed)
ZR_PRESET(gen_192x80_hybrid_speed_mem_create, k80Mem)
ZR_PRESET(gen_192x80_hybridhr_create, k80Hr)
ZR_PRESET(gen_192x80_hybridhr_speed_create, k80HrSpeed)
ZR_PRESET(gen_192x80_hybridhr_speed_mem_create, k80HrMem)
ZR_PRESET(gen_192x80_pro_speed_mem_create, k80Pro)
ZR_PRESET(gen_80x64_hybrid_create, k64Hybrid)
