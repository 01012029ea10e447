// TunivoxSetup.exe end to end: the real executable under a debugger that reads its log, real X mouse input at the
// centres of the controls (positions from the same skin resources the installer uses), the loopback nginx as the
// package server and either the real demo package or the scriptable stand-in as the package.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <vector>

#include "app/Startup.h"
#include "install/Folders.h"
#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/GuiDriver.h"
#include "tools/dbgcapture/DebugSession.h"
#include "ui/SkinFrameBase.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

using TestSupport::FileExists;

namespace {

const wchar_t kTitle[] = L"Lumetra音频转换器";
const char kRecordKey[] = "Software\\tovanique\\Tunivox";

std::wstring SetupExe() {
    return TestServers::WinePath(SETUP_EXE_UNIX);
}

// acctree.exe on the window titled `title`: its accessible tree, or with `press` the default action of that child.
TestSupport::ProcessResult AccTree(const std::wstring& title, const std::wstring& press = L"") {
    std::wstring command = L"\"" + TestServers::WinePath(ACCTREE_UNIX) + L"\" \"" + title + L"\"";
    if (!press.empty()) {
        command += L" --do \"" + press + L"\"";
    }
    return TestSupport::RunCommand(command, 30000);
}

// A window on one of the skins, never shown: it lays the controls out exactly as the installer's windows do.
class LayoutProbe : public CSkinFrameBase {
public:
    explicit LayoutProbe(const wchar_t* id) : CSkinFrameBase(L"probe.xml"), id_(id) {}
    std::wstring GetSkinFile() const override { return id_; }

private:
    std::wstring id_;
};

// Centre of a control of skin `id` (page `page` of the main window's tabs) in client coordinates.
POINT ControlCentre(const wchar_t* id, int page, const wchar_t* name) {
    LayoutProbe probe(id);
    EXPECT_TRUE(probe.Create(nullptr, L"probe", WS_POPUP, WS_EX_TOOLWINDOW));
    if (page >= 0) {
        if (auto* tabs = probe.Find<UiKit::TabLayout>(L"mainTabLayout")) {
            tabs->SelectItem(page);
        }
    }
    probe.UpdateLayout();
    UiKit::Control* c = probe.FindControl(name);
    EXPECT_NE(c, nullptr) << TestSupport::Utf8(name);
    POINT p{};
    if (c != nullptr) {
        const RECT& r = c->GetPos();
        p = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    probe.Close(0);
    return p;
}

struct FindData {
    DWORD pid;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp) {
    auto* d = reinterpret_cast<FindData*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t text[128] = {}, cls[64] = {};
    ::GetWindowTextW(hwnd, text, 128);
    ::GetClassNameW(hwnd, cls, 64);
    if (owner == d->pid && ::IsWindowVisible(hwnd) && std::wstring(cls) == L"XMLWnd" &&
        d->title == std::wstring(text)) {
        d->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible skinned window of process `pid` with this title.
HWND FindWindowOf(DWORD pid, const wchar_t* title) {
    FindData data{pid, title, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

// One run of the installer.
class InstallerRun {
public:
    explicit InstallerRun(const std::wstring& arguments) : InstallerRun(SetupExe(), arguments) {}
    InstallerRun(const std::wstring& exe, const std::wstring& arguments) {
        session_ = std::make_unique<Tools::DebugSession>(exe, L"\"" + exe + L"\" " + arguments);
    }
    ~InstallerRun() {
        if (session_->started() && !session_->WaitForExit(0)) {
            session_->Kill();
        }
    }
    Tools::DebugSession& log() { return *session_; }

    HWND WaitForWindow(const wchar_t* title, DWORD ms = 30000) {
        HWND found = nullptr;
        GuiDriver::PumpUntil([&] { return (found = FindWindowOf(session_->processId(), title)) != nullptr; }, ms);
        if (found != nullptr) {
            GuiDriver::Pump(400); // let it paint before the pointer arrives
        }
        return found;
    }
    HWND Main() { return WaitForWindow(kTitle); }

    // Clicks the control `name` of skin `id` inside `window`.
    void Click(HWND window, const wchar_t* id, int page, const wchar_t* name) {
        ASSERT_NE(window, nullptr) << "no window for " << TestSupport::Utf8(name);
        POINT p = ControlCentre(id, page, name);
        ::ClientToScreen(window, &p);
        ASSERT_TRUE(GuiDriver::Click(p)) << TestSupport::Utf8(name);
        GuiDriver::Pump(200);
    }
    void ClickMain(int page, const wchar_t* name) { Click(Main(), L"149", page, name); }
    // Goes from the start page to the custom page; its folder box, or nullptr when the page did not come.
    HWND OpenCustomPage() {
        ClickMain(0, L"customeBtn");
        return Expect("page=1") ? ::FindWindowExW(Main(), nullptr, L"Edit", nullptr) : nullptr;
    }
    // Closes the warning dialog that is up.
    void DismissWarning() { Click(WaitForWindow(L"消息框"), L"151", -1, L"closebtn"); }
    // Closes the main window from `page` and answers "是" in the exit dialog; the installer's exit code.
    DWORD CloseAndConfirm(int page) {
        ClickMain(page, L"closebtn");
        Click(WaitForWindow(L"消息框"), L"148", -1, L"okBtn");
        return ExitCode();
    }

    // Waits for a log line containing `needle` that arrives after the previous awaited one.
    bool Expect(const std::string& needle, DWORD ms = 60000) {
        int at = session_->WaitForLine(needle, ms, next_);
        if (at < 0) {
            return false;
        }
        next_ = static_cast<size_t>(at) + 1;
        return true;
    }
    bool Seen(const std::string& needle) const {
        for (const auto& line : session_->Lines()) {
            if (line.find(needle) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    DWORD ExitCode(DWORD ms = 30000) {
        DWORD code = 12345;
        EXPECT_TRUE(session_->WaitForExit(ms, &code)) << "the installer did not end";
        return code;
    }
    std::string LogText() const {
        std::string all;
        for (const auto& line : session_->Lines()) {
            all += line + "\n";
        }
        return all;
    }

private:
    std::unique_ptr<Tools::DebugSession> session_;
    size_t next_ = 0;
};

std::wstring RegistryValue(const wchar_t* name) {
    Utils::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\tovanique\\Tunivox", 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    wchar_t buffer[600] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS) {
        return L"<no value>";
    }
    return buffer;
}

std::wstring Ini(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    wchar_t buffer[300] = {};
    ::GetPrivateProfileStringW(section, key, L"<missing>", buffer, 300, file.c_str());
    return buffer;
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

// The package file goes once the package process has ended, which may be a moment after the done page.
bool GoneWithin(const std::wstring& path, DWORD ms = 30000) {
    for (DWORD waited = 0; FileExists(path); waited += 100) {
        if (waited >= ms)
            return false;
        ::Sleep(100);
    }
    return true;
}

std::wstring DefaultFolder() {
    return SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\Tunivox";
}

// Publishes a file at a path of the package server.
void Serve(const std::wstring& relative, const std::wstring& source) {
    std::wstring target = TestServers::NginxFile(relative);
    std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    ASSERT_TRUE(CreateDirectoryChain(folder.c_str()));
    ASSERT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE)) << TestSupport::Utf8(target);
}

std::wstring UrlArg(const std::string& path) {
    std::string url = TestServers::NginxUrl(path);
    return L"-downloadurl=" + std::wstring(url.begin(), url.end());
}

// A stand-in script for the package; its received command line lands in SCRIPT.cmdline.
std::wstring StandinScript(const TestSupport::TempDir& dir, const std::string& text) {
    std::wstring path = dir / L"package.script";
    EXPECT_TRUE(TestSupport::WriteBytes(path, text));
    return path;
}

class InstallerE2E : public ::testing::Test {
protected:
    void SetUp() override {
        // Every run starts on a machine without an earlier installation.
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\tovanique");
        TestSupport::RemoveTree(DefaultFolder());
        ::DeleteFileW((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Lumetra音频转换器.lnk").c_str());
        Serve(L"tunivox\\package\\setup_tunivox.exe", TestServers::WinePath(DEMO_PACKAGE_UNIX));
        Serve(L"tunivox\\standin\\setup.exe", TestServers::WinePath(STANDIN_UNIX));
    }
};

} // namespace

TEST_F(InstallerE2E, OneClickInstallWithTheDemoPackageRecordsEverythingAndStartsTheProductOnRequest) {
    InstallerRun run(UrlArg("/tunivox/package/setup_tunivox.exe"));
    HWND main = run.Main();
    ASSERT_NE(main, nullptr) << run.LogText();
    run.ClickMain(0, L"defaultInstallBtn");
    // The box is not ticked: the agreement dialog asks first.
    HWND agreement = run.WaitForWindow(L"用户协议");
    run.Click(agreement, L"147", -1, L"okBtn");
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    // The label and the bar follow the package's progress to the end before the done page.
    ASSERT_TRUE(run.Expect("progress=100 正在安装:100%", 120000)) << run.LogText();
    ASSERT_TRUE(run.Expect("page=3", 120000)) << run.LogText();
    ASSERT_TRUE(run.Expect("finished: ")) << run.LogText();

    std::wstring folder = DefaultFolder();
    // The 32-bit installer on 64-bit Windows: the 32-bit program folder, whatever Windows the prefix reports
    // (TUNIVOX_EXPECT_WINDOWS names the one this run's prefix is set to).
    EXPECT_EQ(folder, L"C:\\Program Files (x86)\\Tunivox");
    if (const char* windows = std::getenv("TUNIVOX_EXPECT_WINDOWS")) {
        EXPECT_TRUE(run.Seen(std::string("Windows ") + windows + ".")) << run.LogText();
    }
    EXPECT_EQ(RegistryValue(L"InstallPath"), folder);
    EXPECT_EQ(RegistryValue(L"UnInstallEp"), folder + L"\\uninst.ep");
    EXPECT_TRUE(FileExists(folder + L"\\Tunivox.exe"));
    // Elevated (as Wine's processes are), the package lives in the administrators' working folder, never in the
    // install folder; a working folder that fails its check is replaced by one for the run alone.
    const std::string programData = TestSupport::Utf8(SpecialFolder(CSIDL_COMMON_APPDATA));
    std::smatch work;
    const std::string log = run.LogText();
    ASSERT_TRUE(std::regex_search(log, work, std::regex(R"(working folder: (\S+\\TunivoxSetupWork(\.[0-9A-F]{16})?))")))
        << log;
    EXPECT_EQ(work[1].str().rfind(programData + "\\", 0), 0u) << work[1].str();
    EXPECT_TRUE(GoneWithin(Utils::MultiByteToWide(work[1].str(), 65001) + L"\\__Package_Tunivox.exe"))
        << "the package is removed after the run";
    EXPECT_FALSE(FileExists(folder + L"\\__Package_Tunivox.exe"));
    std::wstring setIni = folder + L"\\set.ini";
    EXPECT_EQ(Ini(setIni, L"Install", L"APPStore"), L"TunivoxSetup.exe");
    EXPECT_EQ(Ini(setIni, L"Install", L"AppName"), L"Tunivox");
    EXPECT_TRUE(
        std::regex_match(Ini(setIni, L"Install", L"DeviceID"), std::wregex(L"[0-9A-F]{12}[0-9a-f]{4}[0-9A-F]{16}")));
    std::wstring tracker = Ini(setIni, L"Install", L"PellSoftTrackerIni");
    EXPECT_EQ(tracker, SpecialFolder(CSIDL_APPDATA) + L"\\PellData\\Tunivox\\VetraTracker.ini");
    EXPECT_TRUE(
        std::regex_match(Ini(tracker, L"Init", L"UpdateTime"), std::wregex(LR"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")));
    // The one-click install asks for both shortcuts.
    EXPECT_TRUE(FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Lumetra音频转换器.lnk"));
    // UserStartup: nothing started yet; "立即体验" starts the product and closes the installer.
    EXPECT_EQ(::FindWindowW(L"TunivoxDemoProduct", nullptr), nullptr);
    run.ClickMain(3, L"openProduceBtn");
    EXPECT_EQ(run.ExitCode(), 0u);
    HWND product = nullptr;
    GuiDriver::PumpUntil([&] { return (product = ::FindWindowW(L"TunivoxDemoProduct", nullptr)) != nullptr; }, 20000);
    EXPECT_NE(product, nullptr) << "the product was started";
    if (product != nullptr) {
        ::PostMessageW(product, WM_CLOSE, 0, 0);
    }
}

// Wine's per-program library overrides (what WINEDLLOVERRIDES sets for one process, which a Windows parent cannot
// hand to its child) for TunivoxSetup.exe, removed again on destruction.
class NativeFirst {
public:
    explicit NativeFirst(const std::vector<std::wstring>& names) {
        Utils::UniqueHKey key;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
        for (const std::wstring& name : names) {
            const wchar_t value[] = L"native,builtin";
            ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
        }
    }
    ~NativeFirst() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\TunivoxSetup.exe"); }

private:
    static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\TunivoxSetup.exe\\DllOverrides";
};

TEST_F(InstallerE2E, LibrariesPlantedBesideTheInstallerAreNeverLoaded) {
    // Every library the installer or a system library it uses might look for by name, saved beside it in a
    // Downloads-like folder; Wine is told to prefer such copies, as Windows searches the program's folder first.
    // Not in the list: version and uxtheme, which Wine's own user32 takes from the program's folder while the
    // process starts, before any code of the program runs (on Windows user32 is a KnownDLL and does not).
    const std::vector<std::wstring> names = {L"bcrypt",  L"crypt32",  L"gdiplus",  L"msimg32", L"netapi32", L"urlmon",
                                             L"winmm",   L"wtsapi32", L"wintrust", L"secur32", L"iphlpapi", L"dwmapi",
                                             L"winhttp", L"wininet",  L"cryptnet", L"userenv"};
    TestSupport::TempDir downloads(L"planted");
    std::wstring exe = downloads / L"TunivoxSetup.exe";
    ASSERT_TRUE(::CopyFileW(SetupExe().c_str(), exe.c_str(), FALSE));
    for (const std::wstring& name : names) {
        ASSERT_TRUE(
            ::CopyFileW(TestServers::WinePath(PLANTED_DLL_UNIX).c_str(), (downloads / name + L".dll").c_str(), FALSE));
    }
    NativeFirst overrides(names);
    TestSupport::TempDir dir(L"plantpkg");
    std::wstring script = StandinScript(dir, "say State=Success\\r\\n\n");
    InstallerRun run(exe, UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    ASSERT_NE(run.Main(), nullptr) << run.LogText();
    run.ClickMain(0, L"treatyCb");
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("finished: ", 120000)) << run.LogText();
    EXPECT_EQ(RegistryValue(L"InstallPath"), DefaultFolder());
    run.ClickMain(3, L"closebtn");
    EXPECT_EQ(run.ExitCode(), 0u);
    for (const std::wstring& name : names) {
        EXPECT_FALSE(FileExists(downloads / name + L".dll.loaded")) << TestSupport::Utf8(name) << " was loaded";
    }
}

TEST_F(InstallerE2E, CustomInstallIntoAnotherFolderWithoutShortcuts) {
    TestSupport::TempDir dir(L"custom");
    // An empty or relative InstPath from the package cannot replace the folder chosen.
    std::wstring script = StandinScript(
        dir, "say Progress=0.5\\r\\nInstPath=\\r\\n\nsay InstPath=Tunivox\\r\\n\nsay State=Success\\r\\n\n");
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    HWND main = run.Main();
    ASSERT_NE(main, nullptr);
    HWND edit = run.OpenCustomPage();
    ASSERT_NE(edit, nullptr);
    std::wstring chosen = dir / L"my apps";
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
    run.ClickMain(1, L"createDSCb");
    run.ClickMain(1, L"createQSCb");
    run.ClickMain(1, L"treatyCb2");
    run.ClickMain(1, L"customeInstallBtn");
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    ASSERT_TRUE(run.Expect("page=3", 120000)) << run.LogText();
    ASSERT_TRUE(run.Expect("finished: ")) << run.LogText();
    std::string cmdline = TestSupport::ReadBytes(script + L".cmdline");
    std::string folder = TestSupport::Utf8(chosen + L"\\Tunivox");
    EXPECT_NE(cmdline.find(" /S -console=show -version=1.0.0 -dsc=false -ssc=false -standin="), std::string::npos)
        << cmdline;
    EXPECT_NE(cmdline.find(" -instdir=\"" + folder + "\" /D=" + folder), std::string::npos) << cmdline;
    EXPECT_EQ(RegistryValue(L"InstallPath"), chosen + L"\\Tunivox");
    EXPECT_EQ(Ini(chosen + L"\\Tunivox\\set.ini", L"Install", L"AppName"), L"Tunivox");
    run.ClickMain(3, L"closebtn"); // the done page closes without asking
    EXPECT_EQ(run.ExitCode(), 0u);
}

TEST_F(InstallerE2E, DownloadFailureReturnsToTheStartPageAndASecondAttemptWorks) {
    TestSupport::TempDir dir(L"dlfail");
    std::wstring script = StandinScript(dir, "say State=Success\\r\\n\n");
    ::DeleteFileW(TestServers::NginxFile(L"tunivox\\later\\setup.exe").c_str());
    InstallerRun run(UrlArg("/tunivox/later/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    ASSERT_NE(run.Main(), nullptr);
    run.ClickMain(0, L"treatyCb");
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    ASSERT_TRUE(run.Expect("message: 下载失败")) << run.LogText();
    HWND message = run.WaitForWindow(L"消息框");
    run.Click(message, L"150", -1, L"okBtn");
    ASSERT_TRUE(run.Expect("page=0")) << run.LogText();
    EXPECT_FALSE(FileExists(DefaultFolder() + L"\\__Package_Tunivox.exe"));
    // Once the server has the file, the same window installs.
    Serve(L"tunivox\\later\\setup.exe", TestServers::WinePath(STANDIN_UNIX));
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    ASSERT_TRUE(run.Expect("page=3", 120000)) << run.LogText();
    run.ClickMain(3, L"closebtn");
    EXPECT_EQ(run.ExitCode(), 0u);
}

TEST_F(InstallerE2E, PackageFailureShowsTheWarningAndReturnsToTheStartPage) {
    TestSupport::TempDir dir(L"pkgfail");
    // A zero byte inside a line swallows nothing: the verdict after it in a later write still counts.
    std::wstring script =
        StandinScript(dir, "say Progress=0.3\\r\\nStartUrl=x\\0yz\\r\\n\nsleep 500\nsay State=Fail\\r\\n\n");
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    ASSERT_NE(run.Main(), nullptr);
    run.ClickMain(0, L"treatyCb");
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("warning: 安装包安装失败", 120000)) << run.LogText();
    // The taskbar button followed the bar (Progress=0.3 is 78 there) and shows the error state at that value;
    // its calls did not fail.
    EXPECT_TRUE(run.Seen("progress=78 ")) << run.LogText();
    EXPECT_TRUE(run.Seen("taskbar: error 78%")) << run.LogText();
    EXPECT_FALSE(run.Seen("taskbar: call failed")) << run.LogText();
    run.DismissWarning();
    ASSERT_TRUE(run.Expect("page=0")) << run.LogText();
    EXPECT_TRUE(GoneWithin(DefaultFolder() + L"\\__Package_Tunivox.exe"));
    EXPECT_EQ(RegistryValue(L"InstallPath"), L"<no key>") << "a failed installation is not recorded";
    // Closing from the start page asks first; "是" ends the installer.
    EXPECT_EQ(run.CloseAndConfirm(0), 0u);
}

// The stand-in signed otherwise, beside the signed one: "unsigned", "rogue" (a CA nobody trusts).
std::wstring StandinVariant(const wchar_t* name) {
    std::wstring standin = TestServers::WinePath(STANDIN_UNIX);
    return standin.substr(0, standin.size() - 4) + L"-" + name + L".exe";
}

TEST_F(InstallerE2E, PackageThatFailsItsCheckIsNeverStartedAndTheWindowWarns) {
    TestSupport::TempDir dir(L"refused");
    std::wstring changed = dir / L"changed.exe";
    ASSERT_TRUE(::CopyFileW(TestServers::WinePath(STANDIN_UNIX).c_str(), changed.c_str(), FALSE));
    {
        std::string bytes = TestSupport::ReadBytes(changed);
        ASSERT_GT(bytes.size(), 0x801u);
        bytes[0x800] = static_cast<char>(bytes[0x800] ^ 0x5A);
        ASSERT_TRUE(TestSupport::WriteBytes(changed, bytes));
    }
    const struct {
        const char* name;
        std::wstring package;
        std::wstring extra;
    } cases[] = {
        {"one byte changed", changed, L""},
        {"unsigned", StandinVariant(L"unsigned"), L""},
        {"signed by an untrusted CA", StandinVariant(L"rogue"), L""},
        {"signer other than -packagesigner", TestServers::WinePath(STANDIN_UNIX), L" \"-packagesigner=Someone Else\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(L"tunivox\\refused\\setup.exe", c.package);
        std::wstring script = StandinScript(dir, "say State=Success\\r\\n\n");
        ::DeleteFileW((script + L".cmdline").c_str());
        InstallerRun run(UrlArg("/tunivox/refused/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"" + c.extra);
        ASSERT_NE(run.Main(), nullptr) << run.LogText();
        run.ClickMain(0, L"treatyCb");
        run.ClickMain(0, L"defaultInstallBtn");
        ASSERT_TRUE(run.Expect("warning: 安装包校验失败，请重新下载", 120000)) << run.LogText();
        EXPECT_TRUE(run.Seen("package refused: ")) << "the log names the check";
        run.DismissWarning();
        ASSERT_TRUE(run.Expect("page=0")) << run.LogText();
        EXPECT_FALSE(FileExists(script + L".cmdline")) << "the package never started";
        EXPECT_FALSE(FileExists(DefaultFolder() + L"\\__Package_Tunivox.exe")) << "the package is deleted";
        EXPECT_EQ(RegistryValue(L"InstallPath"), L"<no key>") << "nothing is recorded";
        EXPECT_EQ(run.CloseAndConfirm(0), 0u);
    }
}

TEST_F(InstallerE2E, ClosingIsRefusedWhileInstallingAndTheSecondInstanceExitsAtOnce) {
    TestSupport::TempDir dir(L"close");
    std::wstring gate = dir / L"go";
    {
        // The first installer and its debugger session are gone before the next one starts: with two sessions alive
        // at once the test program has aborted under load in a failed thread join (std::system_error, ESRCH).
        std::string script =
            "say Progress=0.2\\r\\n\nwaitfile " + TestSupport::Utf8(gate) + "\nsay State=Success\\r\\n\n";
        std::wstring scriptPath = StandinScript(dir, script);
        InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + scriptPath + L"\"");
        HWND main = run.Main();
        ASSERT_NE(main, nullptr);

        // A second installer, with options that would change its configuration, ends with -1 and shows nothing.
        DWORD start = ::GetTickCount();
        auto second = TestSupport::RunCommand(L"\"" + SetupExe() + L"\" -downloadtype=2", 30000);
        EXPECT_EQ(second.exitCode, 0xFFFFFFFFu);
        EXPECT_LT(::GetTickCount() - start, 20000u);

        run.ClickMain(0, L"treatyCb");
        run.ClickMain(0, L"defaultInstallBtn");
        ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
        ASSERT_TRUE(run.Expect("IST_CODE_PROGRESS", 60000)) << run.LogText();
        ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::PostMessageW(main, WM_CLOSE, 0, 0);
        GuiDriver::Pump(1500);
        EXPECT_TRUE(::IsWindow(main)) << "page 2 cannot be closed";
        EXPECT_EQ(FindWindowOf(run.log().processId(), L"消息框"), nullptr) << "no exit dialog on page 2";
        EXPECT_FALSE(run.Seen("page=0"));
        ASSERT_TRUE(TestSupport::WriteBytes(gate, "go"));
        ASSERT_TRUE(run.Expect("page=3", 60000)) << run.LogText();
        run.ClickMain(3, L"closebtn");
        EXPECT_EQ(run.ExitCode(), 0u);
    }
    // With the first one gone, a new installer starts and shows its window.
    InstallerRun again(L"");
    HWND next = again.Main();
    EXPECT_NE(next, nullptr);
    ::PostMessageW(next, WM_SYSCOMMAND, SC_CLOSE, 0); // page 0: the exit dialog asks
    HWND exitDialog = again.WaitForWindow(L"消息框");
    again.Click(exitDialog, L"148", -1, L"okBtn");
    EXPECT_EQ(again.ExitCode(), 0u);
}

// Only keys: Esc and Alt+F4 ask to leave and Esc in the question stays; Tab and Space tick the agreement; Enter on the
// check box presses the main button; on the done page the focus is on "立即体验" and Enter ends the installer.
TEST_F(InstallerE2E, KeyboardOnlyInstall) {
    TestSupport::TempDir dir(L"keys");
    std::wstring script = StandinScript(dir, "say Progress=0.5\\r\\n\nsay State=Success\\r\\n\n");
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    HWND main = run.Main();
    ASSERT_NE(main, nullptr) << run.LogText();
    POINT blank{20, 60}; // an empty spot of the start page: the X display sends the keys to the window under it
    ::ClientToScreen(main, &blank);
    ASSERT_TRUE(GuiDriver::MoveMouse(blank));
    for (const wchar_t* leave : {L"Escape", L"alt+F4"}) {
        ASSERT_TRUE(GuiDriver::Keys(leave));
        HWND question = run.WaitForWindow(L"消息框", 10000);
        ASSERT_NE(question, nullptr) << TestSupport::Utf8(leave) << " on the start page asks as the close button does";
        ASSERT_TRUE(GuiDriver::Keys(L"Escape"));
        EXPECT_TRUE(GuiDriver::PumpUntil([&] { return !::IsWindow(question); }, 10000)) << "Esc is the dialog's 否";
        ASSERT_TRUE(::IsWindow(main));
    }
    ASSERT_TRUE(GuiDriver::Keys(L"Tab space Return"));
    ASSERT_TRUE(run.Expect("page=2")) << "no agreement dialog: the box was ticked\n" << run.LogText();
    EXPECT_EQ(FindWindowOf(run.log().processId(), L"用户协议"), nullptr);
    ASSERT_TRUE(run.Expect("page=3", 120000)) << run.LogText();
    GuiDriver::Pump(500);
    ASSERT_TRUE(GuiDriver::Keys(L"Return"));
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(RegistryValue(L"InstallPath"), DefaultFolder());
}

// Only what a screen reader offers, from another process: the trees of the pages and the agreement dialog, and
// each press through a default action. The accessibility library the installer loads for it is the system's, not a
// copy saved beside the installer.
TEST_F(InstallerE2E, InstallDrivenByDefaultActions) {
    TestSupport::TempDir dir(L"acc");
    std::wstring exe = dir / L"TunivoxSetup.exe";
    ASSERT_TRUE(::CopyFileW(SetupExe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(TestServers::WinePath(PLANTED_DLL_UNIX).c_str(), (dir / L"oleacc.dll").c_str(), FALSE));
    NativeFirst overrides({L"oleacc"});
    std::wstring gate = dir / L"go";
    std::wstring gate2 = dir / L"done";
    std::wstring script = StandinScript(dir, "say Progress=0.2\\r\\n\nwaitfile " + TestSupport::Utf8(gate) +
                                                 "\nsay Progress=0.6\\r\\n\nwaitfile " + TestSupport::Utf8(gate2) +
                                                 "\nsay State=Success\\r\\n\n");
    InstallerRun run(exe, UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    ASSERT_NE(run.Main(), nullptr) << run.LogText();
    // A tree as the tool prints it, shown in the test's output too.
    auto tree = [](const std::wstring& title) {
        auto read = AccTree(title);
        std::printf("%s", read.output.c_str());
        return read;
    };
    auto start = tree(kTitle);
    EXPECT_NE(start.output.find("push button \"一键安装\" [focusable focused default]"), std::string::npos)
        << start.output;
    EXPECT_NE(start.output.find("check button \"已同意\" [focusable]"), std::string::npos) << start.output;
    // The custom page and the question the close button asks, each left again through a default action.
    EXPECT_EQ(AccTree(kTitle, L"自定义安装").exitCode, 0u);
    ASSERT_TRUE(run.Expect("page=1")) << run.LogText();
    auto custom = tree(kTitle);
    EXPECT_NE(custom.output.find("push button \"立即安装\""), std::string::npos) << custom.output;
    EXPECT_EQ(AccTree(kTitle, L"返回").exitCode, 0u);
    ASSERT_TRUE(run.Expect("page=0")) << run.LogText();
    EXPECT_EQ(AccTree(kTitle, L"关闭").exitCode, 0u);
    ASSERT_NE(run.WaitForWindow(L"消息框"), nullptr) << "the close button asks first";
    auto question = tree(L"消息框");
    EXPECT_EQ(question.output.rfind("dialog ", 0), 0u) << question.output;
    EXPECT_EQ(AccTree(L"消息框", L"否").exitCode, 0u);
    EXPECT_EQ(AccTree(kTitle, L"一键安装").exitCode, 0u);
    ASSERT_NE(run.WaitForWindow(L"用户协议"), nullptr) << "the box is not ticked: the agreement asks";
    auto agreement = tree(L"用户协议");
    EXPECT_EQ(agreement.output.rfind("dialog \"温馨提示\"", 0), 0u) << agreement.output;
    EXPECT_EQ(AccTree(L"用户协议", L"同意并安装").exitCode, 0u);
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    ASSERT_TRUE(run.Expect("progress=76 ", 60000)) << run.LogText();
    auto installing = tree(kTitle);
    EXPECT_NE(installing.output.find("progress bar \"\" [read only] value=\"76%\""), std::string::npos)
        << installing.output;
    EXPECT_EQ(installing.output.find("push button"), std::string::npos) << "nothing to press while installing";
    ASSERT_TRUE(TestSupport::WriteBytes(gate, "go"));
    ASSERT_TRUE(run.Expect("progress=88 ", 60000)) << run.LogText();
    GuiDriver::Pump(300); // the value is announced at most every quarter of a second
    auto later = tree(kTitle);
    EXPECT_NE(later.output.find("value=\"88%\""), std::string::npos) << later.output;
    ASSERT_TRUE(TestSupport::WriteBytes(gate2, "go"));
    ASSERT_TRUE(run.Expect("page=3", 60000)) << run.LogText();
    auto done = tree(kTitle);
    EXPECT_NE(done.output.find("push button \"立即体验\" [focusable focused default]"), std::string::npos)
        << done.output;
    EXPECT_EQ(AccTree(kTitle, L"立即体验").exitCode, 0u);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(RegistryValue(L"InstallPath"), DefaultFolder());
    EXPECT_FALSE(FileExists(dir / L"oleacc.dll.loaded")) << "the copy beside the installer was loaded";
}

TEST_F(InstallerE2E, InvalidFolderIsRefusedAndThePageStays) {
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe"));
    HWND main = run.Main();
    ASSERT_NE(main, nullptr);
    HWND edit = run.OpenCustomPage();
    ASSERT_NE(edit, nullptr);
    run.ClickMain(1, L"treatyCb2");
    // Too long, empty (it would become the relative folder "Tunivox"), relative, drive-relative.
    const std::wstring invalid[] = {L"C:\\" + std::wstring(270, L'x'), L"", L"apps\\here", L"C:apps"};
    for (const std::wstring& folder : invalid) {
        SCOPED_TRACE(TestSupport::Utf8(folder));
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
        run.ClickMain(1, L"customeInstallBtn");
        ASSERT_TRUE(run.Expect("warning: 无效路径")) << run.LogText();
        run.DismissWarning();
        GuiDriver::Pump(500);
        EXPECT_FALSE(run.Seen("page=2")) << "no installation started";
    }
    // Back on the custom page with the buttons usable: close through the exit dialog.
    EXPECT_EQ(run.CloseAndConfirm(1), 0u);
}

TEST_F(InstallerE2E, PreviousInstallationIsProposedKeptInPlaceAndRemovedBeforeInstallingElsewhere) {
    TestSupport::TempDir dir(L"prev");
    std::wstring previous = dir / L"old\\Tunivox";
    ASSERT_TRUE(CreateDirectoryChain(previous.c_str()));
    std::wstring marker = previous + L"\\uninst.ep";
    ASSERT_TRUE(::CopyFileW(TestServers::WinePath(STANDIN_UNIX).c_str(), marker.c_str(), FALSE));
    {
        Utils::UniqueHKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\tovanique\\Tunivox", 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key.get(), L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous.c_str()),
                         static_cast<DWORD>(previous.size() * 2));
    }
    // The old uninstaller is the stand-in too; its command line is fixed, so its script comes from the environment.
    std::wstring removal = dir / L"removal.script";
    ASSERT_TRUE(TestSupport::WriteBytes(removal, "say Progress=1\\r\\n\nsay State=Success\\r\\n\n"));
    ::SetEnvironmentVariableW(L"TUNIVOX_STANDIN_SCRIPT", removal.c_str());
    std::wstring package = StandinScript(dir, "say State=Success\\r\\n\n");
    const std::wstring args = UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + package + L"\"";
    {
        // Installing into the recorded folder, whose set.ini says nothing about IsOverride: nothing is removed.
        InstallerRun run(args);
        HWND main = run.Main();
        ASSERT_NE(main, nullptr);
        wchar_t proposed[MAX_PATH] = {};
        // WM_GETTEXT itself: GetWindowTextW does not ask a control of another process for its text.
        ::SendMessageW(::FindWindowExW(main, nullptr, L"Edit", nullptr), WM_GETTEXT, MAX_PATH,
                       reinterpret_cast<LPARAM>(proposed));
        EXPECT_EQ(std::wstring(proposed), previous) << "the recorded folder is proposed while its marker exists";
        run.ClickMain(0, L"treatyCb");
        run.ClickMain(0, L"defaultInstallBtn");
        ASSERT_TRUE(run.Expect("finished: ", 120000)) << run.LogText();
        EXPECT_FALSE(FileExists(removal + L".cmdline")) << "the old uninstaller did not run";
        run.ClickMain(3, L"closebtn");
        EXPECT_EQ(run.ExitCode(), 0u);
    }
    {
        // The registry still names the old folder and its marker: installing elsewhere removes it first, from the
        // private copy in the temporary folder.
        InstallerRun run(args);
        HWND main = run.Main();
        ASSERT_NE(main, nullptr);
        HWND edit = run.OpenCustomPage();
        ASSERT_NE(edit, nullptr);
        std::wstring elsewhere = dir / L"new";
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(elsewhere.c_str()));
        run.ClickMain(1, L"treatyCb2");
        run.ClickMain(1, L"customeInstallBtn");
        ASSERT_TRUE(run.Expect("finished: ", 120000)) << run.LogText();
        std::string removalLine = TestSupport::ReadBytes(removal + L".cmdline");
        EXPECT_NE(removalLine.find(" /S -console=show _?=" + TestSupport::Utf8(previous)), std::string::npos)
            << removalLine;
        std::string ran = TestSupport::ReadBytes(removal + L".module");
        // Elevated: inside the administrators' working folder, not the user's temporary folder.
        EXPECT_TRUE(std::regex_search(
            ran, std::regex(R"(\\TunivoxSetupWork(\.[0-9A-F]{16})?\\~KadoTemp\.[0-9A-F]{16}\\Tunivox_un_asa\.exe)")))
            << ran;
        std::string folder = ran.substr(0, ran.find("\\Tunivox_un_asa.exe"));
        EXPECT_FALSE(FileExists(Utils::MultiByteToWide(folder, 65001))) << "the private folder is gone afterwards";
        EXPECT_EQ(RegistryValue(L"InstallPath"), elsewhere + L"\\Tunivox");
        run.ClickMain(3, L"closebtn");
        EXPECT_EQ(run.ExitCode(), 0u);
    }
    ::SetEnvironmentVariableW(L"TUNIVOX_STANDIN_SCRIPT", nullptr);
}

TEST_F(InstallerE2E, TooLittleFreeSpaceIsRefusedAndThePageStays) {
    std::wstring state = TestServers::WinePath(SMALLDRIVE_STATE_UNIX);
    if (FileExists(state + L"\\unavailable")) {
        GTEST_SKIP() << "no small drive: " << TestSupport::ReadBytes(state + L"\\unavailable");
    }
    ASSERT_EQ(::GetDriveTypeW(L"Q:\\") != DRIVE_NO_ROOT_DIR, true) << "drive Q: is mapped to the small tmpfs";
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe"));
    HWND main = run.Main();
    ASSERT_NE(main, nullptr);
    HWND edit = run.OpenCustomPage();
    ASSERT_NE(edit, nullptr);
    std::wstring folder = L"Q:\\apps";
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    run.ClickMain(1, L"treatyCb2");
    run.ClickMain(1, L"customeInstallBtn");
    ASSERT_TRUE(run.Expect("warning: 当前磁盘剩余空间不足2GB，请修改安装路径")) << run.LogText();
    run.DismissWarning();
    GuiDriver::Pump(500);
    EXPECT_FALSE(run.Seen("page=2")) << "no installation started";
    // The buttons are usable again: a second try gives the same answer.
    run.ClickMain(1, L"customeInstallBtn");
    ASSERT_TRUE(run.Expect("warning: 当前磁盘剩余空间不足2GB，请修改安装路径")) << run.LogText();
    run.DismissWarning();
    EXPECT_EQ(run.CloseAndConfirm(1), 0u);
}

// Below Windows 7 SP1 the installer only says which Windows it needs (run in a prefix set to an older Windows).
TEST_F(InstallerE2E, AnOlderWindowsIsToldWhichWindowsTheInstallerNeeds) {
    if (App::RunsOnSupportedWindows()) {
        GTEST_SKIP() << "the prefix reports a supported Windows";
    }
    InstallerRun run(UrlArg("/tunivox/package/setup_tunivox.exe"));
    HWND box = nullptr;
    GuiDriver::PumpUntil(
        [&] {
            box = ::FindWindowW(L"#32770", kTitle);
            return box != nullptr && ::IsWindowVisible(box);
        },
        30000);
    ASSERT_NE(box, nullptr) << run.LogText();
    DWORD owner = 0;
    ::GetWindowThreadProcessId(box, &owner);
    EXPECT_EQ(owner, run.log().processId());
    // The message box's text is its static control (id 0xFFFF).
    wchar_t text[256] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 256);
    EXPECT_STREQ(text, App::kUnsupportedWindowsText);
    EXPECT_EQ(FindWindowOf(run.log().processId(), kTitle), nullptr) << "no installer window";
    RECT button{};
    HWND ok = ::GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr);
    ::GetWindowRect(ok, &button);
    ASSERT_TRUE(GuiDriver::Click(POINT{(button.left + button.right) / 2, (button.top + button.bottom) / 2}));
    EXPECT_EQ(run.ExitCode(), 0xFFFFFFFFu) << "no window was run";
    EXPECT_FALSE(FileExists(DefaultFolder())) << "nothing was installed";
}

namespace {

// Records an earlier installation in `folder` with a copy of `uninstaller` (the signed stand-in when empty) as its
// uninstaller and a set.ini that asks for its removal before installing over it.
void RecordEarlierInstallation(const std::wstring& folder, const std::wstring& uninstaller = {}) {
    ASSERT_TRUE(CreateDirectoryChain(folder.c_str()));
    const std::wstring source = uninstaller.empty() ? TestServers::WinePath(STANDIN_UNIX) : uninstaller;
    ASSERT_TRUE(::CopyFileW(source.c_str(), (folder + L"\\uninst.ep").c_str(), FALSE));
    ASSERT_TRUE(::WritePrivateProfileStringW(L"Uninstall", L"IsOverride", L"false", (folder + L"\\set.ini").c_str()));
    Utils::UniqueHKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\tovanique\\Tunivox", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key.get(), L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>(folder.size() * 2));
}

// Sets an environment variable of this process (and so of the installers it starts) for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[1024] = {};
        DWORD n = ::GetEnvironmentVariableW(name, old, 1024);
        had_ = n > 0 && n < 1024;
        old_ = had_ ? old : L"";
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring old_;
};

} // namespace

// One-click install over an earlier installation whose removal fails in each way it can: the warning names the
// failure and the window goes back to the start page, where closing works again.
TEST_F(InstallerE2E, RemovalFailureWarnsAndReturnsToTheStartPage) {
    TestSupport::TempDir files(L"rmsrc");
    const std::wstring notAProgram = files / L"not-a-program.exe";
    ASSERT_TRUE(TestSupport::WriteBytes(notAProgram, "this is not a program"));
    struct Case {
        const char* name;
        const char* removalScript;
        std::wstring uninstaller; // what the earlier installation left as its uninstaller; empty: the signed stand-in
        bool lockedUninstaller;   // another program holds it without sharing: the private copy cannot be made
        const char* warning;
        const char* logged; // a line the run must log, or null
    } cases[] = {
        {"the uninstaller says State=Fail",
         "say Progress=0.5\\r\\n\nsay State=Fail\\r\\n\n",
         {},
         false,
         "warning: 安装包卸载失败",
         nullptr},
        {"the copy is not a program", "", notAProgram, false, "warning: 卸载旧版本失败",
         "uninstaller refused: signature"},
        {"the uninstaller is unsigned", "", StandinVariant(L"unsigned"), false, "warning: 卸载旧版本失败",
         "uninstaller refused: signature"},
        {"the uninstaller's signer chains to a CA nobody trusts", "", StandinVariant(L"rogue"), false,
         "warning: 卸载旧版本失败", "uninstaller refused: signer chain"},
        {"no copy could be made", "", {}, true, "warning: 可执行卸载文件不存在", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\tovanique");
        TestSupport::TempDir dir(L"rmfail");
        std::wstring previous = dir / L"old\\Tunivox";
        RecordEarlierInstallation(previous, c.uninstaller);
        std::wstring removal = dir / L"removal.script";
        ASSERT_TRUE(TestSupport::WriteBytes(removal, c.removalScript));
        ScopedEnvironment script(L"TUNIVOX_STANDIN_SCRIPT", removal);
        std::wstring package = StandinScript(dir, "say State=Success\\r\\n\n");
        // The copy goes into the working folder (elevated) or the temporary folder: an uninstaller nobody may read
        // is what keeps it from being made either way.
        Utils::UniqueFileHandle lock;
        if (c.lockedUninstaller) {
            lock.reset(::CreateFileW((previous + L"\\uninst.ep").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(lock);
        }
        auto run = std::make_unique<InstallerRun>(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" +
                                                  package + L"\"");
        ASSERT_NE(run->Main(), nullptr);
        run->ClickMain(0, L"treatyCb");
        run->ClickMain(0, L"defaultInstallBtn");
        ASSERT_TRUE(run->Expect("page=2")) << run->LogText();
        ASSERT_TRUE(run->Expect(c.warning, 60000)) << run->LogText();
        run->DismissWarning();
        ASSERT_TRUE(run->Expect("page=0")) << run->LogText();
        EXPECT_FALSE(FileExists(package + L".cmdline")) << "the new package ran after a failed removal";
        if (c.logged != nullptr) {
            EXPECT_TRUE(run->Seen(c.logged)) << run->LogText();
            EXPECT_FALSE(FileExists(removal + L".cmdline")) << "the refused uninstaller ran";
        }
        EXPECT_EQ(run->CloseAndConfirm(0), 0u);
    }
}

// The product stand-in: a copy of the stand-in whose command lines land in `dir`\product.script.cmdline. The
// desktop shell starts it with explorer's environment, so the script's path lies beside it (product.exe.script).
std::wstring ProductStandIn(const TestSupport::TempDir& dir) {
    std::wstring product = dir / L"product.exe";
    EXPECT_TRUE(::CopyFileW(TestServers::WinePath(STANDIN_UNIX).c_str(), product.c_str(), FALSE));
    EXPECT_TRUE(TestSupport::WriteBytes(product + L".script", TestSupport::Utf8(dir / L"product.script")));
    return product;
}

// A path as stand-in script text (its backslashes escaped).
std::string ScriptText(const std::wstring& path) {
    std::string text;
    for (char ch : TestSupport::Utf8(path)) {
        text += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    }
    return text;
}

size_t LineCount(const std::string& text) {
    size_t n = 0;
    for (char ch : text) {
        n += ch == '\n' ? 1 : 0;
    }
    return n;
}

// The package's verdict is heard while the package still runs, however it ends its output: a verdict written last
// without a line end, and facts written after the verdict in the same write (here: start the product at once).
TEST_F(InstallerE2E, VerdictIsHeardWhileThePackageStillRuns) {
    struct Case {
        const char* name;
        const char* output; // stand-in text; PRODUCT is replaced by the product's path
        bool productStarts;
    } cases[] = {
        {"a verdict without a line end", "Progress=0.5\\r\\nState=Success", false},
        {"facts after the verdict in the same write",
         "ExePath=PRODUCT\\r\\nState=Success\\r\\nStartupStyle=AutoStartup", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::TempDir dir(L"held");
        std::wstring product = ProductStandIn(dir);
        std::wstring productScript = dir / L"product.script";
        ScopedEnvironment env(L"TUNIVOX_STANDIN_SCRIPT", productScript);
        std::wstring gate = dir / L"gate";
        std::string output = c.output;
        size_t at = output.find("PRODUCT");
        if (at != std::string::npos) {
            output.replace(at, 7, ScriptText(product));
        }
        // The package waits for the test: it ends only after the window has shown the done page.
        std::wstring script = StandinScript(dir, "say " + output + "\nwaitfile " + TestSupport::Utf8(gate) + "\n");
        InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
        ASSERT_NE(run.Main(), nullptr);
        run.ClickMain(0, L"treatyCb");
        run.ClickMain(0, L"defaultInstallBtn");
        bool done = run.Expect("page=3", 30000);
        ASSERT_TRUE(TestSupport::WriteBytes(gate, "go"));
        ASSERT_TRUE(done) << "the done page came only when the package ended\n" << run.LogText();
        ASSERT_TRUE(run.Expect("finished: ")) << run.LogText();
        if (c.productStarts) {
            GuiDriver::PumpUntil([&] { return FileExists(productScript + L".cmdline"); }, 20000);
        }
        EXPECT_EQ(FileExists(productScript + L".cmdline"), c.productStarts);
        run.ClickMain(3, L"closebtn");
        EXPECT_EQ(run.ExitCode(), 0u);
    }
}

// "立即体验" clicked twice in quick succession starts the product once.
TEST_F(InstallerE2E, ProductStartsOnceFromTheDonePage) {
    TestSupport::TempDir dir(L"once");
    std::wstring product = ProductStandIn(dir);
    std::wstring productScript = dir / L"product.script";
    ScopedEnvironment env(L"TUNIVOX_STANDIN_SCRIPT", productScript);
    std::wstring script = StandinScript(dir, "say ExePath=" + ScriptText(product) +
                                                 "\\r\\nStartupStyle=UserStartup\\r\\n\nsay State=Success\\r\\n\n");
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script + L"\"");
    HWND main = run.Main();
    ASSERT_NE(main, nullptr);
    run.ClickMain(0, L"treatyCb");
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("page=3", 120000)) << run.LogText();
    GuiDriver::Pump(500);
    POINT p = ControlCentre(L"149", 3, L"openProduceBtn");
    ::ClientToScreen(main, &p);
    ASSERT_TRUE(GuiDriver::Click(p, 2));
    EXPECT_EQ(run.ExitCode(), 0u);
    GuiDriver::PumpUntil([&] { return FileExists(productScript + L".cmdline"); }, 20000);
    GuiDriver::Pump(2000); // a second start, if any, has written its line by now
    EXPECT_EQ(LineCount(TestSupport::ReadBytes(productScript + L".cmdline")), 1u);
    // Started by the desktop shell, with the user's rights, not the installer's (Wine has no elevation to show).
    EXPECT_TRUE(run.Seen("product started through the desktop shell (un-elevated)")) << run.LogText();
}

// "修改" opens the system's folder picker on the UI thread; the folder picked there becomes the chosen folder.
TEST_F(InstallerE2E, ChangeButtonPicksAFolder) {
    InstallerRun run(UrlArg("/tunivox/standin/setup.exe"));
    HWND main = run.Main();
    ASSERT_NE(main, nullptr);
    HWND edit = run.OpenCustomPage();
    ASSERT_NE(edit, nullptr);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    run.ClickMain(1, L"chDirBtn");
    HWND picker = nullptr;
    GuiDriver::PumpUntil(
        [&] {
            picker = ::FindWindowW(L"#32770", nullptr);
            DWORD pid = 0;
            ::GetWindowThreadProcessId(picker, &pid);
            return picker != nullptr && pid == run.log().processId() && ::IsWindowVisible(picker);
        },
        20000);
    ASSERT_NE(picker, nullptr) << "the folder picker did not open\n" << run.LogText();
    GuiDriver::Pump(1000);
    wchar_t title[200] = {};
    ::GetWindowTextW(picker, title, 200);
    HWND ok = ::GetDlgItem(picker, IDOK);
    ASSERT_NE(ok, nullptr);
    ::SendMessageW(ok, BM_CLICK, 0, 0);
    GuiDriver::PumpUntil([&] { return !::IsWindow(picker); }, 10000);
    wchar_t chosen[MAX_PATH] = {};
    ::SendMessageW(edit, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(chosen));
    EXPECT_NE(std::wstring(chosen), L"") << "the picked folder is shown";
    EXPECT_NE(::GetFileAttributesW(chosen), INVALID_FILE_ATTRIBUTES) << TestSupport::Utf8(chosen);
    EXPECT_EQ(run.CloseAndConfirm(1), 0u);
}

// What support asks a customer for: the log file in the temporary folder. It holds every line logged up to the
// moment the installer was killed mid-download, starts with the configuration (URL without its query), and the
// folder keeps ten of them.
TEST_F(InstallerE2E, LogFileHoldsEverythingLoggedUpToAKillAndTenAreKept) {
    TestSupport::TempDir temp(L"logs");
    ScopedEnvironment tmp(L"TMP", temp.path());
    ScopedEnvironment tempVar(L"TEMP", temp.path());
    for (int day = 10; day < 22; ++day) {
        const std::wstring name = L"TunivoxSetup_200001" + std::to_wstring(day) + L"_000000_1.log";
        ASSERT_TRUE(TestSupport::WriteBytes(temp / name, "x"));
    }
    // The package server sends a little and then holds the connection: the download is under way when it is killed.
    std::string url = TestServers::FaultUrl("logkill", "stall=100000&secret=1");
    InstallerRun run(L"-ischecknet=false \"-downloadurl=" + std::wstring(url.begin(), url.end()) + L"\"");
    ASSERT_NE(run.Main(), nullptr) << run.LogText();
    run.ClickMain(0, L"treatyCb");
    run.ClickMain(0, L"defaultInstallBtn");
    ASSERT_TRUE(run.Expect("page=2")) << run.LogText();
    ASSERT_TRUE(run.Expect("progress=")) << run.LogText();
    GuiDriver::Pump(300);
    run.log().Kill();
    std::vector<std::string> seen = run.log().Lines();

    std::vector<std::wstring> logs;
    WIN32_FIND_DATAW found{};
    Utils::UniqueFindHandle search(::FindFirstFileW((temp / L"TunivoxSetup_*.log").c_str(), &found));
    ASSERT_TRUE(search);
    do {
        logs.emplace_back(found.cFileName);
    } while (::FindNextFileW(search.get(), &found));
    EXPECT_EQ(logs.size(), 10u) << "nine earlier ones and this run's";
    EXPECT_FALSE(FileExists(temp / L"TunivoxSetup_20000110_000000_1.log")) << "the oldest went first";
    const std::wstring ours = temp / (L"TunivoxSetup_*_" + std::to_wstring(run.log().processId()) + L".log");
    Utils::UniqueFindHandle mine(::FindFirstFileW(ours.c_str(), &found));
    ASSERT_TRUE(mine) << "this run's log is named by its process id";
    const std::string text = TestSupport::ReadBytes(temp / found.cFileName);

    // Every line the debug log wrote from the opening of the file to the kill is in the file (the window's bare URL
    // writes go to the debug channel only, so a token in the URL never reaches the file). Each thread writes the file
    // before the debug channel, so lines of two threads may reach the two in different orders.
    size_t from = 0, checked = 0;
    for (const std::string& line : seen) {
        if (line.find("log file: ") != std::string::npos) {
            from = 1;
        }
        if (from == 0 || line.rfind("<P", 0) != 0) {
            continue;
        }
        ASSERT_NE(text.find(line), std::string::npos) << "missing from the file: " << line;
        ++checked;
    }
    EXPECT_GT(checked, 10u);
    EXPECT_NE(text.find("progress="), std::string::npos);
    EXPECT_NE(text.find("DownloadUrl=" + url.substr(0, url.find('?')) + " (command line)"), std::string::npos) << text;
    EXPECT_EQ(text.find("secret=1"), std::string::npos) << "no query string in the log";
    EXPECT_NE(text.find("IsCheckNet=false (command line)"), std::string::npos);
}

namespace {

// Every window mapped on the X display while it lives: xev on the root window reports each MapNotify of a
// top-level window, whichever program maps it.
class XMapWatch {
public:
    XMapWatch()
        : out_(TestSupport::ExeFolder() + L"\\xmapwatch.txt"), pid_(TestSupport::ExeFolder() + L"\\xmapwatch.pid") {
        ::DeleteFileW(out_.c_str());
        started_ = GuiDriver::RunHost(L"/usr/bin/xev -root -event substructure > '" + GuiDriver::UnixPath(out_) +
                                      L"' 2>&1 & echo $! > '" + GuiDriver::UnixPath(pid_) + L"'");
    }
    ~XMapWatch() {
        if (started_) {
            (void)GuiDriver::RunHost(L"kill $(cat '" + GuiDriver::UnixPath(pid_) + L"')");
        }
    }
    XMapWatch(const XMapWatch&) = delete;
    XMapWatch& operator=(const XMapWatch&) = delete;

    size_t Maps() const {
        std::string text = TestSupport::ReadBytes(out_);
        size_t n = 0;
        for (size_t at = text.find("MapNotify"); at != std::string::npos; at = text.find("MapNotify", at + 1)) {
            ++n;
        }
        return n;
    }
    // Shows windows of this process until xev has reported one: proves the watch sees what it must see. xev
    // selects its events only once it has started, so a window mapped before that is not seen: map again.
    bool SeesAWindow() {
        const size_t before = Maps();
        const DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < 20000) {
            HWND probe = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"probe", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20,
                                           nullptr, nullptr, nullptr, nullptr);
            const bool seen = GuiDriver::PumpUntil([&] { return Maps() > before; }, 1000);
            ::DestroyWindow(probe);
            GuiDriver::Pump(300);
            if (seen) {
                return true;
            }
        }
        return false;
    }

private:
    std::wstring out_;
    std::wstring pid_;
    bool started_ = false;
};

} // namespace

// -silent: one row per outcome the loopback server and the stand-ins can produce, each with its exit code; no
// window is ever mapped on the display, no product started. (Exit code 3, no network, is checked by
// no-network.sh inside a namespace without a network.)
TEST_F(InstallerE2E, SilentRunEndsWithTheExitCodeOfItsOutcome) {
    XMapWatch watch;
    ASSERT_TRUE(watch.SeesAWindow()) << "the X map watch does not work";
    const size_t mapsBefore = watch.Maps();
    TestSupport::TempDir dir(L"silent");
    std::wstring product = ProductStandIn(dir);
    std::wstring productScript = dir / L"product.script";
    ScopedEnvironment productEnv(L"TUNIVOX_STANDIN_SCRIPT", productScript);
    const std::wstring chosen = dir / L"chosen";
    const std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Lumetra音频转换器.lnk";
    const bool smallDrive = !FileExists(TestServers::WinePath(SMALLDRIVE_STATE_UNIX) + L"\\unavailable");
    // An upgrade into another folder: the earlier installation (its uninstaller is the stand-in, following
    // productScript) goes only once the new package is downloaded and verified.
    const std::wstring earlier = dir / L"old\\Tunivox";
    auto recordEarlier = [&] {
        RecordEarlierInstallation(earlier);
        ASSERT_TRUE(TestSupport::WriteBytes(productScript, "say State=Success\\r\\n\n"));
    };
    auto earlierKept = [&] {
        EXPECT_FALSE(FileExists(productScript + L".cmdline")) << "the earlier installation was removed";
        EXPECT_EQ(RegistryValue(L"InstallPath"), earlier);
    };
    struct Case {
        const char* name;
        std::wstring args;
        const char* packageScript;    // for the stand-in served at /tunivox/standin/setup.exe
        std::function<void()> before; // state the run starts from
        int exitCode;
        const char* logged; // a line the run must log
        std::function<void(const std::wstring& script)> check;
    } cases[] = {
        {"an upgrade with the demo package into -instdir, no desktop shortcut",
         UrlArg("/tunivox/package/setup_tunivox.exe") + L" \"-instdir=" + chosen + L"\" -desktopshortcut=false",
         nullptr, recordEarlier, 0, "finished: ",
         [&](const std::wstring&) {
             EXPECT_TRUE(FileExists(productScript + L".cmdline")) << "the earlier installation was not removed";
             EXPECT_EQ(RegistryValue(L"InstallPath"), chosen);
             EXPECT_EQ(RegistryValue(L"UnInstallEp"), chosen + L"\\uninst.ep");
             EXPECT_TRUE(FileExists(chosen + L"\\Tunivox.exe"));
             EXPECT_EQ(Ini(chosen + L"\\set.ini", L"Install", L"AppName"), L"Tunivox");
             EXPECT_FALSE(FileExists(chosen + L"\\__Package_Tunivox.exe"));
             EXPECT_FALSE(FileExists(desktopLink));
             EXPECT_EQ(::FindWindowW(L"TunivoxDemoProduct", nullptr), nullptr);
         }},
        {"installed into the one-click folder; messages logged, the product not started",
         UrlArg("/tunivox/standin/setup.exe"),
         "say Progress=0.5\\r\\nMessage=hello there\\r\\nExePath=PRODUCT\\r\\nStartUrl=http://127.0.0.1:9/start\\r\\n"
         "StartupStyle=AutoStartup\\r\\n\nsay State=Success\\r\\n\n",
         nullptr, 0, "message: hello there",
         [&](const std::wstring& script) {
             EXPECT_EQ(RegistryValue(L"InstallPath"), DefaultFolder());
             std::string cmdline = TestSupport::ReadBytes(script + L".cmdline");
             EXPECT_NE(cmdline.find("-dsc=true -ssc=true"), std::string::npos) << cmdline;
             GuiDriver::Pump(1000);
             EXPECT_FALSE(FileExists(productScript + L".cmdline")) << "the product was started";
         }},
        {"a relative folder", UrlArg("/tunivox/standin/setup.exe") + L" -instdir=apps\\here", nullptr, nullptr, 1,
         "warning: 无效路径", nullptr},
        {"too little free space", UrlArg("/tunivox/standin/setup.exe") + L" -instdir=Q:\\apps", nullptr, nullptr,
         smallDrive ? 2 : -2, "warning: 当前磁盘剩余空间不足2GB，请修改安装路径", nullptr},
        {"the download fails", UrlArg("/tunivox/nothing/here.exe"), nullptr, recordEarlier, 4,
         "here.exe answered HTTP 404", [&](const std::wstring&) { earlierKept(); }},
        // Mended: exit 0, and the next run would not have found the installation.
        {"installed, but set.ini cannot be written", UrlArg("/tunivox/standin/setup.exe"), "say State=Success\\r\\n\n",
         [&] { ASSERT_TRUE(CreateDirectoryChain((DefaultFolder() + L"\\set.ini").c_str())); }, 9,
         "silent: installed into ", nullptr},
        {"the package fails its check", UrlArg("/tunivox/refused/setup.exe"), "say State=Success\\r\\n\n",
         [&] {
             Serve(L"tunivox\\refused\\setup.exe", StandinVariant(L"unsigned"));
             recordEarlier();
         },
         5, "package refused: ",
         [&](const std::wstring& script) {
             EXPECT_FALSE(FileExists(script + L".cmdline")) << "it never ran";
             earlierKept();
         }},
        {"the package reports a failure", UrlArg("/tunivox/standin/setup.exe"), "say State=Fail\\r\\n\n", nullptr, 6,
         "silent: failed with 2004 (安装包安装失败)", nullptr},
        {"the earlier installation cannot be removed", UrlArg("/tunivox/standin/setup.exe"),
         "say State=Success\\r\\n\n",
         [&] {
             RecordEarlierInstallation(dir / L"old\\Tunivox");
             ASSERT_TRUE(TestSupport::WriteBytes(productScript, "say State=Fail\\r\\n\n"));
         },
         7, "silent: failed with 5004 (安装包卸载失败)", nullptr},
        {"the earlier installation's uninstaller is unsigned", UrlArg("/tunivox/standin/setup.exe"),
         "say State=Success\\r\\n\n",
         [&] {
             RecordEarlierInstallation(dir / L"old\\Tunivox", StandinVariant(L"unsigned"));
             ASSERT_TRUE(TestSupport::WriteBytes(productScript, "say State=Success\\r\\n\n"));
         },
         7, "uninstaller refused: signature",
         [&](const std::wstring& script) {
             EXPECT_FALSE(FileExists(productScript + L".cmdline")) << "the refused uninstaller ran";
             EXPECT_FALSE(FileExists(script + L".cmdline")) << "the package ran";
         }},
        {"-desktopshortcut without true or false", UrlArg("/tunivox/standin/setup.exe") + L" -desktopshortcut=yes",
         nullptr, nullptr, 8, "silent: bad option -desktopshortcut=yes", nullptr},
        {"-instdir without a folder", UrlArg("/tunivox/standin/setup.exe") + L" -instdir", nullptr, nullptr, 8,
         "silent: bad option -instdir=", nullptr},
        {"an option the installer does not know, named without its value",
         UrlArg("/tunivox/standin/setup.exe") + L" -passwrod=s3cret", nullptr, nullptr, 8,
         "silent: unknown option -passwrod",
         [&](const std::wstring&) { EXPECT_FALSE(FileExists(DefaultFolder() + L"\\Tunivox.exe")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.exitCode == -2) {
            continue; // no small drive on this machine
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\tovanique");
        TestSupport::RemoveTree(DefaultFolder());
        TestSupport::RemoveTree(chosen);
        ::DeleteFileW(desktopLink.c_str());
        ::DeleteFileW((productScript + L".cmdline").c_str());
        ::DeleteFileW(productScript.c_str());
        if (c.before) {
            c.before();
        }
        std::wstring script;
        std::wstring args = L"-silent " + c.args;
        if (c.packageScript != nullptr) {
            std::string text = c.packageScript;
            size_t at = text.find("PRODUCT");
            if (at != std::string::npos) {
                text.replace(at, 7, ScriptText(product));
            }
            script = StandinScript(dir, text);
            ::DeleteFileW((script + L".cmdline").c_str());
            args += L" \"-instcmd=-standin=" + script + L"\"";
        }
        InstallerRun run(args);
        EXPECT_EQ(static_cast<int>(run.ExitCode(180000)), c.exitCode) << run.LogText();
        EXPECT_TRUE(run.Seen(c.logged)) << run.LogText();
        // The log ends with the outcome, the exit code and why.
        std::string text = run.LogText();
        text.erase(text.find_last_not_of("\r\n") + 1);
        const std::string last = text.substr(text.find_last_of('\n') + 1);
        std::printf("exit %d, last log line: %s\n", c.exitCode, last.c_str());
        EXPECT_NE(last.find("result: "), std::string::npos) << last;
        EXPECT_NE(last.find(", exit code " + std::to_string(c.exitCode) + ": "), std::string::npos) << last;
        EXPECT_FALSE(run.Seen("page=")) << "no window";
        if (c.check) {
            c.check(script);
        }
    }
    // Asking for help runs nothing: the options and exit codes on the standard output, exit 0.
    for (const wchar_t* help : {L" /?", L" --help"}) {
        TestSupport::ProcessResult shown = TestSupport::RunCommand(L"\"" + SetupExe() + L"\"" + help);
        EXPECT_EQ(shown.exitCode, 0u);
        EXPECT_NE(shown.output.find("-silent"), std::string::npos) << shown.output;
        EXPECT_NE(shown.output.find("8 bad command line"), std::string::npos) << shown.output;
    }
    // A second installer while a silent one runs: -1 at once, also in silent mode.
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\tovanique");
        std::wstring gate = dir / L"gate";
        std::wstring script = StandinScript(dir, "say Progress=0.2\\r\\n\nwaitfile " + TestSupport::Utf8(gate) +
                                                     "\nsay State=Success\\r\\n\n");
        InstallerRun first(L"-silent " + UrlArg("/tunivox/standin/setup.exe") + L" \"-instcmd=-standin=" + script +
                           L"\"");
        ASSERT_TRUE(first.Expect("IST_CODE_PROGRESS", 120000)) << first.LogText();
        const std::wstring secondLog = dir / L"second.log";
        auto second = TestSupport::RunCommand(L"\"" + SetupExe() + L"\" -silent \"-log=" + secondLog + L"\"", 30000);
        EXPECT_EQ(second.exitCode, 0xFFFFFFFFu);
        const std::string secondText = TestSupport::ReadBytes(secondLog);
        EXPECT_NE(secondText.find("result: not installed, exit code -1: another installer is running"),
                  std::string::npos)
            << secondText;
        ASSERT_TRUE(TestSupport::WriteBytes(gate, "go"));
        EXPECT_EQ(first.ExitCode(120000), 0u) << first.LogText();
    }
    EXPECT_EQ(watch.Maps(), mapsBefore) << "a window was mapped during a silent run";
}
