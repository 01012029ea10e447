#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cwctype>
#include <regex>

#include "records/Records.h"
#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"

using TestSupport::TempDir;

namespace {

void ClearRecord() {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, Records::kRegistryKey);
}

// Stores a value the way another writer might: with or without its terminating null.
void PutValue(const wchar_t* name, const std::wstring& value, bool withNull) {
    Utils::UniqueHKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Records::kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    DWORD bytes = static_cast<DWORD>((value.size() + (withNull ? 1 : 0)) * sizeof(wchar_t));
    ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes),
              ERROR_SUCCESS);
}

// `view`: KEY_WOW64_64KEY or KEY_WOW64_32KEY reads that registry view explicitly.
std::wstring RawValue(const wchar_t* name, DWORD* bytesOut = nullptr, REGSAM view = 0) {
    Utils::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Records::kRegistryKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    wchar_t buffer[600] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS) {
        return L"<no value>";
    }
    if (bytesOut != nullptr) {
        *bytesOut = bytes;
    }
    return buffer;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    wchar_t buffer[300] = {};
    ::GetPrivateProfileStringW(section, key, L"<missing>", buffer, 300, file.c_str());
    return buffer;
}

// Started by the shell as a copy of this executable: leaves a file behind to show it ran.
TestSupport::RegisterChild touch(L"touch", [](const std::vector<std::wstring>&) {
    wchar_t path[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TUNIVOX_TOUCH", path, MAX_PATH);
    TestSupport::WriteBytes(path, "ran");
    return 0;
});

class EnvOverride {
public:
    EnvOverride(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[1024];
        DWORD n = ::GetEnvironmentVariableW(name, old, 1024);
        had_ = n > 0 && n < 1024;
        if (had_) {
            old_ = old;
        }
        ::SetEnvironmentVariableW(name, value);
    }
    ~EnvOverride() { ::SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring old_;
};

} // namespace

TEST(Registry, ReadsValuesWithOrWithoutTerminatorAndLeavesOutputOnFailure) {
    ClearRecord();
    std::wstring out = L"keep";
    EXPECT_FALSE(Records::ReadRegistryString(L"InstallPath", out)) << "no key";
    EXPECT_EQ(out, L"keep");
    PutValue(L"InstallPath", L"C:\\无终止符", false);
    PutValue(L"UnInstallEp", L"C:\\x\\uninst.ep", true);
    EXPECT_TRUE(Records::ReadRegistryString(L"InstallPath", out));
    EXPECT_EQ(out, L"C:\\无终止符");
    EXPECT_TRUE(Records::ReadRegistryString(L"UnInstallEp", out));
    EXPECT_EQ(out, L"C:\\x\\uninst.ep");
    out = L"keep";
    EXPECT_FALSE(Records::ReadRegistryString(L"Missing", out));
    EXPECT_EQ(out, L"keep");
    PutValue(L"Empty", L"", false);
    EXPECT_TRUE(Records::ReadRegistryString(L"Empty", out));
    EXPECT_EQ(out, L"");
    ClearRecord();
}

TEST(Registry, InstallRecordDerivesTheMarkerFromTheFolder) {
    ClearRecord();
    auto none = Records::ReadInstallRecord();
    EXPECT_EQ(none.installPath, L"");
    EXPECT_EQ(none.uninstallerPath, L"") << "first run: nothing recorded, nothing derived";
    PutValue(L"InstallPath", L"D:\\Apps\\Tunivox", false);
    auto folderOnly = Records::ReadInstallRecord();
    EXPECT_EQ(folderOnly.uninstallerPath, L"D:\\Apps\\Tunivox\\uninst.ep");
    PutValue(L"UnInstallEp", L"D:\\Other\\u.ep", false);
    EXPECT_EQ(Records::ReadInstallRecord().uninstallerPath, L"D:\\Other\\u.ep");
    ClearRecord();
}

TEST(Registry, WriteRecordsTheMarkerOnlyWhenItExists) {
    ClearRecord();
    TempDir dir;
    PutValue(L"UnInstallEp", L"C:\\earlier\\uninst.ep", false);
    std::wstring reported; // the package reported no UninstEp and made no marker
    Records::WriteInstallRecord(dir.path(), reported);
    EXPECT_EQ(RawValue(L"InstallPath"), dir.path());
    // Written by this 32-bit process, read by 64-bit programs (the product, a 64-bit successor): the key must not
    // be redirected into a 32-bit view.
    EXPECT_EQ(RawValue(L"InstallPath", nullptr, KEY_WOW64_64KEY), dir.path());
    EXPECT_EQ(RawValue(L"InstallPath", nullptr, KEY_WOW64_32KEY), dir.path());
    EXPECT_EQ(reported, dir / L"uninst.ep");
    EXPECT_EQ(RawValue(L"UnInstallEp"), L"<no value>")
        << "the earlier installation's uninstaller does not outlive it in a record of this one";

    ASSERT_TRUE(TestSupport::WriteBytes(dir / L"uninst.ep", "x"));
    std::wstring derived;
    Records::WriteInstallRecord(dir.path(), derived);
    EXPECT_EQ(RawValue(L"UnInstallEp"), dir / L"uninst.ep");

    ASSERT_TRUE(TestSupport::WriteBytes(dir / L"remove.exe", "x"));
    std::wstring explicitMarker = dir / L"remove.exe";
    Records::WriteInstallRecord(dir.path(), explicitMarker);
    EXPECT_EQ(RawValue(L"UnInstallEp"), dir / L"remove.exe");
    ClearRecord();
}

TEST(SetIni, WritesIdentityTrackerPathAndTrackerTime) {
    TempDir dir, appData;
    EnvOverride env(L"APPDATA", appData.path().c_str());
    Records::WriteSetIni(dir.path());
    std::wstring ini = dir / L"set.ini";
    EXPECT_EQ(IniValue(ini, L"Install", L"APPStore"), L"records_tests.exe");
    EXPECT_EQ(IniValue(ini, L"Install", L"AppName"), L"Tunivox");
    std::wstring id = IniValue(ini, L"Install", L"DeviceID");
    EXPECT_EQ(id.size(), 32u);
    std::wstring tracker = appData.path() + L"\\PellData\\Tunivox\\VetraTracker.ini";
    EXPECT_EQ(IniValue(ini, L"Install", L"PellSoftTrackerIni"), tracker);
    std::wstring time = IniValue(tracker, L"Init", L"UpdateTime");
    EXPECT_TRUE(std::regex_match(time, std::wregex(LR"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")))
        << TestSupport::Utf8(time);

    Records::WriteSetIni(dir.path());
    EXPECT_NE(IniValue(ini, L"Install", L"DeviceID"), id) << "every write makes a new device id";
}

TEST(SetIni, WithoutAppDataTheTrackerGoesToTheCommonDocuments) {
    TempDir dir;
    EnvOverride env(L"APPDATA", nullptr);
    std::wstring folder = Records::TrackerFolder();
    wchar_t documents[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, documents, CSIDL_COMMON_DOCUMENTS, FALSE));
    EXPECT_EQ(folder, std::wstring(documents) + L"\\PellData\\Tunivox");
    Records::WriteSetIni(dir.path());
    EXPECT_EQ(IniValue(dir / L"set.ini", L"Install", L"PellSoftTrackerIni"), folder + L"\\VetraTracker.ini");
    EXPECT_TRUE(TestSupport::FileExists(folder + L"\\VetraTracker.ini"));
}

TEST(SetIni, UnwritableTrackerFolderLeavesOutTheTrackerKey) {
    TempDir dir, appData;
    // A file where the PellData folder should be: the folder chain cannot be created.
    ASSERT_TRUE(TestSupport::WriteBytes(appData / L"PellData", "file"));
    EnvOverride env(L"APPDATA", appData.path().c_str());
    Records::WriteSetIni(dir.path());
    EXPECT_EQ(IniValue(dir / L"set.ini", L"Install", L"AppName"), L"Tunivox");
    EXPECT_EQ(IniValue(dir / L"set.ini", L"Install", L"PellSoftTrackerIni"), L"<missing>");
}

// The inis are written by name: one reached through a directory link or carrying a second name is not written,
// nothing lands where the link leads, the log says which, and the write counts as failed.
TEST(SetIni, NeverWrittenThroughALink) {
    enum class Plant { nothing, linkedInstallFolder, setIniSecondName, linkedTrackerFolder, trackerSecondName };
    const struct {
        const char* name;
        Plant plant;
        const wchar_t* logged; // the file the log names as not written; null: both written
    } cases[] = {
        {"nothing planted", Plant::nothing, nullptr},
        {"the install folder is a directory link", Plant::linkedInstallFolder, L"set.ini"},
        {"set.ini is a second name of another file", Plant::setIniSecondName, L"set.ini"},
        {"the tracker's folder is a directory link", Plant::linkedTrackerFolder, L"VetraTracker.ini"},
        {"the tracker ini is a second name of another file", Plant::trackerSecondName, L"VetraTracker.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir, appData, elsewhere;
        const std::wstring victim = elsewhere / L"victim.ini";
        ASSERT_TRUE(TestSupport::WriteBytes(victim, "victim"));
        std::wstring installDir = dir / L"Tunivox";
        ASSERT_TRUE(::CreateDirectoryW(installDir.c_str(), nullptr));
        const std::wstring trackerFolder = appData / L"PellData\\Tunivox";
        switch (c.plant) {
        case Plant::nothing:
            break;
        case Plant::linkedInstallFolder:
            installDir = dir / L"linked";
            ASSERT_TRUE(TestSupport::HostSymlink(elsewhere.path(), installDir));
            break;
        case Plant::setIniSecondName:
            ASSERT_TRUE(::CreateHardLinkW((installDir + L"\\set.ini").c_str(), victim.c_str(), nullptr));
            break;
        case Plant::linkedTrackerFolder:
            ASSERT_TRUE(::CreateDirectoryW((appData / L"PellData").c_str(), nullptr));
            ASSERT_TRUE(TestSupport::HostSymlink(elsewhere.path(), trackerFolder));
            break;
        case Plant::trackerSecondName:
            ASSERT_TRUE(::CreateDirectoryW((appData / L"PellData").c_str(), nullptr));
            ASSERT_TRUE(::CreateDirectoryW(trackerFolder.c_str(), nullptr));
            ASSERT_TRUE(::CreateHardLinkW((trackerFolder + L"\\VetraTracker.ini").c_str(), victim.c_str(), nullptr));
            break;
        }
        EnvOverride env(L"APPDATA", appData.path().c_str());
        TestSupport::LogCapture capture;
        EXPECT_EQ(Records::WriteSetIni(installDir), c.logged == nullptr);
        EXPECT_EQ(TestSupport::ReadBytes(victim), "victim") << "written through the link";
        for (const wchar_t* name : {L"set.ini", L"VetraTracker.ini"}) {
            EXPECT_FALSE(TestSupport::FileExists(elsewhere / name)) << "made through the link";
        }
        bool logged = false;
        for (const std::wstring& line : capture.Lines()) {
            logged = logged || (c.logged != nullptr &&
                                line.find(std::wstring(c.logged) + L" not written: ") != std::wstring::npos);
        }
        EXPECT_EQ(logged, c.logged != nullptr);
    }
}

TEST(UpdateTime, IsPaddedExceptTheYear) {
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = 0;
    t.wMinute = 54;
    t.wSecond = 8;
    EXPECT_EQ(Records::FormatUpdateTime(t), L"2026-12-08 00:54:08");
    t.wYear = 987;
    t.wMonth = 1;
    EXPECT_EQ(Records::FormatUpdateTime(t), L"987-01-08 00:54:08");
}

// The product is never started by the installer itself (it would inherit the installer's elevated token): only the
// desktop shell starts it, and without one nothing starts and the log says why. (Wine has no elevation: the path
// taken is what can be shown. Wine starts its explorer on demand as a child of the asking process, with that
// process's environment, so the copy of this test program may well touch the marker through the shell.)
TEST(Launch, ProductStartsOnlyThroughTheDesktopShell) {
    TempDir dir;
    std::wstring product = dir / L"Tunivox.exe";
    ASSERT_TRUE(::CopyFileW(TestSupport::ExePath().c_str(), product.c_str(), FALSE));
    std::wstring marker = dir / L"ran.txt";
    EnvOverride mode(L"TUNIVOX_CHILD_MODE", L"touch");
    EnvOverride where(L"TUNIVOX_TOUCH", marker.c_str());
    Utils::ComInit com(COINIT_APARTMENTTHREADED);
    TestSupport::LogCapture log;
    Records::LaunchProduct(nullptr, L"", product);
    ::Sleep(2000);
    const std::wstring started = L"product started through the desktop shell (un-elevated)";
    bool viaShell = false;
    bool refused = false;
    for (const std::wstring& line : log.Lines()) {
        viaShell = viaShell || line.find(started) != std::wstring::npos;
        refused = refused || line.find(L"product not started: ") != std::wstring::npos;
        EXPECT_EQ(line.find(L"start page"), std::wstring::npos) << "no start page to open";
    }
    EXPECT_TRUE(viaShell || refused) << "the log says how the product was started, or why not";
    if (refused) {
        EXPECT_FALSE(TestSupport::FileExists(marker)) << "started although the shell refused";
    }
}
