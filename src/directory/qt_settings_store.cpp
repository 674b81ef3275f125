#include "directory/qt_settings_store.h"

#include "common/qt_text.h"
#include "common/text_helpers.h"
#include "directory/value_name_codec.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace telvora {

namespace {

constexpr char kPathSeparator = '\\';

std::string NameOf(const QString& storedName) {
    return UnescapeValueName(ToUtf8(storedName));
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Names are compared without regard to letter case, non-ASCII letters too,
// as the Windows registry does. Unicode folds ASCII exactly as A..Z to a..z,
// and most names are ASCII: folding those directly keeps loading a large
// directory fast.
std::string FoldedUtf8(std::string_view name) {
    return IsAscii(name) ? LowerAscii(name) : ToUtf8(FromUtf8(name).toCaseFolded());
}

QString Folded(std::string_view name) {
    if (IsAscii(name)) {
        const std::string lower = LowerAscii(name);
        return QString::fromLatin1(lower.data(), static_cast<qsizetype>(lower.size()));
    }
    return FromUtf8(name).toCaseFolded();
}

// A QSettings reads its file when it is made, so the directory's own file is
// found through one that names a file nobody has, in the same folder.
const QString kPathProbe = QStringLiteral(".telvora-path-probe");

std::string Quoted(const QString& path) {
    return "\"" + ToUtf8(QDir::toNativeSeparators(path)) + "\"";
}

constexpr const char* kUntilSaved =
    "; it was not read, and it is replaced only when the directory is saved.";

// Why the file must not be read at all; empty when it may be (or is missing).
std::string Refusal(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return {};
    }
    if (!S_ISREG(status.st_mode)) {
        return "The host directory file " + Quoted(path) + " is not a regular file" + kUntilSaved;
    }
    if (status.st_size > TQtSettingsStore::kMaxFileBytes) {
        return "The host directory file " + Quoted(path) + " is larger than " +
               std::to_string(TQtSettingsStore::kMaxFileBytes / (1024 * 1024)) + " MB (" +
               std::to_string(status.st_size) + " bytes)" + kUntilSaved;
    }
    return {};
}

} // namespace

TQtSettingsStore::TQtSettingsStore()
    : TQtSettingsStore(kProgramOrganization, kProgramApplication) {}

TQtSettingsStore::TQtSettingsStore(QString organization, QString application)
    : m_organization(std::move(organization)), m_application(std::move(application)) {}

TQtSettingsStore::~TQtSettingsStore() {
    if (m_settings) {
        CloseKey();
    }
}

std::string TQtSettingsStore::RootKey() const {
    return "Software" + std::string(1, kPathSeparator) + ToUtf8(m_organization) +
           std::string(1, kPathSeparator) + ToUtf8(m_application);
}

QString TQtSettingsStore::FileName() const {
    const QSettings probe(m_organization, kPathProbe);
    return QFileInfo(probe.fileName()).dir().filePath(m_application + QStringLiteral(".conf"));
}

std::unique_ptr<QSettings> TQtSettingsStore::ReplacementSettings() {
    const QString path = FileName();
    m_replacement = std::make_unique<QTemporaryFile>(path + QStringLiteral(".XXXXXX"));
    // Where it cannot be made, the save fails when it is written.
    m_replacement->open();
    auto settings = std::make_unique<QSettings>(m_replacement->fileName(), QSettings::IniFormat);
    settings->setAtomicSyncRequired(true);
    return settings;
}

bool TQtSettingsStore::ReplaceRefusedFile() {
    const QString from = m_replacement->fileName();
    const bool renamed = std::rename(QFile::encodeName(from).constData(),
                                     QFile::encodeName(FileName()).constData()) == 0;
    m_replacement.reset();
    return renamed;
}

void TQtSettingsStore::NoteTooLong(qsizetype bytes) const {
    if (m_problem.empty()) {
        m_problem = "The host directory file " + Quoted(FileName()) + " holds a value or name of " +
                    std::to_string(bytes) + " bytes, longer than any entry has (" +
                    std::to_string(kMaxValueBytes) + " bytes at most); it was skipped.";
    }
}

std::unique_ptr<QSettings> TQtSettingsStore::NewSettings() const {
    auto settings = std::make_unique<QSettings>(m_organization, m_application);
    // The directory key holds nothing else: organization-wide and system-wide
    // files must not add hosts to it.
    settings->setFallbacksEnabled(false);
    settings->setAtomicSyncRequired(true);
    return settings;
}

// A fresh QSettings per session rereads the file if another program changed it.
QSettings& TQtSettingsStore::Session() {
    if (!m_settings) {
        m_problem = Refusal(FileName());
        m_settings = m_problem.empty() ? NewSettings() : ReplacementSettings();
    }
    return *m_settings;
}

std::optional<QString> TQtSettingsStore::GroupOf(std::string_view path) const {
    const std::string root = RootKey();
    const QString wanted = FromUtf8(path);
    const QString rootText = FromUtf8(root);
    if (wanted.compare(rootText, Qt::CaseInsensitive) == 0) {
        return QString();
    }
    const QString prefix = rootText + QChar(kPathSeparator);
    if (!wanted.startsWith(prefix, Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    QStringList groups;
    for (const QString& part : wanted.mid(prefix.size()).split(QChar(kPathSeparator))) {
        groups << QString::fromLatin1(EscapeValueName(ToUtf8(part)));
    }
    return groups.join(QChar('/'));
}

QString TQtSettingsStore::FullKey(const QString& storedName) const {
    const QString group = m_openGroup.value_or(QString());
    return group.isEmpty() ? storedName : group + QChar('/') + storedName;
}

bool TQtSettingsStore::OpenKey(std::string_view path) {
    m_openGroup = GroupOf(path);
    m_index.reset();
    if (!m_openGroup) {
        return false;
    }
    Session();
    return true;
}

QStringList TQtSettingsStore::StoredNames() const {
    if (!m_settings || !m_openGroup) {
        return {};
    }
    m_settings->beginGroup(*m_openGroup);
    QStringList names = m_settings->childKeys();
    m_settings->endGroup();
    // An empty key can be neither read nor written through QSettings.
    names.removeAll(QString());
    return names;
}

const QHash<QString, QStringList>& TQtSettingsStore::Index() const {
    if (!m_index) {
        QHash<QString, QStringList> index;
        for (const QString& stored : StoredNames()) {
            if (stored.size() > kMaxValueBytes) {
                NoteTooLong(stored.size());
                continue;
            }
            index[Folded(NameOf(stored))] << stored;
        }
        m_index = std::move(index);
    }
    return *m_index;
}

QStringList TQtSettingsStore::MatchingStoredNames(std::string_view name) const {
    return Index().value(Folded(name));
}

// Taken from the index, which the reads that follow need anyway: listing the
// keys of a large file costs more than decoding their names again.
std::vector<std::string> TQtSettingsStore::ValueNames() const {
    std::vector<std::string> names;
    const QHash<QString, QStringList>& index = Index();
    names.reserve(static_cast<std::size_t>(index.size()));
    for (const QStringList& stored : index) {
        for (const QString& one : stored) {
            names.push_back(NameOf(one));
        }
    }
    return names;
}

std::string TQtSettingsStore::FoldCase(std::string_view name) const {
    return FoldedName(name);
}

std::string TQtSettingsStore::FoldedName(std::string_view name) {
    return FoldedUtf8(name);
}

std::string TQtSettingsStore::ReadString(std::string_view name) const {
    const QStringList matches = MatchingStoredNames(name);
    if (matches.isEmpty()) {
        return {};
    }
    const QVariant value = m_settings->value(FullKey(matches.first()));
    // Lists, byte arrays and other types a hand-edited file may hold are not
    // host names or ports.
    if (value.typeId() != QMetaType::QString) {
        return {};
    }
    const QString text = value.toString();
    if (text.size() > kMaxValueBytes) {
        NoteTooLong(text.size());
        return {};
    }
    return ToUtf8(text);
}

void TQtSettingsStore::WriteString(std::string_view name, std::string_view value) {
    if (!m_settings || !m_openGroup) {
        return;
    }
    RememberBeforeChange();
    const QString folded = Folded(name);
    for (const QString& stored : MatchingStoredNames(name)) {
        m_settings->remove(FullKey(stored));
    }
    const QString stored = QString::fromLatin1(EscapeValueName(name));
    m_settings->setValue(FullKey(stored), FromUtf8(value));
    Index();
    (*m_index)[folded] = QStringList{stored};
}

void TQtSettingsStore::DeleteKey(std::string_view path) {
    const std::optional<QString> group = GroupOf(path);
    if (!group) {
        return;
    }
    QSettings& settings = Session();
    RememberBeforeChange();
    m_index.reset();
    // An empty key removes every entry of the file, the root key's subkeys too.
    settings.remove(*group);
}

void TQtSettingsStore::RememberBeforeChange() {
    if (m_before) {
        return;
    }
    TSnapshot before;
    for (const QString& key : m_settings->allKeys()) {
        // An empty key (from a hand-edited "=x" line) can be neither read nor
        // written back through QSettings.
        if (key.isEmpty()) {
            continue;
        }
        before.emplace_back(key, m_settings->value(key));
    }
    m_before = std::move(before);
}

void TQtSettingsStore::RollBack() {
    m_index.reset();
    m_settings->remove(QString());
    for (const auto& [key, value] : *m_before) {
        m_settings->setValue(key, value);
    }
}

bool TQtSettingsStore::WriteSucceeded() const {
    switch (m_settings->status()) {
    case QSettings::NoError:
        return true;
    case QSettings::AccessError:
        return false;
    case QSettings::FormatError:
        break;
    }
    // The replacement for a refused file starts empty: it always parses.
    if (m_replacement) {
        return false;
    }
    // A file that could not be parsed keeps the status at FormatError, which
    // hides whether the write worked. A fresh object starts clean: its sync
    // writes whatever is still pending and reports that write alone.
    const std::unique_ptr<QSettings> probe = NewSettings();
    probe->sync();
    return probe->status() == QSettings::NoError;
}

bool TQtSettingsStore::CloseKey() {
    bool written = true;
    if (m_settings && m_before) {
        m_settings->sync();
        written = WriteSucceeded() && (!m_replacement || ReplaceRefusedFile());
        if (!written) {
            RollBack();
        }
    }
    m_replacement.reset();
    m_before.reset();
    m_index.reset();
    m_openGroup.reset();
    m_settings.reset();
    return written;
}

} // namespace telvora
