#include "common/text_helpers.h"
#include "directory/host_directory.h"
#include "directory/memory_settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace telvora {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr std::string_view kKey = THostDirectory::kDirectoryKey;
const THostRow kEmptyRow{};
constexpr THostProtocol kRaw = THostProtocol::Raw;
constexpr THostProtocol kTelnet = THostProtocol::Telnet;

class HostDirectoryTest : public ::testing::Test {
protected:
    // Stores a host the way the window does: name value plus "-PORT" value,
    // and its type and width when given; without them it is stored as before
    // hosts had either.
    void Store(const std::string& description, const std::string& host, const std::string& port,
               const std::optional<std::string>& type = std::nullopt,
               const std::optional<std::string>& columns = std::nullopt) {
        m_store.PutString(kKey, description, host);
        m_store.PutString(kKey, description + "-PORT", port);
        if (type) {
            m_store.PutString(kKey, description + "-PORT-TYPE", *type);
        }
        if (columns) {
            m_store.PutString(kKey, description + "-PORT-COLUMNS", *columns);
        }
    }

    std::vector<int> ListedColumns() const {
        std::vector<int> columns;
        for (const THostRow& row : m_dir.Rows()) {
            columns.push_back(row.Columns);
        }
        return columns;
    }

    std::vector<std::string> StoredNames() const {
        std::vector<std::string> names;
        for (const auto& [folded, v] : m_store.Values(kKey)) {
            names.push_back(v.Name);
        }
        return names;
    }

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

TEST_F(HostDirectoryTest, EmptyStoreShowsOneEmptyRowAndDefaultBoxes) {
    m_dir.LoadHosts();
    ASSERT_EQ(m_dir.RowCount(), 1);
    EXPECT_EQ(m_dir.Row(1), kEmptyRow);
    EXPECT_EQ(m_dir.CurrentRow(), 1);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", ""}));
    EXPECT_TRUE(m_store.Values(kKey).empty());
}

TEST_F(HostDirectoryTest, SaveAsNewStoresHostAndPortValuesAndLists) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("bbs.example.org", "23", "Club BBS"), THostEditResult::Saved);

    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("Club BBS", "Club BBS-PORT", "Club BBS-PORT-TYPE",
                                     "Club BBS-PORT-COLUMNS", "Club BBS-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "Club BBS"), "bbs.example.org");
    EXPECT_EQ(m_store.Value(kKey, "Club BBS-PORT"), "23");
    ASSERT_EQ(m_dir.RowCount(), 2);
    EXPECT_EQ(m_dir.Row(1), (THostRow{"bbs.example.org", "23", "Club BBS"}));
    EXPECT_EQ(m_dir.Row(2), kEmptyRow);
    // The reload enters row 1.
    EXPECT_EQ(m_dir.CurrentRow(), 1);
    EXPECT_EQ(m_dir.Edits(), m_dir.Row(1));
}

TEST_F(HostDirectoryTest, SaveAsNewKeepsCellsAsTypedAndAcceptsSpacedIntegerPort) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew(" host ", " 6502 ", " Spaced "), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, " Spaced "), " host ");
    EXPECT_EQ(m_store.Value(kKey, " Spaced -PORT"), " 6502 ");
}

TEST_F(HostDirectoryTest, SaveAsNewWithNonIntegerPortStoresDefaultPort) {
    m_dir.LoadHosts();
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

TEST_F(HostDirectoryTest, SaveAsNewRequiresHostAndDescriptionAndChangesNothing) {
    Store("Kept", "kept.host", "23");
    m_dir.LoadHosts();
    const int commits = m_store.CommitCount();
    const std::vector<THostRow> before = m_dir.Rows();
    for (const THostRow& typed : {THostRow{"", "23", "Desc"}, THostRow{"host", "23", ""},
                                  THostRow{"   ", "23", "Desc"}, THostRow{"host", "abc", "  "}}) {
        m_dir.Edits() = typed;
        EXPECT_EQ(m_dir.SaveAsNew(), THostEditResult::NeedHostAndDescription);
        EXPECT_EQ(m_dir.Edits(), typed) << "not even the port box changes";
    }
    EXPECT_EQ(m_store.CommitCount(), commits);
    EXPECT_EQ(m_dir.Rows(), before);
    // A tab is not a blank.
    EXPECT_EQ(SaveAsNew("\t", "23", "Tabbed"), THostEditResult::Saved);
}

TEST_F(HostDirectoryTest, SaveAsNewWithExistingDescriptionReplacesThatEntry) {
    Store("Club BBS", "old.host", "23");
    Store("Other", "other.host", "24");
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("new.host", "8023", "club bbs"), THostEditResult::Saved);

    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("club bbs", "club bbs-PORT", "club bbs-PORT-TYPE",
                                     "club bbs-PORT-COLUMNS", "club bbs-PORT-TIMEOUT", "Other",
                                     "Other-PORT", "Other-PORT-TYPE", "Other-PORT-COLUMNS",
                                     "Other-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "club bbs"), "new.host");
    EXPECT_EQ(m_store.Value(kKey, "club bbs-PORT"), "8023");
    EXPECT_THAT(ListedDescriptions(), ElementsAre("club bbs", "Other", ""));
}

TEST_F(HostDirectoryTest, TwoRowsWithTheSameDescriptionKeepTheLowerRow) {
    Store("A", "a.host", "1");
    Store("B", "b.host", "2");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    m_dir.Edits() = THostRow{"renamed.host", "3", "a"};
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("a", "a-PORT", "a-PORT-TYPE", "a-PORT-COLUMNS",
                                                    "a-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "A"), "renamed.host");
    EXPECT_EQ(m_store.Value(kKey, "A-PORT"), "3");
    ASSERT_EQ(m_dir.RowCount(), 2);
}

TEST_F(HostDirectoryTest, UpdateWithChangedDescriptionRenamesTheEntry) {
    Store("Old Name", "host.one", "23");
    m_dir.LoadHosts();
    m_dir.Edits().Description = "New Name";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("New Name", "New Name-PORT", "New Name-PORT-TYPE",
                                     "New Name-PORT-COLUMNS", "New Name-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "New Name"), "host.one");
    EXPECT_FALSE(m_store.Value(kKey, "Old Name"));
    EXPECT_FALSE(m_store.Value(kKey, "Old Name-PORT"));
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
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Two", "Two-PORT", "Two-PORT-TYPE",
                                                    "Two-PORT-COLUMNS", "Two-PORT-TIMEOUT"));
}

TEST_F(HostDirectoryTest, DeleteRemovesTheSelectedEntryWithoutAsking) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "24");
    Store("Gamma", "g.host", "25");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("Alpha", "Alpha-PORT", "Alpha-PORT-TYPE", "Alpha-PORT-COLUMNS",
                                     "Alpha-PORT-TIMEOUT", "Gamma", "Gamma-PORT", "Gamma-PORT-TYPE",
                                     "Gamma-PORT-COLUMNS", "Gamma-PORT-TIMEOUT"));
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Gamma", ""));
}

TEST_F(HostDirectoryTest, DeleteOnTheEmptyRowChangesNothing) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Alpha", "Alpha-PORT", "Alpha-PORT-TYPE",
                                                    "Alpha-PORT-COLUMNS", "Alpha-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "Alpha"), "a.host");
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", ""));
}

TEST_F(HostDirectoryTest, ConnectTakesTheStoredRowNotTheEditedBoxes) {
    Store("Alpha", "a.host", "6400");
    m_dir.LoadHosts();
    m_dir.Edits() = THostRow{"typed.host", "99", "Typed"};
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "a.host");
    EXPECT_EQ(m_dir.ChosenPort(), "6400");

    m_dir.EnterRow(2);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "");
    EXPECT_EQ(m_dir.ChosenPort(), "");
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
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("Alpha", "Alpha-PORT", "Alpha-PORT-TYPE", "Alpha-PORT-COLUMNS",
                                     "Alpha-PORT-TIMEOUT", "Beta", "Beta-PORT", "Beta-PORT-TYPE",
                                     "Beta-PORT-COLUMNS", "Beta-PORT-TIMEOUT"));
}

TEST_F(HostDirectoryTest, DescriptionsContainingPortSuffixAreRefused) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    const int commits = m_store.CommitCount();
    const auto before = m_dir.Rows();
    for (const char* description : {"My-PORT", "my-port bbs", "-Port", "x-pOrTy"}) {
        SCOPED_TRACE(description);
        m_dir.Edits() = THostRow{"h", "abc", description};
        EXPECT_EQ(m_dir.SaveAsNew(), THostEditResult::DescriptionHasPortSuffix);
        EXPECT_EQ(m_dir.Edits().Port, "abc") << "nothing changes, not even the port box";
        EXPECT_EQ(m_dir.Update(), THostEditResult::DescriptionHasPortSuffix);
    }
    EXPECT_EQ(m_store.CommitCount(), commits);
    EXPECT_EQ(m_dir.Rows(), before);
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Alpha", "Alpha-PORT"));
    // Near misses are fine.
    EXPECT_EQ(SaveAsNew("h", "23", "My PORT"), THostEditResult::Saved);
    EXPECT_EQ(SaveAsNew("h", "23", "Passport"), THostEditResult::Saved);
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
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Alpha", "Alpha-PORT", "Alpha-PORT-TYPE",
                                                    "Alpha-PORT-COLUMNS", "Alpha-PORT-TIMEOUT"));
}

TEST_F(HostDirectoryTest, ReloadShowsChangesMadeOutsideTheWindow) {
    m_dir.LoadHosts();
    Store("Outside", "o.host", "23");
    m_dir.LoadHosts();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Outside", ""));
}

TEST_F(HostDirectoryTest, DirectoryStoredWithoutTypesReadsAsTelnet) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "6502");
    m_dir.LoadHosts();
    ASSERT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Beta", ""));
    for (const THostRow& row : m_dir.Rows()) {
        EXPECT_EQ(row.Protocol, kTelnet) << row.Description;
    }
    EXPECT_EQ(m_dir.Edits().Protocol, kTelnet);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenProtocol(), kTelnet);
}

TEST_F(HostDirectoryTest, StoredTypesOtherThanRawReadAsTelnet) {
    Store("A", "a.host", "1", "Raw");
    Store("B", "b.host", "2", " rAW ");
    Store("C", "c.host", "3", "Telnet");
    Store("D", "d.host", "4", "");
    Store("E", "e.host", "5", "SSH");
    Store("F", "f.host", "6", "Raw TCP");
    Store("G", "g.host", "7");
    m_store.PutNonString(kKey, "G-PORT-TYPE");
    m_dir.LoadHosts();
    ASSERT_EQ(m_dir.RowCount(), 8);
    std::vector<THostProtocol> protocols;
    for (const THostRow& row : m_dir.Rows()) {
        protocols.push_back(row.Protocol);
    }
    EXPECT_THAT(protocols,
                ElementsAre(kRaw, kRaw, kTelnet, kTelnet, kTelnet, kTelnet, kTelnet, kTelnet));
}

TEST_F(HostDirectoryTest, RawEntryIsStoredBesideItsValuesAndReadBack) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("raw.example", "9000", "Raw Board", kRaw), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("tn.example", "23", "Telnet Board"), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("Raw Board", "Raw Board-PORT", "Raw Board-PORT-TYPE",
                                     "Raw Board-PORT-COLUMNS", "Raw Board-PORT-TIMEOUT",
                                     "Telnet Board", "Telnet Board-PORT", "Telnet Board-PORT-TYPE",
                                     "Telnet Board-PORT-COLUMNS", "Telnet Board-PORT-TIMEOUT"));
    // The host name and port values are exactly what they were before hosts
    // had a type.
    EXPECT_EQ(m_store.Value(kKey, "Raw Board"), "raw.example");
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT"), "9000");
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT-TYPE"), "Raw");
    EXPECT_EQ(m_store.Value(kKey, "Telnet Board-PORT-TYPE"), "Telnet");

    THostDirectory reread(m_store);
    reread.LoadHosts();
    EXPECT_THAT(reread.Rows(),
                ElementsAre(THostRow{"raw.example", "9000", "Raw Board", kRaw},
                            THostRow{"tn.example", "23", "Telnet Board", kTelnet}, kEmptyRow));
    EXPECT_EQ(reread.Edits().Protocol, kRaw) << "row 1 is entered";
}

// The loading rule an older version applies (every name containing "-PORT"
// is not a host) must list exactly the hosts, whatever their types.
TEST_F(HostDirectoryTest, TypeValuesAreNeverTakenForHostsByTheLoadingRule) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("a.example", "9000", "Alpha", kRaw), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("z.example", "23", "zulu"), THostEditResult::Saved);
    m_dir.EnterRow(3);
    m_dir.Edits() = THostRow{"e.example", "8000", "", kRaw};
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved) << "an empty description, as Update allows";

    std::vector<std::string> hosts;
    for (const std::string& name : StoredNames()) {
        if (!THostDirectory::IsPortValueName(name)) {
            hosts.push_back(name);
        }
    }
    EXPECT_THAT(hosts, UnorderedElementsAre("", "Alpha", "zulu"));
    // Each host's type sits under its own name, not under a port value's.
    for (const std::string description : {"", "Alpha", "zulu"}) {
        EXPECT_EQ(
            m_store.Value(kKey, description + "-PORT-TYPE"),
            std::string(THostDirectory::ProtocolName(description == "zulu" ? kTelnet : kRaw)));
    }
    // The last name in sorted order is still not a host, so an older version
    // still ends the list with its one empty row.
    std::vector<std::string> sorted = StoredNames();
    std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return LowerAscii(a) < LowerAscii(b);
    });
    EXPECT_TRUE(THostDirectory::IsPortValueName(sorted.back())) << sorted.back();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("", "Alpha", "zulu", ""));
}

TEST_F(HostDirectoryTest, EnteringARowShowsItsType) {
    Store("Alpha", "a.host", "9000", "Raw");
    Store("Beta", "b.host", "23");
    m_dir.LoadHosts();
    EXPECT_EQ(m_dir.Edits(), (THostRow{"a.host", "9000", "Alpha", kRaw}));
    m_dir.EnterRow(2);
    EXPECT_EQ(m_dir.Edits().Protocol, kTelnet);
    m_dir.EnterRow(1);
    m_dir.EnterRow(3);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", "", kTelnet})) << "the empty row";
}

TEST_F(HostDirectoryTest, UpdateChangesTheTypeAndARenameTakesItAlong) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    m_dir.Edits().Protocol = kRaw;
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Alpha-PORT-TYPE"), "Raw");
    EXPECT_EQ(m_dir.Row(1).Protocol, kRaw);

    m_dir.Edits().Description = "Renamed";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_THAT(StoredNames(),
                UnorderedElementsAre("Renamed", "Renamed-PORT", "Renamed-PORT-TYPE",
                                     "Renamed-PORT-COLUMNS", "Renamed-PORT-TIMEOUT"));
    EXPECT_EQ(m_store.Value(kKey, "Renamed-PORT-TYPE"), "Raw");

    m_dir.Edits().Protocol = kTelnet;
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Renamed-PORT-TYPE"), "Telnet");
    EXPECT_EQ(m_dir.Row(1).Protocol, kTelnet);
}

TEST_F(HostDirectoryTest, TheLowerOfTwoRowsWithOneDescriptionGivesTheType) {
    Store("A", "a.host", "1", "Raw");
    Store("B", "b.host", "2");
    m_dir.LoadHosts();
    m_dir.EnterRow(2);
    m_dir.Edits().Description = "a";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "A"), "b.host");
    EXPECT_EQ(m_store.Value(kKey, "A-PORT-TYPE"), "Telnet");
}

TEST_F(HostDirectoryTest, DeleteRemovesTheStoredTypeToo) {
    Store("Alpha", "a.host", "9000", "Raw");
    Store("Beta", "b.host", "23", "Telnet");
    m_dir.LoadHosts();
    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_FALSE(m_store.Value(kKey, "Alpha-PORT-TYPE"));
    EXPECT_THAT(StoredNames(), UnorderedElementsAre("Beta", "Beta-PORT", "Beta-PORT-TYPE",
                                                    "Beta-PORT-COLUMNS", "Beta-PORT-TIMEOUT"));
    // Saved again under the same description, the entry starts as Telnet.
    ASSERT_EQ(SaveAsNew("a.host", "9000", "Alpha"), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Alpha-PORT-TYPE"), "Telnet");
}

TEST_F(HostDirectoryTest, ConnectTakesTheStoredRowsType) {
    Store("Alpha", "a.host", "9000", "Raw");
    m_dir.LoadHosts();
    m_dir.Edits().Protocol = kTelnet;
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenProtocol(), kRaw) << "the row's type, not the chooser's";
    m_dir.EnterRow(2);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "");
    EXPECT_EQ(m_dir.ChosenProtocol(), kTelnet);
}

TEST_F(HostDirectoryTest, WideEntryIsStoredBesideItsValuesAndReadBack) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("wide.example", "23", "Wide Board", kTelnet, 80), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("narrow.example", "9000", "Narrow Board", kRaw, 40),
              THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Wide Board-PORT-COLUMNS"), "80");
    EXPECT_EQ(m_store.Value(kKey, "Narrow Board-PORT-COLUMNS"), "40");
    // The other values are exactly what they were before hosts had a width.
    EXPECT_EQ(m_store.Value(kKey, "Wide Board"), "wide.example");
    EXPECT_EQ(m_store.Value(kKey, "Wide Board-PORT"), "23");
    EXPECT_EQ(m_store.Value(kKey, "Wide Board-PORT-TYPE"), "Telnet");

    THostDirectory reread(m_store);
    reread.LoadHosts();
    EXPECT_THAT(reread.Rows(),
                ElementsAre(THostRow{"narrow.example", "9000", "Narrow Board", kRaw, 40},
                            THostRow{"wide.example", "23", "Wide Board", kTelnet, 80}, kEmptyRow));
    reread.EnterRow(2);
    EXPECT_EQ(reread.Edits().Columns, 80);
    reread.Connect();
    EXPECT_EQ(reread.ChosenHost(), "wide.example");
    EXPECT_EQ(reread.ChosenColumns(), 80);
    EXPECT_EQ(reread.ChosenConnectTimeout(), 30) << "the default beside the width";

    // An entry's own connect timeout is kept and chosen with it.
    reread.Edits().ConnectTimeout = 7;
    ASSERT_EQ(reread.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Wide Board-PORT-TIMEOUT"), "7");
    reread.EnterRow(2);
    reread.Connect();
    EXPECT_EQ(reread.ChosenConnectTimeout(), 7);
}

TEST_F(HostDirectoryTest, DirectoryStoredWithoutWidthsReadsAsFortyColumns) {
    Store("Alpha", "a.host", "23");
    Store("Beta", "b.host", "6502", "Raw");
    m_dir.LoadHosts();
    ASSERT_THAT(ListedDescriptions(), ElementsAre("Alpha", "Beta", ""));
    EXPECT_THAT(ListedColumns(), ElementsAre(40, 40, 40));
    EXPECT_EQ(m_dir.Edits().Columns, 40);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenColumns(), 40);
    // The next save writes the width beside the other values.
    ASSERT_TRUE(m_dir.SaveHosts());
    EXPECT_EQ(m_store.Value(kKey, "Alpha-PORT-COLUMNS"), "40");
    EXPECT_EQ(m_store.Value(kKey, "Beta-PORT-COLUMNS"), "40");
}

TEST_F(HostDirectoryTest, StoredWidthsOtherThanEightyReadAsForty) {
    Store("A", "a.host", "1", std::nullopt, "80");
    Store("B", "b.host", "2", std::nullopt, "  80 ");
    Store("C", "c.host", "3", std::nullopt, "40");
    Store("D", "d.host", "4", std::nullopt, "");
    Store("E", "e.host", "5", std::nullopt, "132");
    Store("F", "f.host", "6", std::nullopt, "080");
    Store("G", "g.host", "7", std::nullopt, "80 columns");
    Store("H", "h.host", "8", std::nullopt, "\t80");
    Store("I", "i.host", "9", std::nullopt, "eighty");
    Store("J", "j.host", "10");
    m_store.PutNonString(kKey, "J-PORT-COLUMNS");
    m_dir.LoadHosts();
    ASSERT_EQ(m_dir.RowCount(), 11);
    EXPECT_THAT(ListedColumns(), ElementsAre(80, 80, 40, 40, 40, 40, 40, 40, 40, 40, 40));
}

TEST_F(HostDirectoryTest, AWidthOtherThanFortyOrEightyIsSavedAsForty) {
    m_dir.LoadHosts();
    for (const int columns : {0, 132, -80, 81}) {
        SCOPED_TRACE(columns);
        ASSERT_EQ(SaveAsNew("h", "23", "Entry", kTelnet, columns), THostEditResult::Saved);
        EXPECT_EQ(m_store.Value(kKey, "Entry-PORT-COLUMNS"), "40");
        EXPECT_EQ(m_dir.Row(1).Columns, 40);
    }
}

// The loading rule (every name containing "-PORT" is not a host) skips the
// width values, in this version and in older ones.
TEST_F(HostDirectoryTest, WidthValuesAreNeverTakenForHosts) {
    m_dir.LoadHosts();
    ASSERT_EQ(SaveAsNew("a.example", "9000", "Alpha", kRaw, 80), THostEditResult::Saved);
    ASSERT_EQ(SaveAsNew("z.example", "23", "zulu", kTelnet, 40), THostEditResult::Saved);
    EXPECT_TRUE(THostDirectory::IsPortValueName("Alpha-PORT-COLUMNS"));
    std::vector<std::string> hosts;
    for (const std::string& name : StoredNames()) {
        if (!THostDirectory::IsPortValueName(name)) {
            hosts.push_back(name);
        }
    }
    EXPECT_THAT(hosts, UnorderedElementsAre("Alpha", "zulu"));

    // A width left behind without its host (another program removed the
    // host), sorting last, neither becomes a host nor fills the empty row.
    m_store.PutString(kKey, "zz-PORT-COLUMNS", "80");
    m_dir.LoadHosts();
    EXPECT_THAT(ListedDescriptions(), ElementsAre("Alpha", "zulu", ""));
    EXPECT_THAT(ListedColumns(), ElementsAre(80, 40, 40));
    EXPECT_EQ(m_dir.Row(3), kEmptyRow);
}

TEST_F(HostDirectoryTest, EnteringARowShowsItsWidth) {
    Store("Alpha", "a.host", "23", std::nullopt, "80");
    Store("Beta", "b.host", "23");
    m_dir.LoadHosts();
    EXPECT_EQ(m_dir.Edits(), (THostRow{"a.host", "23", "Alpha", kTelnet, 80}));
    m_dir.EnterRow(2);
    EXPECT_EQ(m_dir.Edits().Columns, 40);
    m_dir.EnterRow(1);
    m_dir.EnterRow(3);
    EXPECT_EQ(m_dir.Edits(), (THostRow{"", "23", "", kTelnet, 40})) << "the empty row";
}

TEST_F(HostDirectoryTest, UpdateChangesTheWidthAndARenameTakesItAlong) {
    Store("Alpha", "a.host", "23");
    m_dir.LoadHosts();
    m_dir.Edits().Columns = 80;
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Alpha-PORT-COLUMNS"), "80");
    EXPECT_EQ(m_dir.Row(1).Columns, 80);

    m_dir.Edits().Description = "Renamed";
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_FALSE(m_store.Value(kKey, "Alpha-PORT-COLUMNS"));
    EXPECT_EQ(m_store.Value(kKey, "Renamed-PORT-COLUMNS"), "80");

    m_dir.Edits().Columns = 40;
    ASSERT_EQ(m_dir.Update(), THostEditResult::Saved);
    EXPECT_EQ(m_store.Value(kKey, "Renamed-PORT-COLUMNS"), "40");
    EXPECT_EQ(m_dir.Row(1).Columns, 40);

    ASSERT_EQ(m_dir.Delete(), THostEditResult::Saved);
    EXPECT_FALSE(m_store.Value(kKey, "Renamed-PORT-COLUMNS"));
    EXPECT_TRUE(m_store.Values(kKey).empty());
}

TEST(HostDirectoryWidths, TheLowerOfTwoRowsWithOneDescriptionGivesTheWidth) {
    for (const auto& [upper, lower] : {std::pair{"80", "40"}, std::pair{"40", "80"}}) {
        SCOPED_TRACE(upper);
        TMemorySettingsStore store;
        for (const auto& [description, host, columns] :
             {std::tuple{"A", "a.host", upper}, std::tuple{"B", "b.host", lower}}) {
            store.PutString(kKey, description, host);
            store.PutString(kKey, std::string(description) + "-PORT", "23");
            store.PutString(kKey, std::string(description) + "-PORT-COLUMNS", columns);
        }
        THostDirectory directory(store);
        directory.LoadHosts();
        directory.EnterRow(2);
        directory.Edits().Description = "a";
        ASSERT_EQ(directory.Update(), THostEditResult::Saved);
        EXPECT_EQ(store.Value(kKey, "A"), "b.host");
        EXPECT_EQ(store.Value(kKey, "A-PORT-COLUMNS"), lower);
        ASSERT_EQ(directory.RowCount(), 2);
        EXPECT_EQ(directory.Row(1).Columns, THostDirectory::ParseColumns(lower));
    }
}

TEST_F(HostDirectoryTest, ConnectTakesTheStoredRowsWidth) {
    Store("Alpha", "a.host", "23", std::nullopt, "80");
    m_dir.LoadHosts();
    EXPECT_EQ(m_dir.ChosenColumns(), 40) << "before any Connect";
    m_dir.Edits().Columns = 40;
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenColumns(), 80) << "the row's width, not the chooser's";
    m_dir.EnterRow(2);
    m_dir.Connect();
    EXPECT_EQ(m_dir.ChosenHost(), "");
    EXPECT_EQ(m_dir.ChosenColumns(), 40);
}

TEST(HostDirectoryColumnsNames, NamesAndParsing) {
    EXPECT_EQ(THostDirectory::ColumnsName(40), "40");
    EXPECT_EQ(THostDirectory::ColumnsName(80), "80");
    EXPECT_EQ(THostDirectory::ColumnsName(132), "40");
    EXPECT_EQ(THostDirectory::ColumnsName(0), "40");
    EXPECT_EQ(THostDirectory::ValidColumns(80), 80);
    EXPECT_EQ(THostDirectory::ValidColumns(40), 40);
    EXPECT_EQ(THostDirectory::ValidColumns(79), 40);
    EXPECT_EQ(THostDirectory::ParseColumns("80"), 80);
    EXPECT_EQ(THostDirectory::ParseColumns(" 80  "), 80);
    EXPECT_EQ(THostDirectory::ParseColumns("40"), 40);
    EXPECT_EQ(THostDirectory::ParseColumns(""), 40);
    EXPECT_EQ(THostDirectory::ParseColumns("8"), 40);
    EXPECT_EQ(THostDirectory::ParseColumns("800"), 40);
    EXPECT_EQ(THostDirectory::ParseColumns("+80"), 40);
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

TEST(HostDirectoryProtocolNames, NamesAndParsing) {
    EXPECT_EQ(THostDirectory::ProtocolName(THostProtocol::Telnet), "Telnet");
    EXPECT_EQ(THostDirectory::ProtocolName(THostProtocol::Raw), "Raw");
    EXPECT_EQ(THostDirectory::ParseProtocol("Raw"), THostProtocol::Raw);
    EXPECT_EQ(THostDirectory::ParseProtocol("RAW"), THostProtocol::Raw);
    EXPECT_EQ(THostDirectory::ParseProtocol("Telnet"), THostProtocol::Telnet);
    EXPECT_EQ(THostDirectory::ParseProtocol(""), THostProtocol::Telnet);
    EXPECT_EQ(THostDirectory::ParseProtocol(" raw "), THostProtocol::Raw);
    EXPECT_EQ(THostDirectory::ParseProtocol("Rawx"), THostProtocol::Telnet);
}

TEST(HostDirectoryIsInteger, AcceptsSigned32BitDecimalsOnly) {
    EXPECT_TRUE(THostDirectory::IsInteger("23"));
    EXPECT_TRUE(THostDirectory::IsInteger("  23 "));
    EXPECT_TRUE(THostDirectory::IsInteger("-2147483648"));
    EXPECT_TRUE(THostDirectory::IsInteger("+0"));
    EXPECT_FALSE(THostDirectory::IsInteger("2147483648"));
    EXPECT_FALSE(THostDirectory::IsInteger(""));
    EXPECT_FALSE(THostDirectory::IsInteger("-"));
    EXPECT_FALSE(THostDirectory::IsInteger("+-1"));
    EXPECT_FALSE(THostDirectory::IsInteger("1.5"));
    EXPECT_FALSE(THostDirectory::IsInteger("\t1"));
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
