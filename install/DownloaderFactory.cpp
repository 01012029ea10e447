#include "config/InstallerConfig.h"
#include "download/CurlDownloader.h"
#include "download/WinDownloader.h"
#include "install/DownloadInstaller.h"

std::unique_ptr<CDownloader> CreateDownloader(int downloadType, DownloadCallback relay, const std::wstring& url,
                                              const std::wstring& path) {
    if (downloadType == 2) {
        return std::make_unique<CWinDownloader>(relay, url.c_str(), path.c_str());
    }
    return std::make_unique<CCurlDownloader>(relay, url.c_str(), path.c_str(), kLowSpeedTimeSeconds,
                                             g_installerConfig.Proxy, g_installerConfig.DownloadConnections);
}

DownloaderCreationSeam& DownloaderCreation() {
    static DownloaderCreationSeam seam(&CreateDownloader);
    return seam;
}
