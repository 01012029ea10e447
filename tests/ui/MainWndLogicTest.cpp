#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
    } space[] = {{0, false}, {GiB, false}, {GiB + GiB / 2, false}, {2 * GiB - 1, false}, {2 * GiB, true},
                 {500 * GiB, true}};
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
