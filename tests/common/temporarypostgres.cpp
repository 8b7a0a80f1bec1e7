#include "common/temporarypostgres.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

namespace velmar::test {

using namespace Qt::StringLiterals;

namespace {

const QString kBin = u"/usr/lib/postgresql/15/bin/"_s;

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
        p.start(u"runuser"_s, QStringList{u"-u"_s, u"postgres"_s, u"--"_s, kBin + program} + args);
    else
        p.start(kBin + program, args);
    const bool finished = p.waitForFinished(120000);
    if (output)
        *output = program + u": "_s + QString::fromLocal8Bit(p.readAll()) + p.errorString();
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool TemporaryPostgres::start(QString* error)
{
    const QString dir = m_dir.path();
    const QString data = dir + u"/data"_s;
    const QString passwordFile = dir + u"/password"_s;
    const passwd* user = asRoot() ? getpwnam("postgres") : nullptr;
    QFile file(passwordFile);
    if (!m_dir.isValid() || !QFile::exists(kBin + u"initdb"_s) || (asRoot() && !user)) {
        *error = u"no PostgreSQL 15 server programs or postgres user (Debian package postgresql-15)"_s;
        return false;
    }
    if (!file.open(QIODevice::WriteOnly) || file.write(password().toUtf8()) < 0) {
        *error = file.errorString();
        return false;
    }
    file.close();
    for (const QString& path : {dir, passwordFile})
        if (user && chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0) {
            *error = u"cannot hand %1 to postgres"_s.arg(path);
            return false;
        }
    if (!run(u"initdb"_s,
             {u"-D"_s, data, u"-U"_s, u"postgres"_s, u"--pwfile="_s + passwordFile, u"--auth-local=trust"_s,
              u"--auth-host=scram-sha-256"_s, u"-E"_s, u"UTF8"_s, u"--locale=C.UTF-8"_s, u"--no-sync"_s},
             error))
        return false;
    // A port found free may be taken before the server binds it: try another.
    for (int attempt = 0; attempt < 5 && !m_running; ++attempt) {
        m_port = freePort();
        const QString options =
            u"-p %1 -c listen_addresses=127.0.0.1 -c unix_socket_directories=%2 "
            "-c fsync=off -c synchronous_commit=off -c full_page_writes=off"_s.arg(QString::number(m_port), dir);
        m_running = run(u"pg_ctl"_s,
                        {u"-D"_s, data, u"-l"_s, dir + u"/server.log"_s, u"-w"_s, u"-o"_s, options, u"start"_s}, error);
    }
    if (!m_running)
        return false;
    // Should this program die, the server and its folder go with it.
    const QString pgCtl = (asRoot() ? u"runuser -u postgres -- "_s : QString()) + kBin + u"pg_ctl"_s;
    QProcess::startDetached(u"setsid"_s,
                            {u"sh"_s, u"-c"_s,
                             u"while kill -0 %1 2>/dev/null; do sleep 1; done; "
                             "[ -d '%2' ] && %3 -D '%2' -m immediate stop >/dev/null 2>&1; rm -rf '%4'"_s.arg(
                                 QString::number(getpid()), data, pgCtl, dir)});
    return true;
}

void TemporaryPostgres::stop()
{
    if (m_running)
        run(u"pg_ctl"_s, {u"-D"_s, m_dir.path() + u"/data"_s, u"-m"_s, u"fast"_s, u"-w"_s, u"stop"_s}, nullptr);
    m_running = false;
}

DatabaseSettings TemporaryPostgres::settings(const QString& database, bool tcp) const
{
    DatabaseSettings s;
    s.Driver = u"POSTGRESQL"_s;
    s.Host = tcp ? u"127.0.0.1"_s : m_dir.path();
    s.Port = m_port;
    s.Name = database;
    s.User = u"postgres"_s;
    s.Password = tcp ? password() : QString();
    return s;
}

} // namespace velmar::test
