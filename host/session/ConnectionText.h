// The connection text that names a device and, for tests, shapes how it behaves (README.md has the
// grammar). Portable: parsed the same way everywhere and tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FaultRule {
    int32_t request = 0; // request code that fails
    uint32_t after = 0;  // successes of that code before the failures start
};

struct ConnectionSettings {
    bool demo = false;  // the embedded demo device
    std::string folder; // otherwise the folder that holds the device's file system
    uint32_t latencyMs = 0;
    bool refuse = false;
    bool checkFails = false;
    std::vector<FaultRule> failures;
    bool drop = false;
    int32_t dropRequest = 0;
    uint64_t dropAfterBytes = 0;
    uint64_t throttleBytesPerSecond = 0; // 0: as fast as the disk goes
    std::vector<std::string> firmwarePatterns{"*.fwx", "*.fwb"};
    std::string programPattern = "*.prgx";
    std::string displayListPattern = "*.dlx";
    bool moveTo = false;
    std::string moveToText; // the connection text the device asks for instead
};

// False with a readable reason when the text names no device or has an option the device does not know.
bool ParseConnectionText(std::string_view text, ConnectionSettings& settings, std::string& error);
