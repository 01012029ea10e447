// The process-wide configuration record: built-in defaults, then "ZKInstallerConfig.ini" beside the executable
// (both during static construction), then the command line (applied once by the entry point). Read-only from the
// creation of the main window on, which is what makes reading it from worker threads without a lock safe.
#pragma once

#include <string>
#include <vector>

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
    // The "-proxy" value for the libcurl downloader: empty for the system's settings, "direct", or a proxy URL.
    std::wstring Proxy;

    // Carried without a consumer: accepted and stored by the same rules, read by nobody.
    bool IsEnableAppSensors = true;
    std::wstring DlAppNameSuffix = L".downloader";
    std::wstring DlAppVersion;
    std::wstring AppName = L"Tunivox";
    std::wstring Version = L"1.0.0";
    std::wstring ExeFileName = L"NULL";
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
