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

bool AskYesNo(QWidget* parent, const QString& text) {
    if (g_sink) {
        g_sink(text);
        return false;
    }
    if (g_toStandardError) {
        return false;
    }
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

void ShowMessage(QWidget* parent, const QString& text, MessageKind kind) {
    if (g_sink) {
        g_sink(text);
        return;
    }
    if (g_toStandardError) {
        std::fprintf(stderr, "telvora: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
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
