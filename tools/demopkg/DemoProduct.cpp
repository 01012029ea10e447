// The demo product: one window that says the product is installed and where it runs from.
// "-autoclose=N" closes it after N milliseconds (tests and the headless demo use it).
#include <windows.h>

#include "utils/ScopedWin.h"

#include <string>

namespace {

const wchar_t kClassName[] = L"TunivoxDemoProduct";
const UINT_PTR kCloseTimer = 1;

std::wstring g_text;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        {
            Utils::UniqueGdiObject background(CreateSolidBrush(RGB(0x55, 0x6D, 0xEA)));
            FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
        }
        Utils::UniqueGdiObject font(CreateFontW(-18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                                CLEARTYPE_QUALITY, 0, L"\u5fae\u8f6f\u96c5\u9ed1"));
        HGDIOBJ old = SelectObject(dc, font.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        // DT_VCENTER works on single lines only: measure the wrapped text and centre the box by hand.
        RECT box = client;
        InflateRect(&box, -24, -24);
        RECT measured = box;
        DrawTextW(dc, g_text.c_str(), -1, &measured, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
        const int textHeight = measured.bottom - measured.top;
        box.top += ((box.bottom - box.top) - textHeight) / 2;
        DrawTextW(dc, g_text.c_str(), -1, &box, DT_CENTER | DT_WORDBREAK);
        SelectObject(dc, old);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    g_text = L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668 \u5df2\u5b89\u88c5\n\n";
    g_text += path;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(145));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);

    HWND window = CreateWindowExW(0, kClassName, L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668 - \u5df2\u5b89\u88c5",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 240, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    const wchar_t* autoClose = wcsstr(commandLine, L"-autoclose=");
    if (autoClose != nullptr) {
        SetTimer(window, kCloseTimer, static_cast<UINT>(wcstoul(autoClose + 11, nullptr, 10)), nullptr);
    }
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
