#pragma once

#include <QList>
#include <QString>

namespace velmar {

class ReportBand;
struct ReportControl;

// A control as it comes out of a band: its final text (after OnPrint); empty for rules and boxes.
struct PrintedControl
{
    const ReportControl* control;
    QString text;
};

// Where a report run puts its pages: a painter, or a collector of the report's lines.
class ReportSink
{
public:
    virtual ~ReportSink() = default;
    // Page numbers count from 1 within the run. False stops the run with error().
    virtual bool beginPage(int pageNumber) = 0;
    // top: millimetres from the top of the page's printable area. Only enabled controls come.
    virtual void printBand(const ReportBand& band, double top, const QList<PrintedControl>& controls) = 0;
    virtual QString error() const { return QString(); }
};

} // namespace velmar
