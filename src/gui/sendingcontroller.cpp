#include "gui/sendingcontroller.h"

#include "core/prompter.h"
#include "gui/detailwindow.h"
#include "gui/mainwindow.h"
#include "gui/reportscontroller.h"
#include "gui/sendlogwindow.h"

namespace velmar {

SendingController::SendingController(const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                                     ReportsController& reports, Prompter& prompter, MainWindow& mainWindow)
    : m_prompter(prompter), m_mainWindow(&mainWindow), m_reports(reports),
      m_sender(settings, state, db, reports.documents(), reports.batch(), prompter, &mainWindow),
      m_sendLog(new SendLogWindow(settings, state, db, prompter, &mainWindow))
{
    connect(&mainWindow, &MainWindow::sendAllRequested, this, &SendingController::sendAll);
    connect(&mainWindow, &MainWindow::sendNotYetSentRequested, this, &SendingController::sendNotYetSent);
    connect(&mainWindow, &MainWindow::sendChangedRequested, this, &SendingController::sendChanged);
    connect(&mainWindow, &MainWindow::sendLogRequested, this, &SendingController::showSendLog);
    connect(&reports.progressWindow(), &ProgressWindow::cancelRequested, this, [this] { m_sender.cancel(); });
    mainWindow.setCloseGuard([this] { return mayClose(); });
    // A send owns its data set until it ends.
    mainWindow.addRunGuard([this] { return m_sender.isRunning() ? PaymentSender::runInProgressText() : QString(); });
}

SendingController::~SendingController()
{
    if (m_mainWindow)
        m_mainWindow->setCloseGuard({});
}

void SendingController::attach(DetailWindow& detailWindow)
{
    m_detailWindow = &detailWindow;
    connect(&detailWindow, &DetailWindow::sendRequested, this, &SendingController::sendOne);
}

bool SendingController::dataSetOpen() const
{
    return m_mainWindow && m_mainWindow->listsDoctors();
}

void SendingController::sendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows)
{
    m_sender.SendOne(doctor, shiftRows);
    runEnded();
}

void SendingController::sendAll()
{
    m_reports.progressWindow().setCancellable(true);
    m_sender.SendAll(dataSetOpen());
    runEnded();
}

void SendingController::sendNotYetSent()
{
    m_reports.progressWindow().setCancellable(true);
    m_sender.SendNotYetSent(dataSetOpen(), false);
    runEnded();
}

void SendingController::sendChanged()
{
    m_reports.progressWindow().setCancellable(true);
    m_sender.SendChanged(dataSetOpen());
    runEnded();
}

void SendingController::showSendLog()
{
    if (!dataSetOpen()) {
        m_prompter.information(QStringLiteral("Please open a file first"));
        return;
    }
    m_sendLog->hide(); // showing it again reads the log afresh
    m_sendLog->show();
    m_sendLog->raise();
    m_sendLog->activateWindow();
}

bool SendingController::mayClose()
{
    if (!m_sender.isRunning())
        return true;
    if (!m_prompter.question(QStringLiteral("Stop sending?")))
        return false;
    // The window closes once the message in flight is done and the server has been told.
    m_closeAfterRun = true;
    m_sender.cancel(true);
    return false;
}

void SendingController::runEnded()
{
    // A run started inside another's wait returns first; the outer one is still going.
    if (m_sender.isRunning())
        return;
    m_reports.progressWindow().setCancellable(false);
    if (m_sendLog->isVisible())
        m_sendLog->reload();
    if (m_detailWindow)
        m_detailWindow->showSendStatus();
    if (m_closeAfterRun && m_mainWindow) {
        m_closeAfterRun = false;
        m_mainWindow->close();
    }
}

} // namespace velmar
