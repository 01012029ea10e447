#include <gtest/gtest.h>

#include <functional>

#include "install/PackageVerifier.h"
#include "install/StatusCodes.h"
#include "install/UnInstaller.h"
#include "tests/install/StandIn.h"
#include "tests/support/TestSupport.h"

using TestSupport::TempDir;

namespace {

const Event kProgress0{UNI_CODE_PROGRESS, 0.0, L""};
const Event kEndedUndecided{UNI_CODE_SUCCESS, 1.0, L""};
const wchar_t kFailText[] = L"安装包卸载失败";

// One removal job on a stand-in uninstaller copy; the script comes through the environment.
class RemovalRun {
public:
    RemovalRun(const std::wstring& exe, const std::wstring& oldDir, const std::wstring& scriptPath,
               std::function<void(int, double)> hook = {})
        : script(scriptPath), environment(scriptPath) {
        job = std::make_unique<CUnInstaller>(
            [this, hook](int code, double value, const wchar_t* message) {
                log.Add(code, value, message);
                if (hook) {
                    hook(code, value);
                }
            },
            exe, oldDir);
    }

    std::vector<Event> Play(const std::string& text) {
        StandIn::WriteScript(script, text);
        job->Run();
        job.reset();
        return log.Events();
    }

    std::wstring script;
    StandIn::ScriptEnvironment environment;
    EventLog log;
    std::unique_ptr<CUnInstaller> job;
};

struct Copy {
    TempDir temp{L"un"};
    std::wstring exe = temp.path() + L"\\Tunivox_un_asa.exe";
    std::wstring script = temp.path() + L"\\un.txt";
    Copy() { StandIn::CopyTo(exe); }
};

} // namespace

TEST(UnInstaller, CommandLineIsTheCopyThenTheOldFolder) {
    EXPECT_EQ(CUnInstaller::BuildCommandLine(L"C:\\Temp\\~KadoTemp.92482B06FB471E17\\\\Tunivox_un_asa.exe", L"D:\\Old"),
              L"C:\\Temp\\~KadoTemp.92482B06FB471E17\\\\Tunivox_un_asa.exe /S -console=show _?=D:\\Old");
    // 511 characters fit the buffer; 512 do not and give no line at all rather than a cut one.
    std::wstring fixed = L"x /S -console=show _?=";
    EXPECT_EQ(CUnInstaller::BuildCommandLine(L"x", std::wstring(511 - fixed.size(), L'd')).size(), 511u);
    EXPECT_EQ(CUnInstaller::BuildCommandLine(L"x", std::wstring(512 - fixed.size(), L'd')), L"");
}

TEST(UnInstaller, OutcomesOfTheWholeRun) {
    struct Case {
        const char* name;
        const char* script;
        std::vector<Event> tail; // after 5002 (0.0)
    };
    const Case cases[] = {
        {"a silent uninstaller that exits with 0 ends as a success with 1.0", "exit 0\n", {kEndedUndecided}},
        // Mended: no verdict and a non-zero exit code used to count as a success.
        {"a silent uninstaller that exits with 1 fails", "exit 1\n", {{UNI_CODE_FAIL, kFailValueExitCode, kFailText}}},
        {"a verdict, then a read of standard input: the job still ends",
         "say State=Success\n\nreadstdin\n",
         {{UNI_CODE_SUCCESS, 0.0, L""}}},
        {"progress, then success",
         "say Progress=0.5\\nProgress=x\\n\nsay State=Success\\n\n",
         {{UNI_CODE_PROGRESS, 0.5, L""}, {UNI_CODE_PROGRESS, 0.0, L""}, {UNI_CODE_SUCCESS, 0.0, L""}}},
        // Only the first decisive line counts: nothing after it is reported, and no final 5003 follows.
        {"success, then an error in a later read",
         "say State=Success\\n\nsleep 200\nsay Error=x\\n\n",
         {{UNI_CODE_SUCCESS, 0.0, L""}}},
        {"failure, then success in the same read",
         "say State=Fail\\nState=Success\\n\n",
         {{UNI_CODE_FAIL, 0.0, kFailText}}},
        // A zero byte inside a line swallows neither the rest of the line nor the line end.
        {"zero byte inside a line",
         "say Progress=0.25\\nX=a\\0b\\n\nsleep 200\nsay State=Fail\\n\n",
         {{UNI_CODE_PROGRESS, 0.25, L""}, {UNI_CODE_FAIL, 0.0, kFailText}}},
        {"the package's keys are ignored",
         "say InstPath=C:\\\\x\\nExePath=C:\\\\x\\\\a.exe\\nMessage=m\\n\n",
         {kEndedUndecided}},
        {"State=Fail with CRLF", "say State=Fail\\r\\n\n", {{UNI_CODE_FAIL, 0.0, kFailText}}},
        {"split line", "say State=Fa\nsleep 100\nsay il\\n\n", {{UNI_CODE_FAIL, 0.0, kFailText}}},
        // Mended: a fragment held past the hold is judged only when it is a whole verdict already.
        {"split verdict 400 ms apart", "say State=Fa\nsleep 400\nsay il\\n\n", {{UNI_CODE_FAIL, 0.0, kFailText}}},
        {"Encode=UTF8 decodes the next line as UTF-8",
         "say Encode=UTF8\\nError=\\xE5\\xA4\\xB1\\xE8\\xB4\\xA5\\n\n",
         {{UNI_CODE_FAIL, 0.0, L"失败"}}},
        {"Encode=936 means the ANSI code page",
         "say Encode=936\\nError=\\xCA\\xA7\\xB0\\xDC\\n\n",
         {{UNI_CODE_FAIL, 0.0, L"失败"}}},
        {"two successes in different reads: the download is started once",
         "say State=Success\\n\nsleep 200\nsay State=Success\\n\n",
         {{UNI_CODE_SUCCESS, 0.0, L""}}},
        {"standard error is drained, not parsed", "chatter 20 err\nstderr State=Fail\\n\n", {kEndedUndecided}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Copy copy;
        RemovalRun run(copy.exe, L"D:\\Old", copy.script);
        std::vector<Event> expected = {kProgress0};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(run.Play(c.script), expected);
    }
}

TEST(UnInstaller, RunsTheCopyWithTheOldFolderAndReadsUntilItEnds) {
    Copy copy;
    std::wstring done = copy.temp.path() + L"\\ended";
    bool endedBeforeSuccess = true;
    RemovalRun run(copy.exe, L"D:\\Old Apps\\Tunivox", copy.script, [&](int code, double) {
        if (code == UNI_CODE_SUCCESS) {
            endedBeforeSuccess = TestSupport::FileExists(done);
        }
    });
    std::vector<Event> events =
        run.Play("say State=Success\\n\nsleep 300\ncreate " + TestSupport::Utf8(done) + "\nexit 0\n");
    EXPECT_EQ(events, (std::vector<Event>{kProgress0, {UNI_CODE_SUCCESS, 0.0, L""}}));
    EXPECT_FALSE(endedBeforeSuccess) << "the success line is reported while the uninstaller still runs";
    EXPECT_TRUE(TestSupport::FileExists(done)) << "the job waited for the uninstaller to end";
    EXPECT_EQ(StandIn::CommandLines(copy.script),
              std::vector<std::wstring>{copy.exe + L" /S -console=show _?=D:\\Old Apps\\Tunivox"});
}

// The copy is named by the user's registry and lies where the user can write: only a copy that passes the
// package's signature rules, and is no link, ever runs.
TEST(UnInstaller, CopyThatFailsTheChecksIsNeverRun) {
    const Trust::Publisher testPublisher = Trust::ReadPublisher(StandIn::Exe());
    ASSERT_EQ(testPublisher.kind, Trust::Publisher::Kind::Signed);
    struct Case {
        const char* name;
        const wchar_t* variant;     // the stand-in the copy is made from; null: the test publisher's
        Trust::Publisher installer; // the installer's own publisher (unsigned: a development build)
        Trust::Pins pins;           // the configuration's
        bool secondHardLink;
        bool runs;
    };
    const Case cases[] = {
        {"signed by the installer's publisher", nullptr, testPublisher, {}, false, true},
        {"unsigned", L"unsigned", {}, {}, false, false},
        {"from a CA nobody trusts", L"rogue", {}, {}, false, false},
        {"signed by another publisher than the installer", L"other", testPublisher, {}, false, false},
        {"a signer pin naming someone else", nullptr, {}, {{L"Other Test Publisher"}, {}}, false, false},
        {"the package's SHA-256 pin names the package, not the uninstaller",
         nullptr,
         {},
         {{}, {std::wstring(64, L'0')}},
         false,
         true},
        {"a second hard link to the copy", nullptr, {}, {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Copy copy;
        if (c.variant != nullptr) {
            ASSERT_TRUE(::CopyFileW(StandIn::Variant(c.variant).c_str(), copy.exe.c_str(), FALSE));
        }
        if (c.secondHardLink) {
            ASSERT_TRUE(::CreateHardLinkW((copy.temp / L"elsewhere.exe").c_str(), copy.exe.c_str(), nullptr));
        }
        RemovalRun run(copy.exe, L"D:\\Old", copy.script);
        const Trust::Publisher installer = c.installer;
        const Trust::Pins pins = c.pins;
        Trust::FileCheckSeam::Override check(Trust::UninstallerCheck(), [&](HANDLE file, const std::wstring& path) {
            return Trust::VerifyUninstaller(file, path, installer, pins);
        });
        std::vector<Event> events = run.Play("exit 0\n");
        if (c.runs) {
            EXPECT_EQ(events, (std::vector<Event>{kProgress0, kEndedUndecided}));
            EXPECT_EQ(StandIn::CommandLines(copy.script).size(), 1u);
        } else {
            EXPECT_EQ(events, (std::vector<Event>{{UNI_CODE_FAIL, 2.0, L""}}));
            EXPECT_TRUE(StandIn::CommandLines(copy.script).empty()) << "the refused copy ran";
        }
    }
}

TEST(UnInstaller, MissingCopyGivesExactlyOneEventAndRunsNothing) {
    Copy copy;
    ASSERT_TRUE(::DeleteFileW(copy.exe.c_str()));
    RemovalRun run(copy.exe, L"D:\\Old", copy.script);
    EXPECT_EQ(run.Play("exit 0\n"), (std::vector<Event>{{UNI_CODE_FAIL, 1.0, L"可执行卸载文件不存在"}}));
    EXPECT_TRUE(StandIn::CommandLines(copy.script).empty());
}

TEST(UnInstaller, CommandLineOver511CharactersIsALaunchFailure) {
    // Mended: a cut line would end inside the old folder's path and remove some other folder.
    Copy copy;
    std::wstring oldDir = L"D:\\" + std::wstring(600, L'o');
    RemovalRun run(copy.exe, oldDir, copy.script);
    EXPECT_EQ(run.Play("exit 0\n"), (std::vector<Event>{kProgress0, {UNI_CODE_FAIL, 2.0, L""}}));
    EXPECT_TRUE(StandIn::CommandLines(copy.script).empty()) << "nothing ran";
}

TEST(UnInstaller, CopyInAFolderWithBlanksRunsItselfNotAProgramNamedAfterItsFirstWord) {
    TempDir base(L"un");
    std::wstring dir = base.path() + L"\\Temp Files";
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring exe = dir + L"\\Tunivox_un_asa.exe";
    ASSERT_TRUE(StandIn::CopyTo(exe));
    ASSERT_TRUE(StandIn::CopyTo(base.path() + L"\\Temp.exe"));
    std::wstring script = base.path() + L"\\un.txt";
    RemovalRun run(exe, L"D:\\Old", script);
    run.Play("exit 0\n");
    EXPECT_EQ(StandIn::Modules(script), std::vector<std::wstring>{exe});
}
