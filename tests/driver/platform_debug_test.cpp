#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win_debug.h"

namespace {

std::string format(PCWSTR format_text, ...)
{
    char16_t line[DEBUG_LINE_CHARS];
    va_list args;
    va_start(args, format_text);
    fp_platform::format_wide_v(line, DEBUG_LINE_CHARS, format_text, args);
    va_end(args);
    return fp_platform::narrow_text(line);
}

TEST(PlatformDebug, FormatsLikeTheWidePrintf)
{
    EXPECT_EQ(format(u"HELLO:%S: <<", "OnReset"), "HELLO:OnReset: <<");
    EXPECT_EQ(format(u"%s|%d|%u|%x|%08x|%X", u"wide", -5, 7u, 0xabu, 0x4250u, 0xbeefu),
              "wide|-5|7|ab|00004250|BEEF");
    EXPECT_EQ(format(u"%zu %lld %c %%", size_t{17000}, -3ll, 'Z'), "17000 -3 Z %");
    EXPECT_EQ(format(u"[%5S][%-3S]", "ab", "c"), "[   ab][c  ]");
    EXPECT_EQ(format(u"[%.3S][%5.2s][%.0S]", "abcdef", u"wide", "x"), "[abc][   wi][]");
    EXPECT_EQ(format(u"%hs|%ls|%lS", "narrow", u"wide", u"WIDE"), "narrow|wide|WIDE");
}

TEST(PlatformDebug, OutputIsCutTo256Characters)
{
    const std::string long_text(400, 'x');
    const std::string line = format(u"%S", long_text.c_str());
    EXPECT_EQ(line.size(), DEBUG_LINE_CHARS - 1);
}

TEST(PlatformDebug, SinkReceivesLines)
{
    std::vector<std::string> lines;
    fp_platform::set_debug_sink([&lines](std::u16string_view line) { lines.push_back(fp_platform::narrow_text(line)); });
    fp_platform::debug_printf(u"HELLO:%S: -- %d >>", "getmem", 1);
    OutputDebugStringW(u"plain\n");
    fp_platform::set_debug_sink({});
    OutputDebugStringW(u"dropped");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "HELLO:getmem: -- 1 >>");
    EXPECT_EQ(lines[1], "plain\n");
}

}  // namespace
