// The host directory from the command line, with a real keyring: a BBS list
// imported, listed, and its board called by name and logged in.
#include "directory/login_keyring.h"

#include "keyring_session.h"
#include "loopback_peer.h"
#include "run_telvora.h"

#include <QFile>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

using namespace telvora;
using namespace telvora::test;
using ::testing::HasSubstr;

namespace {

class DirectoryCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_keyring.Ready()) << "dbus-run-session and gnome-keyring-daemon are needed";
        std::filesystem::remove(ConfigFile());
    }
    void TearDown() override { std::filesystem::remove(m_list); }

    static std::filesystem::path ConfigFile() {
        return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Marrowby/Telvora.conf";
    }
    std::string WriteList(const std::string& text) {
        std::ofstream(m_list) << text;
        return Quote(m_list.string());
    }

    TKeyringSession m_keyring;
    std::filesystem::path m_list = std::filesystem::temp_directory_path() /
                                   ("telvora_list_" + std::to_string(getpid()) + ".lst");
};

TEST_F(DirectoryCommandLine, TheKeyringKeepsReadsAndForgetsAPassword) {
    const TLoginKeyring keyring(QStringLiteral("Telvora test"));
    EXPECT_EQ(keyring.ReadPassword("Club BBS"), std::string()) << "none kept yet";
    ASSERT_TRUE(keyring.WritePassword("Club BBS", "s3cret"))
        << "[" << keyring.LastError().toStdString() << "]";
    EXPECT_EQ(keyring.ReadPassword("club bbs"), "s3cret") << "names compare without case";
    ASSERT_TRUE(keyring.DeletePassword("CLUB BBS"));
    EXPECT_EQ(keyring.ReadPassword("Club BBS"), std::string());
}

TEST_F(DirectoryCommandLine, AnImportedBoardIsCalledByNameAndLoggedInByTheDefaultSteps) {
    LoopbackPeer peer;
    std::string received;
    std::thread board([&] {
        if (peer.Accept(30000)) {
            peer.SendText("WELCOME\x9bYour name? ");
            const auto name = peer.Read(6);
            peer.SendText("\x9bPassword: ");
            const auto password = peer.Read(7);
            received.assign(name.begin(), name.end());
            received.append(password.begin(), password.end());
            peer.CloseConnection();
        }
    });
    // Imported again, the board's new password goes with the user name the
    // entry kept.
    const auto list = [&](const std::string& login) {
        return WriteList("[Guest BBS]\nConnectionType=Raw\nAddress=127.0.0.1\nPort=" +
                         peer.PortText() + "\n" + login +
                         "\n\n[Secure BBS]\nConnectionType=SSH\nAddress=ssh.example\n\n"
                         "[Lone BBS]\nAddress=lone.example\nPassword=alone\n");
    };
    const Outcome first = RunTelvora("--import-directory " + list("UserName=guest\nPassword=old"));
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_THAT(first.out, HasSubstr("Took 2 entries (2 new, 0 updated) and skipped 1"));
    const Outcome again = RunTelvora("--headless --import-directory " + list("Password=secret"));
    EXPECT_THAT(again.out, HasSubstr("Took 2 entries (0 new, 2 updated) and skipped 1"));
    const Outcome listed = RunTelvora("--list-entries");
    EXPECT_EQ(listed.out, "Guest BBS\tRaw\t127.0.0.1:" + peer.PortText() +
                              "\t40\t0\t-\nLone BBS\tTelnet\tlone.example:23\t40\t0\t-\n");
    EXPECT_EQ(TLoginKeyring().ReadPassword("Lone BBS"), "") << "a password without its login";

    const Outcome call = RunTelvora("--headless --exit-when-done --entry 'guest bbs'");
    board.join();
    EXPECT_EQ(call.status, 0) << call.err;
    EXPECT_EQ(received, "guest\x9bsecret\x9b");

    const Outcome counted = RunTelvora("--headless --list-entries");
    EXPECT_THAT(counted.out, ::testing::ContainsRegex(
                                 "Guest BBS\tRaw\t127.0.0.1:[0-9]+\t40\t1\t20[0-9-]+ [0-9:]+\n"));
    EXPECT_THAT(ReadAll(ConfigFile()), ::testing::Not(HasSubstr("secret")))
        << "no password in plain text";
}

TEST_F(DirectoryCommandLine, AMissingEntryAndAnUnreadableListFail) {
    const Outcome missing = RunTelvora("--headless --exit-when-done --entry Nowhere");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("no entry named 'Nowhere'"));
    const Outcome unreadable = RunTelvora("--import-directory /nonexistent/list.lst");
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_FALSE(unreadable.err.empty());
}

} // namespace
