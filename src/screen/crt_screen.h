#pragma once

#include "common/hand_over.h"
#include "screen/cell_geometry.h"
#include "screen/screen_view.h"
#include "screen/shared_screen.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QKeyEvent;
class QMouseEvent;
class QPainter;
class QScrollBar;
class QWheelEvent;

namespace telvora {

// A colour as the design's 0x00BBGGRR value.
using ColorRef = std::uint32_t;

inline constexpr ColorRef kScreenBackColor = 0xFC6171; // the Atari blue
inline constexpr ColorRef kScreenTextColor = 0xFFFFD1; // pale yellow-white

QRgb RgbFromColorRef(ColorRef color);

// The ATASCII screen control: shows the model's cells with the built-in 8x8
// glyphs, each stretched to a cell 8 + FontDelta pixels high (and as wide in
// 40 columns, narrower in 80: see CellSizeFor), and the cursor as an inverse
// cell. WriteByte may be called from any thread; painting and
// every widget call happen on the thread that owns the control.
class TCrtScreen : public QWidget {
    Q_OBJECT

public:
    // A view of the model (a blank screen of its own without one).
    explicit TCrtScreen(QWidget* parent = nullptr);
    explicit TCrtScreen(std::shared_ptr<SharedScreen> model, QWidget* parent = nullptr);
    ~TCrtScreen() override;

    // The model it shows; connections write to it, from any thread.
    const std::shared_ptr<SharedScreen>& Model() const { return m_model; }
    // Interprets one received byte. Safe from any thread.
    void WriteByte(std::uint8_t code);
    // Interprets a run of bytes under one lock and one repaint request; for
    // unthrottled delivery. Safe from any thread.
    void WriteBlock(const std::uint8_t* data, std::size_t count);

    // The Atari's own Escape (see ScreenModel); safe from any thread.
    void SetEscapeShowsControls(bool on);
    bool EscapeShowsControls() const;

    int Columns() const;
    void SetColumns(int columns);
    int Rows() const;
    void SetRows(int rows);
    int FontDelta() const { return m_fontDelta; }
    void SetFontDelta(int delta);
    ColorRef BackColor() const { return m_backColor; }
    void SetBackColor(ColorRef color);
    ColorRef TextColor() const { return m_textColor; }
    void SetTextColor(ColorRef color) { m_textColor = color; }
    bool OwnerDraw() const { return m_ownerDraw; }
    void SetOwnerDraw(bool ownerDraw) { m_ownerDraw = ownerDraw; }

    int CellWidth() const { return m_cell.width; }
    int CellHeight() const { return m_cell.height; }
    int CursorX() const;
    int CursorY() const;
    std::uint8_t Cell(int column, int row) const;
    // The visible codes in hex and the cursor position, one row a line.
    std::string DumpText() const;
    // The live screen as UTF-8 text, a line a row, trailing blanks removed.
    std::string ScreenText() const;

    // The scrollback: the rows that scrolled off the top and the rows of
    // cleared screens. The view shows the live screen, or ViewBack rows back
    // into the scrollback, where it stays while output arrives.
    int ScrollbackRows() const;
    int ViewBack() const;
    // Moves the view rows back (negative: forward), within the scrollback.
    void ScrollView(int rows);
    void ReturnToLive();
    void ClearScrollback();
    // Every kept scrollback row, oldest first, and then the screen's rows.
    std::vector<std::vector<std::uint8_t>> HistoryAndScreenRows() const;

    // The selection, made by dragging with the mouse or by SelectAll (the
    // whole live screen). Drawn inverted; it stays on its cells while output
    // arrives.
    void Select(TCellPos from, TCellPos to);
    void SelectAll();
    void ClearSelection();
    bool HasSelection() const { return m_view.HasSelection(); }
    // The selected cells, row by row.
    std::vector<std::vector<std::uint8_t>> SelectedRows() const;
    // The line shown in the view's row (1-based), for selecting.
    TLine LineAtRow(int row) const;

    bool RepaintPending() const { return m_repaintPending; }
    int CoalescedScrolls() const { return m_coalescedScrolls; }
    // Whether a coalesced full repaint is waiting in the event queue.
    bool ScrollRepaintQueued() const { return m_scrollRepaintQueued; }

    static constexpr int kGlyphSize = 8;
    static constexpr int kMaxFontDelta = 255;

Q_SIGNALS:
    // A key press reached the screen (Tab, Enter, Escape and arrows included).
    void OnKeyDown(QKeyEvent* event);
    // The buzzer code arrived.
    void Buzzer();
    // The view moved, or rows went into the scrollback while it was back.
    void ViewChanged(int back, int scrollbackRows);
    // A selection dragged with the mouse is finished (the button released).
    void SelectionMade();
    // The middle button was pressed on the screen.
    void MiddleClicked();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Picture;

    void AfterWrite();
    void FlushDamage();
    // The model's width or height changed under the view.
    void ApplyShape();
    void ScheduleScrollRepaints(int scrolls);
    void RepaintWholeScreen();
    void SetRepaintPending(bool pending);
    void RecalcSize();
    void BuildGlyphs();
    // Works out the cell size again; the glyphs are scaled anew when it changed.
    void UpdateCellSize();
    void ScaleGlyphs();
    QRect CellRect(int column, int row) const;
    // Scrolled back: the width the rows are fitted into (short of the scroll
    // bar), and a cell's place in a row of rowColumns columns.
    int FittedWidth() const;
    QRect FittedCellRect(int column, int row, int rowColumns) const;
    void PaintFitted(QPainter& painter, const Picture& picture, int firstRow, int lastRow,
                     int screenRowOffset);
    QImage CursorImage(std::uint8_t codeUnderCursor) const;
    void Refresh(const QRegion& region);
    TLineSpan Span() const;
    TCellPos CellAt(const QPoint& point) const;
    void ViewMoved();
    void PlaceScrollBar();

    std::shared_ptr<SharedScreen> m_model;
    SharedScreen& m_screen = *m_model;
    // The width and height the view was laid out for.
    int m_shownColumns = 0;
    int m_shownRows = 0;
    std::array<QImage, 256> m_glyphs;
    std::array<QImage, 256> m_scaledGlyphs;
    int m_fontDelta = 0;
    TCellSize m_cell = CellSizeFor(kNarrowColumns, 0);
    ColorRef m_backColor = kScreenBackColor;
    ColorRef m_textColor = kScreenTextColor;
    bool m_ownerDraw = false;
    QRect m_cursorRect;
    // User-interface thread only.
    ScreenView m_view;
    QScrollBar* m_scrollBar = nullptr;
    TCellPos m_dragStart;

    // Scroll repaint coalescing (user-interface thread only).
    bool m_repaintPending = false;
    int m_coalescedScrolls = 0;
    bool m_scrollRepaintQueued = false;

    // Set by a writer on another thread when it has asked the owning thread
    // to look at the damage; cleared when the owning thread has taken it.
    std::atomic<bool> m_updateRequested{false};
    // Declared last: destroyed first, so no request runs on a half-gone screen.
    THandOver m_ui;
};

} // namespace telvora
