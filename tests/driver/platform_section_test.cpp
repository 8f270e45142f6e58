#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "match_section_name.h"
#include "win_section.h"

namespace {

using fp_platform::kMatchSectionName;

class SectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fp_platform::set_section_name_prefix("fptest_section_" + std::to_string(::getpid()) + "_");
    }
    void TearDown() override { fp_platform::set_section_name_prefix(""); }
};

TEST_F(SectionTest, CreatedSectionIsZeroSharedAndRemovedWithItsCreator)
{
    HANDLE created = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, kMatchSectionName);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* view = static_cast<uint32_t*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(*view, 0u);
    // Only its owner may open it.
    struct stat info {};
    ASSERT_EQ(::stat(("/dev/shm" + fp_platform::section_shm_name(kMatchSectionName)).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A second opener writes; the creator's view sees it.
    HANDLE opened = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kMatchSectionName);
    ASSERT_NE(opened, nullptr);
    auto* writer = static_cast<uint32_t*>(MapViewOfFile(opened, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(writer, nullptr);
    *writer = 1;
    EXPECT_EQ(UnmapViewOfFile(writer), TRUE);
    EXPECT_EQ(CloseHandle(opened), TRUE);
    EXPECT_EQ(*view, 1u);
    EXPECT_TRUE(fp_platform::section_exists(kMatchSectionName));

    EXPECT_EQ(UnmapViewOfFile(view), TRUE);
    EXPECT_EQ(CloseHandle(created), TRUE);
    EXPECT_FALSE(fp_platform::section_exists(kMatchSectionName));
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_WRITE, FALSE, kMatchSectionName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SectionTest, CreatingAnExistingSectionOpensIt)
{
    HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, kMatchSectionName);
    ASSERT_NE(first, nullptr);
    HANDLE second = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, kMatchSectionName);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(CloseHandle(second), TRUE);
    EXPECT_TRUE(fp_platform::section_exists(kMatchSectionName));
    EXPECT_EQ(CloseHandle(first), TRUE);
    EXPECT_FALSE(fp_platform::section_exists(kMatchSectionName));
}

TEST_F(SectionTest, PrefixSeparatesNamesAndBadArgumentsFail)
{
    EXPECT_EQ(fp_platform::section_shm_name(u"a/b c"),
              "/fptest_section_" + std::to_string(::getpid()) + "_a_b_c");
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, kMatchSectionName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileMappingW(nullptr, nullptr, PAGE_READWRITE, 0, 4, kMatchSectionName), nullptr);

    HANDLE read_only = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, u"ro");
    ASSERT_NE(read_only, nullptr);
    HANDLE reader = OpenFileMappingW(FILE_MAP_READ, FALSE, u"ro");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 8), nullptr);
    EXPECT_EQ(UnmapViewOfFile(&reader), FALSE);
    CloseHandle(reader);
    CloseHandle(read_only);
}

}  // namespace
