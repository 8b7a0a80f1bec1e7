#include "db/database.h"

#include "core/appsettings.h"
#include "core/filelocations.h"
#include "core/passwordcommand.h"
#include "core/prompter.h"
#include "db/dialect.h"
#include "db/nameorder.h"
#include "db/sqltransaction.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

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

// Which of the schema's tables the database has. Those the upgrade adds (the send log) are never
// missing: a database made before them gains them at the start.
bool missingTables(const QSqlDatabase& db, QStringList* missing, QStringList* present)
{
    const QStringList tables = db.tables();
    for (const QString& table : TableNames()) {
        if (tables.contains(table, Qt::CaseInsensitive))
            present->append(table);
        else if (table != u"SendLog")
            missing->append(table);
    }
    return !missing->isEmpty();
}

int sqliteTroubleCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : -1;
}

QString sqliteTrouble(const QSqlDatabase& db, const QSqlError& error)
{
    switch (sqliteTroubleCode(error)) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DatabaseInUseMessage(db.databaseName());
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
        // A file or folder the clerk may not write: SQLite's text names neither.
        return QStringLiteral("Cannot write to the database %1 (%2): write access to it and to its folder %3 is "
                              "needed")
            .arg(db.databaseName(), error.databaseText(), QFileInfo(db.databaseName()).absolutePath());
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
    case SQLITE_NOTADB:
        return error.databaseText();
    default:
        return QString();
    }
}

QString serverTrouble(const QSqlDatabase& db, const QSqlError& error)
{
    const QString state = error.nativeErrorCode();
    const QString reason = ServerReason(error);
    // A lock waited for past lock_timeout, or two transactions in each other's way.
    if (state == u"55P03" || state == u"40P01" || state == u"40001")
        return DatabaseInUseMessage(DatabaseDescription(db));
    // No code: the connection is gone. Connection, resources, shutdown, system and server faults.
    if (state.isEmpty() || state.startsWith(u"08") || state.startsWith(u"53") || state.startsWith(u"57") ||
        state.startsWith(u"58") || state.startsWith(u"XX"))
        return cannotConnect(DatabaseDescription(db), reason);
    // The clerk's login may not do this: the administrator can grant it.
    if (state == u"42501")
        return reason;
    return QString();
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
    if (!d.open())
        return refuse(ServerReason(d.lastError()));
    {
        QSqlQuery q(d);
        // A writer waits for another clerk's import as long as an import of a large pay run takes,
        // and is then told the database is in use. Backslashes in texts are plain characters.
        for (const char* setting :
             {"SET lock_timeout = '30s'", "SET standard_conforming_strings = on", "SET client_min_messages = warning"})
            if (!q.exec(QString::fromUtf8(setting)))
                reason = ServerReason(q.lastError().databaseText());
        QStringList missing, present;
        if (reason.isEmpty() && requireTables && missingTables(d, &missing, &present))
            reason = QStringLiteral("its tables (%1) are missing; \"velmarpay-cli init-db\" creates them")
                         .arg(missing.join(QStringLiteral(", ")));
    }
    if (!reason.isEmpty()) {
        d.close();
        return refuse(reason);
    }
    *db = d;
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

QString DatabaseTrouble(const QSqlDatabase& db, const QSqlError& error)
{
    return DialectOf(db) == Dialect::SQLite ? sqliteTrouble(db, error) : serverTrouble(db, error);
}

QString StatementFailure(const QSqlDatabase& db, const QSqlError& error, const QStringList& lines)
{
    const QString trouble = DatabaseTrouble(db, error);
    return trouble.isEmpty() ? QStringLiteral("SQL Error: %1").arg(StatementText(lines)) : trouble;
}

QString TransactionFailure(const QSqlDatabase& db, const SqlTransaction& transaction)
{
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

// Runs the statements in one write transaction unless `done` says they are not needed; it is
// asked again inside, as another copy starting at the same moment may have got there first.
bool upgrade(const QSqlDatabase& db, const std::function<bool()>& done, const QStringList& statements,
             Prompter& prompter)
{
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        prompter.error(TransactionFailure(db, transaction));
        return false;
    }
    if (done())
        return true;
    for (const QString& statement : statements)
        if (!ExecuteStatement(db, {statement}, prompter))
            return false;
    if (!transaction.commit()) {
        prompter.error(TransactionFailure(db, transaction));
        return false;
    }
    return true;
}

} // namespace

bool AddSendLog(const QSqlDatabase& db, Prompter& prompter)
{
    // Asked of the driver rather than by a failing statement, which would spoil a transaction.
    const auto present = [&db] { return db.tables().contains(QStringLiteral("SendLog"), Qt::CaseInsensitive); };
    if (present())
        return true;
    // The table and its index together, or neither: a later start would not add the index alone.
    QStringList statements = SchemaStatements(DialectOf(db));
    statements.removeIf([](const QString& statement) { return !statement.contains(QStringLiteral("SendLog")); });
    return upgrade(db, present, statements, prompter);
}

bool AddImportTimes(const QSqlDatabase& db, Prompter& prompter)
{
    const auto present = [&db] {
        QSqlQuery columns(db);
        return columns.exec(QStringLiteral("SELECT * FROM FileNames LIMIT 0")) &&
               columns.record().indexOf(QStringLiteral("Imported")) >= 0;
    };
    if (present())
        return true;
    return upgrade(db, present, {QStringLiteral("ALTER TABLE FileNames ADD COLUMN Imported TEXT")}, prompter);
}

bool UpgradeSchema(const QSqlDatabase& db, Prompter& prompter)
{
    if (!AddSendLog(db, prompter) || !AddImportTimes(db, prompter))
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
    const auto current = [&db] {
        QSqlQuery columns(db);
        return columns.exec(QStringLiteral("SELECT * FROM Details LIMIT 0")) &&
               columns.record().indexOf(QStringLiteral("superfee")) >= 0;
    };
    return upgrade(db, current, UpgradeSteps(DialectOf(db)), prompter);
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
