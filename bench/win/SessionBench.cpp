// Transfers through the session component, one request at a time as the control runs them (the next
// Submit only after the previous RequestComplete), each measured against CopyFile of the same files in
// the same run. Prints one "<name> <ratio>" line per measurement; the best of a few rounds counts, so a
// busy machine disturbs the figures less.
//
//   session_bench [--rounds N] [--large-mb N] [--small-files N]
#include "BenchSession.h"

#include <cstring>
#include <vector>

using namespace bench;

const char* g_benchName = "session_bench";

int main(int argc, char** argv) {
    const Options options(argc, argv);
    const int rounds = options.rounds, largeMb = options.largeMb, smallFiles = options.smallFiles;
    if (FAILED(CoInitialize(nullptr)))
        Fail("COM");

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "dvx-session-bench-" + std::to_string(GetCurrentProcessId());
    const std::string local = root + "\\local", device = root + "\\device", copies = root + "\\copies";
    RemoveTree(root);
    for (const std::string& dir : {root, local, device, copies, local + "\\small"})
        CreateDirectoryA(dir.c_str(), nullptr);
    WriteBytes(local + "\\large.bin", static_cast<uint64_t>(largeMb) << 20, 1);
    std::vector<std::string> names;
    for (int i = 0; i < smallFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%d.dat", i);
        names.push_back(name);
        WriteBytes(local + "\\small\\" + names.back(), 4096, static_cast<uint32_t>(i + 2));
    }

    const auto freshDir = [](const std::string& dir) {
        return [dir] {
            RemoveTree(dir);
            CreateDirectoryA(dir.c_str(), nullptr);
        };
    };
    const auto copyFile = [](const std::string& from, const std::string& to) {
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
            Fail("CopyFile " + from);
    };

    Session session(device);
    const long kSend = 0x1800, kReceive = 0x1801;

    // Large file: up to the device, then down from it, each against CopyFile of the same bytes.
    const Pair upLarge = Compare(
        rounds,
        [&] {
            freshDir(copies)();
            freshDir(device + "\\up")();
        },
        [&] { copyFile(local + "\\large.bin", copies + "\\large.bin"); },
        [&] { session.Run(kSend, local + "\\large.bin", "\\up\\"); });
    const Pair downLarge = Compare(
        rounds, freshDir(copies), [&] { copyFile(device + "\\up\\large.bin", copies + "\\large.bin"); },
        [&] { session.Run(kReceive, "\\up\\large.bin", copies); });

    // Small files, one request each.
    const Pair upSmall = Compare(
        rounds,
        [&] {
            freshDir(copies)();
            freshDir(device + "\\small")();
        },
        [&] {
            for (const std::string& n : names)
                copyFile(local + "\\small\\" + n, copies + "\\" + n);
        },
        [&] {
            for (const std::string& n : names)
                session.Run(kSend, local + "\\small\\" + n, "\\small\\");
        });
    const Pair downSmall = Compare(
        rounds, freshDir(copies),
        [&] {
            for (const std::string& n : names)
                copyFile(device + "\\small\\" + n, copies + "\\" + n);
        },
        [&] {
            for (const std::string& n : names)
                session.Run(kReceive, "\\small\\" + n, copies);
        });

    std::printf("session.upload_large_vs_copyfile %.3f\n", upLarge.Ratio());
    std::printf("session.download_large_vs_copyfile %.3f\n", downLarge.Ratio());
    std::printf("session.upload_small_vs_copyfile %.3f\n", upSmall.Ratio());
    std::printf("session.download_small_vs_copyfile %.3f\n", downSmall.Ratio());
    std::fprintf(
        stderr,
        "seconds (CopyFile / session): large up %.3f / %.3f, down %.3f / %.3f; small up %.3f / %.3f, "
        "down %.3f / %.3f\n",
        upLarge.baseline, upLarge.measured, downLarge.baseline, downLarge.measured, upSmall.baseline,
        upSmall.measured, downSmall.baseline, downSmall.measured);
    RemoveTree(root);
    CoUninitialize();
    return 0;
}
