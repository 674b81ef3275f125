#include "app/status_line.h"

#include "app/session.h"
#include "screen/crt_screen.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>

#include <algorithm>

namespace telvora {

namespace {

constexpr int kPanel1Width = 100;
constexpr int kPanelPadding = 8;
constexpr int kPanel2Width = 50;
constexpr int kStatusBarHeight = 17;

} // namespace

TStatusLine::TStatusLine(QStatusBar& bar, TSession& session, TCrtScreen& screen)
    : QObject(&bar), m_session(session) {
    bar.setObjectName(QStringLiteral("StatusBar1"));
    bar.setSizeGripEnabled(false);
    bar.setFixedHeight(kStatusBarHeight);
    m_panel1 = new QLabel(&bar);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFixedWidth(kPanel1Width);
    m_panel2 = new QLabel(&bar);
    m_panel2->setObjectName(QStringLiteral("Panel2"));
    m_panel2->setMinimumWidth(kPanel2Width);
    bar.addWidget(m_panel1);
    // The last panel takes the rest of the bar, so that long texts show.
    bar.addWidget(m_panel2, 1);

    connect(&session, &TSession::StatusChanged, this,
            [this](const QString& kind, const QString& text) {
                m_kind = kind;
                m_text = text;
                Show();
            });
    connect(&session, &TSession::TypingProgress, this, &TStatusLine::TypingProgress);
    connect(&session, &TSession::TypingEnded, this, &TStatusLine::TypingEnded);
    connect(&session, &TSession::Changed, this, &TStatusLine::Show);
    connect(&screen, &TCrtScreen::ViewChanged, this, [this](int back, int rows) {
        m_viewText = back > 0 ? QStringLiteral("Scrollback: %1 of %2 rows back").arg(back).arg(rows)
                              : QString();
        Show();
    });
}

void TStatusLine::SetInverse(bool on) {
    m_inverse = on;
    Show();
}

void TStatusLine::TypingProgress(int sent, int total, int skipped) {
    m_typingText = QStringLiteral("Typing %1 of %2").arg(sent).arg(total);
    m_skippedText =
        skipped > 0 ? QStringLiteral("%1 skipped (no ATASCII code)").arg(skipped) : QString();
    Show();
}

void TStatusLine::TypingEnded() {
    m_typingText.clear();
    Show();
}

void TStatusLine::Show() {
    QStringList parts;
    for (const QString& part : {m_text, m_viewText, m_typingText, m_skippedText,
                                m_session.Recording() ? QStringLiteral("Recording") : QString(),
                                m_inverse ? QStringLiteral("INV") : QString()}) {
        if (!part.isEmpty()) {
            parts << part;
        }
    }
    m_panel1->setText(m_kind);
    // A serial line's settings ("SERIAL 115200 8N1") are shown whole.
    m_panel1->setFixedWidth(
        std::max(kPanel1Width, m_panel1->fontMetrics().horizontalAdvance(m_kind) + kPanelPadding));
    m_panel2->setText(parts.join(QStringLiteral("  |  ")));
}

} // namespace telvora
