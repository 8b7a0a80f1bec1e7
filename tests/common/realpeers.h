#pragma once

#include "common/temporarypostgres.h"
#include "common/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>

namespace velmar::test {

// Another program holding the database until the object goes: Python's sqlite3 module in a
// transaction begun with `begin`, after a read when `read` (a reader that keeps a commit waiting).
class LockHolder
{
public:
    LockHolder(const QString& dbPath, const QString& begin, bool read = false);
    ~LockHolder();

private:
    QProcess m_python;
};

// A folder out of space: a 40 KB tmpfs where the machine lets us mount one (root), else a limit on
// the size of files written (RLIMIT_FSIZE). Either way the system itself refuses the writes.
class FullDisk
{
public:
    FullDisk();
    ~FullDisk();

    QString filePath(const QString& name) const;
    bool isMounted() const { return m_mounted; }
    // Leaves `room` bytes free; call it once the files that should survive are written.
    void fill(qint64 room = 0);
    // The system's reason for a refused write.
    QString reason() const;
    CliRun runCli(const QString& ini, const QString& db, const QStringList& args) const;
    // Limits the writes of this process; call what it returns to lift the limit.
    std::function<void()> limitWrites() const;

private:
    QTemporaryDir m_dir;
    QString m_folder;
    bool m_mounted = false;
    qint64 m_room = 0;
};

} // namespace velmar::test

namespace velmar::test {

// The PostgreSQL server of this test program (a TemporaryPostgres), started at its first use and
// stopped when the tests end, with a template database every test's database is copied from.
class PostgresServer
{
public:
    // The running server; a test fails when it cannot be started.
    static PostgresServer& instance();
    static void stopIfStarted();

    // A new database with the program's tables; dropped again with dropDatabase. Empty after a
    // failure (the test has failed already).
    QString createDatabase();
    void dropDatabase(const QString& name);
    // Runs a statement as the superuser in the maintenance database.
    bool admin(const QString& sql, QString* error = nullptr);

    DatabaseSettings settings(const QString& database, bool tcp = false) const;
    static QString password() { return TemporaryPostgres::password(); }
    bool isRunning() const { return m_running; }

private:
    PostgresServer();
    ~PostgresServer();
    bool start(QString* error);

    TemporaryPostgres m_server;
    bool m_running = false;
    int m_databases = 0;
    QString m_admin;
};

} // namespace velmar::test
