#include "utils/ShellStart.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace Utils {

namespace {

// SID_STopLevelBrowser of shlguid.h, spelt out: the import library's symbol is not always there.
const GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

Status Failed(const wchar_t* step, HRESULT hr) {
    wchar_t text[128];
    FormatBounded(text, 128, L"%s failed: 0x%08lX", step, static_cast<unsigned long>(hr));
    return Status::Failed(text, hr);
}

// The desktop's shell dispatch object.
Result<ComPtr<IShellDispatch2>> DesktopShell() {
    ComPtr<IShellWindows> windows;
    HRESULT hr =
        ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.put_void());
    if (FAILED(hr)) {
        // A 32-bit process under WoW64 may find the class only in the 64-bit registry view (Wine: 0x80040152).
        hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_ACTIVATE_64_BIT_SERVER,
                                IID_IShellWindows, windows.put_void());
    }
    if (FAILED(hr)) {
        return Failed(L"no desktop shell: CoCreateInstance(ShellWindows)", hr);
    }
    VARIANT location{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT empty{};
    long window = 0;
    ComPtr<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put());
    if (hr != S_OK || !desktop) {
        return Failed(L"no desktop window: FindWindowSW", hr == S_OK ? E_NOINTERFACE : hr);
    }
    ComPtr<IServiceProvider> provider;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    ComPtr<IShellDispatch2> shell;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, provider.put_void())) ||
        FAILED(hr = provider->QueryService(kTopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(hr = browser->QueryActiveShellView(view.put())) ||
        FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
        FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
        FAILED(hr = folderView->get_Application(application.put())) ||
        FAILED(hr = application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
        return Failed(L"the desktop's shell object not reached", hr);
    }
    return shell;
}

} // namespace

Status ShellStartUnelevated(const std::wstring& target, const std::wstring& arguments, int show) {
    Result<ComPtr<IShellDispatch2>> shell = DesktopShell();
    if (!shell) {
        return shell.Failure();
    }
    UniqueBstr file(::SysAllocString(target.c_str()));
    UniqueBstr args(::SysAllocString(arguments.c_str()));
    UniqueBstr verb(::SysAllocString(L"open"));
    if (!file || !args || !verb) {
        return Status::Failed(L"out of memory", E_OUTOFMEMORY);
    }
    VARIANT vArgs{};
    vArgs.vt = VT_BSTR;
    vArgs.bstrVal = args.get();
    VARIANT vDir{};
    VARIANT vVerb{};
    vVerb.vt = VT_BSTR;
    vVerb.bstrVal = verb.get();
    VARIANT vShow{};
    vShow.vt = VT_I4;
    vShow.lVal = show;
    HRESULT hr = (*shell)->ShellExecute(file.get(), vArgs, vDir, vVerb, vShow);
    if (FAILED(hr)) {
        return Failed(L"IShellDispatch2::ShellExecute", hr);
    }
    return {};
}

} // namespace Utils
