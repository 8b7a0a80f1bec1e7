#include "common/realpeers.h"

#include "core/appsettings.h"
#include "db/database.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

namespace velmar::test {

namespace {

const char kLockScript[] = R"(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)
c.execute(sys.argv[2])
if sys.argv[3] == "read":
    c.execute("SELECT * FROM sqlite_master").fetchone()
print("locked", flush=True)
sys.stdin.read()
)";

// Past the limit a write fails with EFBIG rather than the signal ending the program.
void limitFileSize(rlim_t limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
}

} // namespace

LockHolder::LockHolder(const QString& dbPath, const QString& begin, bool read)
{
    m_python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kLockScript), dbPath,
                                                        begin, read ? QStringLiteral("read") : QStringLiteral("-")});
    EXPECT_TRUE(m_python.waitForReadyRead(10000) && m_python.readLine().trimmed() == "locked")
        << m_python.readAllStandardError().toStdString();
}

LockHolder::~LockHolder()
{
    m_python.closeWriteChannel();
    if (!m_python.waitForFinished(10000))
        m_python.kill();
}

FullDisk::FullDisk() : m_folder(m_dir.filePath(QStringLiteral("disk")))
{
    QDir().mkpath(m_folder);
    m_mounted = mount("tmpfs", QFile::encodeName(m_folder).constData(), "tmpfs", 0, "size=128k") == 0;
    if (!m_mounted)
        std::fprintf(stderr, "FullDisk: no tmpfs can be mounted here; limiting the file size instead\n");
}

FullDisk::~FullDisk()
{
    if (m_mounted)
        umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

QString FullDisk::filePath(const QString& name) const
{
    return QDir(m_folder).filePath(name);
}

void FullDisk::fill(qint64 room)
{
    m_room = room;
    QFile filler(filePath(QStringLiteral("filler")));
    if (!m_mounted || !filler.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    struct statvfs fs;
    ASSERT_EQ(statvfs(QFile::encodeName(m_folder).constData(), &fs), 0);
    const qint64 size = qint64(fs.f_bavail) * qint64(fs.f_bsize) - room;
    if (size > 0) {
        ASSERT_EQ(filler.write(QByteArray(size, '\0')), size);
    }
}

QString FullDisk::reason() const
{
    return m_mounted ? QStringLiteral("No space left on device") : QStringLiteral("File too large");
}

CliRun FullDisk::runCli(const QString& ini, const QString& db, const QStringList& args) const
{
    const rlim_t limit = rlim_t(m_room);
    return test::runCli(
        ini, db, args, QString(), m_mounted ? std::function<void()>() : [limit] { limitFileSize(limit); });
}

std::function<void()> FullDisk::limitWrites() const
{
    if (m_mounted)
        return [] {};
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    limitFileSize(rlim_t(m_room));
    return [previous] { setrlimit(RLIMIT_FSIZE, &previous); };
}

namespace {

PostgresServer* g_server = nullptr;

} // namespace

PostgresServer& PostgresServer::instance()
{
    if (!g_server)
        g_server = new PostgresServer;
    EXPECT_TRUE(g_server->isRunning()) << "the test's PostgreSQL server is not running";
    return *g_server;
}

void PostgresServer::stopIfStarted()
{
    delete g_server;
    g_server = nullptr;
}

PostgresServer::PostgresServer() : m_admin(QStringLiteral("velmar-test-postgres"))
{
    QString error;
    m_running = start(&error);
    if (!m_running)
        ADD_FAILURE() << "cannot start PostgreSQL: " << error.toStdString();
}

PostgresServer::~PostgresServer()
{
    CloseDatabase(m_admin);
    m_server.stop();
}

bool PostgresServer::start(QString* error)
{
    if (!m_server.start(error))
        return false;
    QSqlDatabase db;
    if (!OpenServerDatabase(settings(QStringLiteral("postgres")), m_admin, &db, error, false))
        return false;
    // The template every test's database is copied from holds the program's tables.
    const QString connection = QStringLiteral("velmar-test-template");
    bool ok = admin(QStringLiteral("CREATE DATABASE velmar_template"), error);
    {
        QSqlDatabase t;
        ok = ok && OpenServerDatabase(settings(QStringLiteral("velmar_template")), connection, &t, error, false) &&
             CreateServerTables(t, error);
    }
    CloseDatabase(connection);
    return ok;
}

bool PostgresServer::admin(const QString& sql, QString* error)
{
    QSqlQuery q(QSqlDatabase::database(m_admin, false));
    if (q.exec(sql))
        return true;
    if (error)
        *error = sql + QStringLiteral(": ") + q.lastError().text();
    return false;
}

QString PostgresServer::createDatabase()
{
    const QString name = QStringLiteral("test_%1").arg(++m_databases);
    QString error;
    if (!m_running || !admin(QStringLiteral("CREATE DATABASE %1 TEMPLATE velmar_template").arg(name), &error)) {
        ADD_FAILURE() << error.toStdString();
        return QString();
    }
    return name;
}

void PostgresServer::dropDatabase(const QString& name)
{
    QString error;
    EXPECT_TRUE(admin(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name), &error)) << error.toStdString();
}

DatabaseSettings PostgresServer::settings(const QString& database, bool tcp) const
{
    return m_server.settings(database, tcp);
}

} // namespace velmar::test
