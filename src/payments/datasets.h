#pragma once

#include <QSqlDatabase>
#include <QStringList>

namespace velmar {

class Prompter;

// Entries of the doctor list for a data set: "sname,F (id)" in surname order.
// A failing query is reported with the database's text; entries read before it are kept.
QStringList DoctorListEntries(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter);

// The doctor id inside a list entry: text after the last "(" less its last character.
// Empty when there is no "(".
QString DoctorIdFromEntry(const QString& entry);

// Every DataSet of FileNames, once per row, in alphabetical order as the picker lists them.
QStringList StoredDataSets(const QSqlDatabase& db, Prompter& prompter);

// Label of the first FileNames row of the data set (empty when none).
QString DataSetLabel(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter);

} // namespace velmar
