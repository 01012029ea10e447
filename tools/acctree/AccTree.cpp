#include "tools/acctree/AccTree.h"

#include <oleacc.h>

#include <cstdio>

#include "utils/TextConv.h"

namespace AccTree {

namespace {

struct Unknown {
    ~Unknown() {
        if (p != nullptr) {
            p->Release();
        }
    }
    IAccessible* p = nullptr;
};

std::wstring TakeBstr(BSTR text) {
    std::wstring out = text != nullptr ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return out;
}

Node Describe(IAccessible* acc, LONG id, int depth) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    Node node;
    node.depth = depth;
    BSTR text = nullptr;
    if (SUCCEEDED(acc->get_accName(child, &text))) {
        node.name = TakeBstr(text);
    }
    text = nullptr;
    if (SUCCEEDED(acc->get_accValue(child, &text))) {
        node.value = TakeBstr(text);
    }
    VARIANT v{};
    if (SUCCEEDED(acc->get_accRole(child, &v)) && v.vt == VT_I4) {
        node.role = v.lVal;
    }
    ::VariantClear(&v);
    if (SUCCEEDED(acc->get_accState(child, &v)) && v.vt == VT_I4) {
        node.state = v.lVal;
    }
    ::VariantClear(&v);
    LONG x = 0, y = 0, w = 0, h = 0;
    if (SUCCEEDED(acc->accLocation(&x, &y, &w, &h, child))) {
        node.location = RECT{x, y, x + w, y + h};
    }
    return node;
}

bool ClientOf(HWND hwnd, Unknown& acc) {
    return hwnd != nullptr &&
           SUCCEEDED(::AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                  reinterpret_cast<void**>(&acc.p))) &&
           acc.p != nullptr;
}

// Calls `visit(object, id)` for each child: simple elements by id on the parent, objects by CHILDID_SELF.
template <class Fn> void EachChild(IAccessible* parent, Fn&& visit) {
    LONG count = 0;
    if (FAILED(parent->get_accChildCount(&count)) || count <= 0) {
        return;
    }
    std::vector<VARIANT> kids(static_cast<size_t>(count));
    LONG got = 0;
    if (FAILED(::AccessibleChildren(parent, 0, count, kids.data(), &got))) {
        return;
    }
    for (LONG i = 0; i < got; ++i) {
        VARIANT& k = kids[static_cast<size_t>(i)];
        if (k.vt == VT_I4) {
            visit(parent, k.lVal);
        } else if (k.vt == VT_DISPATCH && k.pdispVal != nullptr) {
            Unknown child;
            if (SUCCEEDED(k.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&child.p)))) {
                visit(child.p, CHILDID_SELF);
            }
        }
        ::VariantClear(&k);
    }
}

} // namespace

bool Read(HWND hwnd, std::vector<Node>& out) {
    Unknown root;
    if (!ClientOf(hwnd, root)) {
        return false;
    }
    out.push_back(Describe(root.p, CHILDID_SELF, 0));
    EachChild(root.p, [&](IAccessible* acc, LONG id) { out.push_back(Describe(acc, id, 1)); });
    return true;
}

std::string RoleName(long role) {
    switch (role) {
    case ROLE_SYSTEM_CLIENT:
        return "client";
    case ROLE_SYSTEM_DIALOG:
        return "dialog";
    case ROLE_SYSTEM_WINDOW:
        return "window";
    case ROLE_SYSTEM_PUSHBUTTON:
        return "push button";
    case ROLE_SYSTEM_CHECKBUTTON:
        return "check button";
    case ROLE_SYSTEM_LINK:
        return "link";
    case ROLE_SYSTEM_STATICTEXT:
        return "text";
    case ROLE_SYSTEM_PROGRESSBAR:
        return "progress bar";
    case ROLE_SYSTEM_TEXT:
        return "editable text";
    default:
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "role 0x%lx", role);
        return buffer;
    }
}

std::string StateNames(long state) {
    static const struct {
        long flag;
        const char* name;
    } kNames[] = {
        {STATE_SYSTEM_UNAVAILABLE, "unavailable"}, {STATE_SYSTEM_FOCUSABLE, "focusable"},
        {STATE_SYSTEM_FOCUSED, "focused"},         {STATE_SYSTEM_CHECKED, "checked"},
        {STATE_SYSTEM_DEFAULT, "default"},         {STATE_SYSTEM_READONLY, "read only"},
        {STATE_SYSTEM_LINKED, "linked"},
    };
    std::string out;
    long rest = state;
    for (const auto& n : kNames) {
        if ((state & n.flag) != 0) {
            out += (out.empty() ? "" : " ") + std::string(n.name);
            rest &= ~n.flag;
        }
    }
    if (rest != 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%s0x%lx", out.empty() ? "" : " ", rest);
        out += buffer;
    }
    return out;
}

std::string Format(const Node& node, bool withLocation) {
    std::string line(static_cast<size_t>(node.depth) * 2, ' ');
    line += RoleName(node.role) + " \"" + Utils::WideToMultiByte(node.name, CP_UTF8) + "\" [" + StateNames(node.state) +
            "]";
    if (!node.value.empty()) {
        line += " value=\"" + Utils::WideToMultiByte(node.value, CP_UTF8) + "\"";
    }
    if (withLocation) {
        const RECT& r = node.location;
        line += " @" + std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
                "x" + std::to_string(r.bottom - r.top);
    }
    return line;
}

HRESULT DoDefaultAction(HWND hwnd, const std::wstring& name) {
    Unknown root;
    if (!ClientOf(hwnd, root)) {
        return E_FAIL;
    }
    HRESULT result = E_INVALIDARG;
    bool done = false;
    EachChild(root.p, [&](IAccessible* acc, LONG id) {
        if (done) {
            return;
        }
        VARIANT child{};
        child.vt = VT_I4;
        child.lVal = id;
        BSTR text = nullptr;
        if (SUCCEEDED(acc->get_accName(child, &text)) && TakeBstr(text) == name) {
            result = acc->accDoDefaultAction(child);
            done = true;
        }
    });
    return result;
}

namespace {

struct Search {
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK Match(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    wchar_t text[128] = {}, cls[64] = {};
    ::GetWindowTextW(hwnd, text, 128);
    ::GetClassNameW(hwnd, cls, 64);
    if (::IsWindowVisible(hwnd) && std::wstring(cls) == L"XMLWnd" && *s->title == text) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindSkinnedWindow(const std::wstring& title, DWORD ms) {
    DWORD start = ::GetTickCount();
    for (;;) {
        Search s{&title, nullptr};
        ::EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        if (s.found != nullptr || ::GetTickCount() - start >= ms) {
            return s.found;
        }
        ::Sleep(50);
    }
}

} // namespace AccTree
