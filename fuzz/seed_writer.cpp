// Writes the seed corpora of the harnesses from the library's own writers:
//   fuzz_seed_writer OUT_DIR
// creates OUT_DIR/<harness>/<seed> for every harness it knows.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "api/fpmatch.h"
#include "capture_data.h"
#include "fp_test_data.h"
#include "fuzz_support.h"
#include "formats/zr_fourier_part.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/linked_cluster/zr_moc.h"
#include "formats/zr_fusion.h"
#include "formats/zr_ansi378.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "objects/tlv_codec.h"
#include "objects/tlv_tree.h"
#include "objects/zr_template.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"
#include "objects/zr_zrimage.h"
#include "sim_biometric_service.h"
#include "winbio_types.h"

namespace {

using bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_out;

void write_seed(const char* harness, const std::string& name, const bytes& data) {
    const fs::path dir = g_out / harness;
    fs::create_directories(dir);
    FILE* file = std::fopen((dir / name).c_str(), "wb");
    if (file == nullptr || std::fwrite(data.data(), 1, data.size(), file) != data.size()) {
        std::fprintf(stderr, "cannot write %s/%s\n", harness, name.c_str());
        std::exit(1);
    }
    std::fclose(file);
}

bytes pattern(size_t size, uint8_t seed) {
    bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = uint8_t(seed + i * 13);
    return out;
}

bytes template_bytes(const zr_template* tmpl) { return bytes(tmpl->data, tmpl->data + tmpl->size); }

// --- BER-TLV ---

tlv_node* primitive(uint16_t tag, const bytes& value) {
    return tlv_create(tag, uint32_t(value.size()), value.data());
}

void append(tlv_node* parent, tlv_node* child) {
    if (tlv_append_child(parent, child) != 0) std::exit(1);
}

bytes write_tree(tlv_node* root) {
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    if (tlv_write_tree(root, &buffer, &size) != 0) std::exit(1);
    bytes out(buffer, buffer + size);
    std::free(buffer);
    tlv_delete(root);
    return out;
}

// The part values of a fusion-shaped template; kept alive while trees use them.
const bytes kPartC1 = pattern(40, 1);
const bytes kPartC5 = pattern(200, 2);  // a two-byte length
const bytes kPartC6 = pattern(3, 3);
const bytes kPartC9 = pattern(300, 4);  // a three-byte length
const bytes kPartCA = pattern(1, 5);
const bytes kMinutiae = pattern(18, 6);

// 7F2E { A1 { 81 }, A2 { C1, C5, C6, C9, CA } }
bytes fusion_tree() {
    tlv_node* root = tlv_create(0x7F2E, 0, nullptr);
    tlv_node* card = tlv_create(0xA1, 0, nullptr);
    append(card, primitive(0x81, kMinutiae));
    append(root, card);
    tlv_node* parts = tlv_create(0xA2, 0, nullptr);
    append(parts, primitive(0xC1, kPartC1));
    append(parts, primitive(0xC5, kPartC5));
    append(parts, primitive(0xC6, kPartC6));
    append(parts, primitive(0xC9, kPartC9));
    append(parts, primitive(0xCA, kPartCA));
    append(root, parts);
    return write_tree(root);
}

// Nine constructed levels around one primitive.
bytes deep_tree() {
    tlv_node* root = tlv_create(0xA1, 0, nullptr);
    tlv_node* inner = root;
    for (int i = 0; i < 8; ++i) {
        tlv_node* next = tlv_create(0x3F21, 0, nullptr);
        append(inner, next);
        inner = next;
    }
    append(inner, primitive(0x5F01, kPartCA));
    return write_tree(root);
}

void tlv_seeds() {
    write_seed("tlv", "fusion", fusion_tree());
    write_seed("tlv", "deep", deep_tree());
    write_seed("tlv", "primitive", write_tree(primitive(0xC5, kPartC6)));
    write_seed("tlv", "empty_constructed", write_tree(tlv_create(0xA2, 0, nullptr)));
    // Two top-level elements one after the other.
    bytes pair(8);
    tlv_element first{0x81, 1, kPartCA.data()};
    tlv_element second{0x9F10, 2, kPartC6.data()};
    const uint32_t n = tlv_write(pair.data(), &first);
    pair.resize(n + tlv_write(pair.data() + n, &second));
    write_seed("tlv", "pair", pair);
}

// --- Templates and containers ---

bytes metadata_record(uint16_t rows, uint16_t cols, uint16_t image_class, uint32_t enroll_type) {
    const zr_template_metadata metadata{cols, rows, image_class, 500, enroll_type};
    zr_template* record = nullptr;
    if (zr_template_metadata_encode(nullptr, &metadata, &record) != 0) std::exit(1);
    bytes out = template_bytes(record);
    zr_template_delete(record);
    return out;
}

// A container holding (type, bytes) entries in order, written by insertion.
bytes container(const std::vector<std::pair<uint16_t, bytes>>& entries) {
    zr_template* tmpl = zr_template_generic_convert(nullptr);
    for (const auto& [type, data] : entries) {
        zr_template* next = zr_template_generic_insert(tmpl, type, data.data(), uint32_t(data.size()));
        zr_template_delete(tmpl);
        tmpl = next;
        if (tmpl == nullptr) std::exit(1);
    }
    bytes out = template_bytes(tmpl);
    zr_template_delete(tmpl);
    return out;
}

// The version-0 form of a written container: no CRCs, no trailer.
bytes version0(const bytes& written) {
    zr_template* tmpl = zr_template_create(ZR_TEMPLATE_GENERIC, written.data(), uint32_t(written.size()));
    zr_generic_container parsed{};
    if (!zr_template_generic_parse(tmpl, &parsed)) std::exit(1);
    bytes out(written.begin(), written.begin() + 8);
    out.push_back(0);
    out.push_back(parsed.count);
    for (uint32_t i = 0; i < parsed.count; ++i) {
        const zr_generic_entry& e = parsed.entries[i];
        const uint8_t header[6] = {uint8_t(e.type >> 8), uint8_t(e.type), uint8_t(e.size >> 24),
                                   uint8_t(e.size >> 16), uint8_t(e.size >> 8), uint8_t(e.size)};
        out.insert(out.end(), header, header + 6);
        out.insert(out.end(), e.data, e.data + e.size);
    }
    zr_template_delete(tmpl);
    return out;
}

void container_seeds() {
    const bytes ehm = fusion_tree();
    const bytes metadata = metadata_record(176, 96, 2, 5);
    write_seed("generic_container", "empty", container({}));
    write_seed("generic_container", "ehm", container({{ZR_TEMPLATE_EHM, ehm}}));
    const bytes three = container({{ZR_TEMPLATE_EHM, ehm}, {ZR_TEMPLATE_METADATA, metadata},
                                   {ZR_TEMPLATE_MULTI, pattern(30, 9)}});
    write_seed("generic_container", "ehm_metadata_multi", three);
    write_seed("generic_container", "version0", version0(three));
    std::vector<std::pair<uint16_t, bytes>> ten;
    for (uint16_t t = 1; t <= 10; ++t) ten.push_back({uint16_t(t + 60), pattern(t, uint8_t(t))});
    write_seed("generic_container", "ten_entries", container(ten));
}

void zrimage_seeds() {
    const struct {
        const char* name;
        uint16_t rows, cols;
    } images[] = {{"2x3", 2, 3}, {"empty", 0, 0}, {"16x8", 16, 8}, {"1x40", 1, 40}};
    for (const auto& image : images) {
        const bytes pixels = pattern(size_t(image.rows) * image.cols, 7);
        uint8_t* record = nullptr;
        uint32_t size = 0;
        if (zr_fusion_zrimage_encode(pixels.data(), image.rows, image.cols, 500, 508, 2, &record, &size) != 0)
            std::exit(1);
        write_seed("zrimage", image.name, bytes(record, record + size));
        std::free(record);
    }
}

// Selector bytes index the harnesses' type tables.
constexpr uint8_t kConvertEhm = 5;        // 67
constexpr uint8_t kConvertEhmNeo = 12;    // 78
constexpr uint8_t kConvertGeneric = 16;   // 84
constexpr uint8_t kConvertMetadata = 18;  // 86

bytes with_selector(uint8_t selector, const bytes& data) {
    bytes out{selector};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void convert_seeds() {
    const bytes ehm = fusion_tree();
    write_seed("template_convert", "ehm", with_selector(kConvertEhm, ehm));
    write_seed("template_convert", "ehm_neo", with_selector(kConvertEhmNeo, ehm));
    write_seed("template_convert", "container",
               with_selector(kConvertGeneric, container({{ZR_TEMPLATE_EHM, ehm},
                                                         {ZR_TEMPLATE_METADATA, metadata_record(1, 2, 3, 4)}})));
    write_seed("template_convert", "metadata", with_selector(kConvertMetadata, metadata_record(176, 96, 0, 1)));
}

// selector, big-endian size, template bytes, then operations (kind, u32).
constexpr uint8_t kMetadataGeneric = 0;
constexpr uint8_t kMetadataRecord = 1;
constexpr uint8_t kMetadataEhm = 2;
constexpr uint8_t kMetadataNone = 0x80;

bytes metadata_input(uint8_t selector, const bytes& tmpl, std::initializer_list<std::pair<uint8_t, uint32_t>> ops) {
    bytes out{selector, uint8_t(tmpl.size() >> 8), uint8_t(tmpl.size())};
    out.insert(out.end(), tmpl.begin(), tmpl.end());
    for (const auto& [kind, value] : ops) {
        const uint8_t op[5] = {kind, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                               uint8_t(value)};
        out.insert(out.end(), op, op + 5);
    }
    return out;
}

void metadata_seeds() {
    const bytes ehm = fusion_tree();
    const bytes record = metadata_record(176, 96, 7, 3);
    write_seed("metadata", "container", metadata_input(kMetadataGeneric,
        container({{ZR_TEMPLATE_EHM, ehm}, {ZR_TEMPLATE_METADATA, record}}), {{0, 5}, {1, 9}, {0, 5}}));
    write_seed("metadata", "container_v1", metadata_input(kMetadataGeneric,
        container({{ZR_TEMPLATE_METADATA, bytes(record.begin(), record.begin() + 8)}}), {{1, 2}}));
    write_seed("metadata", "bare_record", metadata_input(kMetadataRecord, record, {{0, 1}}));
    write_seed("metadata", "ehm", metadata_input(kMetadataEhm, ehm, {{0, 2}, {1, 4}}));
    write_seed("metadata", "nothing", metadata_input(kMetadataNone, {}, {{1, 3}, {0, 6}}));
}

// --- EHM and fusion templates ---

// A block field of rows x cols blocks over the given storage.
zr_block_field block_field(bytes* values, bytes* fine, uint8_t rows, uint8_t cols, uint8_t seed) {
    *values = pattern(size_t(rows) * cols, seed);
    zr_block_field field{};
    field.flags = ZR_FEATURE_ENABLE;
    field.block_rows = rows;
    field.block_cols = cols;
    field.block_size = 12;
    field.values = values->data();
    if (fine != nullptr) {
        *fine = pattern(values->size() * 9, uint8_t(seed + 1));
        field.flags |= ZR_FIELD_FINE;
        field.fine = fine->data();
    }
    return field;
}

bytes taken(zr_status status, uint8_t* buffer, uint32_t length) {
    if (status != ZR_OK) std::exit(1);
    bytes out(buffer, buffer + length);
    std::free(buffer);
    return out;
}

void fusion_seeds() {
    const bytes card_2005 = write_tree([] {
        tlv_node* root = tlv_create(0x7F2E, 0, nullptr);
        tlv_node* group = tlv_create(0xA1, 0, nullptr);
        append(group, primitive(0x90, kMinutiae));
        append(root, group);
        return root;
    }());
    bytes ov, of, fv, ff, ov_plain, fv_plain;
    const zr_block_field orientation = block_field(&ov, &of, 4, 3, 20);
    const zr_block_field frequency = block_field(&fv, &ff, 4, 3, 40);
    const zr_block_field orientation_plain = block_field(&ov_plain, nullptr, 4, 3, 20);
    const zr_block_field frequency_plain = block_field(&fv_plain, nullptr, 4, 3, 40);
    const bytes pixels = pattern(12, 60);
    uint8_t* out = nullptr;
    uint32_t length = 0;
    zr_status status = zr_iso_compactcard_to_iso_fusion(card_2005.data(), uint32_t(card_2005.size()),
                                                        &orientation, &frequency, pixels.data(), 3,
                                                        4, 1, 70, &out, &length);
    const bytes fusion = taken(status, out, length);
    write_seed("fusion", "fusion_record_form_image", fusion);
    status = zr_iso_compactcard_to_iso_ehm(card_2005.data(), uint32_t(card_2005.size()),
                                           &orientation_plain, &frequency_plain, 176, 96, 70, &out,
                                           &length);
    write_seed("fusion", "fusion_plain", taken(status, out, length));
    status = zr_iso_compactcard_to_ehm(card_2005.data(), uint32_t(card_2005.size()),
                                       &orientation_plain, &frequency_plain, &out, &length);
    write_seed("fusion", "ehm", taken(status, out, length));
    write_seed("fusion", "card", card_2005);
}

// --- Minutiae records and compact cards ---

minutiastruct seed_minutiae(uint32_t count, uint16_t size) {
    minutiastruct s{};
    s.rows = size;
    s.cols = uint16_t(size - 40);
    s.resolution = 197;
    s.device_id = 0x000B0120;
    s.quality = 60;
    for (uint32_t i = 0; i < count; ++i)
        s.minutiae[i] = {int16_t((i * 53) % size), int16_t((i * 37) % (size - 40)), uint8_t(i * 29),
                         uint8_t(1 + i % 2), uint8_t(i * 7 % 101), uint8_t(i % 16)};
    s.count = uint8_t(count);
    return s;
}

using record_writer = zr_status (*)(const minutiastruct*, uint8_t**);

// An ISO record of the structure, with reference points, zonal quality and
// both block fields when `blocks` is set.
bytes iso_record(const minutiastruct& s, record_writer write, bool blocks) {
    uint8_t* r = nullptr;
    if (write(&s, &r) != 0) std::exit(1);
    uint32_t size = zr_iso19794_2_get_length(r, 12);
    if (blocks) {
        zr_reference_points points{};
        points.points[0] = {100, 80, {40, 125, 210}, 0, 1};
        points.points[1] = {150, 60, {0, 0, 0}, 0, 0};
        points.count = 2;
        std::vector<uint8_t> cells(64 * 64, 70);
        const zr_zonal_quality_field zonal{1, 0, cells.data(), 64, 64, 12, 12, 0};
        zr_block_field field{};
        field.values = cells.data();
        field.block_rows = 4;
        field.block_cols = 3;
        field.block_size = 12;
        if (zr_iso19794_2_extend_ref_points(&r, &size, &points, &points) != 0 ||
            zr_iso19794_2_extend_zonal_quality(&r, &size, &zonal, 2) != 0 ||
            zr_iso19794_2_extend_orientation_field(&r, &size, &field) != 0 ||
            zr_iso19794_2_extend_frequency_field(&r, &size, &field) != 0)
            std::exit(1);
    }
    bytes out(r, r + size);
    std::free(r);
    return out;
}

bytes card_of(const bytes& record, bool proprietary, const minutiastruct& s) {
    uint8_t* card = nullptr;
    uint32_t length = 0;
    if (zr_convert_iso_standard_to_compactcard(record.data(), uint32_t(record.size()), 64, &card, &length) != 0)
        std::exit(1);
    if (proprietary && zr_iso_compactcard_extend_proprietary_data(&card, &length, &s) != 0) std::exit(1);
    bytes out(card, card + length);
    std::free(card);
    return out;
}

void minutiae_record_seeds() {
    const minutiastruct s = seed_minutiae(24, 240);
    const minutiastruct empty = seed_minutiae(0, 240);
    const bytes v2 = iso_record(s, zr_minutiastruct_to_iso19794_2_v2, false);
    const bytes v2_blocks = iso_record(s, zr_minutiastruct_to_iso19794_2_v2, true);
    const bytes v3_blocks = iso_record(s, zr_minutiastruct_to_iso19794_2_v3, true);
    write_seed("iso_record", "v2", v2);
    write_seed("iso_record", "v2_blocks", v2_blocks);
    write_seed("iso_record", "v3_blocks", v3_blocks);
    write_seed("iso_record", "v2_empty", iso_record(empty, zr_minutiastruct_to_iso19794_2_v2, false));
    bytes padded = v2_blocks;
    padded.resize(padded.size() + 32, 0);
    write_seed("iso_record", "v2_padded", padded);

    for (const auto& [name, v3] : {std::pair{"v2", false}, std::pair{"v3", true}}) {
        uint8_t* r = nullptr;
        uint32_t length = 0;
        const zr_status rc =
            v3 ? zr_minutiastruct_to_ansi378_v3(&s, &r, &length) : zr_minutiastruct_to_ansi378_v2(&s, &r, &length);
        if (rc != 0) std::exit(1);
        write_seed("ansi_record", name, bytes(r, r + length));
        std::free(r);
    }

    write_seed("compact_card", "v2", card_of(v2, false, s));
    write_seed("compact_card", "v2_blocks", card_of(v2_blocks, false, s));
    write_seed("compact_card", "v3_blocks_proprietary", card_of(v3_blocks, true, s));
    write_seed("compact_card", "v2_proprietary", card_of(v2, true, s));
}

// --- Engine adapter, simulated service and driver ---

void engine_seeds() {
    const bytes image = pattern(WINBIO_SENSOR_IMAGE_BYTES, 11);
    const bytes record = sim_make_sample_record(image.data(), WINBIO_PURPOSE_VERIFY);
    write_seed("engine_sample", "record", record);
    // The standard block after a vendor block.
    bytes with_vendor = record;
    WINBIO_BIR table;
    std::memcpy(&table, with_vendor.data(), sizeof table);
    const bytes vendor = pattern(16, 12);
    table.VendorDataBlock = {uint32_t(vendor.size()), uint32_t(with_vendor.size())};
    with_vendor.insert(with_vendor.end(), vendor.begin(), vendor.end());
    std::memcpy(with_vendor.data(), &table, sizeof table);
    write_seed("engine_sample", "vendor_block", with_vendor);

    // The driver's full reply: its head, the record, unused bytes up to its size.
    bytes reply(fpusbdrv::kCapturePayloadSize, 0);
    WINBIO_CAPTURE_DATA head{};
    head.PayloadSize = fpusbdrv::kCapturePayloadSize;
    head.SensorStatus = WINBIO_SENSOR_ACCEPT;
    head.CaptureData.Size = uint32_t(record.size());
    std::memcpy(reply.data(), &head, fpusbdrv::kBirOffset);
    std::memcpy(reply.data() + fpusbdrv::kBirOffset, record.data(), record.size());
    write_seed("capture_reply", "full_reply", reply);
    write_seed("capture_reply", "size_only", bytes(reply.begin(), reply.begin() + 4));
}

// selector (control index, 0x80: do not wait), u16 output size, input.
void add_request(bytes* out, uint8_t selector, uint16_t output_size, const bytes& input) {
    out->insert(out->end(), {selector, uint8_t(output_size >> 8), uint8_t(output_size), uint8_t(input.size())});
    out->insert(out->end(), input.begin(), input.end());
}

bytes capture_parameters(uint8_t purpose) {
    WINBIO_CAPTURE_PARAMETERS parameters{};
    parameters.PayloadSize = sizeof parameters;
    parameters.Purpose = purpose;
    parameters.Format = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
    parameters.Flags = WINBIO_DATA_FLAG_RAW;
    bytes out(sizeof parameters);
    std::memcpy(out.data(), &parameters, sizeof parameters);
    return out;
}

// Indexes of the harness's control table.
constexpr uint8_t kAttributes = 0, kReset = 1, kCalibrate = 2, kSensorStatus = 3, kCapture = 4, kFirmware = 5;
constexpr uint8_t kCodeFromInput = 9, kNoWait = 0x80;

void driver_seeds() {
    const uint16_t full = uint16_t(fpusbdrv::kCapturePayloadSize);
    bytes fixed;
    add_request(&fixed, kAttributes, 1580, {});
    add_request(&fixed, kCalibrate, 16, {});
    add_request(&fixed, kSensorStatus, 4, {});
    add_request(&fixed, kReset, 8, {});
    add_request(&fixed, kFirmware, 0, {});
    write_seed("driver_ioctl", "fixed_replies", fixed);

    bytes capture;
    add_request(&capture, kCapture, full, capture_parameters(WINBIO_PURPOSE_ENROLL));
    add_request(&capture, kCapture, full - 1, capture_parameters(WINBIO_PURPOSE_VERIFY));
    write_seed("driver_ioctl", "capture", capture);

    bytes busy;
    add_request(&busy, kCapture | kNoWait, full, capture_parameters(WINBIO_PURPOSE_VERIFY));
    add_request(&busy, kCapture | kNoWait, full, capture_parameters(WINBIO_PURPOSE_IDENTIFY));
    add_request(&busy, kReset, 8, {});
    write_seed("driver_ioctl", "busy_then_reset", busy);

    bytes refused;
    bytes wrong_flags = capture_parameters(WINBIO_PURPOSE_VERIFY);
    wrong_flags[offsetof(WINBIO_CAPTURE_PARAMETERS, Flags)] = 0x40;
    add_request(&refused, kCapture, full, wrong_flags);
    add_request(&refused, kCapture, full, capture_parameters(0x20));
    add_request(&refused, kCodeFromInput, 8, {0x04, 0x20, 0x44, 0x00});  // vendor-defined
    add_request(&refused, kCodeFromInput, 8, {0x28, 0x00, 0x44, 0x00});  // unknown
    write_seed("driver_ioctl", "refused", refused);
}


// --- multi-template ---

// The first byte of a multitemplate input chooses in-place (1) or copied (0)
// decoding; the rest is the record.
void multitemplate_seed(const std::string& name, zr_multitemplate* mt) {
    zr_template* record = nullptr;
    if (zr_multitemplate_encode(mt, &record) != ZR_OK) std::exit(1);
    for (uint8_t mode = 0; mode < 2; ++mode) {
        bytes seed{mode};
        const bytes body = template_bytes(record);
        seed.insert(seed.end(), body.begin(), body.end());
        write_seed("multitemplate", name + (mode ? "_in_place" : "_copied"), seed);
    }
    zr_template_delete(record);
    zr_multitemplate_delete(mt);
}

void multitemplate_seeds() {
    multitemplate_seed("empty", zr_multitemplate_create());

    // Six EHM-like instances with per-instance items and a next-id item.
    zr_multitemplate* six = zr_multitemplate_create();
    for (uint32_t i = 0; i < 6; ++i) {
        const bytes data = pattern(60 + 10 * i, uint8_t(i));
        zr_template* t = zr_template_create(ZR_TEMPLATE_EHM, data.data(), uint32_t(data.size()));
        if (zr_multitemplate_add_instance(six, i + 1, t) != ZR_OK) std::exit(1);
        zr_template_delete(t);
        const uint8_t quality[2] = {uint8_t(40 + i), 1};
        if (zr_multitemplate_add_metadata(six, i + 1, 1, quality, 2) != ZR_OK) std::exit(1);
    }
    const uint8_t global[4] = {1, 2, 3, 4};
    if (zr_multitemplate_add_metadata(six, ZR_MT_GLOBAL, 7, global, 4) != ZR_OK) std::exit(1);
    six->next_id = 12;
    multitemplate_seed("six_instances", six);

    // Id -1, an empty template and a type folded on writing.
    zr_multitemplate* odd = zr_multitemplate_create();
    zr_template* empty = zr_template_create(ZR_TEMPLATE_RAW_IMAGE, nullptr, 0);
    const bytes ehm = pattern(24, 9);
    zr_template* folded = zr_template_create(ZR_TEMPLATE_EHM_PRESET, ehm.data(), uint32_t(ehm.size()));
    if (zr_multitemplate_add_instance(odd, 0xFFFFFFFFu, empty) != ZR_OK ||
        zr_multitemplate_add_instance(odd, 0, folded) != ZR_OK)
        std::exit(1);
    zr_template_delete(empty);
    zr_template_delete(folded);
    multitemplate_seed("minus_one", odd);
}

// --- Spectral matcher ---

// Selector, flags (u32), level, then the input of the harness.
bytes spectral_prefix(uint8_t selector, uint32_t flags, uint8_t level) {
    return {selector, uint8_t(flags >> 24), uint8_t(flags >> 16), uint8_t(flags >> 8),
            uint8_t(flags), level};
}

void fourier_seeds() {
    constexpr uint8_t kRows = 5, kCols = 4;
    bytes ori = pattern(kRows * kCols, 3), freq = pattern(kRows * kCols, 40);
    for (auto& f : freq) f = uint8_t(40 + f % 60);
    bytes ori_fine = pattern(ori.size() * 9, 5), freq_fine = pattern(ori.size() * 9, 41);
    for (auto& f : freq_fine) f = uint8_t(40 + f % 60);
    zr_block_field of{}, ff{};
    for (zr_block_field* f : {&of, &ff}) {
        f->flags = ZR_FEATURE_ENABLE | ZR_FIELD_FINE;
        f->block_rows = kRows;
        f->block_cols = kCols;
        f->block_size = 12;
    }
    of.values = ori.data();
    of.fine = ori_fine.data();
    ff.values = freq.data();
    ff.fine = freq_fine.data();
    for (const int record_form : {0, 1}) {
        uint8_t* part = nullptr;
        uint32_t length = 0;
        if (zr_spectral_part_write(&of, &ff, record_form, &part, &length) != 0) std::exit(1);
        bytes seed = spectral_prefix(1, 0x18 | (record_form ? 0x20 : 0x04), 1);
        seed.insert(seed.end(), part, part + length);
        std::free(part);
        write_seed("fourier", record_form ? "part_fine" : "part_plain", seed);
    }
    // Two records: a 4 x 5 grid with its fine grid, and a 3 x 3 one.
    bytes probe = {0x5B, 0xDA, 2, 12, 0x01, 0xF4, kCols, kRows, 0, 0};
    for (size_t i = 0; i < ori.size(); ++i) {
        probe.push_back(ori[i]);
        probe.push_back(freq[i]);
    }
    for (size_t i = 0; i < ori_fine.size(); ++i) {
        probe.push_back(ori_fine[i]);
        probe.push_back(freq_fine[i]);
    }
    bytes reference = {0x5B, 0xDA, 2, 12, 0x01, 0xF4, 3, 3, 0, 0};
    for (int i = 0; i < 9; ++i) {
        reference.push_back(uint8_t(i * 20));
        reference.push_back(uint8_t(50 + i));
    }
    bytes seed = spectral_prefix(0, 0x0C, 0);
    seed.push_back(uint8_t(probe.size() >> 8));
    seed.push_back(uint8_t(probe.size()));
    seed.insert(seed.end(), probe.begin(), probe.end());
    seed.insert(seed.end(), reference.begin(), reference.end());
    write_seed("fourier", "records", seed);
}

// --- match-on-card: hand-built compact cards and stores enrolled from them ---

bytes compact_card(uint8_t minutiae_tag, uint32_t count, uint8_t seed, bool proprietary) {
    bytes minutiae;
    for (uint32_t i = 0; i < count; ++i) {
        minutiae.push_back(uint8_t(30 + (i % 8) * 24 + (seed + i * 7) % 9));
        minutiae.push_back(uint8_t(30 + (i / 8) * 22 + (seed * 3 + i) % 7));
        minutiae.push_back(uint8_t(0x40 | ((seed + i * 11) & 63)));
    }
    tlv_node* root = tlv_create(0x7F2E, 0, nullptr);
    if (minutiae_tag == 0x90) {
        tlv_node* body = tlv_create(0xA1, 0, nullptr);
        append(body, primitive(0x90, minutiae));
        append(root, body);
    } else {
        append(root, primitive(minutiae_tag, minutiae));
    }
    bytes quality = {0x98, 0xEC, 0x15, 0xE1};
    for (uint32_t i = 0; i < count; ++i) quality.push_back(uint8_t(0x60 + i % 0x90));
    if (proprietary) append(root, primitive(0x82, quality));
    return write_tree(root);
}

bytes moc_cards_input(uint8_t selector, const bytes& reference, const bytes& probe) {
    bytes out{selector, uint8_t(reference.size() >> 8), uint8_t(reference.size())};
    out.insert(out.end(), reference.begin(), reference.end());
    out.insert(out.end(), probe.begin(), probe.end());
    return out;
}

bytes moc_store_input(uint8_t selector, const bytes& reference, const bytes& probe) {
    std::vector<uint8_t> work(2064);
    bytes store(LC_STORE_MAX_SIZE);
    uint16_t used = 0;
    if (zr_moc_enroll(work.data(), 2064, reference.data(), uint32_t(reference.size()), store.data(),
                      LC_STORE_MAX_SIZE, &used, write_persistent_mem) != ZR_OK) {
        std::exit(1);
    }
    bytes out{selector};
    out.insert(out.end(), store.begin(), store.end());
    out.insert(out.end(), probe.begin(), probe.end());
    return out;
}

void moc_seeds() {
    const bytes card40 = compact_card(0x90, 40, 1, false);
    const bytes card40_moved = compact_card(0x90, 40, 2, false);
    const bytes card64 = compact_card(0x81, 64, 3, true);
    const bytes card90 = compact_card(0x81, 90, 4, true);
    write_seed("moc", "cards_same", moc_cards_input(0, card40, card40));
    write_seed("moc", "cards_other", moc_cards_input(2, card40, card40_moved));
    write_seed("moc", "cards_proprietary", moc_cards_input(1, card64, card40));
    write_seed("moc", "cards_pruned", moc_cards_input(0, card90, card64));
    write_seed("moc", "store_same", moc_store_input(1, card40, card40));
    write_seed("moc", "store_proprietary", moc_store_input(3, card64, card90));
}

// --- stored templates from the exported enrolment ---

// The frame the radu_template harness extracts its probe from.
bytes ridge_sample() { return fuzz::ridge_frame(RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS); }

// The record that six enrolment calls with these samples and the save give;
// empty when the enrolment did not complete.
bytes enrolled_record(const std::vector<bytes>& samples) {
    RADU_alg_init();
    int32_t code = 0;
    for (const bytes& s : samples) code = RADU_alg_request_enroll(0, s.data());
    bytes out(RADU_TEMPLATE_BUFFER_SIZE);
    uint8_t type = 0;
    const int32_t n = code == RADU_ENROLL_COMPLETE ? RADU_alg_save_template(0, out.data(), &type) : 0;
    RADU_alg_init();
    return n > 0 ? bytes(out.begin(), out.begin() + n) : bytes{};
}

void radu_template_seeds() {
    // Six copies of one synthetic capture: a record of one instance.
    const bytes one = enrolled_record(std::vector<bytes>(6, ridge_sample()));
    if (one.empty()) {
        std::fprintf(stderr, "the synthetic capture did not enrol\n");
        std::exit(1);
    }
    write_seed("radu_template", "synthetic_one_instance", one);
    // Real captures where the shared data is present: the first finger of
    // each database.
    if (!fp_test::have_captures()) return;
    for (const char* db : {"fvc2000_db1", "fvc2002_db1"}) {
        std::vector<bytes> samples;
        for (int i = 1; i <= 6; ++i) {
            fp_test::GreyImage g = fp_test::read_pgm(fp_test::captures_dir() / db / "101" /
                                                     ("e" + std::to_string(i) + ".pgm"));
            if (g.rows == RADU_SAMPLE_ROWS && g.cols == RADU_SAMPLE_COLS) samples.push_back(std::move(g.pixels));
        }
        if (samples.size() != 6) continue;
        const bytes record = enrolled_record(samples);
        if (!record.empty()) write_seed("radu_template", std::string(db) + "_101", record);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    g_out = argv[1];
    tlv_seeds();
    container_seeds();
    zrimage_seeds();
    convert_seeds();
    metadata_seeds();
    multitemplate_seeds();
    fourier_seeds();
    fusion_seeds();
    minutiae_record_seeds();
    engine_seeds();
    driver_seeds();
    moc_seeds();
    radu_template_seeds();
    return 0;
}
