// Drawing of the control tree into a 32-bit buffer: GDI+ for images and fills, GDI for text (GDI honours the
// system's font substitutes, so a face such as "微软雅黑" falls back to an installed CJK font).
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "uikit/Parse.h"
#include "uikit/Scale.h"
#include "utils/ScopedWin.h"

namespace Gdiplus {
class Bitmap;
class Graphics;
} // namespace Gdiplus

namespace UiKit {

// Starts GDI+ once for the process (safe to call repeatedly from the UI thread).
bool StartGdiplus();

// Decoded images by reference and DPI level. PNG resources come from `module`, files from `skinFolder`. An image at
// level L is resource type "PNG<L>" (PNG120, PNG144, PNG192) of the same id; where the module has none, the next
// level above is scaled down, or the 96-DPI image ("PNG") up, once, with a high-quality filter.
class ImageCache {
public:
    ImageCache();
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;
    void SetSource(HMODULE module, const std::wstring& skinFolder);
    // The image drawn for `level` (one of kImageLevels): its pixels are the 96-DPI ones times level / 96. Null when
    // the image cannot be found or decoded.
    Gdiplus::Bitmap* Get(const ImageSpec& desc, int level = kBaseDpi);

private:
    std::unique_ptr<Gdiplus::Bitmap> Load(const ImageSpec& desc, int level);
    HMODULE module_ = nullptr;
    std::wstring skinFolder_;
    std::map<std::wstring, std::unique_ptr<Gdiplus::Bitmap>> images_;
};

// A top-down 32-bit DIB section of w x h pixels for `dc` (null: the screen); `bits` gets its pixels, row by row
// from the top. Empty (and `bits` null) when it cannot be made.
Utils::UniqueGdiObject NewDib32(HDC dc, int w, int h, void*& bits);

// Loads PNG resource `id` of type `type` ("PNG", or "PNG192" for the level 192) from `module` into a bitmap that
// owns its pixels; null when there is none.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id, const wchar_t* type = L"PNG");
// `from` scaled to w x h with a high-quality filter (edges continued, not faded).
std::unique_ptr<Gdiplus::Bitmap> Resampled(Gdiplus::Bitmap& from, int w, int h);
// Makes every pixel whose RGB equals `mask`'s RGB fully transparent.
void ApplyMask(Gdiplus::Bitmap& bitmap, Argb mask);

// Source rectangle, destination rectangle and corners of a nine-slice draw, split into up to nine pieces
// (source, destination) pairs. Pure so that the split can be tested.
struct SlicePiece {
    RECT src;
    RECT dst;
};
// `srcCorner` is in the source's pixels, `dstCorner` in the destination's (they differ when the image is drawn for
// another scale than the window's).
int SliceNine(const RECT& src, const RECT& dst, const RECT& srcCorner, const RECT& dstCorner, bool hole,
              SlicePiece out[9]);
inline int SliceNine(const RECT& src, const RECT& dst, const RECT& corner, bool hole, SlicePiece out[9]) {
    return SliceNine(src, dst, corner, corner, hole, out);
}

// Draws in device pixels at a window's scale: rectangles are device pixels (the layout has placed them), while
// the lengths that come from the skin as they are (frame widths, corner sizes, an image's "dest" offsets and
// corners) are 96-DPI units that the canvas scales.
class Canvas {
public:
    Canvas(HDC dc, ImageCache& images, const Scale& scale = Scale());
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    const Scale& GetScale() const { return scale_; }
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
    Scale scale_;
    std::unique_ptr<Gdiplus::Graphics> g_;
    int clipDepth_ = 0;
};

} // namespace UiKit
