#include "report/reportrecording.h"

#include "report/report.h"

namespace velmar {

bool ReportRecording::record(Report& report, ReportRecording* recording, QString* error)
{
    recording->pages.clear();
    recording->pageLayout = report.pageLayout();
    recording->documentName = report.documentName();
    return report.run(*recording, error);
}

bool ReportRecording::beginPage(int)
{
    pages.append(Page());
    return true;
}

void ReportRecording::printBand(const ReportBand&, double top, const QList<PrintedControl>& controls)
{
    Page& page = pages.last();
    for (const PrintedControl& p : controls) {
        Item item{*p.control, top, p.text};
        item.control.OnPrint = nullptr;
        page.append(std::move(item));
    }
}

} // namespace velmar
