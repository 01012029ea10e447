#include <gtest/gtest.h>

#include <functional>

#include "config/InstallerConfig.h"
#include "install/PackageInstaller.h"
#include "install/PackageVerifier.h"
#include "install/StatusCodes.h"
#include "tests/install/StandIn.h"
#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"

using TestSupport::TempDir;

namespace {

const wchar_t kFailText[] = L"安装包安装失败";

// One install job on a stand-in package in `installDir`, with the script passed through InstCmd.
class PackageRun {
public:
    explicit PackageRun(const std::wstring& dir, std::function<void(CPackageInstaller&, int, double)> hook = {})
        : installDir(dir), packagePath(dir + L"\\__Package_Tunivox.exe"), script(dir + L"\\script.txt"),
          savedInstCmd(g_installerConfig.InstCmd) {
        StandIn::CopyTo(packagePath);
        installer = std::make_unique<CPackageInstaller>(
            [this, hook](int code, double value, const wchar_t* message) {
                log.Add(code, value, message);
                if (hook) {
                    hook(*installer, code, value);
                }
            },
            packagePath, installDir, true, false);
    }
    ~PackageRun() {
        installer.reset();
        g_installerConfig.InstCmd = savedInstCmd;
    }

    // Plays `text` and waits (bounded) for the install thread; a package still running after `limitMs` is killed
    // and the run fails.
    std::vector<Event> Play(const std::string& text, DWORD limitMs = 60000, const std::wstring& extraInstCmd = L"") {
        StandIn::WriteScript(script, text);
        g_installerConfig.InstCmd = StandIn::Argument(script) + extraInstCmd;
        installer->Start();
        Join(limitMs);
        return log.Events();
    }

    void Join(DWORD limitMs) {
        if (installer->thread_ && ::WaitForSingleObject(installer->thread_->Handle(), limitMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the install job did not finish within " << limitMs << " ms";
            if (installer->process_) {
                ::TerminateProcess(installer->process_->Process(), 99);
            }
        }
        if (installer->thread_) {
            ::WaitForSingleObject(installer->thread_->Handle(), INFINITE);
        }
    }

    std::wstring installDir;
    std::wstring packagePath;
    std::wstring script;
    std::wstring savedInstCmd;
    EventLog log;
    std::unique_ptr<CPackageInstaller> installer;
};

const Event kStart{IST_CODE_START, 0.0, L""};
const Event kProgress0{IST_CODE_PROGRESS, 0.0, L""};
const Event kEndedUndecided{IST_CODE_SUCCESS, 1.0, L""};

} // namespace

TEST(PackageInstaller, BuildCommandLinePutsEachPieceInItsPlace) {
    struct Case {
        const wchar_t* package;
        const wchar_t* dir;
        bool desktop;
        bool quick;
        const wchar_t* instCmd;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"D:\\Apps\\Tunivox\\__Package_Tunivox.exe", L"D:\\Apps\\Tunivox", true, false, L"",
         L"D:\\Apps\\Tunivox\\__Package_Tunivox.exe /S -console=show -version=1.0.0 -dsc=true -ssc=false "
         L"-instdir=\"D:\\Apps\\Tunivox\" /D=D:\\Apps\\Tunivox"},
        // A folder with blanks: the package path stays unquoted, only -instdir is quoted, /D= ends the line.
        {L"C:\\Program Files (x86)\\Tunivox\\__Package_Tunivox.exe", L"C:\\Program Files (x86)\\Tunivox", false, true,
         L"",
         L"C:\\Program Files (x86)\\Tunivox\\__Package_Tunivox.exe /S -console=show -version=1.0.0 -dsc=false "
         L"-ssc=true -instdir=\"C:\\Program Files (x86)\\Tunivox\" /D=C:\\Program Files (x86)\\Tunivox"},
        // InstCmd goes between the shortcut options and -instdir, unchanged.
        {L"D:\\T\\p.exe", L"D:\\T", true, true, L"-channel=7  -x=\"a b\"",
         L"D:\\T\\p.exe /S -console=show -version=1.0.0 -dsc=true -ssc=true -channel=7  -x=\"a b\" "
         L"-instdir=\"D:\\T\" /D=D:\\T"},
        // No folder: neither -instdir nor /D=.
        {L"D:\\T\\p.exe", L"", false, false, L"-k",
         L"D:\\T\\p.exe /S -console=show -version=1.0.0 -dsc=false -ssc=false -k"},
        {L"D:\\T\\p.exe", L"", false, false, L"",
         L"D:\\T\\p.exe /S -console=show -version=1.0.0 -dsc=false -ssc=false"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CPackageInstaller::BuildCommandLine(c.package, c.dir, c.desktop, c.quick, c.instCmd), c.expected);
    }
}

TEST(PackageInstaller, PackageOutputBecomesEventsInOrder) {
    TempDir dir(L"pkg");
    PackageRun run(dir.path());
    // Each read is parsed on its own and in order; the Encode= lines change how the following lines decode.
    std::vector<Event> events =
        run.Play("say Progress=0.5\\nProgress=abc\\n Progress=0.7\\n\n"
                 "say InstPath=C:\\\\P\\n\n"
                 "say ExePath=C:\\\\P\\\\a.exe\\nStartExe=C:\\\\P\\\\a.exe\\n\n"
                 "say UninstExePath=C:\\\\P\\\\u.exe\\nUninstExe=C:\\\\P\\\\u.exe\\n\n"
                 "say UninstEp=ep\\nInstallVersion=1.2.3\\n\n"
                 "say TopShowDetention=-1\\nFinsihCloseDetention=5000\\n\n"
                 "say StartUrl=https://x.test/a?b=c\\n\n"
                 "say StartupStyle=AutoStartup\\nStartupStyle=autostartup\\n"
                 "StartupStyle=UserStartup\\nStartupStyle=NonStartup\\n\n"
                 "say Encode=UTF8\\nMessage=\\xE5\\xAE\\x89\\xE8\\xA3\\x85\\n\n"
                 "say Encode=936\\nMessage=\\xB0\\xB2\\xD7\\xB0\\n\n"
                 "say Encode=x\\nMessage=\\xCD\\xEA\\xB3\\xC9\\n\n" // x: the ANSI code page, 936
                 "say Message=\\n\n"
                 "exit 0\n");
    std::vector<Event> expected = {
        kStart,
        kProgress0,
        {IST_CODE_PROGRESS, 0.5, L""},
        {IST_CODE_PROGRESS, 0.0, L""},
        {IST_CODE_INST_PATH, 0.0, L"C:\\P"},
        {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"},
        {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"},
        {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\u.exe"},
        {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\u.exe"},
        {IST_CODE_UNINST_EP, 0.0, L"ep"},
        {IST_CODE_TOP_SHOW_DETENTION, 4294967295.0, L""},
        {IST_CODE_FINISH_CLOSE_DETENTION, 5000.0, L""},
        {IST_CODE_START_URL, 0.0, L"https://x.test/a?b=c"},
        {IST_CODE_STARTUP_STYLE, 1.0, L""},
        {IST_CODE_STARTUP_STYLE, 0.0, L""},
        {IST_CODE_STARTUP_STYLE, 2.0, L""},
        {IST_CODE_STARTUP_STYLE, 0.0, L""},
        {IST_CODE_MESSAGE, 0.0, L"安装"},
        {IST_CODE_MESSAGE, 0.0, L"安装"},
        {IST_CODE_MESSAGE, 0.0, L"完成"},
        {IST_CODE_MESSAGE, 0.0, L""},
        kEndedUndecided,
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(run.installer->codePage_, 0);
    EXPECT_EQ(run.installer->process_, nullptr) << "the child is closed when the job ends";
}

TEST(PackageInstaller, OutcomesOfTheWholeRun) {
    struct Case {
        const char* name;
        const char* script;
        std::vector<Event> tail; // the events after 2001 and 2002 (0.0)
        DWORD limitMs = 60000;   // for the whole job
    };
    const Case cases[] = {
        {"a silent package with exit code 0 ends as a success with 1.0", "exit 0\n", {kEndedUndecided}},
        // Mended: no verdict and a non-zero exit code used to count as a success.
        {"a silent package with exit code 1 fails", "exit 1\n", {{IST_CODE_FAIL, kFailValueExitCode, kFailText}}},
        // Mended: the job kept its end of the package's standard input open, and a package that reads it after
        // its verdict hung the job (and the installer) for ever.
        {"a verdict, then a read of standard input",
         "say State=Success\n\nreadstdin\n",
         {{IST_CODE_SUCCESS, 0.0, L""}},
         10000},
        {"State=Success", "say State=Success\\n\nexit 3\n", {{IST_CODE_SUCCESS, 0.0, L""}}},
        {"State=Fail", "say State=Fail\\n\n", {{IST_CODE_FAIL, 0.0, kFailText}}},
        {"an unknown state word decides nothing", "say State=Done\\n\n", {kEndedUndecided}},
        // Mended: both verdicts of one read were reported, and the window and the silent run took different ones.
        // The failure decides, alone; nothing is read or reported after.
        {"Error= then State=Success in one read",
         "say Error=disk full\\nState=Success\\n\nsleep 200\nsay State=Fail\\nMessage=late\\n\n",
         {{IST_CODE_FAIL, 1000.0, L"disk full"}}},
        {"State=Success then Error= in one read",
         "say State=Success\\nError=disk full\\n\n",
         {{IST_CODE_FAIL, 1000.0, L"disk full"}}},
        {"Error= text in UTF-8 after Encode=UTF8 in the same read",
         "say Encode=UTF8\\nError=\\xE7\\xA3\\x81\\xE7\\x9B\\x98\\xE5\\xB7\\xB2\\xE6\\xBB\\xA1\\n\n",
         {{IST_CODE_FAIL, 1000.0, L"磁盘已满"}}},
        // Mended: the package writes CRLF; "State=Fail\r" used to match nothing and the run ended as a success.
        {"CRLF failure", "say State=Fail\\r\\n\nsleep 100\nexit 0\n", {{IST_CODE_FAIL, 0.0, kFailText}}},
        {"CRLF success", "say State=Success\\r\\n\nsleep 100\nexit 5\n", {{IST_CODE_SUCCESS, 0.0, L""}}},
        // Mended: a line the pipe delivers in two reads is joined (100 ms apart: well within the hold of an
        // unfinished line, however loaded the machine).
        {"split line", "say State=Fa\nsleep 100\nsay il\\r\\n\nsleep 100\n", {{IST_CODE_FAIL, 0.0, kFailText}}},
        // Mended: after the hold, "State=Fa" was parsed as a line of its own (nothing), "il" as another, and the
        // end without a verdict became a success. A held fragment is judged early only as a whole verdict.
        {"split verdict 400 ms apart, then exit 0",
         "say Progress=0.5\\r\\nState=Fa\nsleep 400\nsay il\\r\\n\nexit 0\n",
         {{IST_CODE_PROGRESS, 0.5, L""}, {IST_CODE_FAIL, 0.0, kFailText}}},
        {"split UTF-8 character",
         "say Encode=UTF8\\nMessage=\\xE5\\xAE\nsleep 100\nsay \\x89\\n\n",
         {{IST_CODE_MESSAGE, 0.0, L"安"}, kEndedUndecided}},
        {"unfinished last line at the end",
         "say Progress=0.3\\nState=Fail\n",
         {{IST_CODE_PROGRESS, 0.3, L""}, {IST_CODE_FAIL, 0.0, kFailText}}},
        // Mended: an unknown code page used to make every later line decode to nothing, losing the failure.
        {"unknown code page, then a failure",
         "say Encode=99999\\n\nsleep 100\nsay State=Fail\\n\n",
         {{IST_CODE_FAIL, 0.0, kFailText}}},
        {"code page 1200 cannot decode bytes: kept",
         "say Encode=1200\\nState=Fail\\n\n",
         {{IST_CODE_FAIL, 0.0, kFailText}}},
        // Standard error is not part of the protocol.
        {"standard error is not parsed", "stderr State=Fail\\n\nexit 0\n", {kEndedUndecided}},
        // A zero byte inside a line swallows neither the rest of the line nor the line end.
        {"zero byte inside a line",
         "say Progress=0.3\\r\\nStartUrl=x\\0yz\\r\\n\nsleep 200\nsay State=Fail\\r\\n\n",
         {{IST_CODE_PROGRESS, 0.3, L""}, {IST_CODE_START_URL, 0.0, L"xyz"}, {IST_CODE_FAIL, 0.0, kFailText}}},
        // The deciding read is parsed to its end, unfinished tail included, and its facts come before the verdict.
        {"facts and tail of the deciding read",
         "say Message=m\\r\\nState=Success\\r\\nExePath=C:\\\\a.exe\\r\\nStartupStyle=AutoStartup\nsleep 500\n",
         {{IST_CODE_MESSAGE, 0.0, L"m"},
          {IST_CODE_EXE_PATH, 0.0, L"C:\\a.exe"},
          {IST_CODE_STARTUP_STYLE, 1.0, L""},
          {IST_CODE_SUCCESS, 0.0, L""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"pkg");
        PackageRun run(dir.path());
        std::vector<Event> expected = {kStart, kProgress0};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(run.Play(c.script, c.limitMs), expected);
    }
}

TEST(PackageInstaller, VerdictWithoutALineEndIsHeardWhileThePackageStillRuns) {
    TempDir dir(L"pkg");
    std::wstring gate = dir / L"gate";
    // The package goes on only once the job has reported its verdict: a job that waited for the package to end
    // would never report it (and the run would be cut off by the limit).
    PackageRun run(dir.path(), [&](CPackageInstaller&, int code, double) {
        if (code == IST_CODE_SUCCESS) {
            TestSupport::WriteBytes(gate, "go");
        }
    });
    std::vector<Event> events =
        run.Play("say Progress=0.5\\r\\nState=Success\nwaitfile " + TestSupport::Utf8(gate) + "\n", 30000);
    EXPECT_EQ(events,
              (std::vector<Event>{kStart, kProgress0, {IST_CODE_PROGRESS, 0.5, L""}, {IST_CODE_SUCCESS, 0.0, L""}}));
}

TEST(PackageInstaller, VerdictPrintedJustBeforeExitIsStillRead) {
    // The package prints its failure and ends while the job is still busy with the previous line (the hook holds
    // the install thread until the package has ended). Testing "still running?" before reading would lose it.
    TempDir dir(L"pkg");
    PackageRun run(dir.path(), [](CPackageInstaller& job, int code, double value) {
        if (code == IST_CODE_PROGRESS && value == 0.25 && job.process_) {
            EXPECT_EQ(::WaitForSingleObject(job.process_->Process(), 20000), WAIT_OBJECT_0);
        }
    });
    std::vector<Event> events = run.Play("say Progress=0.25\\n\nsleep 300\nsay State=Fail\\n\nexit 0\n");
    std::vector<Event> expected = {kStart, kProgress0, {IST_CODE_PROGRESS, 0.25, L""}, {IST_CODE_FAIL, 0.0, kFailText}};
    EXPECT_EQ(events, expected);
}

TEST(PackageInstaller, MuchOutputAfterTheVerdictOrOnStandardErrorDoesNotHang) {
    // Mended: after the decisive line the job stopped reading and waited for the package, which blocked on the
    // full pipe for ever; standard error was never read at all. 50 MiB each way must finish, unparsed.
    const struct {
        const char* name;
        const char* script;
        Event verdict;
    } cases[] = {
        {"50 MiB on standard output after the verdict",
         "say State=Success\\n\nsleep 200\nchatter 50\nexit 0\n",
         {IST_CODE_SUCCESS, 0.0, L""}},
        {"50 MiB on standard error before the verdict",
         "chatter 50 err\nsay State=Fail\\n\nexit 0\n",
         {IST_CODE_FAIL, 0.0, kFailText}},
        {"standard output closed early, then 20 MiB on standard error", "closeout\nchatter 20 err\nexit 0\n",
         kEndedUndecided},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"pkg");
        PackageRun run(dir.path());
        DWORD started = ::GetTickCount();
        std::vector<Event> events = run.Play(c.script, 120000);
        std::vector<Event> expected = {kStart, kProgress0, c.verdict};
        EXPECT_EQ(events, expected);
        std::printf("%s: %lu ms\n", c.name, ::GetTickCount() - started);
    }
}

TEST(PackageInstaller, PackageReceivesTheBuiltCommandLine) {
    TempDir base(L"pkg");
    std::wstring dir = base.path() + L"\\Program Files (x86)\\Tunivox";
    ASSERT_TRUE(::CreateDirectoryW((base.path() + L"\\Program Files (x86)").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    PackageRun run(dir);
    run.Play("exit 0\n");
    std::vector<std::wstring> lines = StandIn::CommandLines(run.script);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], run.packagePath + L" /S -console=show -version=1.0.0 -dsc=true -ssc=false " +
                            StandIn::Argument(run.script) + L" -instdir=\"" + dir + L"\" /D=" + dir);
    EXPECT_EQ(lines[0], run.installer->commandLine_);
}

TEST(PackageInstaller, UnquotedPathWithBlanksRunsThePackageNotAProgramNamedAfterItsFirstWord) {
    // Mended: with no application name, CreateProcessW searches "<base>\Program.exe" before the package.
    TempDir base(L"pkg");
    std::wstring parent = base.path() + L"\\Program Files (x86)";
    std::wstring dir = parent + L"\\Tunivox";
    ASSERT_TRUE(::CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring decoy = base.path() + L"\\Program.exe";
    ASSERT_TRUE(StandIn::CopyTo(decoy));
    PackageRun run(dir);
    run.Play("exit 0\n");
    std::vector<std::wstring> modules = StandIn::Modules(run.script);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0], run.packagePath);

    // The same command line without an application name runs the decoy: the fault is real on this system.
    TestSupport::ProcessResult plain = TestSupport::RunCommand(run.installer->commandLine_, 20000);
    std::vector<std::wstring> after = StandIn::Modules(run.script);
    ASSERT_EQ(after.size(), 2u) << "exit " << plain.exitCode;
    EXPECT_EQ(after[1], decoy);
}

TEST(PackageInstaller, CommandLineThatDoesNotFitIsALaunchFailure) {
    // Mended: a line over 1023 characters used to run cut short (the /D= folder lost or truncated).
    for (size_t length : {1023u, 1024u, 1500u}) {
        SCOPED_TRACE(length);
        TempDir dir(L"pkg");
        PackageRun run(dir.path());
        std::wstring base = CPackageInstaller::BuildCommandLine(run.packagePath, run.installDir, true, false,
                                                                StandIn::Argument(run.script) + L" -pad=");
        std::wstring pad(length - base.size(), L'p');
        std::vector<Event> events = run.Play("exit 0\n", 60000, L" -pad=" + pad);
        ASSERT_EQ(run.installer->commandLine_.size(), length);
        if (length <= 1023) {
            EXPECT_EQ(events, (std::vector<Event>{kStart, kProgress0, kEndedUndecided}));
            EXPECT_EQ(StandIn::CommandLines(run.script), std::vector<std::wstring>{run.installer->commandLine_});
        } else {
            EXPECT_EQ(events, (std::vector<Event>{kStart, kProgress0, {IST_CODE_FAIL, 2.0, L""}}));
            EXPECT_TRUE(StandIn::CommandLines(run.script).empty()) << "nothing ran";
        }
    }
}

TEST(PackageInstaller, PackageThatFailsItsCheckIsRefusedAndNeverRuns) {
    const Event refused{IST_CODE_REFUSED, 1.0, L"安装包校验失败，请重新下载"};
    TempDir dir(L"pkg");
    {
        PackageRun run(dir.path());
        ASSERT_TRUE(::DeleteFileW(run.packagePath.c_str()));
        EXPECT_EQ(run.Play("exit 0\n"), std::vector<Event>{refused}) << "a missing package cannot be checked";
    }
    PackageRun run(dir.path());
    ASSERT_TRUE(::CopyFileW(StandIn::Variant(L"unsigned").c_str(), run.packagePath.c_str(), FALSE));
    EXPECT_EQ(run.Play("exit 0\n"), std::vector<Event>{refused});
    EXPECT_TRUE(StandIn::CommandLines(run.script).empty()) << "the package never started";
}

TEST(PackageInstaller, FileCheckedIsHeldAgainstChangesUntilThePackageRuns) {
    TempDir dir(L"pkg");
    PackageRun run(dir.path());
    DWORD writeError = 0;
    Trust::FileCheckSeam::Override watched(Trust::PackageCheck(), [&](HANDLE file, const std::wstring& path) {
        Utils::Status verdict = Trust::VerifyPackageAsConfigured(file, path);
        // Another program trying to swap the file between the check and the start.
        Utils::UniqueFileHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
        writeError = writer ? 0 : ::GetLastError();
        return verdict;
    });
    EXPECT_EQ(run.Play("exit 0\n"), (std::vector<Event>{kStart, kProgress0, kEndedUndecided}));
    EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(PackageInstaller, SecondStartWaitsForTheFirstAndKeepsTheCodePage) {
    TempDir dir(L"pkg");
    PackageRun run(dir.path());
    StandIn::WriteScript(run.script, "sleep 300\nsay Encode=UTF8\\n\nexit 0\n");
    g_installerConfig.InstCmd = StandIn::Argument(run.script);
    run.installer->Start();
    run.installer->installDir_ = dir.path() + L"\\second";
    run.installer->Start(); // waits for the first install thread
    run.Join(60000);
    std::vector<Event> events = run.log.Events();
    std::vector<Event> expected = {kStart, kProgress0, kEndedUndecided, kStart, kProgress0, kEndedUndecided};
    EXPECT_EQ(events, expected);
    std::vector<std::wstring> lines = StandIn::CommandLines(run.script);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(L"/D=" + dir.path() + L"\\second"), std::wstring::npos) << "refreshed folder";
    EXPECT_EQ(run.installer->codePage_, 65001) << "the last Encode= line stays in force across attempts";
}
