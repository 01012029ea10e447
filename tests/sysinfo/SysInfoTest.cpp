#include <gtest/gtest.h>

#include <windows.h>

#include "sysinfo/Accounts.h"
#include "sysinfo/WindowsVersion.h"
#include "tests/support/TestSupport.h"

using SysInfo::VersionRecord;

TEST(WindowsVersion, RuntimeStage) {
    struct Case {
        unsigned major, minor, build;
        std::optional<std::wstring> name;
    } cases[] = {
        {6, 3, 9600, L"8.1"},          {10, 0, 22631, L"10"},      {10, 0, 19045, L"10"},
        {11, 0, 22000, L"11.0.22000"}, {12, 3, 1, L"12.3.1"},      {6, 1, 7601, std::nullopt},
        {6, 2, 9200, std::nullopt},    {5, 1, 2600, std::nullopt}, {10, 1, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SysInfo::VersionNameFromRuntime(c.major, c.minor, c.build), c.name) << c.major << "." << c.minor;
    }
}

TEST(WindowsVersion, RecordStageTable) {
    constexpr unsigned WS = VER_NT_WORKSTATION, SRV = VER_NT_SERVER, NT = VER_PLATFORM_WIN32_NT;
    constexpr unsigned AMD64 = PROCESSOR_ARCHITECTURE_AMD64, X86 = PROCESSOR_ARCHITECTURE_INTEL;
    struct Case {
        VersionRecord r;
        const wchar_t* name;
    } cases[] = {
        {{4, 0, 1381, NT, WS, X86, 0}, L"NT4.0"},
        {{4, 0, 950, VER_PLATFORM_WIN32_WINDOWS, WS, X86, 0}, L"95"},
        {{4, 0, 7, 0, WS, X86, 0}, L"4.0.7"},
        {{4, 10, 1998, 1, WS, X86, 0}, L"98"},
        {{4, 90, 3000, 1, WS, X86, 0}, L"WinMe"},
        {{5, 0, 2195, NT, WS, X86, 0}, L"2K"},
        {{5, 1, 2600, NT, WS, X86, 0}, L"XP"},
        {{5, 2, 3790, NT, WS, AMD64, 0}, L"XP64"},
        {{5, 2, 3790, NT, WS, X86, 1}, L"Server 2003 R2"},
        {{5, 2, 3790, NT, SRV, AMD64, 1}, L"Server 2003 R2"},
        {{5, 2, 3790, NT, SRV, AMD64, 0}, L"Server 2003"},
        {{6, 0, 6002, NT, WS, AMD64, 0}, L"Vista"},
        {{6, 0, 6002, NT, VER_NT_DOMAIN_CONTROLLER, AMD64, 0}, L"Server 2008"},
        {{6, 1, 7601, NT, WS, AMD64, 0}, L"7"},
        {{6, 1, 7601, NT, SRV, AMD64, 0}, L"Server 2008 R2"},
        {{6, 2, 9200, NT, WS, AMD64, 0}, L"8"},
        {{6, 2, 9200, NT, SRV, AMD64, 0}, L"Server 2012"},
        {{6, 3, 9600, NT, WS, AMD64, 0}, L"6.3.9600"},
        {{10, 0, 4294967295u, NT, WS, AMD64, 0}, L"10.0.4294967295"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SysInfo::VersionNameFromRecord(c.r), c.name) << TestSupport::Utf8(c.name);
    }
    EXPECT_EQ(SysInfo::VersionNameFromRecord(std::nullopt), L"Unknown Version");
}

TEST(WindowsVersion, TheTestPrefixReportsWindows7OnA64BitMachine) {
    // A new Wine prefix reports 6.1, which the runtime stage leaves to the record stage.
    EXPECT_EQ(GetWindowsVersionName(), L"7");
    // The prefix is 64-bit: the record stage must see AMD64 even from this 32-bit process, which WoW64 shows an
    // INTEL machine (that is what would hide "XP64").
    EXPECT_EQ(SysInfo::NativeProcessorArchitecture(), static_cast<unsigned>(PROCESSOR_ARCHITECTURE_AMD64));
    SYSTEM_INFO emulated{};
    ::GetSystemInfo(&emulated);
    EXPECT_EQ(emulated.wProcessorArchitecture,
              sizeof(void*) == 4 ? PROCESSOR_ARCHITECTURE_INTEL : PROCESSOR_ARCHITECTURE_AMD64);
}

TEST(Accounts, UnknownOrEmptyAccountsAreNotAdministrators) {
    EXPECT_FALSE(IsUserAdmin(L""));
    EXPECT_FALSE(IsUserAdmin(L"no_such_account_7f3a"));
}

TEST(Accounts, ConsoleUserIsTheUserTheTestsRunAsAndTheProcessIsElevated) {
    std::wstring name = L"unchanged";
    if (GetConsoleUserName(name)) {
        wchar_t user[256];
        DWORD size = 256;
        ASSERT_TRUE(::GetUserNameW(user, &size));
        EXPECT_EQ(name, user);
    } else {
        EXPECT_EQ(name, L"unchanged") << "a failed query leaves the output alone";
    }
    // Wine runs every program as an administrator.
    EXPECT_TRUE(IsProcessAdmin());
}
