// Which keys the control's panes use, decided without a window: a container's loop offers every key to
// the control first, and what the control does not claim must reach the host untouched (its dialog's
// default button, Escape, mnemonics, its own accelerators). Also the list's type-ahead search.
#pragma once
#include <cstddef>
#include <functional>
#include <string_view>

// The platform's keyboard message numbers and the virtual-key codes the panes react to.
namespace keys {
constexpr unsigned kKeyDown = 0x0100, kKeyUp = 0x0101, kChar = 0x0102, kSysKeyDown = 0x0104,
                   kSysKeyUp = 0x0105, kSysChar = 0x0106;
constexpr unsigned kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kEscape = 0x1B, kSpace = 0x20, kPrior = 0x21,
                   kNext = 0x22, kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27,
                   kDown = 0x28, kInsert = 0x2D, kDelete = 0x2E, kApps = 0x5D, kMultiply = 0x6A, kAdd = 0x6B,
                   kSubtract = 0x6D, kF5 = 0x74, kF10 = 0x79;
} // namespace keys

struct KeyState {
    bool control = false;
    bool shift = false;
    bool alt = false;
};

enum class KeyRoute {
    Host,         // not ours: the container handles it
    Pane,         // the focused pane handles it
    NextPane,     // Tab: the next pane, or out of the control after the last
    PreviousPane, // Shift+Tab: the previous pane, or out before the first
};

// Where keyboard message `message` with key or character `code` goes while the focus is in a pane.
KeyRoute RouteKey(unsigned message, unsigned code, KeyState state);

// The list's type-ahead: the first of `count` names, from `start` on and wrapping, that begins with
// `typed`, ASCII letters compared case-blind; a letter typed again and again that begins no name as a
// whole steps to the next name after `start` with that letter, as in any file list. `count` when none
// does. One pass over the names, whatever was typed; with `initials` (each name's first character,
// folded, in the same order) only the names with the typed initial are read.
size_t FindTyped(size_t count, size_t start, std::string_view typed,
                 const std::function<std::string_view(size_t)>& nameAt, std::string_view initials = {});
