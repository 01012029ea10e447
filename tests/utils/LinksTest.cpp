// The checks that keep the elevated installer's files off links, against the real file system (a directory link
// made from Linux shows as a reparse point under Wine; hard links are Wine's own), and the log file that uses them.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdio>

#include "tests/support/TestSupport.h"
#include "utils/Links.h"
#include "utils/LogFile.h"
#include "utils/Security.h"

using TestSupport::TempDir;

namespace {

// A folder `real` with a file in it, `dirlink` a Linux symbolic link to `real`, `hardlink` a second name of
// `real\victim`.
struct LinkedTree {
    TempDir dir{L"links"};
    std::wstring real = dir / L"real";
    std::wstring dirLink = dir / L"dirlink";
    std::wstring victim = real + L"\\victim.txt";
    std::wstring hardLink = dir / L"hardlink.log";
    LinkedTree() {
        EXPECT_TRUE(::CreateDirectoryW(real.c_str(), nullptr));
        EXPECT_TRUE(TestSupport::WriteBytes(victim, "victim"));
        EXPECT_TRUE(TestSupport::HostSymlink(real, dirLink)) << "no Linux symbolic link";
        EXPECT_TRUE(::CreateHardLinkW(hardLink.c_str(), victim.c_str(), nullptr));
    }
};

std::wstring ProgramDataLogs() {
    wchar_t common[MAX_PATH] = {};
    EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)));
    return std::wstring(common) + L"\\" + Utils::kAdministratorsLogFolderName;
}

// Whether this file system keeps a folder's descriptor as set (Windows does; Wine 8 here maps it to Unix
// permissions and reads back a descriptor of its own making).
bool KeepsFolderDescriptors() {
    TempDir dir(L"sd");
    const std::wstring folder = dir / L"probe";
    auto descriptor = Utils::DescriptorFromSddl(Utils::kAdministratorsOnlySddl);
    if (!::CreateDirectoryW(folder.c_str(), nullptr) || !descriptor ||
        !::SetFileSecurityW(folder.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            descriptor->get())) {
        return false;
    }
    Utils::UniqueFileHandle handle(::CreateFileW(folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle && Utils::IsAdministratorsOnlySddl(Utils::ReadBackSddl(handle.get(), SE_FILE_OBJECT));
}

} // namespace

TEST(Links, ReparsePointsOnThePathAndSecondNamesAreFound) {
    LinkedTree tree;
    ASSERT_NE(::GetFileAttributesW(tree.dirLink.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "Wine does not show the Linux link as a reparse point";
    struct Case {
        std::wstring path;
        bool linked;
    } cases[] = {
        {tree.real + L"\\victim.txt", false},
        {tree.real + L"\\not-yet\\x.log", false},
        {tree.dirLink, true},
        {tree.dirLink + L"\\victim.txt", true},
        {tree.dirLink + L"\\new.log", true},
        {tree.dir / L"dirlink\\\\new.log", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(!Utils::CheckNoReparsePointOnPath(c.path), c.linked) << TestSupport::Utf8(c.path);
    }
    auto linked = Utils::OpenWithoutLinks(tree.hardLink, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_FALSE(linked);
    const std::wstring& problem = linked.Failure().What();
    EXPECT_NE(problem.find(L"2 hard links"), std::wstring::npos) << TestSupport::Utf8(problem);
    std::wstring single = tree.dir / L"single.txt";
    ASSERT_TRUE(TestSupport::WriteBytes(single, "x"));
    EXPECT_TRUE(Utils::OpenWithoutLinks(single, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
}

TEST(Links, AdministratorsOnlyDescriptors) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {L"O:BAD:P(A;;FA;;;BA)(D;;FA;;;WD)", true},
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},                   // inherits from the parent
        {L"O:BAD:AI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},                 // auto-inherited is not protected
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)", false},  // users may read
        {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false}, // owned by a user
        {L"O:BAD:P(A;OICI;FA;;;S-1-5-21-1-2-3-1000)", false},
        {L"O:BAD:P", false},
        {L"O:BAD:P(A;OICI;FA;;;BA", false},
        {L"", false},
    };
    for (const auto& [sddl, ok] : cases) {
        EXPECT_EQ(Utils::IsAdministratorsOnlySddl(sddl), ok) << TestSupport::Utf8(sddl);
    }
}

// The log file: -log=PATH through a link, a second name, or a temporary folder reached through a link; in each case
// nothing is written where the link leads.
TEST(Links, LogFileIsNeverWrittenThroughALink) {
    LinkedTree tree;
    wchar_t oldTemp[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", oldTemp, MAX_PATH);
    struct Case {
        const char* name;
        std::wstring path; // -log=PATH; empty: a new file in TMP
        std::wstring temp; // TMP for the run
        bool elevated;
        const wchar_t* landsIn; // the folder the log must land in; null: no log at all
    } cases[] = {
        {"-log through a linked folder", tree.dirLink + L"\\setup.log", L"", true, nullptr},
        {"-log on a second hard link", tree.hardLink, L"", true, nullptr},
        {"-log on a plain new file", tree.dir / L"plain.log", L"", true, L"plain"},
        {"elevated, TMP through a link", L"", tree.dirLink + L"\\", true, L"programdata"},
        {"-log in a folder that does not exist: the temporary folder", tree.dir / L"missing\\setup.log", L"", true,
         L"temp"},
    };
    // Where folder descriptors are not kept, the administrators' folder never passes its check: no log then.
    const bool keepsDescriptors = KeepsFolderDescriptors();
    if (!keepsDescriptors) {
        cases[3].landsIn = nullptr;
        std::printf("folder descriptors are not kept here: the administrators' log folder is refused\n");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.temp.empty()) {
            ::SetEnvironmentVariableW(L"TMP", c.temp.c_str());
        }
        std::wstring opened = Utils::OpenLogFile(c.path, c.elevated);
        ::SetEnvironmentVariableW(L"TMP", oldTemp[0] != 0 ? oldTemp : nullptr);
        Utils::CloseLogFile();
        EXPECT_EQ(TestSupport::ReadBytes(tree.victim), "victim") << "written through the link";
        WIN32_FIND_DATAW found{};
        Utils::UniqueFindHandle search(::FindFirstFileW((tree.real + L"\\*.log").c_str(), &found));
        EXPECT_FALSE(search) << "a log file was made through the link: " << TestSupport::Utf8(found.cFileName);
        if (c.landsIn == nullptr) {
            EXPECT_EQ(opened, L"");
            continue;
        }
        // Either way the file's first line names it.
        const std::string text = TestSupport::ReadBytes(opened);
        EXPECT_NE(text.substr(0, text.find('\n')).find("log file: " + TestSupport::Utf8(opened)), std::string::npos)
            << text;
        if (std::wstring(c.landsIn) == L"plain") {
            EXPECT_EQ(opened, c.path);
        } else if (std::wstring(c.landsIn) == L"temp") {
            EXPECT_EQ(opened.substr(0, wcslen(oldTemp)), oldTemp) << TestSupport::Utf8(opened);
            EXPECT_NE(text.substr(0, text.find('\n')).find("no such folder"), std::string::npos) << text;
            ::DeleteFileW(opened.c_str());
        } else {
            const std::wstring logs = ProgramDataLogs();
            EXPECT_EQ(opened.substr(0, logs.size() + 1), logs + L"\\") << TestSupport::Utf8(opened);
            Utils::UniqueFileHandle folder(::CreateFileW(logs.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            ASSERT_TRUE(folder);
            const std::wstring sddl = Utils::ReadBackSddl(folder.get(), SE_FILE_OBJECT);
            EXPECT_TRUE(Utils::IsAdministratorsOnlySddl(sddl)) << TestSupport::Utf8(sddl);
            ::DeleteFileW(opened.c_str());
        }
    }
}

// Rotation deletes through a checked handle: an old log name that is a second hard link of some other file stays.
TEST(Links, RotationLeavesAnOldLogWithASecondName) {
    TempDir dir(L"rot");
    const std::wstring other = dir / L"other.txt";
    ASSERT_TRUE(TestSupport::WriteBytes(other, "other"));
    const std::wstring linked = dir / L"TunivoxSetup_20000101_000000_1.log";
    ASSERT_TRUE(::CreateHardLinkW(linked.c_str(), other.c_str(), nullptr));
    for (int i = 10; i < 20; ++i) {
        ASSERT_TRUE(
            TestSupport::WriteBytes(dir / (L"TunivoxSetup_200002" + std::to_wstring(i) + L"_000000_1.log"), "x"));
    }
    wchar_t oldTemp[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", oldTemp, MAX_PATH);
    ::SetEnvironmentVariableW(L"TMP", (dir.path() + L"\\").c_str());
    std::wstring fresh = Utils::OpenLogFile(L"", true);
    ::SetEnvironmentVariableW(L"TMP", oldTemp[0] != 0 ? oldTemp : nullptr);
    Utils::CloseLogFile();
    EXPECT_FALSE(fresh.empty());
    EXPECT_TRUE(TestSupport::FileExists(linked)) << "deleted through a name with a second link";
    EXPECT_FALSE(TestSupport::FileExists(dir / L"TunivoxSetup_20000210_000000_1.log")) << "plain old logs still go";
}
