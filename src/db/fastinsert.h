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

    // How a server is sent the rows (SQLite writes each at exec whatever is asked):
    enum class Sending {
        // A few megabytes at a time, each batch its own COPY, waited for.
        Batches,
        // As they come, in one COPY held open until finish: the connection takes no other statement
        // meanwhile, nor a second streamed insert.
        Streamed,
        // All at finish, in one COPY, for a table written beside a streamed one.
        AtFinish,
    };
    // Every column of the table, in the schema's order.
    bool prepare(const QSqlDatabase& db, const QString& table, Sending sending = Sending::Batches);
    // Positions count from 0.
    void bind(int position, const QString& text);
    // Text already in UTF-8, which must stay where it is until exec.
    void bindUtf8(int position, QByteArrayView text);
    void bind(int position, double value);
    void bind(int position, qint64 value);
    void bindNull(int position);
    // Writes the row of the values bound since the last exec; a column left unbound is NULL. A server
    // is sent rows later: its refusal of one of them comes at a later exec or at finish.
    bool exec();
    // Sends what is still waiting; call before the commit.
    bool finish();
    // Drops what is still waiting and ends a COPY still open, which would refuse the rollback.
    void cancel();
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
