#include "screen/screen_view.h"

#include "screen/screen_model.h"

#include <algorithm>

namespace telvora {

TLine ScreenView::TopLine(const TLineSpan& span) const {
    if (m_live) {
        return span.FirstScreenLine();
    }
    // Rows dropped from the scrollback meanwhile take the view to the oldest kept.
    return std::clamp(m_top, span.FirstKept(), span.FirstScreenLine());
}

int ScreenView::Back(const TLineSpan& span) const {
    return static_cast<int>(span.FirstScreenLine() - TopLine(span));
}

void ScreenView::Scroll(int rows, const TLineSpan& span) {
    const TLine top = std::clamp(TopLine(span) - rows, span.FirstKept(), span.FirstScreenLine());
    m_live = top == span.FirstScreenLine();
    m_top = top;
}

void ScreenView::Select(TCellPos from, TCellPos to) {
    m_from = from;
    m_to = to;
    m_selecting = true;
}

std::pair<TCellPos, TCellPos> ScreenView::Selection() const {
    return m_to < m_from ? std::pair{m_to, m_from} : std::pair{m_from, m_to};
}

bool ScreenView::Selected(TLine line, int column, int columns) const {
    if (!m_selecting) {
        return false;
    }
    const auto [first, last] = Selection();
    const TCellPos cell{line, std::clamp(column, 1, columns)};
    return !(cell < first) && !(last < cell);
}

TLineSpan LineSpanOf(const ScreenModel& model) {
    return {model.History().Pushed(), model.History().Count(), model.Rows()};
}

std::vector<std::uint8_t> LineCodes(const ScreenModel& model, TLine line) {
    const TLineSpan span = LineSpanOf(model);
    if (line >= span.FirstKept() && line < span.FirstScreenLine()) {
        const auto row = model.History().Row(static_cast<std::size_t>(line - span.FirstKept()));
        return {row.begin(), row.end()};
    }
    const auto columns = static_cast<std::size_t>(model.Columns());
    if (line >= span.FirstScreenLine() && line <= span.LastLine()) {
        const std::uint8_t* cells = model.RowData(static_cast<int>(line - span.pushed) + 1);
        return {cells, cells + columns};
    }
    return std::vector<std::uint8_t>(columns, kBlank);
}

std::vector<std::vector<std::uint8_t>> SelectedRows(const ScreenModel& model,
                                                    const ScreenView& view) {
    std::vector<std::vector<std::uint8_t>> rows;
    if (!view.HasSelection()) {
        return rows;
    }
    const auto [first, last] = view.Selection();
    for (TLine line = first.line; line <= last.line; ++line) {
        std::vector<std::uint8_t> codes = LineCodes(model, line);
        const auto width = static_cast<int>(codes.size());
        const int from = line == first.line ? std::clamp(first.column, 1, width + 1) : 1;
        const int to = line == last.line ? std::clamp(last.column, 0, width) : width;
        rows.emplace_back(codes.begin() + (from - 1), codes.begin() + std::max(from - 1, to));
    }
    return rows;
}

} // namespace telvora
