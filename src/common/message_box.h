#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace telvora {

// Plain modal message boxes with fixed texts. When the program runs without a
// window, the text goes to standard error instead and counts as answered OK.
// Plain boxes carry no icon (the host directory's notes).
enum class MessageKind { Information, Error, Plain };

void ShowMessage(QWidget* parent, const QString& text, MessageKind kind = MessageKind::Error);
// A question with Yes and No, No the default; true for Yes. Without a window
// (standard error or a sink) the text is told and counts as answered Yes.
bool AskYesNo(QWidget* parent, const QString& text);
void SetMessagesToStandardError(bool on);
// Hands every message to sink instead (a test that reads what the user is
// told); an empty one restores the boxes. User-interface thread.
void SetMessageSink(std::function<void(const QString& text)> sink);

} // namespace telvora
