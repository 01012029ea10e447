#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "tests/support/TestSupport.h"
#include "ui/MainWndLogic.h"

using namespace MainWndLogic;

TEST(MainWndLogic, ProgressShares) {
    struct Case {
        double fraction, scale;
        int download, install;
    } cases[] = {
        {0.5, 0.7, 35, 85},
        {0.0, 0.7, 0, 70},
        {1.0, 0.7, 70, 100},
        {0.999, 0.7, 69, 99},
        {0.5, 0.0, 0, 50},
        {0.5, 1.0, 50, 100},
        {0.3, 0.5, 15, 65},
        {1.0, 0.0, 0, 100},
        // Whatever a downloader or a package reports, the label never passes 100 nor goes below 0.
        {1.5, 0.7, 100, 100},
        {40.0, 1.0, 100, 100},
        {-0.5, 0.5, 0, 25},
        {-3.0, 0.7, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DownloadPercent(c.fraction, c.scale), c.download) << c.fraction << " " << c.scale;
        EXPECT_EQ(InstallPercent(c.fraction, c.scale), c.install) << c.fraction << " " << c.scale;
    }
    EXPECT_EQ(DownloadPercent(std::nan(""), 0.7), 0);
    EXPECT_EQ(InstallPercent(0.5, std::numeric_limits<double>::infinity()), 0);
}

TEST(MainWndLogic, OnlyFullFoldersAreUsable) {
    struct {
        const wchar_t* folder;
        bool usable;
    } cases[] = {
        {L"C:\\Program Files\\Tunivox", true},
        {L"d:/apps", true},
        {L"Q:\\", true},
        {L"\\\\server\\share\\Tunivox", true},
        {L"", false},
        {L"Tunivox", false},
        {L"apps\\Tunivox", false},
        {L"C:Tunivox", false},
        {L"C:", false},
        {L"\\Tunivox", false},
        {L"\\\\\\x", false},
        {L"1:\\x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAbsoluteFolder(c.folder), c.usable) << TestSupport::Utf8(c.folder);
    }
}

TEST(MainWndLogic, NetworkAndSpaceRules) {
    struct {
        int result;
        bool poor;
    } net[] = {{0, false}, {0x40, false}, {0xFFFF, false}, {0x10000, true}, {0x20000 | 0x2C, true}, {-1, true}};
    for (auto& c : net) {
        EXPECT_EQ(IsNetworkPoor(c.result), c.poor) << c.result;
    }
    constexpr uint64_t GiB = 1ull << 30;
    struct {
        uint64_t free;
        bool enough;
    } space[] = {{0, false},           {GiB, false},    {GiB + GiB / 2, false},
                 {2 * GiB - 1, false}, {2 * GiB, true}, {500 * GiB, true}};
    for (auto& c : space) {
        EXPECT_EQ(HasEnoughFreeSpace(c.free), c.enough) << c.free;
    }
}

TEST(MainWndLogic, ProgressLabelFromTemplate) {
    EXPECT_EQ(FormatProgressLabel(L"", 35), L"正在安装:35%");
    EXPECT_EQ(FormatProgressLabel(L"下载 %d%% 完成", 7), L"下载 7% 完成");
    EXPECT_EQ(FormatProgressLabel(L"bad %s", 7), L"正在安装:7%") << "a template that reads a string is not used";
    EXPECT_EQ(FormatProgressLabel(L"two %d %d", 7), L"正在安装:7%");
    EXPECT_EQ(FormatProgressLabel(L"no number", 7), L"正在安装:7%");
}

TEST(MainWndLogic, DriveAndDelays) {
    EXPECT_EQ(DriveOf(L"C:\\Program Files (x86)\\Tunivox"), L"C:");
    EXPECT_EQ(DriveOf(L"q:\\x"), L"q:");
    EXPECT_EQ(DriveOf(L"\\\\server\\share\\x"), L"");
    EXPECT_EQ(DriveOf(L"relative\\x"), L"");
    EXPECT_EQ(DelayFromValue(3000.0), 3000u);
    EXPECT_EQ(DelayFromValue(4294967295.0), 0xFFFFFFFFu);
    EXPECT_EQ(DelayFromValue(0.0), 0u);
    EXPECT_EQ(DelayFromValue(12.9), 12u);
    EXPECT_EQ(DelayFromValue(-5.0), 0xFFFFFFFFu);
    EXPECT_EQ(DelayFromValue(std::nan("")), 0xFFFFFFFFu);
}

// One row per status code: how it ends a run (and the silent exit code), and what the taskbar button shows.
TEST(MainWndLogic, RunEndsExitCodesAndTaskbar) {
    using T = TaskbarProgress;
    struct {
        int code;
        double value;
        std::optional<RunEnd> end;
        int exitCode; // when `end` is set
        T taskbar;
    } cases[] = {
        {1001, 1.0, std::nullopt, 0, {T::Normal, -1}},
        {1002, 0.5, std::nullopt, 0, {T::Normal, 35}},
        {1003, 0.0, std::nullopt, 0, {}},
        {1004, 28.0, RunEnd::DownloadFailed, 4, {T::Error, -1}},
        {2001, 0.0, std::nullopt, 0, {}},
        {2002, 0.5, std::nullopt, 0, {T::Normal, 85}},
        {2003, 0.0, RunEnd::Installed, 0, {T::Cleared, -1}},
        {2004, 2.0, RunEnd::PackageFailed, 6, {T::Error, -1}}, // the package could not be run
        {2004, 0.0, RunEnd::PackageFailed, 6, {T::Error, -1}},
        {2005, 0.0, RunEnd::PackageRefused, 5, {T::Error, -1}},
        {3009, 0.0, std::nullopt, 0, {}},
        {5001, 0.0, std::nullopt, 0, {}}, // the removal after the download: the bar holds
        {5002, 0.5, std::nullopt, 0, {}},
        {5003, 0.0, std::nullopt, 0, {}},
        {5004, 1.0, RunEnd::RemovalFailed, 7, {T::Error, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(RunEndOf(c.code), c.end);
        if (c.end) {
            EXPECT_EQ(ExitCodeOf(*c.end), c.exitCode);
        }
        T t = TaskbarProgressOf(c.code, c.value, 0.7);
        EXPECT_EQ(t.state, c.taskbar.state);
        EXPECT_EQ(t.percent, c.taskbar.percent);
    }
    struct {
        Refusal refusal;
        int exitCode;
        std::wstring text;
    } refusals[] = {
        {Refusal::None, 0, L""},
        {Refusal::InvalidFolder, 1, L"无效路径"},
        {Refusal::NotEnoughSpace, 2, L"当前磁盘剩余空间不足2GB，请修改安装路径"},
        {Refusal::PoorNetwork, 3, L"当前网络环境较差，请在网络通畅时进行安装"},
    };
    for (const auto& r : refusals) {
        EXPECT_EQ(ExitCodeOf(r.refusal), r.exitCode);
        EXPECT_EQ(RefusalText(r.refusal), r.text);
    }
}

// The window and the silent run end a run by this one rule: the first ending event of an attempt decides.
TEST(MainWndLogic, FirstEndingEventOfAnAttemptDecides) {
    struct {
        const char* name;
        std::vector<int> codes; // one attempt's events; 0 begins a new attempt
        std::vector<std::optional<RunEnd>> ends;
    } cases[] = {
        {"failure, then a success of the same read", {2001, 2004, 2003}, {{}, RunEnd::PackageFailed, {}}},
        {"success, then a failure", {2001, 2003, 2004}, {{}, RunEnd::Installed, {}}},
        {"a removal between the download and the package",
         {1001, 1003, 5001, 5002, 5003, 2001, 2003},
         {{}, {}, {}, {}, {}, {}, RunEnd::Installed}},
        {"a failed download, then a new attempt",
         {1001, 1004, 0, 1001, 1003, 2003},
         {{}, RunEnd::DownloadFailed, {}, {}, {}, RunEnd::Installed}},
        {"a refusal ends it before any failure", {2005, 2004}, {RunEnd::PackageRefused, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunEndRule rule;
        rule.Begin();
        std::vector<std::optional<RunEnd>> ends;
        for (int code : c.codes) {
            if (code == 0) {
                rule.Begin();
                ends.push_back(std::nullopt);
                continue;
            }
            bool ignored = rule.Ignores(code);
            ends.push_back(rule.Take(code));
            EXPECT_EQ(ignored, RunEndOf(code).has_value() && !ends.back().has_value()) << code;
        }
        EXPECT_EQ(ends, c.ends);
    }
}

TEST(MainWndLogic, ProgressLinesAtMostOnceASecond) {
    ProgressThrottle throttle;
    // Times in ms; the last two straddle GetTickCount's wrap-around.
    struct {
        uint32_t now;
        bool due;
    } steps[] = {{5000, true}, {5000, false},       {5999, false},        {6000, true},       {6500, false},
                 {9000, true}, {0xFFFFFF00u, true}, {0x000000F0u, false}, {0x00000300u, true}};
    for (const auto& s : steps) {
        EXPECT_EQ(throttle.Due(s.now), s.due) << s.now;
    }
}

TEST(MainWndLogic, FactsThePackageReports) {
    RunFacts facts;
    facts.installPath = L"C:\\chosen";
    struct {
        int code;
        double value;
        const wchar_t* message;
        bool taken;
    } events[] = {
        {3000, 0, L"", true},         // empty: the chosen folder stays
        {3000, 0, L"Tunivox", true},  // relative: likewise
        {3000, 0, L"D:\\real", true}, // a full folder replaces it
        {3001, 0, L"D:\\real\\T.exe", true},
        {3002, 0, L"ignored", false},
        {3003, 0, L"D:\\real\\uninst.ep", true},
        {3004, 0, L"http://start", true},
        {3005, 2.0, L"", true},
        {3007, 0.0, L"", true},
        {3008, 5000.0, L"", true},
        {3009, 0, L"hello", false},
        {2002, 0.5, L"", false},
    };
    for (const auto& e : events) {
        EXPECT_EQ(facts.Take(e.code, e.value, e.message), e.taken) << e.code;
    }
    EXPECT_EQ(facts.installPath, L"D:\\real");
    EXPECT_EQ(facts.startExePath, L"D:\\real\\T.exe");
    EXPECT_EQ(facts.uninstallerPath, L"D:\\real\\uninst.ep");
    EXPECT_EQ(facts.startUrl, L"http://start");
    EXPECT_EQ(facts.startupStyle, StartupStyle::User);
    EXPECT_EQ(facts.topShowDelay, 0u);
    EXPECT_EQ(facts.finishCloseDelay, 5000u);
}
