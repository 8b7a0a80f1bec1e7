#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace velmar {

class Prompter;

// Doubles every apostrophe so the text can stand inside an SQL literal.
QString QuoteForSql(const QString& text);

// A statement as the user sees it in error messages: each line followed by a line break.
QString StatementText(const QStringList& lines);

// Opens an existing database file (never creates one). Shared: several programs may open it.
bool OpenDatabase(const QString& path, const QString& connectionName, QSqlDatabase* db, QString* error);
void CloseDatabase(const QString& connectionName);

// Creates a new database file with the three tables; refuses when the file exists.
bool CreateDatabase(const QString& path, QString* error);

// Runs the statement; on failure shows "SQL Error: %s" with the statement text and returns false.
bool ExecuteStatement(const QSqlDatabase& db, const QStringList& lines, Prompter& prompter);

// Adds superfee and nonsuperfee to an older Details table, and the send log to a database made
// before it.
void UpgradeSchema(const QSqlDatabase& db, Prompter& prompter);
// Creates SendLog, as the schema has it, when the database has none.
void AddSendLog(const QSqlDatabase& db, Prompter& prompter);

// Next free recno over the whole Details table; -1 after reporting a failed query.
int NextRecordNumber(const QSqlDatabase& db, Prompter& prompter);

} // namespace velmar
