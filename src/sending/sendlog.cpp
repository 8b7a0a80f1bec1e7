#include "sending/sendlog.h"

#include "db/nameorder.h"
#include "db/reading.h"
#include "db/sqltransaction.h"

#include <QSqlError>
#include <QSqlQuery>

namespace velmar {

namespace {

// The doctor's surname from Headers beside each log row; a row whose doctor is gone keeps its place.
// Sorted by the expression itself: a server takes a name in ORDER BY's expressions for a table's column.
const char* const surname = "(SELECT MIN(h.sname) FROM Headers h WHERE h.DataSet = l.DataSet AND h.id = l.id)";
const char* const selectList = "SELECT l.id, %1 AS sname, l.address, l.attachments, l.sent_at, l.outcome, l.reply "
                               "FROM SendLog l WHERE l.DataSet = ?";
const char* const latestOnly =
    " AND l.attempt = (SELECT MAX(m.attempt) FROM SendLog m WHERE m.DataSet = l.DataSet AND m.id = l.id)";

bool readEntries(const QSqlDatabase& db, const QString& dataSet, const QString& id, bool every,
                 QList<SendLogEntry>* entries, QString* error)
{
    QString statement = QString::fromLatin1(selectList).arg(QLatin1String(surname));
    if (!id.isNull())
        statement += QStringLiteral(" AND l.id = ?");
    if (!every)
        statement += QString::fromLatin1(latestOnly);
    statement += every ? QStringLiteral(" ORDER BY l.attempt")
                       : QStringLiteral(" ORDER BY %1, l.id").arg(OrderByName(QLatin1String(surname)));
    QVariantList values{dataSet};
    if (!id.isNull())
        values.append(id);
    ReadQuery read(db, statement, values);
    QList<SendLogEntry> all;
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
        all.append(e);
    });
    if (!whole) {
        if (error)
            *error = read.failure();
        return false;
    }
    *entries = all;
    return true;
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

bool AppendSendLog(const QSqlDatabase& db, const SendLogEntry& entry, QString* error)
{
    // The attempt number orders the attempts even when two share a second; taken as the one writer,
    // so two clerks sending at once never share one.
    SqlTransaction transaction(db);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO SendLog (DataSet, id, address, attachments, sent_at, outcome, reply, "
                             "attempt) SELECT ?, ?, ?, ?, ?, ?, ?, COALESCE(MAX(attempt), 0) + 1 FROM SendLog"));
    for (const QString& value : {entry.dataSet, entry.id, entry.address, entry.attachments,
                                 entry.sentAt.toUTC().toString(Qt::ISODate), OutcomeName(entry.outcome), entry.reply})
        q.addBindValue(value);
    QString failure;
    if (!transaction.isActive())
        failure = transaction.error();
    else if (!q.exec())
        failure = q.lastError().text();
    else if (!transaction.commit())
        failure = transaction.error();
    if (error)
        *error = failure;
    return failure.isEmpty();
}

bool ReadSendLog(const QSqlDatabase& db, const QString& dataSet, bool every, QList<SendLogEntry>* entries,
                 QString* error)
{
    return readEntries(db, dataSet, QString(), every, entries, error);
}

bool LatestOutcomes(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendOutcome>* outcomes,
                    QString* error)
{
    QList<SendLogEntry> entries;
    if (!ReadSendLog(db, dataSet, false, &entries, error))
        return false;
    outcomes->clear();
    for (const SendLogEntry& e : std::as_const(entries))
        outcomes->insert(e.id, e.outcome);
    return true;
}

std::optional<SendLogEntry> LatestAttempt(const QSqlDatabase& db, const QString& dataSet, const QString& id)
{
    QList<SendLogEntry> entries;
    if (!readEntries(db, dataSet, id.isNull() ? QStringLiteral("") : id, false, &entries, nullptr) || entries.isEmpty())
        return std::nullopt;
    return entries.constFirst();
}

QString SendStatusText(const std::optional<SendLogEntry>& latest)
{
    if (!latest)
        return QStringLiteral("Not sent yet");
    const QString when = latest->sentAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm"));
    switch (latest->outcome) {
    case SendOutcome::Sent:
        return QStringLiteral("Sent to %1 on %2").arg(latest->address, when);
    case SendOutcome::Failed:
        return QStringLiteral("Failed on %1: %2").arg(when, latest->reply);
    case SendOutcome::Unconfirmed:
        return QStringLiteral("Unconfirmed on %1: %2").arg(when, latest->reply);
    case SendOutcome::Skipped:
        return QStringLiteral("Skipped on %1: %2").arg(when, latest->reply);
    }
    return QString();
}

} // namespace velmar
