#pragma once

#include <QSqlDatabase>

struct sqlite3;
struct pg_conn;

namespace velmar {

// The client library's handle under a Qt connection; null when the connection is not an open one
// of that kind.
sqlite3* SqliteHandle(const QSqlDatabase& db);
pg_conn* ServerHandle(const QSqlDatabase& db);

} // namespace velmar
