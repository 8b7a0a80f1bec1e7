#include "db/fastinsert.h"

#include "db/clienthandles.h"
#include "db/dialect.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QVariant>

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

// Rows gathered as COPY text and sent a few megabytes at a time.
class ServerCopy : public FastInsert::Backend
{
public:
    bool prepare(const QSqlDatabase& db, const QString& table, const QStringList& columns)
    {
        m_connection = ServerHandle(db);
        m_statement = QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns.join(QStringLiteral(", "))).toUtf8();
        m_row = QByteArrayList(columns.size(), QByteArrayLiteral("\\N"));
        return m_connection != nullptr;
    }

    void bind(int position, const QString& text) override { bindUtf8(position, text.toUtf8()); }
    void bindUtf8(int position, QByteArrayView text) override
    {
        QByteArray& field = m_row[position];
        field.clear();
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
    // 17 digits: the server reads back the very same double.
    void bind(int position, double value) override { m_row[position] = QByteArray::number(value, 'g', 17); }
    void bind(int position, qint64 value) override { m_row[position] = QByteArray::number(value); }
    void bindNull(int position) override { m_row[position] = "\\N"; }

    bool exec(QSqlError* error, qsizetype* failedRow) override
    {
        m_batch += m_row.join('\t');
        m_batch += '\n';
        ++m_batchRows;
        for (QByteArray& field : m_row)
            field = "\\N";
        return m_batch.size() < kBatchBytes || send(error, failedRow);
    }

    bool finish(QSqlError* error, qsizetype* failedRow) override { return m_batchRows == 0 || send(error, failedRow); }

private:
    static constexpr qsizetype kBatchBytes = 4 << 20;

    bool send(QSqlError* error, qsizetype* failedRow)
    {
        PGresult* result = PQexec(m_connection, m_statement.constData());
        bool ok = PQresultStatus(result) == PGRES_COPY_IN;
        if (ok) {
            PQclear(result);
            ok = PQputCopyData(m_connection, m_batch.constData(), int(m_batch.size())) == 1 &&
                 PQputCopyEnd(m_connection, nullptr) == 1;
            result = PQgetResult(m_connection);
            ok = ok && PQresultStatus(result) == PGRES_COMMAND_OK;
        }
        if (!ok) {
            const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
            const char* context = result ? PQresultErrorField(result, PG_DIAG_CONTEXT) : nullptr;
            *error = QSqlError(QString(), QString::fromUtf8(PQerrorMessage(m_connection)), QSqlError::StatementError,
                               state ? QString::fromLatin1(state) : QString());
            // "COPY details, line 3, column total: ...", or in the server's language ("Zeile 3").
            static const QRegularExpression line(QStringLiteral(R"(^COPY \w+, \D*(\d+))"));
            const QRegularExpressionMatch m = line.match(QString::fromUtf8(context ? context : ""));
            if (m.hasMatch())
                *failedRow = m_sentRows + m.captured(1).toLongLong() - 1;
        }
        PQclear(result);
        // Whatever else the server has to say about this COPY.
        while (PGresult* rest = PQgetResult(m_connection))
            PQclear(rest);
        m_sentRows += m_batchRows;
        m_batchRows = 0;
        m_batch.clear();
        return ok;
    }

    PGconn* m_connection = nullptr;
    QByteArray m_statement;
    QByteArrayList m_row;
    QByteArray m_batch;
    qsizetype m_batchRows = 0;
    qsizetype m_sentRows = 0;
};

} // namespace

FastInsert::FastInsert() = default;
FastInsert::~FastInsert() = default;

bool FastInsert::prepare(const QSqlDatabase& db, const QString& table)
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
    const bool ok = backend->prepare(db, table, columns);
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

} // namespace velmar
