// What the embedded demo device holds: a controller's file system with system and user directories,
// firmware, programs, display lists, logs, a data card (cf0) and an NVRAM disk. The plan and the file
// contents are deterministic, so every seeded demo device is the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DemoItem {
    std::string path; // below the device root, backslash-separated, no leading backslash
    bool directory = false;
    uint32_t size = 0;
    uint64_t fileTime = 0; // UTC FILETIME
};

// Directories come before everything inside them.
std::vector<DemoItem> DemoDeviceItems();

// The bytes of a file of the plan: readable text for text kinds, structured binary otherwise.
std::string DemoFileContent(const DemoItem& item);
