#include "ui/Taskbar.h"

#include "utils/DebugLog.h"

void CTaskbarProgress::Attach(HWND window) {
    window_ = window;
    buttonCreated_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    // The installer runs elevated and the shell does not: its message is let through explicitly. The function is
    // Windows 7's; looked up so that the import table names nothing an older Windows lacks.
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    auto filter =
        user != nullptr
            ? reinterpret_cast<FilterFn>(reinterpret_cast<void*>(::GetProcAddress(user, "ChangeWindowMessageFilterEx")))
            : nullptr;
    if (filter != nullptr && buttonCreated_ != 0) {
        filter(window, buttonCreated_, 1 /* MSGFLT_ALLOW */, nullptr);
    }
    HRESULT hr =
        ::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, taskbar_.put_void());
    if (SUCCEEDED(hr)) {
        hr = taskbar_->HrInit();
    }
    if (FAILED(hr)) {
        DEBUG_LOG(L"taskbar: no ITaskbarList3 (0x%08lx)", static_cast<unsigned long>(hr));
        taskbar_.reset();
    }
}

void CTaskbarProgress::OnButtonCreated() {
    Send();
}

void CTaskbarProgress::Show(const MainWndLogic::TaskbarProgress& progress) {
    if (progress.state == MainWndLogic::TaskbarProgress::Unchanged) {
        return;
    }
    MainWndLogic::TaskbarProgress next = progress;
    if (next.percent < 0) {
        next.percent = shown_.percent;
    }
    if (next == shown_) {
        return;
    }
    if (next.state != shown_.state) {
        static const wchar_t* const names[] = {L"unchanged", L"normal", L"error", L"cleared"};
        DEBUG_LOG(L"taskbar: %s %d%%", names[next.state], next.percent);
    }
    shown_ = next;
    Send();
}

void CTaskbarProgress::Send() {
    if (!taskbar_) {
        return;
    }
    TBPFLAG flag = TBPF_NOPROGRESS;
    if (shown_.state == MainWndLogic::TaskbarProgress::Normal) {
        flag = TBPF_NORMAL;
    } else if (shown_.state == MainWndLogic::TaskbarProgress::Error) {
        flag = TBPF_ERROR;
    }
    // The state first: a value set while there is no progress would bring the bar back as normal.
    HRESULT hr = taskbar_->SetProgressState(window_, flag);
    if (SUCCEEDED(hr) && flag != TBPF_NOPROGRESS) {
        hr = taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(shown_.percent), 100);
    }
    if (FAILED(hr) && !failureLogged_) {
        failureLogged_ = true;
        DEBUG_LOG(L"taskbar: call failed (0x%08lx)", static_cast<unsigned long>(hr));
    }
}
