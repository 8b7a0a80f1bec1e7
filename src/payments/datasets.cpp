#include "payments/datasets.h"

#include "core/prompter.h"
#include "db/database.h"
#include "db/nameorder.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace velmar {

QStringList DoctorListEntries(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter)
{
    QStringList entries;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Equal surnames keep the order they were stored in.
    if (!q.exec(QStringLiteral("SELECT id, fname, sname FROM Headers WHERE DataSet = '%1' ORDER by %2, rowid")
                    .arg(QuoteForSql(dataSet), OrderByName(QStringLiteral("sname"))))) {
        prompter.error(q.lastError().text());
        return entries;
    }
    while (q.next()) {
        const QString fname = q.value(1).toString();
        // A missing first name gives a blank, as a NUL character would show.
        const QChar initial = fname.isEmpty() ? QChar(u' ') : fname.front();
        entries.append(
            QStringLiteral("%1,%2 (%3)").arg(q.value(2).toString(), QString(initial), q.value(0).toString()));
    }
    return entries;
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
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM FileNames"))) {
        prompter.error(q.lastError().text());
        return names;
    }
    while (q.next())
        names.append(q.value(0).toString());
    // The picker's list keeps itself sorted, without regard to case as a list box does.
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

QString DataSetLabel(const QSqlDatabase& db, const QString& dataSet, Prompter& prompter)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT Label FROM FileNames WHERE DataSet = '%1'").arg(QuoteForSql(dataSet)))) {
        prompter.error(q.lastError().text());
        return QString();
    }
    return q.next() ? q.value(0).toString() : QString();
}

} // namespace velmar
