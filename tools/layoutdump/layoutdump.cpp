// layoutdump.exe LAYOUT_ID [PAGE]
// Lays out the skin layout resource LAYOUT_ID (147-152) in a hidden window, with tab page PAGE selected when given,
// and prints "name x y w h text room" (window coordinates in device pixels at the display's scale, UTF-8) for every
// named control that is shown, "text" being the width its text takes and "room" the width it has, and last
// "@window 0 0 w h 0 0". Needs a display: text widths come from the fonts the window system really has. Exit 1 when the
// layout cannot be built, 2 for a usage error, 3 when no tab layout has page PAGE.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

#include "tools/layoutdump/LayoutDump.h"

namespace {

class DumpWindow : public UiKit::Window {
public:
    explicit DumpWindow(std::wstring layout) : layout_(std::move(layout)) {}
    std::wstring GetSkinFile() const override { return layout_; }

private:
    std::wstring layout_;
};

bool ParseNumber(const wchar_t* text, long& value) {
    wchar_t* end = nullptr;
    value = std::wcstol(text, &end, 10);
    return end != text && *end == L'\0';
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    // DPI-aware as the installer is through its manifest: the layout at the display's scale, not at 96 DPI.
    ::SetProcessDPIAware();
    long layout = 0;
    long page = -1;
    if (argc < 2 || argc > 3 || !ParseNumber(argv[1], layout) || (argc == 3 && !ParseNumber(argv[2], page))) {
        std::fputs("usage: layoutdump.exe LAYOUT_ID [PAGE]\n", stderr);
        return 2;
    }
    DumpWindow window(std::to_wstring(layout));
    if (!window.Create(nullptr, L"layoutdump", WS_POPUP, 0)) {
        std::fprintf(stderr, "layoutdump: layout %ld cannot be built\n", layout);
        return 1;
    }
    if (argc == 3 && !LayoutDump::SelectPage(window, static_cast<int>(page))) {
        std::fprintf(stderr, "layoutdump: layout %ld has no tab page %ld\n", layout, page);
        return 3;
    }
    for (const auto& control : LayoutDump::ShownNamedControls(window)) {
        std::string line = LayoutDump::FormatLine(control) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    RECT wr{};
    ::GetWindowRect(window.GetHWND(), &wr);
    std::string line = LayoutDump::FormatLine({L"@window", RECT{0, 0, wr.right - wr.left, wr.bottom - wr.top}}) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return 0;
}
