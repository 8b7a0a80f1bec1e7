#include "db/migrate.h"

#include "db/database.h"
#include "db/dialect.h"
#include "db/fastinsert.h"
#include "db/reading.h"
#include "db/sqltransaction.h"

#include <QSqlRecord>

#include <memory>

namespace velmar {

namespace {

// How a table's rows were stored: shift records by number, the others as SQLite keeps them.
QString storedOrder(const QString& table)
{
    return TableColumns(table).contains(QStringLiteral("recno")) ? QStringLiteral("recno") : QStringLiteral("rowid");
}

// Data-set names in the order they came: the picker's list first, then names found only in the
// other tables.
bool sourceDataSets(const QSqlDatabase& db, QStringList* names, QString* error)
{
    QStringList tables = DataSetTables();
    tables.move(tables.indexOf(QStringLiteral("FileNames")), 0);
    for (const QString& table : tables) {
        ReadQuery read(db, QStringLiteral("SELECT DataSet FROM %1 ORDER BY %2").arg(table, storedOrder(table)));
        if (!read.forEachRow([&](const QSqlQuery& q) {
                if (!names->contains(q.value(0).toString()))
                    names->append(q.value(0).toString());
            })) {
            *error = read.failure();
            return false;
        }
    }
    return true;
}

QVariant scalar(const QSqlDatabase& db, const QString& statement, bool* ok)
{
    ReadQuery read(db, statement);
    QVariant value;
    *ok = read.forEachRow([&](const QSqlQuery& q) { value = q.value(0); });
    return value;
}

class Copier
{
public:
    Copier(const QSqlDatabase& source, const QSqlDatabase& target) : m_source(source), m_target(target) {}

    bool prepare()
    {
        for (const QString& table : DataSetTables()) {
            auto insert = std::make_unique<FastInsert>();
            if (!insert->prepare(m_target, table))
                return fail(insert->lastError());
            m_inserts.emplace_back(table, std::move(insert));
        }
        return true;
    }

    // Every row of the data set; *counts gets the rows per table.
    bool copy(const QString& dataSet, int recnoShift, QList<qsizetype>* counts)
    {
        for (auto& [table, insert] : m_inserts) {
            const QStringList columns = TableColumns(table);
            ReadQuery read(m_source, QStringLiteral("SELECT %1 FROM %2 WHERE DataSet = '%3' ORDER BY %4")
                                         .arg(columns.join(QStringLiteral(", ")), table, QuoteForSql(dataSet),
                                              storedOrder(table)));
            qsizetype rows = 0;
            bool written = true;
            const bool whole = read.forEachRow([&](const QSqlQuery& q) {
                if (!written)
                    return;
                for (int i = 0; i < columns.size(); ++i) {
                    const QVariant value = q.value(i);
                    if (value.isNull())
                        insert->bindNull(i);
                    else if (columns.at(i) == u"recno")
                        insert->bind(i, value.toLongLong() + recnoShift);
                    else if (value.typeId() == QMetaType::Double)
                        insert->bind(i, value.toDouble());
                    else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
                        insert->bind(i, value.toLongLong());
                    else
                        insert->bind(i, value.toString());
                }
                written = insert->exec();
                ++rows;
            });
            if (!written)
                return fail(insert->lastError());
            if (!whole) {
                m_error = read.failure();
                return false;
            }
            counts->append(rows);
        }
        return true;
    }

    bool finish()
    {
        for (auto& entry : m_inserts)
            if (!entry.second->finish())
                return fail(entry.second->lastError());
        return true;
    }

    QString error() const { return m_error; }

private:
    bool fail(const QSqlError& e)
    {
        const QString trouble = DatabaseTrouble(m_target, e);
        m_error = trouble.isEmpty() ? ServerReason(e) : trouble;
        return false;
    }

    QSqlDatabase m_source;
    QSqlDatabase m_target;
    std::vector<std::pair<QString, std::unique_ptr<FastInsert>>> m_inserts;
    QString m_error;
};

} // namespace

bool MigrateDataSets(const QSqlDatabase& source, const QSqlDatabase& target, Migration* result, QString* error,
                     const std::function<bool(const Migration&, QString* error)>& beforeCommit)
{
    *result = Migration();
    const QString from = DatabaseDescription(source);
    const QString into = DatabaseDescription(target);
    // The file as one moment left it, should the program be writing to it meanwhile.
    const ReadSnapshot sourceView(source);
    QStringList names;
    QString reason = sourceView.trouble();
    if (!sourceView.isActive() || !sourceDataSets(source, &names, &reason)) {
        *error = QStringLiteral("Cannot read the data sets of %1: %2").arg(from, reason);
        return false;
    }
    SqlTransaction transaction(target);
    // BEGIN or COMMIT refused.
    const auto cannotWrite = [&] {
        const QString trouble = DatabaseTrouble(target, transaction.lastError());
        *error = trouble.isEmpty() ? QStringLiteral("Cannot write to %1: %2").arg(into, transaction.error()) : trouble;
        return false;
    };
    if (!transaction.isActive())
        return cannotWrite();

    // Existence is settled inside the transaction, so a clerk importing meanwhile is not doubled.
    QStringList copy;
    bool ok = true;
    int lowest = 0;
    for (const QString& name : names) {
        const QString quoted = QuoteForSql(name);
        QStringList counts;
        for (const QString& table : DataSetTables())
            counts.append(QStringLiteral("(SELECT count(*) FROM %1 WHERE DataSet = '%2')").arg(table, quoted));
        const int found = scalar(target, QStringLiteral("SELECT ") + counts.join(QStringLiteral(" + ")), &ok).toInt();
        const QVariant first =
            ok ? scalar(source, QStringLiteral("SELECT MIN(recno) FROM Details WHERE DataSet = '%1'").arg(quoted), &ok)
               : QVariant();
        if (!ok) {
            *error = QStringLiteral("Cannot compare the data sets of %1 and %2").arg(from, into);
            return false;
        }
        if (found > 0) {
            result->refused.append(name);
            continue;
        }
        copy.append(name);
        if (!first.isNull() && (lowest == 0 || first.toInt() < lowest))
            lowest = first.toInt();
    }

    // recno is unique over the whole table: numbers the target already uses push the copies up.
    const int largest = scalar(target, QStringLiteral("SELECT MAX(recno) FROM Details"), &ok).toInt();
    int shift = 0;
    if (ok && lowest != 0 && lowest <= largest) {
        shift = largest + 1 - lowest;
        result->firstRecordNumber = largest + 1;
    }

    Copier copier(source, target);
    if (!copier.prepare()) {
        *error = QStringLiteral("Cannot write to %1: %2").arg(into, copier.error());
        return false;
    }
    for (const QString& name : copy) {
        QList<qsizetype> counts;
        if (!copier.copy(name, shift, &counts)) {
            *error = QStringLiteral("Cannot copy %1 into %2: %3").arg(name, into, copier.error());
            return false;
        }
        bool found = false;
        const QString label =
            scalar(source, QStringLiteral("SELECT Label FROM FileNames WHERE DataSet = '%1'").arg(QuoteForSql(name)),
                   &found)
                .toString();
        const QStringList tables = DataSetTables();
        result->copied.append(MigratedDataSet{name, label, counts.value(tables.indexOf(QStringLiteral("Headers"))),
                                              counts.value(tables.indexOf(QStringLiteral("Details"))),
                                              counts.value(tables.indexOf(QStringLiteral("SendLog")))});
    }
    if (!copier.finish()) {
        *error = QStringLiteral("Cannot copy into %1: %2").arg(into, copier.error());
        return false;
    }
    if (beforeCommit && !beforeCommit(*result, error))
        return false;
    return transaction.commit() || cannotWrite();
}

} // namespace velmar
