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
#include "payments/datasets.h"
#include "payments/payments.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
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

// An unconfirmed message may have reached him, and so may one whose answer was never logged.
bool mayHaveReached(SendOutcome outcome)
{
    return outcome == SendOutcome::Unconfirmed || outcome == SendOutcome::Sending;
}

// Not yet sent: never tried, or nothing reached him. One that may have reached him goes again only
// when asked for.
bool notYetSent(const QHash<QString, SendOutcome>& latest, const QString& id, bool includeUnconfirmed)
{
    const auto it = latest.constFind(id);
    return it == latest.constEnd() || *it == SendOutcome::Failed || *it == SendOutcome::Skipped ||
           (includeUnconfirmed && mayHaveReached(*it));
}

QString sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString doctors(int n)
{
    return n == 1 ? QStringLiteral("1 doctor") : QStringLiteral("%1 doctors").arg(n);
}

} // namespace

QString SendRecordLine(const SendRecord& record)
{
    QString outcome = OutcomeName(record.outcome);
    if (record.outcome == SendOutcome::Test)
        outcome += QStringLiteral(" to ") + record.testAddress;
    else if (record.outcome != SendOutcome::Sent && !record.reason.isEmpty())
        outcome += QStringLiteral(": ") + record.reason;
    return QStringLiteral("%1 (%2) <%3>: %4").arg(record.name, record.doctorId, record.address, outcome);
}

QString SendRunSummary::text() const
{
    QString text = QString::asprintf("Sent %d of %d: %d failed, %d unconfirmed, %d skipped", sent, doctors, failed,
                                     unconfirmed, skipped);
    if (test > 0)
        text += QStringLiteral(", %1 test to %2").arg(QString::number(test), testAddress);
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
    // Another run that found this one silent took its data set over: it must not send on.
    m_claim.lost = [this](const QString& why) { stop(why); };
}

PaymentSender::~PaymentSender()
{
    m_documents.setPaymentMailer({});
    m_batch.SmtpLogin = {};
    m_batch.Disconnect = {};
}

bool PaymentSender::refusedWhileRunning()
{
    if (m_running) {
        m_prompter.information(runInProgressText());
        return true;
    }
    if (m_batch.isRunning()) {
        m_prompter.information(BatchPrint::runInProgressText());
        return true;
    }
    // Nothing to connect to: said once, before anything is written or asked.
    const QString noServer = MissingMailServerMessage(m_settings);
    if (noServer.isEmpty())
        return false;
    m_prompter.error(noServer);
    return true;
}

void PaymentSender::fixDataSet()
{
    m_dataSet = m_documents.dataSet();
    m_dataSetLabel = m_documents.dataSetLabel();
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
    // One run per data set, here or on another PC.
    QString refusal, notice;
    if (!m_claim.take(m_log, m_dataSet, &refusal, &notice)) {
        m_prompter.error(refusal);
        closeLog();
        m_folder.reset();
        return false;
    }
    if (!notice.isEmpty())
        m_prompter.information(notice);
    m_importStamp = DataSetImportStamp(m_db, m_dataSet);
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
    m_claim.release();
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

void PaymentSender::stop(const QString& why)
{
    if (m_stopped.isEmpty())
        m_stopped = why;
    m_session.wake();
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

void PaymentSender::describe(const SendRecord& record, SendLogEntry* entry) const
{
    entry->outcome = record.outcome;
    entry->reply = record.reason;
    entry->address = record.address;
    // Whatever became of it, a test run's attempt says nothing of what the doctor has had.
    if (!m_settings.TEST.isEmpty()) {
        entry->address = m_settings.TEST;
        entry->outcome = SendOutcome::Test;
        if (record.outcome != SendOutcome::Test && record.outcome != SendOutcome::Sending)
            entry->reply = OutcomeName(record.outcome) + QStringLiteral(": ") + record.reason;
    }
}

QString PaymentSender::mail(const InvoiceMail& m)
{
    SendRecord record{m.id, m.name, m.email.trimmed(), SendOutcome::Failed, QString(), m_settings.TEST};
    SendLogEntry entry;
    entry.dataSet = m_dataSet;
    entry.id = m.id;
    entry.attachments = m.ProFormaPdfName;
    entry.sentAt = Clock::currentDateTime();
    PaymentMail message;
    message.pdfPath = m.invoicePath;
    message.recipient = m.email;
    message.salutationName = m.name;
    message.proFormaPdfName = m.ProFormaPdfName;
    message.pensionFormWanted = m.pensionFormWanted;
    message.soloPdfPath = m.pensionFormPath;
    message.soloPdfName = m.SoloPdfName;
    message.amended = m_amended;
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
        if (m.pensionFormWanted)
            entry.attachments += QStringLiteral("; ") + m.SoloPdfName;
        entry.payment = m.payment;
        entry.attachmentHashes = sha256Of(m.invoicePath);
        if (m.pensionFormWanted)
            entry.attachmentHashes += QStringLiteral("; ") + sha256Of(m.pensionFormPath);
        entry.importStamp = m_importStamp;
        shown = attempt(record, entry, message);
        return m_batchRun ? QString() : shown;
    }
    describe(record, &entry);
    keep(record, entry);
    return m_batchRun ? QString() : shown;
}

// One attempt to mail a doctor: logged before a word goes to the server, so that a crash at any
// moment leaves it in the log (as unconfirmed: it may have gone), then sent, then logged with its
// outcome. A log that cannot be written sends nothing and stops the run. Under TEST the message
// goes to the test address and counts for nobody.
QString PaymentSender::attempt(SendRecord record, SendLogEntry entry, const PaymentMail& message)
{
    record.outcome = SendOutcome::Sending;
    describe(record, &entry);
    int number = -1;
    QString error;
    if (!BeginAttempt(m_log, entry, m_claim.token(), &number, &error)) {
        if (m_logError.isEmpty())
            m_logError = QStringLiteral("The send log cannot be written, so %1 was not sent his invoice: %2")
                             .arg(record.name, error);
        stop(m_logError);
        return QString(); // told at the end of the run
    }
    const MailResult result = SendPaymentMail(m_session, m_settings, message);
    record.outcome = outcomeOf(result);
    if (record.outcome == SendOutcome::Sent && !m_settings.TEST.isEmpty())
        record.outcome = SendOutcome::Test;
    record.reason = result.reason;
    describe(record, &entry);
    // What went, as it went: the files the message was made of are still in the run's folder.
    if (!result.headers.isEmpty()) {
        entry.headers = result.headers;
        for (const auto& [name, path] : {std::pair{history::kInvoiceDocument, message.pdfPath},
                                         std::pair{history::kPensionFormDocument, message.soloPdfPath}}) {
            QFile file(path);
            if ((name == history::kInvoiceDocument || message.pensionFormWanted) && file.open(QIODevice::ReadOnly))
                entry.documents.append(history::Kept{QLatin1String(name), file.readAll()});
        }
    }
    keep(record, entry, number);
    return result.within(QStringLiteral(" sending email to ") + message.recipient);
}

void PaymentSender::keep(const SendRecord& record, const SendLogEntry& entry, int attempt)
{
    m_records.append(record);
    QString error;
    const bool logged =
        attempt < 0 ? AppendSendLog(m_log, entry, &error) : FinishAttempt(m_log, attempt, entry, &error);
    // Nobody is mailed unrecorded: the run stops when its log cannot be written. An attempt whose
    // outcome is not logged stays in the log as one that may have gone.
    if (!logged && m_logError.isEmpty()) {
        m_logError = QStringLiteral("The send log cannot be written: ") + error;
        stop(m_logError);
    }
    if (messageDone)
        messageDone(record);
}

bool PaymentSender::SendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows)
{
    if (refusedWhileRunning())
        return false;
    const DataSetPin pin(m_documents);
    fixDataSet();
    if (!beginRun(false))
        return false;
    {
        SendingModeOn sending(m_state);
        const QString result = login();
        if (!result.isEmpty()) {
            endRun();
            m_prompter.error(result);
            return false;
        }
        m_documents.ProduceInvoice(doctor, shiftRows,
                                   ShiftRowsStatement(m_dataSet, doctor.value(QStringLiteral("id")).toString()), false);
        m_session.Quit();
    }
    endRun();
    if (!m_logError.isEmpty())
        m_prompter.error(m_logError);
    // A failed PDF or a refused message has been reported already; claiming it was sent would be false.
    const SendOutcome outcome = m_records.isEmpty() ? SendOutcome::Failed : m_records.constLast().outcome;
    if (outcome == SendOutcome::Sent)
        m_prompter.information(QStringLiteral("Email with Pro Forma attachment sent to: %1")
                                   .arg(doctor.value(QStringLiteral("email")).toString()));
    else if (outcome == SendOutcome::Test)
        m_prompter.information(QStringLiteral("Email with Pro Forma attachment sent to: %1\n"
                                              "A test: Dr %2 was not sent his invoice.")
                                   .arg(m_settings.TEST, doctor.value(QStringLiteral("sname")).toString()));
    return outcome == SendOutcome::Sent || outcome == SendOutcome::Test;
}

bool PaymentSender::doctorIds(QStringList* ids)
{
    const QString statement = QStringLiteral("SELECT id FROM Headers WHERE DataSet = ?");
    ReadQuery doctors(m_db, statement, {m_dataSet});
    QStringList all;
    if (!doctors.forEachRow([&](const QSqlQuery& q) { all.append(q.value(0).toString()); })) {
        m_prompter.error(doctors.trouble().isEmpty() ? QStringLiteral("Database error: ") + statement
                                                     : doctors.trouble());
        return false;
    }
    *ids = all;
    return true;
}

int PaymentSender::runBatch(bool dataSetOpen, const Choice& choose)
{
    // The run itself says "Please open a file before printing" and logs in only with doctors listed.
    if (!dataSetOpen) {
        m_batch.PrintAll1Click(false);
        return -1;
    }
    if (!beginRun(true))
        return -1;
    // Who is to be sent is settled once no other run can send this data set.
    QSet<QString> chosen;
    if (choose && !choose(&chosen)) {
        endRun();
        return -1;
    }
    if (choose)
        m_batch.Wanted = [&chosen](const QSqlRecord& doctor) {
            return chosen.contains(doctor.value(QStringLiteral("id")).toString());
        };
    m_batch.StopRequested = [this] { return stopping(); };
    int result = 0;
    {
        SendingModeOn sending(m_state);
        result = m_batch.PrintAll1Click(true);
    }
    m_batch.Wanted = {};
    m_batch.StopRequested = {};
    endRun();
    // A run that never got to its first doctor has said why already.
    if (result < 0 && m_records.isEmpty())
        return -1;

    SendRunSummary summary;
    summary.doctors = m_batch.doctorsInRun();
    summary.testAddress = m_settings.TEST;
    // What needs the clerk first: those not sent, then those sent, each in the run's order.
    const auto delivered = [](const SendRecord& r) {
        return r.outcome == SendOutcome::Sent || r.outcome == SendOutcome::Test;
    };
    QList<SendRecord> records = m_records;
    std::stable_sort(records.begin(), records.end(),
                     [&](const SendRecord& a, const SendRecord& b) { return !delivered(a) && delivered(b); });
    for (const SendRecord& record : std::as_const(records)) {
        switch (record.outcome) {
        case SendOutcome::Sent:
            ++summary.sent;
            break;
        case SendOutcome::Failed:
            ++summary.failed;
            break;
        case SendOutcome::Unconfirmed:
        case SendOutcome::Sending:
            ++summary.unconfirmed;
            break;
        case SendOutcome::Skipped:
            ++summary.skipped;
            break;
        case SendOutcome::Test:
            ++summary.test;
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
    if (refusedWhileRunning())
        return -1;
    if (!dataSetOpen)
        return runBatch(false, {});
    const DataSetPin pin(m_documents);
    fixDataSet();
    // The question names the data set, how many it mails and who has had theirs already.
    QStringList ids;
    SentBefore before;
    QString error;
    if (!doctorIds(&ids))
        return -1;
    if (!DoctorsSentBefore(m_db, m_dataSet, &before, &error)) {
        m_prompter.error(QStringLiteral("The send log cannot be read: ") + error);
        return -1;
    }
    QString question =
        QStringLiteral("Send the pro-forma invoices of %1 to %2?")
            .arg(m_dataSetLabel.trimmed().isEmpty() ? m_dataSet
                                                    : QStringLiteral("%1 (%2)").arg(m_dataSetLabel, m_dataSet),
                 doctors(int(ids.size())));
    if (before.doctors > 0)
        question += QStringLiteral("\n%1 of them %2 already sent theirs (last on %3).")
                        .arg(QString::number(before.doctors), before.doctors == 1 ? u"was" : u"were",
                             before.last.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm")));
    if (!m_prompter.question(question))
        return -1;
    return runBatch(true, {});
}

int PaymentSender::SendNotYetSent(bool dataSetOpen, bool includeUnconfirmed)
{
    m_summary = SendRunSummary();
    if (refusedWhileRunning())
        return -1;
    if (!dataSetOpen)
        return runBatch(false, {});
    const DataSetPin pin(m_documents);
    fixDataSet();
    // Counted for the question, and chosen again once the run holds the data set: another run may
    // have sent some meanwhile.
    const auto waiting = [this, includeUnconfirmed](QSet<QString>* ids, int* leftOut) {
        QHash<QString, SendOutcome> latest;
        QString error;
        if (!LatestOutcomes(m_db, m_dataSet, &latest, &error)) {
            m_prompter.error(QStringLiteral("The send log cannot be read: ") + error);
            return false;
        }
        QStringList all;
        if (!doctorIds(&all))
            return false;
        for (const QString& id : std::as_const(all)) {
            if (notYetSent(latest, id, includeUnconfirmed))
                ids->insert(id);
            else if (leftOut && mayHaveReached(latest.value(id)))
                ++*leftOut;
        }
        return true;
    };
    QSet<QString> ids;
    int unconfirmed = 0;
    if (!waiting(&ids, &unconfirmed))
        return -1;
    const QString leftOut = unconfirmed == 0
                                ? QString()
                                : QStringLiteral("\n%1 unconfirmed %2 left out: see the Send Log.")
                                      .arg(QString::number(unconfirmed), unconfirmed == 1 ? u"is" : u"are");
    if (ids.isEmpty()) {
        m_prompter.information(QStringLiteral("No doctor is waiting to be sent.") + leftOut);
        return 0;
    }
    if (!m_prompter.question(
            QStringLiteral("Send Pro Forma Invoices to the %1 not yet sent?").arg(doctors(int(ids.size()))) + leftOut))
        return -1;
    return runBatch(true, [waiting](QSet<QString>* chosen) { return waiting(chosen, nullptr); });
}

int PaymentSender::SendChanged(bool dataSetOpen)
{
    m_summary = SendRunSummary();
    if (refusedWhileRunning())
        return -1;
    if (!dataSetOpen)
        return runBatch(false, {});
    const DataSetPin pin(m_documents);
    fixDataSet();
    const auto changed = [this](QSet<QString>* ids) {
        QString error;
        if (ChangedSinceSent(m_db, m_settings, m_dataSet, ids, &error))
            return true;
        m_prompter.error(QStringLiteral("The send log cannot be read: ") + error);
        return false;
    };
    QSet<QString> ids;
    if (!changed(&ids))
        return -1;
    if (ids.isEmpty()) {
        m_prompter.information(QStringLiteral("No doctor's payment changed since he was sent his invoice."));
        return 0;
    }
    if (!m_prompter.question(QStringLiteral("Send amended pro-forma invoices to the %1 whose payment changed since "
                                            "they were sent theirs?")
                                 .arg(doctors(int(ids.size())))))
        return -1;
    m_amended = true;
    const int sent = runBatch(true, changed);
    m_amended = false;
    return sent;
}

} // namespace velmar
