#include "gui/printerreportoutput.h"

#include "gui/messageboxprompter.h"
#include "gui/reportpreviewwindow.h"
#include "report/report.h"
#include "report/reportpainter.h"

#include <QFileInfo>
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
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    QString reason;
    if (toFile ? printer.outputFileName().isEmpty() : printer.printerName().isEmpty()) {
        reason = QStringLiteral("no printer is set up (Printer Setup chooses one)");
    } else if (m_batch && toFile) {
        const QString folder = QFileInfo(printer.outputFileName()).absolutePath();
        if (!m_batchFiles || folder != m_batchFolder) {
            m_batchFolder = folder;
            m_batchFiles = std::make_unique<PdfFolderOutput>(folder);
        }
        if (m_batchFiles->print(report, &reason))
            return true;
    } else {
        printer.setDocName(report.documentName());
        bool deviceFailed = false;
        if (PaintReport(report, printer, &reason, &deviceFailed))
            return true;
        if (!deviceFailed) {
            *error = reason; // the report's own failure
            return false;
        }
    }
    *error = QStringLiteral("Printing failed: %1").arg(reason);
    return false;
}

void PrinterReportOutput::beginBatch()
{
    m_batch = true;
    m_batchFolder.clear();
    m_batchFiles.reset();
}

QStringList PrinterReportOutput::endBatch(QString* folder)
{
    m_batch = false;
    *folder = m_batchFolder;
    const QStringList files = m_batchFiles ? m_batchFiles->files() : QStringList();
    m_batchFiles.reset();
    m_batchFolder.clear();
    return files;
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
