#include "db/sqltransaction.h"

#include "db/database.h"
#include "db/dialect.h"

#include <QDeadlineTimer>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

namespace velmar {

namespace {

// Longer than another writer of ours holds the lock: an import, then SQLite's busy time-out of 5 s.
constexpr int kHeldReadWaitMs = 40000;

// SQLite does not wait for a writer while this connection holds a read of its own (a run's snapshot):
// that writer waits for the read to end, so SQLite answers "busy" at once. A run's own writes (its send
// log above all) then wait here until the other writer gives up, instead of being lost.
bool busyWhileReading(const QSqlDatabase& db, const QSqlError& error)
{
    return DialectOf(db) == Dialect::SQLite && TransactionsOpen(db) > 0 &&
           (error.nativeErrorCode().toInt() & 0xff) == SQLITE_BUSY;
}

} // namespace

SqlTransaction::SqlTransaction(const QSqlDatabase& db) : m_db(db)
{
    if (!ReconnectIfLost(m_db, &m_unusable))
        return;
    QSqlQuery q(m_db);
    const QStringList begin = BeginWriting(DialectOf(m_db));
    const QDeadlineTimer deadline(kHeldReadWaitMs);
    for (const QString& statement : begin) {
        m_active = q.exec(statement);
        while (!m_active && busyWhileReading(m_db, q.lastError()) && !deadline.hasExpired()) {
            QThread::msleep(20);
            m_active = q.exec(statement);
        }
        if (!m_active) {
            m_error = q.lastError();
            if (statement != begin.first())
                QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
            return;
        }
    }
    NoteTransaction(m_db, true);
}

SqlTransaction::~SqlTransaction()
{
    rollback();
}

bool SqlTransaction::commit()
{
    if (!m_active)
        return false;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("COMMIT"))) {
        m_error = q.lastError();
        return false;
    }
    m_active = false;
    NoteTransaction(m_db, false);
    return true;
}

void SqlTransaction::rollback()
{
    if (!m_active)
        return;
    QSqlQuery q(m_db);
    q.exec(QStringLiteral("ROLLBACK"));
    m_active = false;
    NoteTransaction(m_db, false);
}

} // namespace velmar
