#pragma once

#include "mail/smtpsession.h"
#include "sending/sendlog.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace velmar {

class BatchPrint;
class Documents;
class MailStatus;
class Prompter;
struct AppSettings;
struct AppState;
struct InvoiceMail;

// What became of one doctor's message in a run.
struct SendRecord
{
    QString doctorId;
    QString name;    // title and surname
    QString address; // his own, also when TEST sent it elsewhere
    SendOutcome outcome = SendOutcome::Sent;
    QString reason; // the server's last reply, or what went wrong
};

// "Dr Ashworth (1001) <a.ashworth@example.org>: sent", or the outcome, ": " and the reason.
QString SendRecordLine(const SendRecord& record);

// The end of a run of many doctors.
struct SendRunSummary
{
    int doctors = 0; // the run set out to mail
    int sent = 0;
    int failed = 0;
    int unconfirmed = 0;
    int skipped = 0;
    QString stopped;     // why the run ended before its last doctor; empty when it went through
    QStringList details; // a SendRecordLine for each doctor tried, in order

    bool allSent() const { return sent == doctors && stopped.isEmpty(); }
    // "Sent %d of %d: %d failed, %d unconfirmed, %d skipped", and on a line of its own why the run
    // stopped early.
    QString text() const;
};

// E-mails the pro-forma invoices: one doctor (the detail window's Send), every doctor of the open
// data set (Send Pro-Forma's to Everyone), or those not sent yet. Each run writes the PDFs into a
// temporary folder of its own and mails them on one connection, connecting again when it is lost;
// every attempt goes into the send log as it ends. At the end of a run of many doctors one
// summary is shown, instead of a message per doctor.
class PaymentSender
{
public:
    // In a row, before a run gives up.
    static constexpr int MaxFailedConnects = 3;
    // Before the second connect of a row, twice as long before the third.
    static constexpr int ReconnectPauseMs = 1000;

    // Takes over the mail hooks of documents and batch.
    PaymentSender(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Documents& documents,
                  BatchPrint& batch, Prompter& prompter, MailStatus* status);
    ~PaymentSender();
    PaymentSender(const PaymentSender&) = delete;
    PaymentSender& operator=(const PaymentSender&) = delete;

    // The send of one doctor, after the user confirmed it. True when his message went.
    bool SendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows);
    // Asks "Send Pro Forma Invoices to ALL?", then runs the batch in sending mode. dataSetOpen: the
    // main window lists doctors. The number of messages sent; -1 when the run did not go ahead or a
    // database error ended it.
    int SendAll(bool dataSetOpen);
    // The same for the doctors whose latest outcome is failed or skipped, or who were never tried;
    // those left unconfirmed only when asked for, since they may have had theirs.
    int SendNotYetSent(bool dataSetOpen, bool includeUnconfirmed);

    // The windows stay usable while the mail dialogue waits: no run may start inside another.
    bool isRunning() const { return m_running; }
    static QString runInProgressText() { return QStringLiteral("A sending run is in progress."); }
    // Stops the run at once, also in the middle of a wait for the server: the message in flight
    // is logged as it stands, then QUIT. Quietly: without the summary at its end.
    void cancel(bool quietly = false);
    // Asked before each doctor and during every wait, as if cancel() had been called.
    std::function<bool()> stopRequested;

    // Every message of the last run, in the order tried.
    const QList<SendRecord>& records() const { return m_records; }
    // The last run of many doctors; empty (and all sent) when there was none to make.
    const SendRunSummary& summary() const { return m_summary; }
    // Told of each message as soon as its outcome is known.
    std::function<void(const SendRecord&)> messageDone;
    SmtpSession& session() { return m_session; }

private:
    // True, after saying why, when no run may start: one is in progress, or no mail server is set.
    bool refusedWhileRunning();
    bool beginRun(bool batch);
    void endRun();
    int runBatch(bool dataSetOpen, const std::function<bool(const QSqlRecord&)>& wanted);
    bool stopping();
    bool connected();
    void pause(int ms);
    QString login();
    QString mail(const InvoiceMail& mail);
    void keep(const SendRecord& record, const QString& attachments);
    bool openLog();
    void closeLog();

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    // Where the run writes its log: beside the server connection, which holds the run's snapshot.
    QSqlDatabase m_log;
    QString m_logConnection;
    Documents& m_documents;
    BatchPrint& m_batch;
    Prompter& m_prompter;
    SmtpSession m_session;
    std::unique_ptr<QTemporaryDir> m_folder;
    bool m_running = false;
    bool m_batchRun = false; // failures wait for the summary
    bool m_cancelled = false;
    bool m_quiet = false;
    QString m_stopped;
    QString m_logError;
    QList<SendRecord> m_records;
    SendRunSummary m_summary;
};

} // namespace velmar
