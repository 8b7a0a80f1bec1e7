#include "common/temporarypostgres.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

namespace velmar::test {

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

// As root the server runs as postgres, the user Debian's package creates.
bool asRoot()
{
    return geteuid() == 0;
}

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

TemporaryPostgres::~TemporaryPostgres()
{
    stop();
}

bool TemporaryPostgres::run(const QString& program, const QStringList& args, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir.path());
    if (asRoot())
        p.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), kBin + program} +
                    args);
    else
        p.start(kBin + program, args);
    const bool finished = p.waitForFinished(120000);
    if (output)
        *output = program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()) + p.errorString();
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool TemporaryPostgres::start(QString* error)
{
    if (!m_dir.isValid() || !QFile::exists(kBin + QStringLiteral("initdb"))) {
        *error = QStringLiteral("no %1initdb (Debian package postgresql-15)").arg(kBin);
        return false;
    }
    const QString dir = m_dir.path();
    const QString data = dir + QStringLiteral("/data");
    QFile passwordFile(dir + QStringLiteral("/password"));
    if (!passwordFile.open(QIODevice::WriteOnly) || passwordFile.write(password().toUtf8()) < 0) {
        *error = passwordFile.errorString();
        return false;
    }
    passwordFile.close();
    if (asRoot()) {
        const passwd* user = getpwnam("postgres");
        if (!user) {
            *error = QStringLiteral("no postgres user (Debian package postgresql-15)");
            return false;
        }
        for (const QString& path : {dir, passwordFile.fileName()})
            if (chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0) {
                *error = QStringLiteral("cannot hand %1 to postgres").arg(path);
                return false;
            }
    }
    if (!run(QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"),
              QStringLiteral("--pwfile=") + passwordFile.fileName(), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
             error))
        return false;
    // A port found free may be taken before the server binds it: try another.
    for (int attempt = 0; attempt < 5 && !m_running; ++attempt) {
        m_port = freePort();
        const QString options = QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 -c unix_socket_directories=%2 "
                                               "-c fsync=off -c synchronous_commit=off -c full_page_writes=off")
                                    .arg(m_port)
                                    .arg(dir);
        m_running = run(QStringLiteral("pg_ctl"),
                        {QStringLiteral("-D"), data, QStringLiteral("-l"), dir + QStringLiteral("/server.log"),
                         QStringLiteral("-w"), QStringLiteral("-o"), options, QStringLiteral("start")},
                        error);
    }
    if (!m_running)
        return false;
    // Should this program die, the server and its folder go with it.
    const QString stopCommand =
        (asRoot() ? QStringLiteral("runuser -u postgres -- ") : QString()) + kBin + QStringLiteral("pg_ctl");
    QProcess::startDetached(QStringLiteral("setsid"),
                            {QStringLiteral("sh"), QStringLiteral("-c"),
                             QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; "
                                            "[ -d '%2' ] && %3 -D '%2' -m immediate stop >/dev/null 2>&1; rm -rf '%4'")
                                 .arg(QString::number(getpid()), data, stopCommand, dir)});
    return true;
}

void TemporaryPostgres::stop()
{
    if (m_running)
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dir.path() + QStringLiteral("/data"), QStringLiteral("-m"), QStringLiteral("fast"),
             QStringLiteral("-w"), QStringLiteral("stop")},
            nullptr);
    m_running = false;
}

DatabaseSettings TemporaryPostgres::settings(const QString& database, bool tcp) const
{
    DatabaseSettings s;
    s.Driver = QStringLiteral("POSTGRESQL");
    s.Host = tcp ? QStringLiteral("127.0.0.1") : m_dir.path();
    s.Port = m_port;
    s.Name = database;
    s.User = QStringLiteral("postgres");
    s.Password = tcp ? password() : QString();
    return s;
}

} // namespace velmar::test
