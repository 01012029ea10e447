// Loads the skin images and the application resources from this executable, which links them in the same way
// the installer does, and checks what the windows and the shell will find: sizes, alpha, the icon's sizes and
// depths, the strings, the manifest and the version block.
#include <windows.h>

// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "uikit/Parse.h"
#include "uikit/Render.h"
#include "uikit/Scale.h"
#include "utils/ScopedWin.h"

namespace {

const WORD kZhCn = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const wchar_t kProductName[] = L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668";

// GDI+ for the duration of one test.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (ok_) {
            Gdiplus::GdiplusShutdown(token_);
        }
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool ok() const { return ok_; }

private:
    ULONG_PTR token_ = 0;
    bool ok_ = false;
};

// The bytes of a resource of this executable in language 2052, or an empty string when there is none.
std::string ResourceBytes(const wchar_t* type, const wchar_t* name, WORD language = kZhCn) {
    HRSRC info = FindResourceExW(nullptr, type, name, language);
    if (info == nullptr) {
        return {};
    }
    HGLOBAL handle = LoadResource(nullptr, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (data == nullptr) {
        return {};
    }
    return std::string(static_cast<const char*>(data), SizeofResource(nullptr, info));
}

Utils::ComPtr<IStream> MemoryStream(const std::string& bytes) {
    Utils::ComPtr<IStream> stream;
    *stream.put() = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    return stream;
}

struct ImageCase {
    int id;
    UINT width;
    UINT height;
    bool opaque = false; // the window background: no transparent pixel, so it may be stored without alpha
};

const ImageCase kImages[] = {
    {153, 140, 40}, {154, 30, 30},  {155, 30, 30},  {156, 30, 30},  {157, 30, 30},         {158, 30, 30},
    {159, 140, 40}, {160, 140, 40}, {161, 40, 40},  {162, 140, 40}, {163, 140, 40},        {164, 140, 40},
    {165, 50, 15},  {166, 50, 15},  {167, 50, 15},  {168, 50, 15},  {169, 600, 400, true}, {170, 18, 18},
    {171, 18, 18},  {172, 18, 18},  {173, 18, 18},  {174, 87, 16},  {175, 87, 16},         {176, 87, 16},
    {177, 87, 16},  {178, 344, 40}, {183, 400, 10}, {184, 400, 10}, {185, 400, 10},        {186, 48, 48},
    {187, 124, 40}, {188, 18, 18},  {189, 18, 18},  {190, 18, 18},  {191, 18, 18},
};

TEST(SkinImages, EveryPngDecodesAtItsSizeWithAlphaOrFullyOpaque) {
    GdiplusSession gdiplus;
    ASSERT_TRUE(gdiplus.ok());
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.id);
        const std::string bytes = ResourceBytes(L"PNG", MAKEINTRESOURCEW(c.id));
        ASSERT_GT(bytes.size(), 8u) << "no PNG resource in language 2052";
        EXPECT_EQ(bytes.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
        Utils::ComPtr<IStream> stream = MemoryStream(bytes);
        ASSERT_TRUE(stream.get() != nullptr);
        Gdiplus::Bitmap bitmap(stream.get());
        ASSERT_EQ(bitmap.GetLastStatus(), Gdiplus::Ok);
        EXPECT_EQ(bitmap.GetWidth(), c.width);
        EXPECT_EQ(bitmap.GetHeight(), c.height);
        if (c.opaque) {
            bool allOpaque = true;
            for (UINT y = 0; y < c.height && allOpaque; ++y) {
                for (UINT x = 0; x < c.width && allOpaque; ++x) {
                    Gdiplus::Color colour;
                    bitmap.GetPixel(static_cast<INT>(x), static_cast<INT>(y), &colour);
                    allOpaque = colour.GetA() == 255;
                }
            }
            EXPECT_TRUE(allOpaque) << "the background has a transparent pixel";
            continue;
        }
        EXPECT_TRUE(Gdiplus::IsAlphaPixelFormat(bitmap.GetPixelFormat()));

        // Round corners need transparent or half-transparent pixels somewhere, and every image draws something.
        bool anyInk = false;
        for (UINT y = 0; y < c.height && !anyInk; ++y) {
            for (UINT x = 0; x < c.width && !anyInk; ++x) {
                Gdiplus::Color colour;
                bitmap.GetPixel(static_cast<INT>(x), static_cast<INT>(y), &colour);
                anyInk = colour.GetA() > 0;
            }
        }
        EXPECT_TRUE(anyInk) << "image is fully transparent";
    }
}

// What a window at each display scale draws: the image drawn for its level, or one scaled from another level, at
// the 96-DPI size times the level's scale.
TEST(SkinImages, EveryImageComesAtEveryLevelAtItsScaledSize) {
    ASSERT_TRUE(UiKit::StartGdiplus());
    UiKit::ImageCache cache;
    cache.SetSource(GetModuleHandleW(nullptr), L"");
    for (int level : UiKit::kImageLevels) {
        for (const ImageCase& c : kImages) {
            SCOPED_TRACE(testing::Message() << c.id << " at " << level);
            auto image = UiKit::ParseImage(L"res='" + std::to_wstring(c.id) + L"' restype='png'");
            ASSERT_TRUE(image.has_value());
            Gdiplus::Bitmap* bitmap = cache.Get(*image, level);
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(bitmap->GetWidth(), static_cast<UINT>(UiKit::ScaleRounded(static_cast<int>(c.width), level, 96)));
            EXPECT_EQ(bitmap->GetHeight(),
                      static_cast<UINT>(UiKit::ScaleRounded(static_cast<int>(c.height), level, 96)));
        }
    }
}

TEST(SkinImages, RoundedShapesLeaveTheirCornersTransparent) {
    // Buttons, frames and progress images are drawn with round corners; a square corner pixel would show as a
    // notch against the background.
    GdiplusSession gdiplus;
    ASSERT_TRUE(gdiplus.ok());
    for (int id : {153, 159, 160, 162, 178, 183, 184, 185, 186, 187}) {
        SCOPED_TRACE(id);
        const std::string bytes = ResourceBytes(L"PNG", MAKEINTRESOURCEW(id));
        Utils::ComPtr<IStream> stream = MemoryStream(bytes);
        ASSERT_TRUE(stream.get() != nullptr);
        Gdiplus::Bitmap bitmap(stream.get());
        ASSERT_EQ(bitmap.GetLastStatus(), Gdiplus::Ok);
        Gdiplus::Color corner;
        Gdiplus::Color centre;
        bitmap.GetPixel(0, 0, &corner);
        bitmap.GetPixel(static_cast<INT>(bitmap.GetWidth() / 2), static_cast<INT>(bitmap.GetHeight() / 4), &centre);
        EXPECT_LT(corner.GetA(), 64);
        EXPECT_GT(centre.GetA(), 40);
    }
}

TEST(SkinImages, NoOtherPngIdsExist) {
    for (int id : {152, 179, 180, 181, 182, 192}) {
        EXPECT_EQ(FindResourceExW(nullptr, L"PNG", MAKEINTRESOURCEW(id), kZhCn), nullptr) << id;
    }
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

TEST(AppIcon, GroupHoldsTwentyImagesOfTheListedSizesAndDepths) {
    const std::string group = ResourceBytes(MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEW(145));
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    GroupIconHeader header;
    memcpy(&header, group.data(), sizeof header);
    EXPECT_EQ(header.type, 1);
    ASSERT_EQ(header.count, 20);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + header.count * sizeof(GroupIconEntry));

    std::multiset<std::pair<int, int>> seen; // (size, bits per pixel) from the directory
    for (int i = 0; i < header.count; ++i) {
        GroupIconEntry e;
        memcpy(&e, group.data() + sizeof header + i * sizeof e, sizeof e);
        const int size = e.width == 0 ? 256 : e.width;
        seen.insert({size, e.bitCount});
        SCOPED_TRACE(size);
        SCOPED_TRACE(e.bitCount);

        // The image itself must agree with its directory entry: a BMP header of that size and depth, or a PNG.
        const std::string image = ResourceBytes(MAKEINTRESOURCEW(3) /* RT_ICON */, MAKEINTRESOURCEW(e.id));
        ASSERT_EQ(image.size(), e.bytesInRes);
        if (image.compare(0, 4, "\x89PNG") == 0) {
            // 32-bit images are stored compressed; the PNG's own header must give the entry's size.
            EXPECT_EQ(e.bitCount, 32);
            ASSERT_GE(image.size(), 24u);
            auto be32 = [&](size_t at) {
                return (static_cast<unsigned char>(image[at]) << 24) |
                       (static_cast<unsigned char>(image[at + 1]) << 16) |
                       (static_cast<unsigned char>(image[at + 2]) << 8) | static_cast<unsigned char>(image[at + 3]);
            };
            EXPECT_EQ(be32(16), size);
            EXPECT_EQ(be32(20), size);
        } else {
            BITMAPINFOHEADER bih;
            ASSERT_GE(image.size(), sizeof bih);
            memcpy(&bih, image.data(), sizeof bih);
            EXPECT_EQ(bih.biWidth, size);
            EXPECT_EQ(bih.biHeight, size * 2); // colour and mask
            EXPECT_EQ(bih.biBitCount, e.bitCount);
        }

        // The system must be able to turn it into an icon.
        HICON icon =
            CreateIconFromResourceEx(reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
                                     static_cast<DWORD>(image.size()), TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr);
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
    std::multiset<std::pair<int, int>> expected;
    for (int size : {16, 24, 32, 48}) {
        expected.insert({size, 4});
        expected.insert({size, 8});
    }
    for (int size : {16, 20, 24, 32, 40, 48, 64, 72, 80, 96, 128, 256}) {
        expected.insert({size, 32});
    }
    EXPECT_EQ(seen, expected);
}

TEST(AppIcon, LoadsAtTheSizesTheWindowUses) {
    // The small and big icons at 100, 125, 150 and 200 %, and the shell's largest.
    for (int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
        HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        if (icon != nullptr) {
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
            BITMAP bm{};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, size);
            Utils::UniqueGdiObject colour(info.hbmColor);
            Utils::UniqueGdiObject mask(info.hbmMask);
            DestroyIcon(static_cast<HICON>(icon));
        }
    }
}

TEST(AppStrings, ProductNameInBothStringIds) {
    for (UINT id : {103u, 111u}) {
        wchar_t buffer[64] = {};
        EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), id, buffer, 64), static_cast<int>(wcslen(kProductName)));
        EXPECT_STREQ(buffer, kProductName) << id;
    }
}

TEST(AppManifest, AsksForAdministratorCommonControlsSixSevenToTenAndDpiAwareness) {
    std::string manifest = ResourceBytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    const char* required[] = {
        "level=\"requireAdministrator\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10
        // Per monitor where Windows has it (10 1703 on), the system DPI before.
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>",
    };
    // Attribute order and line breaks are free in XML; compare with runs of white space collapsed.
    std::string flat;
    for (char ch : manifest) {
        const bool space = ch == ' ' || ch == '\r' || ch == '\n' || ch == '\t';
        if (!(space && !flat.empty() && flat.back() == ' ')) {
            flat += space ? ' ' : ch;
        }
    }
    for (const char* text : required) {
        EXPECT_NE(flat.find(text), std::string::npos) << text;
    }
    // Vista is below the supported floor: declaring it would promise what the start-up check refuses.
    EXPECT_EQ(flat.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
}

TEST(AppVersion, ProductNameAndVersionReadableByTheShell) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));

    struct Case {
        const wchar_t* key;
        std::wstring expected;
    } cases[] = {
        {L"\\StringFileInfo\\080404b0\\ProductName", kProductName},
        {L"\\StringFileInfo\\080404b0\\ProductVersion", L"1.0.0.0"},
        {L"\\StringFileInfo\\080404b0\\OriginalFilename", L"TunivoxSetup.exe"},
    };
    for (const Case& c : cases) {
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), c.key, reinterpret_cast<void**>(&value), &length)) << c.key;
        EXPECT_EQ(std::wstring(value), c.expected) << c.key;
    }
}

} // namespace
