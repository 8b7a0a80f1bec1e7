#include "db/fastinsert.h"

#include "db/sqlitehandle.h"

#include <sqlite3.h>

namespace velmar {

FastInsert::~FastInsert()
{
    if (m_statement)
        sqlite3_finalize(m_statement);
}

bool FastInsert::prepare(const QSqlDatabase& db, const QString& sql)
{
    m_handle = SqliteHandle(db);
    if (!m_handle)
        return false;
    const QByteArray text = sql.toUtf8();
    m_code = sqlite3_prepare_v2(m_handle, text.constData(), int(text.size()), &m_statement, nullptr) & 0xff;
    return m_code == SQLITE_OK;
}

void FastInsert::bind(int position, const QString& text)
{
    // UTF-8: given UTF-16, SQLite takes a leading U+FEFF or U+FFFE for a byte-order mark and
    // swallows it, or reads the rest byte-swapped.
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_statement, position + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void FastInsert::bind(int position, double value)
{
    sqlite3_bind_double(m_statement, position + 1, value);
}

void FastInsert::bind(int position, qint64 value)
{
    sqlite3_bind_int64(m_statement, position + 1, value);
}

bool FastInsert::exec()
{
    const int rc = sqlite3_step(m_statement);
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_code = rc == SQLITE_DONE ? SQLITE_OK : rc & 0xff;
    return rc == SQLITE_DONE;
}

QString FastInsert::error() const
{
    return m_handle ? QString::fromUtf8(sqlite3_errmsg(m_handle)) : QString();
}

} // namespace velmar
