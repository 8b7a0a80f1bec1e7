#include "gui/reportscontroller.h"

#include "core/appstate.h"
#include "core/prompter.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "gui/detailwindow.h"
#include "gui/mainwindow.h"
#include "gui/printerreportoutput.h"
#include "gui/progresswindow.h"
#include "sending/paymentsender.h"

#include <QListWidget>

namespace velmar {

ReportsController::ReportsController(const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                                     Prompter& prompter, QWidget* mainWindow)
    : m_state(state), m_prompter(prompter), m_mainWindow(mainWindow),
      m_output(std::make_unique<PrinterReportOutput>(mainWindow)),
      m_documents(std::make_unique<Documents>(settings, state, db, prompter, *m_output)),
      m_progress(new ProgressWindow(mainWindow)),
      m_batch(std::make_unique<BatchPrint>(*m_documents, state, db, prompter, *m_progress))
{
}

ReportsController::~ReportsController()
{
    delete m_progress;
}

void ReportsController::attach(MainWindow& mainWindow, DetailWindow& detailWindow)
{
    connect(&detailWindow, &DetailWindow::printRequested, this, &ReportsController::printInvoice);
    connect(&detailWindow, &DetailWindow::pensionFormRequested, this, &ReportsController::producePensionForm);
    connect(&detailWindow, &DetailWindow::printerSetupRequested, this, &ReportsController::printerSetup);
    connect(&mainWindow, &MainWindow::summaryRequested, this, &ReportsController::summary);
    connect(&mainWindow, &MainWindow::printAllRequested, this, &ReportsController::printAll);
    connect(&mainWindow, &MainWindow::printerSetupRequested, this, &ReportsController::printerSetup);
}

void ReportsController::printInvoice(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows, bool preview)
{
    // In sending mode the invoice routine mails instead of printing.
    if (!preview && refusedWhileSending())
        return;
    const QString id = doctor.value(QStringLiteral("id")).toString();
    m_documents->ProduceInvoice(doctor, shiftRows, ShiftRowsStatement(m_state.CurrentDataSet, id), preview);
}

void ReportsController::producePensionForm(const QString& fileName, const QSqlRecord& doctor,
                                           const PaymentFigures& figures)
{
    QString error;
    if (!m_documents->ProducePensionForm(fileName, doctor, figures.superannuableFees, figures.superannuation,
                                         figures.additionalContribution, figures.employerContribution, &error))
        m_prompter.error(error);
}

void ReportsController::printerSetup()
{
    m_output->PrinterSetup(m_mainWindow);
}

void ReportsController::summary(bool print)
{
    m_documents->RunSummary(print);
}

bool ReportsController::refusedWhileSending()
{
    if (!m_state.SendingMode)
        return false;
    m_prompter.information(PaymentSender::runInProgressText());
    return true;
}

void ReportsController::printAll()
{
    if (refusedWhileSending())
        return;
    // The run only needs to know whether the main window lists any doctor.
    const auto* ids = m_mainWindow ? m_mainWindow->findChild<QListWidget*>(QStringLiteral("ids")) : nullptr;
    m_batch->PrintAll1Click(ids && ids->count() > 0);
}

} // namespace velmar
