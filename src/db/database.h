#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

namespace velmar {

class Prompter;
class SqlTransaction;
struct DatabaseSettings;
struct FileLocations;

// Doubles every apostrophe so the text can stand inside an SQL literal.
QString QuoteForSql(const QString& text);

// A stored value written back as it is: text quoted, numbers in full (a double to 17 digits, which
// both stores read back as the same double), NULL.
QString SqlLiteral(const QVariant& value);

// A statement as the user sees it in error messages: each line followed by a line break.
QString StatementText(const QStringList& lines);

// Opens an existing database file (never creates one) of this program, and never writes to it.
// Shared: several programs may open it. A file that another program keeps locked past the busy
// time-out is reported as in use, one that is no database (an empty file) as such, another
// program's database as not ours, any other failure with SQLite's reason.
bool OpenDatabase(const QString& path, const QString& connectionName, QSqlDatabase* db, QString* error);
void CloseDatabase(const QString& connectionName);

// Creates a new database file with the three tables; refuses when the file exists.
bool CreateDatabase(const QString& path, QString* error);

// Connects to the server database of [Database] (which an administrator made with createdb).
// With requireTables, a database without the program's tables is refused like one that cannot be
// reached. Every refusal comes as "Cannot connect to the database %s on %s: %s".
bool OpenServerDatabase(const DatabaseSettings& settings, const QString& connectionName, QSqlDatabase* db,
                        QString* error, bool requireTables = true);

// Creates the tables and indexes in an empty server database, all or nothing; refuses a database
// that holds any of them.
bool CreateServerTables(const QSqlDatabase& db, QString* error);

// The database a run works on: the server [Database] names, unless the command line named an
// SQLite file, else the SQLite file (which must exist). *error is the message to show.
bool OpenWorkingDatabase(const FileLocations& files, const DatabaseSettings& settings, const QString& connectionName,
                         QSqlDatabase* db, QString* error);

// Another connection to the database of db, set up as db was, for writes that must commit while db
// holds a read snapshot on a server. Closed by CloseDatabase(connectionName).
bool OpenSecondConnection(const QSqlDatabase& db, const QString& connectionName, QSqlDatabase* second, QString* error);

// "Cannot connect to the database velmarpay on db.example.org: reason"
QString ConnectFailureMessage(const DatabaseSettings& settings, const QString& reason);

// How messages name the database: its file, or "velmarpay on db.example.org".
QString DatabaseDescription(const QSqlDatabase& db);

// "The database %s is in use by another program. ..."
QString DatabaseInUseMessage(const QString& description);

// A statement that failed for the database's sake rather than its own, worded for the user: the
// database in use by someone else, a time-out, no right to the table, the connection lost, or the
// database's reason ("database or disk is full"). Empty when the statement itself was refused;
// the caller then shows its own message. The statement, when given, names what was refused.
QString DatabaseTrouble(const QSqlDatabase& db, const QSqlError& error, const QString& statement = QString());

// A read whose rows ended early: "The database stopped answering: reason", or the database's
// trouble when it has a message of its own (a time-out, the database in use).
QString ReadEndedEarly(const QSqlDatabase& db, const QSqlError& error, const QString& statement);

// What an action says when the program has no database open.
QString NoDatabaseMessage();

// A server connection lost since it was last used (a restart, a terminated session) is opened
// again, once, before an action uses it; never while a transaction is open on it, whose work
// would be lost unseen. False with "Cannot connect to the database %s on %s: reason" when that
// fails too, or when there is no database.
bool ReconnectIfLost(const QSqlDatabase& db, QString* trouble);

// Kept by the transactions and read snapshots of a connection.
void NoteTransaction(const QSqlDatabase& db, bool open);
int TransactionsOpen(const QSqlDatabase& db);

// The database's trouble, or else "SQL Error: %s" with the statement text.
QString StatementFailure(const QSqlDatabase& db, const QSqlError& error, const QStringList& lines);

// Why a write transaction failed, worded as StatementFailure words it: its BEGIN when it never
// became active, else its COMMIT.
QString TransactionFailure(const QSqlDatabase& db, const SqlTransaction& transaction);

// An UPDATE or DELETE of one record that changed no row.
QString RecordNotFoundMessage();

// An edit of a record that someone changed or deleted since the editor read it.
QString RecordChangedMessage();

// The condition that the stored row still holds every value of the columns as read into
// `opened`: "Location = 'Base' AND Notes IS NULL AND ...". An UPDATE with it changes no row once
// someone else changed or deleted the record.
QString UnchangedSince(const QSqlRecord& opened, const QStringList& columns);

// Runs the statement; on failure shows "SQL Error: %s" with the statement text (or the database's
// trouble) and returns false. *changed, when given, receives the number of rows changed.
bool ExecuteStatement(const QSqlDatabase& db, const QStringList& lines, Prompter& prompter, int* changed = nullptr);

// Brings an older database up to the schema, all or nothing: superfee and nonsuperfee in Details,
// the send log, the send runs' claims and the history, the columns added since (the import times, what each
// message held). Reads only the catalog when nothing is to be done. False (after a message) when
// the database cannot be read, or needs an upgrade that could not be made: it is then not to be
// worked on, and the upgrade is tried again at the next start.
bool UpgradeSchema(const QSqlDatabase& db, Prompter& prompter);

// Next free recno over the whole Details table; -1 after reporting a failed query.
int NextRecordNumber(const QSqlDatabase& db, Prompter& prompter);

// Takes the next recno and runs the insert that `insert` builds with it, as one write
// transaction, so two clerks adding at the same moment get numbers of their own. The number,
// or -1 after a message.
int AddNumberedRecord(const QSqlDatabase& db, const std::function<QStringList(int recno)>& insert, Prompter& prompter);

} // namespace velmar
