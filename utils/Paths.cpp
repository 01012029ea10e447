#include "utils/Paths.h"

namespace Utils {

std::wstring JoinPath(const std::wstring& left, const std::wstring& right) {
    std::wstring joined = left;
    if (!joined.empty() && joined.back() != L'\\' && joined.back() != L'/') {
        joined += L'\\';
    }
    joined += right;
    if (joined.size() >= kMaxPathChars) {
        return {};
    }
    return joined;
}

} // namespace Utils
