#include <gtest/gtest.h>

#include <windows.h>

#include "utils/TextConv.h"

using Utils::kCodePageAnsi;
using Utils::kCodePageUtf8;

TEST(UrlEncode, KeepsPrintableAsciiPlusForSpacePercentEscapesTheRest) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L""},
        {L"a b", L"a+b"},
        {L"http://h/p?a=1&b=2", L"http://h/p?a=1&b=2"},
        {L"音", L"%E9%9F%B3"},
        {L"http://h/安 装.exe", L"http://h/%E5%AE%89+%E8%A3%85.exe"},
        {L"100%", L"100%"}, // a bare percent stays bare
        {L"%41", L"%41"},   // an existing escape is not escaped again
        {L"a+b~!", L"a+b~!"},
        {L"\t\x7f", L"%09%7F"}, // control characters and DEL
        {L"\U0001F600", L"%F0%9F%98%80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utils::UrlEncode(c.in), c.out);
    }
}

TEST(TextConversion, EmptyTextConvertsToEmptyTextBothWays) {
    EXPECT_EQ(Utils::MultiByteToWide("", kCodePageUtf8), L"");
    EXPECT_EQ(Utils::MultiByteToWide("", kCodePageAnsi), L"");
    EXPECT_EQ(Utils::WideToMultiByte(L"", kCodePageUtf8), "");
    EXPECT_EQ(Utils::WideToMultiByte(L"", kCodePageAnsi), "");
}

TEST(TextConversion, Utf8AndAnsiCodePage936RoundTrip) {
    EXPECT_EQ(::GetACP(), 936u) << "tests run under the Chinese locale";
    EXPECT_EQ(Utils::WideToMultiByte(L"安装", kCodePageUtf8), "\xE5\xAE\x89\xE8\xA3\x85");
    EXPECT_EQ(Utils::WideToMultiByte(L"安装", kCodePageAnsi), "\xB0\xB2\xD7\xB0");
    EXPECT_EQ(Utils::MultiByteToWide("\xB0\xB2\xD7\xB0", kCodePageAnsi), L"安装");
    EXPECT_EQ(Utils::MultiByteToWide("\xE5\xAE\x89\xE8\xA3\x85", kCodePageUtf8), L"安装");
    // Only the text up to an embedded zero is converted.
    EXPECT_EQ(Utils::MultiByteToWide(std::string("ab\0cd", 5), kCodePageUtf8), L"ab");
    EXPECT_EQ(Utils::WideToMultiByte(std::wstring(L"ab\0cd", 5), kCodePageUtf8), "ab");
    // Invalid UTF-8 is replaced, not dropped.
    EXPECT_EQ(Utils::MultiByteToWide("a\xFF"
                                     "b",
                                     kCodePageUtf8),
              L"a\xFFFD"
              L"b");
}
