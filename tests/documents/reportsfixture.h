#pragma once

#include "common/pdftext.h"
#include "common/testsupport.h"
#include "core/appsettings.h"
#include "core/appstate.h"

#include <QSqlRecord>

namespace velmar::test {

struct TestDoctor
{
    QString id;
    QString fname;
    QString sname;
    QString title = QStringLiteral("Dr");
    QString add1 = QStringLiteral("1 High Street");
    QString add2 = QStringLiteral(" ");
    QString town = QStringLiteral("Northbridge");
    QString county = QStringLiteral("Eastshire");
    QString postcode = QStringLiteral("NB1 1AA");
    double annuity = 0;
    QString email = QStringLiteral("doctor@example.org");
    QString nino = QStringLiteral("AB123456C");
    QString nhspsno = QStringLiteral("1234567");
    QString pct = QStringLiteral("Northbridge PCT");
    QString nosolo = QStringLiteral("N");
    QString paygross = QStringLiteral("N");
};

struct TestShift
{
    QString date = QStringLiteral("2005-02-05");
    QString location = QStringLiteral("Base");
    QString shift = QStringLiteral("Day");
    QString times = QStringLiteral("08:00-18:00");
    double rate = 45;
    double total = 450;
    int adjustmentTime = 0;
    double adjustmentRate = 0;
    int extra = 0;
    QString notes = QStringLiteral(" ");
    double superfee = 450;
    double nonsuperfee = 0;
};

// A database with one open data set "DS1" ("February 2005 Pay Run"), settings and state to fill.
class ReportsTest : public DatabaseTest
{
protected:
    void SetUp() override;

    void addDoctor(const TestDoctor& d, const QString& dataSet = QStringLiteral("DS1"));
    void addShift(const QString& doctorId, const TestShift& s, const QString& dataSet = QStringLiteral("DS1"));
    void setSuperannuation(double rate);

    QSqlRecord doctorRow(const QString& id);
    QList<QSqlRecord> shiftRows(const QString& id);

    // The invoice of one doctor printed into a PDF file of the temporary folder; its path.
    QString invoicePdf(const QString& id, const QString& fileName = QStringLiteral("invoice.pdf"));
    // The same, read back.
    PdfText invoiceText(const QString& id, const QString& fileName = QStringLiteral("invoice.pdf"));

    AppSettings settings;
    AppState state;
    int m_recno = 0;
};

} // namespace velmar::test
