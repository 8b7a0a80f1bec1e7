#include "report/reportpainter.h"

#include "report/report.h"
#include "report/reportrecording.h"

#include <QGlyphRun>
#include <QHash>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextLayout>
#include <QThreadStorage>

#include <algorithm>
#include <cmath>

namespace velmar {

namespace {
constexpr double kLineWidthMm = 0.2;
}

// A text as a font shapes it: its width, and once it has been drawn its glyphs in the font's own face
// with where each goes from the start of the baseline.
struct ReportPainter::Shape
{
    double width = 0;
    int draws = 0;
    bool shaped = false;
    // False when the text needs more than the font's own face (a fallback font for a missing letter):
    // it is then drawn as text.
    bool drawable = false;
    QList<quint32> glyphs;
    QList<QPointF> positions;
};

// The shapes a thread has made, kept from document to document: a run of invoices prints the same
// dates, places and amounts in file after file, and shaping is half of what drawing a text costs.
// Plain numbers only, so they outlive any document and its fonts.
QHash<QString, ReportPainter::Shape>& ReportPainter::threadShapes()
{
    struct Cache
    {
        QHash<QString, Shape> shapes;
    };
    static QThreadStorage<Cache> caches;
    QHash<QString, Shape>& shapes = caches.localData().shapes;
    // Bounded: a long run of varied texts starts afresh now and then.
    if (shapes.size() > 4096)
        shapes.clear();
    return shapes;
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
    const QString key =
        QStringLiteral("%1|%2|%3%4%5|%6x%7|%8|")
            .arg(font.family(), QString::number(f.size), QString::number(f.bold), QString::number(f.italic),
                 QString::number(f.underline), QString::number(m_device.logicalDpiX()),
                 QString::number(m_device.logicalDpiY()), QString::number(m_painter.layoutDirection()));
    m_fontCache.push_back(
        std::make_unique<FontEntry>(FontEntry{f, font, QFontMetricsF(font, &m_device), key, QRawFont()}));
    return *m_fontCache.back();
}

ReportPainter::Shape& ReportPainter::shapeOf(const FontEntry& entry, const QString& text)
{
    QHash<QString, Shape>& shapes = threadShapes();
    const QString key = entry.key + text;
    auto it = shapes.find(key);
    if (it == shapes.end())
        it = shapes.insert(key, Shape{entry.metrics.horizontalAdvance(text), 0, false, false, {}, {}});
    return *it;
}

double ReportPainter::widthOf(const FontEntry& entry, const QString& text)
{
    return shapeOf(entry, text).width;
}

void ReportPainter::drawLine(FontEntry& entry, const QPointF& baselineStart, const QString& text)
{
    Shape& shape = shapeOf(entry, text);
    // Glyphs are kept for texts that come again; a doctor's own name and address are drawn as text.
    if (!shape.shaped && ++shape.draws < 2) {
        m_painter.drawText(baselineStart, text);
        return;
    }
    if (!entry.face.isValid())
        entry.face = QRawFont::fromFont(QFont(entry.font, &m_device));
    if (!shape.shaped) {
        shape.shaped = true;
        // Laid out as the painter lays out a text drawn at a point: one line, in the painter's direction.
        QTextLayout layout(text, entry.font, &m_device);
        QTextOption option;
        option.setTextDirection(m_painter.layoutDirection());
        option.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        // A line separator (U+2028) ends a laid-out line where drawText() goes on: such a text is
        // drawn as text, lest what follows it be lost.
        const bool whole = line.isValid() && !layout.createLine().isValid();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        if (whole && runs.size() == 1 && runs.first().rawFont() == entry.face) {
            shape.drawable = true;
            shape.glyphs = runs.first().glyphIndexes();
            shape.positions = runs.first().positions();
            for (QPointF& p : shape.positions)
                p.ry() -= line.ascent();
        }
    }
    if (!shape.drawable) {
        m_painter.drawText(baselineStart, text);
        return;
    }
    QGlyphRun run;
    run.setRawFont(entry.face);
    run.setGlyphIndexes(shape.glyphs);
    run.setPositions(shape.positions);
    run.setUnderline(entry.style.underline);
    m_painter.drawGlyphRun(baselineStart, run);
}

QStringList ReportPainter::textLines(const QString& text, const QFontMetricsF& metrics, double width, bool wordWrap)
{
    // Most texts are one line: a date, a place, an amount.
    if (!wordWrap && !text.contains(u'\n') && !text.contains(u'\r'))
        return {text};
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

ReportPainter::FittedLine ReportPainter::fitLine(const ReportControl& c, FontEntry& fe, const QString& line,
                                                 double width)
{
    const double w = widthOf(fe, line);
    if (w <= width || width <= 0)
        return {&fe, line, w};
    // Widths grow with the size; the estimate is then checked, a tenth of a point at a time.
    ReportFont smaller = c.font;
    const double floor = c.fit == TextFit::Text ? std::min(kSmallestFitSize, c.font.size) : 0.5;
    smaller.size = std::max(floor, std::floor(c.font.size * width / w * 10) / 10);
    for (;;) {
        FontEntry& entry = fontFor(smaller);
        const double fitted = widthOf(entry, line);
        if (fitted <= width)
            return {&entry, line, fitted};
        if (smaller.size - 0.1 < floor) {
            if (c.fit == TextFit::Number)
                return {&entry, line, fitted};
            const QString cut = entry.metrics.elidedText(line, Qt::ElideRight, width);
            return {&entry, cut, widthOf(entry, cut)};
        }
        smaller.size = std::round((smaller.size - 0.1) * 10) / 10;
    }
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
    const bool aligned = c.alignment & (Qt::AlignRight | Qt::AlignHCenter);
    const bool fitted = c.fit != TextFit::None && width > 0;
    double baseline = mm(top + c.rect.top()) + fm.ascent();
    for (const QString& line : lines) {
        FittedLine out{&fe, line, 0};
        if (fitted)
            out = fitLine(c, fe, line, width);
        else if (aligned || !c.autoSize) // left-aligned text that may run on needs no measuring
            out.width = widthOf(fe, line);
        if (m_currentFont != out.font) {
            m_painter.setFont(out.font->font);
            m_currentFont = out.font;
        }
        double x = left;
        if (c.alignment & Qt::AlignRight)
            x = left + width - out.width;
        else if (c.alignment & Qt::AlignHCenter)
            x = left + (width - out.width) / 2;
        const bool clip = !fitted && !c.autoSize && out.width > width + 0.5;
        if (clip) {
            m_painter.save();
            m_painter.setClipRect(QRectF(left, baseline - fm.ascent(), width, fm.height()));
        }
        drawLine(*out.font, QPointF(x, baseline), out.text);
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

bool PaintReport(Report& report, QPagedPaintDevice& device, QString* error, bool* deviceFailed)
{
    if (deviceFailed)
        *deviceFailed = false;
    if (!device.setPageLayout(report.pageLayout())) {
        // A printer whose least margins are wider than the report's: keep paper and orientation.
        device.setPageSize(report.pageLayout().pageSize());
        device.setPageOrientation(report.pageLayout().orientation());
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("Could not start printing %1").arg(report.documentName());
        if (deviceFailed)
            *deviceFailed = true;
        return false;
    }
    ReportFontMap fonts;
    ReportPainter sink(painter, device, fonts);
    const bool ok = report.run(sink, error);
    // A page the device refused fails the run with the painter's error.
    if (deviceFailed)
        *deviceFailed = !ok && !sink.error().isEmpty();
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
