#include "common/text_helpers.h"
#include "directory/host_directory.h"
#include "directory/memory_settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvora {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

constexpr std::string_view kKey = THostDirectory::kDirectoryKey;
const THostRow kEmptyRow{};
constexpr THostProtocol kRaw = THostProtocol::Raw;
constexpr THostProtocol kTelnet = THostProtocol::Telnet;

using TKeptValues = std::initializer_list<std::pair<std::string_view, std::string_view>>;

// Stores a host the way the window does: name value plus "-PORT" value, and
// the kept values given as (suffix, value); without them it is stored as
// before hosts had any.
void StoreHost(TMemorySettingsStore& store, const std::string& description, const std::string& host,
               const std::string& port, TKeptValues kept = {}) {
    store.PutString(kKey, description, host);
    store.PutString(kKey, description + "-PORT", port);
    for (const auto& [suffix, value] : kept) {
        store.PutString(kKey, description + std::string(suffix), value);
    }
}

// Every name Save As New and Update write for a TCP host.
std::vector<std::string> EntryNames(std::initializer_list<std::string> descriptions) {
    std::vector<std::string> names;
    for (const std::string& description : descriptions) {
        for (const char* suffix : {"", "-PORT", "-PORT-TYPE", "-PORT-COLUMNS", "-PORT-TIMEOUT"}) {
            names.push_back(description + suffix);
        }
    }
    return names;
}

// The names in the store, as they were written.
std::vector<std::string> NamesIn(const TMemorySettingsStore& store) {
    std::vector<std::string> names;
    for (const auto& [folded, v] : store.Values(kKey)) {
        names.push_back(v.Name);
    }
    return names;
}

class HostDirectoryTest : public ::testing::Test {
protected:
    void Store(const std::string& description, const std::string& host, const std::string& port,
               TKeptValues kept = {}) {
        StoreHost(m_store, description, host, port, kept);
    }

    std::vector<std::string> StoredNames() const { return NamesIn(m_store); }

    std::vector<std::string> ListedDescriptions() const {
        std::vector<std::string> descriptions;
        for (const THostRow& row : m_dir.Rows()) {
            descriptions.push_back(row.Description);
        }
        return descriptions;
    }

    THostEditResult SaveAsNew(const std::string& host, const std::string& port,
                              const std::string& description,
                              THostProtocol protocol = THostProtocol::Telnet, int columns = 40) {
        m_dir.Edits() = THostRow{host, port, description, protocol, columns};
        return m_dir.SaveAsNew();
    }

    TMemorySettingsStore m_store;
    THostDirectory m_dir{m_store};
};

TEST_F(HostDirectoryTest, EmptyStoreShowsOneEmptyRowAndDefaultBoxesAndReloadShowsChanges) {
    m_dir.LoadHosts();
    ASSERT_EQ(m_dir.RowCount(), 1);
    EXPECT_EQ(m_dir.Row(1), kEmptyRow);
    EXPECT_EQ(m_dir.CurrentRow(), 1);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", ""}));
    EXPECT_TRUE(m_store.Values(kKey).empty());
    // A reload shows changes made outside the window.
    Store("Outside", "o.host", "23");
    m_dir.LoadHosts();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Outside", ""));
}

TEST_F(HostDirectoryTest, SaveAsNewStoresHostAndPortValuesAndLists) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("bbs.example.org", "23", "Club BBS"), THostEditResult::Saved);

    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Club BBS"})));
    EXPECT_EQ(m_store.Value(kKey, "Club BBS"), "bbs.example.org");
    EXPECT_EQ(m_store.Value(kKey, "Club BBS-PORT"), "23");
    ASSERT_EQ(m_dir.RowCount(), 2);
    EXPECT_EQ(m_dir.Row(1), (THostRow{"bbs.example.org", "23", "Club BBS"}));
    EXPECT_EQ(m_dir.Row(2), kEmptyRow);
    // The reload enters row 1.
    EXPECT_EQ(m_dir.CurrentRow(), 1);
    EXPECT_EQ(m_dir.Edits(), m_dir.Row(1));
}

TEST_F(HostDirectoryTest, SaveAsNewKeepsCellsAsTypedButANonIntegerPortAsTheDefault) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew(" host ", " 6502 ", " Spaced "), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, " Spaced "), " host ");
    EXPECT_EQ(m_store.Value(kKey, " Spaced -PORT"), " 6502 ");
    for (const char* port : {"abc", "", "  ", "23a", "2 3", "99999999999", "\t23"}) {
        SCOPED_TRACE(port);
        ASSERT_EQ(SaveAsNew("h", port, "Entry"), THostEditResult::Saved);
        EXPECT_EQ(m_store.Value(kKey, "Entry-PORT"), "23");
    }
    for (const char* port : {"-1", "+7", "2147483647"}) {
        SCOPED_TRACE(port);
        ASSERT_EQ(SaveAsNew("h", port, "Entry"), THostEditResult::Saved);
        EXPECT_EQ(m_store.Value(kKey, "Entry-PORT"), port);
    }
}

// Save As New without a host name and a description, and Save As New or Update
// of a description the loading rule would skip, change nothing, not even the
// port box.
TEST_F(HostDirectoryTest, RefusedSaveAsNewOrUpdateChangesNothing) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    const int commits = m_store.CommitCount();
    const std::vector<THostRow> before = m_dir.Rows();
    constexpr THostEditResult kNeed = THostEditResult::NeedHostAndDescription;
    constexpr THostEditResult kPort = THostEditResult::DescriptionHasPortSuffix;
    const std::pair<THostRow, THostEditResult> refused[] = {
        {{"", "23", "Desc"}, kNeed},      {{"host", "23", ""}, kNeed},
        {{"   ", "23", "Desc"}, kNeed},   {{"host", "abc", "  "}, kNeed},
        {{"h", "abc", "My-PORT"}, kPort}, {{"h", "abc", "my-port bbs"}, kPort},
        {{"h", "abc", "-Port"}, kPort},   {{"h", "abc", "x-pOrTy"}, kPort}};
    for (const auto& [typed, result] : refused) {
        SCOPED_TRACE(typed.HostName + "|" + typed.Description);
        m_dir.Edits() = typed;
        EXPECT_EQ(m_dir.SaveAsNew(), result);
        EXPECT_EQ(m_dir.Edits(), typed);
        if (result == kPort) {
            EXPECT_EQ(m_dir.Update(), result);
        }
    }
    EXPECT_EQ(m_store.CommitCount(), commits);
    EXPECT_EQ(m_dir.Rows(), before);
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Alpha", "Alpha-PORT"));
    // A tab is not a blank, and near misses are fine.
    EXPECT_EQ(SaveAsNew("\t", "23", "Tabbed"), THostEditResult::Saved);
    EXPECT_EQ(SaveAsNew("h", "23", "My PORT"), THostEditResult::Saved);
    EXPECT_EQ(SaveAsNew("h", "23", "Passport"), THostEditResult::Saved);
}

TEST_F(HostDirectoryTest, SaveAsNewWithExistingDescriptionReplacesThatEntry) {
    Store("Club BBS", "old.host", "23");
    Store("Other", "other.host", "24");
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("new.host", "8023", "club bbs"), THostEditResult::Saved);

    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"club bbs", "Other"})));
    EXPECT_EQ(m_store.Value(kKey, "club bbs"), "new.host");
    EXPECT_EQ(m_store.Value(kKey, "club bbs-PORT"), "8023");
    EXPECT_THAT(ListedDescriptions(), ElementsAre("club bbs", "Other", ""));
}

TEST_F(HostDirectoryTest, UpdateWritesWithoutTestsAndOnTheEmptyRowAddsAnEntry) {
    Store("First", "first.host", "23");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", ""}));
    m_dir.Edits() = THostRow{"added.host", "abc", ""};
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    // No integer test and no blank test of the description.
    EXPECT_EQ(m_store.Value(kKey, ""), "added.host");
    EXPECT_EQ(m_store.Value(kKey, "-PORT"), "abc");
    ASSERT_EQ(m_dir.RowCount(), 3);
    EXPECT_EQ(m_dir.Row(1), (THostRow{"added.host", "abc", ""}));
    EXPECT_EQ(m_dir.Row(3), kEmptyRow);
}

TEST_F(HostDirectoryTest, UpdateLeavingHostOrPortBlankDropsTheEntry) {
    Store("One", "one.host", "23");
    Store("Two", "two.host", "23");
    m_dir.LoadHosts();
    m_dir.Edits().Port = " ";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Two"})));
}

TEST_F(HostDirectoryTest, DeleteRemovesTheSelectedEntryWithoutAskingAndOnTheEmptyRowNothing) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "24");
    Store("Gamma", "g.host", "25");
    m_dir.LoadHosts();
    m_dir.EnterRow(4);
    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Alpha", "Beta", "Gamma"})));
    EXPECT_EQ(m_store.Value(kKey, "Alpha"), "a.host");
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Beta", "Gamma", ""));
    m_dir.EnterRow(2);
    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Alpha", "Gamma"})));
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Gamma", ""));
}

TEST_F(HostDirectoryTest, ListIsSortedByDescriptionRegardlessOfCase) {
    m_dir.LoadHosts();
    for (const char* description : {"zebra", "Apple", "mango", "BANANA", "apricot", "Zulu"}) {
        ASSERT_EQ(SaveAsNew("h", "23", description), THostEditResult::Saved);
    }
    EXPECT_THAT(ListedDescriptions(),
                ElementsAre("Apple", "apricot", "BANANA", "mango", "zebra", "Zulu", ""));
}

TEST_F(HostDirectoryTest, LoadingSkipsEveryNameContainingPortAndDefaultsMissingPorts) {
    m_store.PutString(kKey, "NoPort", "np.host");
    m_store.PutString(kKey, "Stray-port-thing", "x");
    m_store.PutString(kKey, "EmptyPort", "ep.host");
    m_store.PutString(kKey, "EmptyPort-PORT", "");
    Store("Zed", "z.host", "7");
    m_dir.LoadHosts();
    ASSERT_THAT(ListedDescriptions(), ElementsAre("EmptyPort", "NoPort", "Zed", ""));
    EXPECT_EQ(m_dir.Row(1).Port, "23");
    EXPECT_EQ(m_dir.Row(2).Port, "23");
    EXPECT_EQ(m_dir.Row(3).Port, "7");
}

TEST_F(HostDirectoryTest, StoreEndingInAHostWithoutPortValueHasNoEmptyRow) {
    Store("Alpha", "a.host", "23");
    m_store.PutString(kKey, "Zed", "z.host");
    m_dir.LoadHosts();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Zed"));
    EXPECT_EQ(m_dir.Row(2), (THostRow{"z.host", "23", "Zed"}));
}

TEST_F(HostDirectoryTest, ValuesOfAnotherTypeReadAsEmpty) {
    Store("Alpha", "a.host", "23");
    m_store.PutNonString(kKey, "Binary");
    m_store.PutString(kKey, "Binary-PORT", "99");
    m_store.PutNonString(kKey, "Alpha-PORT");
    m_dir.LoadHosts();
    ASSERT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Binary", ""));
    EXPECT_EQ(m_dir.Row(1), (THostRow{"a.host", "23", "Alpha"}));
    EXPECT_EQ(m_dir.Row(2), (THostRow{"", "99", "Binary"}));
    // The host without a host name is dropped at the next save.
    ASSERT_EQ(SaveAsNew("b.host", "1", "Beta"), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Alpha", "Beta"})));
}

TEST_F(HostDirectoryTest, FailedSaveLeavesStoreListAndCurrentRowAsTheyWere) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "24");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    const auto rowsBefore = m_dir.Rows();
    const auto storedBefore = StoredNames();
    m_store.SetCommitFails(true);

    m_dir.Edits() = THostRow{"new.host", "x", "New"};
    EXPECT_EQ(m_dir.SaveAsNew(), THostEditResult::StoreFailed);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"new.host", "23", "New"}));
    m_dir.Edits() = THostRow{"c.host", "1", "Changed"};
    EXPECT_EQ(m_dir.Update(), THostEditResult::StoreFailed);
    EXPECT_EQ(m_dir.Delete(), THostEditResult::StoreFailed);

    EXPECT_EQ(m_dir.Rows(), rowsBefore);
    EXPECT_EQ(m_dir.CurrentRow(), 2);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"c.host", "1", "Changed"}));
    EXPECT_EQ(StoredNames(), storedBefore);
    EXPECT_EQ(m_store.Value(kKey, "Beta"), "b.host");

    // Once the store works again the same action succeeds.
    m_store.SetCommitFails(false);
    EXPECT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Alpha"})));
}

// A host's type, width and connect timeout are each kept beside its host
// name and port under a name of its own, and follow the same rules: a missing
// or unknown value reads as the default, which older entries all have.
struct TKeptField {
    const char* Name;
    std::string_view Suffix;
    // As stored: the default, and a value other than it.
    std::string Default;
    std::string Other;
    // The row's value as it is stored.
    std::string (*Read)(const THostRow&);
    void (*Give)(THostRow& row, bool other);
    // Stored texts that read as Other, and others that read as Default.
    std::vector<std::string> ReadAsOther;
    std::vector<std::string> ReadAsDefault;
};

void PrintTo(const TKeptField& field, std::ostream* os) {
    *os << field.Name;
}

const TKeptField kKeptFields[] = {
    {"Type",
     THostDirectory::kProtocolSuffix,
     "Telnet",
     "Raw",
     [](const THostRow& row) -> std::string {
         return row.Protocol == kRaw ? "Raw" : row.Protocol == kTelnet ? "Telnet" : "another";
     },
     [](THostRow& row, bool other) { row.Protocol = other ? kRaw : kTelnet; },
     {"Raw", " rAW ", "RAW"},
     {"Telnet", "", "SSH", "Raw TCP", "Rawx"}},
    {"Width",
     THostDirectory::kColumnsSuffix,
     "40",
     "80",
     [](const THostRow& row) { return std::to_string(row.Columns); },
     [](THostRow& row, bool other) { row.Columns = other ? 80 : 40; },
     {"80", "  80 "},
     {"40", "", "132", "080", "80 columns", "\t80", "eighty", "8", "800", "+80"}},
    {"ConnectTimeout",
     THostDirectory::kTimeoutSuffix,
     "30",
     "7",
     [](const THostRow& row) { return std::to_string(row.ConnectTimeout); },
     [](THostRow& row, bool other) { row.ConnectTimeout = other ? 7 : 30; },
     {"7", " 7 "},
     {"30", "", "0", "601", "-5", "7 s", "seven", "99999999999"}},
};

class HostDirectoryFieldTest : public HostDirectoryTest,
                               public ::testing::WithParamInterface<TKeptField> {
protected:
    const TKeptField& Field() const { return GetParam(); }
    std::string Named(const std::string& description) const {
        return description + std::string(Field().Suffix);
    }
    std::optional<std::string> StoredValue(const std::string& description) const {
        return m_store.Value(kKey, Named(description));
    }
    std::string Value(const THostRow& row) const { return Field().Read(row); }
    THostRow With(THostRow row, bool other) const {
        Field().Give(row, other);
        return row;
    }
    std::vector<std::string> ListedValues() const {
        std::vector<std::string> values;
        for (const THostRow& row : m_dir.Rows()) {
            values.push_back(Value(row));
        }
        return values;
    }
};

INSTANTIATE_TEST_SUITE_P(KeptFields, HostDirectoryFieldTest, ::testing::ValuesIn(kKeptFields),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_P(HostDirectoryFieldTest, IsStoredBesideTheHostsValuesAndReadBack) {
    const THostRow other = With(THostRow{"other.example", "9000", "Other Board"}, true);
    m_dir.LoadHosts();
    m_dir.Edits() = other;
    ASSERT_EQ(m_dir.SaveAsNew(), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("plain.example", "23", "Plain Board"), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAreArray(EntryNames({"Other Board", "Plain Board"})));
    // The other values are exactly what they were before hosts had this one.
    EXPECT_EQ(m_store.Value(kKey, "Other Board"), "other.example");
    EXPECT_EQ(m_store.Value(kKey, "Other Board-PORT"), "9000");
    for (const TKeptField& kept : kKeptFields) {
        if (kept.Suffix != Field().Suffix) {
            EXPECT_EQ(m_store.Value(kKey, "Other Board" + std::string(kept.Suffix)), kept.Default)
                << kept.Name;
        }
    }
    EXPECT_EQ(StoredValue("Other Board"), Field().Other);
    EXPECT_EQ(StoredValue("Plain Board"), Field().Default);

    THostDirectory reread(m_store);
    reread.LoadHosts();
    EXPECT_THAT(reread.Rows(),
                ElementsAre(other, THostRow{"plain.example", "23", "Plain Board"}, kEmptyRow));
    EXPECT_EQ(Value(reread.Edits()), Field().Other) << "row 1 is entered";
    reread.Connect();
    EXPECT_EQ(reread.ChosenHost(), "other.example");
    EXPECT_EQ(Value(reread.Chosen()), Field().Other);
}

TEST_P(HostDirectoryFieldTest, AnEntryStoredBeforeItExistedReadsAsTheDefault) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "6502");
    // Beta has every other kept value, and not the default.
    for (const TKeptField& kept : kKeptFields) {
        if (kept.Suffix != Field().Suffix) {
            m_store.PutString(kKey, "Beta" + std::string(kept.Suffix), kept.Other);
        }
    }
    m_dir.LoadHosts();
    ASSERT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Beta", ""));
    EXPECT_THAT(ListedValues(), ElementsAre(Field().Default, Field().Default, Field().Default));
    EXPECT_EQ(Value(m_dir.Edits()), Field().Default);
    m_dir.Connect();
    EXPECT_EQ(Value(m_dir.Chosen()), Field().Default);
    // The next save writes it beside the other values.
    ASSERT_TRUE(m_dir.SaveHosts());
    EXPECT_EQ(StoredValue("Alpha"), Field().Default);
    EXPECT_EQ(StoredValue("Beta"), Field().Default);
}

TEST_P(HostDirectoryFieldTest, StoredValuesItDoesNotKnowReadAsTheDefault) {
    std::vector<std::string> expected;
    std::string description = "A";
    for (const bool other : {true, false}) {
        for (const std::string& stored : other ? Field().ReadAsOther : Field().ReadAsDefault) {
            Store(description, "h", "1", {{Field().Suffix, stored}});
            expected.push_back(other ? Field().Other : Field().Default);
            ++description[0];
        }
    }
    // A value of another type, then the empty row.
    Store(description, "h", "1");
    m_store.PutNonString(kKey, Named(description));
    expected.insert(expected.end(), 2, Field().Default);
    m_dir.LoadHosts();
    EXPECT_THAT(ListedValues(), ElementsAreArray(expected));
}

// The loading rule of this and every older version (a name containing
// "-PORT" is not a host) must list exactly the hosts, whatever their values.
TEST_P(HostDirectoryFieldTest, IsNeverTakenForAHostByTheLoadingRule) {
    m_dir.LoadHosts();
    m_dir.Edits() = With(THostRow{"a.example", "9000", "Alpha"}, true);
    ASSERT_EQ(m_dir.SaveAsNew(), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("z.example", "23", "zulu"), THostEditResult::Saved);
    m_dir.EnterRow(3);
    m_dir.Edits() = With(THostRow{"e.example", "8000", ""}, true);
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved) << "an empty description, as Update allows";

    EXPECT_TRUE(THostDirectory::IsPortValueName(Named("Alpha")));
    std::vector<std::string> hosts;
    for (const std::string& name : StoredNames()) {
        if (!THostDirectory::IsPortValueName(name)) {
            hosts.push_back(name);
        }
    }
    EXPECT_THAT(hosts, UnorderedElementsAre("", "Alpha", "zulu"));
    // Each host's value sits under its own name, not under a port value's.
    EXPECT_EQ(StoredValue(""), Field().Other);
    EXPECT_EQ(StoredValue("Alpha"), Field().Other);
    EXPECT_EQ(StoredValue("zulu"), Field().Default);
    // The last name in sorted order is still not a host, so an older version
    // still ends the list with its one empty row.
    std::vector<std::string> sorted = StoredNames();
    std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return LowerAscii(a) < LowerAscii(b);
    });
    EXPECT_TRUE(THostDirectory::IsPortValueName(sorted.back())) << sorted.back();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("", "Alpha", "zulu", ""));

    // A value left behind without its host (another program removed the
    // host), sorting last, neither becomes a host nor fills the empty row.
    m_store.PutString(kKey, Named("zz"), Field().Other);
    m_dir.LoadHosts();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("", "Alpha", "zulu", ""));
    EXPECT_THAT(ListedValues(),
                ElementsAre(Field().Other, Field().Other, Field().Default, Field().Default));
    EXPECT_EQ(m_dir.Row(4), kEmptyRow);
}

TEST_P(HostDirectoryFieldTest, EnteringARowShowsIt) {
    Store("Alpha", "a.host", "9000", {{Field().Suffix, Field().Other}});
    Store("Beta", "b.host", "23");
    m_dir.LoadHosts();
    EXPECT_EQ(m_dir.Edits(), With(THostRow{"a.host", "9000", "Alpha"}, true));
    m_dir.EnterRow(2);
    EXPECT_EQ(Value(m_dir.Edits()), Field().Default);
    m_dir.EnterRow(1);
    m_dir.EnterRow(3);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", ""})) << "the empty row";
}

TEST_P(HostDirectoryFieldTest, UpdateChangesItARenameTakesItAlongAndDeleteRemovesIt) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    for (const bool other : {true, false, true}) {
        Field().Give(m_dir.Edits(), other);
        ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
        EXPECT_EQ(StoredValue("Alpha"), other ? Field().Other : Field().Default);
        EXPECT_EQ(Value(m_dir.Row(1)), other ? Field().Other : Field().Default);
    }

    m_dir.Edits().Description = "Renamed";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAreArray(EntryNames({"Renamed"})));
    EXPECT_EQ(m_store.Value(kKey, "Renamed"), "a.host");
    EXPECT_FALSE(m_store.Value(kKey, "Alpha"));
    EXPECT_FALSE(m_store.Value(kKey, "Alpha-PORT"));
    EXPECT_FALSE(StoredValue("Alpha"));
    EXPECT_EQ(StoredValue("Renamed"), Field().Other);

    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_FALSE(StoredValue("Renamed"));
    EXPECT_TRUE(m_store.Values(kKey).empty());
    // Saved again under the same description, the entry starts with the default.
    ASSERT_EQ(SaveAsNew("a.host", "23", "Renamed"), THostEditResult::Saved);
    EXPECT_EQ(StoredValue("Renamed"), Field().Default);
}

// Of two rows with one description only the lower one is kept, with all its values.
TEST_P(HostDirectoryFieldTest, TheLowerOfTwoRowsWithOneDescriptionGivesIt) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {Field().Other, std::nullopt},
        {Field().Other, Field().Default},
        {Field().Default, Field().Other},
    };
    for (const auto& [upper, lower] : cases) {
        SCOPED_TRACE(upper + " above " + lower.value_or("nothing"));
        TMemorySettingsStore store;
        StoreHost(store, "A", "a.host", "1", {{Field().Suffix, upper}});
        StoreHost(store, "B", "b.host", "2");
        if (lower) {
            store.PutString(kKey, Named("B"), *lower);
        }
        THostDirectory directory(store);
        directory.LoadHosts();
        directory.EnterRow(2);
        directory.Edits().HostName = "renamed.host";
        directory.Edits().Description = "a";
        ASSERT_EQ(directory.Update(), THostEditResult::Saved);
        EXPECT_THAT(NamesIn(store), UnorderedElementsAreArray(EntryNames({"a"})));
        EXPECT_EQ(store.Value(kKey, "A"), "renamed.host");
        EXPECT_EQ(store.Value(kKey, "A-PORT"), "2");
        EXPECT_EQ(store.Value(kKey, Named("A")), lower.value_or(Field().Default));
        ASSERT_EQ(directory.RowCount(), 2);
        EXPECT_EQ(Value(directory.Row(1)), lower.value_or(Field().Default));
    }
}

TEST_P(HostDirectoryFieldTest, ConnectTakesTheStoredRowsNotTheEditedBoxes) {
    Store("Alpha", "a.host", "6400", {{Field().Suffix, Field().Other}});
    m_dir.LoadHosts();
    EXPECT_EQ(Value(m_dir.Chosen()), Field().Default) << "before any Connect";
    m_dir.Edits() = With(THostRow{"typed.host", "99", "Typed"}, false);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "a.host");
    EXPECT_EQ(m_dir.ChosenPort(), "6400");
    EXPECT_EQ(Value(m_dir.Chosen()), Field().Other);
    m_dir.EnterRow(2);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "");
    EXPECT_EQ(m_dir.ChosenPort(), "");
    EXPECT_EQ(Value(m_dir.Chosen()), Field().Default);
}

TEST_F(HostDirectoryTest, AWidthOtherThanFortyOrEightyIsSavedAsForty) {
    m_dir.LoadHosts();
    for (const int columns : {0, 132, -80, 79, 81}) {
        SCOPED_TRACE(columns);
        ASSERT_EQ(SaveAsNew("h", "23", "Entry", kTelnet, columns), THostEditResult::Saved);
        EXPECT_EQ(m_store.Value(kKey, "Entry-PORT-COLUMNS"), "40");
        EXPECT_EQ(m_dir.Row(1).Columns, 40);
    }
}

// A stored connect timeout: whole seconds from 1 to 600; anything else
// (missing, an older entry's, unreadable, out of range) is the 30 s default.
TEST(HostDirectoryConnectTimeouts, Parsing) {
    const std::pair<const char*, int> cases[] = {
        {"7", 7},    {" 600 ", 600},      {"", 30}, {"0", 30}, {"601", 30}, {"-5", 30},
        {"ten", 30}, {"99999999999", 30}, {"1", 1},
    };
    for (const auto& [stored, seconds] : cases) {
        EXPECT_EQ(THostDirectory::ParseConnectTimeout(stored), seconds) << stored;
    }
}

TEST(HostDirectoryIsInteger, AcceptsSigned32BitDecimalsOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"23", true}, {"  23 ", true}, {"-2147483648", true}, {"+0", true},   {"2147483648", false},
        {"", false},  {"-", false},    {"+-1", false},        {"1.5", false}, {"\t1", false}};
    for (const auto& [text, integer] : cases) {
        EXPECT_EQ(THostDirectory::IsInteger(text), integer) << text;
    }
}

TEST_F(HostDirectoryTest, SerialAndModemEntriesKeepTheirLineAndCall) {
    m_dir.LoadHosts();
    // A serial line's port box holds its settings; anything else is the defaults.
    ASSERT_EQ(SaveAsNew("/dev/ttyUSB0", "23", "Cable", THostProtocol::Serial),
              THostEditResult::Saved);
    m_dir.Edits() = THostRow{"/dev/ttyUSB1", "9600 7e1 rtscts", "WiFi", THostProtocol::Modem};
    TModemSettings call;
    call.Number = "bbs.example.org:23";
    call.InitString = "ATZ&F";
    call.Redials = 3;
    m_dir.Edits().Modem = call;
    ASSERT_EQ(m_dir.SaveAsNew(), THostEditResult::Saved);

    EXPECT_EQ(m_store.Value(kKey, "Cable-PORT"), "19200 8N1 none");
    EXPECT_EQ(m_store.Value(kKey, "Cable-PORT-TYPE"), "Serial");
    EXPECT_FALSE(m_store.Value(kKey, "Cable-PORT-NUMBER")) << "only modems store a call";
    EXPECT_EQ(m_store.Value(kKey, "WiFi"), "/dev/ttyUSB1");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT"), "9600 7E1 rtscts");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT-TYPE"), "Modem");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT-NUMBER"), "bbs.example.org:23");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT-INIT"), "ATZ&F");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT-DIAL"), "ATDT");
    EXPECT_EQ(m_store.Value(kKey, "WiFi-PORT-REDIAL"), "3");

    THostDirectory again(m_store);
    again.LoadHosts();
    ASSERT_EQ(again.RowCount(), 3);
    EXPECT_EQ(again.Row(1).Protocol, THostProtocol::Serial);
    EXPECT_EQ(again.Row(2).Protocol, THostProtocol::Modem);
    EXPECT_EQ(again.Row(2).Modem, call);
    again.EnterRow(2);
    again.Connect();
    EXPECT_EQ(again.Chosen().Modem.Number, "bbs.example.org:23");
}

} // namespace
} // namespace telvora
