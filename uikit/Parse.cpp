#include "uikit/Parse.h"

#include <cwctype>
#include <vector>

namespace UiKit {

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

std::wstring Trim(const std::wstring& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::iswspace(s[b])) {
        ++b;
    }
    while (e > b && std::iswspace(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

// Comma-separated whole numbers; nothing when any part is not a number.
std::optional<std::vector<int>> ParseInts(const std::wstring& text) {
    std::vector<int> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        std::wstring part = Trim(text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        if (part.empty()) {
            return std::nullopt;
        }
        int sentinel = ParseInt(part, INT32_MIN);
        if (sentinel == INT32_MIN) {
            return std::nullopt;
        }
        out.push_back(sentinel);
        if (comma == std::wstring::npos) {
            break;
        }
        start = comma + 1;
    }
    return out;
}

} // namespace

std::optional<Argb> ParseColor(const std::wstring& raw) {
    std::wstring text = Trim(raw);
    if (text.size() != 7 && text.size() != 9) {
        return std::nullopt;
    }
    if (text[0] != L'#') {
        return std::nullopt;
    }
    Argb value = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<Argb>(d);
    }
    if (text.size() == 7) {
        value |= 0xFF000000u;
    }
    return value;
}

int ParseInt(const std::wstring& raw, int fallback) {
    std::wstring text = Trim(raw);
    if (text.empty()) {
        return fallback;
    }
    size_t i = 0;
    bool negative = false;
    if (text[0] == L'-' || text[0] == L'+') {
        negative = text[0] == L'-';
        i = 1;
    }
    if (i == text.size()) {
        return fallback;
    }
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return fallback;
        }
        value = value * 10 + (text[i] - L'0');
        if (value > INT32_MAX) {
            return fallback;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

std::optional<RECT> ParseRect(const std::wstring& text) {
    auto v = ParseInts(text);
    if (!v || v->empty() || v->size() > 4) {
        return std::nullopt;
    }
    v->resize(4, 0);
    return RECT{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<SIZE> ParseSize(const std::wstring& text) {
    auto v = ParseInts(text);
    if (!v || v->size() != 2) {
        return std::nullopt;
    }
    return SIZE{(*v)[0], (*v)[1]};
}

bool ParseBool(const std::wstring& raw, bool fallback) {
    std::wstring text = Trim(raw);
    for (auto& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    if (text == L"true") {
        return true;
    }
    if (text == L"false") {
        return false;
    }
    return fallback;
}

int ImageSpec::ResourceId() const {
    return ParseInt(res, 0);
}

std::optional<ImageSpec> ParseImage(const std::wstring& raw) {
    std::wstring text = Trim(raw);
    if (text.empty()) {
        return std::nullopt;
    }
    ImageSpec desc;
    if (text.find(L'=') == std::wstring::npos && text.find(L'\'') == std::wstring::npos) {
        desc.res = text;
        return desc;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && std::iswspace(text[pos])) {
            ++pos;
        }
        if (pos >= text.size()) {
            break;
        }
        size_t eq = text.find(L'=', pos);
        if (eq == std::wstring::npos || eq + 1 >= text.size() || text[eq + 1] != L'\'') {
            return std::nullopt;
        }
        size_t close = text.find(L'\'', eq + 2);
        if (close == std::wstring::npos) {
            return std::nullopt;
        }
        std::wstring key = Trim(text.substr(pos, eq - pos));
        std::wstring value = text.substr(eq + 2, close - eq - 2);
        pos = close + 1;
        if (key == L"res" || key == L"file") {
            desc.res = value;
        } else if (key == L"restype") {
            desc.resType = value;
        } else if (key == L"dest") {
            desc.dest = ParseRect(value);
        } else if (key == L"source") {
            desc.source = ParseRect(value);
        } else if (key == L"corner") {
            desc.corner = ParseRect(value).value_or(RECT{});
        } else if (key == L"mask") {
            desc.mask = ParseColor(value);
        } else if (key == L"fade") {
            int f = ParseInt(value, 255);
            desc.fade = f < 0 ? 0 : (f > 255 ? 255 : f);
        } else if (key == L"hole") {
            desc.hole = ParseBool(value, false);
        } else if (key == L"xtiled") {
            desc.xTiled = ParseBool(value, false);
        } else if (key == L"ytiled") {
            desc.yTiled = ParseBool(value, false);
        }
        // Unknown keys are ignored so that newer skins still load.
    }
    if (desc.res.empty()) {
        return std::nullopt;
    }
    return desc;
}

} // namespace UiKit
