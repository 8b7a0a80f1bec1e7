#include "payments/paymentstest.h"

using namespace velmar::test;
using namespace Qt::StringLiterals;

class FiguresCommand : public PaymentsTest
{
protected:
    struct Run
    {
        int exitCode = -1;
        QStringList out;
        QString err;
    };
    Run run(const QStringList& args)
    {
        const QString ini =
            writeFile(u"velmarpay.ini"_s, "[DEFAULTS]\nSolo=1\nSuperannuation=5\nEmployerannuation=14\n");
        const CliRun r = cli(QStringList{u"figures"_s} + args, ini);
        return Run{r.exitCode, r.out.split(u'\n', Qt::SkipEmptyParts), r.err};
    }
    void SetUp() override
    {
        PaymentsTest::SetUp();
        insertDoctor({.id = u"100"_s, .sname = u"Smith"_s, .annuity = 2});
        insertShift({.recno = 1, .id = u"100"_s, .total = 100.004});
        insertShift({.recno = 2, .id = u"100"_s, .total = 50.003});
        insertDoctor({.id = u"101"_s, .sname = u"Adams"_s, .annuity = 2, .nosolo = u"Y"_s, .paygross = u"Y"_s});
        insertShift({.recno = 3, .id = u"101"_s, .total = 20, .adjustmentTime = 90, .adjustmentRate = 10, .extra = -1});
        insertDoctor({.id = u"O'Neil"_s, .sname = u"Brown"_s});
        insertDoctor({.id = u"900"_s, .sname = u"Other"_s}, u"Dec06"_s);
    }
};
VELMAR_ON_EACH_STORE(FiguresCommand);

TEST_P(FiguresCommand, OneLinePerDoctorInSurnameOrder)
{
    // A doctor without an id has no records, not those whose id is empty.
    insertDoctor({.id = u"none"_s, .sname = u"Zed"_s});
    insertShift({.recno = 4, .id = u"blank"_s, .total = 70});
    exec(u"UPDATE Headers SET id = NULL WHERE id = 'none'"_s);
    exec(u"UPDATE Details SET id = '' WHERE id = 'blank'"_s);
    const Run r = run({u"--dataset"_s, u"Nov06"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, (QStringList{
                         u"id\tgross\tsuperannuation\tadditionalContribution\tnetPayment\temployerContribution\t"
                         "superannuableFees\tnonSuperannuableFees\tnoPension\tpayGross"_s,
                         u"101\t5.00\t0.00\t0.00\t5.00\t0.00\t5.00\t0.00\tY\tY"_s,
                         u"O'Neil\t0.00\t0.00\t0.00\t0.00\t0.00\t0.00\t0.00\tN\tN"_s,
                         u"100\t150.01\t7.50\t3.00\t139.51\t21.00\t150.01\t0.00\tN\tN"_s,
                         u"\t0.00\t0.00\t0.00\t0.00\t0.00\t0.00\t0.00\tN\tN"_s,
                     }));
}

TEST_P(FiguresCommand, OneDoctor)
{
    const Run r = run({u"--dataset"_s, u"Nov06"_s, u"--doctor"_s, u"O'Neil"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.out.size(), 2);
    EXPECT_TRUE(r.out[1].startsWith(u"O'Neil\t0.00"_s));
}

TEST_P(FiguresCommand, UnknownNamesFail)
{
    Run r = run({u"--dataset"_s, u"Jan07"_s});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, u"No data set named Jan07 (velmarpay-cli datasets lists them)\n"_s);

    r = run({u"--dataset"_s, u"Nov06"_s, u"--doctor"_s, u"900"_s});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, u"Doctor 900 not found in data set Nov06\n"_s);

    r = run({});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(u"--dataset"_s));
}
