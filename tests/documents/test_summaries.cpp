#include "core/clock.h"
#include "db/clienthandles.h"
#include "documents/documents.h"
#include "documents/paymentssummaryreport.h"
#include "documents/pensionsummaryreport.h"
#include "documents/reportsfixture.h"
#include "report/reportoutput.h"
#include "report/reporttableexport.h"

#include <sqlite3.h>

#include <cstring>

using namespace velmar;
using namespace velmar::test;

namespace {

constexpr double kLeft = 12.7;
constexpr double kTolerance = 1.0;

class SummaryTest : public ReportsTest
{
protected:
    void doctor(const QString& id, const QString& sname, const QString& fname, double annuity,
                const QString& pct = QStringLiteral("Northbridge PCT"), const QString& nosolo = QStringLiteral("N"))
    {
        TestDoctor d;
        d.id = id;
        d.sname = sname;
        d.fname = fname;
        d.annuity = annuity;
        d.pct = pct;
        d.nosolo = nosolo;
        addDoctor(d);
    }
    // A record whose fee (AdjTotal) is total plus minutes at perHour.
    void record(const QString& id, double total, int minutes = 0, double perHour = 0, double superfee = 0)
    {
        TestShift s;
        s.total = total;
        s.adjustmentTime = minutes;
        s.adjustmentRate = perHour;
        s.extra = minutes ? 1 : 0;
        s.superfee = superfee;
        addShift(id, s);
    }
    ReportTable table()
    {
        PdfFileOutput unused(path(QStringLiteral("unused.pdf")));
        Documents documents(settings, state, m_db, m_prompter, unused);
        ReportTable t;
        QString error;
        EXPECT_TRUE(CollectReportTable(documents.prepareSummary(), &t, &error)) << error.toStdString();
        return t;
    }
    PdfText summaryPdf()
    {
        const QString file = path(QStringLiteral("summary.pdf"));
        PdfFileOutput output(file);
        Documents documents(settings, state, m_db, m_prompter, output);
        EXPECT_TRUE(documents.RunSummary(true)) << m_prompter.messages.join(u'\n').toStdString();
        EXPECT_TRUE(PdfIsSound(file));
        PdfText pdf;
        pdf.load(file);
        return pdf;
    }
    static QStringList cells(std::initializer_list<const char*> texts)
    {
        QStringList list;
        for (const char* t : texts)
            list.append(QString::fromUtf8(t));
        return list;
    }
    const FixedClock m_clock{QDateTime(QDate(2005, 3, 1), QTime(9, 30))};
};
VELMAR_ON_EACH_STORE(SummaryTest);

} // namespace

TEST_P(SummaryTest, PaymentsSummaryWorkedExample)
{
    setSuperannuation(5);
    doctor(QStringLiteral("1"), QStringLiteral("Smith"), QStringLiteral("John"), 6);
    record(QStringLiteral("1"), 100);
    record(QStringLiteral("1"), 50, 30, 1); // half an hour at 1.00: the adjustment is 0.50
    const ReportTable t = table();
    EXPECT_EQ(t.headings, cells({"Name", "Fees", "Adjustments", "Net Fees", "Annuity", "Net Payment"}));
    ASSERT_EQ(t.rows.size(), 2);
    EXPECT_EQ(t.rows[0], cells({"Smith, J", "150.00", "0.50", "150.50", "9.03", "141.47"}));
    EXPECT_EQ(t.rows[1], cells({"Total", "150.00", "0.50", "150.50", "9.03", "141.47"}));
}

TEST_P(SummaryTest, PaymentsSummaryColumnsPagesAndFooter)
{
    setSuperannuation(5);
    exec(QStringLiteral("BEGIN"));
    for (int i = 1; i <= 70; ++i) {
        const QString id = QStringLiteral("%1").arg(i, 3, 10, QChar(u'0'));
        doctor(id, QStringLiteral("Doctor%1").arg(id), QStringLiteral("Ann"), 6);
        record(id, 100 + i);
    }
    exec(QStringLiteral("COMMIT"));
    const PdfText pdf = summaryPdf();
    ASSERT_EQ(pdf.pageCount(), 2);
    for (int page = 1; page <= 2; ++page) {
        EXPECT_TRUE(pdf.contains(QStringLiteral("Payment's Summary for February 2005 Pay Run"), page));
        EXPECT_TRUE(pdf.contains(QStringLiteral("Net Payment"), page));
        const PdfWord printed = pdf.only(QStringLiteral("Printed: 01/03/2005"), page);
        EXPECT_NEAR(printed.box.left(), kLeft, kTolerance);
        EXPECT_GT(printed.box.top(), 270);
        const PdfWord number = pdf.only(QString::number(page), page);
        EXPECT_NEAR(number.box.right(), kLeft + 183.9, kTolerance);
        EXPECT_NEAR(number.box.top(), printed.box.top(), 0.1);
        // Every page anchors the history; this database has none yet.
        EXPECT_TRUE(pdf.contains(QStringLiteral("History: 0 entries, last none"), page));
    }
    // The service name and address head the first page only.
    EXPECT_TRUE(pdf.contains(settings.Name, 1));
    EXPECT_FALSE(pdf.contains(settings.Name, 2));
    EXPECT_FALSE(pdf.contains(QStringLiteral("Total"), 1));

    const double headingLefts[] = {0, 42.7, 65.0, 101.6, 134.1, 162.6};
    const char* headings[] = {"Name", "Fees", "Adjustments", "Net Fees", "Annuity", "Net Payment"};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(pdf.find(QString::fromUtf8(headings[i]), 1).first().box.left(), kLeft + headingLefts[i],
                    kTolerance);
    // Right edges of the amounts, on a doctor's line and on the total line.
    const double rights[] = {52.3, 88.1, 118.6, 147.6, 184.9};
    const PdfWord first = pdf.only(QStringLiteral("Doctor001, A"), 1);
    EXPECT_NEAR(first.box.left(), kLeft, kTolerance);
    const QStringList firstLine = pdf.wordsAt(first.box.top(), 1);
    EXPECT_EQ(firstLine, cells({"Doctor001,", "A", "101.00", "0.00", "101.00", "6.06", "94.94"}));
    const PdfWord total = pdf.only(QStringLiteral("Total"), 2);
    EXPECT_EQ(pdf.wordsAt(total.box.top(), 2), cells({"Total", "9485.00", "0.00", "9485.00", "569.10", "8915.90"}));
    for (const PdfWord& line : {first, total}) {
        int column = 0;
        for (const auto& l : pdf.lines()) {
            for (const PdfWord& w : l) {
                if (w.page == line.page && std::abs(w.box.top() - line.box.top()) < 0.5 && w.text.contains(u'.')) {
                    EXPECT_NEAR(w.box.right(), kLeft + rights[column++], kTolerance) << w.text.toStdString();
                }
            }
        }
        EXPECT_EQ(column, 5);
    }
}

TEST_P(SummaryTest, PaymentsSummaryLeavesTheAnnuityOutBelowATenthOfAPercent)
{
    setSuperannuation(0.05);
    doctor(QStringLiteral("1"), QStringLiteral("Smith"), QStringLiteral("John"), 6);
    record(QStringLiteral("1"), 100);
    const ReportTable t = table();
    // The heading prints nothing; the spreadsheet's column keeps its name.
    EXPECT_EQ(t.headings, cells({"Name", "Fees", "Adjustments", "Net Fees", "Annuity", "Net Payment"}));
    EXPECT_EQ(t.rows[0], cells({"Smith, J", "100.00", "0.00", "100.00", "", "100.00"}));
    EXPECT_EQ(t.rows[1], cells({"Total", "100.00", "0.00", "100.00", "", "100.00"}));
}

TEST_P(SummaryTest, PaymentsSummaryTakesOnlyDoctorsWithRecordsAndRestartsEachRun)
{
    setSuperannuation(5);
    doctor(QStringLiteral("2"), QStringLiteral("Jones"), QStringLiteral("Ann"), 5);
    doctor(QStringLiteral("1"), QStringLiteral("Jones"), QStringLiteral("Ann"), 5);
    doctor(QStringLiteral("3"), QStringLiteral("Idle"), QString(), 5); // no records
    record(QStringLiteral("2"), 20);
    record(QStringLiteral("1"), 10);
    record(QStringLiteral("9"), 999); // no Headers row
    record(QStringLiteral("1"), 5);
    // A doctor without an id has no records: not those whose id is empty, nor those without one.
    doctor(QStringLiteral("none"), QStringLiteral("Nobody"), QString(), 5);
    record(QStringLiteral("none"), 50);
    record(QStringLiteral("blank"), 70);
    exec(QStringLiteral("UPDATE Headers SET id = NULL WHERE id = 'none'"));
    exec(QStringLiteral("UPDATE Details SET id = CASE id WHEN 'none' THEN NULL ELSE '' END WHERE id IN ('none', "
                        "'blank')"));

    PdfFileOutput output(path(QStringLiteral("twice.pdf")));
    Documents documents(settings, state, m_db, m_prompter, output);
    ReportTable first, second;
    ASSERT_TRUE(CollectReportTable(documents.prepareSummary(), &first, nullptr));
    ASSERT_TRUE(documents.RunSummary(true));
    ASSERT_TRUE(CollectReportTable(documents.summary().report(), &second, nullptr));
    EXPECT_EQ(first.rows, second.rows);
    ASSERT_EQ(first.rows.size(), 3);
    // Equal names in the order they were stored.
    EXPECT_EQ(first.rows[0], cells({"Jones, A", "20.00", "0.00", "20.00", "1.00", "19.00"}));
    EXPECT_EQ(first.rows[1], cells({"Jones, A", "15.00", "0.00", "15.00", "0.75", "14.25"}));
    EXPECT_EQ(first.rows[2], cells({"Total", "35.00", "0.00", "35.00", "1.75", "33.25"}));
    EXPECT_DOUBLE_EQ(documents.summary().totals().fees, 35);
}

TEST_P(SummaryTest, DataSetNamesWithApostrophesAndEmptyDataSets)
{
    state.CurrentDataSet = QStringLiteral("Feb '05");
    TestDoctor d;
    d.id = QStringLiteral("1");
    d.sname = QStringLiteral("O'Neill");
    d.fname = QStringLiteral("Pat");
    addDoctor(d, state.CurrentDataSet);
    TestShift s;
    s.total = 12.5;
    addShift(QStringLiteral("1"), s, state.CurrentDataSet);
    EXPECT_EQ(table().rows.first(), cells({"O'Neill, P", "12.50", "0.00", "12.50", "", "12.50"}));

    state.CurrentDataSet = QStringLiteral("nothing here");
    const ReportTable empty = table();
    EXPECT_EQ(empty.rows, QList<QStringList>{cells({"Total", "0.00", "0.00", "0.00", "", "0.00"})});
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_P(SummaryTest, BothSummariesOrderNamesIgnoringCaseAndAccents)
{
    const char* names[] = {"Zimmermann", "de Souza", "Baker", "Ábrahám", "van der Berg", "Carter"};
    for (int i = 0; i < 6; ++i) {
        doctor(QString::number(i), QString::fromUtf8(names[i]), QStringLiteral("Kim"), 0);
        record(QString::number(i), 10);
    }
    for (const bool solo : {false, true}) {
        settings.Solo = solo;
        QStringList order;
        for (const QStringList& row : table().rows)
            order.append(row.first());
        EXPECT_EQ(order.mid(0, 6), (QStringList{QString::fromUtf8("Ábrahám, K"), QStringLiteral("Baker, K"),
                                                QStringLiteral("Carter, K"), QStringLiteral("de Souza, K"),
                                                QStringLiteral("van der Berg, K"), QStringLiteral("Zimmermann, K")}))
            << (solo ? "pension summary" : "payments summary");
    }
}

// Half pennies: a doctor's records summed in another order print another penny (300.045 against
// 300.04499999999996). Stored out of recno order, and read again after the server has re-planned, both
// summaries add them in recno order on either store.
TEST_P(SummaryTest, BothSummariesAddEachDoctorsRecordsInRecordOrder)
{
    doctor(QStringLiteral("1"), QStringLiteral("Tie"), QStringLiteral("Amy"), 0);
    const struct
    {
        int recno;
        int minutes;
        double perHour;
    } records[] = {{3, 3, 0.6}, {1, 1, 0.3}, {2, 1, 0.6}};
    for (const auto& r : records) {
        m_recno = r.recno - 1;
        record(QStringLiteral("1"), 100, r.minutes, r.perHour);
    }
    for (const bool vacuumed : {false, true}) {
        if (vacuumed && onServer())
            exec(QStringLiteral("VACUUM ANALYZE"));
        settings.Solo = false;
        EXPECT_EQ(table().rows.first(), cells({"Tie, A", "300.00", "0.04", "300.04", "", "300.04"}));
        settings.Solo = true;
        const QStringList pension = table().rows.first();
        EXPECT_EQ(pension.value(3), QStringLiteral("300.04")); // net fees
        EXPECT_EQ(pension.value(7), QStringLiteral("300.04")); // net payment
    }
}

// Another clerk's write between the summary's two reads (the doctors, then their records) reaches
// neither: the summary is of one moment.
TEST_P(SummaryTest, AWriteBetweenItsTwoReadsIsNotSeen)
{
    sqlite3* handle = SqliteHandle(m_db);
    if (!handle)
        GTEST_SKIP() << "a server keeps each statement's own snapshot";
    doctor(QStringLiteral("1"), QStringLiteral("Jones"), QStringLiteral("Ann"), 0);
    record(QStringLiteral("1"), 10);
    struct Writer
    {
        QByteArray file;
        bool wrote = false;
    } writer{QFile::encodeName(m_db.databaseName())};
    const auto beforeRecords = [](unsigned, void* context, void* statement, void*) {
        auto* w = static_cast<Writer*>(context);
        const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
        if (w->wrote || !sql || !std::strstr(sql, "FROM Details"))
            return 0;
        w->wrote = true;
        sqlite3* other = nullptr;
        if (sqlite3_open(w->file.constData(), &other) == SQLITE_OK)
            sqlite3_exec(other, "UPDATE Details SET Total = Total + 1000", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        return 0;
    };
    sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, beforeRecords, &writer);
    const ReportTable t = table();
    sqlite3_trace_v2(handle, 0, nullptr, nullptr);
    EXPECT_TRUE(writer.wrote);
    EXPECT_EQ(t.rows.value(0), cells({"Jones, A", "10.00", "0.00", "10.00", "", "10.00"}));
}

class PensionSummaryTest : public SummaryTest
{
protected:
    void SetUp() override
    {
        SummaryTest::SetUp();
        settings.Solo = true;
        settings.Employerannuation = 14;
        setSuperannuation(5);
    }
};
VELMAR_ON_EACH_STORE(PensionSummaryTest);

TEST_P(PensionSummaryTest, WorkedExample)
{
    doctor(QStringLiteral("1"), QStringLiteral("Smith"), QStringLiteral("John"), 2);
    record(QStringLiteral("1"), 100.004);
    record(QStringLiteral("1"), 50.003);
    const ReportTable t = table();
    EXPECT_EQ(t.headings, cells({"Name", "Fees", "Adjustments", "Net Fees", "Superannuable Fees", "Annuity",
                                 "Extra Annuity", "Net Payment", "Employer Contribution", "Total"}));
    ASSERT_EQ(t.rows.size(), 3);
    EXPECT_EQ(t.rows[0],
              cells({"Smith, J", "150.01", "0.00", "150.01", "0.00", "7.50", "3.00", "139.51", "21.00", "31.50"}));
    EXPECT_EQ(t.rows[1], cells({"Northbridge PCT", "150.01", "0.00", "150.01", "0.00", "7.50", "3.00", "139.51",
                                "21.00", "31.50"}));
    EXPECT_EQ(t.rows[2],
              cells({"Total", "150.01", "0.00", "150.01", "0.00", "7.50", "3.00", "139.51", "21.00", "31.50"}));
    // The annuity itself is not rounded.
    PdfFileOutput unused(path(QStringLiteral("unused.pdf")));
    Documents documents(settings, state, m_db, m_prompter, unused);
    ReportTable again;
    ASSERT_TRUE(CollectReportTable(documents.prepareSummary(), &again, nullptr));
    EXPECT_NEAR(documents.soloSummary().totals()[PensionSummaryReport::Annuity], 7.50035, 1e-9);
}

TEST_P(PensionSummaryTest, GroupsByHostPctWithSubtotalLines)
{
    doctor(QStringLiteral("1"), QStringLiteral("Adams"), QStringLiteral("Amy"), 0, QStringLiteral("A PCT"));
    doctor(QStringLiteral("2"), QStringLiteral("Brown"), QStringLiteral("Ben"), 0, QStringLiteral("A PCT"));
    doctor(QStringLiteral("3"), QStringLiteral("Clark"), QStringLiteral("Cat"), 0, QStringLiteral("B PCT"));
    doctor(QStringLiteral("4"), QStringLiteral("Davis"), QStringLiteral("Dan"), 0, QStringLiteral("B PCT"),
           QStringLiteral("Y"));
    doctor(QStringLiteral("5"), QStringLiteral("Evans"), QStringLiteral("Eve"), 0, QString());
    for (const char* id : {"1", "2", "3", "4", "5"})
        record(QString::fromUtf8(id), 100, 0, 0, 100);
    const ReportTable t = table();
    QStringList names;
    for (const QStringList& row : t.rows)
        names.append(row.first());
    // Empty host PCT sorts first and closes with a subtotal line of its own with no name.
    EXPECT_EQ(names,
              cells({"Evans, E", "", "Adams, A", "Brown, B", "A PCT", "Clark, C", "Davis, D", "B PCT", "Total"}));
    EXPECT_EQ(t.rows[4],
              cells({"A PCT", "200.00", "0.00", "200.00", "200.00", "10.00", "0.00", "190.00", "28.00", "38.00"}));
    // Davis is outside the scheme: no contributions, paid his net fees; his fees still count.
    EXPECT_EQ(t.rows[6],
              cells({"Davis, D", "100.00", "0.00", "100.00", "100.00", "0.00", "0.00", "100.00", "0.00", "0.00"}));
    EXPECT_EQ(t.rows[7],
              cells({"B PCT", "200.00", "0.00", "200.00", "200.00", "5.00", "0.00", "195.00", "14.00", "19.00"}));
    EXPECT_EQ(t.rows[8],
              cells({"Total", "500.00", "0.00", "500.00", "500.00", "20.00", "0.00", "480.00", "56.00", "76.00"}));

    // On paper: landscape, subtotal 7.5 mm under its doctor, every amount under its column.
    const PdfText pdf = summaryPdf();
    ASSERT_EQ(pdf.pageCount(), 1);
    EXPECT_NEAR(pdf.pageSize(1).width(), 297, 0.5);
    EXPECT_TRUE(pdf.contains(QStringLiteral("Payment's Summary for February 2005 Pay Run")));
    const PdfWord brown = pdf.only(QStringLiteral("Brown, B"));
    const PdfWord groupA = pdf.only(QStringLiteral("A PCT"));
    EXPECT_NEAR(groupA.box.top() - brown.box.top(), 7.5, 0.3);
    EXPECT_NEAR(groupA.box.left(), kLeft, kTolerance);
    const PdfWord adams = pdf.only(QStringLiteral("Adams, A"));
    // A doctor line without a subtotal is 23 units (3.65 mm) high.
    EXPECT_NEAR(brown.box.top() - adams.box.top(), 23 / 160.0 * 25.4, 0.2);
    // The next group starts 90 units (14.29 mm) below the closing doctor's line.
    EXPECT_NEAR(pdf.only(QStringLiteral("Clark, C")).box.top() - brown.box.top(), 90 / 160.0 * 25.4, 0.2);

    const double rights[] = {59.4, 88.4, 111.4, 136.8, 163.5, 181.6, 212.1, 239.9, 270.4};
    // "Total" heads the last column too; the total line is the lower one.
    for (const PdfWord& line : {adams, groupA, pdf.find(QStringLiteral("Total")).last()}) {
        QList<PdfWord> amounts;
        for (const auto& l : pdf.lines()) {
            for (const PdfWord& w : l) {
                if (std::abs(w.box.top() - line.box.top()) < 0.5 && w.text.contains(u'.'))
                    amounts.append(w);
            }
        }
        std::sort(amounts.begin(), amounts.end(),
                  [](const PdfWord& a, const PdfWord& b) { return a.box.left() < b.box.left(); });
        ASSERT_EQ(amounts.size(), 9) << line.text.toStdString();
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(amounts[i].box.right(), kLeft + rights[i], kTolerance) << line.text.toStdString() << " " << i;
    }
    const PdfWord page = pdf.only(QStringLiteral("1"));
    EXPECT_NEAR(page.box.right(), kLeft + 269.2, kTolerance);
    EXPECT_TRUE(pdf.contains(QStringLiteral("01/03/2005")));
    EXPECT_FALSE(pdf.contains(QStringLiteral("Printed:")));
}

TEST_P(PensionSummaryTest, RatesBelowATenthAndTheSuperannuableBase)
{
    doctor(QStringLiteral("1"), QStringLiteral("Smith"), QStringLiteral("John"), 2);
    record(QStringLiteral("1"), 100, 0, 0, 80);
    {
        SCOPED_TRACE("whole fees are the base; the superannuable column still shows the recorded part");
        const ReportTable t = table();
        EXPECT_EQ(t.rows[0],
                  cells({"Smith, J", "100.00", "0.00", "100.00", "80.00", "5.00", "2.00", "93.00", "14.00", "21.00"}));
    }
    {
        SCOPED_TRACE("split fees: only the superannuable part is the base");
        settings.PartSuperannuation = true;
        const ReportTable t = table();
        EXPECT_EQ(t.rows[0],
                  cells({"Smith, J", "100.00", "0.00", "100.00", "80.00", "4.00", "1.60", "94.40", "11.20", "16.80"}));
    }
    {
        SCOPED_TRACE("no superannuation: the annuity shows 0.00, its total nothing");
        setSuperannuation(0.09);
        const ReportTable t = table();
        EXPECT_EQ(t.rows[0],
                  cells({"Smith, J", "100.00", "0.00", "100.00", "80.00", "0.00", "1.60", "98.40", "11.20", "12.80"}));
        EXPECT_EQ(t.rows[2],
                  cells({"Total", "100.00", "0.00", "100.00", "80.00", "", "1.60", "98.40", "11.20", "12.80"}));
    }
}
