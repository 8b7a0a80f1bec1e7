#include "report/reportpainter.h"

#include "report/report.h"
#include "report/reportrecording.h"

#include <QPagedPaintDevice>
#include <QPainter>

namespace velmar {

namespace {
constexpr double kLineWidthMm = 0.2;
}

ReportPainter::ReportPainter(QPainter& painter, QPagedPaintDevice& device, const ReportFontMap& fonts,
                             bool newPageFirst)
    : m_painter(painter), m_device(device), m_fonts(fonts), m_newPageFirst(newPageFirst),
      m_unitsPerMm(device.logicalDpiX() / 25.4)
{
    QPen pen(Qt::black);
    pen.setWidthF(mm(kLineWidthMm));
    m_painter.setPen(pen);
    m_painter.setBrush(Qt::NoBrush);
}

bool ReportPainter::beginPage(int pageNumber)
{
    if (pageNumber > 1 || m_newPageFirst) {
        if (!m_device.newPage()) {
            m_error = QStringLiteral("Could not start a new page");
            return false;
        }
    }
    return true;
}

ReportPainter::FontEntry& ReportPainter::fontFor(const ReportFont& f)
{
    for (const auto& e : m_fontCache) {
        const ReportFont& s = e->style;
        if (s.size == f.size && s.bold == f.bold && s.italic == f.italic && s.underline == f.underline &&
            s.family == f.family)
            return *e;
    }
    QFont font(m_fonts.resolve(f.family));
    font.setPointSizeF(f.size);
    font.setBold(f.bold);
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    // The same widths on the screen preview as on paper.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferOutline);
    m_fontCache.push_back(std::make_unique<FontEntry>(FontEntry{f, font, QFontMetricsF(font, &m_device), {}}));
    return *m_fontCache.back();
}

double ReportPainter::widthOf(FontEntry& entry, const QString& text)
{
    auto it = entry.widths.constFind(text);
    if (it != entry.widths.constEnd())
        return *it;
    if (entry.widths.size() > 4096)
        entry.widths.clear();
    const double width = entry.metrics.horizontalAdvance(text);
    entry.widths.insert(text, width);
    return width;
}

QStringList ReportPainter::textLines(const QString& text, const QFontMetricsF& metrics, double width, bool wordWrap)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(u'\r', u'\n');
    const QStringList paragraphs = normal.split(u'\n');
    if (!wordWrap || width <= 0)
        return paragraphs;
    QStringList lines;
    for (const QString& paragraph : paragraphs) {
        QString line;
        for (const QString& word : paragraph.split(u' ')) {
            const QString candidate = line.isEmpty() ? word : line + u' ' + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > width) {
                lines.append(line);
                line = word;
            } else {
                line = candidate;
            }
        }
        lines.append(line);
    }
    return lines;
}

void ReportPainter::paintText(const ReportControl& c, double top, const QString& text)
{
    if (text.isEmpty())
        return;
    FontEntry& fe = fontFor(c.font);
    const QFontMetricsF& fm = fe.metrics;
    const double left = mm(c.rect.left());
    const double width = mm(c.rect.width());
    const QStringList lines = textLines(text, fm, width, c.wordWrap);
    if (m_currentFont != &fe) {
        m_painter.setFont(fe.font);
        m_currentFont = &fe;
    }
    const bool aligned = c.alignment & (Qt::AlignRight | Qt::AlignHCenter);
    double baseline = mm(top + c.rect.top()) + fm.ascent();
    for (const QString& line : lines) {
        // Left-aligned text that may run on needs no measuring.
        const double w = (aligned || !c.autoSize) ? widthOf(fe, line) : 0;
        double x = left;
        if (c.alignment & Qt::AlignRight)
            x = left + width - w;
        else if (c.alignment & Qt::AlignHCenter)
            x = left + (width - w) / 2;
        const bool clip = !c.autoSize && w > width + 0.5;
        if (clip) {
            m_painter.save();
            m_painter.setClipRect(QRectF(left, baseline - fm.ascent(), width, fm.height()));
        }
        m_painter.drawText(QPointF(x, baseline), line);
        if (clip)
            m_painter.restore();
        baseline += fm.lineSpacing();
    }
}

void ReportPainter::paint(const ReportControl& c, double top, const QString& text)
{
    switch (c.kind) {
    case ControlKind::HorizontalRule: {
        const double y = mm(top + c.rect.top() + c.rect.height() / 2);
        m_painter.drawLine(QPointF(mm(c.rect.left()), y), QPointF(mm(c.rect.right()), y));
        break;
    }
    case ControlKind::Rectangle:
        m_painter.drawRect(QRectF(mm(c.rect.left()), mm(top + c.rect.top()), mm(c.rect.width()), mm(c.rect.height())));
        break;
    default:
        paintText(c, top, text);
        break;
    }
}

void ReportPainter::printBand(const ReportBand&, double top, const QList<PrintedControl>& controls)
{
    for (const PrintedControl& p : controls)
        paint(*p.control, top, p.text);
}

bool PaintReport(Report& report, QPagedPaintDevice& device, QString* error)
{
    if (!device.setPageLayout(report.pageLayout())) {
        // A printer whose least margins are wider than the report's: keep paper and orientation.
        device.setPageSize(report.pageLayout().pageSize());
        device.setPageOrientation(report.pageLayout().orientation());
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("Could not start printing %1").arg(report.documentName());
        return false;
    }
    ReportFontMap fonts;
    ReportPainter sink(painter, device, fonts);
    const bool ok = report.run(sink, error);
    painter.end();
    return ok;
}

bool PaintRecording(const ReportRecording& recording, QPainter& painter, QPagedPaintDevice& device,
                    const ReportFontMap& fonts, bool newPageFirst, QString* error)
{
    ReportPainter sink(painter, device, fonts, newPageFirst);
    for (int page = 0; page < recording.pages.size(); ++page) {
        if (!sink.beginPage(page + 1)) {
            if (error)
                *error = sink.error();
            return false;
        }
        for (const ReportRecording::Item& item : recording.pages.at(page))
            sink.paint(item.control, item.top, item.text);
    }
    return true;
}

} // namespace velmar
