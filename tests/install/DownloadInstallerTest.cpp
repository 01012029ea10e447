// The orchestrator with a scripted downloader (no network): relays, states, files, removal flows.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "config/InstallerConfig.h"
#include "install/DownloadInstaller.h"
#include "install/Folders.h"
#include "install/StatusCodes.h"
#include "tests/install/StandIn.h"
#include "tests/support/TestSupport.h"
#include "utils/Security.h"

using TestSupport::LogCapture;
using TestSupport::TempDir;

namespace {

// Plays a download on its own thread: 1001, 1002 (0.5), then either writes the stand-in package to its path
// and reports 1003, or writes half a file and reports 1004. A new Start waits for the previous thread.
struct FakeDownloads {
    std::atomic<int> starts{0};
    std::atomic<bool> fail{false};
    std::vector<int> typesBuilt;
    std::vector<std::wstring> paths;
};

class FakeDownloader : public CDownloader {
public:
    FakeDownloader(FakeDownloads& plan_, DownloadCallback relay_, std::wstring path_)
        : plan(plan_), relay(std::move(relay_)), path(std::move(path_)) {}
    ~FakeDownloader() override { Join(); }
    void Start() override {
        Join();
        ++plan.starts;
        bool fail = plan.fail;
        worker = std::thread([this, fail] {
            relay(DL_CODE_START, 1.0, L"");
            relay(DL_CODE_PROGRESS, 0.5, L"");
            if (fail) {
                TestSupport::WriteBytes(path, "partial");
                relay(DL_CODE_FAIL, 22.0, L"fake");
            } else {
                StandIn::CopyTo(path);
                relay(DL_CODE_SUCCESS, 0.0, L"fake");
            }
        });
    }
    void Join() {
        if (worker.joinable()) {
            worker.join();
        }
    }

private:
    FakeDownloads& plan;
    DownloadCallback relay;
    std::wstring path;
    std::thread worker;
};

// Folders named like a private temporary folder in `temp`.
size_t PrivateFolderCount(const std::wstring& temp) {
    WIN32_FIND_DATAW data;
    Utils::UniqueFindHandle find(::FindFirstFileW((temp + L"~KadoTemp.*").c_str(), &data));
    size_t count = 0;
    if (find) {
        do {
            ++count;
        } while (::FindNextFileW(find.get(), &data));
    }
    return count;
}

struct Seen {
    Event event;
    RunState stateBefore;
};

// An orchestrator whose window callback records each event with the state the window could read then.
class Attempts {
public:
    Attempts()
        : savedInstCmd(g_installerConfig.InstCmd), savedType(g_installerConfig.DownloadType),
          scripted(DownloaderCreation(),
                   [this](int type, DownloadCallback relay, const std::wstring&, const std::wstring& path) {
                       plan.typesBuilt.push_back(type);
                       plan.paths.push_back(path);
                       auto fake = std::make_unique<FakeDownloader>(plan, std::move(relay), path);
                       lastFake = fake.get();
                       return std::unique_ptr<CDownloader>(std::move(fake));
                   }) {
        orchestrator = std::make_unique<CDownloadInstaller>([this](int code, double value, const wchar_t* message) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back({Event{code, value, message}, orchestrator->State()});
            log.Add(code, value, message);
        });
    }
    ~Attempts() {
        orchestrator.reset();
        g_installerConfig.InstCmd = savedInstCmd;
        g_installerConfig.DownloadType = savedType;
    }
    // Starts an attempt into `dir` and waits for the final event of the given kind.
    void Run(const std::wstring& dir, const std::string& packageScript, int finalCode, bool expectFinal = true) {
        script = StandIn::WriteScript(scriptsDir.path() + L"\\package.txt", packageScript);
        g_installerConfig.InstCmd = StandIn::Argument(script);
        inputs.installDir = dir;
        inputs.url = L"http://127.0.0.1:1/unused";
        size_t before = log.Events().size();
        orchestrator->Start(inputs);
        bool arrived = false;
        for (int i = 0; i < 600 && !arrived; ++i) {
            std::vector<Event> events = log.Events();
            for (size_t k = before; k < events.size(); ++k) {
                arrived = arrived || events[k].code == finalCode;
            }
            if (!arrived) {
                ::Sleep(50);
            }
        }
        EXPECT_EQ(arrived, expectFinal) << "final event " << finalCode;
        WaitIdle();
    }
    // Waits for the jobs' threads without destroying them.
    void WaitIdle() {
        if (lastFake != nullptr) {
            lastFake->Join();
        }
        orchestrator->WaitForInstallJob(60000);
    }
    std::vector<Seen> SeenEvents() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

    TempDir scriptsDir{L"orch"};
    std::wstring script;
    std::wstring savedInstCmd;
    int savedType;
    DownloaderCreationSeam::Override scripted; // the orchestrator gets FakeDownloaders
    FakeDownloads plan;
    EventLog log;
    std::mutex mutex;
    std::vector<Seen> seen;
    AttemptInputs inputs;
    FakeDownloader* lastFake = nullptr; // the download job the orchestrator keeps
    std::unique_ptr<CDownloadInstaller> orchestrator;
};

// Points GetTempPathW somewhere for the lifetime of the object.
class TempPathOverride {
public:
    explicit TempPathOverride(const wchar_t* path) {
        ::GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
        ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
        ::SetEnvironmentVariableW(L"TMP", path);
        ::SetEnvironmentVariableW(L"TEMP", path);
    }
    ~TempPathOverride() {
        ::SetEnvironmentVariableW(L"TMP", tmp[0] != L'\0' ? tmp : nullptr);
        ::SetEnvironmentVariableW(L"TEMP", temp[0] != L'\0' ? temp : nullptr);
    }

private:
    wchar_t tmp[MAX_PATH] = {};
    wchar_t temp[MAX_PATH] = {};
};

std::vector<int> CodesOf(const std::vector<Event>& events) {
    std::vector<int> codes;
    for (const Event& e : events) {
        codes.push_back(e.code);
    }
    return codes;
}

} // namespace

TEST(Folders, CreateDirectoryChainCreatesEachMissingLevel) {
    TempDir base(L"chain");
    struct Case {
        std::wstring path;
        bool result;
        bool exists;
    };
    std::wstring file = base / L"file";
    TestSupport::WriteBytes(file, "x");
    const Case cases[] = {
        {base / L"A\\B\\C", true, true},
        {base / L"A\\B\\C", true, true}, // already there
        {base / L"D\\E\\", true, true},  // a trailing backslash
        {base / L"Sp ace\\中文", true, true},
        {file + L"\\sub", false, false},                                                        // a file in the way
        {base.path() + L"\\" + std::wstring(261 - base.path().size() - 1, L'L'), false, false}, // 261 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::Utf8(c.path));
        EXPECT_EQ(CreateDirectoryChain(c.path.c_str()), c.result);
        EXPECT_EQ(TestSupport::FileExists(c.path), c.exists);
    }
    EXPECT_TRUE(TestSupport::FileExists(base / L"A\\B"));
    EXPECT_TRUE(CreateDirectoryChain(L"C:\\"));
}

TEST(Folders, PrivateTempFolderIsNewForEveryRunWithItsInvertedResult) {
    EXPECT_EQ(PrivateTempFolderName(0x92482B06FB471E17ull), L"~KadoTemp.92482B06FB471E17\\");
    EXPECT_EQ(PrivateTempFolderName(0x1ull), L"~KadoTemp.0000000000000001\\");

    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    wchar_t first[MAX_PATH] = L"untouched";
    wchar_t second[MAX_PATH] = L"untouched";
    EXPECT_FALSE(GetPrivateTempFolder(first)) << "false means success";
    EXPECT_FALSE(GetPrivateTempFolder(second));
    for (const wchar_t* folder : {first, second}) {
        std::wstring name = std::wstring(folder).substr(std::wcslen(temp));
        EXPECT_EQ(std::wstring(folder).substr(0, std::wcslen(temp)), temp);
        EXPECT_EQ(name.size(), PrivateTempFolderName(0).size());
        EXPECT_EQ(name.rfind(L"~KadoTemp.", 0), 0u);
        EXPECT_TRUE(TestSupport::FileExists(folder));
    }
    EXPECT_NE(std::wstring(first), std::wstring(second)) << "a folder somebody made before is never taken";
    ::RemoveDirectoryW(first);
    ::RemoveDirectoryW(second);

    // A temporary folder that cannot hold a new folder: true, and the buffer is left as it was.
    TempPathOverride unusable(L"C:\\no\\such\\folder\\");
    wchar_t kept[MAX_PATH] = L"untouched";
    EXPECT_TRUE(GetPrivateTempFolder(kept));
    EXPECT_EQ(std::wstring(kept), L"untouched");
}

TEST(DownloadInstaller, ConstructionDefaultsAndPackagePath) {
    CDownloadInstaller orchestrator([](int, double, const wchar_t*) {});
    EXPECT_EQ(orchestrator.State(), RunState::Ready);
    EXPECT_EQ(orchestrator.PackageFile(), L"") << "no attempt yet";
    EXPECT_EQ(CDownloadInstaller::PackagePathIn(L"D:\\Apps\\Tunivox"), L"D:\\Apps\\Tunivox\\__Package_Tunivox.exe");
}

TEST(DownloadInstaller, SuccessfulRunEventsStatusesLogAndPackageGone) {
    TempDir dir(L"orch");
    std::wstring installDir = dir / L"New\\Tunivox"; // the download's 1001 creates the chain
    Attempts a;
    LogCapture capture;
    a.Run(installDir, "say Progress=0.5\\nInstPath=X\\n\nsay State=Success\\n\n", IST_CODE_SUCCESS);
    std::vector<Seen> seen = a.SeenEvents();
    // The window gets each event before the orchestrator reacts: it still reads the previous status.
    using enum RunState;
    const std::vector<std::pair<Event, RunState>> expected = {
        {{DL_CODE_START, 1.0, L""}, Ready},
        {{DL_CODE_PROGRESS, 0.5, L""}, DownloadStarted},
        {{DL_CODE_SUCCESS, 0.0, L"fake"}, Downloading},
        {{IST_CODE_START, 0.0, L""}, Downloaded},
        {{IST_CODE_PROGRESS, 0.0, L""}, InstallStarted},
        {{IST_CODE_PROGRESS, 0.5, L""}, Installing},
        {{IST_CODE_INST_PATH, 0.0, L"X"}, Installing},
        {{IST_CODE_SUCCESS, 0.0, L""}, Installing},
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].event, expected[i].first) << i;
        EXPECT_EQ(seen[i].stateBefore, expected[i].second) << i;
    }
    EXPECT_EQ(a.orchestrator->State(), RunState::Installed);
    EXPECT_FALSE(TestSupport::FileExists(installDir + L"\\__Package_Tunivox.exe")) << "deleted after 2003";
    EXPECT_TRUE(TestSupport::FileExists(installDir)) << "1001 created the folder chain";
    EXPECT_EQ(a.plan.typesBuilt, std::vector<int>{g_installerConfig.DownloadType});

    const struct {
        const wchar_t* tag;
        std::vector<std::wstring> lines;
    } logs[] = {
        {L"CDownloadInstaller::Start", {L"<0122>: DL_TYPE=1\r\n"}},
        {L"CDownloadInstaller::Start::<lambda_6121a75ebee1cf49e99c9b86f605ceab>::operator ()",
         {L"<0039>: DL_CODE_START\r\n", L"<0044>: DL_CODE_PROGRESS\r\n", L"<0049>: DOWNLOAD_SUCCESS\r\n",
          L"<0062>: DL_CODE_SUCCESS\r\n"}},
        {L"CDownloadInstaller::Start::<lambda_7e7981c8619d8f8038c124666d2ced74>::operator ()",
         {L"<0099>: IST_CODE_START\r\n", L"<0104>: IST_CODE_PROGRESS 0.000\r\n", L"<0104>: IST_CODE_PROGRESS 0.500\r\n",
          L"<0110>: INSTALL_SUCCESS\r\n"}},
    };
    for (const auto& l : logs) {
        std::vector<std::wstring> got;
        for (const std::wstring& line : capture.LinesOf(l.tag)) {
            got.push_back(line.substr(line.find(L")<") + 1));
        }
        EXPECT_EQ(got, l.lines) << TestSupport::Utf8(l.tag);
    }
}

TEST(DownloadInstaller, SecondAttemptInAnotherFolderDeletesTheFileTheDownloadWrote) {
    // Mended: the jobs are reused, so the second attempt downloads into the first folder again and runs the
    // package from there; deleting the new folder's path left that package behind for ever.
    TempDir dir(L"orch");
    std::wstring first = dir / L"First";
    std::wstring second = dir / L"Second";
    Attempts a;
    a.plan.fail = true;
    a.Run(first, "exit 0\n", DL_CODE_FAIL);
    a.plan.fail = false;
    a.Run(second, "say State=Success\\n\n", IST_CODE_SUCCESS);
    EXPECT_EQ(a.plan.paths, std::vector<std::wstring>{first + L"\\__Package_Tunivox.exe"}) << "one download job";
    EXPECT_EQ(a.plan.starts, 2);
    EXPECT_EQ(a.orchestrator->PackageFile(), first + L"\\__Package_Tunivox.exe") << "the jobs keep the first file";
    EXPECT_FALSE(TestSupport::FileExists(first + L"\\__Package_Tunivox.exe")) << "the file that was written is gone";
    std::vector<std::wstring> lines = StandIn::CommandLines(a.script);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(first + L"\\__Package_Tunivox.exe", 0), 0u) << "the package ran from the first folder";
    EXPECT_NE(lines[0].find(L"/D=" + second), std::wstring::npos) << "into the second folder";
}

// Not elevated, the package is downloaded into the installation folder, as always; a link there (a folder reached
// through a reparse point, a second name of another file where the package, its part file or their state go) is
// refused before the download job writes anything, and the attempt ends as a failed download.
TEST(DownloadInstaller, LinksWhereTheDownloadWritesAreRefused) {
    enum class Plant { nothing, linkedFolder, linkedPart, partSecondName, stateSecondName, packageSecondName };
    const struct {
        const char* name;
        Plant plant;
    } cases[] = {
        {"nothing planted: the download starts", Plant::nothing},
        {"the install folder is a directory link", Plant::linkedFolder},
        {"a directory link where the part file goes", Plant::linkedPart},
        {"the part file is a second name of another file", Plant::partSecondName},
        {"the state file is a second name of another file", Plant::stateSecondName},
        {"the package is a second name of another file", Plant::packageSecondName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"links");
        const std::wstring real = dir / L"real";
        const std::wstring victim = real + L"\\victim.txt";
        ASSERT_TRUE(::CreateDirectoryW(real.c_str(), nullptr));
        ASSERT_TRUE(TestSupport::WriteBytes(victim, "victim"));
        std::wstring installDir = dir / L"Tunivox";
        ASSERT_TRUE(::CreateDirectoryW(installDir.c_str(), nullptr));
        const std::wstring package = installDir + L"\\__Package_Tunivox.exe";
        switch (c.plant) {
        case Plant::nothing:
            break;
        case Plant::linkedFolder:
            installDir = dir / L"linked";
            ASSERT_TRUE(TestSupport::HostSymlink(real, installDir));
            break;
        case Plant::linkedPart:
            ASSERT_TRUE(TestSupport::HostSymlink(real, package + L".part"));
            break;
        case Plant::partSecondName:
        case Plant::stateSecondName:
        case Plant::packageSecondName: {
            const wchar_t* suffix = c.plant == Plant::partSecondName    ? L".part"
                                    : c.plant == Plant::stateSecondName ? L".part.state"
                                                                        : L"";
            ASSERT_TRUE(::CreateHardLinkW((package + suffix).c_str(), victim.c_str(), nullptr));
            break;
        }
        }
        Attempts a;
        a.plan.fail = true; // the fake writes "partial" where it is told to
        LogCapture capture;
        a.Run(installDir, "exit 0\n", DL_CODE_FAIL);
        const bool refused = c.plant != Plant::nothing;
        EXPECT_EQ(a.plan.starts, refused ? 0 : 1);
        EXPECT_EQ(a.orchestrator->State(), RunState::DownloadFailed);
        EXPECT_EQ(TestSupport::ReadBytes(victim), "victim") << "written through the link";
        EXPECT_EQ(TestSupport::FileExists(real + L"\\__Package_Tunivox.exe"), false);
        bool logged = false;
        for (const std::wstring& line : capture.Lines()) {
            logged = logged || line.find(L"download refused: ") != std::wstring::npos;
        }
        EXPECT_EQ(logged, refused);
    }
}

// Elevated, the package is downloaded, checked and run in %ProgramData%\TunivoxSetupWork, made for SYSTEM and
// Administrators only; a folder of that name that is not ours (here a link into a user's folder) is not used, and
// a folder made for the run alone takes its place and goes with the run.
TEST(DownloadInstaller, ElevatedRunsWorkInAnAdministratorsOnlyFolder) {
    wchar_t common[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)));
    const std::wstring stable = std::wstring(common) + L"\\" WORK_FOLDER_NAME;
    const auto removeStable = [&] { TestSupport::RunHost(L"/bin/rm -rf '" + TestSupport::HostPath(stable) + L"'"); };
    removeStable();
    TempDir user(L"user");
    const std::wstring victim = user / L"victim.txt";
    ASSERT_TRUE(TestSupport::WriteBytes(victim, "victim"));
    ASSERT_TRUE(TestSupport::HostSymlink(user.path(), stable));
    TempDir dir(L"orch");
    const std::wstring installDir = dir / L"Tunivox";
    std::wstring fresh;
    {
        Attempts a;
        a.inputs.elevated = true;
        a.Run(installDir, "say State=Success\\n\n", IST_CODE_SUCCESS);
        ASSERT_EQ(a.plan.paths.size(), 1u);
        fresh = a.plan.paths[0].substr(0, a.plan.paths[0].rfind(L'\\'));
        EXPECT_EQ(fresh.rfind(stable + L".", 0), 0u) << TestSupport::Utf8(fresh);
        EXPECT_EQ(fresh.size(), stable.size() + 17);
        EXPECT_FALSE(TestSupport::FileExists(a.plan.paths[0])) << "deleted after 2003";
        EXPECT_TRUE(TestSupport::FileExists(fresh));
    }
    EXPECT_FALSE(TestSupport::FileExists(fresh)) << "the run's own folder goes with the run";
    EXPECT_EQ(TestSupport::ReadBytes(victim), "victim");
    WIN32_FIND_DATAW found{};
    Utils::UniqueFindHandle search(::FindFirstFileW((user / L"__Package*").c_str(), &found));
    EXPECT_FALSE(search) << "a file was made through the link";

    removeStable();
    {
        Attempts a;
        a.inputs.elevated = true;
        a.plan.fail = true;
        a.Run(installDir, "exit 0\n", DL_CODE_FAIL);
        EXPECT_EQ(a.plan.paths, std::vector<std::wstring>{stable + L"\\__Package_Tunivox.exe"});
        EXPECT_FALSE(TestSupport::FileExists(installDir + L"\\__Package_Tunivox.exe"));
    }
    EXPECT_TRUE(TestSupport::FileExists(stable)) << "kept for a download that resumes";
    EXPECT_FALSE(TestSupport::FileExists(stable + L"\\__Package_Tunivox.exe")) << "deleted after 1004";
    Utils::UniqueFileHandle folder(::CreateFileW(stable.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder);
    const std::wstring sddl = Utils::ReadBackSddl(folder.get(), SE_FILE_OBJECT);
    if (!Utils::IsAdministratorsOnlySddl(sddl)) {
        // Wine keeps no folder descriptor: the next run refuses this folder and makes one of its own (above).
        std::printf("the working folder reads back as %s: folder descriptors are not kept here\n",
                    TestSupport::Utf8(sddl).c_str());
    }
    folder.reset();
    removeStable();
}

TEST(DownloadInstaller, RemovalRunsBetweenTheChecksAndThePackage) {
    enum class Copy { made, noFolder, fails };
    struct Case {
        const char* name;
        const char* script;
        Copy copy;
        bool downloadFails;
        std::vector<int> codes;
        bool removalRan;
        RunState state;
    };
    const Case cases[] = {
        {"a failed download leaves the earlier installation alone",
         "exit 0\n",
         Copy::made,
         true,
         {1001, 1002, 1004},
         false,
         RunState::DownloadFailed},
        {"a removal failure runs no package",
         "say State=Fail\\n\n",
         Copy::made,
         false,
         {1001, 1002, 1003, 5001, 5002, 5004},
         true,
         RunState::RemovalFailed},
        {"no private folder: exactly one 5004",
         "exit 0\n",
         Copy::noFolder,
         false,
         {1001, 1002, 1003, 5001, 5004},
         false,
         RunState::RemovalFailed},
        // The recorded uninstaller cannot be copied (here it is a folder): nothing runs in its place.
        {"a failed copy: exactly one 5004",
         "exit 0\n",
         Copy::fails,
         false,
         {1001, 1002, 1003, 5001, 5004},
         false,
         RunState::RemovalFailed},
        // Only the first success line counts, and the package waits until the uninstaller has ended.
        {"double success",
         "say State=Success\\n\nsleep 1500\nsay State=Success\\n\nsleep 300\n",
         Copy::made,
         false,
         {1001, 1002, 1003, 5001, 5002, 5003, 2001, 2002, 2003},
         true,
         RunState::Installed},
    };
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"orch");
        std::wstring uninstaller = dir / L"uninst.exe";
        if (c.copy == Copy::fails) {
            ASSERT_TRUE(::CreateDirectoryW(uninstaller.c_str(), nullptr));
        } else {
            ASSERT_TRUE(StandIn::CopyTo(uninstaller));
        }
        std::wstring removalScript = StandIn::WriteScript(dir / L"un.txt", c.script);
        StandIn::ScriptEnvironment env(removalScript);
        size_t foldersBefore = PrivateFolderCount(temp);
        Attempts a;
        a.plan.fail = c.downloadFails;
        std::unique_ptr<TempPathOverride> unusable;
        if (c.copy == Copy::noFolder) {
            unusable = std::make_unique<TempPathOverride>(L"C:\\no\\such\\folder\\");
        }
        a.inputs.uninstallerPath = uninstaller;
        a.Run(dir / L"New", "exit 0\n", c.codes.back());
        EXPECT_EQ(CodesOf(a.log.Events()), c.codes);
        EXPECT_EQ(a.plan.starts, 1);
        EXPECT_EQ(a.orchestrator->State(), c.state);
        EXPECT_EQ(StandIn::CommandLines(removalScript).size(), c.removalRan ? 1u : 0u);
        EXPECT_EQ(StandIn::CommandLines(a.script).size(), c.state == RunState::Installed ? 1u : 0u)
            << "the package runs only after a removal that succeeded";
        EXPECT_FALSE(TestSupport::FileExists(dir / L"New\\__Package_Tunivox.exe")) << "nothing is left to run";
        if (c.copy != Copy::made) {
            EXPECT_EQ(a.log.Events().back().message, L"可执行卸载文件不存在");
        }
        unusable.reset();
        EXPECT_EQ(PrivateFolderCount(temp), foldersBefore)
            << "the private folder is gone when the removal job has ended";
    }
}

TEST(DownloadInstaller, MissingUninstallerPathDownloadsAtOnce) {
    TempDir dir(L"orch");
    Attempts a;
    a.inputs.uninstallerPath = dir / L"gone\\uninst.exe";
    a.Run(dir.path(), "exit 0\n", IST_CODE_SUCCESS);
    EXPECT_EQ(CodesOf(a.log.Events()), (std::vector<int>{1001, 1002, 1003, 2001, 2002, 2003}));
}
