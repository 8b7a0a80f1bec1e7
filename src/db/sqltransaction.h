#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace velmar {

// Rolls back unless committed. Starts with BEGIN IMMEDIATE so a second running copy that holds
// the file makes us wait (busy timeout) instead of failing at the first write.
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
    QString error() const { return m_error.text(); }
    bool commit();
    void rollback();

private:
    QSqlDatabase m_db;
    bool m_active = false;
    QSqlError m_error;
};

} // namespace velmar
