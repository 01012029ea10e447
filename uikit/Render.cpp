#include "uikit/Render.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <gdiplus.h>
#include <vector>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace UiKit {

namespace {

Gdiplus::Color ToColor(Argb c) {
    return Gdiplus::Color(static_cast<Gdiplus::ARGB>(c));
}

// Round rectangle path; `round` holds the corner ellipse's width and height.
void RoundPath(Gdiplus::GraphicsPath& path, const RECT& rc, SIZE round) {
    float x = static_cast<float>(rc.left);
    float y = static_cast<float>(rc.top);
    float w = static_cast<float>(rc.right - rc.left);
    float h = static_cast<float>(rc.bottom - rc.top);
    float rw = std::min(static_cast<float>(round.cx), w);
    float rh = std::min(static_cast<float>(round.cy), h);
    path.AddArc(x, y, rw, rh, 180.0f, 90.0f);
    path.AddArc(x + w - rw, y, rw, rh, 270.0f, 90.0f);
    path.AddArc(x + w - rw, y + h - rh, rw, rh, 0.0f, 90.0f);
    path.AddArc(x, y + h - rh, rw, rh, 90.0f, 90.0f);
    path.CloseFigure();
}

} // namespace

bool StartGdiplus() {
    // GDI+ stays up for the life of the process: cached bitmaps may outlive any one window, and shutting GDI+ down
    // before they are freed would crash at exit.
    static bool started = [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

Utils::UniqueGdiObject NewDib32(HDC dc, int w, int h, void*& bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bits = nullptr;
    Utils::UniqueGdiObject dib(::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib) {
        bits = nullptr;
    }
    return dib;
}

std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id, const wchar_t* type) {
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (res == nullptr) {
        return nullptr;
    }
    HGLOBAL data = ::LoadResource(module, res);
    const void* bytes = data != nullptr ? ::LockResource(data) : nullptr;
    DWORD size = ::SizeofResource(module, res);
    if (bytes == nullptr || size == 0) {
        return nullptr;
    }
    Utils::ComPtr<IStream> stream;
    *stream.put() = ::SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (!stream) {
        return nullptr;
    }
    Gdiplus::Bitmap decoded(stream.get());
    if (decoded.GetLastStatus() != Gdiplus::Ok) {
        DEBUG_LOG(L"PNG resource %d cannot be decoded", id);
        return nullptr;
    }
    // Copy into a bitmap that owns its pixels: a bitmap made from a stream reads the stream for its whole life.
    auto own = std::make_unique<Gdiplus::Bitmap>(decoded.GetWidth(), decoded.GetHeight(), PixelFormat32bppARGB);
    Gdiplus::Graphics g(own.get());
    g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    g.DrawImage(&decoded, 0, 0, decoded.GetWidth(), decoded.GetHeight());
    return own;
}

std::unique_ptr<Gdiplus::Bitmap> Resampled(Gdiplus::Bitmap& from, int w, int h) {
    auto out = std::make_unique<Gdiplus::Bitmap>(std::max(1, w), std::max(1, h), PixelFormat32bppARGB);
    Gdiplus::Graphics g(out.get());
    g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    Gdiplus::ImageAttributes attrs;
    attrs.SetWrapMode(Gdiplus::WrapModeTileFlipXY); // the edge pixels are not blended with transparency
    g.DrawImage(&from, Gdiplus::Rect(0, 0, std::max(1, w), std::max(1, h)), 0, 0, static_cast<INT>(from.GetWidth()),
                static_cast<INT>(from.GetHeight()), Gdiplus::UnitPixel, &attrs);
    return out;
}

void ApplyMask(Gdiplus::Bitmap& bitmap, Argb mask) {
    Gdiplus::Rect all(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()));
    Gdiplus::BitmapData data{};
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) !=
        Gdiplus::Ok) {
        return;
    }
    for (UINT y = 0; y < data.Height; ++y) {
        auto* row =
            reinterpret_cast<uint32_t*>(static_cast<BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride);
        for (UINT x = 0; x < data.Width; ++x) {
            if ((row[x] & 0x00FFFFFFu) == (mask & 0x00FFFFFFu)) {
                row[x] = 0;
            }
        }
    }
    bitmap.UnlockBits(&data);
}

ImageCache::ImageCache() = default;
ImageCache::~ImageCache() = default;

void ImageCache::SetSource(HMODULE module, const std::wstring& skinFolder) {
    module_ = module;
    skinFolder_ = skinFolder;
}

Gdiplus::Bitmap* ImageCache::Get(const ImageSpec& desc, int level) {
    wchar_t maskText[16] = L"";
    if (desc.mask) {
        Utils::FormatBounded(maskText, 16, L"%08X", *desc.mask);
    }
    std::wstring key = desc.resType + L"|" + desc.res + L"|" + maskText + L"|" + std::to_wstring(level);
    auto it = images_.find(key);
    if (it != images_.end()) {
        return it->second.get();
    }
    std::unique_ptr<Gdiplus::Bitmap> bitmap = Load(desc, level);
    if (bitmap && desc.mask) {
        ApplyMask(*bitmap, *desc.mask);
    }
    Gdiplus::Bitmap* raw = bitmap.get();
    images_[key] = std::move(bitmap); // failures are cached too: a missing image is looked up once
    return raw;
}

std::unique_ptr<Gdiplus::Bitmap> ImageCache::Load(const ImageSpec& desc, int level) {
    if (desc.FromResource()) {
        const int id = desc.ResourceId();
        if (id <= 0) {
            return nullptr;
        }
        if (level == kBaseDpi) {
            auto plain = LoadPngResource(module_, id);
            if (!plain) {
                DEBUG_LOG(L"PNG resource %d not found", id);
            }
            return plain;
        }
        // The image drawn for this level, else the nearest one drawn for a level above, else the 96-DPI one.
        int from = kBaseDpi;
        std::unique_ptr<Gdiplus::Bitmap> source;
        for (int candidate : kImageLevels) {
            if (candidate >= level && !source) {
                source = LoadPngResource(module_, id, (L"PNG" + std::to_wstring(candidate)).c_str());
                from = candidate;
            }
        }
        if (!source) {
            from = kBaseDpi;
            source = LoadPngResource(module_, id);
        }
        if (!source || from == level) {
            return source;
        }
        return Resampled(*source, ScaleRounded(static_cast<int>(source->GetWidth()), level, from),
                         ScaleRounded(static_cast<int>(source->GetHeight()), level, from));
    }
    std::wstring path = skinFolder_;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    path += desc.res;
    Gdiplus::Bitmap file(path.c_str());
    if (file.GetLastStatus() != Gdiplus::Ok) {
        DEBUG_LOG(L"image file %s cannot be read", path.c_str());
        return nullptr;
    }
    // Files are drawn for 96 DPI: scaled up for the other levels.
    return Resampled(file, ScaleRounded(static_cast<int>(file.GetWidth()), level, kBaseDpi),
                     ScaleRounded(static_cast<int>(file.GetHeight()), level, kBaseDpi));
}

int SliceNine(const RECT& src, const RECT& dst, const RECT& srcCorner, const RECT& dstCorner, bool hole,
              SlicePiece out[9]) {
    LONG sw = src.right - src.left;
    LONG sh = src.bottom - src.top;
    LONG dw = dst.right - dst.left;
    LONG dh = dst.bottom - dst.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) {
        return 0;
    }
    auto none = [](const RECT& c) { return c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0; };
    if (none(srcCorner) || none(dstCorner)) {
        out[0] = SlicePiece{src, dst};
        return 1;
    }
    // Corners never overlap: they shrink to share what the smaller of the two rectangles allows.
    auto fit = [](LONG a, LONG b, LONG room) -> std::pair<LONG, LONG> {
        a = std::max(0L, a);
        b = std::max(0L, b);
        if (a + b <= room) {
            return {a, b};
        }
        LONG na = a + b > 0 ? room * a / (a + b) : 0;
        return {na, room - na};
    };
    // With one scale on both sides the corners fit the smaller rectangle, so that source and destination keep them
    // alike; with two scales each side fits its own.
    const bool same = std::memcmp(&srcCorner, &dstCorner, sizeof(RECT)) == 0;
    auto [sl, sr] = fit(srcCorner.left, srcCorner.right, same ? std::min(sw, dw) : sw);
    auto [st, sb] = fit(srcCorner.top, srcCorner.bottom, same ? std::min(sh, dh) : sh);
    auto [dl, dr] = same ? std::pair{sl, sr} : fit(dstCorner.left, dstCorner.right, dw);
    auto [dt, db] = same ? std::pair{st, sb} : fit(dstCorner.top, dstCorner.bottom, dh);
    LONG sx[4] = {src.left, src.left + sl, src.right - sr, src.right};
    LONG sy[4] = {src.top, src.top + st, src.bottom - sb, src.bottom};
    LONG dx[4] = {dst.left, dst.left + dl, dst.right - dr, dst.right};
    LONG dy[4] = {dst.top, dst.top + dt, dst.bottom - db, dst.bottom};
    int n = 0;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (hole && row == 1 && col == 1) {
                continue;
            }
            RECT s{sx[col], sy[row], sx[col + 1], sy[row + 1]};
            RECT d{dx[col], dy[row], dx[col + 1], dy[row + 1]};
            if (s.right > s.left && s.bottom > s.top && d.right > d.left && d.bottom > d.top) {
                out[n++] = SlicePiece{s, d};
            }
        }
    }
    return n;
}

Canvas::Canvas(HDC dc, ImageCache& images, const Scale& scale)
    : dc_(dc), images_(images), scale_(scale), g_(std::make_unique<Gdiplus::Graphics>(dc)) {
    g_->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g_->SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g_->SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
}

Canvas::~Canvas() = default;

void Canvas::FlushGdiplus() {
    g_->Flush(Gdiplus::FlushIntentionSync);
}

void Canvas::Fill(const RECT& rc, Argb color, SIZE round) {
    round = scale_.Px(round);
    Gdiplus::SolidBrush brush(ToColor(color));
    if (round.cx > 0 && round.cy > 0) {
        Gdiplus::GraphicsPath path;
        RoundPath(path, rc, round);
        g_->FillPath(&brush, &path);
    } else {
        g_->FillRectangle(&brush, static_cast<INT>(rc.left), static_cast<INT>(rc.top),
                          static_cast<INT>(rc.right - rc.left), static_cast<INT>(rc.bottom - rc.top));
    }
}

void Canvas::Frame(const RECT& rc, int size, Argb color, SIZE round) {
    size = std::max(1, scale_.Px(size));
    round = scale_.Px(round);
    Gdiplus::Pen pen(ToColor(color), static_cast<Gdiplus::REAL>(size));
    // The pen is centred on the path: move the path half a pen inwards so the frame stays inside `rc`.
    float half = static_cast<float>(size) / 2.0f;
    Gdiplus::RectF r(static_cast<float>(rc.left) + half, static_cast<float>(rc.top) + half,
                     static_cast<float>(rc.right - rc.left) - static_cast<float>(size),
                     static_cast<float>(rc.bottom - rc.top) - static_cast<float>(size));
    if (round.cx > 0 && round.cy > 0) {
        Gdiplus::GraphicsPath path;
        RECT inner{static_cast<LONG>(r.X), static_cast<LONG>(r.Y), static_cast<LONG>(r.X + r.Width),
                   static_cast<LONG>(r.Y + r.Height)};
        RoundPath(path, inner, round);
        g_->DrawPath(&pen, &path);
    } else {
        g_->DrawRectangle(&pen, r);
    }
}

bool Canvas::DrawImage(const std::wstring& descriptor, const RECT& rc, int clipWidth) {
    auto desc = ParseImage(descriptor);
    if (!desc) {
        return false;
    }
    const int level = scale_.ImageLevel();
    Gdiplus::Bitmap* bmp = images_.Get(*desc, level);
    if (bmp == nullptr) {
        return false;
    }
    // The descriptor's source and corners are in the 96-DPI image's pixels; the image at hand is drawn for `level`.
    const Scale atLevel(level);
    const RECT whole{0, 0, static_cast<LONG>(bmp->GetWidth()), static_cast<LONG>(bmp->GetHeight())};
    RECT src = desc->source ? atLevel.Px(*desc->source) : whole;
    src.right = std::min(src.right, whole.right);
    src.bottom = std::min(src.bottom, whole.bottom);
    RECT dst = rc;
    if (desc->dest) {
        const RECT d = scale_.Px(*desc->dest);
        dst = RECT{rc.left + d.left, rc.top + d.top, rc.left + d.right, rc.top + d.bottom};
        dst.right = std::min(dst.right, rc.right);
        dst.bottom = std::min(dst.bottom, rc.bottom);
    }
    if (clipWidth >= 0) {
        dst.right = std::min<LONG>(dst.right, dst.left + clipWidth);
        src.right = std::min<LONG>(src.right, src.left + ScaleRounded(clipWidth, level, scale_.Dpi()));
    }
    Gdiplus::ImageAttributes attrs;
    if (desc->fade < 255) {
        Gdiplus::ColorMatrix m = {{{1, 0, 0, 0, 0},
                                   {0, 1, 0, 0, 0},
                                   {0, 0, 1, 0, 0},
                                   {0, 0, 0, static_cast<Gdiplus::REAL>(desc->fade) / 255.0f, 0},
                                   {0, 0, 0, 0, 1}}};
        attrs.SetColorMatrix(&m);
    }
    // Pixels copied one to one stay sharp; an image drawn for another scale than the window's is filtered, its edge
    // pixels continued rather than blended with nothing.
    const bool filtered = level != scale_.Dpi();
    if (desc->xTiled || desc->yTiled) {
        attrs.SetWrapMode(Gdiplus::WrapModeTile);
    } else if (filtered) {
        attrs.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    }
    g_->SetInterpolationMode(filtered ? Gdiplus::InterpolationModeHighQualityBicubic
                                      : Gdiplus::InterpolationModeNearestNeighbor);
    SlicePiece pieces[9];
    int n = SliceNine(src, dst, atLevel.Px(desc->corner), scale_.Px(desc->corner), desc->hole, pieces);
    for (int i = 0; i < n; ++i) {
        const RECT& s = pieces[i].src;
        const RECT& d = pieces[i].dst;
        g_->DrawImage(bmp,
                      Gdiplus::Rect(static_cast<INT>(d.left), static_cast<INT>(d.top),
                                    static_cast<INT>(d.right - d.left), static_cast<INT>(d.bottom - d.top)),
                      static_cast<INT>(s.left), static_cast<INT>(s.top), static_cast<INT>(s.right - s.left),
                      static_cast<INT>(s.bottom - s.top), Gdiplus::UnitPixel, &attrs);
    }
    return n > 0;
}

void Canvas::Text(const std::wstring& text, RECT& rc, HFONT font, Argb color, UINT format) {
    FlushGdiplus();
    HGDIOBJ old = font != nullptr ? ::SelectObject(dc_, font) : nullptr;
    ::SetBkMode(dc_, TRANSPARENT);
    ::SetTextColor(dc_, RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
    ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &rc, format);
    if (old != nullptr) {
        ::SelectObject(dc_, old);
    }
}

void Canvas::PushClip(const RECT& rc) {
    FlushGdiplus();
    ::SaveDC(dc_);
    ::IntersectClipRect(dc_, rc.left, rc.top, rc.right, rc.bottom);
    g_->SetClip(Gdiplus::Rect(static_cast<INT>(rc.left), static_cast<INT>(rc.top), static_cast<INT>(rc.right - rc.left),
                              static_cast<INT>(rc.bottom - rc.top)),
                Gdiplus::CombineModeIntersect);
    ++clipDepth_;
}

void Canvas::PopClip() {
    if (clipDepth_ == 0) {
        return;
    }
    FlushGdiplus();
    --clipDepth_;
    ::RestoreDC(dc_, -1);
    // Rebuild the GDI+ clip from the restored device context clip.
    Utils::UniqueGdiObject region(::CreateRectRgn(0, 0, 0, 0));
    if (::GetClipRgn(dc_, static_cast<HRGN>(region.get())) == 1) {
        Gdiplus::Region r(static_cast<HRGN>(region.get()));
        g_->SetClip(&r, Gdiplus::CombineModeReplace);
    } else {
        g_->ResetClip();
    }
}

} // namespace UiKit
