// fetch.exe as support people run it: one line per report, exit code from the terminal report.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "tools/fetch/FetchArgs.h"
#include "utils/TextConv.h"

using namespace TestServers;

namespace {

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(FetchTool, PrintsEveryReportAndExitsByTheLast) {
    struct Case {
        const char* name;
        std::string options;
        std::string path;
        DWORD exitCode;
        std::string last;
    } cases[] = {
        {"libcurl success", "", "/files/small.bin", 0, "1003\t0\tLibCurl"},
        // The 404 reply to HEAD gives no length: every attempt ends there, and the failure says so.
        {"libcurl 404", "-downloadtype=1 ", "/files/missing.bin", 1,
         "1004\t-998\tLibCurl: HEAD {url} answered HTTP 404"},
        {"system downloader", "-downloadtype=2 ", "/files/small.bin", 0, "1003\t0\tURLDownloadToFile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::TempDir dir(L"fetch");
        std::wstring target = dir / L"out.bin";
        std::wstring command = L"\"" + WinePath(TUNIVOX_FETCH_EXE) + L"\" " + Utils::MultiByteToWide(c.options, 65001) +
                               Utils::MultiByteToWide(NginxUrl(c.path), 65001) + L" \"" + target + L"\"";
        auto result = TestSupport::RunCommand(command);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        auto lines = Lines(result.output);
        ASSERT_GE(lines.size(), 2u) << result.output;
        EXPECT_EQ(lines.front(), "1001\t1\t");
        std::string last = c.last;
        if (size_t at = last.find("{url}"); at != std::string::npos) {
            last.replace(at, 5, NginxUrl(c.path));
        }
        EXPECT_EQ(lines.back(), last);
        for (size_t i = 1; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind("1002\t", 0), 0u) << lines[i];
        }
        if (c.exitCode == 0) {
            EXPECT_EQ(Sha256Hex(TestSupport::ReadBytes(target)),
                      Sha256Hex(TestSupport::ReadBytes(NginxFile(L"files\\small.bin"))));
        }
    }
}

// Over https: only with a good certificate for the host, and never handed down to plain http by a redirection.
TEST(FetchTool, HttpsFinishesOnlyWithAGoodCertificateForTheHost) {
    ASSERT_TRUE(TrustNginxTlsCa());
    struct Case {
        const char* server;
        std::string options;
        DWORD exitCode;
        std::string last; // the start of the last line
        const char* path = "/files/small.bin";
    } cases[] = {
        {"good", "", 0, "1003\t0\tLibCurl"},
        {"selfsigned", "", 1, "1004\t-995\tLibCurl: server certificate issued by an untrusted authority"},
        {"wronghost", "", 1, "1004\t-995\tLibCurl: server certificate not issued for localhost"},
        {"expired", "", 1, "1004\t-995\tLibCurl: server certificate expired or not yet valid"},
        {"good", "", 0, "1003\t0\tLibCurl", "/redirect/files/small.bin"},
        // Mended: the redirection to http was followed and the file came over plain http.
        {"good", "", 1, "1004\t", "/tohttp/files/small.bin"},
        {"good", "-downloadtype=2 ", 0, "1003\t0\tURLDownloadToFile"},
        // INET_E_INVALID_CERTIFICATE
        {"selfsigned", "-downloadtype=2 ", 1, "1004\t-2146697191\tURLDownloadToFile"},
        {"wronghost", "-downloadtype=2 ", 1, "1004\t-2146697191\tURLDownloadToFile"},
        {"expired", "-downloadtype=2 ", 1, "1004\t-2146697191\tURLDownloadToFile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " " + c.options + c.path);
        TestSupport::TempDir dir(L"https");
        std::wstring target = dir / L"out.bin";
        const std::string query = "?t=" + UniqueToken("https");
        std::wstring command = L"\"" + WinePath(TUNIVOX_FETCH_EXE) + L"\" " + Utils::MultiByteToWide(c.options, 65001) +
                               Utils::MultiByteToWide(NginxTlsUrl(c.server, c.path + query), 65001) + L" \"" + target +
                               L"\"";
        auto result = TestSupport::RunCommand(command);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        auto lines = Lines(result.output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(c.last, 0), 0u) << lines.back();
        EXPECT_EQ(TestSupport::FileExists(target), c.exitCode == 0);
        if (std::string(c.path).rfind("/tohttp/", 0) == 0) {
            EXPECT_TRUE(NginxRequests("GET /files/small.bin" + query).empty()) << "a request went over plain http";
        }
    }
}

TEST(FetchTool, UsageErrors) {
    std::wstring exe = L"\"" + WinePath(TUNIVOX_FETCH_EXE) + L"\"";
    for (const wchar_t* args : {L"", L" http://127.0.0.1/x", L" -downloadtype=x http://127.0.0.1/x C:\\x", L" a b c"}) {
        SCOPED_TRACE(Utils::WideToMultiByte(args, 65001));
        EXPECT_EQ(TestSupport::RunCommand(exe + args).exitCode, 2u);
    }
}

TEST(FetchArgs, Parsing) {
    struct Case {
        std::vector<std::wstring> args;
        bool valid;
        int type;
        const wchar_t* proxy = L"";
        int connections = 4;
    } cases[] = {
        {{L"http://h/x", L"C:\\p"}, true, 1},
        {{L"-downloadtype=2", L"http://h/x", L"C:\\p"}, true, 2},
        {{L"http://h/x", L"-downloadtype=0", L"C:\\p"}, true, 0},
        {{L"-downloadtype=", L"http://h/x", L"C:\\p"}, false, 0},
        {{L"-downloadtype=2x", L"http://h/x", L"C:\\p"}, false, 0},
        {{L"http://h/x"}, false, 0},
        {{L"", L"C:\\p"}, false, 0},
        {{L"http://h/x", L""}, true, 1}, // an empty path is the downloader's to report
        {{L"http://h/x", L"-proxy=direct", L"C:\\p"}, true, 1, L"direct"},
        {{L"-connections=1", L"http://h/x", L"C:\\p"}, true, 1, L"", 1},
        {{L"-connections=x", L"http://h/x", L"C:\\p"}, false, 0},
    };
    for (const Case& c : cases) {
        auto parsed = ParseFetchArgs(c.args);
        ASSERT_EQ(parsed.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(parsed->downloadType, c.type);
            EXPECT_EQ(parsed->proxy, c.proxy);
            EXPECT_EQ(parsed->connections, c.connections);
        }
    }
    EXPECT_EQ(FormatReport(1004, -2146697211.0, L"URLDownloadToFile"), "1004\t-2146697211\tURLDownloadToFile\n");
    EXPECT_EQ(FormatReport(1002, 0.25, L""), "1002\t0.25\t\n");
    EXPECT_EQ(FormatReport(1003, 0.0, L"下载"), "1003\t0\t\xE4\xB8\x8B\xE8\xBD\xBD\n");
}

// fetch.exe killed in the middle of a download leaves its part file and the state file; the next run fetches only
// what is missing while the server confirms the file, and starts over when the server has another one.
TEST(FetchTool, KilledFetchResumesOnlyTheSameFile) {
    struct Case {
        const char* name;
        const char* params;
        int copies;
        bool changed; // the result is the changed file
    } cases[] = {
        // Four ranges at 800 kB/s each: about 6 s for 18 MiB; killed after about 3.
        {"same file", "repeat=6&etag=1&rate=800000", 6, false},
        // One stream at 500 kB/s; the file changes after the first run's GET.
        {"changed file", "change=2&rate=500000", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::TempDir dir(L"resume");
        std::wstring target = dir / L"out.bin";
        std::string token = UniqueToken("kill");
        std::wstring command = L"\"" + WinePath(TUNIVOX_FETCH_EXE) + L"\" " +
                               Utils::MultiByteToWide(FaultUrl(token, c.params), 65001) + L" \"" + target + L"\"";
        auto killed = TestSupport::RunCommand(command, 1500);
        ASSERT_EQ(killed.exitCode, 99u) << "not killed under way: " << killed.output;
        ASSERT_TRUE(TestSupport::FileExists(target + L".part"));
        ASSERT_TRUE(TestSupport::FileExists(target + L".part.state"));
        const size_t firstRun = FaultRequests(token).size();

        auto again = TestSupport::RunCommand(command);
        EXPECT_EQ(again.exitCode, 0u) << again.output;
        const std::string expected = FaultBody(c.copies, c.changed);
        std::string actual = TestSupport::ReadBytes(target);
        EXPECT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "not the server's one file";
        EXPECT_FALSE(TestSupport::FileExists(target + L".part"));
        EXPECT_FALSE(TestSupport::FileExists(target + L".part.state"));

        auto seen = FaultRequests(token, firstRun + 2);
        long long asked = 0;
        size_t gets = 0;
        for (size_t i = firstRun; i < seen.size(); ++i) {
            if (seen[i].method != "GET") {
                continue;
            }
            ++gets;
            long long first = 0, last = -1;
            ASSERT_GE(std::sscanf(seen[i].range.c_str(), "bytes=%lld-%lld", &first, &last), 1) << seen[i].range;
            EXPECT_EQ(seen[i].ifRange, "\"v1\"") << "the second run's requests name the file it has";
            asked += (last >= 0 ? last + 1 : static_cast<long long>(expected.size())) - first;
            EXPECT_EQ(seen[i].status, c.changed ? "200" : "206");
        }
        EXPECT_GE(gets, 1u);
        if (!c.changed) {
            EXPECT_LT(asked, static_cast<long long>(expected.size())) << "the second run fetched everything again";
        }
    }
}
