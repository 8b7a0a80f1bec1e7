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
    bool print(Report& report, QString* error) override;

    // The printer of a report form (by the report's name), created on first use.
    QPrinter& printerFor(const QString& reportName);
    // The printer set-up dialog of the invoice; the printer chosen there goes to the summaries and
    // the England and Wales pension form too. The Northern Ireland form keeps its own.
    void PrinterSetup(QWidget* parent);
    // After a set-up: hands the invoice's printer to the forms that follow it.
    void sharePrinterChoice();

private:
    QPointer<QWidget> m_parentWindow;
    std::map<QString, std::unique_ptr<QPrinter>> m_printers;
};

} // namespace velmar
