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
void SetMessagesToStandardError(bool on);
// A question with Yes and No; true for Yes. Without a window (standard
// error), the answer is No. The sink, when set, is told the text and the
// answer is No.
bool AskYesNo(QWidget* parent, const QString& text);
// Hands every message to sink instead (a test that reads what the user is
// told); an empty one restores the boxes. User-interface thread.
void SetMessageSink(std::function<void(const QString& text)> sink);

} // namespace telvora
