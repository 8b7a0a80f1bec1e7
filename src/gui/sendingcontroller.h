#pragma once

#include "sending/paymentsender.h"

#include <QObject>
#include <QPointer>

namespace velmar {

class DetailWindow;
class MainWindow;
class ReportsController;

// The e-mail entries of the windows: the detail window's Send and the main window's Send
// Pro-Forma's to Everyone. The mail dialogue is traced in the main window's status bar.
class SendingController : public QObject
{
    Q_OBJECT
public:
    SendingController(const AppSettings& settings, AppState& state, ReportsController& reports, Prompter& prompter,
                      MainWindow& mainWindow);

    void attach(DetailWindow& detailWindow);
    PaymentSender& sender() { return m_sender; }

public slots:
    void sendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows);
    void sendAll();

private:
    QPointer<MainWindow> m_mainWindow;
    PaymentSender m_sender;
};

} // namespace velmar
