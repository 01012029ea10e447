// The installer's own resource ids, shared by the resource scripts (app.rc, layouts.rc) and the code. The toolkit
// names a layout by its id in decimal ("149"): LayoutName gives that name.
#pragma once

#define IDI_APP_ICON 145
#define IDR_LAYOUT_AGREEMENT 147
#define IDR_LAYOUT_EXIT 148
#define IDR_LAYOUT_MAIN 149
#define IDR_LAYOUT_MESSAGE 150
#define IDR_LAYOUT_WARNING 151
#define IDR_LAYOUT_NET_RETRY 152

#ifndef RC_INVOKED
#include <string>

inline std::wstring LayoutName(int layoutId) {
    return std::to_wstring(layoutId);
}
#endif
