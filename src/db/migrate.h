#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace velmar {

struct MigratedDataSet
{
    QString name;
    QString label;
    qsizetype doctors = 0;
    qsizetype shifts = 0;
    qsizetype sendLog = 0;
};

struct Migration
{
    QList<MigratedDataSet> copied;
    // Data sets the target holds already: left out, whatever they hold there.
    QStringList refused;
    // The copied shift records keep their recno unless the target uses numbers as high; then
    // they move up, in their order, to start here (0: kept).
    int firstRecordNumber = 0;
};

// Copies every data set of one database (every table's rows that carry its name: doctors, shift
// records, labels, the send log) into another,
// in one write transaction of the target: all of it or, after *error, nothing. Rows keep their
// stored order. Both databases must have the current schema.
bool MigrateDataSets(const QSqlDatabase& source, const QSqlDatabase& target, Migration* result, QString* error);

} // namespace velmar
