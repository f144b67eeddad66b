#include <windows.h>

#include <shellapi.h>

#include "HostCommandLine.h"

namespace {

bool Equals(const std::wstring& a, const wchar_t* b) {
    return lstrcmpiW(a.c_str(), b) == 0;
}

// "/name:value" or "-name:value" (case-insensitive name): true and the value.
bool OptionValue(const std::wstring& arg, const wchar_t* name, std::wstring& value) {
    const size_t length = lstrlenW(name);
    if (arg.size() < length + 2 || (arg[0] != L'/' && arg[0] != L'-') || arg[length + 1] != L':')
        return false;
    if (CompareStringOrdinal(arg.c_str() + 1, static_cast<int>(length), name, static_cast<int>(length),
                             TRUE) != CSTR_EQUAL)
        return false;
    value = arg.substr(length + 2);
    return true;
}

bool IsSwitch(const std::wstring& arg, const wchar_t* name) {
    return (arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-') && Equals(arg.substr(1), name)) ||
           (arg.size() > 2 && arg[0] == L'-' && arg[1] == L'-' && Equals(arg.substr(2), name));
}

bool SafeOnCommandLine(const std::wstring& text) {
    return text.find_first_of(L"\"\r\n") == std::wstring::npos;
}

} // namespace

HostOptions ParseHostCommandLine(const std::vector<std::wstring>& args) {
    HostOptions options;
    bool connectionGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        std::wstring value;
        if (IsSwitch(arg, L"RegServer")) {
            options.mode = HostMode::RegServer;
        } else if (IsSwitch(arg, L"UnregServer")) {
            options.mode = HostMode::UnregServer;
        } else if (IsSwitch(arg, L"Embedding") || IsSwitch(arg, L"Automation")) {
            options.mode = HostMode::Embedding;
        } else if (IsSwitch(arg, L"?") || IsSwitch(arg, L"help")) {
            options.mode = HostMode::Usage;
        } else if (IsSwitch(arg, L"tour")) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                options.error = L"--tour needs the folder for its screenshots.";
                return options;
            }
            options.mode = HostMode::Tour;
            options.tourFolder = args[++i];
        } else if (OptionValue(arg, L"plugin", value)) {
            if (value.empty()) {
                options.error = L"/plugin: needs the plug-in's name.";
                return options;
            }
            options.plugin = value;
        } else if (OptionValue(arg, L"connect", value)) {
            // A plug-in's /"connect:<address>" with an address ending in a backslash turns that backslash
            // and the closing quote into a literal quote: put the backslash back.
            if (!value.empty() && value.back() == L'"')
                value.back() = L'\\';
            if (connectionGiven) {
                options.error = L"More than one connection given: " + arg;
                return options;
            }
            options.connection = value;
            connectionGiven = true;
        } else if (!arg.empty() && (arg[0] == L'/' || arg[0] == L'-')) {
            options.error = L"Unknown option: " + arg;
            return options;
        } else if (!connectionGiven) {
            options.connection = arg;
            connectionGiven = true;
        } else {
            options.error = L"More than one connection given: " + arg;
            return options;
        }
    }
    return options;
}

namespace {

// Every argument of a full command line after the first (the program's name).
std::vector<std::wstring> ArgumentsAfterFirst(const wchar_t* fullCommandLine) {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(fullCommandLine, &count);
    if (!argv)
        return args;
    for (int i = 1; i < count; ++i)
        args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

} // namespace

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    if (!commandLine || !*commandLine)
        return {};
    // The first token is a program name with quoting rules of its own, so a placeholder stands in.
    return ArgumentsAfterFirst((L"x " + std::wstring(commandLine)).c_str());
}

std::vector<std::wstring> ProgramArguments() {
    return ArgumentsAfterFirst(GetCommandLineW());
}

std::wstring LaunchArguments(const std::wstring& plugin, const std::wstring& address) {
    if (plugin.empty() || !SafeOnCommandLine(plugin) || !SafeOnCommandLine(address) ||
        plugin.find(L' ') != std::wstring::npos)
        return {};
    // The quotes keep an address with blanks (a folder path) in one argument; a trailing backslash
    // would escape the closing quote, so it is doubled.
    std::wstring quoted = address;
    size_t slashes = 0;
    while (slashes < quoted.size() && quoted[quoted.size() - 1 - slashes] == L'\\')
        ++slashes;
    quoted.append(slashes, L'\\');
    return L"/plugin:" + plugin + L" /\"connect:" + quoted + L"\"";
}

const wchar_t* HostUsage() {
    return L"VarnelHost.exe [connection]\n"
           L"VarnelHost.exe /plugin:<name> /\"connect:<connection>\"\n"
           L"VarnelHost.exe --tour <folder> [connection]\n"
           L"VarnelHost.exe /RegServer | /UnregServer\n\n"
           L"The connection defaults to \"demo\", the session component's built-in device.";
}
