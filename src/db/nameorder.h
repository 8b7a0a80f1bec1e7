#pragma once

#include "db/dialect.h"

#include <QSqlDatabase>
#include <QString>

namespace velmar {

// People's names in the order a reader expects (English, case and accents ignored): "Ábrahám",
// "Baker", "de Souza", "Zimmermann". Names that compare equal are left to the statement's next key.
// For an SQLite connection; a server database has the collation of the same name from its schema.
bool RegisterNameOrder(const QSqlDatabase& db);

// The ORDER BY term that sorts a column of names that way on the store; no name (NULL) first.
QString OrderByName(const QString& column, Dialect dialect);

} // namespace velmar
