#include "db/database.h"

#include "core/prompter.h"
#include "db/nameorder.h"
#include "db/sqltransaction.h"
#include "schema_sql.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace velmar {

QString QuoteForSql(const QString& text)
{
    QString result = text;
    return result.replace(u'\'', QStringLiteral("''"));
}

QString SqlLiteral(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    default:
        return u'\'' + QuoteForSql(value.toString()) + u'\'';
    }
}

QString StatementText(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + u'\n';
    return text;
}

bool OpenDatabase(const QString& path, const QString& connectionName, QSqlDatabase* db, QString* error)
{
    if (!QFileInfo::exists(path)) {
        if (error)
            *error = QStringLiteral("Could not find file '%1'.").arg(path);
        return false;
    }
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    d.setDatabaseName(path);
    d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!d.open()) {
        if (error)
            *error = d.lastError().databaseText().isEmpty() ? d.lastError().text() : d.lastError().databaseText();
        return false;
    }
    // Opening never checks the file; reading its schema does.
    QString failure;
    {
        QSqlQuery probe(d);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            const QSqlError e = probe.lastError();
            failure = DatabaseTrouble(d, e);
            if (failure.isEmpty() || (e.nativeErrorCode().toInt() & 0xff) == SQLITE_NOTADB)
                failure = QStringLiteral("Unrecognized database format '%1'.").arg(path);
        } else if (!RegisterNameOrder(d)) {
            failure = QStringLiteral("Cannot sort names in %1").arg(path);
        }
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        d.close();
        return false;
    }
    *db = d;
    return true;
}

void CloseDatabase(const QString& connectionName)
{
    {
        QSqlDatabase d = QSqlDatabase::database(connectionName, false);
        if (d.isValid())
            d.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

bool CreateDatabase(const QString& path, QString* error)
{
    if (QFileInfo::exists(path)) {
        if (error)
            *error = QStringLiteral("%1 already exists").arg(path);
        return false;
    }
    const QString schema = QString::fromUtf8(kSchemaSql);
    const QString connection = QStringLiteral("velmar-create");
    bool ok = true;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        d.setDatabaseName(path);
        ok = d.open();
        if (!ok && error)
            *error = d.lastError().text();
        QSqlQuery q(d);
        for (const QString& statement : schema.split(u';', Qt::SkipEmptyParts)) {
            if (!ok || statement.trimmed().isEmpty())
                continue;
            if (!q.exec(statement)) {
                ok = false;
                if (error)
                    *error = q.lastError().text();
            }
        }
        q.finish();
        d.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!ok)
        QFile::remove(path);
    return ok;
}

QString DatabaseInUseMessage(const QString& path)
{
    return QStringLiteral("The database %1 is in use by another program. Try again when it has finished.").arg(path);
}

QString DatabaseTrouble(const QSqlDatabase& db, int sqliteCode, const QString& reason)
{
    switch (sqliteCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DatabaseInUseMessage(db.databaseName());
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
    case SQLITE_NOTADB:
        return reason;
    default:
        return QString();
    }
}

QString DatabaseTrouble(const QSqlDatabase& db, const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? DatabaseTrouble(db, code, error.databaseText()) : QString();
}

QString StatementFailure(const QSqlDatabase& db, const QSqlError& error, const QStringList& lines)
{
    const QString trouble = DatabaseTrouble(db, error);
    return trouble.isEmpty() ? QStringLiteral("SQL Error: %1").arg(StatementText(lines)) : trouble;
}

QString RecordNotFoundMessage()
{
    return QStringLiteral("The record was not found: it was changed or deleted elsewhere. Nothing was saved.");
}

bool ExecuteStatement(const QSqlDatabase& db, const QStringList& lines, Prompter& prompter, int* changed)
{
    QSqlQuery q(db);
    if (q.exec(lines.join(u'\n'))) {
        if (changed)
            *changed = q.numRowsAffected();
        return true;
    }
    prompter.error(StatementFailure(db, q.lastError(), lines));
    return false;
}

bool AddSendLog(const QSqlDatabase& db, Prompter& prompter)
{
    // Asked of the driver rather than by a failing statement, which would spoil a transaction.
    if (db.tables().contains(QStringLiteral("SendLog"), Qt::CaseInsensitive))
        return true;
    // The table and its index together, or neither: a later start would not add the index alone.
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        prompter.error(StatementFailure(db, transaction.lastError(), {QStringLiteral("BEGIN IMMEDIATE")}));
        return false;
    }
    for (const QString& statement : QString::fromUtf8(kSchemaSql).split(u';', Qt::SkipEmptyParts))
        if (statement.contains(QStringLiteral("SendLog")) && !ExecuteStatement(db, {statement.trimmed()}, prompter))
            return false;
    if (!transaction.commit()) {
        prompter.error(StatementFailure(db, transaction.lastError(), {QStringLiteral("COMMIT")}));
        return false;
    }
    return true;
}

bool UpgradeSchema(const QSqlDatabase& db, Prompter& prompter)
{
    if (!AddSendLog(db, prompter))
        return false;
    {
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SELECT superfee FROM Details")))
            return true;
        // A busy or broken file says nothing about the column.
        const QString trouble = DatabaseTrouble(db, probe.lastError());
        if (!trouble.isEmpty()) {
            prompter.error(trouble);
            return false;
        }
    }
    // One transaction: cut short after the columns were added, the updates would leave every
    // superfee at 0, and the next start, finding the column, would never put it right.
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        prompter.error(StatementFailure(db, transaction.lastError(), {QStringLiteral("BEGIN IMMEDIATE")}));
        return false;
    }
    const QString steps[] = {
        QStringLiteral("ALTER TABLE Details ADD COLUMN superfee decimal(10,2) default 0"),
        QStringLiteral("ALTER TABLE Details ADD COLUMN nonsuperfee decimal(10,2) default 0"),
        // 60.0: integer division would drop part-hours of the adjustment.
        QStringLiteral("Update Details set superfee = (Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0))"),
        QStringLiteral("Update Details set nonsuperfee = 0.0"),
    };
    for (const QString& step : steps)
        if (!ExecuteStatement(db, {step}, prompter))
            return false;
    if (!transaction.commit()) {
        prompter.error(StatementFailure(db, transaction.lastError(), {QStringLiteral("COMMIT")}));
        return false;
    }
    return true;
}

int NextRecordNumber(const QSqlDatabase& db, Prompter& prompter)
{
    const QString statement = QStringLiteral("SELECT MAX(recno) as recno from Details");
    QSqlQuery q(db);
    if (!q.exec(statement)) {
        prompter.error(QStringLiteral("Error in query: %1").arg(StatementText({statement})));
        return -1;
    }
    if (!q.next())
        return 1;
    return q.value(0).toInt() + 1;
}

} // namespace velmar
