#pragma once

#include "gui/progresswindow.h"
#include "payments/payments.h"

#include <QObject>
#include <QPointer>
#include <QSqlDatabase>

#include <memory>

namespace velmar {

class BatchPrint;
class DetailWindow;
class Documents;
class MainWindow;
class PrinterReportOutput;
class Prompter;
struct AppSettings;
struct AppState;

// The reports as the windows reach them: the detail window's invoice, pension-form and printer
// entries, the main window's summaries, Print All Invoices and printer set-up.
class ReportsController : public QObject
{
    Q_OBJECT
public:
    ReportsController(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Prompter& prompter,
                      QWidget* mainWindow);
    ~ReportsController() override;

    void attach(MainWindow& mainWindow, DetailWindow& detailWindow);

    Documents& documents() { return *m_documents; }
    BatchPrint& batch() { return *m_batch; }
    PrinterReportOutput& output() { return *m_output; }
    ProgressWindow& progressWindow() { return *m_progress; }

public slots:
    void printInvoice(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows, bool preview);
    void producePensionForm(const QString& fileName, const QSqlRecord& doctor, const PaymentFigures& figures);
    void printerSetup();
    void summary(bool print);
    void printAll();

private:
    bool refusedWhileSending();

    AppState& m_state;
    Prompter& m_prompter;
    QPointer<QWidget> m_mainWindow;
    std::unique_ptr<PrinterReportOutput> m_output;
    std::unique_ptr<Documents> m_documents;
    QPointer<ProgressWindow> m_progress; // a child of the main window, which may go first
    std::unique_ptr<BatchPrint> m_batch;
};

} // namespace velmar
