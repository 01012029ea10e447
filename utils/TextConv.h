// The one place where 8-bit text enters or leaves the installer: UTF-16 <-> UTF-8 (65001) or the system's ANSI
// code page (0), and the URL encoding used by the system downloader.
#pragma once

#include <string>

namespace Utils {

constexpr unsigned kCodePageAnsi = 0;
constexpr unsigned kCodePageUtf8 = 65001;

// Converts up to the first embedded zero. An unconvertible text gives an empty result.
std::wstring MultiByteToWide(const std::string& text, unsigned codePage);
std::string WideToMultiByte(const std::wstring& text, unsigned codePage);

// UTF-8 bytes 33..126 stay as they are (reserved characters and '%' included), a space becomes '+',
// every other byte becomes %XX with upper-case hex digits.
std::wstring UrlEncode(const std::wstring& text);

// A number in decimal digits. Not std::to_wstring: that formats through the C99 wide printf, which would be linked
// into the installer for this alone.
std::wstring Decimal(long long value);

} // namespace Utils
