// A window's accessible tree read through the system's accessibility calls (AccessibleObjectFromWindow,
// AccessibleChildren), as a screen reader reads it; and the default action of an element found by name.
// The caller initialises COM on its thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace AccTree {

struct Node {
    int depth = 0; // 0 the client object, 1 its children
    long role = 0;
    long state = 0;
    std::wstring name;
    std::wstring value;
    RECT location{}; // screen coordinates
};

// The client object of `hwnd` and its children; false when the window answers with no object.
bool Read(HWND hwnd, std::vector<Node>& out);
// "push button", "check button", ...; "role 0x.." for the rest.
std::string RoleName(long role);
// State flags by name in a fixed order, space-separated ("focusable focused default").
std::string StateNames(long state);
// `role "name" [states] value="…" @x,y wxh` (UTF-8, indented by depth, no line end); without the location when
// `withLocation` is false.
std::string Format(const Node& node, bool withLocation = true);
// Presses the first child named `name`: its accDoDefaultAction result, or E_INVALIDARG when no child has the name.
HRESULT DoDefaultAction(HWND hwnd, const std::wstring& name);
// A visible skinned window ("XMLWnd") with this title, waiting up to `ms`.
HWND FindSkinnedWindow(const std::wstring& title, DWORD ms);

} // namespace AccTree
