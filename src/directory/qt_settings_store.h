#pragma once

#include "directory/settings_store.h"

#include <QHash>
#include <QSettings>
#include <QString>
#include <QTemporaryFile>
#include <QVariant>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace telvora {

// The settings store over QSettings(organization, application) in the native
// format: the registry key Software\<organization>\<application> on Windows,
// ~/.config/<organization>/<application>.conf on Linux. That key is the root
// this store accepts; paths below it are groups.
//
// Value names are escaped (see value_name_codec.h) and matched without regard
// to letter case. QSettings keeps changes in memory and writes the whole file
// atomically on sync(); CloseKey checks that write, and when it failed rolls
// the in-memory state back to what the file holds, because QSettings would
// otherwise keep the unsaved changes in its process-wide cache, show them to
// the next reader and write them later behind the user's back.
//
// The file is looked at before QSettings reads it, which it does whole and
// at once: one that is not a regular file (a FIFO would block the reader)
// or larger than kMaxFileBytes is not read at all, and reads as empty; a
// value or name longer than kMaxValueBytes, more than any entry holds,
// reads as missing. Problem() then says so. A refused file is left as it
// is until the directory is saved, which replaces it whole.
class TQtSettingsStore : public TSettingsStore {
public:
    // A directory of thousands of entries fits many times over.
    static constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
    // Far above a host name (253 bytes), a description or a login's steps.
    static constexpr qsizetype kMaxValueBytes = 4096;

    // The program's own settings file, which holds the host directory and
    // what else is kept between runs.
    static inline const QString kProgramOrganization = QStringLiteral("Marrowby");
    static inline const QString kProgramApplication = QStringLiteral("Telvora");

    TQtSettingsStore(QString organization, QString application);
    // The store of the program's own settings file.
    TQtSettingsStore();
    ~TQtSettingsStore() override;

    TQtSettingsStore(const TQtSettingsStore&) = delete;
    TQtSettingsStore& operator=(const TQtSettingsStore&) = delete;

    bool OpenKey(std::string_view path) override;
    std::vector<std::string> ValueNames() const override;
    std::string ReadString(std::string_view name) const override;
    void WriteString(std::string_view name, std::string_view value) override;
    void DeleteKey(std::string_view path) override;
    bool CloseKey() override;
    // Names as this store compares them (Unicode case folding, as the
    // Windows registry compares names), also for what keeps data under the
    // directory's names elsewhere (the keyring).
    static std::string FoldedName(std::string_view name);
    std::string FoldCase(std::string_view name) const override;

    // The key path that maps to the root of the QSettings file.
    std::string RootKey() const;
    // Where the store lives, found without reading it.
    QString FileName() const;
    std::string Problem() const override { return m_problem; }

private:
    using TSnapshot = std::vector<std::pair<QString, QVariant>>;

    std::unique_ptr<QSettings> NewSettings() const;
    // QSettings over an empty file beside the refused one, which replaces it
    // when a save succeeds.
    std::unique_ptr<QSettings> ReplacementSettings();
    bool ReplaceRefusedFile();
    void NoteTooLong(qsizetype bytes) const;
    QSettings& Session();
    std::optional<QString> GroupOf(std::string_view path) const;
    QString FullKey(const QString& storedName) const;
    QStringList StoredNames() const;
    // Stored names by their case-folded unescaped name; a hand-edited file
    // may hold several that fold alike.
    const QHash<QString, QStringList>& Index() const;
    QStringList MatchingStoredNames(std::string_view name) const;
    void RememberBeforeChange();
    void RollBack();
    bool WriteSucceeded() const;

    QString m_organization;
    QString m_application;
    std::unique_ptr<QSettings> m_settings;
    std::optional<QString> m_openGroup;
    std::optional<TSnapshot> m_before;
    mutable std::optional<QHash<QString, QStringList>> m_index;
    mutable std::string m_problem;
    std::unique_ptr<QTemporaryFile> m_replacement;
};

} // namespace telvora
