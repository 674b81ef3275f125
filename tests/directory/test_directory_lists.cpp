// BBS lists in and out, the login watch and addresses written as URLs.
#include "directory/directory_lists.h"
#include "directory/login_steps.h"
#include "directory/memory_settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace telvora {
namespace {

using ::testing::ElementsAre;

constexpr std::string_view kList = R"(; a published list
[Atari Land]
ConnectionType=Telnet
Address=atari.example.org
Port=2323
UserName=guest
Password=secret
ScreenMode=Atari-XEP80
	TotalCalls=3
	LastConnected=Mon Jan 13 2025 12:34:56

[Raw Board]
ConnectionType=raw
Address=raw.example.org
Port=9000

[Secure Board]
ConnectionType=SSH
Address=ssh.example.org

[Old Modem]
ConnectionType=Modem
Address=555-1234
ScreenMode=Atari XEP80

[Wired Atari]
ConnectionType=Serial
Address=/dev/ttyS1
BPSRate=9600
DataBits=7
Parity=Even
StopBits=2
FlowControl=XONXOFF

[Three Wires]
ConnectionType=SerialNoRTS
Address=/dev/ttyS2
BPSRate=76800
FlowControl=RTSCTS

[No Address]
ConnectionType=Telnet
)";

TEST(DirectoryLists, TheIniFormTakesOurKindsOfBoardsAndCountsTheRest) {
    const TListImport list = ParseDirectoryList(kList);
    ASSERT_EQ(list.Entries.size(), 5u);
    EXPECT_EQ(list.Skipped, 2);
    const THostRow& atari = list.Entries[0].Row;
    EXPECT_EQ(atari.Description, "Atari Land");
    EXPECT_EQ(atari.HostName, "atari.example.org");
    EXPECT_EQ(atari.Port, "2323");
    EXPECT_EQ(atari.Columns, 80);
    EXPECT_EQ(atari.UserName, "guest");
    EXPECT_EQ(atari.Calls, 3);
    EXPECT_EQ(atari.LastCall, "2025-01-13 12:34");
    EXPECT_EQ(list.Entries[0].Password, "secret");
    EXPECT_EQ(list.Entries[1].Row.Protocol, THostProtocol::Raw);
    EXPECT_EQ(list.Entries[1].Row.Columns, 40);
    const THostRow& modem = list.Entries[2].Row;
    EXPECT_EQ(modem.Protocol, THostProtocol::Modem);
    EXPECT_EQ(modem.Modem.Number, "555-1234");
    EXPECT_EQ(modem.HostName, "/dev/ttyUSB0");
    EXPECT_EQ(modem.Columns, 80) << "the XEP80 as it is shown";
    EXPECT_EQ(modem.Port, "19200 8N1 rtscts") << "the form's readers' own defaults";
    const THostRow& wired = list.Entries[3].Row;
    EXPECT_EQ(wired.Protocol, THostProtocol::Serial);
    EXPECT_EQ(wired.HostName, "/dev/ttyS1");
    EXPECT_EQ(wired.Port, "9600 7E2 xonxoff");
    EXPECT_EQ(list.Entries[4].Row.Port, "19200 8N1 none") << "no RTS, no RTS/CTS; a rate we lack";
}

TEST(DirectoryLists, CsvAndTheIniFormRoundTripWithoutPasswords) {
    const TListImport csv = ParseDirectoryList("name,kind,address,port,width\n"
                                               "\"Club, BBS\",Telnet,bbs.example.org,23,40\n"
                                               "Bridge,Raw,raw.example.org,9000,80\n"
                                               "Shell,SSH,ssh.example.org,22,80\n"
                                               "Dial-up,Modem,555-1234,,40\n"
                                               "Wired,Serial,/dev/ttyS1,9600 7E2 xonxoff,80\n");
    ASSERT_EQ(csv.Entries.size(), 4u);
    EXPECT_EQ(csv.Skipped, 1);
    EXPECT_EQ(csv.Entries[0].Row.Description, "Club, BBS");
    std::vector<THostRow> rows;
    for (const TListEntry& entry : csv.Entries) {
        rows.push_back(entry.Row);
    }
    rows[0].UserName = "guest";
    rows[0].Calls = 4;
    rows[0].LastCall = "2026-12-10 07:00";
    for (const std::string& text : {WriteDirectoryCsv(rows), WriteBbsListIni(rows)}) {
        SCOPED_TRACE(text);
        const TListImport again = ParseDirectoryList(text);
        ASSERT_EQ(again.Entries.size(), 4u);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(again.Entries[i].Row.Description, rows[i].Description);
            EXPECT_EQ(again.Entries[i].Row.HostName, rows[i].HostName);
            EXPECT_EQ(again.Entries[i].Row.Port, rows[i].Port);
            EXPECT_EQ(again.Entries[i].Row.Protocol, rows[i].Protocol);
            EXPECT_EQ(again.Entries[i].Row.Columns, rows[i].Columns);
            EXPECT_EQ(again.Entries[i].Row.Modem.Number, rows[i].Modem.Number);
            EXPECT_TRUE(again.Entries[i].Password.empty());
        }
        if (text.front() == '[') {
            EXPECT_EQ(again.Entries[0].Row.Calls, 4);
            EXPECT_EQ(again.Entries[0].Row.LastCall, "2026-12-10 07:00");
        }
    }
}

TEST(DirectoryLists, AnImportUpdatesEntriesOfTheSameNameAndAddsTheOthers) {
    TMemorySettingsStore store;
    THostDirectory directory(store);
    directory.LoadHosts();
    // What lists do not carry stays as the user set it.
    THostRow atari{"old.example.org", "23", "ATARI LAND"};
    atari.UserName = "sam";
    atari.LoginSteps = "LOGIN={user}{eol}";
    atari.ConnectTimeout = 90;
    atari.EscapeShowsControls = true;
    directory.Edits() = atari;
    ASSERT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    ASSERT_TRUE(directory.RecordCall("Atari Land", "2026-12-01 10:00"));
    THostRow modem{"/dev/ttyACM0", "9600 8N1 none", "Old Modem", THostProtocol::Modem};
    modem.Modem.InitString = "AT&F1";
    modem.Modem.Redials = 5;
    directory.Edits() = modem;
    ASSERT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    std::vector<THostRow> rows;
    for (const TListEntry& entry : ParseDirectoryList(kList).Entries) {
        rows.push_back(entry.Row);
    }
    THostDirectory::TMergeCounts counts;
    ASSERT_TRUE(directory.Merge(rows, counts));
    EXPECT_EQ(counts.Added, 3);
    EXPECT_EQ(counts.Updated, 2);
    ASSERT_EQ(directory.RowCount(), 6);
    THostRow updated = atari;
    updated.HostName = "atari.example.org";
    updated.Port = "2323";
    updated.Columns = 80;
    updated.UserName = "guest";
    updated.Calls = 3; // the larger count stays
    updated.LastCall = "2026-12-01 10:00";
    EXPECT_EQ(directory.Row(1), updated);
    EXPECT_EQ(directory.Row(3).Description, "Raw Board");
    const THostRow& dialUp = directory.Row(2);
    EXPECT_EQ(dialUp.Description, "Old Modem");
    EXPECT_EQ(dialUp.Modem.Number, "555-1234") << "kept in the store";
    EXPECT_EQ(dialUp.HostName, "/dev/ttyACM0") << "lists never name the modem's port";
    EXPECT_EQ(dialUp.Port, "19200 8N1 rtscts");
    EXPECT_EQ(dialUp.Modem.InitString, "AT&F1");
    EXPECT_EQ(dialUp.Modem.Redials, 5);
}

struct TLoginCase {
    const char* what;
    std::string steps;
    std::string user;
    std::string password;
    std::vector<std::string> received; // in pieces, as the line delivers them
    std::string typed;                 // what the watch types, 155 as '\n'
};

void PrintTo(const TLoginCase& test, std::ostream* out) {
    *out << test.what;
}

class LoginWatchTest : public ::testing::TestWithParam<TLoginCase> {};

TEST_P(LoginWatchTest, TypesEachStepOnceWhenItsPromptArrives) {
    const TLoginCase& test = GetParam();
    TLoginWatch watch(ParseLoginSteps(test.steps), test.user, test.password);
    std::string typed;
    for (const std::string& piece : test.received) {
        for (const std::uint8_t code :
             watch.Feed(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size())) {
            typed += code == 155 ? '\n' : static_cast<char>(code);
        }
    }
    EXPECT_EQ(typed, test.typed);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoginWatchTest,
    ::testing::Values(
        TLoginCase{"DefaultSteps",
                   "",
                   "guest",
                   "pw",
                   {"WELCOME\x9bYour na", "me? ", "guest\x9bPassword: "},
                   "guest\npw\n"},
        TLoginCase{"EachOnce",
                   "",
                   "guest",
                   "pw",
                   {"User: ", "Login: ", "PASS? ", "pass? "},
                   "guest\npw\n"},
        TLoginCase{
            "InverseVideoPrompt", "", "guest", "pw", {"\xC8\xC1\xCE\xC4\xCC\xC5:"}, "guest\n"},
        TLoginCase{
            "NoPasswordLeavesItsStepOut", "", "guest", "", {"Name? ", "Password? "}, "guest\n"},
        TLoginCase{"NoUserLeavesItsStepOut", "", "", "pw", {"Name? ", "Password? "}, "pw\n"},
        TLoginCase{"OwnSteps",
                   "Logon|Handle = {user}{eol} ; press RETURN={eol}",
                   "sam",
                   "",
                   {"Press return", "LOGON:"},
                   "\nsam\n"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(HostUrls, TheSchemeInAnyCaseAndAUserBeforeTheHost) {
    const auto url = SplitHostUrl("TeLnEt://guest:pw@bbs.example.org:2323/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->User, "guest") << "the password is dropped";
    EXPECT_EQ(url->HostPort, "bbs.example.org:2323");
    EXPECT_EQ(SplitHostUrl("RAW://h:9")->Protocol, THostProtocol::Raw);
    EXPECT_FALSE(SplitHostUrl("ssh://h"));
    EXPECT_TRUE(HasOtherScheme("ssh://h"));
    EXPECT_FALSE(SplitHostUrl("bbs.example.org"));
}

} // namespace
} // namespace telvora

namespace telvora {
namespace {

TEST(DirectoryLists, SortingByAColumnKeepsTheEmptyRowLastAndTheCurrentEntryCurrent) {
    TMemorySettingsStore store;
    THostDirectory directory(store);
    directory.LoadHosts();
    for (const auto& [name, port] : {std::pair{"Alpha", "2300"}, {"beta", "23"}, {"Gamma", "80"}}) {
        directory.Edits() = THostRow{"h.example", port, name};
        ASSERT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    }
    directory.EnterRow(1);
    directory.SortRows(THostSortKey::Port, false);
    EXPECT_EQ(directory.Row(1).Description, "beta");
    EXPECT_EQ(directory.Row(3).Description, "Alpha");
    EXPECT_EQ(directory.CurrentRow(), 3) << "Alpha stays current";
    EXPECT_TRUE(directory.Row(4).HostName.empty());
    directory.SortRows(THostSortKey::Description, true);
    EXPECT_EQ(directory.Row(1).Description, "Gamma");
    EXPECT_FALSE(directory.IsListedByDescription());
}

} // namespace
} // namespace telvora
