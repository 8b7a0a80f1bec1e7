#include "payments/paymentstest.h"

#include "core/appsettings.h"
#include "core/textformat.h"
#include "db/clienthandles.h"
#include "db/reading.h"
#include "payments/payments.h"
#include "payments/recordrules.h"

#include <QSqlRecord>

#include <clocale>

#include <sqlite3.h>

using namespace velmar;
using namespace Qt::StringLiterals;
using namespace velmar::test;

namespace {

AppSettings pensionFormMode(double superannuation = 5, double employer = 14)
{
    AppSettings s;
    s.Solo = true;
    s.Superannuation = superannuation;
    s.NoSuperannuation = superannuation < 0.1;
    s.Employerannuation = employer;
    return s;
}

QString money(double v)
{
    return FormatMoney(v);
}

} // namespace

class ShiftRows : public PaymentsTest
{
protected:
    QList<QSqlRecord> load(const QString& dataSet = QStringLiteral("Nov06"), const QString& id = QStringLiteral("100"))
    {
        QList<QSqlRecord> rows;
        EXPECT_TRUE(LoadShiftRows(m_db, dataSet, id, &rows, m_prompter));
        return rows;
    }
};
VELMAR_ON_EACH_STORE(ShiftRows);

TEST_P(ShiftRows, DerivedColumnsKeepPartHours)
{
    // 90 minutes is an hour and a half, whichever way the adjustment goes.
    insertShift({.recno = 1, .total = 100, .adjustmentTime = 90, .adjustmentRate = 20, .extra = 1});
    insertShift({.recno = 2, .total = 100, .adjustmentTime = 90, .adjustmentRate = 20, .extra = -1});
    insertShift({.recno = 3, .total = 100, .adjustmentTime = 45, .adjustmentRate = 20, .extra = 0});
    const QList<QSqlRecord> rows = load();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_DOUBLE_EQ(rows[0].value(QStringLiteral("Adj_Time")).toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(rows[0].value(QStringLiteral("Adjustment")).toDouble(), 30);
    EXPECT_DOUBLE_EQ(rows[0].value(QStringLiteral("Net")).toDouble(), 130);
    EXPECT_DOUBLE_EQ(rows[1].value(QStringLiteral("Adjustment")).toDouble(), -30);
    EXPECT_DOUBLE_EQ(rows[1].value(QStringLiteral("Net")).toDouble(), 70);
    EXPECT_DOUBLE_EQ(rows[2].value(QStringLiteral("Adj_Time")).toDouble(), 0.75);
    EXPECT_DOUBLE_EQ(rows[2].value(QStringLiteral("Net")).toDouble(), 100);
}

TEST_P(ShiftRows, ColumnsInDisplayOrderThenEveryStoredColumn)
{
    insertShift({.recno = 1, .superfee = 7.5, .nonsuperfee = 2.25});
    const QList<QSqlRecord> rows = load();
    ASSERT_EQ(rows.size(), 1);
    const QSqlRecord& r = rows.first();
    const QStringList leading{u"recno"_s,      u"DataSet"_s, u"Shift_Date"_s, u"Location"_s, u"Shift"_s,
                              u"Times"_s,      u"Rate"_s,    u"Total"_s,      u"Adj_Time"_s, u"AdjustmentRate"_s,
                              u"Adjustment"_s, u"Net"_s,     u"Notes"_s};
    ASSERT_EQ(r.count(), leading.size() + 15);
    for (int i = 0; i < leading.size(); ++i)
        EXPECT_EQ(r.fieldName(i), leading[i]) << i;
    EXPECT_EQ(r.fieldName(leading.size()), QStringLiteral("recno"));
    EXPECT_EQ(r.fieldName(r.count() - 1), QStringLiteral("nonsuperfee"));
    EXPECT_DOUBLE_EQ(r.value(QStringLiteral("superfee")).toDouble(), 7.5);
    EXPECT_DOUBLE_EQ(r.value(QStringLiteral("nonsuperfee")).toDouble(), 2.25);
    EXPECT_EQ(r.value(QStringLiteral("id")).toString(), QStringLiteral("100"));
}

TEST_P(ShiftRows, OneDoctorOfOneDataSetInRecordOrder)
{
    insertShift({.recno = 12, .total = 3});
    insertShift({.recno = 5, .total = 1});
    insertShift({.recno = 9, .total = 2});
    insertShift({.recno = 6, .id = QStringLiteral("101"), .total = 50});
    insertShift({.recno = 7, .total = 60, .dataSet = QStringLiteral("Dec06")});
    QList<int> order;
    for (const QSqlRecord& r : load())
        order.append(r.value(QStringLiteral("recno")).toInt());
    EXPECT_EQ(order, (QList<int>{5, 9, 12}));
}

TEST_P(ShiftRows, ApostrophesInNamesAreSafe)
{
    insertShift({.recno = 1, .id = QStringLiteral("O'Neil"), .total = 10, .dataSet = QStringLiteral("Nov'06")});
    EXPECT_EQ(load(QStringLiteral("Nov'06"), QStringLiteral("O'Neil")).size(), 1);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_P(ShiftRows, FailuresAndMissingDoctorsAreReported)
{
    QSqlRecord doctor;
    EXPECT_FALSE(LoadDoctor(m_db, QStringLiteral("Nov06"), QStringLiteral("404"), &doctor, m_prompter));
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: Doctor 404 not found in data set Nov06")});

    insertDoctor({});
    m_prompter.messages.clear();
    ASSERT_TRUE(LoadDoctor(m_db, QStringLiteral("Nov06"), QStringLiteral("100"), &doctor, m_prompter));
    EXPECT_EQ(doctor.value(QStringLiteral("sname")).toString(), QStringLiteral("Smith"));

    exec(QStringLiteral("DROP TABLE Details"));
    QList<QSqlRecord> rows;
    EXPECT_FALSE(LoadShiftRows(m_db, QStringLiteral("Nov06"), QStringLiteral("100"), &rows, m_prompter));
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_TRUE(m_prompter.messages[0].startsWith(QStringLiteral("error: Error in query: SELECT recno, DataSet,")));
    EXPECT_TRUE(m_prompter.messages[0].endsWith(QStringLiteral("ORDER BY recno\n")));
    // The sums' own read of every doctor is refused alike.
    QHash<QString, ShiftSums> sums;
    QString trouble, statement;
    EXPECT_FALSE(ReadShiftSums(m_db, QStringLiteral("Nov06"), &sums, &trouble, &statement));
    EXPECT_EQ(ReadFailure(trouble, statement).left(26), QStringLiteral("Error in query: SELECT id,"));
}

// The whole data set read at once gives each doctor of the list exactly the rows, column names and
// figures his own read gives: a run of rows handed to the wrong doctor, rows lost between doctors
// (one stored twice under one id, one without records, names equal but for accents) or sums added
// in another order would show here.
TEST_P(ShiftRows, OneReadOfTheDataSetGivesEachDoctorHisOwnRead)
{
    const QStringList names{u"Ábrahám"_s, u"abraham"_s, u"de Souza"_s, u"Łukasz"_s, u"Lukasz"_s, u"O'Brien"_s};
    exec(u"BEGIN"_s);
    for (int d = 0; d < 2000; ++d)
        insertDoctor(
            {.id = QString::number(d * 7919 % 2000), .sname = names.at(d % names.size()), .annuity = double(d % 3)});
    insertDoctor({.id = u"42"_s, .sname = u"Zoë"_s});
    for (int s = 0; s < 6000; ++s) {
        // Record numbers run across doctors; doctor 13 has none; the next data set reuses the ids.
        const int d = s * 37 % 2000;
        if (d != 13)
            insertShift({.recno = 6000 - s,
                         .id = QString::number(d),
                         .total = 100.005 + s % 9,
                         .adjustmentTime = s % 4 * 15,
                         .adjustmentRate = 0.3,
                         .extra = s % 3 - 1,
                         .superfee = 0.125 * (s % 5)});
        insertShift({.recno = 10000 + s, .id = QString::number(d), .total = 1, .dataSet = u"Dec06"_s});
    }
    exec(u"COMMIT"_s);
    // Tampered records: a recno stored as text, which SQLite sorts after every number (added first,
    // 0.1 + 0.2 + 0.3 is not 0.2 + 0.3 + 0.1); a doctor whose id is empty beside a record without
    // an id, which is no one's.
    insertDoctor({.id = u"T"_s});
    insertShift({.recno = 1, .id = u"T"_s, .total = 0.2});
    insertShift({.recno = 2, .id = u"T"_s, .total = 0.3});
    insertShift({.recno = 3, .id = u"T"_s, .total = 0.1});
    if (SqliteHandle(m_db))
        exec(u"UPDATE Details SET recno = 'x' WHERE id = 'T' AND recno = 3"_s);
    exec(u"INSERT INTO Headers (DataSet, id, sname) VALUES ('Nov06', '', 'Blank')"_s);
    exec(u"INSERT INTO Details (DataSet, id, recno, Total, Extra, AdjustmentRate, AdjustmentTime) VALUES "
         "('Nov06', '', 1, 1, 0, 0, 0), ('Nov06', NULL, 2, 2, 0, 0, 0)"_s);

    const AppSettings settings = pensionFormMode(6);
    DataSetReader reader(m_db, u"Nov06"_s);
    QList<QSqlRecord> doctors;
    ASSERT_TRUE(reader.readDoctors(&doctors));
    ASSERT_EQ(doctors.size(), 2003);
    // Read to the end before any other statement: a server keeps one result open at a time.
    QList<QList<QSqlRecord>> runs(doctors.size());
    for (int i = 0; i < doctors.size(); ++i)
        ASSERT_TRUE(reader.shiftRows(i, &runs[i])) << reader.trouble().toStdString();
    // The figures' own read, of every doctor's sums, beside it.
    QHash<QString, ShiftSums> sums;
    QString trouble, statement;
    ASSERT_TRUE(ReadShiftSums(m_db, u"Nov06"_s, &sums, &trouble, &statement)) << trouble.toStdString();
    int withRows = 0;
    for (int i = 0; i < doctors.size(); ++i) {
        const QString id = doctors.at(i).value(u"id"_s).toString();
        const QList<QSqlRecord>& oneRead = runs.at(i);
        const QList<QSqlRecord> ownRead = load(u"Nov06"_s, id);
        ASSERT_EQ(oneRead.size(), ownRead.size()) << id.toStdString();
        for (int r = 0; r < ownRead.size(); ++r) {
            ASSERT_EQ(oneRead.at(r).count(), ownRead.at(r).count());
            for (int c = 0; c < ownRead.at(r).count(); ++c) {
                EXPECT_EQ(oneRead.at(r).fieldName(c), ownRead.at(r).fieldName(c));
                EXPECT_EQ(oneRead.at(r).value(c), ownRead.at(r).value(c)) << id.toStdString() << " " << c;
            }
        }
        const PaymentFigures a = ComputePaymentFigures(settings, doctors.at(i), oneRead);
        const PaymentFigures b = ComputePaymentFigures(settings, doctors.at(i), ownRead);
        const PaymentFigures c = ComputePaymentFigures(settings, doctors.at(i), sums.value(id));
        EXPECT_EQ(money(a.netPayment), money(b.netPayment));
        EXPECT_EQ(a.superannuableFees, b.superannuableFees);
        EXPECT_EQ(c.gross, b.gross);
        EXPECT_EQ(c.superannuableFees, b.superannuableFees);
        EXPECT_EQ(c.nonSuperannuableFees, b.nonSuperannuableFees);
        withRows += !oneRead.isEmpty();
    }
    // Doctor 13 alone has none; 42 is listed twice, with its rows each time.
    EXPECT_EQ(withRows, 2002);

    // A read of the sums that stops half-way is a failure that gives no sums, never a short list.
    if (sqlite3* handle = SqliteHandle(m_db)) {
        int steps = 0;
        sqlite3_progress_handler(
            handle, 100, [](void* n) { return int(++*static_cast<int*>(n) > 50); }, &steps);
        QHash<QString, ShiftSums> cut{{u"kept"_s, {}}};
        EXPECT_FALSE(ReadShiftSums(m_db, u"Nov06"_s, &cut, &trouble, &statement));
        sqlite3_progress_handler(handle, 0, nullptr, nullptr);
        EXPECT_TRUE(trouble.startsWith(u"The database stopped answering: "_s)) << trouble.toStdString();
        EXPECT_EQ(cut.keys(), QStringList{u"kept"_s});
    }
}

TEST(ShiftDateText, IsoStoredDayFirstShown)
{
    EXPECT_EQ(ShiftDateText(QStringLiteral("2006-11-05")), QStringLiteral("05/11/2006"));
    EXPECT_EQ(ShiftDateText(QStringLiteral("2008-02-29T00:00:00")), QStringLiteral("29/02/2008"));
    EXPECT_EQ(ShiftDateText(QVariant()), QString());
    EXPECT_EQ(ShiftDateText(QStringLiteral(" ")), QString());
    EXPECT_FALSE(ShiftDate(QStringLiteral("2006-02-31")).isValid());
}

class Figures : public PaymentsTest
{
protected:
    PaymentFigures compute(const AppSettings& settings, const QString& id = QStringLiteral("100"))
    {
        QSqlRecord doctor;
        QList<QSqlRecord> rows;
        EXPECT_TRUE(LoadDoctor(m_db, QStringLiteral("Nov06"), id, &doctor, m_prompter));
        EXPECT_TRUE(LoadShiftRows(m_db, QStringLiteral("Nov06"), id, &rows, m_prompter));
        return ComputePaymentFigures(settings, doctor, rows);
    }
    // Net 100.004 and 50.003, both wholly superannuable at import, plus a split the settings may ignore.
    void workedExample(const Doctor& d)
    {
        insertDoctor(d);
        insertShift({.recno = 1, .total = 100.004, .superfee = 80, .nonsuperfee = 20.004});
        insertShift({.recno = 2,
                     .total = 40.003,
                     .adjustmentTime = 30,
                     .adjustmentRate = 20,
                     .extra = 1,
                     .superfee = 50.003,
                     .nonsuperfee = 0});
    }
};
VELMAR_ON_EACH_STORE(Figures);

TEST_P(Figures, PensionFormModeWorkedExample)
{
    workedExample({.annuity = 2});
    const PaymentFigures f = compute(pensionFormMode(5, 14));
    EXPECT_EQ(f.gross, 150.01);
    EXPECT_EQ(f.superannuation, 7.5);
    EXPECT_EQ(f.additionalContribution, 3.0);
    EXPECT_EQ(money(f.netPayment), QStringLiteral("139.51"));
    EXPECT_DOUBLE_EQ(f.netPayment, 139.51);
    EXPECT_EQ(f.employerContribution, 21.0);
    EXPECT_DOUBLE_EQ(f.superannuableFees, 150.007); // not rounded
    EXPECT_EQ(f.nonSuperannuableFees, 0);           // the rows' split is ignored without PartSuperannuation
    EXPECT_FALSE(f.noPension);
    EXPECT_FALSE(f.payGross);
}

TEST_P(Figures, PensionFormModeMembershipFlags)
{
    workedExample({.annuity = 2, .nosolo = QStringLiteral("Y"), .paygross = QStringLiteral("Y")});
    insertDoctor({.id = QStringLiteral("101"), .annuity = 2, .nosolo = QStringLiteral("y")});
    insertShift({.recno = 3, .id = QStringLiteral("101"), .total = 100});

    const PaymentFigures out = compute(pensionFormMode());
    EXPECT_TRUE(out.noPension);
    EXPECT_TRUE(out.payGross);
    EXPECT_EQ(out.gross, 150.01);
    EXPECT_EQ(out.netPayment, 150.01);
    EXPECT_EQ(out.superannuation, 0);
    EXPECT_EQ(out.additionalContribution, 0);
    EXPECT_EQ(out.employerContribution, 0);
    EXPECT_DOUBLE_EQ(out.superannuableFees, 150.007);

    // Only a capital Y takes a doctor out of the scheme.
    const PaymentFigures in = compute(pensionFormMode(), QStringLiteral("101"));
    EXPECT_FALSE(in.noPension);
    EXPECT_EQ(in.superannuation, 5);
    EXPECT_EQ(in.additionalContribution, 2);
    EXPECT_EQ(in.employerContribution, 14);
    EXPECT_EQ(in.netPayment, 93);

    // The flags belong to pension-form mode only.
    const PaymentFigures plain = compute(AppSettings());
    EXPECT_FALSE(plain.noPension);
    EXPECT_FALSE(plain.payGross);
}

TEST_P(Figures, PensionFormModeWithoutSuperannuationRate)
{
    workedExample({.annuity = 2});
    const PaymentFigures f = compute(pensionFormMode(0, 14));
    EXPECT_EQ(f.superannuation, 0);
    EXPECT_EQ(f.additionalContribution, 3.0);
    EXPECT_EQ(f.employerContribution, 21.0);
    EXPECT_DOUBLE_EQ(f.netPayment, 147.01);
}

TEST_P(Figures, PensionFormModeSplitFees)
{
    workedExample({.annuity = 2});
    AppSettings s = pensionFormMode(5, 14);
    s.PartSuperannuation = true;
    const PaymentFigures f = compute(s);
    // Gross is every fee; contributions only on the superannuable part (130.003).
    EXPECT_EQ(f.gross, 150.01);
    EXPECT_DOUBLE_EQ(f.superannuableFees, 130.003);
    EXPECT_DOUBLE_EQ(f.nonSuperannuableFees, 20.004);
    EXPECT_EQ(f.superannuation, 6.5);
    EXPECT_EQ(f.additionalContribution, 2.6);
    EXPECT_EQ(f.employerContribution, 18.2);
    EXPECT_DOUBLE_EQ(f.netPayment, 150.01 - 6.5 - 2.6);
}

TEST_P(Figures, PlainModeUsesDoctorsRate)
{
    workedExample({.annuity = 10});
    AppSettings s;
    s.Superannuation = 5; // the doctor's own rate counts in this mode
    const PaymentFigures f = compute(s);
    EXPECT_EQ(f.gross, 150.01);
    EXPECT_EQ(f.superannuation, 15.0);
    EXPECT_DOUBLE_EQ(f.netPayment, 135.01);
    EXPECT_EQ(f.additionalContribution, 0);
    EXPECT_EQ(f.employerContribution, 0);
    EXPECT_EQ(f.nonSuperannuableFees, 0);
}

TEST_P(Figures, PlainModeSplitFeesPaysSuperannuablePartOnly)
{
    workedExample({.annuity = 10});
    AppSettings s;
    s.PartSuperannuation = true;
    const PaymentFigures f = compute(s);
    EXPECT_EQ(f.gross, 130.0);
    EXPECT_DOUBLE_EQ(f.superannuableFees, 130.003);
    EXPECT_DOUBLE_EQ(f.nonSuperannuableFees, 20.004);
    EXPECT_EQ(f.superannuation, 13.0);
    EXPECT_EQ(f.netPayment, 117.0);
}

TEST_P(Figures, DoctorWithoutRecordsHasZeroFigures)
{
    insertDoctor({.annuity = 2});
    for (const AppSettings& s : {AppSettings(), pensionFormMode()}) {
        const PaymentFigures f = compute(s);
        EXPECT_EQ(f.gross, 0);
        EXPECT_EQ(f.superannuation, 0);
        EXPECT_EQ(f.additionalContribution, 0);
        EXPECT_EQ(f.netPayment, 0);
        EXPECT_EQ(f.employerContribution, 0);
        EXPECT_EQ(f.superannuableFees, 0);
    }
}

TEST_P(Figures, DeductionsLargerThanFeesGoNegative)
{
    insertDoctor({.annuity = 3});
    // 100.00 less 10 hours at 12.3456 an hour.
    insertShift({.recno = 1, .total = 100, .adjustmentTime = 600, .adjustmentRate = 12.3456, .extra = -1});
    const PaymentFigures f = compute(pensionFormMode(5, 14));
    EXPECT_EQ(money(f.gross), QStringLiteral("-23.46"));
    EXPECT_EQ(f.gross, -23.46);
    EXPECT_EQ(f.superannuation, -1.17);         // -1.1728
    EXPECT_EQ(f.additionalContribution, -0.70); // -0.70368
    EXPECT_EQ(f.employerContribution, -3.28);   // -3.28384
    EXPECT_EQ(money(f.netPayment), QStringLiteral("-21.59"));
}

TEST_P(Figures, NullsReadAsZero)
{
    exec(QStringLiteral("INSERT INTO Headers (DataSet, id) VALUES('Nov06', '100')"));
    exec(QStringLiteral("INSERT INTO Details (recno, DataSet, id, Total, AdjustmentTime, AdjustmentRate, Extra) "
                        "VALUES(1, 'Nov06', '100', 40, 60, 10, 1)"));
    exec(QStringLiteral("INSERT INTO Details (recno, DataSet, id, Total) VALUES(2, 'Nov06', '100', 99)"));
    const PaymentFigures f = compute(pensionFormMode(5, 14));
    EXPECT_FALSE(f.noPension); // NULL nosolo: a member
    EXPECT_EQ(f.gross, 50.0);  // the second row's Net is NULL
    EXPECT_EQ(f.additionalContribution, 0);
    EXPECT_EQ(f.superannuation, 2.5);
}

TEST(RoundMoney, RoundsToPenceBothSides)
{
    EXPECT_EQ(RoundMoney(1.234), 1.23);
    EXPECT_EQ(RoundMoney(1.236), 1.24);
    EXPECT_EQ(RoundMoney(-1.236), -1.24);
    EXPECT_EQ(RoundMoney(-1.234), -1.23);
    EXPECT_EQ(RoundMoney(-0.001), 0);
    EXPECT_EQ(RoundMoney(2.675), 2.67); // 2.675 is stored just below the half-penny
    EXPECT_EQ(RoundMoney(1e9 + 0.005001), 1000000000.01);
}

TEST(RoundMoney, IgnoresTheUsersLocale)
{
    const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        std::setlocale(LC_NUMERIC, "de_DE.utf8");
    EXPECT_EQ(RoundMoney(12.499), 12.5);
    EXPECT_EQ(FormatMoney(RoundMoney(-3.14159)), QStringLiteral("-3.14"));
    std::setlocale(LC_NUMERIC, before.constData());
}

TEST(FormatAddressLines, SingleSpacePartsVanish)
{
    const QString cr(u'\r');
    EXPECT_EQ(FormatAddressLines(QStringLiteral("1 High St| |Leeds| |LS1 1AA")),
              QStringList({u"1 High St"_s, u"Leeds"_s, u"LS1 1AA"_s}).join(cr));
    EXPECT_EQ(FormatAddressLines(QStringLiteral("1 High St| |Leeds|Yorks|LS1 1AA")).split(cr).size(), 4);
    // Empty parts stay as empty lines.
    EXPECT_EQ(FormatAddressLines(QStringLiteral("1 High St||Leeds||LS1 1AA")),
              QStringList({u"1 High St"_s, QString(), u"Leeds"_s, QString(), u"LS1 1AA"_s}).join(cr));
    // Of two single-space parts in a row one remains: the pass does not look at what it replaced.
    EXPECT_EQ(FormatAddressLines(QStringLiteral("a| | |b")), QStringList({u"a"_s, u" "_s, u"b"_s}).join(cr));
    EXPECT_EQ(FormatAddressLines(QStringLiteral("a| | | |b")), QStringList({u"a"_s, u" "_s, u"b"_s}).join(cr));
    EXPECT_FALSE(FormatAddressLines(QStringLiteral("a|b")).contains(u'\n'));
}

TEST(RecordRules, TypedAmountsAreWholeNumbersOrRefused)
{
    const std::pair<const char*, const char*> cases[] = {
        {".5", ""},
        {"12.", ""},
        {" -3 ", ""},
        {"1e3", "Total: \"1e3\" is not a number"},
        {"2000000000", "Total: 2000000000 is out of range"},
    };
    for (const auto& [typed, problem] : cases) {
        double value = 0;
        EXPECT_EQ(ReadTypedAmount(u"Total"_s, QString::fromUtf8(typed), &value), QString::fromUtf8(problem)) << typed;
    }
}

TEST(RecordRules, ANetPayCutNeverLeavesAPartBelowNothing)
{
    const struct
    {
        FeeParts parts;
        double before, after;
        FeeParts moved;
    } cases[] = {
        {{300, 200}, 500, 450, {250, 200}}, // the superannuable part moves first
        {{0, 500}, 500, 400, {0, 400}},     // wholly non-superannuable: the cut comes off it
        {{50, 100}, 150, -20, {-20, 0}},    // a net below nothing is left where it lands
    };
    for (const auto& c : cases) {
        const FeeParts moved = MovedFeeParts(c.parts, c.before, c.after);
        EXPECT_DOUBLE_EQ(moved.superfee, c.moved.superfee) << c.after;
        EXPECT_DOUBLE_EQ(moved.nonsuperfee, c.moved.nonsuperfee) << c.after;
    }
}

TEST(RecordRules, ANewRecordIsDatedInThePayRun)
{
    const QDate today(2026, 12, 9);
    const QList<QDate> dates{QDate(2005, 2, 12), QDate(2005, 2, 3), QDate()};
    EXPECT_EQ(ProposedShiftDate(u"02_2005"_s, dates, today), QDate(2005, 2, 1));
    EXPECT_EQ(ProposedShiftDate(u"13_2005"_s, dates, today), QDate(2005, 2, 3)); // no month: the last date
    EXPECT_EQ(ProposedShiftDate(u"Nov06"_s, {}, today), today);
}
