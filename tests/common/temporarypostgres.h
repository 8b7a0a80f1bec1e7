#pragma once

#include "core/appsettings.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace velmar::test {

// A PostgreSQL 15 server of our own: initdb into a temporary folder, pg_ctl start on a free
// 127.0.0.1 port and a Unix socket in that folder, run as the postgres user when we are root
// (initdb refuses root). A watchdog stops it should this program die first; it never touches a
// server the machine runs itself. Local connections are trusted, TCP ones need the password.
class TemporaryPostgres
{
public:
    TemporaryPostgres() = default;
    ~TemporaryPostgres();
    TemporaryPostgres(const TemporaryPostgres&) = delete;
    TemporaryPostgres& operator=(const TemporaryPostgres&) = delete;

    bool start(QString* error);
    void stop();
    bool isRunning() const { return m_running; }

    // The superuser over the socket, or over TCP with the password.
    DatabaseSettings settings(const QString& database, bool tcp = false) const;
    static QString password() { return QStringLiteral("velmar-test-secret"); }

private:
    // A PostgreSQL program as the server's user; its output on failure.
    bool run(const QString& program, const QStringList& args, QString* output);

    // In /tmp whatever TMPDIR says: the socket's path must stay short, and the postgres user must
    // be able to reach the folder.
    QTemporaryDir m_dir{QStringLiteral("/tmp/velmar-postgres-XXXXXX")};
    int m_port = 0;
    bool m_running = false;
};

} // namespace velmar::test
