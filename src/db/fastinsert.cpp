#include "db/fastinsert.h"

#include "db/clienthandles.h"
#include "db/dialect.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <vector>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace velmar {

class FastInsert::Backend
{
public:
    virtual ~Backend() = default;
    virtual void bind(int position, const QString& text) = 0;
    virtual void bindUtf8(int position, QByteArrayView text) = 0;
    virtual void bind(int position, double value) = 0;
    virtual void bind(int position, qint64 value) = 0;
    virtual void bindNull(int position) = 0;
    virtual bool exec(QSqlError* error, qsizetype* failedRow) = 0;
    virtual bool finish(QSqlError* error, qsizetype* failedRow) = 0;
    virtual void cancel() {}
};

namespace {

class SqliteInsert : public FastInsert::Backend
{
public:
    ~SqliteInsert() override
    {
        if (m_statement)
            sqlite3_finalize(m_statement);
    }

    bool prepare(const QSqlDatabase& db, const QString& table, const QStringList& columns, QSqlError* error)
    {
        m_handle = SqliteHandle(db);
        if (!m_handle)
            return false;
        const QStringList marks(columns.size(), QStringLiteral("?"));
        // Named columns: a database made by a later version, with columns of its own, takes the row too.
        const QByteArray text = QStringLiteral("INSERT into %1 (%2) VALUES(%3)")
                                    .arg(table, columns.join(QStringLiteral(", ")), marks.join(u','))
                                    .toUtf8();
        const int rc = sqlite3_prepare_v2(m_handle, text.constData(), int(text.size()), &m_statement, nullptr);
        return rc == SQLITE_OK || fail(rc, error);
    }

    void bind(int position, const QString& text) override
    {
        // UTF-8: given UTF-16, SQLite takes a leading U+FEFF or U+FFFE for a byte-order mark and
        // swallows it, or reads the rest byte-swapped.
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, position + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindUtf8(int position, QByteArrayView text) override
    {
        sqlite3_bind_text(m_statement, position + 1, text.data(), int(text.size()), SQLITE_STATIC);
    }
    void bind(int position, double value) override { sqlite3_bind_double(m_statement, position + 1, value); }
    void bind(int position, qint64 value) override { sqlite3_bind_int64(m_statement, position + 1, value); }
    void bindNull(int position) override { sqlite3_bind_null(m_statement, position + 1); }

    bool exec(QSqlError* error, qsizetype* failedRow) override
    {
        const int rc = sqlite3_step(m_statement);
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        if (rc == SQLITE_DONE) {
            ++m_rows;
            return true;
        }
        *failedRow = m_rows;
        return fail(rc, error);
    }
    bool finish(QSqlError*, qsizetype*) override { return true; }

private:
    bool fail(int rc, QSqlError* error)
    {
        *error = QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(m_handle)), QSqlError::StatementError,
                           QString::number(rc));
        return false;
    }

    sqlite3* m_handle = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    qsizetype m_rows = 0;
};

// Rows gathered as COPY text. Sent a few megabytes at a time, each batch its own COPY; or as they
// come, in one COPY that holds the connection until finish; or all at finish.
class ServerCopy : public FastInsert::Backend
{
public:
    bool prepare(const QSqlDatabase& db, const QString& table, const QStringList& columns, FastInsert::Sending sending)
    {
        m_connection = ServerHandle(db);
        m_sending = sending;
        m_statement = QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns.join(QStringLiteral(", "))).toUtf8();
        m_row = QByteArrayList(columns.size());
        m_bound = std::vector<bool>(columns.size());
        return m_connection != nullptr;
    }

    void bind(int position, const QString& text) override { bindUtf8(position, text.toUtf8()); }
    void bindUtf8(int position, QByteArrayView text) override
    {
        QByteArray& field = start(position);
        // Most texts need no escape: copied in one piece.
        if (std::none_of(text.begin(), text.end(),
                         [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; })) {
            field.append(text.data(), text.size());
            return;
        }
        for (const char c : text) {
            switch (c) {
            case '\\':
                field += "\\\\";
                break;
            case '\t':
                field += "\\t";
                break;
            case '\n':
                field += "\\n";
                break;
            case '\r':
                field += "\\r";
                break;
            default:
                field += c;
            }
        }
    }
    // The shortest text the server reads back as the very same double; a "-0" ("-0.00" in a file)
    // would come back to be printed as "-0.00".
    void bind(int position, double value) override { number(position, value == 0 ? 0.0 : value); }
    void bind(int position, qint64 value) override { number(position, value); }
    void bindNull(int position) override { m_bound[position] = false; }

    bool exec(QSqlError* error, qsizetype* failedRow) override
    {
        for (qsizetype i = 0; i < m_row.size(); ++i) {
            if (i > 0)
                m_batch += '\t';
            if (m_bound[i])
                m_batch.append(m_row[i].constData(), m_row[i].size());
            else
                m_batch.append("\\N", 2);
            m_bound[i] = false;
        }
        m_batch += '\n';
        ++m_batchRows;
        switch (m_sending) {
        case FastInsert::Sending::Batches:
            return m_batch.size() < kBatchBytes || (put(error, failedRow) && end(error, failedRow));
        case FastInsert::Sending::Streamed:
            return m_batch.size() < kStreamBytes || put(error, failedRow);
        case FastInsert::Sending::AtFinish:
            break;
        }
        return true;
    }

    bool finish(QSqlError* error, qsizetype* failedRow) override
    {
        if (m_batchRows > 0 && !put(error, failedRow))
            return false;
        return !m_open || end(error, failedRow);
    }

    void cancel() override
    {
        m_batch.truncate(0);
        m_batchRows = 0;
        if (!m_open)
            return;
        m_open = false;
        PQputCopyEnd(m_connection, "stopped by the client");
        drainResults();
    }

private:
    static constexpr qsizetype kBatchBytes = 4 << 20;
    // Small pieces keep the server working beside the reading: in runs taking turns, 32 KiB beat
    // 256 KiB by a quarter.
    static constexpr qsizetype kStreamBytes = 32 << 10;

    QByteArray& start(int position)
    {
        m_bound[position] = true;
        m_row[position].truncate(0);
        return m_row[position];
    }
    template <typename Number> void number(int position, Number value)
    {
        char text[32];
        const auto written = std::to_chars(std::begin(text), std::end(text), value);
        start(position).append(text, written.ptr - text);
    }

    // Sends the rows gathered, starting the COPY first when none is open.
    bool put(QSqlError* error, qsizetype* failedRow)
    {
        if (!m_open) {
            PGresult* result = PQexec(m_connection, m_statement.constData());
            if (PQresultStatus(result) != PGRES_COPY_IN)
                return fail(result, error, failedRow);
            PQclear(result);
            m_open = true;
        }
        // A refusal already received comes with the COPY's end, naming its row.
        const bool sent = PQputCopyData(m_connection, m_batch.constData(), int(m_batch.size())) == 1;
        m_copyRows += m_batchRows;
        m_batchRows = 0;
        m_batch.truncate(0);
        return sent || end(error, failedRow);
    }

    bool end(QSqlError* error, qsizetype* failedRow)
    {
        m_open = false;
        const bool ended = PQputCopyEnd(m_connection, nullptr) == 1;
        PGresult* result = PQgetResult(m_connection);
        const bool ok = ended && PQresultStatus(result) == PGRES_COMMAND_OK;
        if (ok)
            PQclear(result);
        else
            fail(result, error, failedRow);
        drainResults();
        m_sentRows += m_copyRows;
        m_copyRows = 0;
        return ok;
    }

    // Whatever else the server has to say about the COPY. A COPY libpq could not end (the
    // connection gone) would answer "still copying" without end.
    void drainResults()
    {
        while (PGresult* rest = PQgetResult(m_connection)) {
            const bool copying = PQresultStatus(rest) == PGRES_COPY_IN;
            PQclear(rest);
            if (copying)
                break;
        }
    }

    bool fail(PGresult* result, QSqlError* error, qsizetype* failedRow)
    {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const char* context = result ? PQresultErrorField(result, PG_DIAG_CONTEXT) : nullptr;
        const char* message =
            result && *PQresultErrorMessage(result) ? PQresultErrorMessage(result) : PQerrorMessage(m_connection);
        *error = QSqlError(QString(), QString::fromUtf8(message), QSqlError::StatementError,
                           state ? QString::fromLatin1(state) : QString());
        // "COPY details, line 3, column total: ...", or in the server's language ("Zeile 3").
        static const QRegularExpression line(QStringLiteral(R"(^COPY \w+, \D*(\d+))"));
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(context ? context : ""));
        if (m.hasMatch())
            *failedRow = m_sentRows + m.captured(1).toLongLong() - 1;
        PQclear(result);
        return false;
    }

    PGconn* m_connection = nullptr;
    FastInsert::Sending m_sending = FastInsert::Sending::Batches;
    QByteArray m_statement;
    QByteArrayList m_row;
    std::vector<bool> m_bound;
    QByteArray m_batch;
    bool m_open = false;
    // Rows gathered, rows sent in the open COPY, rows of the COPYs ended.
    qsizetype m_batchRows = 0;
    qsizetype m_copyRows = 0;
    qsizetype m_sentRows = 0;
};

} // namespace

FastInsert::FastInsert() = default;
FastInsert::~FastInsert() = default;

bool FastInsert::prepare(const QSqlDatabase& db, const QString& table, Sending sending)
{
    const QStringList columns = TableColumns(table);
    m_failedRow = -1;
    m_error = QSqlError();
    if (DialectOf(db) == Dialect::SQLite) {
        auto backend = std::make_unique<SqliteInsert>();
        const bool ok = backend->prepare(db, table, columns, &m_error);
        m_backend = std::move(backend);
        return ok;
    }
    auto backend = std::make_unique<ServerCopy>();
    const bool ok = backend->prepare(db, table, columns, sending);
    m_backend = std::move(backend);
    return ok;
}

void FastInsert::bind(int position, const QString& text)
{
    m_backend->bind(position, text);
}

void FastInsert::bindUtf8(int position, QByteArrayView text)
{
    m_backend->bindUtf8(position, text);
}

void FastInsert::bind(int position, double value)
{
    m_backend->bind(position, value);
}

void FastInsert::bind(int position, qint64 value)
{
    m_backend->bind(position, value);
}

void FastInsert::bindNull(int position)
{
    m_backend->bindNull(position);
}

bool FastInsert::exec()
{
    return m_backend->exec(&m_error, &m_failedRow);
}

bool FastInsert::finish()
{
    return m_backend->finish(&m_error, &m_failedRow);
}

void FastInsert::cancel()
{
    if (m_backend)
        m_backend->cancel();
}

} // namespace velmar
