// Path joining as the installer's windows and records use it.
#pragma once

#include <string>

namespace Utils {

constexpr size_t kMaxPathChars = 260;

// Appends a backslash unless `left` is empty or already ends in '\' or '/', then `right`. A result that would not
// fit the platform's 260-character path buffers (terminator included) is empty, so a caller never works on a
// silently cut path.
std::wstring JoinPath(const std::wstring& left, const std::wstring& right);

} // namespace Utils
