#include "DemoTree.h"

#include <cstdio>

namespace {

// 2024-03-01 00:00 UTC as a FILETIME.
constexpr uint64_t kBaseTime = 133537248000000000ull;
constexpr uint64_t kHour = 36000000000ull;

uint64_t Hash(const std::string& text) {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

// Small deterministic generator for sizes, times and contents.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    uint32_t Between(uint32_t low, uint32_t high) {
        return low + static_cast<uint32_t>(Next() % (high - low + 1));
    }

private:
    uint64_t m_state;
};

class Plan {
public:
    void Directory(const std::string& path) { m_items.push_back({path, true, 0, Time(path)}); }
    void File(const std::string& path, uint32_t size) { m_items.push_back({path, false, size, Time(path)}); }
    // count files named prefix + number + extension, sizes between low and high bytes.
    void Series(const std::string& dir, const char* prefix, const char* extension, int count, uint32_t low,
                uint32_t high) {
        Random random(Hash(dir + prefix));
        for (int i = 1; i <= count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s%03d%s", prefix, i, extension);
            File(dir + "\\" + name, random.Between(low, high));
        }
    }
    std::vector<DemoItem> Take() { return std::move(m_items); }

private:
    // Spread over about a year after the base time, whole seconds.
    static uint64_t Time(const std::string& path) {
        Random random(Hash(path));
        return kBaseTime + random.Between(0, 24 * 365) * kHour + random.Between(0, 3599) * 10000000ull;
    }
    std::vector<DemoItem> m_items;
};

bool IsTextFile(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (const char* text : {"cfg", "ini", "log", "csv", "txt", "CFG", "INI", "TXT"})
        if (ext == text)
            return true;
    return false;
}

} // namespace

std::vector<DemoItem> DemoDeviceItems() {
    Plan plan;
    plan.Directory("SYS");
    plan.File("SYS\\BOOT.CFG", 412);
    plan.File("SYS\\SYSTEM.INI", 1830);
    plan.File("SYS\\NETWORK.CFG", 655);
    plan.Directory("SYS\\FIRMWARE");
    plan.File("SYS\\FIRMWARE\\ctrl_main_4_2.fwx", 393216);
    plan.File("SYS\\FIRMWARE\\io_module_1_7.fwb", 98304);
    plan.File("SYS\\FIRMWARE\\safety_2_0.fwx", 163840);
    plan.Directory("SYS\\LOG");
    plan.Series("SYS\\LOG", "event_", ".log", 40, 1500, 42000);
    plan.Directory("SYS\\FONTS");
    plan.Series("SYS\\FONTS", "font_", ".fnt", 6, 8000, 24000);
    plan.Directory("USER");
    plan.File("USER\\README.TXT", 940);
    plan.Directory("USER\\PROGRAMS");
    plan.Series("USER\\PROGRAMS", "conveyor_", ".prgx", 16, 900, 65000);
    plan.Series("USER\\PROGRAMS", "mixer_", ".prgx", 14, 900, 48000);
    plan.Directory("USER\\DISPLAY");
    plan.Series("USER\\DISPLAY", "panel_", ".dlx", 24, 4000, 120000);
    plan.Directory("USER\\RECIPES");
    plan.Series("USER\\RECIPES", "recipe_", ".csv", 90, 300, 6000);
    plan.File("USER\\RECIPES\\unused.csv", 0);
    plan.Directory("USER\\Archive"); // left empty
    plan.Directory("cf0");
    plan.Directory("cf0\\data");
    plan.Series("cf0\\data", "trend_", ".csv", 60, 5000, 80000);
    plan.Directory("cf0\\backup");
    plan.File("cf0\\backup\\programs_2023.bak", 524288);
    plan.File("cf0\\backup\\display_2023.bak", 262144);
    plan.Directory("nvram");
    plan.File("nvram\\retain.dat", 32768);
    plan.File("nvram\\counters.dat", 4096);
    plan.File("nvram\\params.bin", 8192);
    plan.File("nvram\\flags.dat", 0);
    return plan.Take();
}

std::string DemoFileContent(const DemoItem& item) {
    std::string out;
    out.reserve(item.size);
    Random random(Hash(item.path) ^ item.size);
    if (IsTextFile(item.path)) {
        static const char* const words[] = {"speed", "temp",  "valve", "pump",
                                            "level", "alarm", "ok",    "setpoint"};
        char line[96];
        for (unsigned n = 1; out.size() < item.size; ++n) {
            std::snprintf(line, sizeof line, "%u;%s;%u.%02u\r\n", n, words[random.Next() % 8],
                          static_cast<unsigned>(random.Next() % 1000),
                          static_cast<unsigned>(random.Next() % 100));
            out += line;
        }
        out.resize(item.size);
        return out;
    }
    const std::string magic = "DVX1";
    out = magic.substr(0, item.size);
    while (out.size() < item.size)
        out += static_cast<char>(random.Next() >> 56);
    return out;
}
