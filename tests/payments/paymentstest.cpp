#include "payments/paymentstest.h"

#include <QSqlError>
#include <QSqlQuery>

namespace velmar::test {

namespace {

// Bound values: a data-set name such as "Run %1" must reach the table as it is.
void insert(const QSqlDatabase& db, const QString& sql, const QVariantList& values)
{
    QSqlQuery q(db);
    ASSERT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
    for (const QVariant& v : values)
        q.addBindValue(v);
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
}

} // namespace

void PaymentsTest::insertDoctor(const Doctor& d, const QString& dataSet)
{
    insert(m_db,
           QStringLiteral("INSERT INTO Headers (DataSet, id, title, fname, sname, add1, add2, town, county, postcode, "
                          "annuity, email, nosolo, paygross) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
           {dataSet, d.id, d.title, d.fname, d.sname, d.add1, d.add2, d.town, d.county, d.postcode, d.annuity, d.email,
            d.nosolo, d.paygross});
}

void PaymentsTest::insertShift(const Shift& s)
{
    insert(m_db,
           QStringLiteral("INSERT INTO Details VALUES(?, ?, ?, ?, ?, 'Eve', '18:00-23:00', 20, ?, ?, ?, ?, ' ', ?, ?)"),
           {s.recno, s.dataSet, s.id, s.date, s.location, s.total, s.adjustmentTime, s.adjustmentRate, s.extra,
            s.superfee, s.nonsuperfee});
}

} // namespace velmar::test
