// Drawing of the control tree into a 32-bit buffer: GDI+ for images and fills, GDI for text (GDI honours the
// system's font substitutes, so a face such as "微软雅黑" falls back to an installed CJK font).
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "uikit/Parse.h"
#include "utils/ScopedWin.h"

namespace Gdiplus {
class Bitmap;
class Graphics;
} // namespace Gdiplus

namespace UiKit {

// Starts GDI+ once for the process (safe to call repeatedly from the UI thread).
bool StartGdiplus();

// Decoded images by reference. PNG resources come from `module`, files from `skinFolder`.
class ImageCache {
public:
    ImageCache();
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;
    void SetSource(HMODULE module, const std::wstring& skinFolder);
    // Null when the image cannot be found or decoded.
    Gdiplus::Bitmap* Get(const ImageSpec& desc);

private:
    HMODULE module_ = nullptr;
    std::wstring skinFolder_;
    std::map<std::wstring, std::unique_ptr<Gdiplus::Bitmap>> images_;
};

// A top-down 32-bit DIB section of w x h pixels for `dc` (null: the screen); `bits` gets its pixels, row by row
// from the top. Empty (and `bits` null) when it cannot be made.
Utils::UniqueGdiObject NewDib32(HDC dc, int w, int h, void*& bits);

// Loads PNG resource `id` of type "PNG" from `module` into a bitmap that owns its pixels.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id);
// Makes every pixel whose RGB equals `mask`'s RGB fully transparent.
void ApplyMask(Gdiplus::Bitmap& bitmap, Argb mask);

// Source rectangle, destination rectangle and corners of a nine-slice draw, split into up to nine pieces
// (source, destination) pairs. Pure so that the split can be tested.
struct SlicePiece {
    RECT src;
    RECT dst;
};
int SliceNine(const RECT& src, const RECT& dst, const RECT& corner, bool hole, SlicePiece out[9]);

class Canvas {
public:
    Canvas(HDC dc, ImageCache& images);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    void Fill(const RECT& rc, Argb color, SIZE round = {});
    void Frame(const RECT& rc, int size, Argb color, SIZE round = {});
    // Draws an image reference into `rc` (its "dest" is relative to `rc`). `clipWidth` >= 0 cuts the destination and
    // the source to that many pixels from the left instead of stretching (progress fill).
    bool DrawImage(const std::wstring& descriptor, const RECT& rc, int clipWidth = -1);
    // With DT_CALCRECT nothing is drawn and `rc` receives the measured rectangle.
    void Text(const std::wstring& text, RECT& rc, HFONT font, Argb color, UINT format);
    // Drawing area: nothing outside `rc` changes until the matching PopClip.
    void PushClip(const RECT& rc);
    void PopClip();

private:
    void FlushGdiplus();
    HDC dc_;
    ImageCache& images_;
    std::unique_ptr<Gdiplus::Graphics> g_;
    int clipDepth_ = 0;
};

} // namespace UiKit
