#include "payments/paymentstest.h"

#include "db/database.h"

namespace velmar::test {

void PaymentsTest::insertDoctor(const Doctor& d, const QString& dataSet)
{
    const auto q = [](const QString& s) { return QStringLiteral("'%1'").arg(QuoteForSql(s)); };
    exec(QStringLiteral("INSERT INTO Headers (DataSet, id, title, fname, sname, add1, add2, town, county, postcode, "
                        "annuity, email, nosolo, paygross) VALUES(%1, %2, %3, %4, %5, %6, %7, %8, %9, %10, %11, %12, "
                        "%13, %14)")
             .arg(q(dataSet), q(d.id), q(d.title), q(d.fname), q(d.sname), q(d.add1), q(d.add2), q(d.town), q(d.county))
             .arg(q(d.postcode), QString::number(d.annuity, 'g', 17), q(d.email), q(d.nosolo), q(d.paygross)));
}

void PaymentsTest::insertShift(const Shift& s)
{
    exec(QStringLiteral("INSERT INTO Details VALUES(%1, '%2', '%3', '%4', '%5', 'Eve', '18:00-23:00', 20, %6, %7, %8, "
                        "%9, ' ', %10, %11)")
             .arg(s.recno)
             .arg(QuoteForSql(s.dataSet), QuoteForSql(s.id), s.date, QuoteForSql(s.location))
             .arg(QString::number(s.total, 'g', 17))
             .arg(s.adjustmentTime)
             .arg(QString::number(s.adjustmentRate, 'g', 17))
             .arg(s.extra)
             .arg(QString::number(s.superfee, 'g', 17), QString::number(s.nonsuperfee, 'g', 17)));
}

} // namespace velmar::test
