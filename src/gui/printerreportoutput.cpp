#include "gui/printerreportoutput.h"

#include "gui/messageboxprompter.h"
#include "gui/reportpreviewwindow.h"
#include "report/report.h"
#include "report/reportpainter.h"

#include <QPrintDialog>
#include <QPrinter>

namespace velmar {

PrinterReportOutput::PrinterReportOutput(QWidget* parentWindow) : m_parentWindow(parentWindow) {}

PrinterReportOutput::~PrinterReportOutput() = default;

QPrinter& PrinterReportOutput::printerFor(const QString& reportName)
{
    auto it = m_printers.find(reportName);
    if (it == m_printers.end())
        it = m_printers.emplace(reportName, std::make_unique<QPrinter>(QPrinter::HighResolution)).first;
    return *it->second;
}

bool PrinterReportOutput::preview(Report& report, QString* error)
{
    ReportPreviewWindow window(report, printerFor(report.name()), AskingWindow(m_parentWindow));
    if (!window.render(error))
        return false;
    window.exec();
    return true;
}

bool PrinterReportOutput::print(Report& report, QString* error)
{
    QPrinter& printer = printerFor(report.name());
    printer.setDocName(report.documentName());
    return PaintReport(report, printer, error);
}

void PrinterReportOutput::PrinterSetup(QWidget* parent)
{
    QPrintDialog dialog(&printerFor(QStringLiteral("TfrmPrint")), parent);
    dialog.setWindowTitle(QStringLiteral("Printer Setup"));
    if (dialog.exec() == QDialog::Accepted)
        sharePrinterChoice();
}

void PrinterReportOutput::sharePrinterChoice()
{
    const QPrinter& chosen = printerFor(QStringLiteral("TfrmPrint"));
    for (const char* name : {"TSummary", "TSoloSummary", "TfrmSolo"}) {
        QPrinter& p = printerFor(QString::fromUtf8(name));
        p.setOutputFormat(chosen.outputFormat());
        p.setPrinterName(chosen.printerName());
        if (chosen.outputFormat() == QPrinter::PdfFormat)
            p.setOutputFileName(chosen.outputFileName());
    }
}

} // namespace velmar
