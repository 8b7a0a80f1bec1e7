#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QStringList>

namespace velmar {

class Prompter;

// One doctor of the list: the entry "sname,F (id)" and what a search looks at.
struct DoctorListEntry
{
    QString text;
    QString id;
    QString fname;
    QString sname;
};

// The doctor list of a data set in surname order. A failing read is reported, and gives no list:
// never part of one.
QList<DoctorListEntry> DoctorList(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter);
// Their texts only.
QStringList DoctorListEntries(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter);

// Whether a doctor is one the clerk is looking for: the search text within his surname, first
// name or id, case and accents aside ("sull" finds Ó Súilleabháin). Every doctor matches an empty
// search.
bool DoctorMatches(const DoctorListEntry& doctor, const QString& search);

// The doctor id inside a list entry: text after the last "(" less its last character.
// Empty when there is no "(".
QString DoctorIdFromEntry(const QString& entry);

// Every DataSet of FileNames, once per row, in alphabetical order as the picker lists them.
QStringList StoredDataSets(const QSqlDatabase& db, Prompter& prompter);

// One stored data set as the picker shows it.
struct DataSetEntry
{
    QString dataSet;
    QString label;
    int doctors = 0;
    QDateTime imported; // UTC; invalid for a data set imported before the time was kept
};

// Every FileNames row with its doctors counted, newest import first. A failing query is reported
// with the database's text.
QList<DataSetEntry> DataSetEntries(const QSqlDatabase& db, Prompter& prompter);

// "02_2005: 12 doctors, 59 shift records", preceded by what happened ("Imported", "Opened").
QString DataSetSummary(const QString& done, const QString& dataSet, int doctors, int shifts);
// The same, counted in the database; empty when it cannot be read.
QString DataSetSummary(const QSqlDatabase& db, const QString& done, const QString& dataSet);

// Whether the picker lists the data set; false too when the database cannot be read.
bool IsDataSetListed(const QSqlDatabase& db, const QString& dataSet);

// Label of the first FileNames row of the data set (empty when none).
QString DataSetLabel(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter);

// When the stored copy of the data set was imported (UTC, ISO text): the stamp that tells one
// import of it from another. Empty for a data set imported before stamps were kept.
QString DataSetImportStamp(const QSqlDatabase& db, const QString& dataSet);

} // namespace velmar
