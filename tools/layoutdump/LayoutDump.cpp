#include "tools/layoutdump/LayoutDump.h"

#include <functional>
#include <tuple>

#include "utils/TextConv.h"

namespace LayoutDump {

namespace {

void Walk(UiKit::Control* control, const std::function<void(UiKit::Control*)>& visit) {
    if (control == nullptr) {
        return;
    }
    visit(control);
    if (auto* container = dynamic_cast<UiKit::Container*>(control)) {
        for (const auto& child : container->Children()) {
            Walk(child.get(), visit);
        }
    }
}

} // namespace

bool SelectPage(UiKit::Window& window, int page) {
    bool selected = false;
    Walk(window.GetRoot(), [&](UiKit::Control* c) {
        auto* tabs = dynamic_cast<UiKit::TabLayout*>(c);
        if (tabs != nullptr && page >= 0 && static_cast<size_t>(page) < tabs->Children().size()) {
            selected = tabs->SelectItem(page) || selected;
        }
    });
    return selected;
}

std::vector<NamedRect> ShownNamedControls(UiKit::Window& window) {
    window.UpdateLayout();
    std::vector<NamedRect> out;
    HDC dc = ::GetDC(window.GetHWND());
    Walk(window.GetRoot(), [&](UiKit::Control* c) {
        if (!c->GetName().empty() && c->IsShown()) {
            NamedRect named{c->GetName(), c->GetPos()};
            if (auto* label = dynamic_cast<UiKit::Label*>(c); label != nullptr && dc != nullptr) {
                std::tie(named.textWidth, named.textRoom) = label->TextWidthAndRoom(dc);
            }
            out.push_back(named);
        }
    });
    ::ReleaseDC(window.GetHWND(), dc);
    return out;
}

std::string FormatLine(const NamedRect& control) {
    const RECT& r = control.rect;
    return Utils::WideToMultiByte(control.name, CP_UTF8) + " " + std::to_string(r.left) + " " + std::to_string(r.top) +
           " " + std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + " " +
           std::to_string(control.textWidth) + " " + std::to_string(control.textRoom);
}

} // namespace LayoutDump
