// The orchestrator with the real downloaders against the loopback nginx and the stand-in as the package.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "config/InstallerConfig.h"
#include "download/CurlDownloader.h"
#include "download/WinDownloader.h"
#include "install/DownloadInstaller.h"
#include "install/Folders.h"
#include "install/StatusCodes.h"
#include "tests/install/StandIn.h"
#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "utils/LogFile.h"
#include "utils/TextConv.h"

using TestSupport::TempDir;

namespace {

std::wstring W(const std::string& s) {
    return Utils::MultiByteToWide(s, Utils::kCodePageUtf8);
}

// The stand-in (or one of its variants) published under a unique name in nginx's document root.
class PublishedPackage {
public:
    explicit PublishedPackage(const wchar_t* variant = nullptr) : token(TestServers::UniqueToken("pkg")) {
        file = TestServers::NginxFile(L"files\\" + W(token) + L".exe");
        if (variant != nullptr) {
            ::CopyFileW(StandIn::Variant(variant).c_str(), file.c_str(), FALSE);
        } else {
            StandIn::CopyTo(file);
        }
        url = W(TestServers::NginxUrl("/files/" + token + ".exe"));
    }
    ~PublishedPackage() { ::DeleteFileW(file.c_str()); }
    std::string token;
    std::wstring file;
    std::wstring url;
};

struct Seen {
    Event event;
    RunState stateBefore;
};

class RealAttempt {
public:
    explicit RealAttempt(int downloadType)
        : savedInstCmd(g_installerConfig.InstCmd), savedType(g_installerConfig.DownloadType) {
        g_installerConfig.DownloadType = downloadType;
        orchestrator = std::make_unique<CDownloadInstaller>([this](int code, double value, const wchar_t* message) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                seen.push_back({Event{code, value, message}, orchestrator->State()});
            }
            log.Add(code, value, message);
        });
    }
    ~RealAttempt() {
        orchestrator.reset();
        g_installerConfig.InstCmd = savedInstCmd;
        g_installerConfig.DownloadType = savedType;
    }
    // Starts and waits for `finalCode`; then for the jobs to end.
    bool Run(const std::wstring& url, const std::wstring& dir, const std::string& packageScript, int finalCode) {
        script = StandIn::WriteScript(scripts.path() + L"\\package.txt", packageScript);
        g_installerConfig.InstCmd = StandIn::Argument(script);
        inputs.url = url;
        inputs.installDir = dir;
        orchestrator->Start(inputs);
        bool arrived = log.WaitFor(finalCode, 60000);
        RunState stateBefore = StateBefore(finalCode);
        orchestrator->WaitForInstallJob(60000);
        // The window hears of each event before the orchestrator reacts: let the reaction finish.
        for (int i = 0; i < 100 && orchestrator->State() == stateBefore; ++i) {
            ::Sleep(20);
        }
        return arrived;
    }
    RunState StateBefore(int code) {
        for (const Seen& s : All()) {
            if (s.event.code == code) {
                return s.stateBefore;
            }
        }
        return RunState::Ready;
    }
    std::vector<Seen> All() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    // The events without the download's progress reports (how many a small file gets depends on timing).
    std::vector<int> Codes() {
        std::vector<int> codes;
        for (const Seen& s : All()) {
            if (s.event.code == DL_CODE_PROGRESS) {
                continue;
            }
            codes.push_back(s.event.code);
        }
        return codes;
    }

    TempDir scripts{L"e2e"};
    std::wstring script;
    std::wstring savedInstCmd;
    int savedType;
    EventLog log;
    std::mutex mutex;
    std::vector<Seen> seen;
    AttemptInputs inputs;
    std::unique_ptr<CDownloadInstaller> orchestrator;
};

} // namespace

TEST(DownloadInstallerEndToEnd, DownloadTypeChoosesTheDownloader) {
    const std::pair<int, bool> cases[] = {{2, true}, {0, false}, {1, false}, {3, false}, {-1, false}};
    for (auto [type, system] : cases) {
        std::unique_ptr<CDownloader> d = CreateDownloader(
            type, [](int, double, const wchar_t*) {}, L"http://127.0.0.1:1/x", L"C:\\x.exe");
        EXPECT_EQ(dynamic_cast<CWinDownloader*>(d.get()) != nullptr, system) << type;
        EXPECT_EQ(dynamic_cast<CCurlDownloader*>(d.get()) != nullptr, !system) << type;
    }
    // The "-proxy" option reaches the libcurl downloader.
    const std::wstring savedProxy = g_installerConfig.Proxy;
    g_installerConfig.Proxy = L"http://127.0.0.1:3128";
    std::unique_ptr<CDownloader> d = CreateDownloader(
        1, [](int, double, const wchar_t*) {}, L"http://127.0.0.1:1/x", L"C:\\x.exe");
    g_installerConfig.Proxy = savedProxy;
    auto* curl = dynamic_cast<CCurlDownloader*>(d.get());
    ASSERT_NE(curl, nullptr);
    EXPECT_EQ(curl->proxyOption_, L"http://127.0.0.1:3128");
}

TEST(DownloadInstallerEndToEnd, DownloadThenPackageFullSequenceWithStatuses) {
    for (int type : {1, 2}) {
        SCOPED_TRACE(type);
        PublishedPackage package;
        TempDir dir(L"e2e");
        std::wstring installDir = dir / L"Program Files\\Tunivox";
        RealAttempt a(type);
        ASSERT_TRUE(a.Run(package.url, installDir,
                          "say Progress=0.5\\n\nsay ExePath=C:\\\\P\\\\a.exe\\nStartupStyle=UserStartup\\n\n"
                          "say State=Success\\n\nsleep 200\n",
                          IST_CODE_SUCCESS));
        EXPECT_EQ(a.Codes(), (std::vector<int>{1001, 1003, 2001, 2002, 2002, 3001, 3005, 2003}));
        std::vector<Seen> seen = a.All();
        // The window reads the status of the previous event while it handles each one.
        const std::map<int, RunState> entered = {{1001, RunState::DownloadStarted}, {1002, RunState::Downloading},
                                                 {1003, RunState::Downloaded},      {2001, RunState::InstallStarted},
                                                 {2002, RunState::Installing},      {2003, RunState::Installed}};
        RunState expectedBefore = RunState::Ready;
        for (const Seen& s : seen) {
            EXPECT_EQ(s.stateBefore, expectedBefore) << s.event.code;
            if (auto it = entered.find(s.event.code); it != entered.end()) {
                expectedBefore = it->second;
            }
        }
        EXPECT_EQ(a.orchestrator->State(), RunState::Installed);
        const wchar_t* downloaderName = type == 2 ? L"URLDownloadToFile" : L"LibCurl";
        for (const Seen& s : seen) {
            if (s.event.code == 1003) {
                EXPECT_EQ(s.event.message, downloaderName);
            }
        }
        std::wstring packagePath = installDir + L"\\__Package_Tunivox.exe";
        // Mended: the package still ran from the file when it reported success, so the deletion at 2003 failed
        // and the file stayed; it is deleted once the package has ended.
        EXPECT_FALSE(TestSupport::FileExists(packagePath)) << "the package is deleted after 2003";
        std::vector<std::wstring> modules = StandIn::Modules(a.script);
        ASSERT_EQ(modules.size(), 1u);
        EXPECT_EQ(modules[0], packagePath) << "the downloaded package ran";
        EXPECT_EQ(StandIn::CommandLines(a.script).at(0),
                  packagePath + L" /S -console=show -version=1.0.0 -dsc=true -ssc=true " + StandIn::Argument(a.script) +
                      L" -instdir=\"" + installDir + L"\" /D=" + installDir);
    }
}

TEST(DownloadInstallerEndToEnd, PackageFileIsGoneAfterFailureAndAfterAFailedDownload) {
    {
        PublishedPackage package;
        TempDir dir(L"e2e");
        RealAttempt a(1);
        ASSERT_TRUE(a.Run(package.url, dir.path(), "say State=Fail\\r\\n\nsleep 200\n", IST_CODE_FAIL));
        EXPECT_EQ(a.Codes(), (std::vector<int>{1001, 1003, 2001, 2002, 2004}));
        EXPECT_EQ(a.orchestrator->State(), RunState::InstallFailed);
        EXPECT_FALSE(TestSupport::FileExists(dir / L"__Package_Tunivox.exe"));
    }
    {
        TempDir dir(L"e2e");
        RealAttempt a(1);
        std::wstring missing = W(TestServers::NginxUrl("/files/" + TestServers::UniqueToken("none") + ".exe"));
        ASSERT_TRUE(a.Run(missing, dir.path(), "exit 0\n", DL_CODE_FAIL));
        EXPECT_EQ(a.Codes().front(), DL_CODE_START);
        EXPECT_EQ(a.Codes().back(), DL_CODE_FAIL);
        EXPECT_EQ(a.orchestrator->State(), RunState::DownloadFailed);
        EXPECT_FALSE(TestSupport::FileExists(dir / L"__Package_Tunivox.exe"));
        EXPECT_TRUE(StandIn::CommandLines(a.script).empty()) << "no package ran";
    }
}

TEST(DownloadInstallerEndToEnd, MirrorsAreTriedUntilOneServesAPackageThatPasses) {
    // The system downloader learns no HTTP status: it leaves each URL after its attempts, for the reason it logs.
    for (int type : {1, 2}) {
        SCOPED_TRACE(type);
        const std::wstring missing = W(TestServers::NginxUrl("/files/" + TestServers::UniqueToken("none") + ".exe"));
        const std::wstring cut = W(TestServers::FaultUrl(TestServers::UniqueToken("cut"), "cut=1000&cuts=100"));
        PublishedPackage tampered(L"rogue");
        PublishedPackage good;
        TempDir dir(L"e2e");
        TestSupport::LogCapture capture;
        RealAttempt a(type);
        a.inputs.mirrors = {cut, tampered.url, good.url};
        ASSERT_TRUE(a.Run(missing, dir.path(), "say State=Success\\n\n", IST_CODE_SUCCESS));
        EXPECT_EQ(a.orchestrator->State(), RunState::Installed);
        const std::vector<int> codes = a.Codes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), IST_CODE_REFUSED), 0) << "a refusal with a URL left is no end";
        EXPECT_EQ(StandIn::Modules(a.script).size(), 1u) << "only the good package ran";
        double shown = 0.0;
        for (const Event& e : a.log.Events()) {
            if (e.code == DL_CODE_PROGRESS) {
                EXPECT_GE(e.value, shown) << "the bar moved back at a switch";
                shown = std::max(shown, e.value);
            }
        }
        const std::pair<std::wstring, std::wstring> left[] = {
            {missing, type == 1 ? L": HTTP 404: no such file" : L": "},
            {cut, type == 1 ? L": retry budget spent (last code 18)" : L": "},
            {tampered.url, L": package refused: "},
        };
        std::wstring log;
        for (const std::wstring& line : capture.Lines()) {
            log += TestSupport::LogCapture::Message(line) + L"\n";
        }
        for (const auto& [url, why] : left) {
            EXPECT_NE(log.find(L"left " + Utils::UrlForLog(url) + why), std::wstring::npos)
                << Utils::WideToMultiByte(url, Utils::kCodePageUtf8);
        }
        EXPECT_NE(log.find(L"download from " + Utils::UrlForLog(good.url)), std::wstring::npos);
        EXPECT_EQ(log.find(L"left " + Utils::UrlForLog(good.url)), std::wstring::npos);
    }
}

TEST(DownloadInstallerEndToEnd, PreviousInstallationIsRemovedFirst) {
    PublishedPackage package;
    TempDir dir(L"e2e");
    std::wstring oldDir = dir / L"Old Tunivox";
    ASSERT_TRUE(CreateDirectoryChain(oldDir.c_str()));
    std::wstring uninstaller = oldDir + L"\\uninst.exe";
    ASSERT_TRUE(StandIn::CopyTo(uninstaller));
    std::wstring removalScript = StandIn::WriteScript(dir / L"un.txt", "say Progress=0.5\\n\nsay State=Success\\n\n");
    StandIn::ScriptEnvironment env(removalScript);
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);

    RealAttempt a(1);
    a.inputs.uninstallerPath = uninstaller;
    ASSERT_TRUE(a.Run(package.url, dir / L"New", "say State=Success\\n\n", IST_CODE_SUCCESS));
    EXPECT_EQ(a.Codes(), (std::vector<int>{1001, 1003, 5001, 5002, 5002, 5003, 2001, 2002, 2003}));
    std::vector<std::wstring> modules = StandIn::Modules(removalScript);
    ASSERT_EQ(modules.size(), 1u);
    // <temp>~KadoTemp.<16 hex digits>\Tunivox_un_asa.exe, run with the doubled backslash it was built with.
    const std::wstring prefix = std::wstring(temp) + L"~KadoTemp.";
    const std::wstring name = L"\\Tunivox_un_asa.exe";
    EXPECT_EQ(modules[0].rfind(prefix, 0), 0u) << "copied into a private temporary folder";
    EXPECT_EQ(modules[0].size(), prefix.size() + 16 + name.size());
    std::wstring folder = modules[0].substr(0, modules[0].size() - name.size() + 1);
    EXPECT_EQ(StandIn::CommandLines(removalScript),
              std::vector<std::wstring>{folder + name + L" /S -console=show _?=" + oldDir});
    EXPECT_FALSE(TestSupport::FileExists(folder)) << "the copy and its folder are deleted when the job ends";
}

TEST(DownloadInstallerEndToEnd, RemovalFailureRunsNoPackage) {
    PublishedPackage package;
    TempDir dir(L"e2e");
    std::wstring uninstaller = dir / L"uninst.exe";
    ASSERT_TRUE(StandIn::CopyTo(uninstaller));
    std::wstring removalScript = StandIn::WriteScript(dir / L"un.txt", "say Error=locked\\n\n");
    StandIn::ScriptEnvironment env(removalScript);
    RealAttempt a(1);
    a.inputs.uninstallerPath = uninstaller;
    ASSERT_TRUE(a.Run(package.url, dir / L"New", "exit 0\n", UNI_CODE_FAIL));
    ::Sleep(500);
    EXPECT_EQ(a.Codes(), (std::vector<int>{1001, 1003, 5001, 5002, 5004}));
    EXPECT_EQ(a.orchestrator->State(), RunState::RemovalFailed);
    EXPECT_TRUE(StandIn::CommandLines(a.script).empty()) << "the package did not run";
    EXPECT_FALSE(TestSupport::FileExists(dir / L"New\\__Package_Tunivox.exe"));
}
