#include <gtest/gtest.h>

#include <cwctype>
#include <set>

#include "tests/support/TestSupport.h"
#include "utils/Probes.h"
#include "utils/ScopedWin.h"
#include "utils/Thread.h"

using TestSupport::LogCapture;

TEST(DeviceId, Is32HexDigitsWithLowerCaseOnlyInTheThirdGroup) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 200; ++i) {
        std::wstring id = Utils::CreateDeviceId();
        ASSERT_EQ(id.size(), 32u) << TestSupport::Utf8(id);
        for (size_t k = 0; k < id.size(); ++k) {
            wchar_t c = id[k];
            ASSERT_TRUE(std::iswxdigit(c)) << TestSupport::Utf8(id);
            if (k < 12 || k >= 16) {
                EXPECT_FALSE(c >= L'a' && c <= L'f')
                    << "upper case outside characters 13-16: " << TestSupport::Utf8(id);
            } else {
                EXPECT_FALSE(c >= L'A' && c <= L'F') << "lower case in characters 13-16: " << TestSupport::Utf8(id);
            }
        }
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u) << "every call makes a new identifier";
}

TEST(FreeSpace, MissingDriveFailsAndLogsTheSystemCode) {
    LogCapture capture;
    Utils::HardDiskManager disk;
    // Pick a drive letter that the prefix does not map.
    wchar_t root[] = L"B:\\folder";
    for (wchar_t d = L'Z'; d > L'D'; --d) {
        wchar_t probe[] = {d, L':', L'\\', 0};
        if (::GetDriveTypeW(probe) == DRIVE_NO_ROOT_DIR) {
            root[0] = d;
            break;
        }
    }
    EXPECT_FALSE(disk.CheckFreeSpace(root));
    DWORD code = ::GetLastError();
    EXPECT_NE(code, 0u);
    EXPECT_EQ(disk.freeBytesAvailable, 0u);
    EXPECT_EQ(disk.totalBytes, 0u);
    auto lines = capture.LinesOf(L"Utils::HardDiskManager::CheckFreeSpace");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(LogCapture::Message(lines[0]),
              L"HardDiskManager::CheckFreeSpace FAIL code=" + std::to_wstring(code) + L"\r\n");
}

TEST(FreeSpace, ExistingFolderFillsTheCounts) {
    LogCapture capture;
    TestSupport::TempDir dir;
    Utils::HardDiskManager disk;
    ASSERT_TRUE(disk.CheckFreeSpace(dir.path().c_str()));
    EXPECT_GT(disk.totalBytes, 0u);
    EXPECT_LE(disk.freeBytesAvailable, disk.totalBytes);
    EXPECT_LE(disk.totalFreeBytes, disk.totalBytes);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(Network, ResultCombinesFlagsWithTheTwoMarkers) {
    struct Case {
        int connectivity;
        bool internet;
        int expected;
    } cases[] = {
        {0, false, 0x10000},      {0, true, 0x10000},
        {0x0040, true, 0x0040},   {0x0004 | 0x0008 | 0x0020, false, 0x20000 | 0x002C},
        {0x0001, false, 0x20001},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utils::CombineNetworkResult(c.connectivity, c.internet), c.expected) << c.connectivity;
    }
}

TEST(Network, ThreadWithoutComReadsAsNoProblem) {
    int result = -1;
    {
        // A fresh thread has not initialised COM, so the manager cannot be created.
        Utils::Thread thread(&result, L"net", [](void* arg) -> unsigned long {
            *static_cast<int*>(arg) = Utils::CheckNetwork();
            return 0;
        });
        EXPECT_TRUE(thread.Resume());
    }
    EXPECT_EQ(result, 0);
}

TEST(Network, LogsExactlyWhenAProblemIsFound) {
    Utils::ComInit com(COINIT_MULTITHREADED);
    LogCapture capture;
    int result = Utils::CheckNetwork();
    auto lines = capture.LinesOf(L"Utils::CheckNetwork");
    if (result == Utils::NET_NOT_CONNECTED) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LogCapture::Message(lines[0]), L"GetConnectivity 0");
    } else if (result & Utils::NET_NO_INTERNET) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LogCapture::Message(lines[0]), L"get_IsConnectedToInternet:0");
        EXPECT_NE(result & 0xFFFF, 0);
    } else {
        EXPECT_TRUE(lines.empty());
    }
    RecordProperty("network", result);
}
