#include "uikit/Control.h"

#include <algorithm>

#include "uikit/BoxLayout.h"
#include "uikit/Render.h"
#include "uikit/Window.h"

namespace UiKit {

namespace {

Argb ColorOr(const std::wstring& value, Argb fallback) {
    return ParseColor(value).value_or(fallback);
}

} // namespace

RECT Inset(const RECT& rc, const RECT& by) {
    return RECT{rc.left + by.left, rc.top + by.top, std::max(rc.left + by.left, rc.right - by.right),
                std::max(rc.top + by.top, rc.bottom - by.bottom)};
}

// ---- Control ----

bool Control::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"name") {
        name_ = v;
    } else if (n == L"text") {
        text_ = v;
    } else if (n == L"userdata") {
        userData_ = v;
    } else if (n == L"accname") {
        accName_ = v;
    } else if (n == L"accrole") {
        link_ = v == L"link";
    } else if (n == L"default") {
        default_ = ParseBool(v, false);
    } else if (n == L"width") {
        width_ = std::max(0, ParseInt(v, 0));
    } else if (n == L"height") {
        height_ = std::max(0, ParseInt(v, 0));
    } else if (n == L"minwidth") {
        minWidth_ = std::max(0, ParseInt(v, 0));
    } else if (n == L"maxwidth") {
        maxWidth_ = std::max(0, ParseInt(v, maxWidth_));
    } else if (n == L"minheight") {
        minHeight_ = std::max(0, ParseInt(v, 0));
    } else if (n == L"maxheight") {
        maxHeight_ = std::max(0, ParseInt(v, maxHeight_));
    } else if (n == L"padding") {
        padding_ = ParseRect(v).value_or(RECT{});
    } else if (n == L"bkcolor") {
        bkColor_ = ColorOr(v, 0);
    } else if (n == L"bkimage") {
        bkImage_ = v;
    } else if (n == L"bordersize") {
        borderSize_ = std::max(0, ParseInt(v, 0));
    } else if (n == L"bordercolor") {
        borderColor_ = ColorOr(v, 0);
    } else if (n == L"borderround") {
        borderRound_ = ParseSize(v).value_or(SIZE{});
    } else if (n == L"focusbordercolor") {
        focusBorderColor_ = ColorOr(v, 0);
    } else if (n == L"visible") {
        visible_ = ParseBool(v, true);
    } else if (n == L"enabled") {
        enabled_ = ParseBool(v, true);
    } else if (n == L"mouse") {
        mouse_ = ParseBool(v, mouse_);
    } else if (n == L"cursor") {
        handCursor_ = v == L"hand";
    } else {
        return false;
    }
    return true;
}

void Control::SetPos(const RECT& rc) {
    rect_ = rc;
}

void Control::PaintBackground(Canvas& canvas) {
    if (bkColor_ != 0) {
        canvas.Fill(rect_, bkColor_, borderRound_);
    }
    if (!bkImage_.empty()) {
        canvas.DrawImage(bkImage_, rect_);
    }
}

void Control::PaintBorder(Canvas& canvas) {
    Argb color = focused_ && focusBorderColor_ != 0 ? focusBorderColor_ : borderColor_;
    int size = borderSize_ > 0 ? borderSize_ : (focused_ && focusBorderColor_ != 0 ? 1 : 0);
    if (size > 0 && color != 0) {
        canvas.Frame(rect_, size, color, borderRound_);
    }
}

void Control::Paint(Canvas& canvas) {
    PaintBackground(canvas);
    PaintBorder(canvas);
}

void Control::Activate() {
    if (window_ != nullptr) {
        window_->SendNotify(this, L"click");
    }
}

void Control::SetText(const std::wstring& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    Invalidate();
    if (window_ != nullptr) {
        window_->AccessibleEvent(EVENT_OBJECT_NAMECHANGE, this);
    }
}

bool Control::IsShown() const {
    const Control* c = this;
    while (c != nullptr) {
        if (!c->visible_) {
            return false;
        }
        if (c->parent_ != nullptr && !c->parent_->ShowsChild(c)) {
            return false;
        }
        c = c->parent_;
    }
    return true;
}

void Control::SetVisible(bool visible) {
    if (visible == visible_) {
        return;
    }
    visible_ = visible;
    if (window_ != nullptr && !visible) {
        window_->ControlRemovedFromView(this);
    }
    OnVisibilityChanged();
    NeedLayout();
    if (window_ != nullptr) {
        window_->AccessibleEvent(EVENT_OBJECT_REORDER, nullptr);
        if (visible) {
            // A tip that appears is read out like a text that changed.
            window_->AccessibleEvent(EVENT_OBJECT_SHOW, this);
            window_->AccessibleEvent(EVENT_OBJECT_NAMECHANGE, this);
        }
    }
}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled) {
        hot_ = false;
        pushed_ = false;
    }
    Invalidate();
    if (window_ != nullptr) {
        window_->AccessibleEvent(EVENT_OBJECT_STATECHANGE, this);
    }
}

void Control::SetBkImage(const std::wstring& descriptor) {
    bkImage_ = descriptor;
    Invalidate();
}

void Control::SetHot(bool v) {
    if (hot_ != v) {
        hot_ = v;
        Invalidate();
    }
}
void Control::SetPushed(bool v) {
    if (pushed_ != v) {
        pushed_ = v;
        Invalidate();
    }
}
void Control::SetFocused(bool v) {
    if (focused_ != v) {
        focused_ = v;
        Invalidate();
    }
}

void Control::Invalidate() {
    if (window_ != nullptr) {
        window_->Invalidate();
    }
}

void Control::NeedLayout() {
    if (window_ != nullptr) {
        window_->NeedLayout();
    }
}

// ---- Containers ----

bool Container::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"inset") {
        inset_ = ParseRect(v).value_or(RECT{});
    } else if (n == L"childpadding") {
        childPadding_ = ParseInt(v, 0);
    } else {
        return Control::SetAttribute(n, v);
    }
    return true;
}

void Container::Add(std::unique_ptr<Control> child) {
    child->Attach(window_, this);
    children_.push_back(std::move(child));
}

bool Container::ShowsChild(const Control*) const {
    return true;
}

void Container::SetPos(const RECT& rc) {
    rect_ = rc;
    Arrange(Inset(rc, inset_));
}

void Container::Arrange(const RECT& inner) {
    for (auto& c : children_) {
        c->SetPos(inner);
    }
}

void Container::Paint(Canvas& canvas) {
    PaintBackground(canvas);
    canvas.PushClip(rect_);
    for (auto& c : children_) {
        if (c->IsVisible() && ShowsChild(c.get())) {
            c->Paint(canvas);
        }
    }
    canvas.PopClip();
    PaintBorder(canvas);
}

namespace {

// Lays out children along one axis with the shared sizing rule; hidden children get an empty rectangle.
void ArrangeAxis(std::vector<std::unique_ptr<Control>>& children, const RECT& inner, int childPadding, bool vertical) {
    std::vector<BoxItem> items;
    std::vector<Control*> placed;
    for (auto& c : children) {
        if (!c->IsVisible()) {
            c->SetPos(RECT{inner.left, inner.top, inner.left, inner.top});
            continue;
        }
        const RECT& p = c->GetPadding();
        BoxItem it;
        if (vertical) {
            it = BoxItem{c->FixedHeight(),           c->MinHeight(),           c->MaxHeight(), static_cast<int>(p.top),
                         static_cast<int>(p.bottom), c->FixedWidth(),          c->MinWidth(),  c->MaxWidth(),
                         static_cast<int>(p.left),   static_cast<int>(p.right)};
        } else {
            it = BoxItem{
                c->FixedWidth(),  c->MinWidth(),  c->MaxWidth(),  static_cast<int>(p.left), static_cast<int>(p.right),
                c->FixedHeight(), c->MinHeight(), c->MaxHeight(), static_cast<int>(p.top),  static_cast<int>(p.bottom)};
        }
        items.push_back(it);
        placed.push_back(c.get());
    }
    int w = static_cast<int>(inner.right - inner.left);
    int h = static_cast<int>(inner.bottom - inner.top);
    std::vector<BoxSlot> slots = vertical ? ArrangeBox(items, inner.top, h, inner.left, w, childPadding)
                                          : ArrangeBox(items, inner.left, w, inner.top, h, childPadding);
    for (size_t i = 0; i < placed.size(); ++i) {
        const BoxSlot& s = slots[i];
        RECT rc = vertical ? RECT{s.crossPos, s.pos, s.crossPos + s.crossSize, s.pos + s.size}
                           : RECT{s.pos, s.crossPos, s.pos + s.size, s.crossPos + s.crossSize};
        placed[i]->SetPos(rc);
    }
}

} // namespace

void VerticalLayout::Arrange(const RECT& inner) {
    ArrangeAxis(children_, inner, childPadding_, true);
}
void HorizontalLayout::Arrange(const RECT& inner) {
    ArrangeAxis(children_, inner, childPadding_, false);
}

bool TabLayout::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"selectedid") {
        current_ = std::max(0, ParseInt(v, 0));
        return true;
    }
    return Container::SetAttribute(n, v);
}

bool TabLayout::ShowsChild(const Control* child) const {
    return current_ >= 0 && static_cast<size_t>(current_) < children_.size() && children_[current_].get() == child;
}

void TabLayout::Arrange(const RECT& inner) {
    for (auto& c : children_) {
        const RECT& p = c->GetPadding();
        c->SetPos(Inset(inner, p));
    }
}

bool TabLayout::SelectItem(int index) {
    if (index < 0 || static_cast<size_t>(index) >= children_.size()) {
        return false;
    }
    int old = current_;
    if (window_ != nullptr && old >= 0 && static_cast<size_t>(old) < children_.size() && old != index) {
        window_->ControlRemovedFromView(children_[old].get());
    }
    current_ = index;
    for (auto& c : children_) {
        c->OnVisibilityChanged();
    }
    NeedLayout();
    if (window_ != nullptr) {
        window_->SendNotify(this, L"tabselect", static_cast<WPARAM>(index), static_cast<LPARAM>(old));
        window_->ViewChanged();
    }
    return true;
}

// ---- Label ----

bool Label::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"font") {
        font_ = ParseInt(v, -1);
    } else if (n == L"textcolor") {
        textColor_ = ColorOr(v, textColor_);
    } else if (n == L"disabledtextcolor") {
        disabledTextColor_ = ColorOr(v, 0);
    } else if (n == L"textpadding") {
        textPadding_ = ParseRect(v).value_or(RECT{});
    } else if (n == L"align") {
        align_ = v == L"center" ? DT_CENTER : (v == L"right" ? DT_RIGHT : DT_LEFT);
    } else if (n == L"valign") {
        valign_ = v == L"top" ? DT_TOP : (v == L"bottom" ? DT_BOTTOM : DT_VCENTER);
    } else if (n == L"multiline") {
        multiline_ = ParseBool(v, false);
    } else if (n == L"endellipsis") {
        endEllipsis_ = ParseBool(v, false);
    } else if (n == L"autocalcwidth") {
        autoWidth_ = ParseBool(v, false);
    } else {
        return Control::SetAttribute(n, v);
    }
    return true;
}

Argb Label::CurrentTextColor() const {
    if (!enabled_ && disabledTextColor_ != 0) {
        return disabledTextColor_;
    }
    return textColor_;
}

UINT Label::TextFormat() const {
    UINT format = align_ | DT_NOPREFIX;
    if (multiline_) {
        return format | DT_WORDBREAK;
    }
    return format | DT_SINGLELINE | valign_ | (endEllipsis_ ? DT_END_ELLIPSIS : 0);
}

HFONT Label::TextFont(HDC dc, const RECT& room, UINT format) const {
    // A text cut with "..." on purpose keeps its font; any other gives way to its rectangle.
    return endEllipsis_ ? window_->GetFont(font_) : window_->FittingFont(dc, font_, text_, room, format);
}

std::pair<int, int> Label::TextWidthAndRoom(HDC dc) const {
    const RECT room = window_ != nullptr ? TextRect(window_->GetScale()) : rect_;
    const int roomWidth = static_cast<int>(room.right - room.left);
    if (text_.empty() || window_ == nullptr) {
        return {0, roomWidth};
    }
    const UINT format = TextFormat();
    RECT calc = room;
    HGDIOBJ old = ::SelectObject(dc, TextFont(dc, room, format));
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &calc, format | DT_CALCRECT);
    ::SelectObject(dc, old);
    return {static_cast<int>(calc.right - calc.left), roomWidth};
}

void Label::PaintText(Canvas& canvas, Argb color) {
    if (text_.empty() || window_ == nullptr) {
        return;
    }
    RECT rc = TextRect(canvas.GetScale());
    const UINT format = TextFormat();
    HFONT font = TextFont(canvas.Dc(), rc, format);
    if (multiline_ && valign_ != DT_TOP) {
        // DrawText centres only single lines; measure the wrapped block and move it down.
        RECT calc = rc;
        canvas.Text(text_, calc, font, 0, format | DT_CALCRECT);
        int blockHeight = static_cast<int>(calc.bottom - calc.top);
        int room = static_cast<int>(rc.bottom - rc.top);
        if (blockHeight < room) {
            rc.top += valign_ == DT_BOTTOM ? room - blockHeight : (room - blockHeight) / 2;
        }
    }
    canvas.Text(text_, rc, font, color, format);
}

void Label::Paint(Canvas& canvas) {
    Control::Paint(canvas);
    PaintText(canvas, CurrentTextColor());
}

// ---- Button ----

Button::Button() {
    mouse_ = true;
}

bool Button::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"normalimage") {
        normalImage_ = v;
    } else if (n == L"hotimage") {
        hotImage_ = v;
    } else if (n == L"pushedimage") {
        pushedImage_ = v;
    } else if (n == L"disabledimage") {
        disabledImage_ = v;
    } else if (n == L"focusedimage") {
        focusedImage_ = v;
    } else if (n == L"hotbkcolor") {
        hotBkColor_ = ColorOr(v, 0);
    } else if (n == L"pushedbkcolor") {
        pushedBkColor_ = ColorOr(v, 0);
    } else if (n == L"disabledbkcolor") {
        disabledBkColor_ = ColorOr(v, 0);
    } else if (n == L"hottextcolor") {
        hotTextColor_ = ColorOr(v, 0);
    } else if (n == L"pushedtextcolor") {
        pushedTextColor_ = ColorOr(v, 0);
    } else {
        return Label::SetAttribute(n, v);
    }
    return true;
}

Argb Button::CurrentTextColor() const {
    if (!enabled_) {
        return disabledTextColor_ != 0 ? disabledTextColor_ : textColor_;
    }
    if (pushed_ && pushedTextColor_ != 0) {
        return pushedTextColor_;
    }
    if ((hot_ || pushed_) && hotTextColor_ != 0) {
        return hotTextColor_;
    }
    return textColor_;
}

const std::wstring& Button::CurrentImage() const {
    if (!enabled_ && !disabledImage_.empty()) {
        return disabledImage_;
    }
    if (pushed_ && !pushedImage_.empty()) {
        return pushedImage_;
    }
    if ((hot_ || pushed_) && !hotImage_.empty()) {
        return hotImage_;
    }
    if (focused_ && !focusedImage_.empty()) {
        return focusedImage_;
    }
    return normalImage_;
}

void Button::Paint(Canvas& canvas) {
    Argb bk = bkColor_;
    if (!enabled_ && disabledBkColor_ != 0) {
        bk = disabledBkColor_;
    } else if (enabled_ && pushed_ && pushedBkColor_ != 0) {
        bk = pushedBkColor_;
    } else if (enabled_ && (hot_ || pushed_) && hotBkColor_ != 0) {
        bk = hotBkColor_;
    }
    if (bk != 0) {
        canvas.Fill(rect_, bk, borderRound_);
    }
    if (!bkImage_.empty()) {
        canvas.DrawImage(bkImage_, rect_);
    }
    const std::wstring& image = CurrentImage();
    if (!image.empty()) {
        canvas.DrawImage(image, rect_);
    }
    PaintBorder(canvas);
    PaintText(canvas, CurrentTextColor());
}

// ---- Option ----

bool Option::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"selected") {
        selected_ = ParseBool(v, false);
    } else if (n == L"selectedimage") {
        selectedImage_ = v;
    } else if (n == L"selectedhotimage") {
        selectedHotImage_ = v;
    } else if (n == L"selecteddisabledimage") {
        selectedDisabledImage_ = v;
    } else if (n == L"selectedtextcolor") {
        selectedTextColor_ = ColorOr(v, 0);
    } else {
        return Button::SetAttribute(n, v);
    }
    return true;
}

void Option::Selected(bool selected, bool notify) {
    if (selected == selected_) {
        return;
    }
    selected_ = selected;
    Invalidate();
    if (window_ != nullptr) {
        window_->AccessibleEvent(EVENT_OBJECT_STATECHANGE, this);
    }
    if (notify && window_ != nullptr) {
        window_->SendNotify(this, L"selectchanged", selected ? 1 : 0);
    }
}

void Option::Activate() {
    Selected(!selected_);
    Button::Activate();
}

Argb Option::CurrentTextColor() const {
    if (enabled_ && selected_ && selectedTextColor_ != 0) {
        return selectedTextColor_;
    }
    return Button::CurrentTextColor();
}

const std::wstring& Option::CurrentImage() const {
    if (selected_) {
        if (!enabled_ && !selectedDisabledImage_.empty()) {
            return selectedDisabledImage_;
        }
        if (enabled_ && hot_ && !selectedHotImage_.empty()) {
            return selectedHotImage_;
        }
        if (enabled_ && !selectedImage_.empty()) {
            return selectedImage_;
        }
    }
    return Button::CurrentImage();
}

// ---- Progress ----

int ProgressFill(int width, int min, int max, int value) {
    if (width <= 0 || max <= min) {
        return 0;
    }
    value = std::min(std::max(value, min), max);
    return static_cast<int>(static_cast<long long>(width) * (value - min) / (max - min));
}

bool Progress::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"foreimage") {
        foreImage_ = v;
    } else if (n == L"min") {
        min_ = ParseInt(v, 0);
    } else if (n == L"max") {
        max_ = ParseInt(v, 100);
    } else if (n == L"value") {
        value_ = ParseInt(v, 0);
    } else if (n == L"isstretchfore") {
        stretchFore_ = ParseBool(v, true);
    } else {
        return Label::SetAttribute(n, v);
    }
    return true;
}

void Progress::SetValue(int value) {
    value = std::min(std::max(value, min_), max_);
    if (value != value_) {
        value_ = value;
        Invalidate();
        if (window_ != nullptr) {
            window_->ValueChanged(this);
        }
    }
}

void Progress::Paint(Canvas& canvas) {
    PaintBackground(canvas);
    int width = static_cast<int>(rect_.right - rect_.left);
    int fill = ProgressFill(width, min_, max_, value_);
    if (!foreImage_.empty() && fill > 0) {
        if (stretchFore_) {
            RECT rc = rect_;
            rc.right = rc.left + fill;
            canvas.DrawImage(foreImage_, rc);
        } else {
            canvas.DrawImage(foreImage_, rect_, fill);
        }
    }
    PaintBorder(canvas);
    PaintText(canvas, CurrentTextColor());
}

} // namespace UiKit
