// The browser's portable rules: drives, path joining, which device names may become local ones, the file
// list's order and how a listing is read, the moves between directories, and which keys the panes take.
#include "FakeByteArray.h"
#include "browser/DeviceListing.h"
#include "browser/DirectoryEntry.h"
#include "browser/LocalName.h"
#include "browser/Navigation.h"
#include "browser/PaneKeys.h"
#include "browser/RemotePath.h"
#include "browser/SortState.h"
#include "paramblock/ParamBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

// An allocation limit for this test program: while armed, an allocation that would take what the program
// holds past it fails, as in a full address space.
namespace alloclimit {
size_t held = 0;
size_t limit = SIZE_MAX;
constexpr size_t kHeader = alignof(std::max_align_t);
} // namespace alloclimit

void* operator new(size_t size) {
    if (size > alloclimit::limit - alloclimit::held)
        throw std::bad_alloc();
    auto* block = static_cast<unsigned char*>(std::malloc(size + alloclimit::kHeader));
    if (!block)
        throw std::bad_alloc();
    *reinterpret_cast<size_t*>(block) = size;
    alloclimit::held += size;
    return block + alloclimit::kHeader;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& nothrow) noexcept {
    return operator new(size, nothrow);
}
void operator delete(void* p) noexcept {
    if (!p)
        return;
    auto* block = static_cast<unsigned char*>(p) - alloclimit::kHeader;
    alloclimit::held -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}

namespace {

DirectoryRecord Entry(const std::string& name, bool directory, uint32_t size = 0, uint64_t time = 0) {
    DirectoryRecord e{};
    std::memcpy(e.bytes, name.data(), std::min(name.size(), DirectoryRecord::kNameSize));
    e.bytes[DirectoryRecord::kDirectoryOffset] = directory;
    std::memcpy(e.bytes + DirectoryRecord::kSizeOffset, &size, 4);
    std::memcpy(e.bytes + DirectoryRecord::kTimeOffset, &time, 8);
    return e;
}

// An answer as the session leaves it: the records in an array handed back for the block's field.
void Answer(CParamBlock& answer, std::initializer_list<DirectoryRecord> records) {
    CParamBlock sent;
    size_t i = 0;
    for (const auto& record : records)
        sent.At(i++).SetTypedRecord(PK_RECORD5, record.bytes);
    std::vector<uint8_t> bytes;
    sent.Encode(bytes);
    tagSAFEARRAY** field = answer.ExportArray();
    ByteArrayDestroy(*field);
    *field = fakearray::Make(bytes);
}

// A listing read from an answer, its names ranked, and rows over it as the file list holds them.
struct Shown {
    DirectoryListing listing;
    EntryRows rows;
    explicit Shown(std::initializer_list<DirectoryRecord> records) {
        CParamBlock answer;
        Answer(answer, records);
        listing = ReadListing(answer);
        RankNames(listing.entries);
        for (const DirectoryEntry& entry : listing)
            rows.push_back(&entry);
    }
    std::string Names() const {
        std::string names;
        for (const DirectoryEntry* row : rows)
            names += (names.empty() ? "" : ",") + std::string(row ? row->Name() : "<new>");
        return names;
    }
};

TEST(RemotePath, DrivesAreRootDirectoriesMatchedOnTheFoldedPath) {
    const auto drives = SecondaryDrives();
    ASSERT_NE(MatchDrive(drives, "\\", "CF0"), nullptr);
    EXPECT_EQ(MatchDrive(drives, "\\", "CF0")->root, "\\cf0");
    EXPECT_EQ(MatchDrive(drives, "\\", "Mmc")->displayName, "MMC A");
    // Deeper down, or a longer name, is an ordinary directory; folding touches ASCII letters only.
    EXPECT_EQ(MatchDrive(drives, "\\SYS\\", "cf0"), nullptr);
    EXPECT_EQ(MatchDrive(drives, "\\", "cf00"), nullptr);
    EXPECT_EQ(FoldLower("\\AbZ\xC4"), "\\abz\xC4");
    EXPECT_TRUE(EqualsIgnoreCase("Prog", "pROG"));
    EXPECT_FALSE(EqualsIgnoreCase("yes", "yes "));
    EXPECT_FALSE(EqualsIgnoreCase("\xC4", "\xE4"));

    EXPECT_EQ(JoinPath("\\cf0\\data\\", "sub"), "\\cf0\\data\\sub");
    EXPECT_EQ(JoinPath("\\cf0\\data", "sub"), "\\cf0\\data\\sub");
    EXPECT_EQ(JoinPath("", "x"), "\\x");
    EXPECT_EQ(ParentPath("\\cf0\\Prog\\"), "\\cf0\\");
    EXPECT_EQ(ParentPath("\\cf0\\Prog"), "\\cf0\\");
    EXPECT_EQ(ParentPath("\\SYS\\"), "\\");
    EXPECT_EQ(ParentPath("\\"), "");
}

TEST(LocalName, NamesThatCouldLeaveTheFolderOrNameADeviceAreRefused) {
    for (const char* bad : {"", ".", "..", "a\\b", "..\\up", "a/b", "C:x", "x:", "tab\there", "new\nline",
                            "\x1f", "a?", "a*", "a|b", "<a>", "q\"", "con", "CON", "Con.txt", "nul.tar.gz",
                            "PRN", "aux.", "COM1", "com9.log", "LPT1", "lpt5.x", "CON .txt", "COM\xB9",
                            "dot.", "blank ", "..."})
        EXPECT_NE(LocalNameProblem(bad), nullptr) << '"' << bad << '"';
    for (const char* good : {"a", "A.TXT", ".profile", "..x", "con0", "COM0", "COM10", "LPT", "console",
                             "NULL.txt", "a b", "caf\xE9", "x.y.z", "-", "com1x"})
        EXPECT_EQ(LocalNameProblem(good), nullptr) << '"' << good << '"';
    // A field without its NUL, and the longest name that has one.
    EXPECT_NE(LocalNameProblem(std::string(256, 'a')), nullptr);
    EXPECT_EQ(LocalNameProblem(std::string(255, 'a')), nullptr);
}

TEST(SortState, HeaderClicksFollowTheKeyHistoryWithOneSharedDirection) {
    SortState state;
    state.ClickColumn(kColumnSize);
    EXPECT_EQ(state.keys, (std::vector<int>{1, 0}));
    EXPECT_TRUE(state.ascending);
    state.ClickColumn(kColumnSize);
    EXPECT_FALSE(state.ascending);
    state.ClickColumn(kColumnTime);
    EXPECT_EQ(state.keys, (std::vector<int>{2, 1, 0}));
    EXPECT_FALSE(state.ascending) << "a new primary column keeps the direction";
    state.ClickColumn(kColumnName);
    EXPECT_EQ(state.keys, (std::vector<int>{0, 2, 1}));
    state.ClickColumn(kColumnSize);
    state.ClickColumn(kColumnName);
    EXPECT_EQ(state.keys, (std::vector<int>{0, 1, 0})) << "duplicates further back are kept";
}

TEST(SortState, SizeAndTimeCompareUnsignedWithOlderKeysBreakingTies) {
    const uint64_t t1 = 127229692290000000ull; // 2004-03-05 14:07:09 UTC
    const uint64_t t2 = 127229694600000000ull; // 2004-03-05 14:11:00 UTC
    const uint64_t t3 = 127490112000000000ull; // 2005-01-01 00:00:00 UTC
    SortState state;
    Shown shown({Entry("late", false, 1, t3), Entry("big", false, 3000000000u, t1), Entry("mid", false, 1, t2),
                 Entry("a", false, 1, t3)});
    shown.rows.push_back(nullptr); // the temporary row of a new folder stays last
    state.ClickColumn(kColumnTime);
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "big,mid,a,late,<new>") << "equal times fall back to the name";
    state.ClickColumn(kColumnSize);
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "mid,a,late,big,<new>") << "3,000,000,000 is the largest, not negative";
    state.ClickColumn(kColumnSize);
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "big,late,a,mid,<new>") << "reversed whole, ties included";
    // Time again, as the newest and the oldest key: the name has dropped out, rows alike in time and size
    // keep the order they were in.
    state.ClickColumn(kColumnTime);
    ASSERT_EQ(state.keys, (std::vector<int>{kColumnTime, kColumnSize, kColumnTime}));
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "late,a,mid,big,<new>");
}

TEST(SortState, NamesGoDirectoriesFirstCaseBlindByteByByteEqualNamesKeepingTheirOrder) {
    // Names alike in their first seven bytes, a name that begins a longer one, bytes above 127 (not
    // folded), and two names that differ only in case.
    Shown shown({Entry("recipes_b", false, 2), Entry("Zed", true), Entry("RECIPES_A", false), Entry("recipe", false),
                 Entry("_x", false), Entry("\xE9t\xE9", false), Entry("alpha", true), Entry("b.TXT", false, 1),
                 Entry("B.txt", false, 1), Entry("\xC9t\xE9", false)});
    SortState state;
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "alpha,Zed,_x,b.TXT,B.txt,recipe,RECIPES_A,recipes_b,\xC9t\xE9,\xE9t\xE9");
    EXPECT_EQ(shown.rows[3]->nameRank, shown.rows[4]->nameRank);
    state.ClickColumn(kColumnName);
    SortRows(shown.rows, state);
    EXPECT_EQ(shown.Names(), "\xE9t\xE9,\xC9t\xE9,recipes_b,RECIPES_A,recipe,b.TXT,B.txt,_x,Zed,alpha")
        << "descending puts directories last; equal names keep their order";
}

TEST(Listing, ReadInPlaceKeepsEachNameByteForByteAndCountsWhatCannotBeAddressed) {
    fakearray::Reset();
    {
        const std::string longest(255, 'n');
        CParamBlock answer;
        Answer(answer, {Entry("caf\xE9 \x01&", false, 3000000000u, 0x0123456789ABCDEFull), Entry("", false),
                        Entry(".", true), Entry("..", true), Entry("a\\b", false), Entry("c/d", true),
                        Entry(std::string(256, 'x'), false), Entry(longest, true, 7)});
        CParamBlock odd; // not whole records: a short one and a text
        size_t skipped = 0;
        DirectoryListing listing = ReadListing(answer, &skipped);
        EXPECT_EQ(skipped, 6u);
        ASSERT_EQ(listing.size(), 2u);
        EXPECT_EQ(listing.entries[0].Name(), "caf\xE9 \x01&");
        EXPECT_EQ(std::strlen(listing.entries[0].NameText()), 7u);
        EXPECT_EQ(listing.entries[0].Size(), 3000000000u);
        EXPECT_EQ(listing.entries[0].Time(), 0x0123456789ABCDEFull);
        EXPECT_FALSE(listing.entries[0].IsDirectory());
        EXPECT_EQ(listing.entries[1].Name(), longest);
        EXPECT_TRUE(listing.entries[1].IsDirectory());
        EXPECT_NE(answer.Array(), nullptr) << "read in place, not decoded into the block";

        odd.At(0).SetRecord(PK_RECORD5, Entry("short", false).bytes, 100);
        odd.At(1).SetText("not a record");
        odd.At(2).SetRecord(PK_RECORD6, Entry("other", false).bytes, DirectoryRecord::kSize);
        odd.At(3).SetTypedRecord(PK_RECORD5, Entry("whole", false).bytes);
        listing = ReadListing(odd, &skipped);
        EXPECT_EQ(skipped, 3u);
        ASSERT_EQ(listing.size(), 1u);
        EXPECT_EQ(listing.entries[0].Name(), "whole");
    }
    EXPECT_EQ(fakearray::live, 0);
}

// Answers every listing with the same records, handed back in an array as the session does; its own
// allocations are made outside any limit.
class ListingDevice : public IDeviceRequests {
public:
    std::vector<uint8_t> bytes;
    RequestResult Execute(long, CParamBlock&, CParamBlock* answer, long) override {
        const size_t limit = std::exchange(alloclimit::limit, SIZE_MAX);
        tagSAFEARRAY** field = answer->ExportArray();
        ByteArrayDestroy(*field);
        *field = fakearray::Make(bytes);
        alloclimit::limit = limit;
        return RequestResult::Success();
    }
    RequestResult Submit(long, CParamBlock&, long, uintptr_t, long&) override { return {}; }
    RequestResult ReserveDevice(long) override { return {}; }
    RequestResult ReleaseDevice() override { return {}; }
    RequestResult Cancel(long, long) override { return {}; }
};

// Every allocation of a listing is tried failing in turn: each failure gives the user's text and nothing
// else, and the same listing with enough memory is whole.
TEST(Listing, OneTooLargeToHoldIsRefusedWithItsTextAndTheNextOneIsWhole) {
    ListingDevice device;
    CParamBlock sent;
    for (size_t i = 0; i < 40; ++i)
        sent.At(i).SetTypedRecord(PK_RECORD5, Entry("entry " + std::to_string(i), i % 3 == 0).bytes);
    sent.Encode(device.bytes);
    size_t refused = 0, told = 0, whole = 0;
    for (size_t budget = 0; budget < 8192; budget += 48) {
        DirectoryListing listing;
        EntryRows rows;
        alloclimit::limit = alloclimit::held + budget;
        RequestResult listed;
        try {
            listed = ListRows(device, "\\big\\", 1000, listing, rows);
        } catch (const std::bad_alloc&) {
            ADD_FAILURE() << "a failed allocation escaped with " << budget << " bytes to spare";
        }
        alloclimit::limit = SIZE_MAX;
        if (!listed) {
            ++refused;
            EXPECT_EQ(listed.code, kListingTooLarge);
            // Without even room for the text (nothing of the listing was made yet), the code alone says it.
            if (!listed.text.empty() && ++told)
                EXPECT_EQ(listed.text, "The directory \\big\\ holds more entries than there is memory for. None of "
                                       "them is shown.");
            EXPECT_TRUE(listing.empty() && rows.empty());
        } else {
            ++whole;
            ASSERT_EQ(rows.size(), 40u);
            EXPECT_EQ(rows[39]->Name(), "entry 39");
        }
    }
    EXPECT_GT(told, 3u);
    EXPECT_GT(refused, told);
    EXPECT_GT(whole, 0u);
}

// Records what the navigation asks of the panes, one text a request.
struct RecordingPanes : ITreePane, IListPane {
    std::vector<std::string> asked;
    void ListDirectory(const std::string& path) override { asked.push_back("list " + path); }
    void SelectDirectory(const std::string& path) override { asked.push_back("select " + path); }
    void RefreshDirectory(const std::string& path) override { asked.push_back("refresh " + path); }
};

TEST(Navigation, HoldsTheDirectoryShownAndMovesThePanesOnlyWhereThereIsSomewhereToGo) {
    RecordingPanes panes;
    CNavigation navigation;
    navigation.SetPanes(&panes, &panes);
    const std::vector<DriveRow> drives = SecondaryDrives();
    // Nothing shown yet: nothing to read again, open or go up from.
    navigation.Reload();
    navigation.Open("x");
    EXPECT_FALSE(navigation.Up(drives));
    navigation.Show("\\cf0\\Prog\\");
    navigation.Show("\\cf0\\Prog\\"); // the tree reselecting it costs no listing
    navigation.Reload();
    navigation.Open("Sub");
    EXPECT_TRUE(navigation.Up(drives));
    navigation.Changed("\\cf0\\Prog\\");
    navigation.Show("\\cf0\\");
    EXPECT_FALSE(navigation.Up(drives)) << "nothing above a drive's root";
    navigation.Show("\\");
    EXPECT_FALSE(navigation.Up(drives)) << "nothing above the device's root";
    navigation.Show("\\SYS\\");
    EXPECT_TRUE(navigation.Up(drives));
    EXPECT_EQ(panes.asked, (std::vector<std::string>{"list \\cf0\\Prog\\", "list \\cf0\\Prog\\",
                                                     "select \\cf0\\Prog\\Sub", "select \\cf0\\",
                                                     "refresh \\cf0\\Prog\\", "list \\cf0\\", "list \\",
                                                     "list \\SYS\\", "select \\"}));
    EXPECT_EQ(navigation.Current(), "\\SYS\\");
    // A new connection forgets it: the same directory is listed again when the tree selects it.
    navigation.Clear();
    navigation.Show("\\SYS\\");
    EXPECT_EQ(panes.asked.back(), "list \\SYS\\");
    EXPECT_EQ(panes.asked.size(), 10u);
}

} // namespace

TEST(PaneKeys, ThePanesTakeTheirKeysAndLeaveTheHostItsOwn) {
    using namespace keys;
    const KeyState none, shift{false, true, false}, control{true, false, false}, alt{false, false, true};
    struct Case {
        unsigned message, code;
        KeyState state;
        KeyRoute route;
    } cases[] = {
        // Keys the panes act on, with and without the modifiers that extend a selection.
        {kKeyDown, kReturn, none, KeyRoute::Pane}, {kKeyDown, kDelete, none, KeyRoute::Pane},
        {kKeyDown, kF5, none, KeyRoute::Pane}, {kKeyDown, kBack, none, KeyRoute::Pane},
        {kKeyDown, kDown, shift, KeyRoute::Pane}, {kKeyDown, kEnd, control, KeyRoute::Pane},
        {kKeyDown, kNext, none, KeyRoute::Pane}, {kKeyDown, kApps, none, KeyRoute::Pane},
        {kKeyDown, kAdd, none, KeyRoute::Pane}, {kKeyDown, 'A', control, KeyRoute::Pane},
        {kKeyDown, 'C', control, KeyRoute::Pane}, {kKeyDown, 'V', control, KeyRoute::Pane},
        {kKeyDown, kInsert, control, KeyRoute::Pane}, {kKeyDown, kInsert, shift, KeyRoute::Pane},
        {kSysKeyDown, kF10, shift, KeyRoute::Pane},
        // Type-ahead: the key is translated into its character, which the list searches with.
        {kKeyDown, 'F', none, KeyRoute::Pane}, {kKeyDown, '7', shift, KeyRoute::Pane},
        {kChar, 'f', none, KeyRoute::Pane}, {kChar, 0xE9, none, KeyRoute::Pane}, {kChar, '\r', none, KeyRoute::Pane},
        // Tab moves between the panes and out; Ctrl+Tab is the host's.
        {kKeyDown, kTab, none, KeyRoute::NextPane}, {kKeyDown, kTab, shift, KeyRoute::PreviousPane},
        {kKeyDown, kTab, control, KeyRoute::Host},
        // The host's: Escape, its shortcuts and mnemonics, its menu key, function keys we do not use.
        {kKeyDown, kEscape, none, KeyRoute::Host}, {kChar, 0x1B, none, KeyRoute::Host}, {kChar, '\t', none, KeyRoute::Host},
        {kKeyDown, 'S', control, KeyRoute::Host}, {kChar, 0x13, control, KeyRoute::Host},
        {kKeyDown, 'F', alt, KeyRoute::Host}, {kSysKeyDown, 'F', alt, KeyRoute::Host},
        {kSysKeyDown, kF10, none, KeyRoute::Host}, {kKeyDown, kInsert, none, KeyRoute::Host},
        {kKeyDown, 0x70 /* F1 */, none, KeyRoute::Host}, {kKeyUp, kReturn, none, KeyRoute::Host},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RouteKey(c.message, c.code, c.state), c.route)
            << std::hex << "message " << c.message << " code " << c.code << " ctrl " << c.state.control << " shift "
            << c.state.shift << " alt " << c.state.alt;
}

TEST(PaneKeys, TypeAheadFindsThePrefixCaseBlindFromTheStartAndWraps) {
    const std::vector<std::string> names = {"alpha", "Beta.txt", "bravo", "CHARLIE", "b", "\xC4pfel"};
    const auto at = [&](size_t i) { return std::string_view(names[i]); };
    EXPECT_EQ(FindTyped(names.size(), 0, "b", at), 1u);
    EXPECT_EQ(FindTyped(names.size(), 2, "B", at), 2u) << "from the start given, not the first";
    EXPECT_EQ(FindTyped(names.size(), 5, "b", at), 1u) << "wraps past the end";
    EXPECT_EQ(FindTyped(names.size(), 7, "ch", at), 3u) << "a start past the end wraps too";
    EXPECT_EQ(FindTyped(names.size(), 0, "BETA.", at), 1u);
    EXPECT_EQ(FindTyped(names.size(), 2, "bet", at), 1u);
    EXPECT_EQ(FindTyped(names.size(), 0, "be", at), 1u);
    EXPECT_EQ(FindTyped(names.size(), 0, "bx", at), names.size());
    EXPECT_EQ(FindTyped(names.size(), 0, "alphabet", at), names.size()) << "longer than every name";
    EXPECT_EQ(FindTyped(names.size(), 0, "\xE4", at), names.size()) << "only ASCII letters fold";
    EXPECT_EQ(FindTyped(names.size(), 0, "\xC4p", at), 5u);
    EXPECT_EQ(FindTyped(0, 0, "a", at), 0u);

    // A letter typed again steps through the names it begins, unless a name begins with the repeat.
    EXPECT_EQ(FindTyped(names.size(), 1, "bb", at), 2u);
    EXPECT_EQ(FindTyped(names.size(), 2, "bbb", at), 4u);
    EXPECT_EQ(FindTyped(names.size(), 4, "bbbb", at), 1u) << "wraps";
    EXPECT_EQ(FindTyped(names.size(), 1, "br", at), 2u);
    EXPECT_EQ(FindTyped(names.size(), 0, "zz", at), names.size());
    // With the initials given, only rows with the typed initial are read: the same answers, and a row whose
    // initial says otherwise is passed over.
    const std::string initials = {'a', 'b', 'b', 'c', 'b', '\xC4'};
    EXPECT_EQ(FindTyped(names.size(), 5, "bb", at, initials), 1u);
    EXPECT_EQ(FindTyped(names.size(), 0, "br", at, initials), 2u);
    EXPECT_EQ(FindTyped(names.size(), 0, "b", at, "axbcb\xC4"), 2u);
    const std::vector<std::string> doubled = {"aa.txt", "b"};
    EXPECT_EQ(FindTyped(2, 1, "aa", [&](size_t i) { return std::string_view(doubled[i]); }), 0u);
}
