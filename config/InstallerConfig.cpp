#include "config/InstallerConfig.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include "config/ConfigValues.h"
#include "sysinfo/WindowsVersion.h"
#include "utils/ScopedWin.h"

InstallerConfig g_installerConfig;

namespace {

constexpr DWORD kIniValueCapacity = 260;

// A list of URLs may be longer than one path: up to 2,048 characters.
constexpr DWORD kIniListCapacity = 2049;

std::wstring ReadIniText(const std::wstring& path, const wchar_t* key, const wchar_t* fallback,
                         DWORD capacity = kIniValueCapacity) {
    std::vector<wchar_t> buffer(capacity);
    ::GetPrivateProfileStringW(L"Install", key, fallback, buffer.data(), capacity, path.c_str());
    return buffer.data();
}

// Whether the ini file gives `key` at all (a missing key takes the default but is not the ini's choice).
bool IniHasKey(const std::wstring& path, const wchar_t* key) {
    constexpr wchar_t kAbsent[] = L"\x01"
                                  L"absent";
    return ReadIniText(path, key, kAbsent) != kAbsent;
}

std::wstring ExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return {};
    }
    return path;
}

// An empty value adds nothing: it cannot mean "no check".
void AddPin(std::vector<std::wstring>& pins, const std::wstring& value) {
    if (!value.empty()) {
        pins.push_back(value);
    }
}

// "true" or "false", nothing else: a deployment script that says "yes" or "0" is told so rather than guessed at.
void ApplyTrueFalse(const std::wstring& key, const std::wstring& value, bool& out, std::vector<std::wstring>& bad) {
    if (value == L"true" || value == L"false") {
        out = value == L"true";
    } else {
        bad.push_back(key + L"=" + value);
    }
}

} // namespace

std::wstring ExpandUrlRoute(const std::wstring& url) {
    if (url.find(L"${ROUTE}") == std::wstring::npos) {
        return url;
    }
    return Config::ReplaceRoute(url, Config::RouteForVersionName(GetWindowsVersionName()));
}

std::wstring InstallerIniPath() {
    wchar_t folder[MAX_PATH] = {};
    std::wstring exe = ExecutablePath();
    if (exe.empty()) {
        return {};
    }
    lstrcpynW(folder, exe.c_str(), MAX_PATH);
    ::PathRemoveFileSpecW(folder);
    return std::wstring(folder) + L"\\ZKInstallerConfig.ini";
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine, &count);
    if (argv == nullptr) {
        return args;
    }
    Utils::UniqueLocalMem owner(reinterpret_cast<HLOCAL>(argv));
    for (int i = 0; i < count; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

InstallerConfig::InstallerConfig() {
    LoadDefaults();
    std::wstring exe = ExecutablePath();
    if (!exe.empty()) {
        wchar_t name[MAX_PATH] = {};
        lstrcpynW(name, exe.c_str(), MAX_PATH);
        ::PathStripPathW(name);
        ExeFileName = name;
    }
    std::wstring ini = InstallerIniPath();
    if (!ini.empty()) {
        LoadIni(ini);
    }
}

InstallerConfig::InstallerConfig(DefaultsOnly) {
    LoadDefaults();
}

void InstallerConfig::LoadDefaults() {
    SetInstCmd(L"");
    SetDownloadUrl(INSTALLER_DEFAULT_DOWNLOAD_URL);
    DownloadType = 1;
    IsCheckNet = true;
    DownloadScale = 0.7;
    PackageSigners.clear();
    PackageSha256s.clear();
    sources = Sources{};
    IniPath.clear();
    IgnoredIniKeys.clear();
    Proxy.clear();
    MirrorUrls.clear();
    DownloadConnections = Config::kDefaultConnections;
}

void InstallerConfig::LoadIni(const std::wstring& path) {
    if (!::PathFileExistsW(path.c_str())) {
        return;
    }
    SetDownloadUrl(ReadIniText(path, L"DownloadUrl", INSTALLER_DEFAULT_DOWNLOAD_URL));
    DownloadType = static_cast<int>(::GetPrivateProfileIntW(L"Install", L"DownloadType", 1, path.c_str()));
    IsCheckNet = ReadIniText(path, L"IsCheckNet", L"true") == L"true";
    IsEnableAppSensors = ReadIniText(path, L"IsEnableAppSensors", L"true") == L"true";
    DlAppNameSuffix = ReadIniText(path, L"DlAppNameSuffix", L".downloader");
    DlAppVersion = ReadIniText(path, L"m_DlAppVersion", L"");
    // An ini share that does not convert is 0.0, not the default.
    DownloadScale = Config::ParseReal(ReadIniText(path, L"DownloadScale", L"0.7")).value_or(0.0);
    SetInstCmd(ReadIniText(path, L"InstCmd", L""));
    // A value that is not a number keeps the default (and its layer).
    const std::optional<int> connections = Config::ParseConnections(ReadIniText(path, L"DownloadConnections", L""));
    DownloadConnections = connections.value_or(Config::kDefaultConnections);
    SetMirrorUrls(ReadIniText(path, L"MirrorUrls", L"", kIniListCapacity));
    AddPin(PackageSigners, ReadIniText(path, L"PackageSigner", L""));
    AddPin(PackageSha256s, ReadIniText(path, L"PackageSha256", L""));
    IniPath = path;
    // Every key name of the section (a list ended by an empty name); a misspelt key is named in the log.
    std::vector<wchar_t> names(32768);
    const DWORD length = ::GetPrivateProfileStringW(L"Install", nullptr, L"", names.data(),
                                                    static_cast<DWORD>(names.size()), path.c_str());
    for (const wchar_t* name = names.data(); name < names.data() + length && *name != L'\0'; name += wcslen(name) + 1) {
        if (!Config::IsKnownIniKey(name)) {
            IgnoredIniKeys.push_back(name);
        }
    }
    const std::pair<const wchar_t*, Layer*> keys[] = {
        {L"InstCmd", &sources.InstCmd},
        {L"DownloadUrl", &sources.DownloadUrl},
        {L"DownloadType", &sources.DownloadType},
        {L"IsCheckNet", &sources.IsCheckNet},
        {L"DownloadScale", &sources.DownloadScale},
    };
    for (const auto& [key, layer] : keys) {
        if (IniHasKey(path, key)) {
            *layer = Layer::Ini;
        }
    }
    if (connections) {
        sources.DownloadConnections = Layer::Ini;
    }
}

void InstallerConfig::ApplyCommandLine(const wchar_t* commandLine) {
    ApplyArguments(SplitCommandLine(commandLine));
}

void InstallerConfig::ApplyArguments(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> given;
    for (const std::wstring& arg : args) {
        given.push_back(Config::ConventionalSwitch(arg));
    }
    NoteIgnoredArguments(given);
    const Config::OptionMap options = Config::ParseOptions(given);
    ApplySharedOptions(options);
    ApplySilentOptions(options);
}

void InstallerConfig::NoteIgnoredArguments(const std::vector<std::wstring>& given) {
    // Every argument after the program's own name that names no option.
    if (given.empty()) {
        return;
    }
    for (const auto& [key, value] : Config::ParseOptions({given.begin() + 1, given.end()})) {
        if (!Config::IsKnownOption(key)) {
            IgnoredArguments.push_back(Config::NameOnly(key));
        }
    }
}

namespace {

const std::wstring* FindOption(const Config::OptionMap& options, const wchar_t* key) {
    auto it = options.find(key);
    return it == options.end() ? nullptr : &it->second;
}

} // namespace

void InstallerConfig::ApplySharedOptions(const Config::OptionMap& options) {
    auto find = [&options](const wchar_t* key) { return FindOption(options, key); };
    if (const std::wstring* v = find(L"-downloadurl")) {
        SetDownloadUrl(*v);
        sources.DownloadUrl = Layer::CommandLine;
    }
    if (const std::wstring* v = find(L"-downloadtype")) {
        DownloadType = Config::ParseInt32(*v).value_or(0);
        sources.DownloadType = Layer::CommandLine;
    }
    if (const std::wstring* v = find(L"-downloadscale")) {
        // A share that does not convert keeps the value (and the layer) the earlier layers gave.
        if (auto share = Config::ParseReal(*v)) {
            DownloadScale = *share;
            sources.DownloadScale = Layer::CommandLine;
        }
    }
    if (const std::wstring* v = find(L"-ischecknet")) {
        IsCheckNet = *v == L"true";
        sources.IsCheckNet = Layer::CommandLine;
    }
    if (const std::wstring* v = find(L"-log")) {
        LogPath = *v;
    }
    if (const std::wstring* v = find(L"-isenableappsensors")) {
        IsEnableAppSensors = *v == L"true";
    }
    if (const std::wstring* v = find(L"-dlappnamesuffix")) {
        DlAppNameSuffix = *v;
    }
    if (const std::wstring* v = find(L"-dlappversion")) {
        DlAppVersion = *v;
    }
    if (const std::wstring* v = find(L"-instcmd")) {
        SetInstCmd(*v);
        sources.InstCmd = Layer::CommandLine;
    }
    if (const std::wstring* v = find(L"-packagesigner")) {
        AddPin(PackageSigners, *v);
    }
    if (const std::wstring* v = find(L"-packagesha256")) {
        AddPin(PackageSha256s, *v);
    }
    if (const std::wstring* v = find(L"-connections")) {
        // A value that is not a number keeps what the earlier layers gave.
        if (auto connections = Config::ParseConnections(*v)) {
            DownloadConnections = *connections;
            sources.DownloadConnections = Layer::CommandLine;
        }
    }
    if (const std::wstring* v = find(L"-proxy")) {
        Proxy = *v;
    }
    if (const std::wstring* v = find(L"-mirrorurls")) {
        SetMirrorUrls(*v);
    }
    if (const std::wstring* v = find(L"-package")) {
        PackagePath = *v;
    }
}

void InstallerConfig::ApplySilentOptions(const Config::OptionMap& options) {
    auto find = [&options](const wchar_t* key) { return FindOption(options, key); };
    // Any -silent means no window, even with a value it cannot take: an unattended run must never wait for a click.
    if (const std::wstring* v = find(L"-silent")) {
        Silent = true;
        if (!v->empty() && *v != L"true") {
            BadOptions.push_back(L"-silent=" + *v);
        }
    }
    if (const std::wstring* v = find(L"-instdir")) {
        SilentInstDir = *v;
        if (v->empty()) {
            BadOptions.push_back(L"-instdir=");
        }
    }
    if (const std::wstring* v = find(L"-desktopshortcut")) {
        ApplyTrueFalse(L"-desktopshortcut", *v, SilentDesktopShortcut, BadOptions);
    }
    if (const std::wstring* v = find(L"-quicklaunch")) {
        ApplyTrueFalse(L"-quicklaunch", *v, SilentQuickLaunch, BadOptions);
    }
}

void InstallerConfig::SetDownloadUrl(const std::wstring& url) {
    DownloadUrl = ExpandUrlRoute(url);
}

void InstallerConfig::SetMirrorUrls(const std::wstring& text) {
    MirrorUrls.clear();
    for (const std::wstring& url : Config::SplitUrlList(text)) {
        MirrorUrls.push_back(ExpandUrlRoute(url));
    }
}

void InstallerConfig::SetInstCmd(const std::wstring& cmd) {
    InstCmd = cmd;
}

void ApplyCommandLine() {
    g_installerConfig.ApplyCommandLine(::GetCommandLineW());
}
