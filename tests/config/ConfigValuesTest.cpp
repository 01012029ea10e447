#include <gtest/gtest.h>

#include <cmath>

#include "config/ConfigValues.h"
#include "tests/support/TestSupport.h"

using namespace Config;

TEST(ParseReal, LongestDecimalPrefixOrNothing) {
    struct Case {
        const wchar_t* text;
        std::optional<double> value;
    } cases[] = {
        {L"0.7", 0.7},
        {L"0.5 ", 0.5},
        {L"  0.5abc", 0.5},
        {L"\t-1.25", -1.25},
        {L"+3", 3.0},
        {L".5", 0.5},
        {L"5.", 5.0},
        {L"1e2", 100.0},
        {L"1e", 1.0},
        {L"2E-1x", 0.2},
        {L"1e+", 1.0},
        {L"abc", std::nullopt},
        {L"", std::nullopt},
        {L".", std::nullopt},
        {L"-", std::nullopt},
        {L"inf", std::nullopt},
        {L"nan", std::nullopt},
        {L"1e999", std::nullopt},
        {L"-1e999", std::nullopt},
        {L"1e-999", 0.0},
        {L"0x10", 0.0},
    };
    for (const Case& c : cases) {
        auto v = ParseReal(c.text);
        ASSERT_EQ(v.has_value(), c.value.has_value()) << TestSupport::Utf8(c.text);
        if (v) {
            EXPECT_DOUBLE_EQ(*v, *c.value) << TestSupport::Utf8(c.text);
        }
    }
}

TEST(ParseInt32, DecimalPrefixWithinThirtyTwoBits) {
    struct Case {
        const wchar_t* text;
        std::optional<int> value;
    } cases[] = {
        {L"2", 2},
        {L" 2x", 2},
        {L"-7", -7},
        {L"+9", 9},
        {L"", std::nullopt},
        {L"x2", std::nullopt},
        {L"- 2", std::nullopt},
        {L"2147483647", 2147483647},
        {L"-2147483648", -2147483647 - 1},
        {L"2147483648", std::nullopt},
        {L"99999999999999999999", std::nullopt},
        {L"007", 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseInt32(c.text), c.value) << TestSupport::Utf8(c.text);
    }
}

TEST(ParseConnections, WithinOneToTheMost) {
    struct Case {
        const wchar_t* text;
        std::optional<int> value;
    } cases[] = {
        {L"4", 4},
        {L" 2 ", 2},
        {L"1", 1},
        {L"0", 1},
        {L"-3", 1},
        {L"16", 16},
        {L"17", 16},
        {L"2147483647", 16},
        {L"", std::nullopt},
        {L"many", std::nullopt},
        {L"99999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseConnections(c.text), c.value) << TestSupport::Utf8(c.text);
    }
}

TEST(ParseOptions, FirstOccurrenceWinsAndKeysAreExact) {
    OptionMap m = ParseOptions({L"C:\\setup.exe", L"-downloadtype=2", L"-downloadtype=1", L"-a=b=c", L"-e=", L"-alone",
                                L"plain=x", L"-DOWNLOADTYPE=5", L"2"});
    EXPECT_EQ(m.at(L"-downloadtype"), L"2");
    EXPECT_EQ(m.at(L"-a"), L"b=c");
    EXPECT_EQ(m.at(L"-e"), L"");
    EXPECT_EQ(m.at(L"-alone"), L"");
    EXPECT_EQ(m.at(L"plain=x"), L"") << "no leading dash: the whole argument is a key";
    EXPECT_EQ(m.at(L"-DOWNLOADTYPE"), L"5");
    EXPECT_EQ(m.at(L"2"), L"");
    EXPECT_EQ(m.at(L"C:\\setup.exe"), L"");
    EXPECT_EQ(m.size(), 9u - 1u);
}

TEST(ConventionalSwitches, HelpAndSilentSpellings) {
    for (const wchar_t* help : {L"/?", L"-help", L"--help", L"--HELP"}) {
        EXPECT_TRUE(AsksForHelp({L"setup.exe", L"-silent", help})) << TestSupport::Utf8(help);
    }
    for (const wchar_t* other : {L"/h", L"-?", L"help", L"-helpme"}) {
        EXPECT_FALSE(AsksForHelp({L"setup.exe", other})) << TestSupport::Utf8(other);
    }
    EXPECT_EQ(ConventionalSwitch(L"-SILENT=true"), L"-silent=true");
    EXPECT_EQ(ConventionalSwitch(L"-SILENTLY"), L"-SILENTLY");
    EXPECT_EQ(ConventionalSwitch(L"/Sx"), L"/Sx");
    EXPECT_EQ(NameOnly(L"-proxy=http://u:p@h"), L"-proxy");
}

TEST(Route, EveryPlaceholderIsReplacedAndXpNamesPickTheXpRoute) {
    EXPECT_EQ(ReplaceRoute(L"http://h/${ROUTE}/a/${ROUTE}.exe", L"r"), L"http://h/r/a/r.exe");
    EXPECT_EQ(ReplaceRoute(L"http://h/a.exe", L"r"), L"http://h/a.exe");
    EXPECT_EQ(ReplaceRoute(L"http://h/${route}/${ROUTE", L"r"), L"http://h/${route}/${ROUTE");
    EXPECT_EQ(ReplaceRoute(L"", L"r"), L"");
    struct Case {
        const wchar_t* name;
        const wchar_t* route;
    } cases[] = {{L"XP", L"download_silent_xp"}, {L"XP64", L"download_silent_xp"},         {L"7", L"download_silent"},
                 {L"10", L"download_silent"},    {L"Unknown Version", L"download_silent"}, {L"xp", L"download_silent"}};
    for (const Case& c : cases) {
        EXPECT_EQ(RouteForVersionName(c.name), c.route) << TestSupport::Utf8(c.name);
    }
}
