// CWinDownloader over Wine's URL moniker service, against the loopback nginx, a file URL and a dead port; the
// bind-status object's COM answers and progress rule directly.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "download/WinDownloader.h"
#include "tests/download/Recorder.h"
#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "utils/TextConv.h"

using namespace TestServers;
using TestSupport::FileExists;
using TestSupport::ReadBytes;
using TestSupport::TempDir;

namespace {

std::wstring W(const std::string& text) {
    return Utils::MultiByteToWide(text, Utils::kCodePageUtf8);
}

} // namespace

TEST(WinDownloader, DownloadsThroughTheUrlService) {
    struct Case {
        const char* name;
        std::wstring path;       // requested path (before encoding)
        std::wstring file;       // the file nginx serves for it
        std::string requestPath; // as the request line must show it
    } cases[] = {
        {"plain", L"/files/small.bin", L"files\\small.bin", "/files/small.bin"},
        // A space becomes "+", other characters their UTF-8 bytes in %XX.
        {"space and chinese", L"/files/a b 中.bin", L"files\\a+b+中.bin", "/files/a+b+%E4%B8%AD.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"wdl");
        std::string token = UniqueToken("win");
        std::wstring target = dir / L"pkg.exe";
        std::wstring url = W(NginxUrl("")) + c.path + L"?t=" + W(token);
        Recorder rec;
        {
            CWinDownloader dl(rec.Callback(), url.c_str(), target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        EXPECT_EQ(rec.Last().message, L"URLDownloadToFile");
        EXPECT_EQ(rec.Last().value, 0.0);
        for (const Report& r : rec.Reports()) {
            EXPECT_NE(r.threadId, ::GetCurrentThreadId());
            if (r.code == DL_CODE_PROGRESS) {
                EXPECT_GT(r.value, 0.0);
                EXPECT_LE(r.value, 1.0);
            }
        }
        EXPECT_EQ(Sha256Hex(ReadBytes(target)), Sha256Hex(ReadBytes(NginxFile(c.file))));
        auto seen = NginxRequests(token, 1);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].requestLine, "GET " + c.requestPath + "?t=" + token + " HTTP/1.1");
        EXPECT_EQ(seen[0].status, "200");
    }
}

TEST(WinDownloader, FileUrlIsPassedUnchanged) {
    TempDir dir(L"wdl");
    std::wstring source = dir / L"源文件.bin";
    std::string bytes = FaultBlob(200000);
    ASSERT_TRUE(TestSupport::WriteBytes(source, bytes));
    std::wstring url = L"file:///" + source;
    EXPECT_EQ(WinRequestUrl(url), url);
    Recorder rec;
    {
        CWinDownloader dl(rec.Callback(), url.c_str(), (dir / L"out.bin").c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS) << rec.Last().value;
    EXPECT_EQ(Sha256Hex(ReadBytes(dir / L"out.bin")), Sha256Hex(bytes));
}

TEST(WinDownloader, DeadServerGetsThreeAttemptsOneSecondApart) {
    TempDir dir(L"wdl");
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(DeadPort()) + L"/pkg.exe";
    Recorder rec;
    ULONGLONG begun = ::GetTickCount64();
    {
        CWinDownloader dl(rec.Callback(), url.c_str(), (dir / L"pkg.exe").c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    ULONGLONG elapsed = ::GetTickCount64() - begun;
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
    EXPECT_LT(rec.Last().value, 0.0) << "an HRESULT";
    EXPECT_EQ(rec.Last().message, L"URLDownloadToFile");
    EXPECT_GE(elapsed, 3000u) << "three pauses of one second";
    EXPECT_LT(elapsed, 20000u);
}

TEST(WinDownloader, EmptyTargetPath) {
    std::string token = UniqueToken("nopath");
    Recorder rec;
    {
        CWinDownloader dl(rec.Callback(), W(NginxUrl("/files/small.bin?t=" + token)).c_str(), L"");
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    auto reports = rec.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].code, DL_CODE_START);
    EXPECT_EQ(reports[1].code, DL_CODE_FAIL);
    EXPECT_EQ(reports[1].value, 1.0);
    EXPECT_EQ(reports[1].message, L"");
    EXPECT_TRUE(NginxRequests(token, 1, 500).empty()) << "no transfer";
}

// The owner starts the same downloader again on every later user attempt: each start is a whole new sequence.
TEST(WinDownloader, RepeatedStartRunsANewSequence) {
    TempDir dir(L"wdl");
    std::string token = UniqueToken("again");
    Recorder rec;
    CWinDownloader dl(rec.Callback(), W(NginxUrl("/files/small.bin?t=" + token)).c_str(), (dir / L"a.exe").c_str());
    for (size_t start = 1; start <= 3; ++start) {
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(start, 20000)) << "start " << start << " reported nothing";
    }
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS, DL_CODE_START, DL_CODE_SUCCESS,
                                             DL_CODE_START, DL_CODE_SUCCESS}));
    EXPECT_EQ(NginxRequests(token, 3).size(), 3u);
}

TEST(WinDownloader, DestroyingStopsAttemptsAndJoins) {
    TempDir dir(L"wdl");
    {
        // Never started: the suspended worker must not hold the destruction.
        Recorder rec;
        ULONGLONG begun = ::GetTickCount64();
        { CWinDownloader dl(rec.Callback(), L"http://127.0.0.1:1/x", (dir / L"a.exe").c_str()); }
        EXPECT_LT(::GetTickCount64() - begun, 2000u);
        EXPECT_EQ(rec.Count(), 0u);
    }
    Recorder rec;
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(DeadPort()) + L"/pkg.exe";
    auto dl = std::make_unique<CWinDownloader>(rec.Callback(), url.c_str(), (dir / L"b.exe").c_str());
    dl->Start();
    ::Sleep(300);
    ULONGLONG begun = ::GetTickCount64();
    dl.reset();
    EXPECT_LT(::GetTickCount64() - begun, 2200u) << "the remaining attempts were still made";
    size_t count = rec.Count();
    EXPECT_EQ(rec.Last().code, DL_CODE_FAIL);
    ::Sleep(500);
    EXPECT_EQ(rec.Count(), count);
}

TEST(WinDownloader, NoWorkerThreadStillEndsTheSequence) {
    std::optional<Utils::ThreadCreationSeam::Override> noThreads;
    noThreads.emplace(Utils::ThreadCreation(), [](void*, const wchar_t*, Utils::Thread::Body) {
        return Utils::Result<std::unique_ptr<Utils::Thread>>(Utils::Status::Failed(L"no thread in this test"));
    });
    Recorder rec;
    {
        CWinDownloader dl(rec.Callback(), L"http://127.0.0.1:1/x", L"C:\\x.exe");
        dl.Start();
        noThreads.reset();
        ASSERT_TRUE(rec.WaitTerminals(1, 5000)) << "the owner would wait for ever";
    }
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
    EXPECT_EQ(rec.Last().value, static_cast<double>(DL_ERR_THREAD_CREATE));
}

TEST(WinBindCallback, AnswersItsOwnInterfacesOnly) {
    CWinDownloader::CBindCallback object;
    struct Case {
        const char* name;
        IID iid;
        HRESULT result;
    } cases[] = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"IBindStatusCallback", IID_IBindStatusCallback, S_OK},
        {"IBindStatusCallbackEx", IID_IBindStatusCallbackEx, S_OK},
        {"IStream", IID_IStream, E_NOINTERFACE},
        {"IBinding", IID_IBinding, E_NOINTERFACE},
        {"IHttpNegotiate", IID_IHttpNegotiate, E_NOINTERFACE},
        {"IAuthenticate", IID_IAuthenticate, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(object.QueryInterface(c.iid, &out), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(out, static_cast<IBindStatusCallbackEx*>(&object));
        } else {
            EXPECT_EQ(out, nullptr);
        }
    }
    EXPECT_EQ(object.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(WinBindCallback, ProgressNotifications) {
    struct Case {
        ULONG progress, maximum;
        bool reported;
        double value;
    } cases[] = {
        {5, 0, false, 0.0}, // no maximum yet: nothing to report
        {0, 0, false, 0.0},
        {0, 100, true, 0.0},
        {1, 4, true, 0.25},
        {10, 10, true, 1.0},
        {4000000000u, 4000000000u, true, 1.0}, // unsigned 32-bit values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.progress << "/" << c.maximum);
        CWinDownloader::CBindCallback object;
        Recorder rec;
        object.callback_ = rec.Callback();
        EXPECT_EQ(object.OnProgress(c.progress, c.maximum, BINDSTATUS_DOWNLOADINGDATA, L""), S_OK);
        auto reports = rec.Reports();
        ASSERT_EQ(reports.size(), c.reported ? 1u : 0u);
        if (c.reported) {
            EXPECT_EQ(reports[0].code, DL_CODE_PROGRESS);
            EXPECT_DOUBLE_EQ(reports[0].value, c.value);
        }
        object.aborted_ = true;
        EXPECT_EQ(object.OnProgress(c.progress, c.maximum, BINDSTATUS_DOWNLOADINGDATA, L""), E_ABORT);
        EXPECT_EQ(rec.Count(), reports.size());
    }
}
