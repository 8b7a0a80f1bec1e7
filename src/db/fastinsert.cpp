#include "db/fastinsert.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace velmar {

FastInsert::~FastInsert()
{
    if (m_statement)
        sqlite3_finalize(m_statement);
}

bool FastInsert::prepare(const QSqlDatabase& db, const QString& sql)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    m_handle = *static_cast<sqlite3* const*>(handle.constData());
    if (!m_handle)
        return false;
    const QByteArray text = sql.toUtf8();
    return sqlite3_prepare_v2(m_handle, text.constData(), int(text.size()), &m_statement, nullptr) == SQLITE_OK;
}

void FastInsert::bind(int position, const QString& text)
{
    sqlite3_bind_text16(m_statement, position + 1, text.utf16(), int(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
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
    return rc == SQLITE_DONE;
}

QString FastInsert::error() const
{
    return m_handle ? QString::fromUtf8(sqlite3_errmsg(m_handle)) : QString();
}

} // namespace velmar
