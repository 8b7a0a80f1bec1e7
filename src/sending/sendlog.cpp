#include "sending/sendlog.h"

#include "core/clock.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/nameorder.h"
#include "db/reading.h"
#include "db/sqltransaction.h"
#include "payments/payments.h"
#include "sending/sendclaim.h"

#include <QSqlError>
#include <QSqlQuery>

#include <functional>

namespace velmar {

namespace {

// The doctor's surname from Headers beside each log row; a row whose doctor is gone keeps its place.
// Sorted by the expression itself: a server takes a name in ORDER BY's expressions for a table's column.
const char* const surname = "(SELECT MIN(h.sname) FROM Headers h WHERE h.DataSet = l.DataSet AND h.id = l.id)";
const char* const selectList =
    "SELECT l.id, %1 AS sname, l.address, l.attachments, l.sent_at, l.outcome, l.reply, l.net_payment, "
    "l.attachment_sha256, l.import_stamp FROM SendLog l WHERE l.DataSet = ?";

// Which rows a read takes.
enum class Rows {
    Every,     // every attempt, in the order made
    Latest,    // each doctor's latest attempt
    Counted,   // each doctor's latest attempt that counts: no test
    Delivered, // each doctor's last message that may have reached him
};

QString latestOf(const char* outcomes)
{
    return QStringLiteral(" AND l.attempt = (SELECT MAX(m.attempt) FROM SendLog m WHERE m.DataSet = l.DataSet AND "
                          "m.id = l.id%1)")
        .arg(QLatin1String(outcomes));
}

bool readEntries(const QSqlDatabase& db, const QString& dataSet, const QString& id, Rows which,
                 QList<SendLogEntry>* entries, QString* error)
{
    QString statement = QString::fromLatin1(selectList).arg(QLatin1String(surname));
    if (!id.isNull())
        statement += QStringLiteral(" AND l.id = ?");
    switch (which) {
    case Rows::Every:
        break;
    case Rows::Latest:
        statement += latestOf("");
        break;
    case Rows::Counted:
        statement += latestOf(" AND m.outcome <> 'test'");
        break;
    case Rows::Delivered:
        statement += latestOf(" AND m.outcome IN ('sent', 'unconfirmed', 'sending')");
        break;
    }
    statement += which == Rows::Every
                     ? QStringLiteral(" ORDER BY l.attempt")
                     : QStringLiteral(" ORDER BY %1, l.id").arg(OrderByName(QLatin1String(surname), DialectOf(db)));
    QVariantList values{dataSet};
    if (!id.isNull())
        values.append(id);
    ReadQuery read(db, statement, values);
    QList<SendLogEntry> all;
    bool inFlight = false;
    const bool whole = read.forEachRow([&](const QSqlQuery& q) {
        SendLogEntry e;
        e.dataSet = dataSet;
        e.id = q.value(0).toString();
        e.sname = q.value(1).toString();
        e.address = q.value(2).toString();
        e.attachments = q.value(3).toString();
        e.sentAt = QDateTime::fromString(q.value(4).toString(), Qt::ISODate);
        // A value written by something else reads as the worst outcome rather than as sent.
        e.outcome = OutcomeFromName(q.value(5).toString()).value_or(SendOutcome::Failed);
        e.reply = q.value(6).toString();
        if (!q.value(7).isNull())
            e.payment = q.value(7).toDouble();
        e.attachmentHashes = q.value(8).toString();
        e.importStamp = q.value(9).toString();
        inFlight = inFlight || e.outcome == SendOutcome::Sending;
        all.append(e);
    });
    if (!whole) {
        if (error)
            *error = read.failure();
        return false;
    }
    // An attempt that no live run holds was cut short between handing the message over and
    // logging its answer: it may have been delivered.
    if (inFlight && !DataSetBeingSent(db, dataSet)) {
        for (SendLogEntry& e : all) {
            if (e.outcome != SendOutcome::Sending)
                continue;
            e.outcome = SendOutcome::Unconfirmed;
            if (e.reply.isEmpty())
                e.reply = QStringLiteral("The run ended before the server's answer was logged");
        }
    }
    *entries = all;
    return true;
}

QString failureOf(const QSqlDatabase& db, const QSqlError& error)
{
    const QString trouble = DatabaseTrouble(db, error);
    return trouble.isEmpty() ? error.text() : trouble;
}

} // namespace

QString OutcomeName(SendOutcome outcome)
{
    switch (outcome) {
    case SendOutcome::Sent:
        return QStringLiteral("sent");
    case SendOutcome::Failed:
        return QStringLiteral("failed");
    case SendOutcome::Unconfirmed:
        return QStringLiteral("unconfirmed");
    case SendOutcome::Skipped:
        return QStringLiteral("skipped");
    case SendOutcome::Test:
        return QStringLiteral("test");
    case SendOutcome::Sending:
        return QStringLiteral("sending");
    }
    return QString();
}

std::optional<SendOutcome> OutcomeFromName(const QString& name)
{
    for (const SendOutcome outcome : kSendOutcomes)
        if (OutcomeName(outcome) == name)
            return outcome;
    return std::nullopt;
}

namespace {

// The attempt's history entry: to whom, what became of it, and of a message that went whole its
// headers and attachments.
bool recordAttempt(const QSqlDatabase& db, int number, const SendLogEntry& attempt, QString* error)
{
    history::Entry entry;
    entry.action = history::ActionName(history::Action::Send);
    entry.dataSet = attempt.dataSet;
    entry.doctor = attempt.id;
    entry.detail.insert(QStringLiteral("attempt"), number);
    entry.detail.insert(QStringLiteral("address"), attempt.address);
    entry.detail.insert(QStringLiteral("attachments"), attempt.attachments);
    entry.detail.insert(QStringLiteral("outcome"), OutcomeName(attempt.outcome));
    entry.detail.insert(QStringLiteral("reply"), attempt.reply);
    if (!attempt.headers.isEmpty())
        entry.detail.insert(QStringLiteral("headers"), attempt.headers);
    return history::Append(db, entry, attempt.documents, error);
}

// Inserts the row as the one writer, so two clerks sending at once never share an attempt number.
// The number orders the attempts even when two share a second.
bool insertRow(const QSqlDatabase& db, const SendLogEntry& entry, int* attempt, QString* error)
{
    QSqlQuery next(db);
    if (!next.exec(QStringLiteral("SELECT COALESCE(MAX(attempt), 0) + 1 FROM SendLog")) || !next.next()) {
        *error = failureOf(db, next.lastError());
        return false;
    }
    *attempt = next.value(0).toInt();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO SendLog (DataSet, id, address, attachments, sent_at, outcome, reply, "
                             "attempt, net_payment, attachment_sha256, import_stamp) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QString& value : {entry.dataSet, entry.id, entry.address, entry.attachments,
                                 entry.sentAt.toUTC().toString(Qt::ISODate), OutcomeName(entry.outcome), entry.reply})
        q.addBindValue(value);
    q.addBindValue(*attempt);
    q.addBindValue(entry.payment ? QVariant(*entry.payment) : QVariant(QMetaType(QMetaType::Double)));
    q.addBindValue(entry.attachmentHashes);
    q.addBindValue(entry.importStamp);
    if (!q.exec()) {
        *error = failureOf(db, q.lastError());
        return false;
    }
    return true;
}

// Runs `work` as the one writer and commits; *error says why it could not.
bool asWriter(const QSqlDatabase& db, QString* error, const std::function<bool(QString*)>& work)
{
    SqlTransaction transaction(db);
    QString failure;
    if (!transaction.isActive())
        failure = TransactionFailure(db, transaction);
    else if (work(&failure) && !transaction.commit())
        failure = TransactionFailure(db, transaction);
    if (error)
        *error = failure;
    return failure.isEmpty();
}

} // namespace

bool AppendSendLog(const QSqlDatabase& db, const SendLogEntry& entry, QString* error)
{
    int attempt = 0;
    return asWriter(db, error, [&](QString* failure) {
        return insertRow(db, entry, &attempt, failure) && recordAttempt(db, attempt, entry, failure);
    });
}

bool BeginAttempt(const QSqlDatabase& db, const SendLogEntry& entry, const QString& claimToken, int* attempt,
                  QString* error)
{
    return asWriter(db, error, [&](QString* failure) {
        if (!claimToken.isEmpty() && !ConfirmClaim(db, entry.dataSet, claimToken, failure))
            return false;
        return insertRow(db, entry, attempt, failure);
    });
}

bool FinishAttempt(const QSqlDatabase& db, int attempt, const SendLogEntry& entry, QString* error)
{
    // As the one writer: another clerk's import meanwhile is waited for rather than losing the answer.
    return asWriter(db, error, [&](QString* failure) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE SendLog SET outcome = ?, reply = ?, sent_at = ? WHERE attempt = ?"));
        q.addBindValue(OutcomeName(entry.outcome));
        q.addBindValue(entry.reply);
        q.addBindValue(Clock::currentDateTime().toUTC().toString(Qt::ISODate));
        q.addBindValue(attempt);
        if (!q.exec())
            *failure = failureOf(db, q.lastError());
        else if (q.numRowsAffected() != 1)
            *failure = QStringLiteral("attempt %1 is no longer in the send log").arg(attempt);
        return failure->isEmpty() && recordAttempt(db, attempt, entry, failure);
    });
}

bool ReadSendLog(const QSqlDatabase& db, const QString& dataSet, bool every, QList<SendLogEntry>* entries,
                 QString* error)
{
    return readEntries(db, dataSet, QString(), every ? Rows::Every : Rows::Latest, entries, error);
}

bool LatestOutcomes(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendOutcome>* outcomes,
                    QString* error)
{
    QList<SendLogEntry> entries;
    if (!readEntries(db, dataSet, QString(), Rows::Counted, &entries, error))
        return false;
    outcomes->clear();
    for (const SendLogEntry& e : std::as_const(entries))
        outcomes->insert(e.id, e.outcome);
    return true;
}

std::optional<SendLogEntry> LatestAttempt(const QSqlDatabase& db, const QString& dataSet, const QString& id)
{
    QList<SendLogEntry> entries;
    if (!readEntries(db, dataSet, id.isNull() ? QStringLiteral("") : id, Rows::Counted, &entries, nullptr) ||
        entries.isEmpty())
        return std::nullopt;
    return entries.constFirst();
}

bool LastDelivered(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendLogEntry>* delivered,
                   QString* error, const QString& id)
{
    QList<SendLogEntry> entries;
    if (!readEntries(db, dataSet, id, Rows::Delivered, &entries, error))
        return false;
    delivered->clear();
    for (const SendLogEntry& e : std::as_const(entries))
        delivered->insert(e.id, e);
    return true;
}

bool ChangedSince(const SendLogEntry& delivered, double paymentNow)
{
    // As printed: a difference below a penny is none.
    return delivered.payment && FormatMoney(*delivered.payment) != FormatMoney(paymentNow);
}

bool ChangedSinceSent(const QSqlDatabase& db, const AppSettings& settings, const QString& dataSet,
                      QSet<QString>* changed, QString* error)
{
    changed->clear();
    // The log and the figures as one moment left them.
    const ReadSnapshot snapshot(db);
    if (!snapshot.isActive()) {
        if (error)
            *error = snapshot.trouble();
        return false;
    }
    QHash<QString, SendLogEntry> delivered;
    if (!LastDelivered(db, dataSet, &delivered, error))
        return false;
    if (delivered.isEmpty())
        return true;
    // Every doctor's sums with one statement, not a read per doctor who was sent.
    QList<QSqlRecord> doctors;
    QHash<QString, ShiftSums> sums;
    QString trouble, statement;
    if (!ReadFigureDoctors(db, dataSet, &doctors, &trouble, &statement) ||
        !ReadShiftSums(db, dataSet, &sums, &trouble, &statement)) {
        if (error)
            *error = ReadFailure(trouble, statement);
        return false;
    }
    for (const QSqlRecord& doctor : std::as_const(doctors)) {
        const QString id = doctor.value(QStringLiteral("id")).toString();
        const auto sent = delivered.constFind(id);
        if (sent == delivered.constEnd() || !sent->payment)
            continue;
        if (ChangedSince(*sent, PrintedPayment(settings, ComputePaymentFigures(settings, doctor, sums.value(id)))))
            changed->insert(id);
    }
    return true;
}

bool DoctorsSentBefore(const QSqlDatabase& db, const QString& dataSet, SentBefore* sent, QString* error)
{
    // Only doctors the data set still has: a re-import may have dropped some.
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(DISTINCT id), MAX(sent_at) FROM SendLog WHERE DataSet = ? AND "
                             "outcome = 'sent' AND id IN (SELECT id FROM Headers WHERE DataSet = ?)"));
    q.addBindValue(dataSet);
    q.addBindValue(dataSet);
    if (!q.exec() || !q.next()) {
        if (error)
            *error = failureOf(db, q.lastError());
        return false;
    }
    sent->doctors = q.value(0).toInt();
    sent->last = QDateTime::fromString(q.value(1).toString(), Qt::ISODate);
    return true;
}

QString ShownOutcome(const SendLogEntry& entry, bool changed)
{
    if (entry.outcome == SendOutcome::Test)
        return QStringLiteral("test to ") + entry.address;
    if (entry.outcome == SendOutcome::Sent && changed)
        return ChangedSinceSentText();
    return OutcomeName(entry.outcome);
}

QString SendStatusText(const std::optional<SendLogEntry>& latest, bool changed)
{
    if (!latest)
        return QStringLiteral("Not sent yet");
    const QString when = latest->sentAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm"));
    QString text;
    switch (latest->outcome) {
    case SendOutcome::Sent:
        text = QStringLiteral("Sent to %1 on %2").arg(latest->address, when);
        break;
    case SendOutcome::Failed:
        text = QStringLiteral("Failed on %1: %2").arg(when, latest->reply);
        break;
    case SendOutcome::Unconfirmed:
        text = QStringLiteral("Unconfirmed on %1: %2").arg(when, latest->reply);
        break;
    case SendOutcome::Skipped:
        text = QStringLiteral("Skipped on %1: %2").arg(when, latest->reply);
        break;
    case SendOutcome::Sending:
        text = QStringLiteral("Being sent since %1").arg(when);
        break;
    case SendOutcome::Test:
        text = QStringLiteral("Test to %1 on %2").arg(latest->address, when);
        break;
    }
    if (changed)
        text += QStringLiteral("; ") + ChangedSinceSentText();
    return text;
}

} // namespace velmar
