#pragma once

#include "report/reportoutput.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>

class QPrinter;

namespace velmar {

// Reports on screen and on paper: each report form has a printer of its own, previews open in the
// preview window.
class PrinterReportOutput : public ReportOutput
{
public:
    explicit PrinterReportOutput(QWidget* parentWindow = nullptr);
    ~PrinterReportOutput() override;

    bool preview(Report& report, QString* error) override;
    // A printer that fails says so: "Printing failed: " and why. Without a printer set up, Printer
    // Setup opens first.
    bool print(Report& report, QString* error) override;

    // The printer of a report form (by the report's name), created on first use.
    QPrinter& printerFor(const QString& reportName);
    // The printer set-up dialog of the invoice; the printer chosen there goes to the summaries and
    // the England and Wales pension form too, and is kept for the next run in the user's settings.
    // The Northern Ireland form keeps its own (reportName names it to set that one up). False when
    // the dialog was cancelled.
    bool PrinterSetup(QWidget* parent, const QString& reportName = QStringLiteral("TfrmPrint"));
    // After a set-up: hands the invoice's printer to the forms that follow it.
    void sharePrinterChoice();

    // A batch of reports (Print All). Meanwhile a report whose printer writes a PDF file is written
    // to a file of its own beside the chosen one, named after the report, rather than each
    // replacing the one before.
    void beginBatch();
    // Ends the batch: the folder the files went to (empty when none did) and their names.
    QStringList endBatch(QString* folder);

private:
    // The invoice's printer and its settings in the user's settings, for the next run.
    void keepPrinterChoice();
    void restorePrinterChoice();

    QPointer<QWidget> m_parentWindow;
    std::map<QString, std::unique_ptr<QPrinter>> m_printers;
    bool m_batch = false;
    QString m_batchFolder;
    std::unique_ptr<PdfFolderOutput> m_batchFiles;
};

} // namespace velmar
