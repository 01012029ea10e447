// CCurlDownloader against the loopback nginx and the fault server: every claim is checked in the reports and in
// the requests the server saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include <curl/curl.h>

#include "download/CurlClient.h"
#include "download/CurlDownloader.h"
#include "download/DownloadRanges.h"
#include "tests/download/Recorder.h"
#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "utils/TextConv.h"

using namespace TestServers;
using TestSupport::FileExists;
using TestSupport::LogCapture;
using TestSupport::ReadBytes;
using TestSupport::TempDir;

namespace {

const bool g_curlReady = ::curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;

std::wstring W(const std::string& text) {
    return Utils::MultiByteToWide(text, Utils::kCodePageUtf8);
}

size_t CountMessages(const LogCapture& log, const std::wstring& tag, const std::wstring& prefix) {
    size_t n = 0;
    for (const std::wstring& line : log.LinesOf(tag)) {
        n += LogCapture::Message(line).rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

void ExpectSameBytes(const std::string& expected, const std::wstring& path) {
    std::string actual = ReadBytes(path);
    EXPECT_EQ(actual.size(), expected.size());
    if (!expected.empty()) {
        EXPECT_NE(Sha256Hex(expected), Sha256Hex(""));
    }
    EXPECT_EQ(Sha256Hex(actual), Sha256Hex(expected));
}

} // namespace

TEST(CurlDownloader, FirstAttemptSucceedsFromTheEffectiveUrl) {
    ASSERT_TRUE(g_curlReady);
    struct Case {
        const char* path;
        std::vector<std::string> requests; // "METHOD status" in server order
    } cases[] = {
        {"/files/pkg.bin", {"HEAD 200", "GET 200"}},
        // The HEAD follows the redirect; the GET goes straight to where it led.
        {"/redirect/files/pkg.bin", {"HEAD 302", "HEAD 200", "GET 200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TempDir dir(L"dl");
        std::string token = UniqueToken("ok");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(NginxUrl(std::string(c.path) + "?t=" + token)).c_str(),
                               target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        EXPECT_EQ(rec.Last().value, 0.0);
        EXPECT_EQ(rec.Last().message, L"LibCurl");
        for (const Report& r : rec.Reports()) {
            EXPECT_NE(r.threadId, ::GetCurrentThreadId()) << "reports come from the worker";
            if (r.code == DL_CODE_PROGRESS) {
                EXPECT_GE(r.value, 0.0);
                EXPECT_LE(r.value, 1.0);
            }
        }
        ExpectSameBytes(ReadBytes(NginxFile(L"files\\pkg.bin")), target);
        EXPECT_FALSE(FileExists(target + L".part"));
        auto seen = NginxRequests(token, c.requests.size());
        std::vector<std::string> summary;
        for (const auto& e : seen) {
            summary.push_back(e.method + " " + e.status);
            EXPECT_EQ(e.range, "-");
        }
        EXPECT_EQ(summary, c.requests);
    }
}

TEST(CurlDownloader, FailuresSpendTheRetryBudget) {
    struct Case {
        const char* name;
        bool nginx;
        std::string params; // fault server parameters, or the nginx path
        size_t heads, gets;
        int code;
        std::vector<std::string> ranges; // of the GETs, in order
    } cases[] = {
        // Ordinary failures cost 2 of 6: three attempts.
        // A HEAD answered 404 says the server has no such file: one attempt, and never a GET of an error page.
        {"http 404", true, "/files/missing.bin", 1, 0, ERR_NO_CONTENT_LENGTH, {}},
        // An HTTP error sends the next attempt back to the configured URL: a HEAD each time.
        {"http 500", false, "get500=1", 3, 3, 22, {"-", "-", "-"}},
        // A broken-off body costs 1: six attempts, each resuming where the part file ends.
        {"six cut bodies",
         false,
         "cut=100000&cuts=99",
         1,
         6,
         18,
         {"-", "bytes=100000-", "bytes=200000-", "bytes=300000-", "bytes=400000-", "bytes=500000-"}},
        // 18 then a server that ignores ranges: 6-1-2-2-2 allows four attempts.
        {"cut then no ranges",
         false,
         "cut=100000&norange=1",
         1,
         4,
         33,
         {"-", "bytes=100000-", "bytes=100000-", "bytes=100000-"}},
        // No length in the HEAD reply: never a GET, and the HEAD is asked again on every attempt.
        {"head without length", false, "headnolen=1", 3, 0, ERR_NO_CONTENT_LENGTH, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"dl");
        std::string token = UniqueToken("fail");
        std::string url = c.nginx ? NginxUrl(c.params + "?t=" + token) : FaultUrl(token, c.params);
        Recorder rec;
        LogCapture log;
        ULONGLONG begun = ::GetTickCount64();
        {
            CCurlDownloader dl(rec.Callback(), W(url).c_str(), (dir / L"pkg.exe").c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        ULONGLONG elapsed = ::GetTickCount64() - begun;
        size_t attempts = std::max(c.heads, c.gets);
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
        EXPECT_EQ(rec.Last().value, static_cast<double>(c.code));
        // The failure names its cause and the URL.
        EXPECT_EQ(rec.Last().message.rfind(L"LibCurl: ", 0), 0u) << TestSupport::Utf8(rec.Last().message);
        EXPECT_NE(rec.Last().message.find(L"127.0.0.1"), std::wstring::npos) << TestSupport::Utf8(rec.Last().message);
        EXPECT_EQ(CountMessages(log, L"CurlClient::Start", L"start download"), attempts);
        EXPECT_EQ(CountMessages(log, L"CCurlDownloader::dlThreadFun", L"CurlDownLoader Code="), attempts - 1);
        EXPECT_GE(elapsed, 500 * (attempts - 1)) << "500 ms between attempts";
        if (c.nginx) {
            auto seen = NginxRequests(token, c.heads + c.gets);
            std::vector<std::string> ranges;
            size_t heads = 0;
            for (const auto& e : seen) {
                if (e.method == "HEAD") {
                    ++heads;
                } else {
                    ranges.push_back(e.range);
                }
            }
            EXPECT_EQ(heads, c.heads);
            EXPECT_EQ(ranges, c.ranges);
        } else {
            auto seen = FaultRequests(token, c.heads + c.gets);
            std::vector<std::string> ranges;
            for (const auto& e : seen) {
                if (e.method == "GET") {
                    ranges.push_back(e.range);
                }
            }
            EXPECT_EQ(CountMethod(seen, "HEAD"), c.heads);
            EXPECT_EQ(ranges, c.ranges);
        }
    }
}

TEST(CurlDownloader, BodyCutTwiceResumesFromThePartFile) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("resume");
    std::wstring target = dir / L"pkg.exe";
    Recorder rec;
    {
        // About one second per attempt, so each attempt has its own progress report.
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, "cut=1048576&cuts=2&rate=1000000")).c_str(),
                           target.c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
    ExpectSameBytes(FaultBlob(), target);
    EXPECT_FALSE(FileExists(target + L".part"));
    auto seen = FaultRequests(token, 4);
    std::vector<std::string> gets;
    for (const auto& e : seen) {
        if (e.method == "GET") {
            gets.push_back(e.range + " " + e.status);
        }
    }
    EXPECT_EQ(CountMethod(seen, "HEAD"), 1u);
    EXPECT_EQ(gets, (std::vector<std::string>{"- 200", "bytes=1048576- 206", "bytes=2097152- 206"}));
    // Percent counts the resumed bytes: it never falls back when an attempt resumes, and the last attempt
    // reports beyond the two thirds the first two reached.
    auto progress = rec.Progress();
    ASSERT_FALSE(progress.empty());
    double highest = 0.0;
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_LE(progress[i].value, 1.0);
        if (i > 0) {
            EXPECT_GE(progress[i].value, progress[i - 1].value) << "report " << i;
        }
        highest = std::max(highest, progress[i].value);
    }
    EXPECT_GT(highest, 2.0 / 3.0);
}

TEST(CurlDownloader, EmptyTargetPathFailsWithoutARequest) {
    std::string token = UniqueToken("nopath");
    Recorder rec;
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token)).c_str(), L"");
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    auto reports = rec.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].code, DL_CODE_START);
    EXPECT_EQ(reports[0].value, 1.0);
    EXPECT_EQ(reports[1].code, DL_CODE_FAIL);
    EXPECT_EQ(reports[1].value, 1.0);
    EXPECT_EQ(reports[1].message, L"");
    EXPECT_TRUE(FaultRequests(token, 1, 500).empty());
}

// A part file left by an earlier run is kept only when its state file names this URL, length and validator and
// the server confirms the validator; anything else starts over, and the package is never a mix of two files.
TEST(CurlDownloader, PartFileOfAnEarlierRunResumesOnlyTheSameFile) {
    const std::string blob = FaultBlob();
    constexpr size_t kThere = 1000000;
    struct Case {
        const char* name;
        const char* params;
        bool state;                         // a state file beside the part file
        const char* validator;              // in the state file
        bool sameUrl;                       // the state file names this URL
        bool realBytes;                     // the part file holds the package's first bytes (else 'x')
        std::string range, ifRange, status; // of the one GET
        bool inverted;                      // the result is the changed file
        size_t there = kThere;              // bytes in the part file
    } cases[] = {
        {"no state file", "etag=1", false, "", true, false, "-", "-", "200", false},
        {"other validator", "etag=1", true, "\"v0\"", true, false, "-", "-", "200", false},
        {"other URL", "etag=1", true, "\"v1\"", false, false, "-", "-", "200", false},
        {"server gives no validator", "", true, "", true, false, "-", "-", "200", false},
        {"same file, confirmed", "etag=1", true, "\"v1\"", true, true, "bytes=1000000-", "\"v1\"", "206", false},
        // The HEAD still says v1, the GET meets v2: If-Range brings the whole new file.
        {"changed before the GET", "change=1", true, "\"v1\"", true, false, "bytes=1000000-", "\"v1\"", "200", true},
        // ... when the part file holds more than the whole (shorter) new file: none of the old bytes may stay.
        {"changed, nearly all there", "change=1", true, "\"v1\"", true, true,
         "bytes=" + std::to_string(blob.size() - 10) + "-", "\"v1\"", "200", true, blob.size() - 10},
        // All of it there, and a tail past the end (of a longer answer): no request, and the tail cut.
        {"all there, and a tail", "etag=1", true, "\"v1\"", true, true, "", "", "", false, blob.size() + 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"dl");
        std::string token = UniqueToken("earlier");
        std::string url = FaultUrl(token, c.params);
        std::wstring target = dir / L"pkg.exe";
        std::string part = c.realBytes ? blob.substr(0, c.there) : std::string();
        part.resize(c.there, 'x');
        ASSERT_TRUE(TestSupport::WriteBytes(target + L".part", part));
        if (c.state) {
            PartState state{c.sameUrl ? url : url + "&other=1",
                            static_cast<int64_t>(blob.size()),
                            c.validator,
                            {{0, static_cast<int64_t>(std::min(c.there, blob.size()))}}};
            ASSERT_TRUE(TestSupport::WriteBytes(target + L".part.state", FormatPartState(state)));
        }
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(url).c_str(), target.c_str());
            EXPECT_TRUE(FileExists(target + L".part")) << "decided at the first attempt, not at construction";
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        ExpectSameBytes(FaultBody(1, c.inverted), target);
        EXPECT_FALSE(FileExists(target + L".part"));
        EXPECT_FALSE(FileExists(target + L".part.state"));
        std::vector<std::string> gets;
        for (const auto& e : FaultRequests(token, 2)) {
            if (e.method == "GET") {
                gets.push_back(e.range + " " + e.ifRange + " " + e.status);
            }
        }
        EXPECT_EQ(gets, c.status.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{c.range + " " + c.ifRange + " " + c.status});
    }
}

// A HEAD that failed is not remembered: the next attempt, and the next start, ask again.
TEST(CurlDownloader, FailedHeadIsAskedAgain) {
    struct Case {
        const char* params;
        std::vector<int> codes; // terminal codes of the first and second start
        size_t heads, gets;     // after both starts
    } cases[] = {
        {"headfail=1", {DL_CODE_SUCCESS}, 2, 1},
        {"headfail=3", {DL_CODE_FAIL, DL_CODE_SUCCESS}, 4, 1},
        // An error page's length is not the package's: the attempt fails and the next one asks again. Slow enough
        // for progress reports, which would run to thousands of percent against the error page's 1234 bytes.
        {"headerr=1&rate=1500000", {DL_CODE_SUCCESS}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        TempDir dir(L"dl");
        std::string token = UniqueToken("head");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, c.params)).c_str(), target.c_str());
        for (size_t start = 1; start <= c.codes.size(); ++start) {
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(start));
            EXPECT_EQ(rec.Last().code, c.codes[start - 1]);
        }
        if (c.codes.size() == 2) {
            EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL, DL_CODE_START, DL_CODE_SUCCESS}));
        }
        ExpectSameBytes(FaultBlob(), target);
        auto seen = FaultRequests(token, c.heads + c.gets);
        EXPECT_EQ(CountMethod(seen, "HEAD"), c.heads);
        EXPECT_EQ(CountMethod(seen, "GET"), c.gets);
        for (const Report& r : rec.Progress()) {
            EXPECT_LE(r.value, 1.0);
        }
    }
}

// A target held open by another program (a scanner, say) cannot be replaced: that is a failed attempt, never a
// success with a missing or stale package. The finished part file is kept, so a later start only renames it.
TEST(CurlDownloader, TargetThatCannotBeReplacedFailsTheAttempts) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("held");
    std::wstring target = dir / L"pkg.exe";
    Recorder rec;
    CCurlDownloader dl(rec.Callback(), W(FaultUrl(token)).c_str(), target.c_str());
    {
        Utils::UniqueFileHandle holder(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
    EXPECT_EQ(rec.Last().value, static_cast<double>(ERR_RENAME_PART_FILE));
    EXPECT_EQ(ReadBytes(target), "") << "the stale file is left as it was";
    dl.Start();
    ASSERT_TRUE(rec.WaitTerminals(2));
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS);
    ExpectSameBytes(FaultBlob(), target);
    EXPECT_EQ(CountMethod(FaultRequests(token, 2), "GET"), 1u) << "the complete part file is not fetched again";
}

// The package is saved as the server holds it: a server that would compress it is asked not to.
TEST(CurlDownloader, CompressingServerStillGivesThePackageItself) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("gzip");
    std::wstring target = dir / L"pkg.exe";
    Recorder rec;
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, "gzip=1")).c_str(), target.c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS);
    ExpectSameBytes(FaultBlob(), target);
}

// The removal job and the window may both start the download: a sequence under way is not started again.
TEST(CurlDownloader, StartWhileRunningIsIgnored) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("twice");
    std::wstring target = dir / L"pkg.exe";
    Recorder rec;
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, "rate=3000000")).c_str(), target.c_str());
        dl.Start();
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    } // a second sequence, had one started, would end here (cancelled) with its own start and failure
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
    ExpectSameBytes(FaultBlob(), target);
    EXPECT_EQ(CountMethod(FaultRequests(token, 2), "GET"), 1u);
}

// A 32 MiB package whose body the server cuts at random offsets (and sometimes refuses with 503) several times in
// one start: the file is byte for byte the package whenever the retry budget allows, and a failure otherwise.
// Replay with TUNIVOX_PROPERTY_SEED=<seed>.
TEST(CurlDownloader, RandomCutsResumeToTheSameBytesOrFail) {
    unsigned seed = 20261208;
    if (const char* given = std::getenv("TUNIVOX_PROPERTY_SEED")) {
        seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    }
    std::mt19937 rng(seed);
    constexpr size_t kSize = 32u << 20;
    const std::string blob = FaultBlob();
    ASSERT_FALSE(blob.empty());
    std::string expected;
    for (size_t k = 0; expected.size() < kSize; ++k) {
        std::string copy = blob;
        for (char& b : copy) {
            b = static_cast<char>(static_cast<unsigned char>(b) ^ static_cast<unsigned char>(k));
        }
        expected += copy;
    }
    expected.resize(kSize);
    const int kRuns = 6;
    int succeeded = 0, failed = 0, steps = 0;
    for (int run = 0; run < kRuns; ++run) {
        // 1 to 5 faults: a cut at a later offset costs 1 of the budget of 6, a refusal costs 2.
        int count = 1 + static_cast<int>(rng() % 5);
        std::string plan;
        size_t offset = 0;
        int budget = kRetryBudget;
        bool allowed = true;
        for (int i = 0; i < count; ++i) {
            bool cut = rng() % 10 < 7;
            if (cut) {
                offset += 1 + rng() % ((kSize - offset) / 2);
                plan += (plan.empty() ? "c" : ",c") + std::to_string(offset);
            } else {
                plan += plan.empty() ? "e" : ",e";
            }
            budget -= cut ? 1 : 2;
            allowed = allowed && budget > 0;
        }
        steps += count;
        SCOPED_TRACE("seed " + std::to_string(seed) + " run " + std::to_string(run) + " plan " + plan);
        TempDir dir(L"dl");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            // One stream: the plan's steps are the GETs of successive attempts.
            CCurlDownloader dl(
                rec.Callback(),
                W(FaultUrl(UniqueToken("cuts"), "repeat=11&size=" + std::to_string(kSize) + "&plan=" + plan)).c_str(),
                target.c_str(), kLowSpeedTimeSeconds, L"", 1);
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1, 120000));
        }
        if (allowed) {
            ++succeeded;
            EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
            std::string actual = ReadBytes(target);
            EXPECT_EQ(actual.size(), expected.size());
            EXPECT_TRUE(actual == expected) << "the file differs from the package";
        } else {
            ++failed;
            EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
            EXPECT_FALSE(FileExists(target)) << "no file is left as the package after a failure";
        }
        EXPECT_FALSE(FileExists(target + L".part"));
    }
    std::printf("seed %u: %d runs of a 32 MiB download with %d faults in all; %d ended complete, %d failed as the "
                "budget required\n",
                seed, kRuns, steps, succeeded, failed);
}

TEST(CurlDownloader, FileUrlTakesTheAnsiCodePage) {
    TempDir dir(L"dl");
    std::wstring source = dir / L"源文件.bin";
    std::string bytes = FaultBlob(300000);
    ASSERT_TRUE(TestSupport::WriteBytes(source, bytes));
    std::wstring url = L"file:///" + source;
    for (wchar_t& ch : url) {
        ch = ch == L'\\' ? L'/' : ch;
    }
    Recorder rec;
    {
        CCurlDownloader dl(rec.Callback(), url.c_str(), (dir / L"out.bin").c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS) << rec.Last().value;
    ExpectSameBytes(bytes, dir / L"out.bin");
}

// Paths with characters outside the ANSI code page (936 here) work: the part file and the target are handled
// through the wide-character calls.
TEST(CurlDownloader, TargetOutsideTheAnsiCodePage) {
    TempDir dir(L"dl");
    std::wstring folder = dir / L"包📦ア한";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring target = folder + L"\\pkg 🎵.exe";
    ASSERT_TRUE(TestSupport::WriteBytes(target, "an older package"));
    std::string token = UniqueToken("wide");
    Recorder rec;
    {
        CCurlDownloader dl(rec.Callback(), W(NginxUrl("/files/small.bin?t=" + token)).c_str(), target.c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS) << rec.Last().value;
    ExpectSameBytes(ReadBytes(NginxFile(L"files\\small.bin")), target);
    EXPECT_FALSE(FileExists(target + L".part"));
}

TEST(CurlDownloader, ProgressAtMostOncePerSecond) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("slow");
    Recorder rec;
    LogCapture log;
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, "size=1600000&rate=400000")).c_str(),
                           (dir / L"pkg.exe").c_str());
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1));
    }
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS);
    auto progress = rec.Progress();
    EXPECT_GE(progress.size(), 2u);
    EXPECT_LE(progress.size(), 6u);
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GT(progress[i].second, progress[i - 1].second) << "two reports within one second";
        EXPECT_GT(progress[i].value, 0.0);
    }
    EXPECT_GE(log.LinesOf(L"CurlClient::ProgressCallback").size(), progress.size());
}

TEST(CurlDownloader, StalledServerEndsTheAttempt) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("stall");
    Recorder rec;
    LogCapture log;
    ULONGLONG begun = ::GetTickCount64();
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, "stall=0&size=200000")).c_str(),
                           (dir / L"pkg.exe").c_str(), 2);
        dl.Start();
        ASSERT_TRUE(rec.WaitTerminals(1, 30000)) << "a silent server holds the download";
    }
    ULONGLONG elapsed = ::GetTickCount64() - begun;
    EXPECT_EQ(rec.Last().code, DL_CODE_SUCCESS);
    EXPECT_GE(elapsed, 2000u);
    EXPECT_EQ(CountMessages(log, L"CurlClient::Start", L"error:28:"), 1u);
    EXPECT_EQ(CountMessages(log, L"CCurlDownloader::dlThreadFun", L"CurlDownLoader Code=28"), 1u);
    EXPECT_EQ(CountMethod(FaultRequests(token, 3), "GET"), 2u);
}

TEST(CurlDownloader, DestroyingARunningDownloaderCancelsAndJoins) {
    TempDir dir(L"dl");
    std::string token = UniqueToken("destroy");
    std::wstring target = dir / L"pkg.exe";
    Recorder rec;
    auto dl =
        std::make_unique<CCurlDownloader>(rec.Callback(), W(FaultUrl(token, "stall=65536")).c_str(), target.c_str());
    dl->Start();
    ASSERT_EQ(CountMethod(FaultRequests(token, 2, 10000), "GET"), 1u);
    ::Sleep(300);
    ULONGLONG begun = ::GetTickCount64();
    dl.reset();
    EXPECT_LT(::GetTickCount64() - begun, 5000u) << "destruction waits for a stalled transfer";
    size_t count = rec.Count();
    EXPECT_EQ(rec.Last().code, DL_CODE_FAIL);
    EXPECT_EQ(rec.Last().value, static_cast<double>(CURLE_ABORTED_BY_CALLBACK));
    ::Sleep(700);
    EXPECT_EQ(rec.Count(), count) << "nothing is reported after destruction";
    EXPECT_FALSE(FileExists(target + L".part"));
    EXPECT_EQ(CountMethod(FaultRequests(token), "GET"), 1u) << "no retry after cancellation";
}

TEST(CurlDownloader, NoWorkerThreadStillEndsTheSequence) {
    std::string token = UniqueToken("nothread");
    Recorder rec;
    std::optional<Utils::ThreadCreationSeam::Override> noThreads;
    noThreads.emplace(Utils::ThreadCreation(), [](void*, const wchar_t*, Utils::Thread::Body) {
        return Utils::Result<std::unique_ptr<Utils::Thread>>(Utils::Status::Failed(L"no thread in this test"));
    });
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(token)).c_str(), L"C:\\x.exe");
        dl.Start();
        noThreads.reset();
        ASSERT_TRUE(rec.WaitTerminals(1, 5000)) << "the owner would wait for ever";
    }
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_FAIL}));
    EXPECT_EQ(rec.Last().value, static_cast<double>(DL_ERR_THREAD_CREATE));
    EXPECT_TRUE(FaultRequests(token, 1, 300).empty());
}

TEST(CurlDownloader, UnknownTotalsSendNoProgress) {
    struct Case {
        const char* params;
        size_t size;
    } cases[] = {
        {"size=0", 0},                                    // Content-Length 0 in HEAD and GET
        {"headlen0=1&size=1000000&rate=400000", 1000000}, // HEAD says 0, the GET has no length at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        TempDir dir(L"dl");
        std::string token = UniqueToken("zero");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, c.params)).c_str(), target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        EXPECT_TRUE(rec.Progress().empty()) << "a percent of an unknown total: " << rec.Progress()[0].value;
        EXPECT_TRUE(FileExists(target));
        ExpectSameBytes(FaultBlob(c.size), target);
    }
}

namespace {

// "bytes=A-B" of a request: the span it asks for (end exclusive); nothing for an open or absent range.
std::optional<Span> AskedSpan(const std::string& range) {
    long long first = 0, last = 0;
    if (std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) != 2) {
        return std::nullopt;
    }
    return Span{first, last + 1};
}

} // namespace

// From 16 MiB on, a server that offers ranges is asked for four at once; below, or with one connection, for the
// whole file. Either way the file is the server's, byte for byte, and no range is asked for twice.
TEST(CurlDownloader, ParallelRangesFromTheThreshold) {
    struct Case {
        const char* file;
        int connections;
        size_t ranges; // GETs with a range; 0: one GET of the whole file
    } cases[] = {
        {"16m-1.bin", 4, 0}, {"16m.bin", 4, 4}, {"40m+3.bin", 4, 4}, {"40m+3.bin", 2, 2}, {"40m+3.bin", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " x" + std::to_string(c.connections));
        TempDir dir(L"dl");
        std::string token = UniqueToken("par");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(NginxUrl(std::string("/files/") + c.file + "?t=" + token)).c_str(),
                               target.c_str(), kLowSpeedTimeSeconds, L"", c.connections);
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        std::string expected = ReadBytes(NginxFile(L"files\\" + W(c.file)));
        ExpectSameBytes(expected, target);
        EXPECT_FALSE(FileExists(target + L".part"));
        EXPECT_FALSE(FileExists(target + L".part.state"));
        auto seen = NginxRequests(token, 1 + std::max<size_t>(c.ranges, 1));
        SpanList asked;
        size_t gets = 0;
        int64_t askedBytes = 0;
        for (const auto& e : seen) {
            if (e.method != "GET") {
                continue;
            }
            ++gets;
            if (c.ranges == 0) {
                EXPECT_EQ(e.range, "-");
                EXPECT_EQ(e.status, "200");
            } else if (auto span = AskedSpan(e.range)) {
                EXPECT_EQ(e.status, "206");
                AddSpan(asked, *span);
                askedBytes += span->end - span->begin;
            }
        }
        EXPECT_EQ(gets, std::max<size_t>(c.ranges, 1));
        if (c.ranges > 0) {
            EXPECT_EQ(asked, (SpanList{{0, static_cast<int64_t>(expected.size())}}));
            EXPECT_EQ(askedBytes, static_cast<int64_t>(expected.size())) << "bytes asked for twice";
        }
    }
}

// What a server does wrong with ranges: a cut range resumes from its own offset; a server that ignores ranges or
// whose file changes under way gets one stream for the rest of the download, and the package is one file.
TEST(CurlDownloader, IrregularRangeAnswers) {
    constexpr int64_t kCut = 1000000;
    struct Case {
        const char* name;
        const char* params;
        bool inverted;   // the result is the changed file
        bool fallsBack;  // "parallel ranges off" in the log
        size_t attempts; // "start download" lines
    } cases[] = {
        {"cut in one range", "repeat=6&etag=1&cut=1000000", false, false, 2},
        {"ranges ignored", "repeat=6&norange=1", false, true, 1},
        {"file changes under way", "repeat=6&change=2", true, true, 1},
        // Mended: a whole new file after the HEAD's kept the HEAD's length, and the attempt failed.
        {"file changed since the HEAD", "repeat=6&change=1", true, true, 1},
        // Mended: an overrun filled the part file's next range and failed three attempts with "writing to disk".
        {"ranges answered with extra bytes", "repeat=6&extra=1000", false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"dl");
        std::string token = UniqueToken("irr");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        LogCapture log;
        {
            CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, c.params)).c_str(), target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1, 120000));
        }
        EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
        const std::string expected = FaultBody(6, c.inverted);
        std::string actual = ReadBytes(target);
        EXPECT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "the file is not the server's one file";
        EXPECT_EQ(CountMessages(log, L"CurlClient::Transfer", L"parallel ranges off") > 0, c.fallsBack);
        EXPECT_EQ(CountMessages(log, L"CurlClient::Start", L"start download"), c.attempts);
        for (const Report& r : rec.Progress()) {
            EXPECT_LE(r.value, 1.0);
        }
        auto seen = FaultRequests(token, 3);
        std::vector<FaultEntry> gets;
        for (const auto& e : seen) {
            if (e.method == "GET") {
                gets.push_back(e);
            }
        }
        if (std::string(c.name) == "cut in one range") {
            ASSERT_GE(gets.size(), 5u);
            // The first four cover the file; the rest ask for exactly what the cut range had left.
            int64_t later = 0;
            SpanList first;
            for (size_t i = 0; i < gets.size(); ++i) {
                auto span = AskedSpan(gets[i].range);
                ASSERT_TRUE(span.has_value()) << gets[i].range;
                EXPECT_EQ(gets[i].ifRange, "\"v1\"");
                if (i < 4) {
                    AddSpan(first, *span);
                } else {
                    later += span->end - span->begin;
                }
            }
            EXPECT_EQ(first, (SpanList{{0, static_cast<int64_t>(expected.size())}}));
            EXPECT_EQ(later, static_cast<int64_t>(expected.size()) / 4 - kCut);
        } else {
            // Ranges until the first irregular answer stops them (the others may never have been sent), then one
            // stream that brings the rest: the whole file (200), or, when the first range had arrived by then, the
            // file from its end (206 to an open-ended range). The server logs a request when its handler runs, so a
            // range sent before the stream may be logged after it: no order is asserted.
            ASSERT_GE(gets.size(), 2u);
            ASSERT_LE(gets.size(), 5u);
            size_t streams = 0;
            for (const FaultEntry& e : gets) {
                if (AskedSpan(e.range).has_value()) {
                    continue;
                }
                ++streams;
                EXPECT_TRUE(e.status == "200" || (e.status == "206" && e.range != "-")) << e.status << " " << e.range;
            }
            EXPECT_EQ(streams, 1u) << "exactly one stream for the rest of the file";
        }
    }
}

// Answers that do not add up to the file the HEAD described: short bodies, a range that stops short, a resumed
// range of another file, a signed redirect target that expires. The result is the server's file byte for byte,
// or a failure: never another file reported as complete.
TEST(CurlDownloader, ShortChangedAndExpiringAnswers) {
    constexpr int kMiB = 1048576;
    struct Case {
        const char* name;
        std::string params;
        bool changed; // the server's file at the end is the changed one
    } cases[] = {
        // Mended (each was "1003" with a 1 MiB or 1.1 MiB file).
        {"200 with a short Content-Length", "short=" + std::to_string(kMiB), false},
        {"200 without a length, closed early", "nolen=" + std::to_string(kMiB), false},
        {"a cut, then a range that stops short", "cut=" + std::to_string(kMiB) + "&shortrange=100000", false},
        // Mended: the old first MiB and the new file's rest made the package.
        {"a cut, then a range of the changed file (If-Range ignored)",
         "cut=" + std::to_string(kMiB) + "&change=2&ignoreifrange=1", true},
        // Mended: every retry went to the expired target.
        {"a signed redirect target that expires after a cut", "sign=1&etag=1&cut=" + std::to_string(kMiB), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(L"dl");
        std::string token = UniqueToken("short");
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(FaultUrl(token, c.params)).c_str(), target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1, 120000));
        }
        ASSERT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}))
            << "each of these is mended within the retry budget";
        const std::string expected = FaultBody(1, c.changed);
        std::string actual = ReadBytes(target);
        EXPECT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "the file is not the server's file";
        EXPECT_FALSE(FileExists(target + L".part"));
    }
}

// Redirections: at most ten (from https only to https: FetchTool.HttpsFinishesOnlyWithAGoodCertificateForTheHost).
TEST(CurlDownloader, RedirectionsAreBounded) {
    struct Case {
        int hops;
        int code;
    } cases[] = {{10, DL_CODE_SUCCESS}, {11, DL_CODE_FAIL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hops);
        TempDir dir(L"dl");
        std::string path;
        for (int i = 0; i < c.hops; ++i) {
            path += "/redirect";
        }
        std::wstring target = dir / L"pkg.exe";
        Recorder rec;
        {
            CCurlDownloader dl(rec.Callback(), W(NginxUrl(path + "/files/small.bin?t=" + UniqueToken("hops"))).c_str(),
                               target.c_str());
            dl.Start();
            ASSERT_TRUE(rec.WaitTerminals(1, 60000));
        }
        EXPECT_EQ(rec.Last().code, c.code) << "libcurl 7.88 follows any number of redirections by default";
    }
}

// A drive that fills up under a download and gets space back 150 ms later: a byte counts only once the system has
// taken it, so the resumed file is the server's file; and a state file that cannot be saved on the full drive
// leaves the one saved before as it was.
TEST(CurlDownloader, AFullDriveLosesNoBytes) {
    const std::wstring drive = WinePath(SMALLDRIVE_STATE_UNIX);
    if (FileExists(drive + L"\\unavailable")) {
        GTEST_SKIP() << "no small drive: " << ReadBytes(drive + L"\\unavailable");
    }
    ASSERT_NE(::GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "drive Q: is the small tmpfs";
    const std::wstring folder = L"Q:\\" + W(UniqueToken("full"));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring filler = folder + L"\\filler";
    Utils::UniqueFileHandle fill(
        ::CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(fill);
    auto resize = [&](int64_t size) {
        LARGE_INTEGER at;
        at.QuadPart = size;
        return ::SetFilePointerEx(fill.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(fill.get());
    };
    auto freeBytes = [] {
        ULARGE_INTEGER free{};
        return ::GetDiskFreeSpaceExW(L"Q:\\", &free, nullptr, nullptr) ? static_cast<int64_t>(free.QuadPart) : -1;
    };

    // The state file of an earlier save, then the drive filled to the last byte.
    const std::wstring state = folder + L"\\pkg.exe.part.state";
    const std::string saved = "an earlier save\n";
    ASSERT_TRUE(WriteStateFile(state, saved));
    int64_t filled = 0;
    for (DWORD block : {1u << 20, 4096u}) {
        const std::string bytes(block, 'f');
        DWORD put = 0;
        while (::WriteFile(fill.get(), bytes.data(), block, &put, nullptr) && put == block) {
            filled += put;
        }
    }
    ASSERT_LT(freeBytes(), 4096) << "the drive is full";
    EXPECT_FALSE(WriteStateFile(state, std::string(64 * 1024, 's')));
    EXPECT_EQ(ReadBytes(state), saved) << "a failed save replaced the saved state";
    EXPECT_FALSE(FileExists(state + L".tmp"));
    ASSERT_TRUE(::DeleteFileW(state.c_str()));

    // 16 MiB of room for a 42 MiB file; once the drive is full, all of it back 150 ms later.
    ASSERT_TRUE(resize(filled - 16 * 1048576));
    std::atomic<bool> freed{false};
    std::atomic<bool> ended{false};
    std::thread watch([&] {
        while (!ended && !freed) {
            if (freeBytes() < 65536) {
                ::Sleep(150);
                freed = resize(0);
            }
            ::Sleep(2);
        }
    });
    const std::wstring target = folder + L"\\pkg.exe";
    Recorder rec;
    LogCapture log;
    {
        CCurlDownloader dl(rec.Callback(), W(FaultUrl(UniqueToken("full"), "repeat=14&etag=1")).c_str(),
                           target.c_str());
        dl.Start();
        EXPECT_TRUE(rec.WaitTerminals(1, 180000));
    }
    ended = true;
    watch.join();
    EXPECT_TRUE(freed) << "the drive never filled up";
    fill.reset();
    ::DeleteFileW(filler.c_str());
    EXPECT_GE(CountMessages(log, L"CurlClient::Start", L"start download"), 2u) << "an attempt failed on the full drive";
    EXPECT_EQ(rec.Codes(), (std::vector<int>{DL_CODE_START, DL_CODE_SUCCESS}));
    ExpectSameBytes(FaultBody(14), target);
    ::DeleteFileW(target.c_str());
    ::DeleteFileW((target + L".part").c_str());
    ::DeleteFileW(state.c_str());
    ::RemoveDirectoryW(folder.c_str());
}
