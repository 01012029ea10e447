// The downloaders' pure rules: percent arithmetic, retry costs, part-file name and URL forms.
#include <gtest/gtest.h>

#include <cmath>

#include "download/CurlClient.h"
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
