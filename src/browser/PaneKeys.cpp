#include "browser/PaneKeys.h"
#include "paramblock/AsciiCase.h"

using namespace keys;

namespace {
bool IsLetterOrDigit(unsigned code) {
    return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z');
}

KeyRoute RouteKeyDown(unsigned code, KeyState state) {
    switch (code) {
    case kTab:
        if (state.control)
            return KeyRoute::Host; // Ctrl+Tab belongs to the host (its pages, its documents)
        return state.shift ? KeyRoute::PreviousPane : KeyRoute::NextPane;
    case kReturn:
    case kDelete:
    case kF5:
    case kBack:
    case kLeft:
    case kUp:
    case kRight:
    case kDown:
    case kHome:
    case kEnd:
    case kPrior:
    case kNext:
    case kSpace:
    case kApps:
    case kAdd:
    case kSubtract:
    case kMultiply:
        return KeyRoute::Pane;
    case kInsert: // the older clipboard keys
        return state.control || state.shift ? KeyRoute::Pane : KeyRoute::Host;
    case 'A':
    case 'C':
    case 'V':
        if (state.control)
            return KeyRoute::Pane;
        break;
    default:
        break;
    }
    // A letter or digit types ahead; with Ctrl it is one of the host's shortcuts.
    return IsLetterOrDigit(code) && !state.control ? KeyRoute::Pane : KeyRoute::Host;
}
} // namespace

KeyRoute RouteKey(unsigned message, unsigned code, KeyState state) {
    switch (message) {
    case kKeyDown:
        return state.alt ? KeyRoute::Host : RouteKeyDown(code, state);
    case kSysKeyDown:
        // Alt and F10 open the host's menus, Alt+letter are its mnemonics; only Shift+F10 is the pane's.
        return code == kF10 && state.shift && !state.alt ? KeyRoute::Pane : KeyRoute::Host;
    case kChar:
        // Typed characters search the list; of the control characters only those of the Enter and the
        // Backspace the pane took are its own.
        return code >= 0x20 || code == '\r' || code == '\b' ? KeyRoute::Pane : KeyRoute::Host;
    case kKeyUp:
    case kSysKeyUp:
    case kSysChar:
    default:
        return KeyRoute::Host;
    }
}

size_t FindTyped(size_t count, size_t start, std::string_view typed,
                 const std::function<std::string_view(size_t)>& nameAt) {
    const size_t found = FindByPrefix(count, start, typed, nameAt);
    if (found < count || typed.size() < 2 || typed.find_first_not_of(typed[0]) != std::string_view::npos)
        return found;
    // The list searches a longer prefix from the focused row itself: the next one is after it.
    return FindByPrefix(count, start + 1, typed.substr(0, 1), nameAt);
}

size_t FindByPrefix(size_t count, size_t start, std::string_view prefix,
                    const std::function<std::string_view(size_t)>& nameAt) {
    if (count == 0 || prefix.empty())
        return count;
    start %= count;
    for (size_t n = 0; n < count; ++n) {
        const size_t i = start + n < count ? start + n : start + n - count;
        const std::string_view name = nameAt(i);
        if (name.size() >= prefix.size() && EqualsIgnoreCase(name.substr(0, prefix.size()), prefix))
            return i;
    }
    return count;
}
