#pragma once

#include "report/reportcontrol.h"
#include "report/reportfonts.h"
#include "report/reportsink.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QRawFont>

#include <memory>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace velmar {

class Report;

// Paints a report run on a paged device (PDF writer, printer, preview). The painter's origin is the
// top-left corner of the page's printable area; millimetres become device units at its resolution.
class ReportPainter : public ReportSink
{
public:
    // newPageFirst: the device already holds pages (another report) and the first page is a new one.
    ReportPainter(QPainter& painter, QPagedPaintDevice& device, const ReportFontMap& fonts, bool newPageFirst = false);

    bool beginPage(int pageNumber) override;
    void printBand(const ReportBand& band, double top, const QList<PrintedControl>& controls) override;
    // One control with its text; top is the band's, in millimetres from the top of the printable area.
    void paint(const ReportControl& control, double top, const QString& text);
    QString error() const override { return m_error; }

    // Lines of a text as printed: split at line breaks (CR, LF or both) and, with word wrap, at the width.
    static QStringList textLines(const QString& text, const QFontMetricsF& metrics, double width, bool wordWrap);

private:
    struct FontEntry
    {
        ReportFont style;
        QFont font;
        QFontMetricsF metrics;
        // Names the font at the device's resolution among the shapes a thread keeps.
        QString key;
        // The face the kept glyphs are drawn in; null until the first of them is.
        QRawFont face;
    };
    struct Shape;
    static QHash<QString, Shape>& threadShapes();
    FontEntry& fontFor(const ReportFont& font);
    Shape& shapeOf(const FontEntry& entry, const QString& text);
    double widthOf(const FontEntry& entry, const QString& text);
    void drawLine(FontEntry& entry, const QPointF& baselineStart, const QString& text);
    double mm(double v) const { return v * m_unitsPerMm; }
    // A line of a fitted control as it is drawn: in which font, what is left of it, how wide.
    struct FittedLine
    {
        FontEntry* font;
        QString text;
        double width;
    };
    FittedLine fitLine(const ReportControl& control, FontEntry& entry, const QString& line, double width);
    void paintText(const ReportControl& control, double top, const QString& text);

    QPainter& m_painter;
    QPagedPaintDevice& m_device;
    const ReportFontMap& m_fonts;
    bool m_newPageFirst;
    double m_unitsPerMm;
    std::vector<std::unique_ptr<FontEntry>> m_fontCache;
    const FontEntry* m_currentFont = nullptr;
    QString m_error;
};

// Paints a whole report on a printer or other paged device: sets its page layout, begins a
// painter, runs the report. False with the error when the device or the report fails;
// deviceFailed tells which.
bool PaintReport(Report& report, QPagedPaintDevice& device, QString* error, bool* deviceFailed = nullptr);

class ReportRecording;
// Paints recorded pages; newPageFirst as for ReportPainter. False when the device refuses a page.
bool PaintRecording(const ReportRecording& recording, QPainter& painter, QPagedPaintDevice& device,
                    const ReportFontMap& fonts, bool newPageFirst, QString* error);

} // namespace velmar
