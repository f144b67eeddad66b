#include "ConnectionText.h"

#include "DevicePath.h"
#include "paramblock/AsciiCase.h"

#include <cstdlib>

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Decimal or 0x-hexadecimal, all of the text, no sign.
bool ParseNumber(std::string_view text, uint64_t& value) {
    text = Trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16)
        return false;
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return false;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return true;
}

// "<code>[@<count>]" as used by fail= and drop=.
bool ParseCodeAt(std::string_view text, int32_t& code, uint64_t& count) {
    const size_t at = text.find('@');
    uint64_t value = 0;
    if (!ParseNumber(text.substr(0, at), value) || value > 0x7FFFFFFF)
        return false;
    code = static_cast<int32_t>(value);
    count = 0;
    return at == std::string_view::npos || ParseNumber(text.substr(at + 1), count);
}

std::vector<std::string> SplitPatterns(std::string_view text) {
    std::vector<std::string> out;
    while (true) {
        const size_t bar = text.find('|');
        const std::string_view one = Trim(text.substr(0, bar));
        if (!one.empty())
            out.emplace_back(one);
        if (bar == std::string_view::npos)
            return out;
        text.remove_prefix(bar + 1);
    }
}

// Takes the next ';'-separated item off `rest`; a value in double quotes may hold ';'.
std::string_view NextItem(std::string_view& rest) {
    size_t pos = 0;
    const size_t eq = rest.find('=');
    const size_t semi = rest.find(';');
    if (eq != std::string_view::npos && eq < semi) {
        size_t value = eq + 1;
        while (value < rest.size() && rest[value] == ' ')
            ++value;
        if (value < rest.size() && rest[value] == '"') {
            const size_t close = rest.find('"', value + 1);
            pos = close == std::string_view::npos ? rest.size() : close + 1;
        }
    }
    const size_t end = rest.find(';', pos);
    std::string_view item = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return item;
}

std::string Unquote(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

} // namespace

bool ParseConnectionText(std::string_view text, ConnectionSettings& settings, std::string& error) {
    settings = ConnectionSettings();
    if (text.find('\0') != std::string_view::npos) {
        error = "The connection text contains a NUL character.";
        return false;
    }
    std::string_view rest = text;
    bool first = true;
    while (!rest.empty() || first) {
        const std::string_view item = Trim(NextItem(rest));
        const bool device = first;
        first = false;
        if (item.empty()) {
            if (device) {
                error = "The connection text names no device.";
                return false;
            }
            continue;
        }
        const size_t eq = item.find('=');
        const std::string_view key = Trim(item.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        const auto is = [&](std::string_view name) { return EqualsIgnoreCase(key, name); };

        if (device) {
            if (eq == std::string_view::npos && is("demo")) {
                settings.demo = true;
            } else if (is("folder")) {
                settings.folder = Unquote(value);
            } else {
                settings.folder = Unquote(item); // a plain path
            }
            if (!settings.demo && !devicepath::IsAbsoluteLocalPath(settings.folder)) {
                error = "The connection text \"" + std::string(text.substr(0, 300)) +
                        "\" names no device: give demo, or the absolute path of a device folder.";
                return false;
            }
            continue;
        }

        uint64_t number = 0;
        if (is("moveto") && eq != std::string_view::npos) {
            // Everything after "moveto=" is the other address, options included.
            settings.moveTo = true;
            const size_t start = static_cast<size_t>(value.data() - text.data());
            settings.moveToText = std::string(Trim(text.substr(start)));
            return true;
        } else if (is("refuse") && eq == std::string_view::npos) {
            settings.refuse = true;
        } else if (is("checkfail") && eq == std::string_view::npos) {
            settings.checkFails = true;
        } else if (is("latency") && ParseNumber(value, number) && number <= 600000) {
            settings.latencyMs = static_cast<uint32_t>(number);
        } else if (is("throttle") && ParseNumber(value, number)) {
            settings.throttleBytesPerSecond = number;
        } else if (is("fail") && eq != std::string_view::npos) {
            FaultRule rule;
            if (!ParseCodeAt(Trim(value), rule.request, number) || number > UINT32_MAX) {
                error = "Bad option \"" + std::string(item) + "\": use fail=<code>[@<count>].";
                return false;
            }
            rule.after = static_cast<uint32_t>(number);
            settings.failures.push_back(rule);
        } else if (is("drop") && eq != std::string_view::npos) {
            if (!ParseCodeAt(Trim(value), settings.dropRequest, settings.dropAfterBytes)) {
                error = "Bad option \"" + std::string(item) + "\": use drop=<code>@<bytes>.";
                return false;
            }
            settings.drop = true;
        } else if (is("firmware") && eq != std::string_view::npos) {
            settings.firmwarePatterns = SplitPatterns(value);
        } else if (is("program") && eq != std::string_view::npos) {
            settings.programPattern = std::string(Trim(value));
        } else if (is("displaylist") && eq != std::string_view::npos) {
            settings.displayListPattern = std::string(Trim(value));
        } else {
            error = "Unknown or malformed connection option \"" + std::string(item.substr(0, 100)) + "\".";
            return false;
        }
    }
    return true;
}
