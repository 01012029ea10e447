// fetch.exe [-downloadtype=N] [-proxy=VALUE] [-connections=N] URL PATH
// Downloads URL to PATH with the downloader the installer would pick for that download type and prints every
// report as it arrives: code<TAB>value<TAB>message (UTF-8). Exit 0 after DL_CODE_SUCCESS, 1 after DL_CODE_FAIL,
// 2 for a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include <curl/curl.h>

#include "download/CurlDownloader.h"
#include "download/WinDownloader.h"
#include "tools/fetch/FetchArgs.h"
#include "utils/ScopedWin.h"

int wmain(int argc, wchar_t** argv) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    auto args = ParseFetchArgs(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!args) {
        std::fputs("usage: fetch.exe [-downloadtype=N] [-proxy=VALUE] [-connections=N] URL PATH\n", stderr);
        return 2;
    }
    ::curl_global_init(CURL_GLOBAL_ALL);

    Utils::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> last{0};
    DownloadCallback report = [&](int code, double value, const wchar_t* message) {
        std::string line = FormatReport(code, value, message);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        if (code == DL_CODE_SUCCESS || code == DL_CODE_FAIL) {
            last = code;
            ::SetEvent(done.get());
        }
    };
    std::unique_ptr<CDownloader> downloader;
    if (args->downloadType == 2) {
        downloader = std::make_unique<CWinDownloader>(report, args->url.c_str(), args->path.c_str());
    } else {
        downloader = std::make_unique<CCurlDownloader>(report, args->url.c_str(), args->path.c_str(),
                                                       kLowSpeedTimeSeconds, args->proxy, args->connections);
    }
    downloader->Start();
    ::WaitForSingleObject(done.get(), INFINITE);
    downloader.reset();
    ::curl_global_cleanup();
    return last == DL_CODE_SUCCESS ? 0 : 1;
}
