#include "gui/printerreportoutput.h"

#include "gui/messageboxprompter.h"
#include "gui/reportpreviewwindow.h"
#include "gui/windowplaces.h"
#include "report/report.h"
#include "report/reportpainter.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSettings>

namespace velmar {

namespace {

const QString kInvoiceForm = QStringLiteral("TfrmPrint");

bool isSetUp(const QPrinter& printer)
{
    return printer.outputFormat() == QPrinter::PdfFormat ? !printer.outputFileName().isEmpty()
                                                         : !printer.printerName().isEmpty();
}

} // namespace

PrinterReportOutput::PrinterReportOutput(QWidget* parentWindow) : m_parentWindow(parentWindow)
{
    restorePrinterChoice();
}

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
    if (!isSetUp(printer))
        PrinterSetup(AskingWindow(m_parentWindow), report.name());
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    QString reason;
    if (!isSetUp(printer)) {
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

bool PrinterReportOutput::PrinterSetup(QWidget* parent, const QString& reportName)
{
    // Only the Northern Ireland form has a printer of its own; every other form uses the invoice's.
    const bool own = reportName == u"TfrmSoloIR";
    QPrintDialog dialog(&printerFor(own ? reportName : kInvoiceForm), parent);
    dialog.setWindowTitle(QStringLiteral("Printer Setup"));
    // It chooses the printer; nothing is printed when it closes.
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly))
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (!own) {
        sharePrinterChoice();
        keepPrinterChoice();
    }
    return true;
}

void PrinterReportOutput::sharePrinterChoice()
{
    const QPrinter& chosen = printerFor(kInvoiceForm);
    for (const char* name : {"TSummary", "TSoloSummary", "TfrmSolo"}) {
        QPrinter& p = printerFor(QString::fromUtf8(name));
        p.setOutputFormat(chosen.outputFormat());
        p.setPrinterName(chosen.printerName());
        if (chosen.outputFormat() == QPrinter::PdfFormat)
            p.setOutputFileName(chosen.outputFileName());
    }
}

void PrinterReportOutput::keepPrinterChoice()
{
    const QPrinter& chosen = printerFor(kInvoiceForm);
    const auto settings = UserWindowSettings();
    settings->beginGroup(QStringLiteral("Printer"));
    const bool toFile = chosen.outputFormat() == QPrinter::PdfFormat;
    settings->setValue(QStringLiteral("toFile"), toFile);
    settings->setValue(QStringLiteral("name"), toFile ? chosen.outputFileName() : chosen.printerName());
    settings->setValue(QStringLiteral("copies"), chosen.copyCount());
    settings->setValue(QStringLiteral("duplex"), int(chosen.duplex()));
    settings->setValue(QStringLiteral("colorMode"), int(chosen.colorMode()));
    settings->setValue(QStringLiteral("pageSize"), int(chosen.pageLayout().pageSize().id()));
    settings->setValue(QStringLiteral("orientation"), int(chosen.pageLayout().orientation()));
}

void PrinterReportOutput::restorePrinterChoice()
{
    const auto settings = UserWindowSettings();
    settings->beginGroup(QStringLiteral("Printer"));
    const QString name = settings->value(QStringLiteral("name")).toString();
    if (name.isEmpty())
        return;
    QPrinter& printer = printerFor(kInvoiceForm);
    if (settings->value(QStringLiteral("toFile")).toBool()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(name);
    } else if (QPrinterInfo::availablePrinterNames().contains(name)) {
        printer.setPrinterName(name);
    } else {
        return; // gone since: the system's default printer it is
    }
    printer.setCopyCount(qMax(1, settings->value(QStringLiteral("copies"), 1).toInt()));
    printer.setDuplex(QPrinter::DuplexMode(settings->value(QStringLiteral("duplex")).toInt()));
    printer.setColorMode(QPrinter::ColorMode(settings->value(QStringLiteral("colorMode"), 1).toInt()));
    printer.setPageSize(
        QPageSize(QPageSize::PageSizeId(settings->value(QStringLiteral("pageSize"), int(QPageSize::A4)).toInt())));
    printer.setPageOrientation(QPageLayout::Orientation(settings->value(QStringLiteral("orientation")).toInt()));
    sharePrinterChoice();
}

} // namespace velmar
