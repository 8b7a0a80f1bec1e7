#include "gui/sendingcontroller.h"

#include "gui/detailwindow.h"
#include "gui/mainwindow.h"
#include "gui/reportscontroller.h"

#include <QListWidget>

namespace velmar {

SendingController::SendingController(const AppSettings& settings, AppState& state, ReportsController& reports,
                                     Prompter& prompter, MainWindow& mainWindow)
    : m_mainWindow(&mainWindow), m_sender(settings, state, reports.documents(), reports.batch(), prompter, &mainWindow)
{
    connect(&mainWindow, &MainWindow::sendAllRequested, this, &SendingController::sendAll);
}

void SendingController::attach(DetailWindow& detailWindow)
{
    connect(&detailWindow, &DetailWindow::sendRequested, this, &SendingController::sendOne);
}

void SendingController::sendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows)
{
    m_sender.SendOne(doctor, shiftRows);
}

void SendingController::sendAll()
{
    const auto* ids = m_mainWindow ? m_mainWindow->findChild<QListWidget*>(QStringLiteral("ids")) : nullptr;
    m_sender.SendAll(ids && ids->count() > 0);
}

} // namespace velmar
