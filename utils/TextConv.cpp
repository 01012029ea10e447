#include "utils/TextConv.h"

#include <windows.h>

#include <vector>

namespace Utils {

std::wstring MultiByteToWide(const std::string& text, unsigned codePage) {
    // The length is given, not the terminator: a double-byte lead byte at the very end would otherwise take the
    // terminator as its trail byte and the conversion would read on past the text.
    const std::string head = text.substr(0, text.find('\0'));
    if (head.empty()) {
        return {};
    }
    const int length = static_cast<int>(head.size());
    int needed = ::MultiByteToWideChar(codePage, 0, head.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring out(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(codePage, 0, head.data(), length, out.data(), needed) <= 0) {
        return {};
    }
    return out.substr(0, out.find(L'\0'));
}

std::string WideToMultiByte(const std::wstring& text, unsigned codePage) {
    int needed = ::WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(needed));
    if (::WideCharToMultiByte(codePage, 0, text.c_str(), -1, buffer.data(), needed, nullptr, nullptr) <= 0) {
        return {};
    }
    return std::string(buffer.data());
}

std::wstring UrlEncode(const std::wstring& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string utf8 = WideToMultiByte(text, kCodePageUtf8);
    std::string encoded;
    encoded.reserve(utf8.size() * 3 + 1);
    for (unsigned char b : utf8) {
        if (b >= 33 && b <= 126) {
            encoded += static_cast<char>(b);
        } else if (b == 32) {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[b >> 4];
            encoded += kHex[b & 0x0F];
        }
    }
    return MultiByteToWide(encoded, kCodePageUtf8);
}

std::wstring Decimal(long long value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

} // namespace Utils
