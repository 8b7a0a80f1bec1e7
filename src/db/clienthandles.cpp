#include "db/clienthandles.h"

#include <QSqlDriver>
#include <QVariant>

namespace velmar {

namespace {

template <typename Handle> Handle* driverHandle(const QSqlDatabase& db, const char* typeName)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), typeName) != 0)
        return nullptr;
    return *static_cast<Handle* const*>(handle.constData());
}

} // namespace

sqlite3* SqliteHandle(const QSqlDatabase& db)
{
    return driverHandle<sqlite3>(db, "sqlite3*");
}

pg_conn* ServerHandle(const QSqlDatabase& db)
{
    return driverHandle<pg_conn>(db, "pg_conn*");
}

} // namespace velmar
