// Builds a window's control tree and attributes from its XML layout.
#include <pugixml.hpp>

#include "uikit/Window.h"
#include "utils/DebugLog.h"
#include "utils/TextConv.h"

namespace UiKit {

namespace {

std::wstring Wide(const char* utf8) {
    return Utils::MultiByteToWide(utf8, CP_UTF8);
}

void ApplyWindowAttribute(WindowSpec& look, const std::wstring& n, const std::wstring& v) {
    if (n == L"size") {
        look.size = ParseSize(v).value_or(look.size);
    } else if (n == L"caption") {
        look.caption = ParseRect(v).value_or(RECT{});
    } else if (n == L"sizebox") {
        look.sizeBox = ParseRect(v).value_or(RECT{});
    } else if (n == L"roundcorner") {
        look.roundCorner = ParseSize(v).value_or(SIZE{});
    } else if (n == L"bordersize") {
        look.borderSize = ParseInt(v, 0);
    } else if (n == L"bordercolor") {
        look.borderColor = ParseColor(v).value_or(0);
    } else if (n == L"showshadow") {
        look.showShadow = ParseBool(v, false);
    } else if (n == L"shadowsize") {
        look.shadowSize = ParseInt(v, 0);
    } else if (n == L"shadowsharpness") {
        look.shadowSharpness = ParseInt(v, 0);
    } else if (n == L"shadowdarkness") {
        look.shadowDarkness = ParseInt(v, 0);
    } else if (n == L"shadowposition") {
        auto s = ParseSize(v).value_or(SIZE{});
        look.shadowPosition = POINT{s.cx, s.cy};
    } else if (n == L"shadowcolor") {
        look.shadowColor = ParseColor(v).value_or(look.shadowColor);
    }
}

std::unique_ptr<Control> MakeControl(Window& window, const std::wstring& tag) {
    if (tag == L"Control") {
        return std::make_unique<Control>();
    }
    if (tag == L"Container") {
        return std::make_unique<Container>();
    }
    if (tag == L"VerticalLayout") {
        return std::make_unique<VerticalLayout>();
    }
    if (tag == L"HorizontalLayout") {
        return std::make_unique<HorizontalLayout>();
    }
    if (tag == L"TabLayout") {
        return std::make_unique<TabLayout>();
    }
    if (tag == L"Label" || tag == L"Text") {
        return std::make_unique<Label>();
    }
    if (tag == L"Button") {
        return std::make_unique<Button>();
    }
    if (tag == L"Option" || tag == L"CheckBox") {
        return std::make_unique<Option>();
    }
    if (tag == L"Edit") {
        return std::make_unique<Edit>();
    }
    if (tag == L"Progress") {
        return std::make_unique<Progress>();
    }
    return window.CreateControl(tag);
}

} // namespace

class LayoutBuilder {
public:
    explicit LayoutBuilder(Window& w) : window_(w) {}

    bool Build(const std::string& xml) {
        pugi::xml_document doc;
        pugi::xml_parse_result parsed =
            doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
        if (!parsed) {
            DEBUG_LOG(L"layout %s: XML error at offset %d", window_.GetSkinFile().c_str(),
                      static_cast<int>(parsed.offset));
            return false;
        }
        pugi::xml_node root = doc.child("Window");
        if (!root) {
            DEBUG_LOG(L"layout %s has no Window element", window_.GetSkinFile().c_str());
            return false;
        }
        for (pugi::xml_attribute a : root.attributes()) {
            ApplyWindowAttribute(window_.layoutLook_, Wide(a.name()), Wide(a.value()));
        }
        for (pugi::xml_node child : root.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            std::wstring tag = Wide(child.name());
            if (tag == L"Font") {
                AddFont(child);
            } else if (!window_.root_) {
                window_.root_ = BuildControl(child, nullptr);
            }
        }
        return window_.root_ != nullptr;
    }

private:
    void AddFont(const pugi::xml_node& node) {
        int id = node.attribute("id").as_int(-1);
        std::wstring face = Wide(node.attribute("name").as_string("微软雅黑"));
        LayoutFont font{face, node.attribute("size").as_int(12), node.attribute("bold").as_bool(false),
                        node.attribute("underline").as_bool(false), node.attribute("italic").as_bool(false)};
        if (id < 0) {
            return;
        }
        window_.layoutFonts_[id] = font;
        if (node.attribute("default").as_bool(false) || window_.defaultFont_ < 0) {
            window_.defaultFont_ = id;
        }
    }

    std::unique_ptr<Control> BuildControl(const pugi::xml_node& node, Container* parent) {
        std::unique_ptr<Control> control = MakeControl(window_, Wide(node.name()));
        if (!control) {
            return nullptr; // unknown tag: the element and everything inside it are left out
        }
        control->Attach(&window_, parent);
        for (pugi::xml_attribute a : node.attributes()) {
            std::wstring name = Wide(a.name());
            if (!control->SetAttribute(name, Wide(a.value()))) {
                DEBUG_LOG(L"%s: unknown attribute %s", control->TypeName(), name.c_str());
            }
        }
        if (auto* container = dynamic_cast<Container*>(control.get())) {
            for (pugi::xml_node child : node.children()) {
                if (child.type() != pugi::node_element) {
                    continue;
                }
                if (auto built = BuildControl(child, container)) {
                    container->Add(std::move(built));
                }
            }
        }
        return control;
    }

    Window& window_;
};

bool BuildLayout(Window& window, const std::string& xml) {
    return LayoutBuilder(window).Build(xml);
}

} // namespace UiKit
