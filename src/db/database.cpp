#include "db/database.h"

#include "core/prompter.h"
#include "schema_sql.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace velmar {

QString QuoteForSql(const QString& text)
{
    QString result = text;
    return result.replace(u'\'', QStringLiteral("''"));
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
            *error = d.lastError().text();
        return false;
    }
    // Opening never checks the file; reading its schema does.
    QSqlQuery probe(d);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        if (error)
            *error = QStringLiteral("Unrecognized database format '%1'.").arg(path);
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

bool ExecuteStatement(const QSqlDatabase& db, const QStringList& lines, Prompter& prompter)
{
    QSqlQuery q(db);
    if (q.exec(lines.join(u'\n')))
        return true;
    prompter.error(QStringLiteral("SQL Error: %1").arg(StatementText(lines)));
    return false;
}

void AddSendLog(const QSqlDatabase& db, Prompter& prompter)
{
    // Asked of the driver rather than by a failing statement, which would spoil a transaction.
    if (db.tables().contains(QStringLiteral("SendLog"), Qt::CaseInsensitive))
        return;
    for (const QString& statement : QString::fromUtf8(kSchemaSql).split(u';', Qt::SkipEmptyParts))
        if (statement.contains(QStringLiteral("SendLog")))
            ExecuteStatement(db, {statement.trimmed()}, prompter);
}

void UpgradeSchema(const QSqlDatabase& db, Prompter& prompter)
{
    AddSendLog(db, prompter);
    {
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SELECT superfee FROM Details")))
            return;
    }
    // Each step runs whatever became of the one before it.
    ExecuteStatement(db, {QStringLiteral("ALTER TABLE Details ADD COLUMN superfee decimal(10,2) default 0")}, prompter);
    ExecuteStatement(db, {QStringLiteral("ALTER TABLE Details ADD COLUMN nonsuperfee decimal(10,2) default 0")},
                     prompter);
    // 60.0: integer division would drop part-hours of the adjustment.
    ExecuteStatement(
        db,
        {QStringLiteral("Update Details set superfee = (Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0))")},
        prompter);
    ExecuteStatement(db, {QStringLiteral("Update Details set nonsuperfee = 0.0")}, prompter);
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
