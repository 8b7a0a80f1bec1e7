#pragma once

#include "mail/smtpsession.h"
#include "sending/sendclaim.h"
#include "sending/sendlog.h"

#include <QList>
#include <QSet>
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
struct PaymentMail;

// What became of one doctor's message in a run.
struct SendRecord
{
    QString doctorId;
    QString name;    // title and surname
    QString address; // his own, also when TEST sent it elsewhere
    SendOutcome outcome = SendOutcome::Sent;
    QString reason;      // the server's last reply, or what went wrong
    QString testAddress; // where a run under TEST sent it instead
};

// "Dr Ashworth (1001) <a.ashworth@example.org>: sent", "...: test to clerk@example.org", or the
// outcome, ": " and the reason.
QString SendRecordLine(const SendRecord& record);

// The end of a run of many doctors.
struct SendRunSummary
{
    int doctors = 0; // the run set out to mail
    int sent = 0;
    int failed = 0;
    int unconfirmed = 0;
    int skipped = 0;
    int test = 0;        // accepted for the TEST address: nobody was sent his
    QString testAddress; // that address
    QString stopped;     // why the run ended before its last doctor; empty when it went through
    QStringList details; // a SendRecordLine for each doctor tried, in order

    // Every message of the run went where it was to go (the test address under TEST).
    bool allSent() const { return sent + test == doctors && stopped.isEmpty(); }
    // "Sent %d of %d: %d failed, %d unconfirmed, %d skipped" (", %d test to %s" under TEST), and
    // on a line of its own why the run stopped early.
    QString text() const;
};

// E-mails the pro-forma invoices: one doctor (the detail window's Send), every doctor of the open
// data set (Send Pro-Forma's to Everyone), those not sent yet, or those whose payment changed
// since. A run owns its data set: it fixes the data set, its label and its doctors when it starts,
// and holds the data set's claim in the database, so no other run (here or on another PC) sends
// it meanwhile. It writes the PDFs into a temporary folder of its own and mails them on one
// connection, connecting again when it is lost. Each attempt is logged before the message goes
// and again when its answer comes (see attempt()). At the end of a run of many doctors one summary
// is shown, instead of a message per doctor.
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
    // Asks "Send the pro-forma invoices of <data set> to <n> doctors?", saying who has had theirs
    // already, then runs the batch in sending mode. dataSetOpen: the main window lists doctors. The
    // number of messages sent; -1 when the run did not go ahead or a database error ended it.
    int SendAll(bool dataSetOpen);
    // The same for the doctors whose latest outcome is failed or skipped, or who were never tried;
    // those left unconfirmed only when asked for, since they may have had theirs.
    int SendNotYetSent(bool dataSetOpen, bool includeUnconfirmed);
    // The same for the doctors whose invoice states another payment now than the one they were
    // sent, with "Amended: " before the subject.
    int SendChanged(bool dataSetOpen);

    // The windows stay usable while the mail dialogue waits: no run may start inside another, and
    // no other data set may be opened.
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
    // Picks the doctors of a run by id, once the run holds its claim; false after a message.
    using Choice = std::function<bool(QSet<QString>* ids)>;

    // True, after saying why, when no run may start: one is in progress, or no mail server is set.
    bool refusedWhileRunning();
    void fixDataSet();
    bool beginRun(bool batch);
    void endRun();
    int runBatch(bool dataSetOpen, const Choice& choose);
    bool doctorIds(QStringList* ids);
    bool stopping();
    void stop(const QString& why);
    bool connected();
    void pause(int ms);
    QString login();
    QString mail(const InvoiceMail& mail);
    QString attempt(SendRecord record, SendLogEntry entry, const PaymentMail& message);
    void keep(const SendRecord& record, const SendLogEntry& entry, int attempt = -1);
    void describe(const SendRecord& record, SendLogEntry* entry) const;
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
    SendClaim m_claim;
    std::unique_ptr<QTemporaryDir> m_folder;
    // The run's own data set, fixed when it starts, and the stamp of its import.
    QString m_dataSet;
    QString m_dataSetLabel;
    QString m_importStamp;
    bool m_amended = false;
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
