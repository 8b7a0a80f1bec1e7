#pragma once

#include "gui/sendlogwindow.h"
#include "sending/paymentsender.h"

#include <QObject>
#include <QPointer>
#include <QSqlDatabase>

namespace velmar {

class DetailWindow;
class MainWindow;
class ReportsController;

// The e-mail entries of the windows: the detail window's Send, the main window's Send
// Pro-Forma's to Everyone, Send to Doctors Not Yet Sent, Send Amended Invoices and Send Log. The mail dialogue is
// traced in the main window's status bar; closing the main window during a run asks first.
class SendingController : public QObject
{
    Q_OBJECT
public:
    SendingController(const AppSettings& settings, AppState& state, const QSqlDatabase& db, ReportsController& reports,
                      Prompter& prompter, MainWindow& mainWindow);
    ~SendingController() override;

    void attach(DetailWindow& detailWindow);
    PaymentSender& sender() { return m_sender; }
    SendLogWindow& sendLogWindow() { return *m_sendLog; }

public slots:
    void sendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows);
    void sendAll();
    void sendNotYetSent();
    void sendChanged();
    void showSendLog();

private:
    bool dataSetOpen() const;
    bool mayClose();
    void runEnded();

    Prompter& m_prompter;
    QPointer<MainWindow> m_mainWindow;
    QPointer<DetailWindow> m_detailWindow;
    ReportsController& m_reports;
    PaymentSender m_sender;
    QPointer<SendLogWindow> m_sendLog; // a child of the main window
    bool m_closeAfterRun = false;
};

} // namespace velmar
