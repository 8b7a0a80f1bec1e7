#pragma once

#include <QSqlDatabase>

struct sqlite3;

namespace velmar {

// The SQLite handle under a Qt connection; null when the connection is not an open SQLite one.
sqlite3* SqliteHandle(const QSqlDatabase& db);

} // namespace velmar
