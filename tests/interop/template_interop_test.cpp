#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "formats/zr_ansi378.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "fp_test_data.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

fs::path templates_dir() { return fp_test::data_dir() / "templates"; }

#define REQUIRE_TEMPLATES()                                                                    \
    do {                                                                                       \
        if (!fs::exists(templates_dir() / "README.md"))                                        \
            GTEST_SKIP() << "third-party templates not found under " << templates_dir()        \
                         << " (set FP_DATA_DIR)";                                              \
    } while (0)

bytes load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

Json::Value load_json(const fs::path& path) {
    std::ifstream in(path);
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << path << ": " << errors;
    return root;
}

uint8_t finger_position(const std::string& name) {
    static const std::map<std::string, uint8_t> codes = {
        {"UNKNOWN", 0},     {"RIGHT_THUMB", 1}, {"RIGHT_INDEX", 2}, {"RIGHT_MIDDLE", 3},
        {"RIGHT_RING", 4},  {"RIGHT_LITTLE", 5}, {"LEFT_THUMB", 6},  {"LEFT_INDEX", 7},
        {"LEFT_MIDDLE", 8}, {"LEFT_RING", 9},    {"LEFT_LITTLE", 10}};
    return codes.at(name);
}

uint8_t scan_type(const std::string& name) {
    static const std::map<std::string, uint8_t> codes = {
        {"LIVE_PLAIN", 0}, {"LIVE_ROLLED", 1}, {"NONLIVE_PLAIN", 2}, {"NONLIVE_ROLLED", 3}};
    return codes.at(name);
}

uint8_t minutia_type(const std::string& name) {
    if (name == "ENDING") return ZR_MINUTIA_ENDING;
    if (name == "BIFURCATION") return ZR_MINUTIA_BIFURCATION;
    return 0;
}

using angle_map = uint8_t (*)(uint8_t);
uint8_t same_angle(uint8_t a) { return a; }

// Compares the first view's minutiae and finger fields with the JSON decode.
void expect_view(const minutiastruct& s, const Json::Value& view, angle_map angle) {
    EXPECT_EQ(finger_position(view["position"].asString()), s.finger_position);
    EXPECT_EQ(scan_type(view["scanType"].asString()), s.impression_type);
    const Json::Value& minutiae = view["minutiae"];
    ASSERT_EQ(minutiae.size(), s.count);
    for (Json::ArrayIndex i = 0; i < minutiae.size(); ++i) {
        SCOPED_TRACE(i);
        const Json::Value& m = minutiae[i];
        EXPECT_EQ(m["positionX"].asInt(), s.minutiae[i].col);
        EXPECT_EQ(m["positionY"].asInt(), s.minutiae[i].row);
        EXPECT_EQ(angle(uint8_t(m["angle"].asUInt())), s.minutiae[i].angle);
        EXPECT_EQ(minutia_type(m["type"].asString()), s.minutiae[i].type);
        EXPECT_EQ(m["quality"].asUInt(), s.minutiae[i].quality);
    }
}

using reader = zr_status (*)(const uint8_t*, uint32_t, minutiastruct*);

zr_status read_file(const fs::path& path, reader read, minutiastruct* out) {
    const bytes data = load(path);
    return read(data.data(), uint32_t(data.size()), out);
}

const fs::path kFio = "fingerprintio-java";

TEST(TemplateInterop, Iso2005SampleMatchesItsDecode) {
    REQUIRE_TEMPLATES();
    minutiastruct s{};
    ASSERT_EQ(ZR_OK, read_file(templates_dir() / kFio / "iso19794p2v2005-sample.dat",
                               zr_iso19794_2_v2_to_minutiastruct, &s));
    const Json::Value json = load_json(templates_dir() / kFio / "iso19794p2v2005-sample.json");
    EXPECT_EQ(json["width"].asUInt(), s.cols);
    EXPECT_EQ(json["height"].asUInt(), s.rows);
    const Json::Value& view = json["fingerprints"][0];
    EXPECT_EQ(view["quality"].asUInt(), s.quality);
    expect_view(s, view, same_angle);
}

TEST(TemplateInterop, Iso2011SampleMatchesItsDecode) {
    REQUIRE_TEMPLATES();
    minutiastruct s{};
    ASSERT_EQ(ZR_OK, read_file(templates_dir() / kFio / "iso19794p2v2011-sample.dat",
                               zr_iso19794_2_v3_to_minutiastruct, &s));
    const Json::Value view = load_json(templates_dir() / kFio / "iso19794p2v2011-sample.json")["fingerprints"][0];
    EXPECT_EQ(view["width"].asUInt(), s.cols);
    EXPECT_EQ(view["height"].asUInt(), s.rows);
    EXPECT_EQ(view["qrecords"][0]["quality"].asUInt(), s.quality);
    EXPECT_EQ(view["sensorVendor"].asUInt() << 16 | view["sensorId"].asUInt(), s.device_id);
    expect_view(s, view, same_angle);
}

TEST(TemplateInterop, Ansi2009SampleMatchesItsDecode) {
    REQUIRE_TEMPLATES();
    minutiastruct s{};
    ASSERT_EQ(ZR_OK, read_file(templates_dir() / kFio / "ansi378v2009-sample.dat", zr_ansi378_to_minutiastruct, &s));
    const Json::Value json = load_json(templates_dir() / kFio / "ansi378v2009-sample.json");
    const Json::Value& view = json["fingerprints"][0];
    EXPECT_EQ(view["width"].asUInt(), s.cols);
    EXPECT_EQ(view["height"].asUInt(), s.rows);
    EXPECT_EQ(view["quality"].asUInt(), s.quality);
    EXPECT_EQ(json["vendorId"].asUInt() << 16 | json["subformat"].asUInt(), s.device_id);
    expect_view(s, view, zr_ansi378_angle_to_iso);
}

TEST(TemplateInterop, Ansi2004SampleReadsWithByteAngles) {
    REQUIRE_TEMPLATES();
    minutiastruct s{};
    ASSERT_EQ(ZR_OK, read_file(templates_dir() / kFio / "ansi378v2004-sample.dat", zr_ansi378_v2_to_minutiastruct, &s));
    const Json::Value json = load_json(templates_dir() / kFio / "ansi378v2004-sample.json");
    EXPECT_EQ(json["width"].asUInt(), s.cols);
    EXPECT_EQ(json["height"].asUInt(), s.rows);
    EXPECT_EQ(json["vendorId"].asUInt() << 16 | json["subformat"].asUInt(), s.device_id);
    const Json::Value& view = json["fingerprints"][0];
    expect_view(s, view, zr_ansi378_angle_to_iso);
    ASSERT_EQ(80u, view["minutiae"][0]["angle"].asUInt());
    EXPECT_EQ(114, s.minutiae[0].angle);
}

TEST(TemplateInterop, NistRecords) {
    REQUIRE_TEMPLATES();
    const fs::path nist = templates_dir() / "nist-biomeval";
    minutiastruct s{};
    // The first view of the ANSI 2004 record has the ISO 2005 sample's positions.
    ASSERT_EQ(ZR_OK, read_file(nist / "fmr.ansi2004", zr_ansi378_to_minutiastruct, &s));
    const Json::Value iso = load_json(templates_dir() / kFio / "iso19794p2v2005-sample.json")["fingerprints"][0];
    ASSERT_EQ(iso["minutiae"].size(), s.count);
    for (Json::ArrayIndex i = 0; i < s.count; ++i) {
        EXPECT_EQ(iso["minutiae"][i]["positionX"].asInt(), s.minutiae[i].col);
        EXPECT_EQ(iso["minutiae"][i]["positionY"].asInt(), s.minutiae[i].row);
    }
    // An older "030" header, one byte shorter: the resolutions do not line up.
    EXPECT_EQ(ZR_BAD_RESOLUTION, read_file(nist / "fmr.ansi2007", zr_ansi378_to_minutiastruct, &s));
    EXPECT_EQ(ZR_BAD_FORMAT,
              read_file(templates_dir() / kFio / "ansi378v2009am1-sample.dat", zr_ansi378_to_minutiastruct, &s));
    // The defect of this record is in its second view.
    EXPECT_EQ(ZR_OK, read_file(nist / "fmr.iso2005", zr_iso19794_2_to_minutiastruct, &s));
}

TEST(TemplateInterop, SharedVersionBytesNeverReadAsTheOtherFormat) {
    REQUIRE_TEMPLATES();
    const fs::path dir = templates_dir() / kFio;
    minutiastruct s{};
    for (const char* ansi : {"ansi378v2004-sample.dat", "ansi378v2009-sample.dat"}) {
        SCOPED_TRACE(ansi);
        const zr_status rc = read_file(dir / ansi, zr_iso19794_2_to_minutiastruct, &s);
        EXPECT_TRUE(rc == ZR_BAD_FORMAT || rc == ZR_BAD_RESOLUTION) << rc;
    }
    for (const char* iso : {"iso19794p2v2005-sample.dat", "iso19794p2v2011-sample.dat"}) {
        SCOPED_TRACE(iso);
        const zr_status rc = read_file(dir / iso, zr_ansi378_to_minutiastruct, &s);
        EXPECT_TRUE(rc == ZR_BAD_FORMAT || rc == ZR_BAD_RESOLUTION) << rc;
    }
}

TEST(TemplateInterop, PaddedRecordsAndTheirForeignBlock) {
    REQUIRE_TEMPLATES();
    for (const char* name : {"iso-probe.dat", "iso-matching.dat", "iso-nonmatching.dat"}) {
        SCOPED_TRACE(name);
        const bytes padded = load(templates_dir() / "sourceafis-java" / name);
        ASSERT_FALSE(padded.empty());
        minutiastruct s{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(padded.data(), uint32_t(padded.size()), &s));
        EXPECT_GT(s.count, 0);
        EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(padded.data(), uint32_t(padded.size())));
        // The record alone, in a buffer of exactly its length.
        const uint32_t length = zr_iso19794_2_get_length(padded.data(), uint32_t(padded.size()));
        ASSERT_LT(length, padded.size());
        const bytes record(padded.begin(), padded.begin() + length);
        EXPECT_EQ(ZR_OK, zr_is_iso19794_2(record.data(), length));
        zr_reference_points cores{}, deltas{};
        EXPECT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(record.data(), length, &cores, &deltas));
        EXPECT_EQ(0, cores.count);
        zr_zonal_quality_field zonal{};
        EXPECT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(record.data(), length, &zonal));
        EXPECT_EQ(nullptr, zonal.cells);
        zr_block_field field{};
        EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_orientation_field(record.data(), length, &field));
        uint8_t* card = nullptr;
        uint32_t card_length = 0;
        ASSERT_EQ(ZR_OK, zr_convert_iso_standard_to_compactcard(record.data(), length, 128, &card, &card_length));
        std::free(card);
    }
}

// Read, write, read keeps the minutiae; through a card and back within one
// pixel and two angle steps.
void check_round_trips(const fs::path& path) {
    SCOPED_TRACE(path.string());
    const bytes data = load(path);
    minutiastruct s{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(data.data(), uint32_t(data.size()), &s));
    uint8_t* written = nullptr;
    ASSERT_EQ(ZR_OK, zr_minutiastruct_to_iso19794_2(&s, &written));
    minutiastruct again{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(written, zr_iso19794_2_get_length(written, 12), &again));
    std::free(written);
    ASSERT_EQ(s.count, again.count);
    for (uint32_t i = 0; i < s.count; ++i) {
        ASSERT_EQ(0, std::memcmp(&s.minutiae[i], &again.minutiae[i], sizeof(minutia))) << i;
    }
    uint8_t* card = nullptr;
    uint32_t card_length = 0;
    ASSERT_EQ(ZR_OK, zr_convert_iso_standard_to_compactcard(data.data(), uint32_t(data.size()), 128, &card,
                                                            &card_length));
    minutiastruct back{};
    const zr_status rc = zr_convert_iso_compactcard_to_minutiastruct(card, card_length, &back);
    std::free(card);
    ASSERT_EQ(ZR_OK, rc);
    ASSERT_EQ(s.count, back.count);
    for (uint32_t i = 0; i < s.count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(std::abs(back.minutiae[i].col - s.minutiae[i].col), 1);
        EXPECT_LE(std::abs(back.minutiae[i].row - s.minutiae[i].row), 1);
        const int diff = std::abs(int(back.minutiae[i].angle) - int(s.minutiae[i].angle));
        EXPECT_LE(std::min(diff, 256 - diff), 2);
        EXPECT_EQ(s.minutiae[i].type, back.minutiae[i].type);
    }
}

TEST(TemplateInterop, ValidRecordsSurviveWritingAndTheCard) {
    REQUIRE_TEMPLATES();
    uint32_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(templates_dir() / "openafis-iso2005" / "data" / "valid")) {
        if (entry.path().extension() != ".iso") continue;
        check_round_trips(entry.path());
        ++files;
        if (testing::Test::HasFatalFailure()) return;
    }
    EXPECT_EQ(640u, files);
    for (const char* name : {"1_1.ist", "1_2.ist", "2_1.ist", "2_2.ist"})
        check_round_trips(templates_dir() / "sourceafis-net" / name);
}

TEST(TemplateInterop, TruncatedRecordsAreRefused) {
    REQUIRE_TEMPLATES();
    uint32_t files = 0;
    for (const auto& entry : fs::directory_iterator(templates_dir() / "openafis-iso2005" / "data" / "invalid" / "fvc2004" / "DB_1B")) {
        SCOPED_TRACE(entry.path().string());
        const bytes data = load(entry.path());
        minutiastruct s{};
        EXPECT_EQ(ZR_BAD_FORMAT, zr_iso19794_2_to_minutiastruct(data.data(), uint32_t(data.size()), &s));
        EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(data.data(), uint32_t(data.size())));
        ++files;
    }
    EXPECT_EQ(3u, files);
}

}  // namespace
