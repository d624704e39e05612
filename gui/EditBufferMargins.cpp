// The edit buffer's margins: row numbers, layer labels and marks, drawn over Scintilla's own
// margin space for the rows on screen only, so a body of millions of rows costs them nothing
// at load. Inserted lines carry a Scintilla indicator, which their text takes with it when
// an undo removes them.

#include "gui/EditBuffer.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

enum Margin { kNumberMargin = 0, kLayerMargin = 1, kMarkMargin = 2 };
constexpr int kInsertedIndicator = 8; // the first indicator left to the container
// The inserted indicator's values: a line the program put in, and one of a block whose mark
// another of its lines carries.
constexpr long kInsertedLine = 1;
constexpr long kUnmarkedBlockLine = 2;
constexpr int kTypedIndicator = 9;
constexpr int kMarkMarginWidth = 20;
constexpr int kLayerLabelChars = 13; // "99999  999.999"
constexpr int kMarginPadding = 6;
constexpr qsizetype kCommandHead = 200; // a command row's words are read from its first bytes

const QColor kMarginText(120, 120, 120);
const QColor kLayerText(30, 70, 150);
const QColor kLayerRule(30, 70, 150, 90);
const QColor kPauseColour(200, 30, 30);
const QColor kTemperatureColour(230, 120, 0);
const QColor kToolColour(40, 110, 200);
const QColor kInsertedColour(40, 160, 60);

int digitsOf(int n)
{
    int digits = 1;
    for (; n >= 10; n /= 10)
        ++digits;
    return digits;
}

void drawMark(QPainter& painter, PrintEvents::Kind kind, const QRectF& box)
{
    const QPointF centre = box.center();
    const qreal r = qMin(box.width(), box.height()) / 2 - 1;
    painter.setPen(Qt::NoPen);
    switch (kind) {
    case PrintEvents::Kind::Pause: // two bars on a red disc
        painter.setBrush(kPauseColour);
        painter.drawEllipse(centre, r, r);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(centre.x() - r * 0.45, centre.y() - r * 0.5, r * 0.3, r));
        painter.drawRect(QRectF(centre.x() + r * 0.15, centre.y() - r * 0.5, r * 0.3, r));
        break;
    case PrintEvents::Kind::Temperature: { // a thermometer
        painter.setBrush(kTemperatureColour);
        painter.drawEllipse(QPointF(centre.x(), centre.y() + r * 0.45), r * 0.5, r * 0.5);
        painter.drawRoundedRect(QRectF(centre.x() - r * 0.22, centre.y() - r, r * 0.44, r * 1.5), r * 0.2,
                                r * 0.2);
        break;
    }
    case PrintEvents::Kind::ToolChange: { // a diamond
        painter.setBrush(kToolColour);
        QPainterPath diamond;
        diamond.moveTo(centre.x(), centre.y() - r);
        diamond.lineTo(centre.x() + r, centre.y());
        diamond.lineTo(centre.x(), centre.y() + r);
        diamond.lineTo(centre.x() - r, centre.y());
        diamond.closeSubpath();
        painter.drawPath(diamond);
        break;
    }
    case PrintEvents::Kind::None:
        break;
    }
}

} // namespace

void EditBuffer::setUpMargins()
{
    m_marginFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_marginFont.setPixelSize(12);
    for (const int margin : {kNumberMargin, kLayerMargin, kMarkMargin}) {
        SendScintilla(SCI_SETMARGINTYPEN, margin, long(SC_MARGIN_SYMBOL));
        SendScintilla(SCI_SETMARGINMASKN, margin, 0L);
    }
    SendScintilla(SCI_INDICSETSTYLE, kInsertedIndicator, long(INDIC_STRAIGHTBOX));
    SendScintilla(SCI_INDICSETFORE, kInsertedIndicator, kInsertedColour);
    SendScintilla(SCI_INDICSETALPHA, kInsertedIndicator, 50L);
    SendScintilla(SCI_INDICSETOUTLINEALPHA, kInsertedIndicator, 140L);
    // Typed rows are marked in the margin only, their text left as it is.
    SendScintilla(SCI_INDICSETSTYLE, kTypedIndicator, long(INDIC_HIDDEN));
    SendScintilla(SCI_SETINDICATORCURRENT, kInsertedIndicator);
    SendScintilla(SCI_SETINDICATORVALUE, 1L);
    const int digit = QFontMetrics(m_marginFont).horizontalAdvance(QLatin1Char('9'));
    setMarginWidth(kLayerMargin, digit * kLayerLabelChars + kMarginPadding);
    setMarginWidth(kMarkMargin, kMarkMarginWidth);
    updateMarginWidths();
}

void EditBuffer::updateMarginWidths()
{
    const int digits = digitsOf(qMax(0, lineCount() - 1));
    if (digits == m_numberDigits)
        return;
    m_numberDigits = digits;
    const int digit = QFontMetrics(m_marginFont).horizontalAdvance(QLatin1Char('9'));
    setMarginWidth(kNumberMargin, digit * qMax(digits, 3) + 2 * kMarginPadding);
}

int EditBuffer::marginsWidth() const
{
    return marginWidth(kNumberMargin) + marginWidth(kLayerMargin) + marginWidth(kMarkMargin);
}

void EditBuffer::setLayerLabelChars(int chars)
{
    const int digit = QFontMetrics(m_marginFont).horizontalAdvance(QLatin1Char('9'));
    setMarginWidth(kLayerMargin, chars > 0 ? digit * qMin(chars, kLayerLabelChars) + kMarginPadding : 0);
}

void EditBuffer::setLayerLabels(LayerLabels labels)
{
    m_layerLabels = std::move(labels);
    viewport()->update();
}

void EditBuffer::markInserted(qsizetype offset, qsizetype length, bool unmarkedBlockLine)
{
    if (length <= 0)
        return;
    // The current indicator and its value belong to the document, which a new body replaces.
    SendScintilla(SCI_SETINDICATORCURRENT, kInsertedIndicator);
    SendScintilla(SCI_SETINDICATORVALUE, unmarkedBlockLine ? kUnmarkedBlockLine : kInsertedLine);
    SendScintilla(SCI_INDICATORFILLRANGE, (unsigned long)offset, long(length));
    SendScintilla(SCI_SETINDICATORVALUE, kInsertedLine);
}

void EditBuffer::markTyped(long from, long caret)
{
    const long length = SendScintilla(SCI_GETLENGTH);
    const long start = caret > from ? from : caret;
    const long end = caret > from ? caret : qMin(caret + 1, length);
    if (end <= start)
        return;
    SendScintilla(SCI_SETINDICATORCURRENT, kTypedIndicator);
    SendScintilla(SCI_SETINDICATORVALUE, 1L);
    SendScintilla(SCI_INDICATORFILLRANGE, (unsigned long)start, end - start);
    SendScintilla(SCI_SETINDICATORCURRENT, kInsertedIndicator);
}

void EditBuffer::markInsertedRows(int row, int count, std::optional<qsizetype> blockMark)
{
    if (count <= 0 || !hasRow(row) || !hasRow(row + count - 1))
        return;
    const long start = long(rowStart(row));
    const long end = hasRow(row + count) ? long(rowStart(row + count)) : SendScintilla(SCI_GETLENGTH);
    for (const int indicator : {kInsertedIndicator, kTypedIndicator}) {
        SendScintilla(SCI_SETINDICATORCURRENT, indicator);
        SendScintilla(SCI_INDICATORCLEARRANGE, (unsigned long)start, end - start);
    }
    for (int i = 0; i < count; ++i)
        markInserted(rowStart(row + i), rowEnd(row + i) - rowStart(row + i), blockMark && *blockMark != i);
    viewport()->update();
}

bool EditBuffer::isTypedRow(int row) const
{
    if (!hasRow(row))
        return false;
    // Anywhere in the row, its line break included.
    const long start = long(rowStart(row));
    if (SendScintilla(SCI_INDICATORVALUEAT, kTypedIndicator, start) != 0)
        return true;
    const long next = SendScintilla(SCI_INDICATOREND, kTypedIndicator, start);
    return next <= long(rowEnd(row)) && SendScintilla(SCI_INDICATORVALUEAT, kTypedIndicator, next) != 0;
}

std::vector<int> EditBuffer::typedRows() const
{
    std::vector<int> rows;
    const long length = SendScintilla(SCI_GETLENGTH);
    for (long position = 0; position < length;) {
        const long end = SendScintilla(SCI_INDICATOREND, kTypedIndicator, position);
        if (end <= position)
            break;
        if (SendScintilla(SCI_INDICATORVALUEAT, kTypedIndicator, position) != 0) {
            for (int row = rowAt(position), last = rowAt(end - 1); row <= last; ++row) {
                if (rows.empty() || rows.back() < row)
                    rows.push_back(row);
            }
        }
        position = end;
    }
    return rows;
}

bool EditBuffer::isUnmarkedBlockRow(int row) const
{
    return hasRow(row) && rowEnd(row) > rowStart(row) &&
           SendScintilla(SCI_INDICATORVALUEAT, kInsertedIndicator, long(rowStart(row))) == kUnmarkedBlockLine;
}

bool EditBuffer::isInsertedRow(int row) const
{
    return hasRow(row) && rowEnd(row) > rowStart(row) &&
           SendScintilla(SCI_INDICATORVALUEAT, kInsertedIndicator, long(rowStart(row))) != 0;
}

std::vector<int> EditBuffer::insertedRows() const
{
    std::vector<int> rows;
    const long length = SendScintilla(SCI_GETLENGTH);
    // The indicator's runs: each run of inserted text covers whole lines.
    for (long position = 0; position < length;) {
        const long end = SendScintilla(SCI_INDICATOREND, kInsertedIndicator, position);
        if (end <= position)
            break;
        if (SendScintilla(SCI_INDICATORVALUEAT, kInsertedIndicator, position) != 0) {
            for (int row = rowAt(position), last = rowAt(end - 1); row <= last; ++row)
                rows.push_back(row);
        }
        position = end;
    }
    return rows;
}

QByteArray EditBuffer::rowHead(int row, qsizetype limit) const
{
    if (!hasRow(row))
        return {};
    const qsizetype start = rowStart(row);
    const qsizetype length = qMin(limit, rowEnd(row) - start);
    if (length <= 0)
        return {};
    QByteArray head(length + 1, Qt::Uninitialized);
    SendScintilla(SCI_GETTEXTRANGE, long(start), long(start + length), head.data());
    head.chop(1);
    return head;
}

std::vector<EditBuffer::MarginLine> EditBuffer::marginLines() const
{
    std::vector<MarginLine> lines;
    const int rows = lineCount();
    const int first = int(SendScintilla(SCI_GETFIRSTVISIBLELINE));
    const int last = qMin(rows - 1, first + int(SendScintilla(SCI_LINESONSCREEN)));
    if (rows == 0 || last < first)
        return lines;
    const int height = int(SendScintilla(SCI_TEXTHEIGHT, 0L));
    std::vector<std::pair<int, QString>> labels;
    if (m_layerLabels)
        labels = m_layerLabels(first, last);
    auto label = labels.cbegin();
    for (int row = first; row <= last; ++row) {
        MarginLine line;
        line.row = row;
        line.top = int(SendScintilla(SCI_POINTYFROMPOSITION, 0UL, long(rowStart(row))));
        line.height = height;
        line.number = QString::number(row);
        while (label != labels.cend() && label->first < row)
            ++label;
        if (label != labels.cend() && label->first == row)
            line.layer = label->second;
        const QByteArray head = rowHead(row, kCommandHead);
        if (!isUnmarkedBlockRow(row))
            line.mark = PrintEvents::parse(std::string_view(head.constData(), std::size_t(head.size()))).kind;
        line.inserted = isInsertedRow(row);
        line.typed = isTypedRow(row);
        lines.push_back(std::move(line));
    }
    return lines;
}

void EditBuffer::paintEvent(QPaintEvent* event)
{
    QsciScintilla::paintEvent(event);
    const int width = marginsWidth();
    if (event->rect().left() < width)
        paintMargins(QRect(0, 0, width, viewport()->height()) & event->rect());
}

void EditBuffer::paintMargins(const QRect& area)
{
    QPainter painter(viewport());
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(m_marginFont);
    const int numberWidth = marginWidth(kNumberMargin);
    const int layerLeft = numberWidth;
    const int layerWidth = marginWidth(kLayerMargin);
    const int markLeft = layerLeft + layerWidth;
    for (const MarginLine& line : marginLines()) {
        if (line.top + line.height < area.top() || line.top > area.bottom())
            continue;
        painter.setPen(kMarginText);
        painter.drawText(QRect(0, line.top, numberWidth - kMarginPadding, line.height),
                         Qt::AlignRight | Qt::AlignVCenter, line.number);
        if (!line.layer.isEmpty()) {
            painter.setPen(kLayerRule);
            painter.drawLine(layerLeft, line.top, markLeft + kMarkMarginWidth, line.top);
            painter.setPen(kLayerText);
            painter.drawText(QRect(layerLeft + 2, line.top, layerWidth - 4, line.height),
                             Qt::AlignLeft | Qt::AlignVCenter, line.layer);
        }
        if (line.inserted || line.typed) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(kInsertedColour);
            painter.drawRect(QRectF(markLeft + 1, line.top + 1, 4, line.height - 2));
        }
        const qreal size = qMin(line.height, kMarkMarginWidth - 6);
        drawMark(painter, line.mark,
                 QRectF(markLeft + 6, line.top + (line.height - size) / 2, kMarkMarginWidth - 6, size));
    }
}
