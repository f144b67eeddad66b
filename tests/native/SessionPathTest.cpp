// The session component's portable pieces: remote path and name checks, the connection text, the
// listing record, and the demo device's plan.
#include <gtest/gtest.h>

#include "session/ConnectionText.h"
#include "session/DemoTree.h"
#include "session/DevicePath.h"
#include "session/DirectoryRecord.h"

#include <chrono>
#include <cstring>

using namespace devicepath;

// Refused: dots, separators, streams, wildcards, control characters, a trailing dot or blank, device names.
TEST(DeviceName, AcceptsOrdinaryNamesAndRefusesWhatCouldLeaveTheDirectoryOrOpenSomethingElse) {
    for (const char* name : {"New Folder", ".hidden", "COM10", "\xC3\xBC\xC3\xA9"})
        EXPECT_EQ(CheckName(name), "") << name;
    EXPECT_EQ(CheckName(std::string(255, 'n')), "");
    std::vector<std::string> refused = {"",      "..",    "a/b",     "x::$DATA", "a?",       "tab\tx",
                                        "name.", "name ", "con.txt", "lpt9.log", "conout$.x"};
    refused.push_back(std::string(256, 'n'));
    refused.push_back(std::string("a\0b", 3));
    for (const std::string& name : refused)
        EXPECT_GT(CheckName(name).size(), 10u) << "accepted: " << name;
    EXPECT_NE(CheckName("a:b").find(':'), std::string::npos) << "the reason names the character";
}

TEST(RemotePath, SplitsIntoCheckedNames) {
    const struct {
        const char* path;
        std::vector<std::string> names;
    } good[] = {
        {"\\", {}},
        {"\\SYS\\", {"SYS"}},
        {"\\cf0\\data\\log.txt", {"cf0", "data", "log.txt"}},
    };
    for (const auto& g : good) {
        std::vector<std::string> names = {"stale"};
        std::string error;
        EXPECT_TRUE(SplitRemotePath(g.path, names, error)) << g.path << ": " << error;
        EXPECT_EQ(names, g.names) << g.path;
        // Joined again they give the path in its canonical form.
        std::string canonical = g.path;
        if (canonical.back() != '\\')
            canonical += '\\';
        EXPECT_EQ(JoinRemote(names, true), canonical);
    }
    EXPECT_EQ(JoinRemote({}, false), "\\");
    EXPECT_EQ(JoinRemote({"a", "b"}, false), "\\a\\b");

    // Relative, UNC, an empty or dot component, a drive, the other slash, a bad name inside, too long.
    std::vector<std::string> bad = {"",          "SYS",   "\\\\SYS", "\\SYS\\\\x",
                                    "\\SYS\\..", "C:\\x", "\\SYS/x", "\\CON\\x"};
    bad.push_back("\\" + std::string(1100, 'b'));
    bad.push_back(std::string("\\a\0\\..", 6));
    for (const std::string& path : bad) {
        std::vector<std::string> names = {"stale"};
        std::string error;
        EXPECT_FALSE(SplitRemotePath(path, names, error)) << path;
        EXPECT_TRUE(names.empty()) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}

TEST(RemotePath, DrivesAreTheFourRootDirectoriesInAnyCase) {
    for (const char* drive : {"cf0", "CF1", "NvRam", "mmc"})
        EXPECT_TRUE(IsDriveRoot({drive})) << drive;
    EXPECT_FALSE(IsDriveRoot({"cf2"}));
    EXPECT_FALSE(IsDriveRoot({"cf0", "data"}));
    EXPECT_FALSE(IsDriveRoot({}));
}

TEST(LocalPath, OnlyFullPathsNameOnePlace) {
    for (const char* path : {"c:/x", "\\\\server\\share"})
        EXPECT_TRUE(IsAbsoluteLocalPath(path)) << path;
    for (const char* path : {"C:x", "\\x", "\\\\server", "\\\\server\\\\x", "1:\\x"})
        EXPECT_FALSE(IsAbsoluteLocalPath(path)) << path;
    EXPECT_FALSE(IsAbsoluteLocalPath(std::string("C:\\a\0b", 6)));
    EXPECT_EQ(FileNamePart("C:/a/b"), "b");
    EXPECT_EQ(FileNamePart("b"), "b");
    EXPECT_EQ(FileNamePart("C:\\a\\"), "");
}

TEST(Pattern, MatchesLikeTheShellIgnoringCase) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"X.FWX", "*.fwx", true}, {"x.fwxx", "*.fwx", false}, {"a.b.fwx", "*.fwx", true},
        {"", "*", true},          {"ab.dlx", "?.dlx", false}, {"a", "", false},
        {"xaybz", "*a*b*", true}, {"xaybz", "*b*a*", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
    // Stars against a long name without a match finish quickly (no exponential backtracking).
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesPattern(std::string(5000, 'a'), std::string(50, '*') + "b"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(ConnectionText, NamesTheDeviceAndItsOptions) {
    ConnectionSettings s;
    std::string error;
    ASSERT_TRUE(ParseConnectionText(" Demo ", s, error)) << error;
    EXPECT_TRUE(s.demo);

    ASSERT_TRUE(ParseConnectionText("C:\\Devices\\Press7", s, error)) << error;
    EXPECT_FALSE(s.demo);
    EXPECT_EQ(s.folder, "C:\\Devices\\Press7");

    // The effects of the options the control's tests use are seen in the session component's tests; here the
    // grammar's edges (the fault options only have to be accepted).
    ASSERT_TRUE(ParseConnectionText("folder=\"D:\\My Devices;2\\A\";LATENCY=0x32;fail=0x1009@3;fail=4096;"
                                    "drop=0x1800@65536;firmware=*.a|*.b | *.c",
                                    s, error))
        << error;
    EXPECT_EQ(s.folder, "D:\\My Devices;2\\A");
    EXPECT_EQ(s.latencyMs, 50u);
    EXPECT_EQ(s.firmwarePatterns, (std::vector<std::string>{"*.a", "*.b", "*.c"}));

    // The other address is the whole rest of the text, options and all.
    ASSERT_TRUE(ParseConnectionText("demo;latency=1;moveto=C:\\Other;latency=20;checkfail", s, error))
        << error;
    EXPECT_TRUE(s.moveTo);
    EXPECT_EQ(s.moveToText, "C:\\Other;latency=20;checkfail");
    EXPECT_EQ(s.latencyMs, 1u);

    // A new parse starts from the defaults.
    ASSERT_TRUE(ParseConnectionText("demo", s, error));
    EXPECT_FALSE(s.moveTo);
    EXPECT_TRUE(s.failures.empty());
}

TEST(ConnectionText, RefusesWhatNamesNoDeviceOrIsNotUnderstood) {
    std::vector<std::string> bad = {"", "relative\\dir", "folder="};
    for (const char* option : {"bogus", "latency=-1", "latency=600001", "fail=0x1009@", "refuse=1"})
        bad.push_back(std::string("demo;") + option);
    bad.push_back("demo;latency=" + std::string(20, '9'));
    bad.push_back(std::string("demo\0;refuse", 12));
    for (const std::string& text : bad) {
        ConnectionSettings s;
        std::string error;
        EXPECT_FALSE(ParseConnectionText(text, s, error)) << text;
        EXPECT_GT(error.size(), 10u) << text;
    }
}

// The name and the directory flag are read at their offsets by every listing check of the session component.
TEST(DirectoryRecord, LaysOutSizeAndTimeZeroFillsAndRefusesNamesThatDoNotFit) {
    uint8_t record[kDirectoryRecordSize];
    std::memset(record, 0xAA, sizeof record);
    ASSERT_TRUE(EncodeDirectoryRecord({"trend_001.csv", false, 0x01020304, 0x1122334455667788ull}, record));
    EXPECT_EQ(record[260], 0x04);
    EXPECT_EQ(record[264], 0x88); // low half first
    EXPECT_EQ(record[271], 0x11);
    for (size_t i = 272; i < kDirectoryRecordSize; ++i)
        ASSERT_EQ(record[i], 0) << i;
    for (size_t i = 13; i < 256; ++i)
        ASSERT_EQ(record[i], 0) << i;
    ASSERT_TRUE(EncodeDirectoryRecord({"big", false, 5ull << 32, 0}, record));
    EXPECT_EQ(record[260] & record[261] & record[262] & record[263], 0xFF) << "sizes beyond 32 bits saturate";

    const std::string longest(255, 'x');
    ASSERT_TRUE(EncodeDirectoryRecord({longest, false, 0, 0}, record));
    EXPECT_EQ(record[254], 'x');
    EXPECT_EQ(record[255], 0) << "the NUL always fits";
    std::memset(record, 0xAA, sizeof record);
    EXPECT_FALSE(EncodeDirectoryRecord({std::string(256, 'x'), false, 0, 0}, record));
    EXPECT_FALSE(EncodeDirectoryRecord({std::string_view("a\0b", 3), false, 0, 0}, record));
    EXPECT_EQ(record[0], 0xAA) << "a refused record is left alone";
}

// Seeding it checks its order and sizes (the session component's tests); here what the demo needs of it.
TEST(DemoTree, EveryNameIsUsableAndEachTypedOperationHasFilesOfItsKind) {
    const std::vector<DemoItem> items = DemoDeviceItems();
    for (const DemoItem& item : items) {
        std::vector<std::string> names;
        std::string error;
        ASSERT_TRUE(SplitRemotePath("\\" + item.path, names, error)) << item.path << ": " << error;
        if (item.size && item.path.size() > 4 && item.path.compare(item.path.size() - 4, 4, ".csv") == 0)
            EXPECT_EQ(DemoFileContent(item).find('\0'), std::string::npos) << item.path;
    }

    // Each typed operation has files of its kind on the device.
    const auto count = [&](const char* pattern) {
        size_t n = 0;
        for (const DemoItem& item : items)
            n += !item.directory && MatchesPattern(std::string(FileNamePart(item.path)), pattern);
        return n;
    };
    EXPECT_GE(count("*.fwx") + count("*.fwb"), 2u);
    EXPECT_GE(count("*.prgx"), 10u);
    EXPECT_GE(count("*.dlx"), 10u);
}
