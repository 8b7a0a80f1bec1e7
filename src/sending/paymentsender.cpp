#include "sending/paymentsender.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/clock.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/dialect.h"
#include "db/reading.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "mail/paymentmail.h"
#include "payments/payments.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

namespace velmar {

namespace {

// SendingMode is on while the guarded run goes, however it ends.
class SendingModeOn
{
public:
    explicit SendingModeOn(AppState& state) : m_state(state), m_before(state.SendingMode)
    {
        m_state.SendingMode = true;
    }
    ~SendingModeOn() { m_state.SendingMode = m_before; }
    SendingModeOn(const SendingModeOn&) = delete;
    SendingModeOn& operator=(const SendingModeOn&) = delete;

private:
    AppState& m_state;
    bool m_before;
};

SendOutcome outcomeOf(const MailResult& result)
{
    switch (result.outcome) {
    case MailOutcome::Done:
        return SendOutcome::Sent;
    case MailOutcome::Unconfirmed:
        return SendOutcome::Unconfirmed;
    case MailOutcome::Failed:
        break;
    }
    return SendOutcome::Failed;
}

// Not yet sent: never tried, or nothing reached him. An unconfirmed message may have, so it goes
// again only when asked for.
bool notYetSent(const QHash<QString, SendOutcome>& latest, const QString& id, bool includeUnconfirmed)
{
    const auto it = latest.constFind(id);
    return it == latest.constEnd() || *it == SendOutcome::Failed || *it == SendOutcome::Skipped ||
           (includeUnconfirmed && *it == SendOutcome::Unconfirmed);
}

} // namespace

QString SendRecordLine(const SendRecord& record)
{
    QString outcome = OutcomeName(record.outcome);
    if (record.outcome != SendOutcome::Sent && !record.reason.isEmpty())
        outcome += QStringLiteral(": ") + record.reason;
    return QStringLiteral("%1 (%2) <%3>: %4").arg(record.name, record.doctorId, record.address, outcome);
}

QString SendRunSummary::text() const
{
    QString text = QString::asprintf("Sent %d of %d: %d failed, %d unconfirmed, %d skipped", sent, doctors, failed,
                                     unconfirmed, skipped);
    if (!stopped.isEmpty())
        text += u'\n' + stopped;
    return text;
}

PaymentSender::PaymentSender(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Documents& documents,
                             BatchPrint& batch, Prompter& prompter, MailStatus* status)
    : m_settings(settings), m_state(state), m_db(db), m_documents(documents), m_batch(batch), m_prompter(prompter),
      m_session(status)
{
    m_documents.setPaymentMailer([this](const InvoiceMail& m) { return mail(m); });
    m_batch.SmtpLogin = [this] { return login(); };
    m_batch.Disconnect = [this] { m_session.Quit(); };
}

PaymentSender::~PaymentSender()
{
    m_documents.setPaymentMailer({});
    m_batch.SmtpLogin = {};
    m_batch.Disconnect = {};
}

bool PaymentSender::refusedWhileRunning()
{
    if (!m_running) {
        // Nothing to connect to: said once, before anything is written or asked.
        const QString noServer = MissingMailServerMessage(m_settings);
        if (noServer.isEmpty())
            return false;
        m_prompter.error(noServer);
        return true;
    }
    m_prompter.information(runInProgressText());
    return true;
}

bool PaymentSender::beginRun(bool batch)
{
    // The attachments of this run only: nobody else's files, and gone when the run ends.
    m_folder = std::make_unique<QTemporaryDir>();
    if (!m_folder->isValid()) {
        m_prompter.error(
            QStringLiteral("Cannot create a folder for the e-mail attachments: %1").arg(m_folder->errorString()));
        m_folder.reset();
        return false;
    }
    if (!openLog()) {
        m_folder.reset();
        return false;
    }
    m_documents.setSendingFolder(m_folder->path());
    // A stop ends the wait under way at once, not only the run between two doctors.
    m_session.setStopCheck([this] { return stopping(); });
    m_running = true;
    m_batchRun = batch;
    m_cancelled = false;
    m_quiet = false;
    m_stopped.clear();
    m_logError.clear();
    m_records.clear();
    return true;
}

void PaymentSender::endRun()
{
    closeLog();
    m_documents.setSendingFolder(QString());
    m_folder.reset();
    m_session.setStopCheck({});
    m_running = false;
    m_batchRun = false;
}

bool PaymentSender::openLog()
{
    // SQLite lets its own connection commit while it holds the run's read open.
    m_log = m_db;
    if (DialectOf(m_db) != Dialect::PostgreSQL)
        return true;
    m_logConnection = m_db.connectionName() + QStringLiteral("-sendlog");
    QString error;
    if (OpenSecondConnection(m_db, m_logConnection, &m_log, &error))
        return true;
    m_prompter.error(QStringLiteral("The send log cannot be written: ") + error);
    closeLog();
    return false;
}

void PaymentSender::closeLog()
{
    m_log = QSqlDatabase();
    if (!m_logConnection.isEmpty())
        CloseDatabase(m_logConnection);
    m_logConnection.clear();
}

void PaymentSender::cancel(bool quietly)
{
    if (!m_running)
        return;
    m_cancelled = true;
    m_quiet = m_quiet || quietly;
    m_session.wake();
}

bool PaymentSender::stopping()
{
    if (m_stopped.isEmpty() && (m_cancelled || (stopRequested && stopRequested())))
        m_stopped = QStringLiteral("Stopped on request");
    return !m_stopped.isEmpty();
}

void PaymentSender::pause(int ms)
{
    const QDeadlineTimer until(ms);
    while (!until.hasExpired() && !stopping()) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(std::min<qint64>(until.remainingTime(), 100)), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString PaymentSender::login()
{
    // Settings no message could go with stop the run before its first connect.
    if (const QString problem = SenderProblem(m_settings); !problem.isEmpty())
        return problem;
    return m_session.SmtpLogin(m_settings).within(QStringLiteral(" logging into email server"));
}

bool PaymentSender::connected()
{
    if (m_session.stillConnected())
        return true;
    for (int failed = 0;;) {
        if (stopping())
            return false;
        const QString result = login();
        if (result.isEmpty())
            return true;
        if (++failed == MaxFailedConnects) {
            m_stopped = QStringLiteral("Gave up after %1 failed connects in a row: %2").arg(failed).arg(result);
            return false;
        }
        pause(ReconnectPauseMs * failed);
    }
}

QString PaymentSender::mail(const InvoiceMail& m)
{
    SendRecord record{m.id, m.name, m.email.trimmed(), SendOutcome::Failed, QString()};
    PaymentMail message;
    message.pdfPath = m.invoicePath;
    message.recipient = m.email;
    message.salutationName = m.name;
    message.proFormaPdfName = m.ProFormaPdfName;
    message.pensionFormWanted = m.pensionFormWanted;
    message.soloPdfPath = m.pensionFormPath;
    message.soloPdfName = m.SoloPdfName;
    QString shown;
    if (!m.documentsError.isEmpty()) {
        record.reason = QStringLiteral("The documents could not be written: ") + m.documentsError;
        shown = record.reason;
    } else if (const QString problem = MessageProblem(message); !problem.isEmpty()) {
        // No message can be made of his data: not tried, and trying again would change nothing.
        record.outcome = SendOutcome::Skipped;
        record.reason = problem;
        shown = problem;
    } else if (stopping() || !connected()) {
        // The run ends before this doctor: he was not tried.
        return m_batchRun ? QString() : m_stopped;
    } else {
        const MailResult result = SendPaymentMail(m_session, m_settings, message);
        record.outcome = outcomeOf(result);
        record.reason = result.reason;
        shown = result.within(QStringLiteral(" sending email to ") + m.email);
    }
    keep(record, m.pensionFormWanted ? m.ProFormaPdfName + QStringLiteral("; ") + m.SoloPdfName : m.ProFormaPdfName);
    return m_batchRun ? QString() : shown;
}

void PaymentSender::keep(const SendRecord& record, const QString& attachments)
{
    m_records.append(record);
    const SendLogEntry entry{m_state.CurrentDataSet,   record.doctorId, QString(),    record.address, attachments,
                             Clock::currentDateTime(), record.outcome,  record.reason};
    QString error;
    // Nobody is mailed unrecorded: the run stops when its log cannot be written.
    if (!AppendSendLog(m_log, entry, &error) && m_logError.isEmpty()) {
        m_logError = QStringLiteral("The send log cannot be written: ") + error;
        if (m_stopped.isEmpty())
            m_stopped = m_logError;
    }
    if (messageDone)
        messageDone(record);
}

bool PaymentSender::SendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows)
{
    if (refusedWhileRunning() || !beginRun(false))
        return false;
    {
        SendingModeOn sending(m_state);
        const QString result = login();
        if (!result.isEmpty()) {
            endRun();
            m_prompter.error(result);
            return false;
        }
        m_documents.ProduceInvoice(
            doctor, shiftRows,
            ShiftRowsStatement(m_state.CurrentDataSet, doctor.value(QStringLiteral("id")).toString()), false);
        m_session.Quit();
    }
    endRun();
    if (!m_logError.isEmpty())
        m_prompter.error(m_logError);
    // A failed PDF or a refused message has been reported already; claiming it was sent would be false.
    const bool sent = !m_records.isEmpty() && m_records.constLast().outcome == SendOutcome::Sent;
    if (sent)
        m_prompter.information(QStringLiteral("Email with Pro Forma attachment sent to: %1")
                                   .arg(doctor.value(QStringLiteral("email")).toString()));
    return sent;
}

int PaymentSender::runBatch(bool dataSetOpen, const std::function<bool(const QSqlRecord&)>& wanted)
{
    // The run itself says "Please open a file before printing" and logs in only with doctors listed.
    if (dataSetOpen && !beginRun(true))
        return -1;
    m_batch.Wanted = wanted;
    m_batch.StopRequested = [this] { return stopping(); };
    int result = 0;
    {
        SendingModeOn sending(m_state);
        result = m_batch.PrintAll1Click(dataSetOpen);
    }
    m_batch.Wanted = {};
    m_batch.StopRequested = {};
    if (!dataSetOpen)
        return -1;
    endRun();
    // A run that never got to its first doctor has said why already.
    if (result < 0 && m_records.isEmpty())
        return -1;

    SendRunSummary summary;
    summary.doctors = m_batch.doctorsInRun();
    // What needs the clerk first: those not sent, then those sent, each in the run's order.
    QList<SendRecord> records = m_records;
    std::stable_sort(records.begin(), records.end(), [](const SendRecord& a, const SendRecord& b) {
        return (a.outcome != SendOutcome::Sent) > (b.outcome != SendOutcome::Sent);
    });
    for (const SendRecord& record : std::as_const(records)) {
        switch (record.outcome) {
        case SendOutcome::Sent:
            ++summary.sent;
            break;
        case SendOutcome::Failed:
            ++summary.failed;
            break;
        case SendOutcome::Unconfirmed:
            ++summary.unconfirmed;
            break;
        case SendOutcome::Skipped:
            ++summary.skipped;
            break;
        }
        summary.details.append(SendRecordLine(record));
    }
    const qsizetype untried = summary.doctors - m_records.size();
    if (untried > 0) {
        const QString why = m_stopped.isEmpty() ? QStringLiteral("A database error ended the run") : m_stopped;
        summary.stopped = QStringLiteral("%1; not tried: %2").arg(why, QString::number(untried));
    }
    m_summary = summary;
    if (!m_quiet)
        m_prompter.summary(summary.text(), summary.details.join(u'\n'), !summary.allSent());
    return result < 0 ? -1 : summary.sent;
}

int PaymentSender::SendAll(bool dataSetOpen)
{
    m_summary = SendRunSummary();
    if (refusedWhileRunning() || !m_prompter.question(QStringLiteral("Send Pro Forma Invoices to ALL?")))
        return -1;
    return runBatch(dataSetOpen, {});
}

int PaymentSender::SendNotYetSent(bool dataSetOpen, bool includeUnconfirmed)
{
    m_summary = SendRunSummary();
    if (refusedWhileRunning())
        return -1;
    if (!dataSetOpen)
        return runBatch(false, {});
    QHash<QString, SendOutcome> latest;
    QString error;
    if (!LatestOutcomes(m_db, m_state.CurrentDataSet, &latest, &error)) {
        m_prompter.error(QStringLiteral("The send log cannot be read: ") + error);
        return -1;
    }
    int waiting = 0;
    int unconfirmed = 0;
    ReadQuery doctors(m_db, QStringLiteral("SELECT id FROM Headers WHERE DataSet = ?"), {m_state.CurrentDataSet});
    const bool whole = doctors.forEachRow([&](const QSqlQuery& q) {
        const QString id = q.value(0).toString();
        if (notYetSent(latest, id, includeUnconfirmed))
            ++waiting;
        else if (latest.value(id) == SendOutcome::Unconfirmed)
            ++unconfirmed;
    });
    if (!whole) {
        m_prompter.error(doctors.trouble().isEmpty()
                             ? QStringLiteral("Database error: SELECT id FROM Headers WHERE DataSet = ?")
                             : doctors.trouble());
        return -1;
    }
    const QString leftOut = unconfirmed == 0
                                ? QString()
                                : QStringLiteral("\n%1 unconfirmed %2 left out: see the Send Log.")
                                      .arg(QString::number(unconfirmed), unconfirmed == 1 ? u"is" : u"are");
    if (waiting == 0) {
        m_prompter.information(QStringLiteral("No doctor is waiting to be sent.") + leftOut);
        return 0;
    }
    if (!m_prompter.question(
            QStringLiteral("Send Pro Forma Invoices to the %1 not yet sent?")
                .arg(waiting == 1 ? QStringLiteral("1 doctor") : QStringLiteral("%1 doctors").arg(waiting)) +
            leftOut))
        return -1;
    return runBatch(true, [latest, includeUnconfirmed](const QSqlRecord& doctor) {
        return notYetSent(latest, doctor.value(QStringLiteral("id")).toString(), includeUnconfirmed);
    });
}

} // namespace velmar
