// The downloaders' pure rules: percent arithmetic, retry costs, part-file name, URL forms, byte ranges and the
// state file of a resumable download.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "download/CurlClient.h"
#include "download/DownloadRanges.h"
#include "download/MirrorRules.h"
#include "download/ServerCertificate.h"
#include "download/WinDownloader.h"

TEST(DownloadLogic, ProgressPercent) {
    struct Case {
        int64_t dlnow, dltotal, resumeOffset;
        double contentLength;
        bool reported;
        double percent;
    } cases[] = {
        {0, 1000, 0, 1000.0, true, 0.0},
        {500, 1000, 0, 1000.0, true, 50.0},
        {250, 500, 500, 1000.0, true, 75.0}, // a resumed attempt counts the bytes already in the part file
        {0, 500, 500, 1000.0, true, 50.0},
        {500, 500, 500, 1000.0, true, 100.0},
        {100, 400, -1, 1000.0, true, 9.9},                          // no part file: resumeOffset -1
        {300, 600, 0, 0.0, true, 50.0},                             // HEAD said 0: this transfer's own total
        {300, 0, 0, 0.0, false, 0.0},                               // neither total known: no percent, not inf
        {0, 0, 0, 0.0, false, 0.0},                                 // not 0/0
        {3000000000LL, 0, 3000000000LL, 6000000000.0, true, 100.0}, // beyond 32 bits
        {3000000, 3000000, 0, 1234.0, true, 100.0},                 // more than announced: never beyond 100
        {900, 600, 0, 0.0, true, 100.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dlnow << "/" << c.dltotal << " +" << c.resumeOffset << " of "
                                        << c.contentLength);
        auto percent = ProgressPercent(c.dlnow, c.dltotal, c.resumeOffset, c.contentLength);
        ASSERT_EQ(percent.has_value(), c.reported);
        if (percent) {
            EXPECT_TRUE(std::isfinite(*percent));
            EXPECT_DOUBLE_EQ(*percent, c.percent);
        }
    }
}

TEST(DownloadLogic, RetryCostAndBudget) {
    EXPECT_EQ(kRetryBudget, 6);
    struct Case {
        std::vector<int> codes; // results of successive failed attempts
        size_t attempts;        // how many are made before the budget is gone
    } cases[] = {
        {{22, 22, 22, 22}, 3},         {{18, 18, 18, 18, 18, 18, 18}, 6}, {{18, 18, 7, 7, 7}, 4},
        {{28, 18, 18, 18, 18, 18}, 5}, {{-998, -998, -998, -998}, 3},     {{23, 18, 23, 18}, 4},
    };
    for (const Case& c : cases) {
        int budget = kRetryBudget;
        size_t attempts = 0;
        for (int code : c.codes) {
            ++attempts;
            budget -= RetryCost(code);
            if (budget <= 0) {
                break;
            }
        }
        EXPECT_EQ(attempts, c.attempts);
    }
}

TEST(DownloadLogic, WhenAUrlIsLeftForTheNext) {
    struct Case {
        int code;
        long httpStatus;
        int budgetLeft, forbiddenInARow;
        const wchar_t* reason; // nullptr: tried again
    } cases[] = {
        {CURLE_HTTP_RETURNED_ERROR, 404, 4, 0, L"HTTP 404: no such file"},
        {ERR_NO_CONTENT_LENGTH, 410, 4, 0, L"HTTP 410: no such file"},
        {ERR_SERVER_CERTIFICATE, 0, 4, 0, L"server certificate refused"},
        {CURLE_HTTP_RETURNED_ERROR, 403, 4, 1, nullptr}, // the configured URL is asked afresh once
        {CURLE_HTTP_RETURNED_ERROR, 403, 2, 2, L"HTTP 403, also from the configured URL"},
        {CURLE_HTTP_RETURNED_ERROR, 407, 2, 0, nullptr},
        {CURLE_HTTP_RETURNED_ERROR, 416, 0, 0, L"retry budget spent (last code 22)"},
        {CURLE_PARTIAL_FILE, 0, 1, 0, nullptr},
        {CURLE_PARTIAL_FILE, 0, 0, 0, L"retry budget spent (last code 18)"},
        {CURLE_HTTP_RETURNED_ERROR, 503, 2, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << " HTTP " << c.httpStatus << " budget " << c.budgetLeft);
        const std::optional<std::wstring> reason =
            ReasonToLeave(AttemptFailure{c.code, c.httpStatus, c.budgetLeft, c.forbiddenInARow});
        ASSERT_EQ(reason.has_value(), c.reason != nullptr);
        if (reason) {
            EXPECT_EQ(*reason, c.reason);
        }
    }
}

TEST(DownloadLogic, PartPathAppendsToTheWholePath) {
    EXPECT_EQ(PartPath(L"C:\\d\\__Package_Tunivox.exe"), L"C:\\d\\__Package_Tunivox.exe.part");
    EXPECT_EQ(PartPath(L"C:\\d.x\\pkg"), L"C:\\d.x\\pkg.part");
}

TEST(DownloadLogic, UrlForms) {
    struct Case {
        std::wstring url;
        std::string curl; // what libcurl gets
        std::wstring win; // what the URL service gets
    } cases[] = {
        {L"http://h/a b/中.exe", "http://h/a b/\xE4\xB8\xAD.exe", L"http://h/a+b/%E4%B8%AD.exe"},
        // file:/// names a local path: libcurl opens it with the ANSI calls (code page 936 here).
        {L"file:///C:/中.exe", "file:///C:/\xD6\xD0.exe", L"file:///C:/中.exe"},
        {L"FILE:///C:/中.exe", "FILE:///C:/\xE4\xB8\xAD.exe", L"FILE:///C:/%E4%B8%AD.exe"},
        {L"http://h/x?a=1&b=%20", "http://h/x?a=1&b=%20", L"http://h/x?a=1&b=%20"},
        {L" file:///C:/x", " file:///C:/x", L"+file:///C:/x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NarrowUrl(c.url), c.curl);
        EXPECT_EQ(WinRequestUrl(c.url), c.win);
    }
}

TEST(DownloadLogic, HostTheServerCertificateMustNameIsTheUrls) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://dl.example.com/tunivox/x.exe", "dl.example.com"},
        {"https://localhost:8443/x", "localhost"},
        {"https://user:pw@host.example:1/x?y=https://other/", "host.example"},
        {"https://[::1]:443/x", "::1"},
        {"https://host?x", "host"},
        {"https://host#frag", "host"},
        {"HTTPS://Host.Example/", "Host.Example"}, // the policy compares names without regard to case
        {"no scheme", ""},
    };
    for (const auto& [url, host] : cases) {
        EXPECT_EQ(UrlHost(url), host) << url;
    }
}

// Only an unknown revocation status is forgiven; nothing else the chain or the policy says, and never a name that
// was not checked.
TEST(DownloadLogic, ServerCertificateVerdict) {
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    const DWORD revocationFailure = static_cast<DWORD>(CERT_E_REVOCATION_FAILURE);
    const DWORD noMatch = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
    struct Case {
        const char* name;
        ServerCertificateFacts facts;
        const wchar_t* verdict; // the start of the refusal; empty: accepted
    } cases[] = {
        {"clean", {0, 0, 0}, L""},
        {"revocation unknown in the chain and the policy", {unknown, 0, revocationFailure}, L""},
        {"revocation server offline", {0, 0, static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE)}, L""},
        {"no revocation check possible", {0, 0, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK)}, L""},
        {"revoked", {CERT_TRUST_IS_REVOKED | unknown, 0, 0}, L"server certificate revoked"},
        {"untrusted root", {CERT_TRUST_IS_UNTRUSTED_ROOT, 0, 0}, L"server certificate issued by an untrusted"},
        {"wrong name behind an unknown revocation status",
         {unknown, noMatch, revocationFailure},
         L"server certificate not issued for host.example"},
        {"wrong name from the whole policy only", {0, 0, noMatch}, L"server certificate not issued for"},
        {"the name could not be checked", {0, static_cast<DWORD>(E_FAIL), 0}, L"server certificate name not checked"},
        {"another policy error", {0, 0, static_cast<DWORD>(CERT_E_EXPIRED)}, L"server certificate refused"},
        {"a policy error that is no revocation doubt",
         {0, 0, static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)},
         L"server certificate refused"},
    };
    for (const Case& c : cases) {
        std::wstring verdict = ServerCertificateVerdict(c.facts, L"host.example");
        EXPECT_EQ(verdict.substr(0, std::wcslen(c.verdict)), c.verdict) << c.name;
        EXPECT_EQ(verdict.empty(), c.verdict[0] == L'\0') << c.name;
    }
}

TEST(DownloadRanges, SpansMergeAndLeaveGaps) {
    struct Case {
        SpanList added;
        int64_t length;
        SpanList merged, gaps;
        int64_t prefix;
    } cases[] = {
        {{}, 10, {}, {{0, 10}}, 0},
        {{{0, 4}, {4, 10}}, 10, {{0, 10}}, {}, 10}, // adjacent spans join
        {{{6, 8}, {0, 2}}, 10, {{0, 2}, {6, 8}}, {{2, 6}, {8, 10}}, 2},
        {{{2, 5}, {3, 9}, {1, 2}}, 10, {{1, 9}}, {{0, 1}, {9, 10}}, 0},
        {{{5, 5}, {7, 6}}, 10, {}, {{0, 10}}, 0}, // empty and reversed spans add nothing
        {{{0, 3}, {5, 7}, {2, 6}}, 7, {{0, 7}}, {}, 7},
    };
    for (const Case& c : cases) {
        SpanList spans;
        for (const Span& s : c.added) {
            AddSpan(spans, s);
        }
        EXPECT_EQ(spans, c.merged);
        EXPECT_EQ(Gaps(spans, c.length), c.gaps);
        EXPECT_EQ(ContiguousPrefix(spans), c.prefix);
        EXPECT_EQ(CoveredBytes(spans) + CoveredBytes(c.gaps), c.length);
    }
}

TEST(DownloadRanges, ParallelOnlyFromTheThresholdWithRangesOffered) {
    constexpr int64_t M = 1024 * 1024;
    struct Case {
        int64_t length;
        bool acceptRanges;
        int connections;
        bool parallel;
    } cases[] = {
        {16 * M - 1, true, 4, false}, {16 * M, true, 4, true},   {16 * M, false, 4, false},
        {16 * M, true, 1, false},     {4000 * M, true, 2, true}, {0, true, 4, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UseParallelRanges(c.length, c.acceptRanges, c.connections), c.parallel) << c.length;
    }
}

namespace {

// `count` spans of `size` bytes with a hole of `size` before each: [size, 2 size), [3 size, 4 size), ...
SpanList ManyHoles(int count, int64_t size) {
    SpanList spans;
    for (int i = 0; i < count; ++i) {
        AddSpan(spans, {(2 * i + 1) * size, (2 * i + 2) * size});
    }
    return spans;
}

} // namespace

TEST(DownloadRanges, PlanSplitsWhatIsMissing) {
    constexpr int64_t M = 1024 * 1024;
    struct Case {
        const char* name;
        SpanList done;
        int64_t length;
        int connections;
        SpanList plan;
    } cases[] = {
        {"fresh", {}, 16 * M, 4, {{0, 4 * M}, {4 * M, 8 * M}, {8 * M, 12 * M}, {12 * M, 16 * M}}},
        {"odd length", {}, 16 * M + 3, 2, {{0, 8 * M + 1}, {8 * M + 1, 16 * M + 3}}},
        {"one cut range resumes from its own offset",
         {{0, 4 * M}, {4 * M + 100, 16 * M}},
         16 * M,
         4,
         {{4 * M, 4 * M + 100}}},
        {"a long hole is split again",
         {{0, 4 * M}},
         16 * M,
         4,
         {{4 * M, 7 * M}, {7 * M, 10 * M}, {10 * M, 13 * M}, {13 * M, 16 * M}}},
        {"never below the smallest piece", {}, 3 * M, 4, {{0, 3 * M / 2}, {3 * M / 2, 3 * M}}},
        {"complete", {{0, 16 * M}}, 16 * M, 4, {}},
        // Mended: every hole was asked for at once, 257 requests for a state of 256 spans.
        {"one connection", {{M, 2 * M}}, 16 * M, 1, {{0, M}}},
        {"more holes than connections",
         ManyHoles(256, M),
         257 * 2 * M,
         4,
         {{0, M}, {2 * M, 3 * M}, {4 * M, 5 * M}, {6 * M, 7 * M}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpanList plan = PlanRanges(c.done, c.length, c.connections);
        EXPECT_EQ(plan, c.plan);
        EXPECT_LE(plan.size(), static_cast<size_t>(c.connections));
        // Together with what is there, the plan is the whole file (when the holes fit the connections), and
        // nothing is asked for twice.
        SpanList all = c.done;
        for (const Span& s : plan) {
            AddSpan(all, s);
        }
        if (Gaps(c.done, c.length).size() <= static_cast<size_t>(c.connections)) {
            EXPECT_EQ(CoveredBytes(all), c.length);
        }
        EXPECT_EQ(CoveredBytes(all), CoveredBytes(c.done) + CoveredBytes(plan));
    }
}

TEST(DownloadRanges, AnswerHeadersAndTheirChecks) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        Span asked;
        int64_t length;
        std::string validator; // the one the download began with
        std::string problem;   // expected start of RangeProblem's text; empty: usable
        std::string now;       // ValidatorOf the answer
    } cases[] = {
        {"exact",
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 0-99/1000\r\n", "ETag: \"a\"\r\n"},
         {0, 100},
         1000,
         "\"a\"",
         "",
         "\"a\""},
        {"ignored range", {"HTTP/1.1 200 OK\r\n", "ETag: \"a\"\r\n"}, {0, 100}, 1000, "\"a\"", "answered 200", "\"a\""},
        {"other range",
         {"HTTP/1.1 206 Partial Content\r\n", "content-range:  bytes 0-199/1000 \r\n"},
         {0, 100},
         1000,
         "",
         "Content-Range \"bytes 0-199/1000\" for bytes 0-99/1000",
         ""},
        {"other length",
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 0-99/1001\r\n"},
         {0, 100},
         1000,
         "",
         "Content-Range",
         ""},
        {"validator changed",
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 100-199/1000\r\n", "ETag: \"b\"\r\n"},
         {100, 200},
         1000,
         "\"a\"",
         "validator changed",
         "\"b\""},
        {"a redirection's headers do not count",
         {"HTTP/1.1 302 Found\r\n", "Content-Range: bytes 0-99/1000\r\n", "ETag: \"x\"\r\n", "HTTP/1.1 206 OK\r\n",
          "Content-Range: bytes 0-99/1000\r\n", "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n"},
         {0, 100},
         1000,
         "Tue, 08 Dec 2026 10:00:00 GMT",
         "",
         "Tue, 08 Dec 2026 10:00:00 GMT"},
        {"weak ETag: Last-Modified confirms",
         {"HTTP/1.1 206 OK\r\n", "Content-Range: bytes 0-99/1000\r\n", "ETag: W/\"a\"\r\n", "Last-Modified: Mon\r\n"},
         {0, 100},
         1000,
         "Mon",
         "",
         "Mon"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseFacts facts;
        for (const std::string& line : c.lines) {
            ParseHeaderLine(line, facts);
        }
        std::string problem = RangeProblem(facts, c.asked, c.length, c.validator);
        if (c.problem.empty()) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        }
        EXPECT_EQ(ValidatorOf(facts), c.now);
    }
    ResponseFacts head;
    for (const char* line : {"HTTP/1.1 200 OK\r\n", "Accept-Ranges: Bytes\r\n"}) {
        ParseHeaderLine(line, head);
    }
    EXPECT_TRUE(head.acceptRanges);
    ParseHeaderLine("Accept-Ranges: none\r\n", head);
    EXPECT_FALSE(head.acceptRanges);
}

TEST(DownloadRanges, StateFileIsParsedDefensively) {
    PartState state{"http://h/p.exe", 1000, "\"v1\"", {{0, 100}, {500, 600}}};
    std::string text = FormatPartState(state);
    auto back = ParsePartState(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->url, state.url);
    EXPECT_EQ(back->length, 1000);
    EXPECT_EQ(back->validator, state.validator);
    EXPECT_EQ(back->done, state.done);

    const std::string head = "tunivox-part 1\nurl http://h/p.exe\nlength 1000\nvalidator \"v1\"\n";
    std::string many = head;
    for (int i = 0; i < 300; ++i) {
        many += "done " + std::to_string(i * 2) + " " + std::to_string(i * 2 + 1) + "\n";
    }
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
        {"empty", "", false},
        {"other version", "tunivox-part 2\nurl u\nlength 1\nvalidator v\n", false},
        {"no validator line", "tunivox-part 1\nurl u\nlength 1\n", false},
        {"empty validator is a state (never resumed)", "tunivox-part 1\nurl u\nlength 1\nvalidator \n", true},
        {"span beyond the length", head + "done 900 1001\n", false},
        {"reversed span", head + "done 10 5\n", false},
        {"negative", head + "done -1 5\n", false},
        {"overflowing number", head + "done 0 99999999999999999999\n", false},
        {"not a number", head + "done 0x10 20\n", false},
        {"span before the length", "tunivox-part 1\nurl u\ndone 0 1\nlength 1\nvalidator v\n", false},
        {"twice the url", head + "url http://other/\n", false},
        {"unknown key", head + "offset 5\n", false},
        {"control character", head.substr(0, head.size() - 1) + "\x01\n", false},
        {"zero length", "tunivox-part 1\nurl u\nlength 0\nvalidator v\n", false},
        {"too many spans", many, false},
        {"too long", head + std::string(kMaxStateFileBytes, '#'), false},
        {"overlapping spans merge", head + "done 0 10\ndone 5 20\n", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParsePartState(c.text).has_value(), c.valid) << c.name;
    }
}

TEST(DownloadRanges, ResumeOnlyTheSameFileWithItsBytesThere) {
    const PartState state{"http://h/p.exe", 1000, "\"v1\"", {{0, 400}}};
    struct Case {
        const char* name;
        std::optional<PartState> state;
        std::string url;
        int64_t length;
        std::string validator;
        int64_t partSize;
        bool resumed;
    } cases[] = {
        {"same file", state, "http://h/p.exe", 1000, "\"v1\"", 400, true},
        {"no state file", std::nullopt, "http://h/p.exe", 1000, "\"v1\"", 400, false},
        {"other URL", state, "http://h/q.exe", 1000, "\"v1\"", 400, false},
        {"other length", state, "http://h/p.exe", 1001, "\"v1\"", 400, false},
        {"other validator", state, "http://h/p.exe", 1000, "\"v2\"", 400, false},
        {"server gives no validator", PartState{"http://h/p.exe", 1000, "", {{0, 400}}}, "http://h/p.exe", 1000, "",
         400, false},
        {"part file shorter than the state says", state, "http://h/p.exe", 1000, "\"v1\"", 399, false},
        {"no part file", state, "http://h/p.exe", 1000, "\"v1\"", -1, false},
    };
    for (const Case& c : cases) {
        SpanList kept = ResumeSpans(c.state, c.url, c.length, c.validator, c.partSize);
        EXPECT_EQ(!kept.empty(), c.resumed) << c.name;
    }
}

// What a kill can lose: simulated writers (no clock of the machine) meet the save rule at every write. The state
// never lags the written bytes by more than 8 MiB and a write, nor by more than 250 ms and a write's worth; and a
// slow line is not saved at every write.
TEST(DownloadLogic, StateIsSavedByTimeAndByBytes) {
    constexpr int64_t K = 1024;
    struct Case {
        const char* name;
        int64_t bytesPerSecond; // all connections together
        int64_t writeBytes;     // what one write callback hands over
        int64_t maxSaves;       // in the simulated 10 s
    } cases[] = {
        {"four connections at 4 MB/s", 16'000'000, 100 * K, 10 * 4 + 1},
        {"a fast line", 400'000'000, 100 * K, int64_t{10} * 400'000'000 / kStateSaveBytes + 10 * 4 + 1},
        {"a slow line in small writes", 50'000, 16 * K, 10 * 4 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StateSaveRule rule;
        int64_t written = 0, savedBytes = 0, savedAt = 0, saves = 0, worstBytes = 0, worstMs = 0;
        const int64_t stepUs = c.writeBytes * 1'000'000 / c.bytesPerSecond;
        for (int64_t us = stepUs; us <= 10'000'000; us += stepUs) {
            written += c.writeBytes;
            const int64_t nowMs = us / 1000;
            // What a kill just before this write's check would lose.
            worstBytes = std::max(worstBytes, written - savedBytes);
            worstMs = std::max(worstMs, nowMs - savedAt);
            if (rule.Due(nowMs, written)) {
                rule.Saved(nowMs, written);
                savedBytes = written;
                savedAt = nowMs;
                ++saves;
            }
        }
        EXPECT_LE(worstBytes, kStateSaveBytes + c.writeBytes);
        EXPECT_LE(worstMs, kStateSaveIntervalMs + stepUs / 1000 + 1);
        EXPECT_LE(saves, c.maxSaves) << "saved more often than the rule asks";
        EXPECT_GE(saves, 10'000 / (kStateSaveIntervalMs + stepUs / 1000 + 1)) << "saved too rarely";
    }
}
