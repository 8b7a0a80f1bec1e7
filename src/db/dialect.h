#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

namespace velmar {

// Where the two stores differ. Everything else runs the same statements on both.
enum class Dialect { SQLite, PostgreSQL };

Dialect DialectOf(const QSqlDatabase& db);

// Starts a transaction that writes. One such transaction runs at a time on either store, so a
// check made inside it (a data set's existence, the largest recno) holds until it commits.
QStringList BeginWriting(Dialect dialect);

// Creates the tables and indexes of a new database; on a server also the name collation, and
// a stored-order column `rowid` for the tables SQLite gives one of its own and statements sort by.
QStringList SchemaStatements(Dialect dialect);

// Adds superfee and nonsuperfee to an older Details table and fills them in. Money stays a double
// on a server, so both stores compute the same figures.
QStringList UpgradeSteps(Dialect dialect);

// The tables of the schema and their columns, in the order INSERT ... VALUES fills them.
QStringList TableNames();
QStringList TableColumns(const QString& table);
// The tables that hold data sets' rows and go with them: Headers, Details, FileNames, SendLog.
QStringList DataSetTables();

// Tables that a database made before them gains when it is opened: they are never missing.
bool UpgradeAddsTable(const QString& table);
// The schema's statements that create one table and its indexes.
QStringList TableStatements(Dialect dialect, const QString& table);
// "ALTER TABLE t ADD COLUMN c ..." with the column as the schema defines it; empty for a column
// the schema does not have.
QString AddColumnStatement(Dialect dialect, const QString& table, const QString& column);

// The database's own clock, UTC, as an SQL expression of ISO text with milliseconds
// ("2025-06-05T13:03:09.123Z"): the one clock every PC sharing a server agrees on.
QString UtcNowExpression(Dialect dialect);

// A server folds unquoted names to lower case: gives each column of the record the spelling
// the statement uses for it, else the schema's ("Shift_Date", "Adj_Time"), for titles shown.
void SpellColumnsAsWritten(QSqlRecord* record, const QString& statement);

// A server's reason cut to what a clerk needs: no "connection to server at ... failed:" lead,
// no "FATAL:" or "ERROR:" marks, one line.
QString ServerReason(const QString& text);
// The same of an error's text: the database's own, or Qt's when the database gave none.
QString ServerReason(const QSqlError& error);

} // namespace velmar
