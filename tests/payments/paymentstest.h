#pragma once

#include "common/testsupport.h"

namespace velmar::test {

// A database with rows inserted directly, as an import would leave them.
class PaymentsTest : public DatabaseTest
{
protected:
    struct Doctor
    {
        QString id = QStringLiteral("100");
        QString title = QStringLiteral("Dr");
        QString fname = QStringLiteral("Ann");
        QString sname = QStringLiteral("Smith");
        QString add1 = QStringLiteral("1 High St");
        QString add2 = QStringLiteral(" ");
        QString town = QStringLiteral("Leeds");
        QString county = QStringLiteral(" ");
        QString postcode = QStringLiteral("LS1 1AA");
        double annuity = 0;
        QString nosolo = QStringLiteral("N");
        QString paygross = QStringLiteral("N");
        QString email = QStringLiteral("ann@example.org");
    };
    struct Shift
    {
        int recno = 1;
        QString id = QStringLiteral("100");
        QString date = QStringLiteral("2006-11-05");
        double total = 0;
        int adjustmentTime = 0;
        double adjustmentRate = 0;
        int extra = 0;
        double superfee = 0;
        double nonsuperfee = 0;
        QString location = QStringLiteral("Base");
        QString dataSet = QStringLiteral("Nov06");
        QString shift = QStringLiteral("Eve");
        QString times = QStringLiteral("18:00-23:00");
        QString notes = QStringLiteral(" ");
    };

    void insertDoctor(const Doctor& d, const QString& dataSet = QStringLiteral("Nov06"));
    void insertShift(const Shift& s);
};

} // namespace velmar::test
