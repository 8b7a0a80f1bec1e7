#include "documents/reportsfixture.h"

#include "db/database.h"
#include "documents/documents.h"
#include "payments/payments.h"
#include "report/reportoutput.h"

namespace velmar::test {

void ReportsTest::SetUp()
{
    DatabaseTest::SetUp();
    settings.Name = QStringLiteral("Velmar Out-of-Hours Service");
    settings.Address = QStringLiteral("Unit 4, Riverside Park");
    settings.Telephone = QStringLiteral("Tel: 01632 960000");
    setSuperannuation(0);
    state.CurrentDataSet = QStringLiteral("DS1");
    state.CurrentDataSetLabel = QStringLiteral("February 2005 Pay Run");
    exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES ('DS1', 'February 2005 Pay Run')"));
}

void ReportsTest::setSuperannuation(double rate)
{
    settings.Superannuation = rate;
    settings.NoSuperannuation = rate < 0.1;
}

void ReportsTest::addDoctor(const TestDoctor& d, const QString& dataSet)
{
    const auto q = [](const QString& s) { return u'\'' + QuoteForSql(s) + u'\''; };
    exec(QStringLiteral("INSERT INTO Headers VALUES (%1)")
             .arg(QStringList{q(dataSet), q(d.id), q(d.title), q(d.fname), q(d.sname), q(d.add1), q(d.add2), q(d.town),
                              q(d.county), q(d.postcode), QString::number(d.annuity, 'g', 17), q(d.email), q(d.nino),
                              q(d.nhspsno), q(d.pct), q(d.nosolo), q(d.paygross)}
                      .join(u',')));
}

void ReportsTest::addShift(const QString& doctorId, const TestShift& s, const QString& dataSet)
{
    const auto q = [](const QString& v) { return u'\'' + QuoteForSql(v) + u'\''; };
    const auto n = [](double v) { return QString::number(v, 'g', 17); };
    exec(QStringLiteral("INSERT INTO Details VALUES (%1)")
             .arg(QStringList{QString::number(++m_recno), q(dataSet), q(doctorId), q(s.date), q(s.location), q(s.shift),
                              q(s.times), n(s.rate), n(s.total), QString::number(s.adjustmentTime), n(s.adjustmentRate),
                              QString::number(s.extra), q(s.notes), n(s.superfee), n(s.nonsuperfee)}
                      .join(u',')));
}

QSqlRecord ReportsTest::doctorRow(const QString& id)
{
    QSqlRecord doctor;
    EXPECT_TRUE(LoadDoctor(m_db, state.CurrentDataSet, id, &doctor, m_prompter));
    return doctor;
}

QList<QSqlRecord> ReportsTest::shiftRows(const QString& id)
{
    QList<QSqlRecord> rows;
    EXPECT_TRUE(LoadShiftRows(m_db, state.CurrentDataSet, id, &rows, m_prompter));
    return rows;
}

QString ReportsTest::invoicePdf(const QString& id, const QString& fileName)
{
    const QString pdf = path(fileName);
    PdfFileOutput output(pdf);
    Documents documents(settings, state, m_db, m_prompter, output);
    EXPECT_TRUE(
        documents.ProduceInvoice(doctorRow(id), shiftRows(id), ShiftRowsStatement(state.CurrentDataSet, id), false))
        << m_prompter.messages.join(u'\n').toStdString();
    return pdf;
}

PdfText ReportsTest::invoiceText(const QString& id, const QString& fileName)
{
    PdfText text;
    text.load(invoicePdf(id, fileName));
    return text;
}

} // namespace velmar::test
