#pragma once

#include <QString>

#include <optional>
#include <string>

namespace telvora {

// The passwords of directory entries, kept in the desktop's keyring (the
// Secret Service) and nowhere else: where no keyring runs, nothing is kept
// and the caller asks the user instead. Each call waits for the keyring's
// answer while the event loop goes on, at most kTimeoutMs.
class TLoginKeyring {
public:
    static constexpr int kTimeoutMs = 5000;

    // Entries are found by their name folded in case, as the directory
    // compares names.
    explicit TLoginKeyring(QString service = QStringLiteral("Telvora"));

    // nullopt when the keyring cannot be reached; empty when it holds none.
    std::optional<std::string> ReadPassword(const std::string& entry) const;
    // False when it could not be kept; an empty password deletes it.
    bool WritePassword(const std::string& entry, const std::string& password) const;
    bool DeletePassword(const std::string& entry) const;
    // What went wrong at the last call, for the user.
    const QString& LastError() const { return m_lastError; }

private:
    QString m_service;
    mutable QString m_lastError;
};

} // namespace telvora
