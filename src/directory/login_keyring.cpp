#include "directory/login_keyring.h"

#include "common/qt_text.h"
#include "directory/qt_settings_store.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace telvora {

namespace {

QString KeyOf(const std::string& entry) {
    return FromUtf8(TQtSettingsStore::FoldedName(entry));
}

// Runs the job to its end, or gives up after the timeout; false then.
bool RunJob(QKeychain::Job& job, QString& error) {
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(TLoginKeyring::kTimeoutMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished) {
        loop.exec();
    }
    if (!finished) {
        error = QStringLiteral("The keyring did not answer.");
        return false;
    }
    error = job.error() == QKeychain::NoError ? QString()
            : job.errorString().isEmpty()
                ? QStringLiteral("keyring error %1").arg(static_cast<int>(job.error()))
                : job.errorString();
    return true;
}

} // namespace

TLoginKeyring::TLoginKeyring(QString service) : m_service(std::move(service)) {}

std::optional<std::string> TLoginKeyring::ReadPassword(const std::string& entry) const {
    QKeychain::ReadPasswordJob job(m_service);
    job.setAutoDelete(false);
    job.setKey(KeyOf(entry));
    if (!RunJob(job, m_lastError)) {
        return std::nullopt;
    }
    if (job.error() == QKeychain::EntryNotFound) {
        m_lastError.clear();
        return std::string();
    }
    if (job.error() != QKeychain::NoError) {
        return std::nullopt;
    }
    return ToUtf8(job.textData());
}

bool TLoginKeyring::WritePassword(const std::string& entry, const std::string& password) const {
    if (password.empty()) {
        return DeletePassword(entry);
    }
    QKeychain::WritePasswordJob job(m_service);
    job.setAutoDelete(false);
    // Never a file of our own in plain text instead.
    job.setInsecureFallback(false);
    job.setKey(KeyOf(entry));
    job.setTextData(FromUtf8(password));
    return RunJob(job, m_lastError) && job.error() == QKeychain::NoError;
}

bool TLoginKeyring::DeletePassword(const std::string& entry) const {
    QKeychain::DeletePasswordJob job(m_service);
    job.setAutoDelete(false);
    job.setKey(KeyOf(entry));
    if (!RunJob(job, m_lastError)) {
        return false;
    }
    if (job.error() == QKeychain::EntryNotFound) {
        m_lastError.clear();
        return true;
    }
    return job.error() == QKeychain::NoError;
}

} // namespace telvora
