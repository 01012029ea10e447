#include "tools/layoutdump/LayoutDump.h"

#include <functional>

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
    Walk(window.GetRoot(), [&](UiKit::Control* c) {
        if (!c->GetName().empty() && c->IsShown()) {
            out.push_back({c->GetName(), c->GetPos()});
        }
    });
    return out;
}

std::string FormatLine(const NamedRect& control) {
    const RECT& r = control.rect;
    return Utils::WideToMultiByte(control.name, CP_UTF8) + " " + std::to_string(r.left) + " " + std::to_string(r.top) +
           " " + std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

} // namespace LayoutDump
