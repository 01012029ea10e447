// Attribute values of the layout files: colours, rectangles, sizes, booleans and image descriptors.
// Pure text-to-value functions; nothing here touches a window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace UiKit {

// ARGB, alpha in the top byte.
using Argb = uint32_t;

// "#AARRGGBB" or "#RRGGBB" (alpha then 0xFF); anything else yields nothing.
std::optional<Argb> ParseColor(const std::wstring& text);
// "a,b,c,d" into a RECT (left, top, right, bottom); missing trailing numbers are 0, no number at all yields nothing.
std::optional<RECT> ParseRect(const std::wstring& text);
// "cx,cy".
std::optional<SIZE> ParseSize(const std::wstring& text);
// "true"/"false" (case-insensitive); anything else yields `fallback`.
bool ParseBool(const std::wstring& text, bool fallback);
// A whole decimal number, optionally signed; anything else yields `fallback`.
int ParseInt(const std::wstring& text, int fallback);

// An image reference: either a bare file path relative to the skin folder ("res\\common\\close.png") or a list of
// key='value' pairs ("res='185' restype='png' dest='0,0,18,18' corner='5,5,5,5' mask='#FF0000' fade='255'").
struct ImageSpec {
    std::wstring res;     // resource id in decimal or file path
    std::wstring resType; // "png" for a PNG resource; empty for a file
    std::optional<RECT> dest;
    std::optional<RECT> source;
    RECT corner{};            // nine-slice insets (left, top, right, bottom)
    std::optional<Argb> mask; // pixels of this RGB become transparent
    int fade = 255;
    bool hole = false; // nine-slice without the centre piece
    bool xTiled = false;
    bool yTiled = false;

    [[nodiscard]] bool FromResource() const { return !resType.empty(); }
    // The numeric resource id, 0 when `res` is not a number.
    [[nodiscard]] int ResourceId() const;
};

std::optional<ImageSpec> ParseImage(const std::wstring& text);

} // namespace UiKit
