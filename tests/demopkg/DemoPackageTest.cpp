// Runs the real demo package and its uninstaller under Wine, the way the installer does: unquoted program paths
// in folders with blanks, the installer's option order, output read from a pipe.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "utils/TextConv.h"

namespace {

using TestSupport::FileExists;
using TestSupport::TempDir;

const std::wstring kShortcut = L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668.lnk";

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE);
    return path;
}
std::wstring DesktopShortcut() {
    return ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kShortcut;
}
std::wstring QuickLaunchShortcut() {
    return ShellFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\" + kShortcut;
}

// Output lines as the package wrote them; every line must end in CR LF, checked here.
std::vector<std::wstring> Lines(const std::string& output) {
    const std::wstring text = Utils::MultiByteToWide(output, 0);
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        EXPECT_NE(end, std::wstring::npos) << "line without CR LF: " << TestSupport::Utf8(text.substr(start));
        if (end == std::wstring::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<double> Progress(const std::vector<std::wstring>& lines) {
    std::vector<double> values;
    for (const std::wstring& line : lines) {
        if (line.starts_with(L"Progress=")) {
            values.push_back(_wtof(line.c_str() + 9));
        }
    }
    return values;
}

std::vector<std::wstring> Results(const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> results;
    for (const std::wstring& line : lines) {
        if (!line.starts_with(L"Progress=")) {
            results.push_back(line);
        }
    }
    return results;
}

void ExpectRising(const std::vector<double>& progress) {
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.front(), 0.0);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GE(progress[i], progress[i - 1]);
    }
}

// The package stored as the installer stores it, in a folder whose name has blanks.
class DemoPackageRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Under Wine the first process that needs the desktop starts explorer.exe, and that child keeps a copy of
        // the starter's standard handles. Started by the package, it would hold our output pipe open for good;
        // the installer always has its window up before it runs a package, so start the desktop here as well.
        GetDesktopWindow();
    }

    void SetUp() override {
        package = downloads.path() + L"\\__Package_Tunivox.exe";
        ASSERT_TRUE(CopyFileW((TestSupport::ExeFolder() + L"\\DemoPackage.exe").c_str(), package.c_str(), FALSE));
        DeleteFileW(DesktopShortcut().c_str());
        DeleteFileW(QuickLaunchShortcut().c_str());
    }
    void TearDown() override {
        DeleteFileW(DesktopShortcut().c_str());
        DeleteFileW(QuickLaunchShortcut().c_str());
    }

    TestSupport::ProcessResult Install(const std::wstring& folder, bool dsc, bool ssc,
                                       const std::wstring& extra = L"") {
        std::wstring line = package + L" /S -console=show -version=1.0.0 -dsc=" + (dsc ? L"true" : L"false") +
                            L" -ssc=" + (ssc ? L"true" : L"false") + L" -steppause=0";
        if (!extra.empty()) {
            line += L" " + extra;
        }
        line += L" -instdir=\"" + folder + L"\" /D=" + folder;
        return TestSupport::RunCommand(line);
    }

    TempDir downloads{L"pkg dl \u4e0b\u8f7d"};
    TempDir root{L"inst root"};
    std::wstring package;
};

TEST_F(DemoPackageRun, InstallsReportsAndUninstallsForEachShortcutChoice) {
    struct Case {
        bool dsc;
        bool ssc;
    } cases[] = {{true, true}, {false, false}, {true, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dsc);
        SCOPED_TRACE(c.ssc);
        const std::wstring folder = root.path() + L"\\My Apps\\Tunivox";
        const TestSupport::ProcessResult run = Install(folder, c.dsc, c.ssc, L"-channel=demo");
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const std::vector<std::wstring> lines = Lines(run.output);
        ExpectRising(Progress(lines));
        const std::vector<std::wstring> expected = {
            L"InstPath=" + folder,
            L"StartExe=" + folder + L"\\Tunivox.exe",
            L"UninstEp=" + folder + L"\\uninst.ep",
            L"StartupStyle=UserStartup",
            L"State=Success",
        };
        EXPECT_EQ(Results(lines), expected) << run.output;

        // The product and the uninstaller are real programs.
        EXPECT_EQ(TestSupport::ReadBytes(folder + L"\\Tunivox.exe").substr(0, 2), "MZ");
        EXPECT_EQ(TestSupport::ReadBytes(folder + L"\\uninst.ep").substr(0, 2), "MZ");
        EXPECT_EQ(FileExists(DesktopShortcut()), c.dsc);
        EXPECT_EQ(FileExists(QuickLaunchShortcut()), c.ssc);
        if (c.dsc) {
            // A shell link starts with its header size and the link class id.
            EXPECT_EQ(TestSupport::ReadBytes(DesktopShortcut()).substr(0, 4), std::string("\x4c\0\0\0", 4));
        }

        // The installer writes its set.ini beside the product (and may leave a partial download of a newer package
        // there); then it runs a private copy of the uninstaller.
        ASSERT_TRUE(TestSupport::WriteBytes(folder + L"\\set.ini", "[Uninstall]\r\nIsOverride=true\r\n"));
        ASSERT_TRUE(TestSupport::WriteBytes(folder + L"\\__Package_Tunivox.exe.part", "partial"));
        ASSERT_TRUE(TestSupport::WriteBytes(folder + L"\\__Package_Tunivox.exe.part.state", "tunivox-part 1\n"));
        TempDir temp{L"~Kado Temp"};
        const std::wstring copy = temp.path() + L"\\Tunivox_un_asa.exe";
        ASSERT_TRUE(CopyFileW((folder + L"\\uninst.ep").c_str(), copy.c_str(), FALSE));
        const TestSupport::ProcessResult removal = TestSupport::RunCommand(copy + L" /S -console=show _?=" + folder);
        EXPECT_EQ(removal.exitCode, 0u) << removal.output;
        const std::vector<std::wstring> removalLines = Lines(removal.output);
        ExpectRising(Progress(removalLines));
        EXPECT_EQ(Results(removalLines), std::vector<std::wstring>{L"State=Success"}) << removal.output;
        EXPECT_FALSE(FileExists(folder + L"\\Tunivox.exe"));
        EXPECT_FALSE(FileExists(folder + L"\\uninst.ep"));
        EXPECT_FALSE(FileExists(folder + L"\\set.ini"));
        EXPECT_FALSE(FileExists(folder + L"\\__Package_Tunivox.exe.part"));
        EXPECT_FALSE(FileExists(folder + L"\\__Package_Tunivox.exe.part.state"));
        EXPECT_FALSE(FileExists(DesktopShortcut()));
        EXPECT_FALSE(FileExists(QuickLaunchShortcut()));
        EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "folder left behind";
    }
}

TEST_F(DemoPackageRun, ChineseFolderAndFilesTheUserAddedSurviveRemoval) {
    const std::wstring folder = root.path() + L"\\\u8f6f\u4ef6 \u76ee\u5f55\\Tunivox";
    const TestSupport::ProcessResult run = Install(folder, false, false);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    // The package writes the ANSI code page, so the Chinese folder comes back intact under code page 936.
    EXPECT_EQ(Results(Lines(run.output)).front(), L"InstPath=" + folder);
    ASSERT_TRUE(TestSupport::WriteBytes(folder + L"\\my notes.txt", "mine"));

    TempDir temp{L"un copy"};
    const std::wstring copy = temp.path() + L"\\Tunivox_un_asa.exe";
    ASSERT_TRUE(CopyFileW((folder + L"\\uninst.ep").c_str(), copy.c_str(), FALSE));
    const TestSupport::ProcessResult removal = TestSupport::RunCommand(copy + L" /S -console=show _?=" + folder);
    EXPECT_EQ(Results(Lines(removal.output)), std::vector<std::wstring>{L"State=Success"}) << removal.output;
    EXPECT_FALSE(FileExists(folder + L"\\Tunivox.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\my notes.txt")) << "the uninstaller removed a file it did not install";
}

TEST_F(DemoPackageRun, UninstallerRunInPlaceRemovesTheProduct) {
    const std::wstring folder = root.path() + L"\\In Place";
    ASSERT_EQ(Install(folder, true, false).exitCode, 0u);
    const TestSupport::ProcessResult removal =
        TestSupport::RunCommand(folder + L"\\uninst.ep /S -console=show _?=" + folder, 60000, folder + L"\\uninst.ep");
    EXPECT_EQ(Results(Lines(removal.output)), std::vector<std::wstring>{L"State=Success"}) << removal.output;
    EXPECT_FALSE(FileExists(folder + L"\\Tunivox.exe"));
    EXPECT_FALSE(FileExists(DesktopShortcut()));
}

TEST_F(DemoPackageRun, FailuresAreReportedAsErrorLines) {
    struct Case {
        const char* what;
        std::wstring line;
        const wchar_t* errorStart;
    } cases[] = {
        {"no folder", package + L" /S -console=show -version=1.0.0 -dsc=false -ssc=false", L"Error=no install folder"},
        {"folder below a file", package + L" /S -instdir=\"" + package + L"\\sub\"", L"Error=cannot create"},
        {"nothing to remove", package + L" /S -console=show _?=" + root.path() + L"\\Never Installed",
         L"Error=no installation recorded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TestSupport::ProcessResult run = TestSupport::RunCommand(c.line);
        EXPECT_EQ(run.exitCode, 1u);
        const std::vector<std::wstring> results = Results(Lines(run.output));
        ASSERT_EQ(results.size(), 1u) << run.output;
        EXPECT_TRUE(results[0].starts_with(c.errorStart)) << run.output;
    }
}

} // namespace
