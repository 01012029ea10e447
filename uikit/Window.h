// A top-level skinned window built from an XML layout resource. Derive from it, override the hooks, create, run.
//
// Threads: every method runs on the UI thread except PostNotify, which any thread may call; the notification is
// delivered by the window's message queue on the UI thread.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/Control.h"
#include "uikit/Render.h"
#include "uikit/Scale.h"
#include "uikit/Toolkit.h"
#include "utils/ScopedWin.h"

namespace UiKit {

struct Notify {
    std::wstring type; // "click", "selectchanged", "tabselect", "mouseenter", "mouseleave", "timer" or custom
    Control* sender = nullptr;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Window attributes of the layout's root element.
struct WindowSpec {
    SIZE size{};
    RECT caption{}; // caption (drag) area as insets: x in [left, width - right), y in [top, bottom)
    RECT sizeBox{}; // resize borders
    SIZE roundCorner{};
    int borderSize = 0;
    Argb borderColor = 0;
    bool showShadow = false;
    int shadowSize = 0;
    int shadowSharpness = 0;
    int shadowDarkness = 0;
    POINT shadowPosition{};
    Argb shadowColor = 0xFF000000;
};

// The look at a display scale: every length scaled, colours and the shadow's sharpness and darkness kept.
WindowSpec ScaledLook(const WindowSpec& look, const Scale& scale);

// A font of the layout, its size in 96-DPI pixels (the character height).
struct LayoutFont {
    std::wstring face;
    int size = 12;
    bool bold = false;
    bool underline = false;
    bool italic = false;
};

class ShadowWindow;
class AccessibleClient;

class Window {
public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Hooks.
    virtual std::wstring GetWindowClassName() const { return L"UiKitWindow"; }
    virtual std::wstring GetSkinType() const { return L"xml"; }
    // The layout: a decimal resource id of type "XML", or a file name under the skin folder.
    virtual std::wstring GetSkinFile() const = 0;
    virtual std::wstring GetSkinFolder() const { return L""; }
    // Builds controls for tags the toolkit does not know; null skips the element.
    virtual std::unique_ptr<Control> CreateControl(const std::wstring& tag);
    // Called once the layout is built and the window exists (before it is shown by the caller).
    virtual void InitWindow() {}
    // Every notification; the default turns "click" into OnClick.
    virtual void Notify(const UiKit::Notify& msg);
    // Default click handling: "closebtn" closes (result 0), "minbtn", "maxbtn" and "restorebtn" send the system
    // commands.
    virtual void OnClick(const UiKit::Notify& msg);
    // Messages before the toolkit's own handling; set `handled` to stop it.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
    // WM_SYSCOMMAND; the default passes it to DefWindowProc.
    virtual LRESULT OnSysCommand(WPARAM wp, LPARAM lp, bool& handled);
    // What a screen reader calls the window: its title by default.
    virtual std::wstring AccessibleName() const;
    // Dialogs read as dialogs (their client object's role) and announce themselves when they open.
    virtual bool IsDialog() const { return false; }

    // Creates the window (size from the layout). False when the layout cannot be read or the window not created.
    bool Create(HWND owner, const std::wstring& title, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT);
    HWND GetHWND() const { return hwnd_; }
    void CenterWindow();
    void ShowWindow(bool show = true);
    // Runs a modal loop (owner disabled meanwhile, and enabled again at the end only when this loop disabled it)
    // until Close; returns the result given to Close, or -1 when the
    // window does not exist.
    int ShowModal();
    // Ends the modal loop with `result` and destroys the window.
    void Close(int result = 0);

    Control* GetRoot() const { return root_.get(); }
    Control* FindControl(const std::wstring& name) const;
    template <class T> T* Find(const std::wstring& name) const { return dynamic_cast<T*>(FindControl(name)); }
    // The control `name` of kind T that the window cannot work without: for InitWindow to keep. A skin without it
    // (or with another kind under the name) is noted, and Create then fails, naming every missing control once.
    template <class T> T* Bind(const std::wstring& name) {
        T* control = Find<T>(name);
        if (control == nullptr) {
            unbound_.push_back(name);
        }
        return control;
    }
    // The window's look in device pixels, at the window's scale.
    const WindowSpec& Look() const { return look_; }
    // The window's display scale: DPI / 96, from the window's monitor (the owner's for an owned window).
    const Scale& GetScale() const { return scale_; }

    // Notifications: SendNotify delivers now; PostNotify (any thread) queues for delivery on the UI thread.
    void SendNotify(Control* sender, const std::wstring& type, WPARAM wp = 0, LPARAM lp = 0);
    bool PostNotify(Control* sender, const std::wstring& type, WPARAM wp = 0, LPARAM lp = 0);

    // Per-control timers, delivered as "timer" with the control as sender and the id in WPARAM.
    bool SetTimer(Control* control, UINT id, UINT elapseMs);
    void KillTimer(Control* control, UINT id);

    void SetFocus(Control* control);
    Control* GetFocus() const { return focus_; }
    // The shown, enabled main button of the current view ("default" in the skin); null when there is none.
    Control* DefaultControl() const;
    // The focus cue is drawn once the keyboard has been used in a skinned window of the process.
    bool ShowsFocusCue() const { return keyboardUsed_; }
    // Presses `control` from the message queue (accessible default action): exactly what a click does, later.
    bool QueueActivate(Control* control);

    // Accessibility events for `control` (null: the client area itself); nothing for controls that are not elements
    // now, and for edit boxes, whose own window reports them.
    void AccessibleEvent(DWORD event, Control* control);
    // A progress value changed: reported at most a few times a second, the last value always.
    void ValueChanged(Control* control);
    // A tab page was selected: the client's children changed and the focus goes to the new view's main button.
    void ViewChanged();
    // Font `id` of the layout at the window's scale (the default font for an unknown id).
    HFONT GetFont(int id) const;
    // Font `id`, made smaller one pixel at a time until `text` fits `room` when drawn with `format` on `dc`; the font
    // itself when it fits. The layout keeps its rectangles: a text that a scaled font makes too big gives way.
    HFONT FittingFont(HDC dc, int id, const std::wstring& text, const RECT& room, UINT format);

    // Used by controls.
    void Invalidate();
    void NeedLayout();
    void ControlRemovedFromView(Control* control);
    // Lays the tree out now if anything changed since the last layout (painting does this by itself).
    void UpdateLayout() {
        if (layoutDirty_) {
            Layout();
        }
    }
    // Renders the whole window into a top-down 32-bit buffer of the window's size (also used for screenshots).
    bool RenderTo(HDC dc);
    // The shadow as it is drawn behind the window: premultiplied ARGB, (width + 2 * size) x (height + 2 * size).
    bool RenderShadow(std::vector<uint32_t>& pixels, SIZE& size) const;

    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

protected:
    LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);

private:
    friend class LayoutBuilder;
    bool LoadLayout();
    // Takes the scale of `dpi`: the look, the fonts and the edit boxes' fonts follow, the layout is done again.
    void ApplyDpi(int dpi);
    void MakeFonts();
    // Font `id` of the layout, else the default one; null when the layout has neither.
    const std::pair<const int, LayoutFont>* LayoutFontOf(int id) const;
    // Font `id` (or the default font) at `pixelHeight`, made once; 0: the size the layout gives, unscaled.
    HFONT FontOfHeight(int id, int pixelHeight);
    // WM_DPICHANGED: the new scale, and the rectangle the system suggests.
    void OnDpiChanged(int dpi, const RECT* suggested);
    void Layout();
    Control* HitTest(POINT pt) const;
    LRESULT OnNcHitTest(POINT screen);
    void OnMouseMove(POINT pt);
    void OnMouseLeave();
    void OnButtonDown(POINT pt);
    void OnButtonUp(POINT pt);
    bool OnKeyDown(WPARAM key);
    void FocusNext(bool backwards);
    // Esc: the shown, enabled "cancelBtn", else "closebtn", as if clicked.
    bool PressCancel();
    // Focus to the main button of the view (or the window itself), moving the system focus only when visible.
    void FocusDefault();
    void OnValueTimer();
    void DrawFocusCue(HDC dc);
    // The toolkit's own handling of the messages of each kind; nothing where DefWindowProc is to have the message.
    std::optional<LRESULT> OnFrameMessage(UINT msg, WPARAM wp, LPARAM lp);
    std::optional<LRESULT> OnInputMessage(UINT msg, WPARAM wp, LPARAM lp);
    std::optional<LRESULT> OnChildMessage(UINT msg, WPARAM wp, LPARAM lp);
    // The focusable edit control whose edit box is `handle`; null when none is.
    Edit* EditOf(HWND handle) const;
    void OnEditFocused(HWND handle);
    void KeepShadowBelow(UINT msg, WPARAM wp);
    void OnDestroy();
    void Paint();
    void UpdateRegion();
    void ReleaseTimers();
    void EnableOwnerAgain();

    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    WindowSpec layoutLook_; // as the layout gives it, in 96-DPI pixels
    WindowSpec look_;       // layoutLook_ at scale_
    Scale scale_;
    std::map<int, LayoutFont> layoutFonts_;
    std::unique_ptr<Control> root_;
    std::vector<std::wstring> unbound_;                            // controls InitWindow needed and the skin lacks
    std::map<int, Utils::UniqueGdiObject> fonts_;                  // at scale_
    std::map<std::pair<int, int>, Utils::UniqueGdiObject> fitted_; // (font id, pixel height): other sizes
    int defaultFont_ = -1;
    ImageCache images_;
    Control* hot_ = nullptr;
    Control* pushed_ = nullptr;
    Control* focus_ = nullptr;
    bool tracking_ = false;
    bool layoutDirty_ = true;
    bool modal_ = false;
    bool disabledOwner_ = false; // this window's modal loop disabled the owner
    int modalResult_ = 0;
    struct TimerKey {
        Control* control;
        UINT id;
    };
    std::map<UINT_PTR, TimerKey> timers_;
    UINT_PTR nextTimer_ = 1;
    std::unique_ptr<ShadowWindow> shadow_;
    AccessibleClient* accessible_ = nullptr; // one reference held while the window exists
    // Process-wide: a dialog opened from the keyboard shows its focus at once, as the system's dialogs do.
    static bool keyboardUsed_;
    Control* pendingValue_ = nullptr; // a value change not yet reported
    DWORD lastValueEvent_ = 0;
};

// The message that carries a queued notification (LPARAM: heap Notify owned by the receiver).
constexpr UINT WM_UIKIT_NOTIFY = WM_APP + 0x3A0;
// The message that carries a queued press (LPARAM: the control, checked to be an element still on delivery).
constexpr UINT WM_UIKIT_ACTIVATE = WM_APP + 0x3A1;
// The window timer that reports a delayed progress value (beside the control timers, whose keys count up from 1).
constexpr UINT_PTR kValueTimer = 0xA11E;

} // namespace UiKit
