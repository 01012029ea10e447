// The process-wide configuration record: built-in defaults, then "ZKInstallerConfig.ini" beside the executable
// (both during static construction), then the command line (applied once by the entry point). Read-only from the
// creation of the main window on, which is what makes reading it from worker threads without a lock safe.
#pragma once

#include <string>
#include <vector>

#include "config/ConfigValues.h"

#define INSTALLER_DEFAULT_DOWNLOAD_URL L"https://dl.example.com/tunivox/package/setup_tunivox.exe"

class InstallerConfig {
public:
    // Layers 1 and 2 for the executable this process runs.
    InstallerConfig();
    // Layer 1 only; for building a record from explicit layers.
    struct DefaultsOnly {};
    explicit InstallerConfig(DefaultsOnly);

    void LoadDefaults();
    // Layer 2 from an ini file; a missing file leaves everything as it is.
    void LoadIni(const std::wstring& iniPath);
    // Layer 3 from a whole command line (split by the Windows rules).
    void ApplyCommandLine(const wchar_t* commandLine);
    // Layer 3 from arguments already split.
    void ApplyArguments(const std::vector<std::wstring>& args);

    void SetDownloadUrl(const std::wstring& url);
    void SetInstCmd(const std::wstring& cmd);
    // "MirrorUrls" / "-mirrorurls": URLs separated by '|', each expanded like DownloadUrl.
    void SetMirrorUrls(const std::wstring& text);

    // The layer that gave each of the five fields the rest of the installer reads, for the log's first lines.
    enum class Layer { Default, Ini, CommandLine };
    struct Sources {
        Layer InstCmd = Layer::Default;
        Layer DownloadUrl = Layer::Default;
        Layer DownloadType = Layer::Default;
        Layer IsCheckNet = Layer::Default;
        Layer DownloadScale = Layer::Default;
        Layer DownloadConnections = Layer::Default;
    };

    std::wstring InstCmd;
    std::wstring DownloadUrl;
    int DownloadType = 1;
    bool IsCheckNet = true;
    double DownloadScale = 0.7;
    // Narrowings of which package may run, each layer adding its own: PackageSigner (a signer's subject simple
    // name or the SHA-256 thumbprint of a certificate in its chain) and PackageSha256 (the file's SHA-256).
    // Every entry must hold; nothing here can widen what is trusted.
    std::vector<std::wstring> PackageSigners;
    std::vector<std::wstring> PackageSha256s;
    // Most byte ranges the libcurl downloader fetches at once ("DownloadConnections", "-connections"; 1: one
    // stream).
    int DownloadConnections = 4;
    // The URLs tried in order after DownloadUrl when it cannot give the package ("MirrorUrls", "-mirrorurls").
    std::vector<std::wstring> MirrorUrls;
    // "-package=PATH": the offline package to install instead of downloading one (command line only; empty: the
    // download URL's file name beside the installer, when it is there and passes the checks).
    std::wstring PackagePath;
    // The "-proxy" value for the libcurl downloader: empty for the system's settings, "direct", or a proxy URL.
    std::wstring Proxy;

    Sources sources;
    // The ini file that was read (empty: none was there).
    std::wstring IniPath;
    // "-log=PATH": the log file to write instead of a new one in the temporary folder (command line only).
    std::wstring LogPath;

    // Silent mode (-silent): no window and no dialog. The folder (-instdir; empty: the one-click default) and the
    // two shortcut choices (-desktopshortcut, -quicklaunch: exactly true or false) come from the command line.
    bool Silent = false;
    std::wstring SilentInstDir;
    bool SilentDesktopShortcut = true;
    bool SilentQuickLaunch = true;
    // Options given a value they cannot take, as "-option=value"; silent mode refuses to run with any.
    std::vector<std::wstring> BadOptions;
    // Arguments that name no option (by name only, up to '='): the window ignores them, silent mode refuses to
    // run with any; and the ini file's keys that the installer does not know. Both are named in the log.
    std::vector<std::wstring> IgnoredArguments;
    std::vector<std::wstring> IgnoredIniKeys;

    // Carried without a consumer: accepted and stored by the same rules, read by nobody.
    bool IsEnableAppSensors = true;
    std::wstring DlAppNameSuffix = L".downloader";
    std::wstring DlAppVersion;
    std::wstring AppName = L"Tunivox";
    std::wstring Version = L"1.0.0";
    std::wstring ExeFileName = L"NULL";

private:
    // The steps of ApplyArguments: what names no option, then the options every run reads, then silent mode's.
    void NoteIgnoredArguments(const std::vector<std::wstring>& given);
    void ApplySharedOptions(const Config::OptionMap& options);
    void ApplySilentOptions(const Config::OptionMap& options);
};

// Replaces every "${ROUTE}" with the route for the running Windows version; asks for the version only when the
// placeholder is present.
std::wstring ExpandUrlRoute(const std::wstring& url);

// Full path of the running executable's folder-mate "ZKInstallerConfig.ini".
std::wstring InstallerIniPath();

// Splits a command line with CommandLineToArgvW; no arguments when splitting fails.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// The record of this process (layers 1 and 2 applied during static construction).
extern InstallerConfig g_installerConfig;

// Entry-point step: applies this process's command line to g_installerConfig.
void ApplyCommandLine();
