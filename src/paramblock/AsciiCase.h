// Case folding for device names, connection keys and parameter words: only the ASCII letters fold, so
// no comparison depends on a code page or a locale. Header only: the session component's portable code
// uses it without linking the control's.
#pragma once
#include <string>
#include <string_view>

inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string FoldLower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        c = AsciiLower(c);
    return folded;
}

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}
