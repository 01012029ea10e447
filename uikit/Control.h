// The control tree of a skinned window. Controls are plain objects owned by their parent; the window owns the root.
// Every member is touched on the UI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "uikit/Parse.h"
#include "uikit/Scale.h"
#include "utils/ScopedWin.h"

namespace UiKit {

class Canvas;
class Window;

// `rc` less `by` on each side, never turned inside out.
RECT Inset(const RECT& rc, const RECT& by);

class Control {
public:
    Control() = default;
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Layout attribute by name; returns false for an attribute this control does not know.
    virtual bool SetAttribute(const std::wstring& name, const std::wstring& value);
    virtual const wchar_t* TypeName() const { return L"Control"; }

    // Places the control (window coordinates in 96-DPI units); containers arrange their children here.
    virtual void SetPos(const RECT& rc);
    // Once the whole tree is placed: the rectangle becomes device pixels at the window's scale. The window calls it
    // on every control after each layout; from then on GetPos() is in device pixels.
    virtual void Place(const Scale& scale) { rect_ = scale.Px(rect_); }
    virtual void Paint(Canvas& canvas);
    // The control takes mouse input (hot, pushed, click, enter/leave).
    virtual bool WantsMouse() const { return mouse_; }
    virtual bool CanFocus() const { return false; }
    // Click from the mouse or from Enter/Space while focused.
    virtual void Activate();
    virtual void OnVisibilityChanged() {}

    const std::wstring& GetName() const { return name_; }
    virtual std::wstring GetText() const { return text_; }
    virtual void SetText(const std::wstring& text);
    // Spoken name from the skin ("accname") for controls whose text does not say what they are (image buttons).
    const std::wstring& AccName() const { return accName_; }
    // A text button that reads as a link ("accrole" link).
    bool IsLink() const { return link_; }
    // The main button of its page or dialog ("default"): it takes the focus when the view opens and Enter presses
    // it when the focus is on no other button.
    bool IsDefault() const { return default_; }
    const std::wstring& GetUserData() const { return userData_; }
    void SetUserData(const std::wstring& data) { userData_ = data; }
    bool IsVisible() const { return visible_; }
    // Visible and every ancestor visible (and, for tab pages, selected).
    bool IsShown() const;
    void SetVisible(bool visible);
    bool IsEnabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);
    void SetBkImage(const std::wstring& descriptor);
    const std::wstring& GetBkImage() const { return bkImage_; }
    const RECT& GetPos() const { return rect_; }
    const RECT& GetPadding() const { return padding_; }
    int FixedWidth() const { return width_; }
    int FixedHeight() const { return height_; }
    void SetFixedWidth(int w) { width_ = w; }
    int MinWidth() const { return minWidth_; }
    int MaxWidth() const { return maxWidth_; }
    int MinHeight() const { return minHeight_; }
    int MaxHeight() const { return maxHeight_; }
    bool IsHandCursor() const { return handCursor_; }
    bool IsHot() const { return hot_; }
    bool IsFocused() const { return focused_; }
    void SetHot(bool v);
    void SetPushed(bool v);
    void SetFocused(bool v);

    class Container* Parent() const {
        return parent_;
    }
    Window* GetWindow() const { return window_; }
    void Attach(Window* window, class Container* parent) {
        window_ = window;
        parent_ = parent;
    }
    void Invalidate();
    // Asks the window to lay the tree out again (a size, visibility or text width changed).
    void NeedLayout();

    // Helpers for subclasses.
    void PaintBackground(Canvas& canvas);
    void PaintBorder(Canvas& canvas);

protected:
    std::wstring name_;
    std::wstring text_;
    std::wstring userData_;
    std::wstring accName_;
    std::wstring bkImage_;
    RECT rect_{};
    RECT padding_{};
    int width_ = 0;
    int height_ = 0;
    int minWidth_ = 0;
    int maxWidth_ = 0x3FFFFFFF;
    int minHeight_ = 0;
    int maxHeight_ = 0x3FFFFFFF;
    Argb bkColor_ = 0;
    Argb borderColor_ = 0;
    Argb focusBorderColor_ = 0;
    int borderSize_ = 0;
    SIZE borderRound_{};
    bool visible_ = true;
    bool enabled_ = true;
    bool mouse_ = false;
    bool handCursor_ = false;
    bool hot_ = false;
    bool pushed_ = false;
    bool focused_ = false;
    bool link_ = false;
    bool default_ = false;
    Window* window_ = nullptr;
    class Container* parent_ = nullptr;
};

class Container : public Control {
public:
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Container"; }
    void SetPos(const RECT& rc) override;
    void Paint(Canvas& canvas) override;

    void Add(std::unique_ptr<Control> child);
    const std::vector<std::unique_ptr<Control>>& Children() const { return children_; }
    // Whether `child` is currently displayed by this container (tab layouts show one page).
    virtual bool ShowsChild(const Control* child) const;

protected:
    // Arranges the visible children in the inner rectangle.
    virtual void Arrange(const RECT& inner);
    RECT inset_{};
    int childPadding_ = 0;
    std::vector<std::unique_ptr<Control>> children_;
};

class VerticalLayout : public Container {
public:
    const wchar_t* TypeName() const override { return L"VerticalLayout"; }

protected:
    void Arrange(const RECT& inner) override;
};

class HorizontalLayout : public Container {
public:
    const wchar_t* TypeName() const override { return L"HorizontalLayout"; }

protected:
    void Arrange(const RECT& inner) override;
};

// Shows one child (page) at a time, each spanning the inner rectangle.
class TabLayout : public Container {
public:
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"TabLayout"; }
    bool ShowsChild(const Control* child) const override;
    int GetCurSel() const { return current_; }
    // Selects a page and sends "tabselect" (WPARAM new index, LPARAM old index); false for an index out of range.
    bool SelectItem(int index);

protected:
    void Arrange(const RECT& inner) override;
    int current_ = 0;
};

class Label : public Control {
public:
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Label"; }
    void Paint(Canvas& canvas) override;
    int FontId() const { return font_; }
    bool AutoWidth() const { return autoWidth_; }
    const RECT& TextPadding() const { return textPadding_; }
    // The width the text takes, drawn as it is drawn (font given way included), and the width it has, in device
    // pixels; {0, room} without text or window.
    std::pair<int, int> TextWidthAndRoom(HDC dc) const;

protected:
    virtual Argb CurrentTextColor() const;
    void PaintText(Canvas& canvas, Argb color);
    UINT TextFormat() const;
    RECT TextRect(const Scale& scale) const { return Inset(rect_, scale.Px(textPadding_)); }
    // The font the text is drawn with: the layout's, or a smaller one where the scaled font does not fit.
    HFONT TextFont(HDC dc, const RECT& room, UINT format) const;
    int font_ = -1;
    Argb textColor_ = 0xFF000000;
    Argb disabledTextColor_ = 0;
    RECT textPadding_{};
    UINT align_ = DT_LEFT;
    UINT valign_ = DT_VCENTER;
    bool multiline_ = false;
    bool autoWidth_ = false;
    bool endEllipsis_ = false; // text that does not fit is cut at the edge unless this asks for "..."
};

class Button : public Label {
public:
    Button();
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Button"; }
    bool CanFocus() const override { return IsEnabled(); }
    void Paint(Canvas& canvas) override;

protected:
    Argb CurrentTextColor() const override;
    virtual const std::wstring& CurrentImage() const;
    std::wstring normalImage_, hotImage_, pushedImage_, disabledImage_, focusedImage_;
    Argb hotBkColor_ = 0, pushedBkColor_ = 0, disabledBkColor_ = 0;
    Argb hotTextColor_ = 0, pushedTextColor_ = 0;
};

// A check box: clicking toggles the check and sends "selectchanged".
class Option : public Button {
public:
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Option"; }
    void Activate() override;
    bool IsSelected() const { return selected_; }
    // Changes the check; sends "selectchanged" when it changed and `notify` is set.
    void Selected(bool selected, bool notify = true);

protected:
    Argb CurrentTextColor() const override;
    const std::wstring& CurrentImage() const override;
    std::wstring selectedImage_, selectedHotImage_, selectedDisabledImage_;
    Argb selectedTextColor_ = 0;
    bool selected_ = false;
};

// A real child EDIT control placed over the skinned frame; its text lives in the EDIT window once created.
class Edit : public Label {
public:
    Edit();
    ~Edit() override;
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Edit"; }
    void Place(const Scale& scale) override;
    void Paint(Canvas& canvas) override;
    bool CanFocus() const override { return IsEnabled(); }
    void OnVisibilityChanged() override;
    void SetEnabled(bool enabled) override;
    std::wstring GetText() const override;
    void SetText(const std::wstring& text) override;
    HWND EditHandle() const { return hwnd_; }
    // Creates the child window; called by the window once it exists.
    void CreateHost(HWND parent, HFONT font);
    // The window's scale changed: the edit box takes the font made for it.
    void SetHostFont(HFONT font);
    Argb TextColor() const { return textColor_; }
    Argb EditBkColor() const { return bkColor_; }
    // Answers WM_CTLCOLOREDIT / WM_CTLCOLORSTATIC for the child window: sets the colours on `dc` and returns the
    // background brush, made once for the colour in force and kept (and freed) with the control.
    HBRUSH ChildColors(HDC dc);

private:
    void PlaceHost();
    HWND hwnd_ = nullptr; // destroyed with its parent window
    Utils::UniqueGdiObject brush_;
    COLORREF brushColor_ = 0;
    bool readOnly_ = false;
    bool password_ = false;
    int maxChars_ = 260;
};

// A progress bar: background image over the whole control, foreground image over the done share. Unless
// "isstretchfore" is set, the foreground is cut at the done share instead of being squeezed into it.
class Progress : public Label {
public:
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const wchar_t* TypeName() const override { return L"Progress"; }
    void Paint(Canvas& canvas) override;
    void SetValue(int value);
    int GetValue() const { return value_; }
    int GetMin() const { return min_; }
    int GetMax() const { return max_; }

private:
    std::wstring foreImage_;
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    bool stretchFore_ = true;
};

// Width in pixels of the done share of a bar of `width` pixels (value clamped to [min, max]).
int ProgressFill(int width, int min, int max, int value);

} // namespace UiKit
