#include "browser/LocalName.h"
#include <array>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 (also with the superscript digits the system counts) name
// devices whatever extension follows, and trailing blanks before the extension do not change that.
bool IsReservedDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    auto same = [&](std::string_view word) {
        if (base.size() < word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i)
            if (Upper(base[i]) != word[i])
                return false;
        return true;
    };
    for (std::string_view word : kPlain)
        if (base.size() == 3 && same(word))
            return true;
    if (base.size() == 4 && (same("COM") || same("LPT"))) {
        const unsigned char digit = static_cast<unsigned char>(base[3]);
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

} // namespace

const char* LocalNameProblem(std::string_view name, size_t fieldSize) {
    if (name.size() >= fieldSize)
        return "the device sent the name without its end";
    if (name.empty() || name == "." || name == "..")
        return "the name is empty or refers to a directory itself";
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/' || c == ':')
            return "the name contains a path separator or a drive colon";
        if (byte < 0x20)
            return "the name contains a control character";
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return "the name contains a character local file names cannot hold";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "the name ends in a dot or a blank, which the local file system drops";
    if (IsReservedDeviceName(name))
        return "the name is reserved for a local device";
    return nullptr;
}
