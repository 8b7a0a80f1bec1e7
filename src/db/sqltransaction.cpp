#include "db/sqltransaction.h"

#include "db/database.h"
#include "db/dialect.h"

#include <QSqlQuery>

namespace velmar {

SqlTransaction::SqlTransaction(const QSqlDatabase& db) : m_db(db)
{
    if (!ReconnectIfLost(m_db, &m_unusable))
        return;
    QSqlQuery q(m_db);
    const QStringList begin = BeginWriting(DialectOf(m_db));
    for (const QString& statement : begin) {
        m_active = q.exec(statement);
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
