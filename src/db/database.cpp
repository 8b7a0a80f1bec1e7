#include "db/database.h"

#include "core/appsettings.h"
#include "core/filelocations.h"
#include "core/passwordcommand.h"
#include "core/prompter.h"
#include "db/clienthandles.h"
#include "db/dialect.h"
#include "db/nameorder.h"
#include "db/reading.h"
#include "db/sqltransaction.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        // SQLite reads the shortest form of some doubles (0.024421) back one digit off.
        return QString::number(value.toDouble(), 'g', 17);
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

namespace {

// Why an open file is no database of this program; empty when it is one. Reads its catalog only,
// so that nothing is written to a file before it is known to be ours.
QString notOurs(const QSqlDatabase& db, const QString& path)
{
    const QString unrecognized = QStringLiteral("Unrecognized database format '%1'.").arg(path);
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
        const QSqlError e = probe.lastError();
        const QString trouble = DatabaseTrouble(db, e);
        return trouble.isEmpty() || (e.nativeErrorCode().toInt() & 0xff) == SQLITE_NOTADB ? unrecognized : trouble;
    }
    QStringList tables;
    while (probe.next())
        tables.append(probe.value(0).toString());
    if (probe.lastError().isValid())
        return ReadEndedEarly(db, probe.lastError(), QString());
    // An empty file is a database to SQLite, but of nothing.
    if (tables.isEmpty() && QFileInfo(path).size() == 0)
        return unrecognized;
    QStringList missing;
    for (const QString& table : TableNames())
        if (!UpgradeAddsTable(table) && !tables.contains(table, Qt::CaseInsensitive))
            missing.append(table);
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("%1 is not a Velmar database (it has no table %2).\n\"velmarpay-cli init-db\" creates a "
                          "new one where there is no file.")
        .arg(path, missing.join(QStringLiteral(", ")));
}

} // namespace

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
        // SQLite's "unable to open database file" names no file.
        const QString reason = QFileInfo(path).isDir()                  ? QStringLiteral("it is a folder")
                               : d.lastError().databaseText().isEmpty() ? d.lastError().text()
                                                                        : d.lastError().databaseText();
        if (error)
            *error = QStringLiteral("Cannot open the database %1: %2").arg(path, reason);
        return false;
    }
    // Opening never checks the file; reading its schema does.
    QString failure = notOurs(d, path);
    if (failure.isEmpty() && !RegisterNameOrder(d))
        failure = QStringLiteral("Cannot sort names in %1").arg(path);
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
    // Pay data is for its owner only, whatever the umask: SQLite keeps the mode of the empty file
    // it is given, and so do its journals.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        if (error)
            *error = QStringLiteral("Cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0) {
            ::close(fd);
            QFile::remove(path);
        }
        return false;
    }
    ::close(fd);
    const QString connection = QStringLiteral("velmar-create");
    bool ok = true;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        d.setDatabaseName(path);
        ok = d.open();
        if (!ok && error)
            *error = d.lastError().text();
        QSqlQuery q(d);
        for (const QString& statement : SchemaStatements(Dialect::SQLite)) {
            if (!ok)
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

namespace {

QString cannotConnect(const QString& description, const QString& reason)
{
    return QStringLiteral("Cannot connect to the database %1: %2").arg(description, reason);
}

// The libpq options besides host, port, name, user and password: a server that does not answer
// is given up after a while rather than hanging the start.
QString connectOptions(const DatabaseSettings& settings, QString* error)
{
    QString options = QStringLiteral("connect_timeout=10;application_name=velmarpay");
    if (!settings.SslMode.isEmpty()) {
        // One word, so that the value cannot bring in options of its own.
        static const QRegularExpression word(QStringLiteral("^[A-Za-z-]+$"));
        if (!word.match(settings.SslMode).hasMatch()) {
            *error = QStringLiteral("invalid sslmode value: \"%1\"").arg(settings.SslMode);
            return QString();
        }
        options += QStringLiteral(";sslmode=") + settings.SslMode;
    }
    return options;
}

// Which of the schema's tables the database has. Those the upgrade adds (the send log, the send
// runs' claims) are never missing: a database made before them gains them at the start.
bool missingTables(const QSqlDatabase& db, QStringList* missing, QStringList* present)
{
    const QStringList tables = db.tables();
    for (const QString& table : TableNames()) {
        if (tables.contains(table, Qt::CaseInsensitive))
            present->append(table);
        else if (!UpgradeAddsTable(table))
            missing->append(table);
    }
    return !missing->isEmpty();
}

// Where the driver keeps the role's statement_timeout, for the message of a time-out.
const char kStatementTimeout[] = "velmarStatementTimeout";
// Set when a statement heard that its session is over: the server may still be closing the socket,
// so an idle check could find it quiet and take it for alive.
const char kSessionOver[] = "velmarSessionOver";

// What every session on a server pins, whatever the server's, the database's or the role's own
// settings say. False with the whole message when the session cannot be used.
bool setUpServerSession(const QSqlDatabase& db, QString* error)
{
    const QString description = DatabaseDescription(db);
    QSqlQuery q(db);
    // A writer waits for another clerk's import as long as an import of a large pay run takes,
    // and is then told the database is in use. Backslashes in texts are plain characters. Doubles
    // come back to their last bit, so an edit finds the very row it read. Texts go both ways as UTF-8.
    for (const char* setting :
         {"SET lock_timeout = '30s'", "SET standard_conforming_strings = on", "SET client_min_messages = warning",
          "SET extra_float_digits = 3", "SET client_encoding = 'UTF8'"}) {
        if (!q.exec(QString::fromUtf8(setting))) {
            *error = cannotConnect(description, ServerReason(q.lastError()));
            return false;
        }
    }
    // Messages in English where the role may choose; otherwise they are told apart by their SQLSTATE.
    q.exec(QStringLiteral("SET lc_messages = 'C'"));
    QString encoding;
    if (q.exec(QStringLiteral("SHOW server_encoding")) && q.next())
        encoding = q.value(0).toString();
    if (encoding != u"UTF8") {
        *error =
            encoding.isEmpty()
                ? cannotConnect(description, ServerReason(q.lastError()))
                : QStringLiteral("The database %1 uses the encoding %2; it must be UTF8").arg(description, encoding);
        return false;
    }
    if (q.exec(QStringLiteral("SHOW statement_timeout")) && q.next())
        db.driver()->setProperty(kStatementTimeout, q.value(0).toString());
    return true;
}

// Whether an idle server connection still answers. The server says nothing to an idle connection
// unless it is going away (a restart, a session ended by an administrator): only then is it asked,
// with an empty statement, so that an action costs no round trip.
bool stillAnswers(pg_conn* connection)
{
    if (PQstatus(connection) != CONNECTION_OK)
        return false;
    pollfd heard{PQsocket(connection), POLLIN, 0};
    if (::poll(&heard, 1, 0) == 0)
        return true;
    PQclear(PQexec(connection, ""));
    return PQstatus(connection) == CONNECTION_OK;
}

// Opens a server connection whose settings are made (again), with its session set up.
bool openServerSession(QSqlDatabase& db, QString* error)
{
    if (!db.open()) {
        *error = cannotConnect(DatabaseDescription(db), ServerReason(db.lastError()));
        return false;
    }
    if (setUpServerSession(db, error))
        return true;
    db.close();
    return false;
}

int sqliteTroubleCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : -1;
}

// What kind of trouble a failed statement met, and its message.
struct Trouble
{
    enum Kind {
        None,  // the statement itself was refused
        InUse, // someone else holds what it needs
        TimedOut,
        NoRight,
        Lost,  // the connection went, or the server ended the statement
        Fault, // the database's own failure: a full disk, a broken file
    };
    Kind kind = None;
    QString text;
};

Trouble sqliteTrouble(const QSqlDatabase& db, const QSqlError& error)
{
    switch (sqliteTroubleCode(error)) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {Trouble::InUse, DatabaseInUseMessage(db.databaseName())};
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
        // A file or folder the clerk may not write: SQLite's text names neither.
        return {Trouble::Fault,
                QStringLiteral("Cannot write to the database %1 (%2): write access to it and to its folder %3 is "
                               "needed")
                    .arg(db.databaseName(), error.databaseText(), QFileInfo(db.databaseName()).absolutePath())};
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
    case SQLITE_NOTADB:
        return {Trouble::Fault, error.databaseText()};
    default:
        return {};
    }
}

// "The database user clerk1 has no right to add rows to the table FileNames": the statement says
// what was done, the server's message (in whatever language) ends with the table.
QString noRightMessage(const QSqlDatabase& db, const QString& reason, const QString& statement)
{
    static const std::pair<const char*, const char*> rights[] = {{"SELECT", "read"},
                                                                 {"INSERT", "add rows to"},
                                                                 {"COPY", "add rows to"},
                                                                 {"UPDATE", "change"},
                                                                 {"DELETE", "delete rows from"}};
    const QString verb = statement.simplified().section(u' ', 0, 0).toUpper();
    QString right = QStringLiteral("use");
    for (const auto& [word, meaning] : rights)
        if (verb == QLatin1String(word))
            right = QString::fromUtf8(meaning);
    const QString named = reason.section(u' ', -1).remove(u'"');
    for (const QString& table : TableNames()) {
        if (table.compare(named, Qt::CaseInsensitive) != 0)
            continue;
        const pg_conn* connection = ServerHandle(db);
        const QString user = connection ? QString::fromUtf8(PQuser(connection)) : db.userName();
        return QStringLiteral("The database user %1 has no right to %2 the table %3").arg(user, right, table);
    }
    return reason;
}

Trouble serverTrouble(const QSqlDatabase& db, const QSqlError& error, const QString& statement)
{
    const QString state = error.nativeErrorCode();
    QString reason = ServerReason(error);
    // A lock waited for past lock_timeout, or two transactions in each other's way.
    if (state == u"55P03" || state == u"40P01" || state == u"40001")
        return {Trouble::InUse, DatabaseInUseMessage(DatabaseDescription(db))};
    const QString timeout = db.driver() ? db.driver()->property(kStatementTimeout).toString() : QString();
    if (state == u"57014" && !timeout.isEmpty() && timeout != u"0")
        return {Trouble::TimedOut, QStringLiteral("The database did not answer within %1").arg(timeout)};
    // The clerk's login may not do this: the administrator can grant it.
    if (state == u"42501")
        return {Trouble::NoRight, noRightMessage(db, reason, statement)};
    // No code: the connection is gone (its reason is the connection's). Connection faults, and
    // statements the server ended (cancelled, shut down).
    if (state.isEmpty() || state.startsWith(u"08") || state.startsWith(u"57")) {
        // A cancelled statement (57014) leaves its session; a shutdown or a lost connection ends it.
        if (state != u"57014" && db.driver())
            db.driver()->setProperty(kSessionOver, true);
        if (const pg_conn* connection = ServerHandle(db); reason.isEmpty() && connection)
            reason = ServerReason(QString::fromUtf8(PQerrorMessage(connection)));
        if (reason.isEmpty())
            reason = QStringLiteral("the connection to the server was lost");
        return {Trouble::Lost, QStringLiteral("The database stopped answering: %1").arg(reason)};
    }
    // Resources, system and server faults: the server's reason (a full disk) says it.
    if (state.startsWith(u"53") || state.startsWith(u"58") || state.startsWith(u"XX"))
        return {Trouble::Fault, reason};
    return {};
}

Trouble troubleOf(const QSqlDatabase& db, const QSqlError& error, const QString& statement)
{
    return DialectOf(db) == Dialect::SQLite ? sqliteTrouble(db, error) : serverTrouble(db, error, statement);
}

// The open transactions and snapshots of each connection.
QHash<QString, int>& openTransactions()
{
    static QHash<QString, int> open;
    return open;
}

} // namespace

QString ConnectFailureMessage(const DatabaseSettings& settings, const QString& reason)
{
    return cannotConnect(settings.describe(), reason);
}

bool OpenServerDatabase(const DatabaseSettings& settings, const QString& connectionName, QSqlDatabase* db,
                        QString* error, bool requireTables)
{
    QString reason;
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = ConnectFailureMessage(settings, why);
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return refuse(QStringLiteral("Qt's PostgreSQL driver is not installed (Debian package libqt6sql6-psql)"));
    const QString options = connectOptions(settings, &reason);
    if (!reason.isEmpty())
        return refuse(reason);
    QString password = settings.Password;
    if (!settings.PasswordCommand.trimmed().isEmpty() &&
        !RunPasswordCommand(settings.PasswordCommand, kPasswordCommandTimeoutMs, &password, &reason))
        return refuse(QStringLiteral("the password command failed: %1").arg(reason));

    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    d.setHostName(settings.Host);
    d.setPort(settings.Port);
    d.setDatabaseName(settings.Name);
    d.setUserName(settings.User);
    d.setPassword(password);
    d.setConnectOptions(options);
    QString refusal;
    QStringList missing, present;
    if (openServerSession(d, &refusal) && requireTables && missingTables(d, &missing, &present)) {
        d.close();
        refusal = ConnectFailureMessage(
            settings, QStringLiteral("its tables (%1) are missing; \"velmarpay-cli init-db\" creates them")
                          .arg(missing.join(QStringLiteral(", "))));
    }
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    *db = d;
    return true;
}

bool OpenSecondConnection(const QSqlDatabase& db, const QString& connectionName, QSqlDatabase* second, QString* error)
{
    if (DialectOf(db) == Dialect::SQLite)
        return OpenDatabase(db.databaseName(), connectionName, second, error);
    QSqlDatabase d = QSqlDatabase::cloneDatabase(db, connectionName);
    if (!openServerSession(d, error))
        return false;
    *second = d;
    return true;
}

bool CreateServerTables(const QSqlDatabase& db, QString* error)
{
    QStringList missing, present;
    missingTables(db, &missing, &present);
    if (!present.isEmpty()) {
        *error = QStringLiteral("The database %1 already has the tables %2: nothing was created")
                     .arg(DatabaseDescription(db), present.join(QStringLiteral(", ")));
        return false;
    }
    SqlTransaction transaction(db);
    QSqlQuery q(db);
    for (const QString& statement : SchemaStatements(DialectOf(db))) {
        if (!transaction.isActive() || !q.exec(statement)) {
            const QSqlError e = transaction.isActive() ? q.lastError() : transaction.lastError();
            *error = QStringLiteral("Cannot create the tables in %1: %2")
                         .arg(DatabaseDescription(db), ServerReason(e.databaseText()));
            return false;
        }
    }
    if (!transaction.commit()) {
        *error = QStringLiteral("Cannot create the tables in %1: %2")
                     .arg(DatabaseDescription(db), ServerReason(transaction.lastError().databaseText()));
        return false;
    }
    return true;
}

bool OpenWorkingDatabase(const FileLocations& files, const DatabaseSettings& settings, const QString& connectionName,
                         QSqlDatabase* db, QString* error)
{
    if (UsesServer(files, settings))
        return OpenServerDatabase(settings, connectionName, db, error);
    if (!settings.isFile() && !files.dbNamedOnCommandLine) {
        *error = QStringLiteral("Unknown database driver \"%1\" in [Database] Driver of %2: SQLITE or POSTGRESQL")
                     .arg(settings.Driver, files.iniPath);
        return false;
    }
    *error = MissingDatabaseMessage(files);
    return QFileInfo::exists(files.dbPath) && OpenDatabase(files.dbPath, connectionName, db, error);
}

QString DatabaseDescription(const QSqlDatabase& db)
{
    if (DialectOf(db) == Dialect::SQLite)
        return db.databaseName();
    DatabaseSettings server;
    server.Name = db.databaseName();
    server.Host = db.hostName();
    return server.describe();
}

QString DatabaseInUseMessage(const QString& description)
{
    return QStringLiteral("The database %1 is in use by another program. Try again when it has finished.")
        .arg(description);
}

QString DatabaseTrouble(const QSqlDatabase& db, const QSqlError& error, const QString& statement)
{
    return troubleOf(db, error, statement).text;
}

QString ReadEndedEarly(const QSqlDatabase& db, const QSqlError& error, const QString& statement)
{
    const Trouble trouble = troubleOf(db, error, statement);
    if (trouble.kind != Trouble::None && trouble.kind != Trouble::Fault)
        return trouble.text;
    const QString reason = trouble.kind == Trouble::Fault ? trouble.text : ServerReason(error);
    return QStringLiteral("The database stopped answering: %1").arg(reason);
}

QString NoDatabaseMessage()
{
    return QStringLiteral("No database is open.");
}

void NoteTransaction(const QSqlDatabase& db, bool open)
{
    int& count = openTransactions()[db.connectionName()];
    count += open ? 1 : -1;
    if (count <= 0)
        openTransactions().remove(db.connectionName());
}

int TransactionsOpen(const QSqlDatabase& db)
{
    return openTransactions().value(db.connectionName());
}

bool ReconnectIfLost(const QSqlDatabase& db, QString* trouble)
{
    if (!db.isOpen() && DialectOf(db) == Dialect::SQLite) {
        *trouble = NoDatabaseMessage();
        return false;
    }
    if (DialectOf(db) != Dialect::PostgreSQL)
        return true;
    const bool over = db.driver() && db.driver()->property(kSessionOver).toBool();
    if (pg_conn* connection = ServerHandle(db); !over && connection && stillAnswers(connection))
        return true;
    if (TransactionsOpen(db) > 0) {
        *trouble = QStringLiteral("The database stopped answering: the connection to the server was lost");
        return false;
    }
    QSqlDatabase again = db;
    again.close();
    if (!openServerSession(again, trouble))
        return false;
    again.driver()->setProperty(kSessionOver, false);
    return true;
}

QString StatementFailure(const QSqlDatabase& db, const QSqlError& error, const QStringList& lines)
{
    const QString trouble = DatabaseTrouble(db, error, lines.join(u'\n'));
    return trouble.isEmpty() ? QStringLiteral("SQL Error: %1").arg(StatementText(lines)) : trouble;
}

QString TransactionFailure(const QSqlDatabase& db, const SqlTransaction& transaction)
{
    if (!transaction.connectionTrouble().isEmpty())
        return transaction.connectionTrouble();
    return StatementFailure(db, transaction.lastError(),
                            transaction.isActive() ? QStringList{QStringLiteral("COMMIT")}
                                                   : BeginWriting(DialectOf(db)));
}

QString RecordNotFoundMessage()
{
    return QStringLiteral("The record was not found: it was changed or deleted elsewhere. Nothing was saved.");
}

QString RecordChangedMessage()
{
    return QStringLiteral("The record was changed by someone else since you opened it. Nothing was saved.");
}

QString UnchangedSince(const QSqlRecord& opened, const QStringList& columns)
{
    QStringList conditions;
    for (const QString& column : columns) {
        const QVariant value = opened.value(column);
        conditions.append(value.isNull() ? column + QStringLiteral(" IS NULL")
                                         : column + QStringLiteral(" = ") + SqlLiteral(value));
    }
    return conditions.join(QStringLiteral(" AND "));
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

namespace {

struct SchemaFacts
{
    QStringList tables;
    QHash<QString, QStringList> columns; // of each of the schema's tables the database has
};

// The columns of a table, from a read of no rows.
bool readColumns(const QSqlDatabase& db, const QString& table, QStringList* columns, QString* trouble)
{
    ReadQuery none(db, QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(table));
    if (!none.forEachRow([](const QSqlQuery&) {})) {
        *trouble = none.failure();
        return false;
    }
    const QSqlRecord record = none.query().record();
    columns->clear();
    for (int i = 0; i < record.count(); ++i)
        columns->append(record.fieldName(i));
    return true;
}

// The tables of the database and the columns of the schema's tables, from the catalog and reads of
// no rows: the same cost however many rows it holds.
bool readSchema(const QSqlDatabase& db, SchemaFacts* facts, QString* trouble)
{
    ReadQuery names(db, DialectOf(db) == Dialect::SQLite
                            ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")
                            : QStringLiteral("SELECT relname FROM pg_class WHERE relkind IN ('r', 'p') "
                                             "AND pg_table_is_visible(oid)"));
    facts->tables.clear();
    facts->columns.clear();
    if (!names.forEachRow([&](const QSqlQuery& row) { facts->tables.append(row.value(0).toString()); })) {
        *trouble = names.failure();
        return false;
    }
    // Details first: a clerk without rights is told of the table every action needs.
    QStringList tables = TableNames();
    tables.move(tables.indexOf(QStringLiteral("Details")), 0);
    for (const QString& table : std::as_const(tables)) {
        if (!facts->tables.contains(table, Qt::CaseInsensitive))
            continue;
        if (!readColumns(db, table, &facts->columns[table], trouble))
            return false;
    }
    return true;
}

// What brings the database up to the schema: the tables it gained since (each with its indexes, or
// neither), superfee and nonsuperfee filled in, and every other column added since.
QStringList upgradeSteps(const QSqlDatabase& db, const SchemaFacts& facts)
{
    const Dialect dialect = DialectOf(db);
    QStringList steps;
    for (const QString& table : TableNames()) {
        if (!facts.tables.contains(table, Qt::CaseInsensitive)) {
            if (UpgradeAddsTable(table))
                steps += TableStatements(dialect, table);
            continue;
        }
        const QStringList present = facts.columns.value(table);
        const bool details = table == u"Details";
        if (details && !present.contains(QStringLiteral("superfee"), Qt::CaseInsensitive))
            steps += UpgradeSteps(dialect);
        for (const QString& column : TableColumns(table))
            if (!present.contains(column, Qt::CaseInsensitive) &&
                !(details && (column == u"superfee" || column == u"nonsuperfee")))
                steps.append(AddColumnStatement(dialect, table, column));
    }
    return steps;
}

// One write transaction: cut short after the columns were added, the updates would leave every
// superfee at 0, and the next start, finding the column, would never put it right. What is needed is
// asked again inside, as another copy starting at the same moment may have got there first.
bool upgrade(const QSqlDatabase& db, QString* reason)
{
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        *reason = TransactionFailure(db, transaction);
        return false;
    }
    SchemaFacts facts;
    if (!readSchema(db, &facts, reason))
        return false;
    for (const QString& statement : upgradeSteps(db, facts)) {
        QSqlQuery q(db);
        if (!q.exec(statement)) {
            *reason = StatementFailure(db, q.lastError(), {statement});
            return false;
        }
    }
    if (!transaction.commit()) {
        *reason = TransactionFailure(db, transaction);
        return false;
    }
    return true;
}

} // namespace

bool UpgradeSchema(const QSqlDatabase& db, Prompter& prompter)
{
    SchemaFacts facts;
    QString reason;
    // A busy or broken file says nothing about what it lacks.
    if (!readSchema(db, &facts, &reason)) {
        prompter.error(reason);
        return false;
    }
    if (upgradeSteps(db, facts).isEmpty())
        return true;
    if (upgrade(db, &reason))
        return true;
    prompter.error(QStringLiteral("The database %1 needs an upgrade that could not be made: %2")
                       .arg(DatabaseDescription(db), reason));
    return false;
}

int NextRecordNumber(const QSqlDatabase& db, Prompter& prompter)
{
    const QString statement = QStringLiteral("SELECT MAX(recno) as recno from Details");
    ReadQuery largest(db, statement);
    int next = 1;
    // An empty table gives one row, whose NULL reads as 0.
    if (!largest.forEachRow([&](const QSqlQuery& row) { next = row.value(0).toInt() + 1; })) {
        prompter.error(largest.failure());
        return -1;
    }
    return next;
}

int AddNumberedRecord(const QSqlDatabase& db, const std::function<QStringList(int recno)>& insert, Prompter& prompter)
{
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        prompter.error(TransactionFailure(db, transaction));
        return -1;
    }
    const int recno = NextRecordNumber(db, prompter);
    // A record numbered -1 would collide with the next failure.
    if (recno < 0 || !ExecuteStatement(db, insert(recno), prompter))
        return -1;
    if (!transaction.commit()) {
        prompter.error(TransactionFailure(db, transaction));
        return -1;
    }
    return recno;
}

} // namespace velmar
