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
                 const std::function<std::string_view(size_t)>& nameAt, std::string_view initials) {
    if (count == 0 || typed.empty())
        return count;
    const bool repeated = typed.size() > 1 && typed.find_first_not_of(typed[0]) == std::string_view::npos;
    const char first = AsciiLower(typed[0]);
    start %= count;
    size_t letter = count; // the first name after `start` the letter begins
    bool letterAtStart = false;
    for (size_t n = 0; n < count; ++n) {
        const size_t i = start + n < count ? start + n : start + n - count;
        if (initials.size() == count && initials[i] != first)
            continue;
        const std::string_view name = nameAt(i);
        if (name.empty() || AsciiLower(name[0]) != first)
            continue;
        if (name.size() >= typed.size() && EqualsIgnoreCase(name.substr(0, typed.size()), typed))
            return i;
        if (repeated && n == 0)
            letterAtStart = true;
        else if (repeated && letter == count)
            letter = i;
    }
    return letter < count ? letter : letterAtStart ? start : count;
}
