#pragma once

#include "report/reportcontrol.h"
#include "report/reportsink.h"

#include <QList>
#include <QPageLayout>

namespace velmar {

class Report;

// A report run kept as its pages of placed texts and shapes, to be painted later (and elsewhere:
// a recording needs nothing of the report, its data or its events any more).
class ReportRecording : public ReportSink
{
public:
    struct Item
    {
        ReportControl control; // its own copy, without the print handler
        double top;
        QString text;
    };
    using Page = QList<Item>;

    // Runs the report into a new recording. False with the report's error.
    static bool record(Report& report, ReportRecording* recording, QString* error);

    bool beginPage(int pageNumber) override;
    void printBand(const ReportBand& band, double top, const QList<PrintedControl>& controls) override;

    QPageLayout pageLayout;
    QString documentName;
    QList<Page> pages;
};

} // namespace velmar
