#include "screen/crt_screen.h"

#include "screen/atascii_text.h"
#include "screen/glyph_image.h"
#include "screen/glyph_table.h"
#include "screen/screen_dump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>

namespace telvora {

struct TCrtScreen::Picture {
    int columns = 0;
    int rows = 0;
    int cursorX = 1;
    int cursorY = 1;
    std::array<std::array<std::uint8_t, kStoreColumns>, kStoreRows> cells{};
    // How many columns each row has: a row kept while the screen was wider
    // has more than the screen.
    std::array<int, kStoreRows> widths{};
};

namespace {

// Stands for the private window message that carries a coalesced full
// repaint after scrolling.
const QEvent::Type kScreenRepaintEvent = static_cast<QEvent::Type>(QEvent::User + 100);

int CeilDiv(int value, int divisor) {
    return (value + divisor - 1) / divisor;
}

// Rows moved by one notch of the mouse wheel.
constexpr int kWheelRows = 3;
constexpr int kScrollBarWidth = 14;

} // namespace

QRgb RgbFromColorRef(ColorRef color) {
    return qRgb(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

TCrtScreen::TCrtScreen(QWidget* parent) : TCrtScreen(std::make_shared<SharedScreen>(), parent) {}

TCrtScreen::TCrtScreen(std::shared_ptr<SharedScreen> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    SetBackColor(m_backColor);
    BuildGlyphs();
    ScaleGlyphs();
    // What was written before the view opened is shown whole on its first paint.
    m_screen.WithModel([](ScreenModel& model) { model.TakeDamage(); });
    // Over the right edge of the screen, and only while the view is back:
    // the live screen looks as it always has.
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setObjectName(QStringLiteral("ScrollBack"));
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->hide();
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        const int back = m_scrollBar->maximum() - value;
        if (back != ViewBack()) {
            ScrollView(back - ViewBack());
        }
    });
    ApplyShape();
    m_screen.SetListener([this] { AfterWrite(); });
}

TCrtScreen::~TCrtScreen() {
    m_screen.SetListener(nullptr);
}

void TCrtScreen::WriteByte(std::uint8_t code) {
    m_screen.WriteByte(code);
}

void TCrtScreen::WriteBlock(const std::uint8_t* data, std::size_t count) {
    m_screen.WriteBlock(data, count);
}

void TCrtScreen::AfterWrite() {
    if (QThread::currentThread() == thread()) {
        FlushDamage();
    } else if (!m_updateRequested.exchange(true)) {
        // A worker never touches the widget; one request at a time is enough
        // because the owning thread takes all damage recorded until then.
        m_ui.Post([this] {
            // Cleared before taking the damage, so that damage recorded
            // after the take always brings a new request.
            m_updateRequested = false;
            FlushDamage();
        });
    }
}

void TCrtScreen::FlushDamage() {
    ApplyShape();
    ScreenDamage damage;
    int cursorX = 1;
    int cursorY = 1;
    m_screen.WithModel([&](ScreenModel& model) {
        damage = model.TakeDamage();
        cursorX = model.CursorX();
        cursorY = model.CursorY();
    });
    if (damage.bells > 0) {
        Q_EMIT Buzzer();
    }
    if (damage.scrolls > 0) {
        ScheduleScrollRepaints(damage.scrolls);
    }
    QRegion region;
    const bool shifted = !m_view.Live() || m_view.HasSelection();
    if (shifted && !damage.Empty()) {
        // The view's rows are not the model's: every change repaints all.
        region = rect();
        if (damage.scrolls > 0 || damage.wholeScreen) {
            ViewMoved();
        }
    } else if (damage.wholeScreen) {
        region = rect();
    } else if (!m_repaintPending) {
        for (int row = 1; row <= kStoreRows; ++row) {
            const int first = damage.firstColumn[static_cast<std::size_t>(row - 1)];
            if (first != 0) {
                const int last = damage.lastColumn[static_cast<std::size_t>(row - 1)];
                region += QRect((first - 1) * CellWidth(), (row - 1) * CellHeight(),
                                (last - first + 1) * CellWidth(), CellHeight());
            }
        }
    }
    if (damage.cursorMoved) {
        region += m_cursorRect;
        m_cursorRect = CellRect(cursorX, cursorY + ViewBack());
        region += m_cursorRect;
    }
    Refresh(region);
}

void TCrtScreen::ScheduleScrollRepaints(int scrolls) {
    // Each scroll merges with a full repaint still waiting in the queue; after
    // more than (Rows div 4) x 3 merged requests the screen is repainted at
    // once, so a long burst of scrolling still shows progress.
    const int limit = (Rows() / 4) * 3;
    bool queued = m_scrollRepaintQueued;
    bool repaintNow = false;
    for (int i = 0; i < scrolls; ++i) {
        if (queued) {
            queued = false;
            m_repaintPending = true;
            ++m_coalescedScrolls;
        }
        if (m_coalescedScrolls > limit) {
            repaintNow = true;
            m_repaintPending = false;
            m_coalescedScrolls = 0;
        } else {
            queued = true;
        }
    }
    if (m_scrollRepaintQueued && !queued) {
        QCoreApplication::removePostedEvents(this, kScreenRepaintEvent);
    } else if (!m_scrollRepaintQueued && queued) {
        QCoreApplication::postEvent(this, new QEvent(kScreenRepaintEvent));
    }
    m_scrollRepaintQueued = queued;
    SetRepaintPending(m_repaintPending);
    if (repaintNow) {
        RepaintWholeScreen();
    }
}

void TCrtScreen::RepaintWholeScreen() {
    Refresh(rect());
    SetRepaintPending(false);
    m_coalescedScrolls = 0;
}

void TCrtScreen::SetRepaintPending(bool pending) {
    m_repaintPending = pending;
    m_screen.WithModel([pending](ScreenModel& model) { model.SetRepaintPending(pending); });
}

void TCrtScreen::Refresh(const QRegion& region) {
    if (region.isEmpty()) {
        return;
    }
    if (m_ownerDraw) {
        update(region);
    } else {
        repaint(region);
    }
}

bool TCrtScreen::event(QEvent* event) {
    if (event->type() == kScreenRepaintEvent) {
        m_scrollRepaintQueued = false;
        RepaintWholeScreen();
        return true;
    }
    return QWidget::event(event);
}

int TCrtScreen::Columns() const {
    return m_screen.WithModel([](const ScreenModel& model) { return model.Columns(); });
}

int TCrtScreen::Rows() const {
    return m_screen.WithModel([](const ScreenModel& model) { return model.Rows(); });
}

int TCrtScreen::CursorX() const {
    return m_screen.WithModel([](const ScreenModel& model) { return model.CursorX(); });
}

int TCrtScreen::CursorY() const {
    return m_screen.WithModel([](const ScreenModel& model) { return model.CursorY(); });
}

std::uint8_t TCrtScreen::Cell(int column, int row) const {
    return m_screen.WithModel(
        [column, row](const ScreenModel& model) { return model.Cell(column, row); });
}

std::string TCrtScreen::DumpText() const {
    return m_screen.DumpText();
}

std::string TCrtScreen::ScreenText() const {
    return m_screen.ScreenText();
}

TLineSpan TCrtScreen::Span() const {
    return m_screen.WithModel([](const ScreenModel& model) { return LineSpanOf(model); });
}

int TCrtScreen::ScrollbackRows() const {
    return static_cast<int>(Span().kept);
}

int TCrtScreen::ViewBack() const {
    return m_view.Back(Span());
}

int TCrtScreen::FittedWidth() const {
    return m_view.Live() ? width() : std::max(1, width() - kScrollBarWidth);
}

QRect TCrtScreen::FittedCellRect(int column, int row, int rowColumns) const {
    const int left = (column - 1) * FittedWidth() / rowColumns;
    const int right = column * FittedWidth() / rowColumns;
    return QRect(left, (row - 1) * CellHeight(), right - left, CellHeight());
}

TLine TCrtScreen::LineAtRow(int row) const {
    return m_view.TopLine(Span()) + row - 1;
}

void TCrtScreen::ScrollView(int rows) {
    m_view.Scroll(rows, Span());
    ViewMoved();
    Refresh(rect());
}

void TCrtScreen::ReturnToLive() {
    if (m_view.Live()) {
        return;
    }
    m_view.ReturnToLive();
    ViewMoved();
    Refresh(rect());
}

void TCrtScreen::ClearScrollback() {
    m_screen.WithModel([](ScreenModel& model) { model.History().Clear(); });
    m_view.ReturnToLive();
    ViewMoved();
    Refresh(rect());
}

void TCrtScreen::ViewMoved() {
    const TLineSpan span = Span();
    const int back = m_view.Back(span);
    m_cursorRect = CellRect(CursorX(), CursorY() + back);
    PlaceScrollBar();
    {
        const QSignalBlocker quiet(m_scrollBar);
        m_scrollBar->setRange(0, static_cast<int>(span.kept));
        m_scrollBar->setPageStep(span.rows);
        m_scrollBar->setValue(static_cast<int>(span.kept) - back);
    }
    m_scrollBar->setVisible(back > 0);
    Q_EMIT ViewChanged(back, static_cast<int>(span.kept));
}

void TCrtScreen::PlaceScrollBar() {
    if (m_scrollBar == nullptr) {
        return;
    }
    m_scrollBar->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
}

std::vector<std::vector<std::uint8_t>> TCrtScreen::HistoryAndScreenRows() const {
    return m_screen.HistoryAndScreenRows();
}

void TCrtScreen::Select(TCellPos from, TCellPos to) {
    m_view.Select(from, to);
    Refresh(rect());
}

void TCrtScreen::SelectAll() {
    const TLineSpan span = Span();
    Select({span.FirstScreenLine(), 1}, {span.LastLine(), Columns()});
}

void TCrtScreen::ClearSelection() {
    if (m_view.HasSelection()) {
        m_view.ClearSelection();
        Refresh(rect());
    }
}

std::vector<std::vector<std::uint8_t>> TCrtScreen::SelectedRows() const {
    return m_screen.WithModel(
        [this](const ScreenModel& model) { return telvora::SelectedRows(model, m_view); });
}

TCellPos TCrtScreen::CellAt(const QPoint& point) const {
    const int row = std::clamp(point.y() / CellHeight() + 1, 1, Rows());
    const TLine line = LineAtRow(row);
    if (m_view.Live()) {
        return {line, std::clamp(point.x() / CellWidth() + 1, 1, Columns())};
    }
    const int columns = m_screen.WithModel([line](const ScreenModel& model) {
        return std::max(model.Columns(), static_cast<int>(LineCodes(model, line).size()));
    });
    return {line, std::clamp(point.x() * columns / FittedWidth() + 1, 1, columns)};
}

void TCrtScreen::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / 120;
    if (notches != 0) {
        ScrollView(notches * kWheelRows);
    }
    event->accept();
}

void TCrtScreen::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        setFocus();
        Q_EMIT MiddleClicked();
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus();
    m_dragStart = CellAt(event->position().toPoint());
    ClearSelection();
}

void TCrtScreen::mouseMoveEvent(QMouseEvent* event) {
    if (!event->buttons().testFlag(Qt::LeftButton)) {
        return;
    }
    const TCellPos at = CellAt(event->position().toPoint());
    if (at != m_dragStart || m_view.HasSelection()) {
        Select(m_dragStart, at);
    }
}

void TCrtScreen::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_view.HasSelection()) {
        Q_EMIT SelectionMade();
    }
    QWidget::mouseReleaseEvent(event);
}

void TCrtScreen::SetEscapeShowsControls(bool on) {
    m_screen.WithModel([on](ScreenModel& model) { model.SetEscapeShowsControls(on); });
}

bool TCrtScreen::EscapeShowsControls() const {
    return m_screen.WithModel([](const ScreenModel& model) { return model.EscapeShowsControls(); });
}

void TCrtScreen::SetColumns(int columns) {
    if (m_screen.WithModel([columns](ScreenModel& model) { return model.SetColumns(columns); })) {
        FlushDamage();
    }
}

void TCrtScreen::SetRows(int rows) {
    if (m_screen.WithModel([rows](ScreenModel& model) { return model.SetRows(rows); })) {
        FlushDamage();
    }
}

void TCrtScreen::ApplyShape() {
    const int columns = Columns();
    const int rows = Rows();
    if (columns == m_shownColumns && rows == m_shownRows) {
        return;
    }
    if (columns != m_shownColumns) {
        // A selection's columns belong to the old width.
        ClearSelection();
        UpdateCellSize();
    }
    m_shownColumns = columns;
    m_shownRows = rows;
    RecalcSize();
    m_cursorRect = CellRect(CursorX(), CursorY() + ViewBack());
}

void TCrtScreen::SetFontDelta(int delta) {
    m_fontDelta = std::clamp(delta, 0, kMaxFontDelta);
    UpdateCellSize();
    RecalcSize();
    m_cursorRect = CellRect(CursorX(), CursorY());
    Refresh(rect());
}

void TCrtScreen::SetBackColor(ColorRef color) {
    m_backColor = color;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(RgbFromColorRef(color)));
    setPalette(palette);
}

void TCrtScreen::RecalcSize() {
    resize(Columns() * CellWidth(), Rows() * CellHeight());
}

void TCrtScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceScrollBar();
    // The control always shows whole cells: an outside resize snaps back.
    const QSize wanted(Columns() * CellWidth(), Rows() * CellHeight());
    if (!m_ownerDraw && size() != wanted) {
        resize(wanted);
    }
}

void TCrtScreen::BuildGlyphs() {
    // Glyph colours are fixed when the images are made; BackColor and
    // TextColor do not recolour them.
    const QRgb paper = RgbFromColorRef(kScreenBackColor);
    const QRgb ink = RgbFromColorRef(kScreenTextColor);
    for (int code = 0; code < 256; ++code) {
        m_glyphs[static_cast<std::size_t>(code)] =
            GlyphImage(static_cast<std::uint8_t>(code), ink, paper);
    }
}

void TCrtScreen::UpdateCellSize() {
    const TCellSize cell = CellSizeFor(Columns(), m_fontDelta);
    if (cell.width != m_cell.width || cell.height != m_cell.height) {
        m_cell = cell;
        ScaleGlyphs();
    }
}

void TCrtScreen::ScaleGlyphs() {
    // Each cell is its glyph stretched by a whole factor; stretching once per
    // size change keeps painting a plain copy.
    for (std::size_t code = 0; code < m_glyphs.size(); ++code) {
        m_scaledGlyphs[code] = m_glyphs[code].scaled(CellWidth(), CellHeight(),
                                                     Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
}

QRect TCrtScreen::CellRect(int column, int row) const {
    return QRect((column - 1) * CellWidth(), (row - 1) * CellHeight(), CellWidth(), CellHeight());
}

QImage TCrtScreen::CursorImage(std::uint8_t codeUnderCursor) const {
    const QImage& block = m_scaledGlyphs[atascii::kSolidBlock];
    if (codeUnderCursor == kBlank) {
        return block;
    }
    // (NOT destination) OR (brush AND source), the brush being BackColor and
    // the source the solid block: the cell shows in inverse video, a little
    // off the two screen colours.
    const QRgb brushAndSource =
        RgbFromColorRef(m_backColor) & RgbFromColorRef(kScreenTextColor) & 0x00FFFFFF;
    QImage image = m_scaledGlyphs[codeUnderCursor].copy();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = 0xFF000000u | ((~line[x] | brushAndSource) & 0x00FFFFFFu);
        }
    }
    return image;
}

void TCrtScreen::paintEvent(QPaintEvent* event) {
    if (m_ownerDraw) {
        return;
    }
    // Copy what is needed under the lock; draw without it.
    Picture picture;
    const QRect clip = event->rect();
    const int cellWidth = CellWidth();
    const int cellHeight = CellHeight();
    TLine top = 0;
    TLine firstScreenLine = 0;
    m_screen.WithModel([&](const ScreenModel& model) {
        picture.columns = model.Columns();
        picture.rows = model.Rows();
        picture.cursorX = model.CursorX();
        picture.cursorY = model.CursorY();
        const TLineSpan span = LineSpanOf(model);
        top = m_view.TopLine(span);
        firstScreenLine = span.FirstScreenLine();
        for (int row = 1; row <= picture.rows; ++row) {
            auto& cells = picture.cells[static_cast<std::size_t>(row - 1)];
            int& width = picture.widths[static_cast<std::size_t>(row - 1)];
            width = picture.columns;
            if (top == firstScreenLine) {
                std::memcpy(cells.data(), model.RowData(row), kStoreColumns);
            } else {
                // A row kept while the screen was narrower ends in blanks.
                const std::vector<std::uint8_t> codes = LineCodes(model, top + row - 1);
                cells.fill(kBlank);
                std::copy_n(codes.begin(), std::min(codes.size(), cells.size()), cells.begin());
                width = std::clamp(static_cast<int>(codes.size()), width, kStoreColumns);
            }
        }
    });
    if (m_view.HasSelection()) {
        for (int row = 1; row <= picture.rows; ++row) {
            auto& cells = picture.cells[static_cast<std::size_t>(row - 1)];
            const int width = picture.widths[static_cast<std::size_t>(row - 1)];
            for (int column = 1; column <= width; ++column) {
                if (m_view.Selected(top + row - 1, column, width)) {
                    cells[static_cast<std::size_t>(column - 1)] ^= 0x80;
                }
            }
        }
    }
    const int firstColumn = std::max(0, clip.left() / cellWidth);
    const int lastColumn = std::min(picture.columns, CeilDiv(clip.x() + clip.width(), cellWidth));
    const int firstRow = std::max(0, clip.top() / cellHeight);
    const int lastRow = std::min(picture.rows, CeilDiv(clip.y() + clip.height(), cellHeight));

    QPainter painter(this);
    if (!m_view.Live()) {
        PaintFitted(painter, picture, firstRow, lastRow, static_cast<int>(firstScreenLine - top));
        return;
    }
    for (int i = firstRow; i < lastRow; ++i) {
        const auto& cells = picture.cells[static_cast<std::size_t>(i)];
        for (int j = firstColumn; j < lastColumn; ++j) {
            painter.drawImage(QPoint(j * cellWidth, i * cellHeight),
                              m_scaledGlyphs[cells[static_cast<std::size_t>(j)]]);
        }
    }
    // The cursor is drawn on every paint, after the cells; it does not blink.
    // Scrolled back, it is drawn where its row is, if that row is in view.
    const int cursorRow = static_cast<int>(firstScreenLine - top) + picture.cursorY;
    m_cursorRect = CellRect(picture.cursorX, cursorRow);
    if (cursorRow >= 1 && cursorRow <= picture.rows && m_cursorRect.intersects(clip)) {
        const std::uint8_t under = picture.cells[static_cast<std::size_t>(cursorRow - 1)]
                                                [static_cast<std::size_t>(picture.cursorX - 1)];
        painter.drawImage(m_cursorRect.topLeft(), CursorImage(under));
    }
}

void TCrtScreen::PaintFitted(QPainter& painter, const Picture& picture, int firstRow, int lastRow,
                             int screenRowOffset) {
    // Scrolled back, every row is fitted whole into the width left of the
    // scroll bar: the bar covers no column, and a row kept at 80 columns
    // shows all of them on a 40-column screen, as it looked then.
    if (FittedWidth() < width()) {
        painter.fillRect(QRect(FittedWidth(), 0, width() - FittedWidth(), height()),
                         QColor::fromRgb(RgbFromColorRef(m_backColor)));
    }
    for (int i = firstRow; i < lastRow; ++i) {
        const auto& cells = picture.cells[static_cast<std::size_t>(i)];
        const int columns = picture.widths[static_cast<std::size_t>(i)];
        for (int j = 0; j < columns; ++j) {
            painter.drawImage(FittedCellRect(j + 1, i + 1, columns),
                              m_glyphs[cells[static_cast<std::size_t>(j)]]);
        }
    }
    const int cursorRow = screenRowOffset + picture.cursorY;
    m_cursorRect = FittedCellRect(picture.cursorX, cursorRow, picture.columns);
    if (cursorRow >= firstRow + 1 && cursorRow <= lastRow) {
        const std::uint8_t under = picture.cells[static_cast<std::size_t>(cursorRow - 1)]
                                                [static_cast<std::size_t>(picture.cursorX - 1)];
        painter.drawImage(m_cursorRect, CursorImage(under));
    }
}

void TCrtScreen::keyPressEvent(QKeyEvent* event) {
    Q_EMIT OnKeyDown(event);
    event->accept();
}

bool TCrtScreen::focusNextPrevChild(bool) {
    // Tab and Shift+Tab belong to the remote system, not to focus movement.
    return false;
}

} // namespace telvora
