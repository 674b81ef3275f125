#include "common/text_helpers.h"
#include "directory/host_directory.h"
#include "directory/qt_settings_store.h"
#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace telvora {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Makes every file write beyond a few bytes fail, as on a full disk. Holds for
// root as well, unlike folder permissions.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool Active() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = test::FreshConfigFolder(QStringLiteral("store"));
        ASSERT_TRUE(FileName().startsWith(m_folder)) << FileName().toStdString();
    }

    QString FileName() const { return TQtSettingsStore(kOrg, kApp).FileName(); }

    static std::vector<THostRow> LoadedRows() {
        TQtSettingsStore store(kOrg, kApp);
        THostDirectory directory(store);
        directory.LoadHosts();
        return directory.Rows();
    }

    // Reads a copy of the file in a folder of its own, so that what is seen
    // comes from the bytes on disk, not from QSettings' in-process cache.
    std::vector<THostRow> RowsFromDisk() {
        const QByteArray bytes = ReadFile(FileName());
        const QString saved = m_folder;
        const QString copy = test::FreshConfigFolder(QStringLiteral("copy"));
        WriteFile(QDir(copy).filePath(QStringLiteral("Marrowby/Telvora.conf")), bytes);
        std::vector<THostRow> rows = LoadedRows();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, saved);
        return rows;
    }

    static THostEditResult SaveAsNew(THostDirectory& directory, const THostRow& typed) {
        directory.Edits() = typed;
        return directory.SaveAsNew();
    }

    // Saves each row as a new entry through a store of its own, gone on return.
    static void SaveEntries(const std::vector<THostRow>& rows) {
        TQtSettingsStore store(kOrg, kApp);
        THostDirectory directory(store);
        directory.LoadHosts();
        for (const THostRow& row : rows) {
            ASSERT_EQ(SaveAsNew(directory, row), THostEditResult::Saved) << row.Description;
        }
    }

    static inline const QString kOrg = QStringLiteral("Marrowby");
    static inline const QString kApp = QStringLiteral("Telvora");
    QString m_folder;
};

TEST_F(QtSettingsStoreTest, FileLivesInTheConfigurationFolderUnderOrganization) {
    EXPECT_EQ(FileName(), QDir(m_folder).filePath(QStringLiteral("Marrowby/Telvora.conf")));
    EXPECT_EQ(TQtSettingsStore(kOrg, kApp).RootKey(), THostDirectory::kDirectoryKey);
}

TEST_F(QtSettingsStoreTest, AwkwardDescriptionsAndHostsRoundTripThroughTheFile) {
    const std::vector<THostRow> typed = {
        {"bbs.example.org", "23", "Club BBS"},
        {"raw.example.org", "9000", "Raw Board", THostProtocol::Raw},
        {"slash.example", "2323", "a/b\\c//d\\\\", THostProtocol::Raw},
        {"k=v;#x", "1", "key=value; #not a comment"},
        {"\"quoted\"", "2", "100% \"double\" 'single'"},
        {"\xC3\xBCmlaut.example", "3", "Caf\xC3\xA9 \xC3\x9C\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC"},
        {" padded host ", " 6502 ", " padded "},
        {"@Variant(x)", "4", "[General]"},
        {"a, b", "5", "@at sign"},
        {"tab\there", "6", "_5F looks escaped_", THostProtocol::Raw},
    };
    SaveEntries(typed);
    std::vector<THostRow> expected = typed;
    std::sort(expected.begin(), expected.end(), [](const THostRow& a, const THostRow& b) {
        return LowerAscii(a.Description) < LowerAscii(b.Description);
    });
    expected.push_back(THostRow{});
    EXPECT_EQ(LoadedRows(), expected);
    EXPECT_EQ(RowsFromDisk(), expected);
}

TEST_F(QtSettingsStoreTest, NamesDifferingOnlyInCaseAreOneValue) {
    {
        TQtSettingsStore store(kOrg, kApp);
        ASSERT_TRUE(store.OpenKey(THostDirectory::kDirectoryKey));
        store.WriteString("Club BBS", "first");
        store.WriteString("CLUB bbs", "second");
        store.WriteString("Caf\xC3\xA9", "third");
        store.WriteString("CAF\xC3\x89", "fourth");
        EXPECT_THAT(store.ValueNames(), UnorderedElementsAre("CLUB bbs", "CAF\xC3\x89"));
        EXPECT_EQ(store.ReadString("club BBS"), "second");
        ASSERT_TRUE(store.CloseKey());
    }
    TQtSettingsStore store(kOrg, kApp);
    ASSERT_TRUE(store.OpenKey(THostDirectory::kDirectoryKey));
    EXPECT_THAT(store.ValueNames(), UnorderedElementsAre("CLUB bbs", "CAF\xC3\x89"));
    EXPECT_EQ(store.ReadString("caf\xC3\xA9"), "fourth");
    EXPECT_EQ(store.ReadString("missing"), "");
    store.CloseKey();
}

TEST_F(QtSettingsStoreTest, NonAsciiDescriptionsSortRegardlessOfCase) {
    std::vector<THostRow> typed;
    // Byte order would put \303\211 (capital E acute) before \303\244 (a umlaut).
    for (const char* description :
         {"\303\211toile", "Zulu", "\303\244rger", "Apfel", "\303\251clair"}) {
        typed.push_back({"h", "23", description});
    }
    SaveEntries(typed);
    std::vector<std::string> listed;
    for (const THostRow& row : LoadedRows()) {
        listed.push_back(row.Description);
    }
    EXPECT_THAT(listed,
                ElementsAre("Apfel", "Zulu", "\303\244rger", "\303\251clair", "\303\211toile", ""));
}

TEST_F(QtSettingsStoreTest, HandEditedNamesAreMatchedAndReplacedWithoutRegardToCase) {
    WriteFile(FileName(), "[General]\nclub%20bbs=old.host\nCLUB%20BBS-port=2300\n");
    ASSERT_THAT(LoadedRows(), ElementsAre(THostRow{"old.host", "2300", "club bbs"}, THostRow{}));

    TQtSettingsStore store(kOrg, kApp);
    THostDirectory directory(store);
    directory.LoadHosts();
    ASSERT_EQ(SaveAsNew(directory, {"new.host", "23", "Club BBS"}), THostEditResult::Saved);
    EXPECT_THAT(directory.Rows(), ElementsAre(THostRow{"new.host", "23", "Club BBS"}, THostRow{}));
    const QByteArray bytes = ReadFile(FileName());
    EXPECT_FALSE(bytes.contains("old.host")) << bytes.toStdString();
    EXPECT_EQ(RowsFromDisk(), directory.Rows());
}

TEST_F(QtSettingsStoreTest, TypesAreStoredBesideTheUnchangedHostAndPortLines) {
    // A file written before hosts had a type reads as Telnet hosts.
    WriteFile(FileName(), "[General]\nClub%20BBS=bbs.example.org\nClub%20BBS-PORT=23\n"
                          "Raw%20Board=raw.example.org\nRaw%20Board-PORT=9000\n");
    ASSERT_THAT(LoadedRows(),
                ElementsAre(THostRow{"bbs.example.org", "23", "Club BBS", THostProtocol::Telnet},
                            THostRow{"raw.example.org", "9000", "Raw Board", THostProtocol::Telnet},
                            THostRow{}));
    {
        TQtSettingsStore store(kOrg, kApp);
        THostDirectory directory(store);
        directory.LoadHosts();
        directory.EnterRow(2);
        directory.Edits().Protocol = THostProtocol::Raw;
        ASSERT_EQ(directory.Update(), THostEditResult::Saved);
    }
    const QByteArray bytes = ReadFile(FileName());
    for (const char* line : {"\nClub_20BBS=bbs.example.org\n", "\nClub_20BBS-PORT=23\n",
                             "\nClub_20BBS-PORT-TYPE=Telnet\n", "\nRaw_20Board=raw.example.org\n",
                             "\nRaw_20Board-PORT=9000\n", "\nRaw_20Board-PORT-TYPE=Raw\n"}) {
        EXPECT_TRUE(bytes.contains(line)) << line << " in " << bytes.toStdString();
    }
    EXPECT_THAT(RowsFromDisk(),
                ElementsAre(THostRow{"bbs.example.org", "23", "Club BBS", THostProtocol::Telnet},
                            THostRow{"raw.example.org", "9000", "Raw Board", THostProtocol::Raw},
                            THostRow{}));
}

TEST_F(QtSettingsStoreTest, ValuesOfAnotherTypeReadAsEmpty) {
    WriteFile(FileName(), "[General]\nA=@ByteArray(xyz)\nA-PORT=23\nB=1, 2\nB-PORT=@Rect(1 2 3 4)\n"
                          "C=c.host\nC-PORT=25\nD=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x4QBad)\n"
                          "D-PORT=26\n");
    EXPECT_THAT(LoadedRows(),
                ElementsAre(THostRow{"", "23", "A"}, THostRow{"", "23", "B"},
                            THostRow{"c.host", "25", "C"}, THostRow{"", "26", "D"}, THostRow{}));
}

TEST_F(QtSettingsStoreTest, UnparseableFileReadsWithoutCrashAndCanBeSavedOver) {
    // A NUL inside: the length is the literal's own, without its final NUL.
    static constexpr char kJunk[] = "\x01\xff\xfe[Gen\0eral\n=\n[\n%%%=\xc3(\n";
    QByteArray junk(kJunk, sizeof kJunk - 1);
    for (int i = 0; i < 200; ++i) {
        junk.append(static_cast<char>((i * 73) & 0xff));
    }
    WriteFile(FileName(), junk);
    TQtSettingsStore store(kOrg, kApp);
    THostDirectory directory(store);
    directory.LoadHosts();
    ASSERT_GE(directory.RowCount(), 1);
    ASSERT_EQ(SaveAsNew(directory, {"h.example", "23", "Fresh"}), THostEditResult::Saved);
    EXPECT_EQ(RowsFromDisk(), (std::vector<THostRow>{{"h.example", "23", "Fresh"}, {}}));
}

TEST_F(QtSettingsStoreTest, SaveIntoAnUncreatableFolderFailsAndKeepsNothingPending) {
    // The configuration folder's parent is a regular file: no one, root
    // included, can create the folder.
    const QString blocker = QDir(m_folder).filePath(QStringLiteral("blocker"));
    WriteFile(blocker, "not a folder");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    {
        TQtSettingsStore store(kOrg, kApp);
        THostDirectory directory(store);
        directory.LoadHosts();
        EXPECT_EQ(SaveAsNew(directory, {"h.example", "23", "Lost"}), THostEditResult::StoreFailed);
        EXPECT_THAT(directory.Rows(), ElementsAre(THostRow{}));
    }
    // The failed values are not left in QSettings' cache for the next reader.
    EXPECT_THAT(LoadedRows(), ElementsAre(THostRow{}));
    EXPECT_EQ(ReadFile(blocker), "not a folder");
}

// Takes write permission from a folder and gives it back on leaving.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(QString path) : m_path(std::move(path)) {
        m_old = QFile::permissions(m_path);
        m_active = QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    ~TReadOnlyFolder() { QFile::setPermissions(m_path, m_old); }
    bool Active() const { return m_active; }

private:
    QString m_path;
    QFileDevice::Permissions m_old;
    bool m_active = false;
};

// A way for saves into the file's folder to fail while its guard lives.
struct TFailingSave {
    const char* what;
    // Whether it fails for root too, who writes into read-only folders.
    bool failsForRoot;
    // nullptr when it could not be arranged.
    std::shared_ptr<void> (*make)(const QString& folder);
};

void PrintTo(const TFailingSave& failing, std::ostream* out) {
    *out << failing.what;
}

template <class TGuard> std::shared_ptr<void> ActiveOrNull(std::shared_ptr<TGuard> guard) {
    return guard->Active() ? guard : nullptr;
}

class QtSettingsStoreFailingSaveTest : public QtSettingsStoreTest,
                                       public ::testing::WithParamInterface<TFailingSave> {};

TEST_P(QtSettingsStoreFailingSaveTest, LosesNothingAndIsNotWrittenLater) {
    if (!GetParam().failsForRoot && geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the full-disk and uncreatable-folder "
                        "tests fail the save for root too";
    }
    SaveEntries({{"a.example", "23", "Alpha"}, {"b.example", "24", "Beta"}});
    const QByteArray before = ReadFile(FileName());
    const std::vector<THostRow> rowsBefore = LoadedRows();
    ASSERT_EQ(rowsBefore.size(), 3u);
    {
        const auto guard = GetParam().make(QFileInfo(FileName()).absolutePath());
        ASSERT_TRUE(guard);
        TQtSettingsStore store(kOrg, kApp);
        THostDirectory directory(store);
        directory.LoadHosts();
        EXPECT_EQ(SaveAsNew(directory, {"failed.example", "1", "Failed"}),
                  THostEditResult::StoreFailed);
        EXPECT_EQ(directory.Delete(), THostEditResult::StoreFailed);
        EXPECT_EQ(directory.Rows(), rowsBefore);
        EXPECT_EQ(LoadedRows(), rowsBefore);
    }
    EXPECT_EQ(ReadFile(FileName()), before);
    EXPECT_THAT(QDir(QFileInfo(FileName()).absolutePath()).entryList(QDir::Files),
                ElementsAre("Telvora.conf"))
        << "no temporary file is left behind";
    // Once saves work again, nobody writes the failed changes later.
    EXPECT_EQ(LoadedRows(), rowsBefore);
    {
        QSettings settings(kOrg, kApp);
        settings.sync();
    }
    EXPECT_FALSE(ReadFile(FileName()).contains("failed.example"));
    EXPECT_EQ(RowsFromDisk(), rowsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, QtSettingsStoreFailingSaveTest,
    ::testing::Values(TFailingSave{"ReadOnlyFolder", false,
                                   [](const QString& folder) {
                                       return ActiveOrNull(
                                           std::make_shared<TReadOnlyFolder>(folder));
                                   }},
                      TFailingSave{"FullDisk", true,
                                   [](const QString&) {
                                       return ActiveOrNull(std::make_shared<TFileSizeLimit>(16));
                                   }}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(QtSettingsStoreTest, PathsOutsideTheRootKeyAreRefused) {
    TQtSettingsStore store(kOrg, kApp);
    EXPECT_FALSE(store.OpenKey("Software\\Elsewhere\\Telvora"));
    EXPECT_TRUE(store.ValueNames().empty());
    store.WriteString("x", "y");
    EXPECT_TRUE(store.CloseKey());
    EXPECT_FALSE(QFile::exists(FileName()));
}

TEST(QtSettingsStoreOtherRoot, DirectoryKeyOutsideTheRootCannotBeSavedAndIsReported) {
    const QString folder = test::FreshConfigFolder(QStringLiteral("other"));
    TQtSettingsStore store(QStringLiteral("Someone"), QStringLiteral("Else"));
    THostDirectory directory(store);
    directory.LoadHosts();
    EXPECT_EQ(directory.RowCount(), 1);
    directory.Edits() = THostRow{"h.example", "23", "Entry"};
    EXPECT_EQ(directory.SaveAsNew(), THostEditResult::StoreFailed);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

// A file that must not be read: what it is, and what the message says of it.
struct TBrokenFile {
    const char* what;
    std::function<void(const QString& path)> make;
    const char* message;
};

void PrintTo(const TBrokenFile& file, std::ostream* out) {
    *out << file.what;
}

class BrokenSettingsFileTest : public QtSettingsStoreTest,
                               public ::testing::WithParamInterface<TBrokenFile> {};

TEST_P(BrokenSettingsFileTest, IsRefusedWithItsNameAndReplacedOnlyBySaving) {
    const QString path = FileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    GetParam().make(path);
    const auto before = std::filesystem::status(path.toStdString()).type();
    const auto sizeBefore = QFileInfo(path).size();

    TQtSettingsStore store(kOrg, kApp);
    THostDirectory directory(store);
    directory.LoadHosts();
    EXPECT_THAT(directory.Rows(), ElementsAre(THostRow{})) << "nothing read, as if empty";
    EXPECT_THAT(directory.LoadProblem(), ::testing::HasSubstr(path.toStdString()));
    EXPECT_THAT(directory.LoadProblem(), ::testing::HasSubstr(GetParam().message));
    EXPECT_EQ(std::filesystem::status(path.toStdString()).type(), before) << "left as it was";
    EXPECT_EQ(QFileInfo(path).size(), sizeBefore);

    ASSERT_EQ(SaveAsNew(directory, THostRow{"bbs.example.org", "23", "Club BBS"}),
              THostEditResult::Saved);
    EXPECT_TRUE(QFileInfo(path).isFile()) << "the save replaced it";
    EXPECT_THAT(RowsFromDisk(),
                ElementsAre(THostRow{"bbs.example.org", "23", "Club BBS"}, THostRow{}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenSettingsFileTest,
    ::testing::Values(
        TBrokenFile{"fifo",
                    [](const QString& path) {
                        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                    },
                    "is not a regular file"},
        // A 50 MB value, written sparse: only its size matters.
        TBrokenFile{"huge",
                    [](const QString& path) {
                        WriteFile(path, "[General]\nClub%20BBS=");
                        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 50 << 20), 0);
                    },
                    "is larger than 4 MB"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(QtSettingsStoreTest, AValueLongerThanAnyEntryIsSkippedAndTheRestIsRead) {
    WriteFile(FileName(), "[General]\nClub%20BBS=bbs.example.org\nClub%20BBS-PORT=23\nLong=" +
                              QByteArray(5000, 'x') + "\nLong-PORT=23\n");
    TQtSettingsStore store(kOrg, kApp);
    THostDirectory directory(store);
    directory.LoadHosts();
    EXPECT_THAT(directory.Rows(), ElementsAre(THostRow{"bbs.example.org", "23", "Club BBS"},
                                              THostRow{"", "23", "Long"}, THostRow{}));
    EXPECT_THAT(directory.LoadProblem(), ::testing::HasSubstr("holds a value or name of 5000"));
    EXPECT_THAT(directory.LoadProblem(), ::testing::HasSubstr(FileName().toStdString()));
}

TEST_F(QtSettingsStoreTest, LoginsCallsAndSettingsOfAnEntryRoundTripAndOldEntriesReadAsBefore) {
    WriteFile(FileName(), "[General]\nOld=old.example.org\nOld-PORT=23\n");
    TQtSettingsStore store(kOrg, kApp);
    THostDirectory directory(store);
    directory.LoadHosts();
    THostRow kept{"bbs.example.org", "2323", "Club BBS", THostProtocol::Raw, 80, 12};
    kept.UserName = "guest";
    kept.LoginSteps = "LOGON={user}{eol}";
    kept.EscapeShowsControls = true;
    kept.RawOffered = true;
    ASSERT_EQ(SaveAsNew(directory, kept), THostEditResult::Saved);
    ASSERT_TRUE(directory.RecordCall("CLUB bbs", "2026-12-10 07:00"));
    ASSERT_TRUE(directory.RecordCall("Club BBS", "2026-12-10 08:00"));
    kept.Calls = 2;
    kept.LastCall = "2026-12-10 08:00";
    EXPECT_THAT(RowsFromDisk(),
                ElementsAre(kept, THostRow{"old.example.org", "23", "Old"}, THostRow{}));
    EXPECT_FALSE(ReadFile(FileName()).contains("Old-PORT-USER")) << "defaults are not written";
}

} // namespace
} // namespace telvora
