// The taskbar button's progress (ITaskbarList3): the bar's percent while downloading and installing, the error
// state after a failure. Best effort: a system without the interface, or a call that fails, changes nothing about
// the run; failures are logged once per kind.
//
// Threads: UI thread only (the window's apartment).
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "ui/MainWndLogic.h"
#include "utils/ScopedWin.h"

class CTaskbarProgress {
public:
    // The shell's "TaskbarButtonCreated" message, let through to an elevated window; the button's state is sent
    // again when it arrives (the shell restarted, or the button appeared after the first report).
    void Attach(HWND window);
    [[nodiscard]] bool IsButtonCreated(UINT msg) const { return buttonCreated_ != 0 && msg == buttonCreated_; }
    void OnButtonCreated();

    void Show(const MainWndLogic::TaskbarProgress& progress);

private:
    void Send();

    HWND window_ = nullptr;
    UINT buttonCreated_ = 0;
    Utils::ComPtr<ITaskbarList3> taskbar_;
    MainWndLogic::TaskbarProgress shown_{MainWndLogic::TaskbarProgress::Cleared, 0};
    bool failureLogged_ = false;
};
