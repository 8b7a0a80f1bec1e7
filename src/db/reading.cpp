#include "db/reading.h"

#include "db/clienthandles.h"
#include "db/database.h"
#include "db/dialect.h"

#include <QSqlError>
#include <QSqlRecord>

#include <sqlite3.h>

#include <cmath>
#include <vector>

namespace velmar {

ReadQuery::ReadQuery(const QSqlDatabase& db, const QString& statement, const QVariantList& values)
    : m_db(db), m_statement(statement)
{
    if (!ReconnectIfLost(db, &m_trouble))
        return;
    m_query = QSqlQuery(db);
    // Rows are handed over as they come, not gathered first: a server's refusal may come after some.
    m_query.setForwardOnly(true);
    if (values.isEmpty()) {
        m_active = m_query.exec(statement);
    } else {
        m_active = m_query.prepare(statement);
        for (const QVariant& value : values)
            m_query.addBindValue(value);
        m_active = m_active && m_query.exec();
    }
    if (!m_active)
        m_trouble = DatabaseTrouble(db, m_query.lastError(), statement);
}

bool ReadQuery::forEachRow(const std::function<void(const QSqlQuery& row)>& row)
{
    while (next())
        row(m_query);
    return m_active;
}

bool ReadQuery::next()
{
    if (!m_active)
        return false;
    if (m_query.next())
        return true;
    // QSqlQuery::next() says false at the end and at a failure alike.
    if (m_query.lastError().isValid()) {
        m_active = false;
        m_trouble = ReadEndedEarly(m_db, m_query.lastError(), m_statement);
    }
    return false;
}

QString ReadQuery::failure() const
{
    return ReadFailure(m_trouble, m_statement);
}

QString ReadFailure(const QString& trouble, const QString& statement)
{
    return trouble.isEmpty() ? QStringLiteral("Error in query: %1").arg(StatementText({statement})) : trouble;
}

namespace {

double numberOf(const QVariant& value)
{
    return value.isNull() ? std::nan("") : value.toDouble();
}

double numberOf(sqlite3_stmt* statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return double(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_NULL:
        return std::nan("");
    default: {
        // Text as Qt's driver gives it, read as a number the way QString reads one ("12abc" is 0).
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(statement, column)).toDouble();
    }
    }
}

} // namespace

bool ReadKeyedNumbers(const QSqlDatabase& db, const QString& statement,
                      const std::function<void(QByteArrayView key, const double* numbers)>& row, QString* trouble)
{
    sqlite3* handle = DialectOf(db) == Dialect::SQLite ? SqliteHandle(db) : nullptr;
    if (!handle) {
        ReadQuery read(db, statement);
        std::vector<double> numbers(std::max(0, read.query().record().count() - 1));
        const bool whole = read.forEachRow([&](const QSqlQuery& q) {
            for (size_t i = 0; i < numbers.size(); ++i)
                numbers[i] = numberOf(q.value(int(i) + 1));
            const QByteArray key = q.value(0).toString().toUtf8();
            row(QByteArrayView(key), numbers.data());
        });
        *trouble = read.trouble();
        return whole;
    }
    trouble->clear();
    if (!ReconnectIfLost(db, trouble))
        return false;
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = statement.toUtf8();
    const auto sqliteError = [handle](int rc) {
        return QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                         QString::number(rc));
    };
    int rc = sqlite3_prepare_v2(handle, text.constData(), int(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        *trouble = DatabaseTrouble(db, sqliteError(rc), statement);
        sqlite3_finalize(stmt);
        return false;
    }
    std::vector<double> numbers(std::max(0, sqlite3_column_count(stmt) - 1));
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = numberOf(stmt, int(i) + 1);
        const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        row(QByteArrayView(key, sqlite3_column_bytes(stmt, 0)), numbers.data());
    }
    if (rc != SQLITE_DONE)
        *trouble = ReadEndedEarly(db, sqliteError(rc), statement);
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

ReadSnapshot::ReadSnapshot(const QSqlDatabase& db) : m_db(db)
{
    if (TransactionsOpen(db) > 0) {
        m_active = true;
        return;
    }
    if (!ReconnectIfLost(db, &m_trouble))
        return;
    if (DialectOf(db) == Dialect::PostgreSQL) {
        QSqlQuery q(db);
        m_active = q.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ"));
        if (!m_active)
            m_trouble = ReadEndedEarly(db, q.lastError(), QString());
    } else if (sqlite3* handle = SqliteHandle(db)) {
        // A statement stepped once and left open keeps the file's read lock.
        const char held[] = "SELECT 1 FROM sqlite_master";
        int rc = sqlite3_prepare_v2(handle, held, sizeof held - 1, &m_held, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(m_held);
        m_active = rc == SQLITE_ROW || rc == SQLITE_DONE;
        if (!m_active) {
            m_trouble = ReadEndedEarly(db,
                                       QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(handle)),
                                                 QSqlError::StatementError, QString::number(rc)),
                                       QString());
            sqlite3_finalize(m_held);
            m_held = nullptr;
        }
    } else {
        m_trouble = NoDatabaseMessage();
    }
    m_outermost = m_active;
    if (m_outermost)
        NoteTransaction(db, true);
}

ReadSnapshot::~ReadSnapshot()
{
    if (!m_outermost)
        return;
    NoteTransaction(m_db, false);
    if (m_held) {
        sqlite3_finalize(m_held);
        return;
    }
    // Nothing was written: the end of the transaction only lets go of its snapshot.
    QSqlQuery(m_db).exec(QStringLiteral("COMMIT"));
}

} // namespace velmar
