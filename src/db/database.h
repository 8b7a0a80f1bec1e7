#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace velmar {

class Prompter;

// Doubles every apostrophe so the text can stand inside an SQL literal.
QString QuoteForSql(const QString& text);

// A stored value written back as it is: text quoted, numbers in full, NULL.
QString SqlLiteral(const QVariant& value);

// A statement as the user sees it in error messages: each line followed by a line break.
QString StatementText(const QStringList& lines);

// Opens an existing database file (never creates one). Shared: several programs may open it.
// A file that another program keeps locked past the busy time-out is reported as in use, one that
// is no database as such, any other failure with SQLite's reason.
bool OpenDatabase(const QString& path, const QString& connectionName, QSqlDatabase* db, QString* error);
void CloseDatabase(const QString& connectionName);

// Creates a new database file with the three tables; refuses when the file exists.
bool CreateDatabase(const QString& path, QString* error);

// "The database %s is in use by another program. ..."
QString DatabaseInUseMessage(const QString& path);

// A statement that failed for the database's sake rather than its own, worded for the user: the
// file in use by another program, or SQLite's reason ("database or disk is full"). Empty when the
// statement itself was refused; the caller then shows its own message.
QString DatabaseTrouble(const QSqlDatabase& db, const QSqlError& error);
QString DatabaseTrouble(const QSqlDatabase& db, int sqliteCode, const QString& reason);

// The database's trouble, or else "SQL Error: %s" with the statement text.
QString StatementFailure(const QSqlDatabase& db, const QSqlError& error, const QStringList& lines);

// An UPDATE or DELETE of one record that changed no row.
QString RecordNotFoundMessage();

// Runs the statement; on failure shows "SQL Error: %s" with the statement text (or the database's
// trouble) and returns false. *changed, when given, receives the number of rows changed.
bool ExecuteStatement(const QSqlDatabase& db, const QStringList& lines, Prompter& prompter, int* changed = nullptr);

// Adds superfee and nonsuperfee to an older Details table, all or nothing, and the send log to a
// database made before it: false (after a message) leaves the old schema, to be upgraded at the
// next start.
bool UpgradeSchema(const QSqlDatabase& db, Prompter& prompter);
// Creates SendLog, as the schema has it, when the database has none.
bool AddSendLog(const QSqlDatabase& db, Prompter& prompter);

// Next free recno over the whole Details table; -1 after reporting a failed query.
int NextRecordNumber(const QSqlDatabase& db, Prompter& prompter);

} // namespace velmar
