// Sample acceptance: the record check and the copy of the standard data block.
#include <functional>

#include "engine_sample.h"
#include "engine_test_support.h"

namespace engine_test {
namespace {

struct RecordEdit {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    HRESULT expected;
};

WINBIO_BIR table_of(const std::vector<uint8_t>& record) {
    WINBIO_BIR t;
    std::memcpy(&t, record.data(), sizeof t);
    return t;
}

void put_table(std::vector<uint8_t>& record, const WINBIO_BIR& t) { std::memcpy(record.data(), &t, sizeof t); }

std::function<void(std::vector<uint8_t>&)> edit_table(std::function<void(WINBIO_BIR&)> change) {
    return [change](std::vector<uint8_t>& r) {
        WINBIO_BIR t = table_of(r);
        change(t);
        put_table(r, t);
    };
}

std::function<void(std::vector<uint8_t>&)> edit_format(uint16_t owner, uint16_t type) {
    return [owner, type](std::vector<uint8_t>& r) {
        const WINBIO_BIR t = table_of(r);
        WINBIO_REGISTERED_FORMAT f{owner, type};
        std::memcpy(r.data() + t.HeaderBlock.Offset + offsetof(WINBIO_BIR_HEADER, BiometricDataFormat), &f,
                    sizeof f);
    };
}

// Moves the standard block to `offset`, growing the record to hold it.
std::function<void(std::vector<uint8_t>&)> move_standard_block(uint32_t offset) {
    return [offset](std::vector<uint8_t>& r) {
        WINBIO_BIR t = table_of(r);
        std::vector<uint8_t> image(r.begin() + t.StandardDataBlock.Offset, r.end());
        r.resize(offset + image.size());
        std::copy(image.begin(), image.end(), r.begin() + offset);
        t.StandardDataBlock.Offset = offset;
        put_table(r, t);
    };
}

TEST(SampleCheck, TableOfRecords) {
    const RecordEdit cases[] = {
        {"valid record", [](std::vector<uint8_t>&) {}, S_OK},
        {"header offset 0", edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Offset = 0; }), E_INVALIDARG},
        {"header size 0", edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Size = 0; }), E_INVALIDARG},
        {"header size 47", edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Size = 47; }), E_INVALIDARG},
        {"header size 49 (still inside)", edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Size = 49; }), S_OK},
        {"standard offset 0", edit_table([](WINBIO_BIR& t) { t.StandardDataBlock.Offset = 0; }), E_INVALIDARG},
        {"standard size 16895", edit_table([](WINBIO_BIR& t) { t.StandardDataBlock.Size = 16895; }), E_INVALIDARG},
        {"standard size 16897", edit_table([](WINBIO_BIR& t) { t.StandardDataBlock.Size = 16897; }), E_INVALIDARG},
        {"format type 0x0402", edit_format(0x001B, 0x0402), E_INVALIDARG},
        {"format owner 0x001C", edit_format(0x001C, 0x0401), E_INVALIDARG},
        {"record one byte short of its image", [](std::vector<uint8_t>& r) { r.pop_back(); }, E_INVALIDARG},
        {"header beyond the record",
         edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Offset = 16976 - 47; }), E_INVALIDARG},
        {"header offset wrapping 32 bits",
         edit_table([](WINBIO_BIR& t) { t.HeaderBlock.Offset = 0xFFFFFFF0u; }), E_INVALIDARG},
        {"standard offset wrapping 32 bits",
         edit_table([](WINBIO_BIR& t) { t.StandardDataBlock.Offset = 0xFFFFC000u; }), E_INVALIDARG},
        {"vendor block beyond the record",
         edit_table([](WINBIO_BIR& t) { t.VendorDataBlock = {16, 16976 - 8}; }), E_INVALIDARG},
        {"signature block beyond the record",
         edit_table([](WINBIO_BIR& t) { t.SignatureBlock = {0xFFFFFFFFu, 1}; }), E_INVALIDARG},
        {"standard block at an odd offset", move_standard_block(81), S_OK},
        {"record shorter than its block table", [](std::vector<uint8_t>& r) { r.resize(31); }, E_INVALIDARG},
        {"record of exactly the block table", [](std::vector<uint8_t>& r) { r.resize(32); }, E_INVALIDARG},
    };
    for (const RecordEdit& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> record = test_sample(3);
        c.edit(record);
        EXPECT_EQ(validate_sample_record(reinterpret_cast<const WINBIO_BIR*>(record.data()), record.size()),
                  c.expected);
    }
}

using SampleAcceptance = EngineFixture;

TEST_F(SampleAcceptance, ArgumentsAndRefusedRecordsKeepNoSample) {
    std::vector<uint8_t> sample = test_sample(1);
    auto* bir = reinterpret_cast<WINBIO_BIR*>(sample.data());
    WINBIO_REJECT_DETAIL reject = 0;
    EXPECT_EQ(EngineAdapterAcceptSampleData(nullptr, bir, sample.size(), 1, &reject), E_POINTER);
    EXPECT_EQ(EngineAdapterAcceptSampleData(&pipeline_, nullptr, sample.size(), 1, &reject), E_POINTER);
    EXPECT_EQ(EngineAdapterAcceptSampleData(&pipeline_, bir, sample.size(), 1, nullptr), E_POINTER);
    EXPECT_EQ(EngineAdapterAcceptSampleData(&pipeline_, bir, 0, 1, &reject), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterAcceptSampleData(&pipeline_, bir, sample.size(), 0, &reject), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterAcceptSampleData(&pipeline_, bir, 16, 1, &reject), E_INVALIDARG);
    EXPECT_EQ(context()->Sample, nullptr);
}

TEST_F(SampleAcceptance, CopiesTheStandardBlockAndReplacesTheLastCopy) {
    ASSERT_EQ(accept(test_sample(1)), S_OK);
    ASSERT_EQ(accept(test_sample(9)), S_OK);
    ASSERT_NE(context()->Sample, nullptr);
    EXPECT_EQ(context()->SampleSize, WINBIO_SENSOR_IMAGE_BYTES);
    const std::vector<uint8_t> expected = test_image(9);
    EXPECT_EQ(std::memcmp(context()->Sample, expected.data(), expected.size()), 0);

    // The library sees the copy, not the caller's record.
    std::vector<uint8_t> moved = test_sample(5);
    move_standard_block(4001)(moved);
    ASSERT_EQ(accept(moved), S_OK);
    std::fill(moved.begin(), moved.end(), 0);
    ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
    WINBIO_REJECT_DETAIL reject = 0;
    EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline_, &reject), WINBIO_I_MORE_DATA);
    std::vector<uint8_t> seen(WINBIO_SENSOR_IMAGE_BYTES);
    ASSERT_TRUE(script_.last_sample(seen.data()));
    EXPECT_EQ(seen, test_image(5));
}

}  // namespace
}  // namespace engine_test
