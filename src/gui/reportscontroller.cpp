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

#include <QDir>

namespace velmar {

ReportsController::ReportsController(const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                                     Prompter& prompter, QWidget* mainWindow)
    : m_state(state), m_prompter(prompter), m_mainWindow(mainWindow),
      m_output(std::make_unique<PrinterReportOutput>(mainWindow)),
      m_documents(std::make_unique<Documents>(settings, state, db, prompter, *m_output)),
      m_progress(new ProgressWindow(mainWindow)),
      m_batch(std::make_unique<BatchPrint>(*m_documents, state, db, prompter, *m_progress))
{
    connect(m_progress, &ProgressWindow::cancelRequested, this, &ReportsController::cancelPrinting);
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
    // Print All owns its data set until it ends.
    mainWindow.addRunGuard([this] { return m_printing ? BatchPrint::runInProgressText() : QString(); });
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
                                         figures.additionalContribution, figures.employerContribution, &error)) {
        m_prompter.error(error);
        return;
    }
    // A file written says where, in the window that asked for it.
    if (auto* detail = qobject_cast<DetailWindow*>(sender()); detail && !fileName.isEmpty())
        detail->showMessage(QStringLiteral("Wrote %1").arg(QDir::toNativeSeparators(fileName)));
}

void ReportsController::printerSetup()
{
    // The set-up belongs to the window whose menu asked for it.
    const auto* asking = qobject_cast<QWidget*>(sender());
    m_output->PrinterSetup(asking ? asking->window() : m_mainWindow.data());
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
    if (m_printing) {
        m_prompter.information(BatchPrint::runInProgressText());
        return;
    }
    // The run only needs to know whether the main window lists any doctor.
    const auto* main = qobject_cast<const MainWindow*>(m_mainWindow.data());
    if (!main || !main->listsDoctors()) {
        m_batch->PrintAll1Click(false);
        return;
    }
    m_printing = true;
    m_cancelPrinting = false;
    m_batch->StopRequested = [this] { return m_cancelPrinting; };
    m_progress->setCancellable(true);
    m_output->beginBatch();
    const int done = m_batch->PrintAll1Click(true);
    QString folder;
    const QStringList files = m_output->endBatch(&folder);
    m_progress->setCancellable(false);
    m_batch->StopRequested = {};
    m_printing = false;
    if (done < 0)
        return; // a database error, told already

    const BatchPrint::Outcome& run = m_batch->lastRun();
    QStringList lines{QStringLiteral("Printed %1 invoices").arg(run.done)};
    if (!run.failed.isEmpty())
        lines.append(QStringLiteral("Not printed: %1").arg(run.failed.join(QStringLiteral(", "))));
    if (run.untried > 0)
        // One call of arg: a name holding "%1" must not take in the number.
        lines.append(QStringLiteral("%1 after %2: %3 more not printed")
                         .arg(run.outputFailed ? QStringLiteral("Stopped") : QStringLiteral("Cancelled"),
                              run.outputFailed ? run.failed.constLast() : m_progress->progressText(),
                              QString::number(run.untried)));
    // A printer that writes a file wrote one per doctor: where they are.
    if (!files.isEmpty())
        lines.append(QStringLiteral("One PDF file per doctor in %1").arg(QDir::toNativeSeparators(folder)));
    m_prompter.summary(lines.join(u'\n'), files.join(u'\n'), !run.failed.isEmpty() || run.untried > 0);
}

void ReportsController::cancelPrinting()
{
    if (m_printing)
        m_cancelPrinting = true;
}

} // namespace velmar
