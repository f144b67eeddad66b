// What VarnelHost.exe is asked to do, read from its command line.
//
//   VarnelHost.exe [connection]                      a host window for the default plug-in
//   VarnelHost.exe /plugin:<name> /"connect:<text>"  the form plug-ins launch the host with
//   VarnelHost.exe --tour <folder> [connection]      a scripted tour that saves screenshots, then exits
//   VarnelHost.exe /RegServer | /UnregServer         (un)registers the host application object
//   VarnelHost.exe -Embedding                        started by COM to serve the host application object
#pragma once

#include <string>
#include <vector>

enum class HostMode { Window, Tour, RegServer, UnregServer, Embedding, Usage };

struct HostOptions {
    HostMode mode = HostMode::Window;
    std::wstring plugin = L"Dorvex";
    std::wstring connection = L"demo";
    std::wstring tourFolder;
    std::wstring error; // not empty: the command line was not understood
};

// `args` are the arguments after the program name, as CommandLineToArgvW splits them.
HostOptions ParseHostCommandLine(const std::vector<std::wstring>& args);

// Splits a command line the way the program's own arguments are split.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);
// This program's own arguments.
std::vector<std::wstring> ProgramArguments();

// The arguments that start the host for `plugin` connected to `address`. Empty when either text cannot
// travel safely on a command line (a double quote, a line break, an empty plug-in name).
std::wstring LaunchArguments(const std::wstring& plugin, const std::wstring& address);

// Usage text for /? and for a command line that was not understood.
const wchar_t* HostUsage();
