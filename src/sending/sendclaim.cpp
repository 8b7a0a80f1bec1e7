#include "sending/sendclaim.h"

#include "db/database.h"
#include "db/dialect.h"
#include "db/reading.h"
#include "db/sqltransaction.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>

#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>
#endif

namespace velmar {

namespace {

struct Claim
{
    QString user;
    QString host;
    qint64 pid = 0;
    QDateTime started;
    QDateTime heartbeat;
    QString token;
};

QString userName()
{
#ifdef Q_OS_UNIX
    if (const passwd* account = getpwuid(geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    const QString name = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    return name.isEmpty() ? QStringLiteral("an unknown user") : name;
}

// The claims this process holds: one of its own that is not among them was left by a run that
// ended without giving it up.
QSet<QString>& heldHere()
{
    static QSet<QString> tokens;
    return tokens;
}

bool processGone(qint64 pid)
{
#ifdef Q_OS_UNIX
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
#else
    Q_UNUSED(pid);
    return false;
#endif
}

QString failureOf(const QSqlDatabase& db, const QSqlError& error)
{
    const QString trouble = DatabaseTrouble(db, error);
    return trouble.isEmpty() ? error.text() : trouble;
}

QDateTime stamp(const QVariant& value)
{
    QDateTime at = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    at.setTimeSpec(Qt::UTC);
    return at;
}

bool databaseNow(const QSqlDatabase& db, QDateTime* now, QString* error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT ") + UtcNowExpression(DialectOf(db))) || !q.next()) {
        *error = failureOf(db, q.lastError());
        return false;
    }
    *now = stamp(q.value(0));
    return true;
}

bool readClaim(const QSqlDatabase& db, const QString& dataSet, std::optional<Claim>* claim, QString* error)
{
    ReadQuery q(db,
                QStringLiteral("SELECT username, host, pid, started_at, heartbeat, token FROM SendClaims "
                               "WHERE DataSet = ?"),
                {dataSet});
    claim->reset();
    const bool whole = q.forEachRow([&](const QSqlQuery& row) {
        *claim = Claim{row.value(0).toString(), row.value(1).toString(), row.value(2).toLongLong(),
                       stamp(row.value(3)),     stamp(row.value(4)),     row.value(5).toString()};
    });
    if (!whole)
        *error = q.failure();
    return whole;
}

// Why the claim's run is taken to have stopped; empty while it lives.
QString stoppedBecause(const Claim& claim, const QDateTime& now)
{
    if (!claim.heartbeat.isValid() || claim.heartbeat.secsTo(now) >= SendClaim::StaleSeconds)
        return QStringLiteral("no sign of it for %1 minutes").arg(SendClaim::StaleSeconds / 60);
    if (claim.host != QSysInfo::machineHostName())
        return QString();
    if (claim.pid == QCoreApplication::applicationPid())
        return heldHere().contains(claim.token) ? QString() : QStringLiteral("it ended without giving it up");
    return processGone(claim.pid) ? QStringLiteral("its program is gone") : QString();
}

// Refreshes the claim's sign of life: 1 while it is the token's, 0 once another run took it over,
// -1 when the database could not be written (*error says why).
int refresh(const QSqlDatabase& db, const QString& dataSet, const QString& token, QString* error)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE SendClaims SET heartbeat = %1 WHERE DataSet = ? AND token = ?")
                  .arg(UtcNowExpression(DialectOf(db))));
    q.addBindValue(dataSet);
    q.addBindValue(token);
    if (!q.exec()) {
        *error = failureOf(db, q.lastError());
        return -1;
    }
    return q.numRowsAffected() == 1 ? 1 : 0;
}

QString takenOver(const QString& dataSet)
{
    return QStringLiteral("Another run took over sending %1; this one stops").arg(dataSet);
}

QString since(const Claim& claim)
{
    return claim.started.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm"));
}

} // namespace

SendClaim::SendClaim()
{
    m_timer.setInterval(HeartbeatMs);
    m_timer.callOnTimeout([this] { beat(); });
}

SendClaim::~SendClaim()
{
    release();
}

bool SendClaim::take(const QSqlDatabase& db, const QString& dataSet, QString* refusal, QString* notice)
{
    release();
    notice->clear();
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString now = UtcNowExpression(DialectOf(db));
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        *refusal = TransactionFailure(db, transaction);
        return false;
    }
    QDateTime at;
    std::optional<Claim> held;
    if (!databaseNow(db, &at, refusal) || !readClaim(db, dataSet, &held, refusal))
        return false;
    if (held) {
        const QString why = stoppedBecause(*held, at);
        if (why.isEmpty()) {
            *refusal = QStringLiteral("%1 is being sent from %2 by %3 since %4.")
                           .arg(dataSet, held->host, held->user, since(*held));
            return false;
        }
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM SendClaims WHERE DataSet = ? AND token = ?"));
        remove.addBindValue(dataSet);
        remove.addBindValue(held->token);
        if (!remove.exec()) {
            *refusal = failureOf(db, remove.lastError());
            return false;
        }
        *notice = QStringLiteral("%1 was being sent from %2 by %3 since %4, but that run has stopped (%5); this run "
                                 "takes it over.")
                      .arg(dataSet, held->host, held->user, since(*held), why);
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO SendClaims (DataSet, username, host, pid, started_at, heartbeat, "
                                  "token) VALUES (?, ?, ?, ?, %1, %1, ?)")
                       .arg(now));
    insert.addBindValue(dataSet);
    insert.addBindValue(userName());
    insert.addBindValue(QSysInfo::machineHostName());
    insert.addBindValue(QCoreApplication::applicationPid());
    insert.addBindValue(token);
    if (!insert.exec()) {
        *refusal = failureOf(db, insert.lastError());
        return false;
    }
    if (!transaction.commit()) {
        *refusal = TransactionFailure(db, transaction);
        return false;
    }
    m_db = db;
    m_dataSet = dataSet;
    m_token = token;
    heldHere().insert(token);
    m_timer.start();
    return true;
}

void SendClaim::release()
{
    if (!isHeld())
        return;
    m_timer.stop();
    // Left behind when the database cannot be written now, it is another run's after two minutes,
    // or at once for a run of this program.
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM SendClaims WHERE DataSet = ? AND token = ?"));
    q.addBindValue(m_dataSet);
    q.addBindValue(m_token);
    q.exec();
    heldHere().remove(m_token);
    m_token.clear();
    // The run's connection may close now.
    m_db = QSqlDatabase();
}

void SendClaim::beat()
{
    // A database busy for a moment is tried again at the next beat; a claim gone is not.
    QString error;
    if (refresh(m_db, m_dataSet, m_token, &error) != 0)
        return;
    m_timer.stop();
    if (lost)
        lost(takenOver(m_dataSet));
}

bool ConfirmClaim(const QSqlDatabase& db, const QString& dataSet, const QString& token, QString* error)
{
    const int held = refresh(db, dataSet, token, error);
    if (held == 0)
        *error = takenOver(dataSet);
    return held == 1;
}

bool DataSetBeingSent(const QSqlDatabase& db, const QString& dataSet)
{
    QString error;
    QDateTime now;
    std::optional<Claim> held;
    return readClaim(db, dataSet, &held, &error) && held && databaseNow(db, &now, &error) &&
           stoppedBecause(*held, now).isEmpty();
}

} // namespace velmar
