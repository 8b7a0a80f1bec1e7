#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <memory>

namespace velmar {

// Rows of one table written straight through the client library under the Qt connection: a
// prepared INSERT on SQLite's handle, COPY on a server's. Qt's own binding costs more than the
// insert itself, which matters for a pay run of 100,000 rows. Runs inside the caller's transaction.
class FastInsert
{
public:
    FastInsert();
    ~FastInsert();
    FastInsert(const FastInsert&) = delete;
    FastInsert& operator=(const FastInsert&) = delete;

    // Every column of the table, in the schema's order.
    bool prepare(const QSqlDatabase& db, const QString& table);
    // Positions count from 0.
    void bind(int position, const QString& text);
    // Text already in UTF-8, which must stay where it is until exec.
    void bindUtf8(int position, QByteArrayView text);
    void bind(int position, double value);
    void bind(int position, qint64 value);
    void bindNull(int position);
    // Writes the row of the values bound since the last exec. A server is sent rows in batches:
    // its refusal of one of them comes at a later exec or at finish.
    bool exec();
    // Sends what is still waiting; call before the commit.
    bool finish();
    // Why prepare, exec or finish failed, with the database's own code (a SQLite result code, a
    // SQLSTATE) as native error code.
    QSqlError lastError() const { return m_error; }
    // Which row (counting from 0 over every exec) the database refused; -1 when it named none.
    qsizetype failedRow() const { return m_failedRow; }

    class Backend;

private:
    std::unique_ptr<Backend> m_backend;
    QSqlError m_error;
    qsizetype m_failedRow = -1;
};

} // namespace velmar
