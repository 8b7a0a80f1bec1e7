#include "payments/datasets.h"

#include "core/prompter.h"
#include "db/database.h"
#include "db/nameorder.h"
#include "db/reading.h"

#include <algorithm>

namespace velmar {

QList<DoctorListEntry> DoctorList(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter)
{
    QList<DoctorListEntry> entries;
    // Equal surnames keep the order they were stored in.
    ReadQuery doctors(db, QStringLiteral("SELECT id, fname, sname FROM Headers WHERE DataSet = '%1' ORDER by %2, rowid")
                              .arg(QuoteForSql(dataSet), OrderByName(QStringLiteral("sname"), DialectOf(db))));
    const bool whole = doctors.forEachRow([&](const QSqlQuery& q) {
        DoctorListEntry e{QString(), q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
        // A missing first name gives a blank, as a NUL character would show.
        const QChar initial = e.fname.isEmpty() ? QChar(u' ') : e.fname.front();
        e.text = QStringLiteral("%1,%2 (%3)").arg(e.sname, QString(initial), e.id);
        entries.append(e);
    });
    if (!whole) {
        prompter.error(doctors.failure());
        entries.clear();
    }
    return entries;
}

QStringList DoctorListEntries(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter)
{
    QStringList texts;
    for (const DoctorListEntry& e : DoctorList(db, dataSet, prompter))
        texts.append(e.text);
    return texts;
}

namespace {

// Without case and accents: "Ó Súilleabháin" as "o suilleabhain".
QString searchForm(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString plain;
    plain.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            plain += c;
    }
    return plain.toCaseFolded();
}

} // namespace

bool DoctorMatches(const DoctorListEntry& doctor, const QString& search)
{
    const QString wanted = searchForm(search.trimmed());
    if (wanted.isEmpty())
        return true;
    return searchForm(doctor.sname).contains(wanted) || searchForm(doctor.fname).contains(wanted) ||
           searchForm(doctor.id).contains(wanted);
}

QString DoctorIdFromEntry(const QString& entry)
{
    const int open = entry.lastIndexOf(u'(');
    if (open < 0)
        return QString();
    QString id = entry.mid(open + 1);
    id.chop(1);
    return id;
}

QStringList StoredDataSets(const QSqlDatabase& db, Prompter& prompter)
{
    QStringList names;
    // In the same order on every store: by their characters' codes, then as stored.
    ReadQuery stored(db, QStringLiteral("SELECT DataSet FROM FileNames ORDER BY DataSet, rowid"));
    if (!stored.forEachRow([&](const QSqlQuery& q) { names.append(q.value(0).toString()); })) {
        prompter.error(stored.failure());
        return {};
    }
    // The picker's list keeps itself sorted, without regard to case as a list box does.
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

QList<DataSetEntry> DataSetEntries(const QSqlDatabase& db, Prompter& prompter)
{
    QList<DataSetEntry> entries;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // rowid: the order of the imports, on either store, also for those without a time.
    if (!q.exec(QStringLiteral("SELECT DataSet, Label, Imported, "
                               "(SELECT count(*) FROM Headers WHERE Headers.DataSet = FileNames.DataSet) "
                               "FROM FileNames ORDER BY rowid DESC"))) {
        prompter.error(q.lastError().text());
        return entries;
    }
    while (q.next()) {
        QDateTime imported = QDateTime::fromString(q.value(2).toString(), Qt::ISODate);
        imported.setTimeSpec(Qt::UTC);
        entries.append({q.value(0).toString(), q.value(1).toString(), q.value(3).toInt(), imported});
    }
    return entries;
}

QString DataSetSummary(const QString& done, const QString& dataSet, int doctors, int shifts)
{
    return QStringLiteral("%1 %2: %3 doctors, %4 shift records")
        .arg(done, dataSet, QString::number(doctors), QString::number(shifts));
}

QString DataSetSummary(const QSqlDatabase& db, const QString& done, const QString& dataSet)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT (SELECT count(*) FROM Headers WHERE DataSet = '%1'), "
                               "(SELECT count(*) FROM Details WHERE DataSet = '%1')")
                    .arg(QuoteForSql(dataSet))) ||
        !q.next())
        return QString();
    return DataSetSummary(done, dataSet, q.value(0).toInt(), q.value(1).toInt());
}

bool IsDataSetListed(const QSqlDatabase& db, const QString& dataSet)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT count(*) FROM FileNames WHERE DataSet = '%1'").arg(QuoteForSql(dataSet))) &&
           q.next() && q.value(0).toInt() > 0;
}

QString DataSetLabel(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter)
{
    // The first row stored, when there are several.
    ReadQuery label(db, QStringLiteral("SELECT Label FROM FileNames WHERE DataSet = '%1' ORDER BY rowid LIMIT 1")
                            .arg(QuoteForSql(dataSet)));
    QString text;
    if (!label.forEachRow([&](const QSqlQuery& q) { text = q.value(0).toString(); })) {
        prompter.error(label.failure());
        return QString();
    }
    return text;
}

QString DataSetImportStamp(const QSqlDatabase& db, const QString& dataSet)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT MIN(Imported) FROM FileNames WHERE DataSet = ?"));
    q.addBindValue(dataSet);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

} // namespace velmar
