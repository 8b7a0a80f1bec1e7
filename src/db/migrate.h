#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

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
// stored order. Both databases must have the current schema. beforeCommit, when given, writes what
// goes with the copy (its history) inside the same transaction; false from it undoes everything.
bool MigrateDataSets(const QSqlDatabase& source, const QSqlDatabase& target, Migration* result, QString* error,
                     const std::function<bool(const Migration&, QString* error)>& beforeCommit = {});

} // namespace velmar
