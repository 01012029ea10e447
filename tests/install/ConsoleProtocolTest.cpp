#include <gtest/gtest.h>

#include "install/ConsoleProtocol.h"
#include "install/StatusCodes.h"

using namespace ConsoleProtocol;

namespace {

struct LineCase {
    const wchar_t* line;
    bool reports;
    Report report;
    int result;
};

} // namespace

TEST(ConsoleProtocol, PackageLinesGiveTheirReportsAndResults) {
    const LineCase cases[] = {
        {L"Progress=0.5", true, {IST_CODE_PROGRESS, 0.5, L""}, 0},
        {L"Progress=abc", true, {IST_CODE_PROGRESS, 0.0, L""}, 0},
        {L"Progress= 0.25", true, {IST_CODE_PROGRESS, 0.25, L""}, 0}, // %lf skips blanks after the key
        {L"Progress=", true, {IST_CODE_PROGRESS, 0.0, L""}, 0},
        {L" Progress=0.5", false, {}, 0}, // a leading blank: no key matches
        {L"progress=0.5", false, {}, 0},  // keys are case-sensitive
        {L"InstPath=D:\\Apps\\Tunivox", true, {IST_CODE_INST_PATH, 0.0, L"D:\\Apps\\Tunivox"}, 0},
        {L"State=Success", true, {IST_CODE_SUCCESS, 0.0, L""}, kResultSuccess},
        {L"State=Fail", true, {IST_CODE_FAIL, 0.0, L"安装包安装失败"}, kResultFailure},
        {L"State=success", false, {}, 0},
        {L"State=Success ", false, {}, 0},
        {L"State=Running", false, {}, 0},
        {L"InstallVersion=1.2.3", false, {}, 0},
        {L"ExePath=C:\\P\\a.exe", true, {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"}, 0},
        {L"StartExe=C:\\P\\a.exe", true, {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"}, 0},
        {L"UninstExePath=C:\\P\\un.exe", true, {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\un.exe"}, 0},
        {L"UninstExe=C:\\P\\un.exe", true, {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\un.exe"}, 0},
        {L"UninstEp=\"C:\\P\\un.exe\" /S", true, {IST_CODE_UNINST_EP, 0.0, L"\"C:\\P\\un.exe\" /S"}, 0},
        {L"Error=disk full", true, {IST_CODE_FAIL, 1000.0, L"disk full"}, kResultFailure},
        {L"Error=", true, {IST_CODE_FAIL, 1000.0, L""}, kResultFailure},
        {L"TopShowDetention=-1", true, {IST_CODE_TOP_SHOW_DETENTION, 4294967295.0, L""}, 0},
        {L"TopShowDetention=3000", true, {IST_CODE_TOP_SHOW_DETENTION, 3000.0, L""}, 0},
        {L"TopShowDetention=x", true, {IST_CODE_TOP_SHOW_DETENTION, 0.0, L""}, 0},
        {L"FinsihCloseDetention=5000", true, {IST_CODE_FINISH_CLOSE_DETENTION, 5000.0, L""}, 0},
        {L"FinishCloseDetention=5000", false, {}, 0}, // the wire spelling is "Finsih"
        {L"StartUrl=https://example.com/?a=b", true, {IST_CODE_START_URL, 0.0, L"https://example.com/?a=b"}, 0},
        {L"StartupStyle=NonStartup", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"StartupStyle=AutoStartup", true, {IST_CODE_STARTUP_STYLE, 1.0, L""}, 0},
        {L"StartupStyle=UserStartup", true, {IST_CODE_STARTUP_STYLE, 2.0, L""}, 0},
        {L"StartupStyle=autostartup", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"StartupStyle=Other", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"Message=安装完成", true, {IST_CODE_MESSAGE, 0.0, L"安装完成"}, 0},
        {L"Encode=UTF8", false, {}, 0},
        {L"Hello=world", false, {}, 0},
        {L"", false, {}, 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        LineOutcome out = ParsePackageLine(c.line);
        ASSERT_EQ(out.report.has_value(), c.reports);
        if (c.reports) {
            EXPECT_EQ(out.report->code, c.report.code);
            EXPECT_DOUBLE_EQ(out.report->value, c.report.value);
            EXPECT_EQ(out.report->message, c.report.message);
        }
        EXPECT_EQ(out.result, c.result);
    }
}

TEST(ConsoleProtocol, PackageValuesAreCutAt771Characters) {
    std::wstring longText(800, L'x');
    LineOutcome out = ParsePackageLine(L"Message=" + longText);
    ASSERT_TRUE(out.report);
    EXPECT_EQ(out.report->message, std::wstring(771, L'x'));
}

TEST(ConsoleProtocol, EncodeValuesGiveTheCodePageAskedFor) {
    const std::pair<const wchar_t*, long> cases[] = {
        {L"Encode=UTF8", 65001},
        {L"Encode=ACP", 0},
        {L"Encode=936", 936},
        {L"Encode=x", 0},
        {L"Encode=", 0},
        {L"Encode= 1252", 1252},
        {L"Encode=+950", 950},
        {L"Encode=-5", -5},
        {L"Encode=65001abc", 65001},
        {L"Encode=utf8", 0},
        {L"Encode=99999999999", 2147483647L},
    };
    for (auto [line, page] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(line)));
        LineOutcome out = ParsePackageLine(line);
        ASSERT_TRUE(out.codePage.has_value());
        EXPECT_EQ(*out.codePage, page);
        EXPECT_FALSE(out.report);
    }
}

TEST(ConsoleProtocol, UninstallerKnowsOnlyItsFourKeys) {
    const LineCase cases[] = {
        {L"Progress=0.5", true, {UNI_CODE_PROGRESS, 0.5, L""}, 0},
        {L"Progress=abc", true, {UNI_CODE_PROGRESS, 0.0, L""}, 0},
        {L"Error=x", true, {UNI_CODE_FAIL, 0.0, L"x"}, kResultFailure},
        {L"State=Success", true, {UNI_CODE_SUCCESS, 0.0, L""}, kResultSuccess},
        {L"State=Fail", true, {UNI_CODE_FAIL, 0.0, L"安装包卸载失败"}, kResultFailure},
        {L"State=Other", false, {}, 0},
        {L"InstPath=C:\\x", false, {}, 0},
        {L"ExePath=C:\\x\\a.exe", false, {}, 0},
        {L"Message=hello", false, {}, 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        LineOutcome out = ParseUninstallerLine(c.line);
        ASSERT_EQ(out.report.has_value(), c.reports);
        if (c.reports) {
            EXPECT_EQ(*out.report, c.report);
        }
        EXPECT_EQ(out.result, c.result);
    }
    const std::pair<const wchar_t*, long> encodes[] = {{L"Encode=UTF8", 65001}, {L"Encode=936", 0}, {L"Encode=ACP", 0}};
    for (auto [line, page] : encodes) {
        LineOutcome out = ParseUninstallerLine(line);
        ASSERT_TRUE(out.codePage);
        EXPECT_EQ(*out.codePage, page) << testing::PrintToString(std::wstring(line));
    }
}

TEST(ConsoleProtocol, NumberReadersFollowTheScanfConversions) {
    const std::pair<const wchar_t*, double> doubles[] = {
        {L"0.5", 0.5}, {L"  1", 1.0}, {L"1e-1x", 0.1}, {L"-0.25", -0.25}, {L"abc", 0.0}, {L"", 0.0}, {L".5", 0.5}};
    for (auto [text, value] : doubles) {
        EXPECT_DOUBLE_EQ(ReadDouble(text), value) << testing::PrintToString(std::wstring(text));
    }
    const std::pair<const wchar_t*, int> ints[] = {
        {L"42", 42},        {L" -7", -7}, {L"+3x", 3}, {L"x", 0}, {L"", 0}, {L"-1", -1}, {L"2147483647", 2147483647},
        {L"4294967295", -1}};
    for (auto [text, value] : ints) {
        EXPECT_EQ(ReadInt(text), value) << testing::PrintToString(std::wstring(text));
    }
}

TEST(ConsoleProtocol, SplitLinesRemovesOneCarriageReturnPerLine) {
    // Fault caught: "State=Fail\r" not matching "Fail", so a CRLF package's failure would end as a success.
    const std::pair<const wchar_t*, std::vector<std::wstring>> cases[] = {
        {L"State=Fail\r\n", {L"State=Fail"}},
        {L"a\r\nb\r\n", {L"a", L"b"}},
        {L"a\nb", {L"a", L"b"}},
        {L"a\r\r\n", {L"a\r"}},
        {L"\r\n", {L""}},
        {L"a\rb\n", {L"a\rb"}},
        {L"", {}},
        {L"tail only", {L"tail only"}},
    };
    for (const auto& [text, lines] : cases) {
        EXPECT_EQ(SplitLines(text), lines) << testing::PrintToString(std::wstring(text));
    }
    LineOutcome fail = ParsePackageLine(SplitLines(L"State=Fail\r\n").at(0));
    EXPECT_EQ(fail.result, kResultFailure);
}

TEST(ConsoleProtocol, LineSplitterJoinsLinesThatReadsCut) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<std::vector<std::string>> linesPerRead;
        std::optional<std::string> tail;
    };
    const Case cases[] = {
        {"whole lines", {"a\nb\n"}, {{"a", "b"}}, std::nullopt},
        {"State=Fa + il", {"State=Fa", "il\n"}, {{}, {"State=Fail"}}, std::nullopt},
        {"CRLF cut between CR and LF", {"State=Fail\r", "\nX"}, {{}, {"State=Fail\r"}}, "X"},
        {"tail at the end", {"a\nState=Fail"}, {{"a"}}, "State=Fail"},
        {"three pieces", {"Pro", "gress", "=0.5\nMe"}, {{}, {}, {"Progress=0.5"}}, "Me"},
        {"bytes after a zero are not output", {std::string("ab\0cd\n", 6), "ef\n"}, {{}, {"abef"}}, std::nullopt},
        {"empty reads", {"", "a", "", "\n"}, {{}, {}, {}, {"a"}}, std::nullopt},
        {"empty lines", {"\n\n"}, {{"", ""}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineSplitter splitter;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            EXPECT_EQ(splitter.Feed(c.reads[i]), c.linesPerRead[i]) << "read " << i;
        }
        EXPECT_EQ(splitter.Finish(), c.tail);
        EXPECT_EQ(splitter.Finish(), std::nullopt) << "the tail is handed out once";
    }
}

TEST(ConsoleProtocol, MultiByteCharactersCutAtEveryByteAreJoined) {
    // "Message=安装\n" in UTF-8 and in GBK (code page 936), cut into two reads at every position: the line comes
    // out whole, so decoding it gives the characters and not two broken halves.
    const std::string utf8 = "Message=\xE5\xAE\x89\xE8\xA3\x85\n";
    const std::string gbk = "Message=\xB0\xB2\xD7\xB0\n";
    for (const std::string& whole : {utf8, gbk}) {
        for (size_t cut = 1; cut < whole.size(); ++cut) {
            LineSplitter splitter;
            std::vector<std::string> first = splitter.Feed(whole.substr(0, cut));
            std::vector<std::string> second = splitter.Feed(whole.substr(cut));
            EXPECT_TRUE(first.empty()) << cut;
            ASSERT_EQ(second.size(), 1u) << cut;
            EXPECT_EQ(second[0] + "\n", whole) << cut;
        }
    }
}

TEST(ConsoleProtocol, AnOverlongLineIsCutNotHeld) {
    LineSplitter splitter;
    std::string chatter(1 << 20, 'x');
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(splitter.Feed(chatter).empty());
    }
    std::vector<std::string> lines = splitter.Feed("\nState=Fail\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), kMaxLineBytes);
    EXPECT_EQ(lines[1], "State=Fail");
}
