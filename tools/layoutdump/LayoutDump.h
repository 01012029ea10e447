// Where the named controls of a skinned window sit, as the toolkit lays them out: used by scripts/demo to click
// real controls by their layout position instead of guessed coordinates.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "uikit/Window.h"

namespace LayoutDump {

struct NamedRect {
    std::wstring name;
    RECT rect;         // window coordinates, device pixels
    int textWidth = 0; // what the control's text takes as drawn (0 without text)
    int textRoom = 0;  // what it has
};

// Selects `page` on every tab layout of the window that has that many pages; false when none has.
bool SelectPage(UiKit::Window& window, int page);
// Every named control that is currently shown (itself, its ancestors and, inside tab layouts, its page), in tree
// order, after laying the window out.
std::vector<NamedRect> ShownNamedControls(UiKit::Window& window);
// "name x y w h text room" (UTF-8, no line end): the rectangle, then the text's width and its room.
std::string FormatLine(const NamedRect& control);

} // namespace LayoutDump
