#include "common/message_box.h"

#include <QApplication>
#include <QMessageBox>

#include <atomic>
#include <cstdio>

namespace telvora {

namespace {
std::atomic<bool> g_toStandardError{false};
std::function<void(const QString& text)> g_sink;
} // namespace

void SetMessageSink(std::function<void(const QString& text)> sink) {
    g_sink = std::move(sink);
}

void SetMessagesToStandardError(bool on) {
    g_toStandardError = on;
}

namespace {

// Where a message goes when no box shows it; false when a box should.
bool ToldWithoutBox(const QString& text) {
    if (g_sink) {
        g_sink(text);
        return true;
    }
    if (g_toStandardError) {
        std::fprintf(stderr, "telvora: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return true;
    }
    return false;
}

} // namespace

bool AskYesNo(QWidget* parent, const QString& text) {
    if (ToldWithoutBox(text)) {
        return true;
    }
    return QMessageBox::question(parent, QApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void ShowMessage(QWidget* parent, const QString& text, MessageKind kind) {
    if (ToldWithoutBox(text)) {
        return;
    }
    const QString title = QApplication::applicationName();
    switch (kind) {
    case MessageKind::Error:
        QMessageBox::critical(parent, title, text);
        break;
    case MessageKind::Information:
        QMessageBox::information(parent, title, text);
        break;
    case MessageKind::Plain: {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
        box.exec();
        break;
    }
    }
}

} // namespace telvora
