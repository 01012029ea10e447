// What a screen reader sees of a skinned window: the client area's accessible object (IAccessible) and the pure
// rules behind it (which controls are elements, their roles, states and default actions).
//
// Threads: the object is called on the window's UI thread (COM delivers calls from other processes there).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace UiKit {

class Control;
class Window;

// The kinds of accessible element the toolkit's controls become.
enum class AccKind { PushButton, CheckButton, Link, StaticText, ProgressBar, EditBox };

// What a control looks like to the role and state rule.
struct AccFacts {
    AccKind kind = AccKind::StaticText;
    bool enabled = true;
    bool focused = false; // the control has the keyboard focus and its window has the system's focus
    bool checked = false;
    bool isDefault = false; // the main button of its page or dialog
};

struct AccRoleState {
    long role = 0;  // ROLE_SYSTEM_*
    long state = 0; // STATE_SYSTEM_* flags
};

AccRoleState AccRoleStateOf(const AccFacts& facts);
// The verb a screen reader announces for the default action; empty for elements without one.
std::wstring AccDefaultActionOf(AccKind kind, bool checked);

// The element kind of a control, or nothing for controls that are not elements (layouts, spacers, pictures
// without a name).
std::optional<AccKind> AccKindOf(const Control& control);
// The elements a sighted user sees now, in reading order (tree order: rows top to bottom, left to right).
std::vector<Control*> AccElements(Control* root);
// The spoken name: the skin's "accname" when it gives one, else the text.
std::wstring AccNameOf(const Control& control);

// Creates the client object of `window` with one reference; the window calls Disconnect on it when its controls go.
class AccessibleClient;
AccessibleClient* NewAccessibleClient(Window* window);
void DisconnectAccessibleClient(AccessibleClient* client);
// Answers WM_GETOBJECT for OBJID_CLIENT through LresultFromObject.
LRESULT AccessibleClientResult(AccessibleClient* client, WPARAM wp);
void ReleaseAccessibleClient(AccessibleClient* client);

} // namespace UiKit
