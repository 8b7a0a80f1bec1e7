#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace velmar {

// Rolls back unless committed. Begins as a writer (BEGIN IMMEDIATE, or BEGIN and the writers' lock
// on a server) so a second clerk who is writing makes us wait instead of failing at the first
// write, and what we read inside stays true until we commit.
class SqlTransaction
{
public:
    explicit SqlTransaction(const QSqlDatabase& db);
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    bool isActive() const { return m_active; }
    // Why BEGIN or COMMIT failed.
    QSqlError lastError() const { return m_error; }
    QString error() const { return m_unusable.isEmpty() ? m_error.text() : m_unusable; }
    // Why the connection could not be used (a lost server connection that would not open again);
    // empty when it could.
    QString connectionTrouble() const { return m_unusable; }
    bool commit();
    void rollback();

private:
    QSqlDatabase m_db;
    bool m_active = false;
    QSqlError m_error;
    QString m_unusable;
};

} // namespace velmar
