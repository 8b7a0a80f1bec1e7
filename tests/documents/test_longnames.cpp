// Real names, labels and amounts on paper: what does not fit its column shrinks (a text down to
// 6 pt, then cut with an ellipsis; an amount as far as it must), and nothing runs into its neighbour.
#include "core/clock.h"
#include "documents/documents.h"
#include "documents/reportsfixture.h"
#include "report/reportoutput.h"

#include <algorithm>
#include <cmath>

using namespace velmar;
using namespace velmar::test;

namespace {

constexpr double kMargin = 12.7;
constexpr double kEdge = 0.15; // what pdftotext's boxes may stick out

const QString kLongSurname = QStringLiteral("Featherstonehaugh-Worthington");
// 58 characters: a title that ran off both sides of the page.
const QString kLongLabel = QStringLiteral("February 2005 Pay Run - Eastmoor, Northbridge and Westvale");

class LongNamesTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        TestDoctor d;
        d.id = QStringLiteral("1001");
        d.fname = QStringLiteral("Marguerite");
        d.sname = kLongSurname;
        d.annuity = 2;
        addDoctor(d);
    }

    PdfText summaryPdf()
    {
        const QString file = path(QStringLiteral("summary.pdf"));
        PdfFileOutput output(file);
        Documents documents(settings, state, m_db, m_prompter, output);
        EXPECT_TRUE(documents.RunSummary(true));
        PdfText pdf;
        pdf.load(file);
        return pdf;
    }

    // The words printed on the line of the first word that starts with prefix, left to right: their
    // bottoms agree within a millimetre (a shrunk text keeps the line's baseline; pdftotext alone
    // would put it on a line of its own).
    static QList<PdfWord> lineOf(const PdfText& pdf, const QString& prefix)
    {
        QList<PdfWord> words;
        for (const QList<PdfWord>& line : pdf.lines())
            words += line;
        const auto first =
            std::find_if(words.begin(), words.end(), [&](const PdfWord& w) { return w.text.startsWith(prefix); });
        if (first == words.end()) {
            ADD_FAILURE() << "no line with " << prefix.toStdString();
            return {};
        }
        const PdfWord anchor = *first;
        QList<PdfWord> line;
        for (const PdfWord& w : words)
            if (w.page == anchor.page && std::abs(w.box.bottom() - anchor.box.bottom()) < 1.0)
                line.append(w);
        std::sort(line.begin(), line.end(),
                  [](const PdfWord& a, const PdfWord& b) { return a.box.left() < b.box.left(); });
        return line;
    }

    const FixedClock m_clock{QDateTime(QDate(2005, 3, 1), QTime(9, 30))};
};

// Words of a line between two x positions (millimetres from the page's left edge).
QList<PdfWord> between(const QList<PdfWord>& line, double left, double right)
{
    QList<PdfWord> result;
    for (const PdfWord& w : line)
        if (w.box.center().x() > left && w.box.center().x() < right)
            result.append(w);
    return result;
}

} // namespace

TEST_F(LongNamesTest, InvoiceAmountsAreNeverCutAndLongPagesSayWhoseTheyAre)
{
    TestShift big;
    big.location = QStringLiteral("Westgate Community Hospital Minor Injuries Unit");
    big.rate = 1234.5;
    big.total = 123456.78;
    addShift(QStringLiteral("1001"), big);
    for (int i = 0; i < 40; ++i)
        addShift(QStringLiteral("1001"), TestShift());
    state.CurrentDataSetLabel = kLongLabel;
    const PdfText pdf = invoiceText(QStringLiteral("1001"));
    ASSERT_EQ(pdf.pageCount(), 2);

    const QList<PdfWord> row = lineOf(pdf, QStringLiteral("Westgate"));
    // The fee column (84.2 mm, 11.6 wide): every digit, inside the column, clear of the rate.
    const QList<PdfWord> fee = between(row, kMargin + 84.2, kMargin + 95.8);
    ASSERT_EQ(fee.size(), 1);
    EXPECT_EQ(fee.first().text, QStringLiteral("123456.78"));
    EXPECT_GE(fee.first().box.left(), kMargin + 84.2 + 0.5);
    EXPECT_NEAR(fee.first().box.right(), kMargin + 84.2 + 11.6, 0.3);
    // The location shrinks and is cut before the shift column at 36.2 mm.
    const QList<PdfWord> location = between(row, kMargin + 17.7, kMargin + 36.2);
    ASSERT_FALSE(location.isEmpty());
    EXPECT_LE(location.last().box.right(), kMargin + 17.7 + 18.2 + kEdge);
    EXPECT_TRUE(location.last().text.endsWith(QChar(0x2026))) << location.last().text.toStdString();
    EXPECT_EQ(between(row, kMargin + 36.2, kMargin + 57.7).size(), 1); // "Day" alone in the shift column

    // The title with a long label stays on the page, whole.
    const PdfWord title = pdf.only(QStringLiteral("Shift Payment for ") + kLongLabel);
    EXPECT_GE(title.box.left(), kMargin - kEdge);
    EXPECT_LE(title.box.right(), 210 - kMargin + kEdge);
    EXPECT_NEAR(title.box.center().x(), 105, 0.5);

    // Both pages end with whose invoice they are.
    for (int page = 1; page <= 2; ++page) {
        const PdfWord footer =
            pdf.only(QStringLiteral("Dr Marguerite %1 - DS1 - page %2 of 2").arg(kLongSurname).arg(page), page);
        EXPECT_GT(footer.box.top(), 297 - kMargin - 5);
        EXPECT_NEAR(footer.box.center().x(), 105, 0.5);
    }
}

TEST_F(LongNamesTest, SummaryNamesStopBeforeTheFeesAndTitlesStayOnThePage)
{
    TestShift s;
    s.total = 123456.78;
    s.superfee = s.total;
    addShift(QStringLiteral("1001"), s);
    state.CurrentDataSetLabel = kLongLabel;
    settings.Superannuation = 6;
    settings.NoSuperannuation = false;
    struct Case
    {
        bool pension;
        double pageWidth;
        double feesRight;
    };
    for (const Case c : {Case{false, 210, 52.3}, Case{true, 297, 59.4}}) {
        settings.Solo = c.pension;
        const PdfText pdf = summaryPdf();
        const QList<PdfWord> line = lineOf(pdf, QStringLiteral("Featherstone"));
        const auto feesAt = std::find_if(line.begin(), line.end(),
                                         [](const PdfWord& w) { return w.text == QStringLiteral("123456.78"); });
        ASSERT_TRUE(feesAt != line.end() && feesAt != line.begin()) << c.pension;
        const PdfWord fees = *feesAt;
        EXPECT_LT((feesAt - 1)->box.right(), fees.box.left()) << c.pension;
        EXPECT_NEAR(fees.box.right(), kMargin + c.feesRight, 0.3) << c.pension;
        // Shrunk, not cut: at 6 pt the name still fits.
        EXPECT_TRUE(pdf.contains(kLongSurname + QStringLiteral(", M"))) << c.pension;

        const PdfWord title = pdf.only(QStringLiteral("Payment's Summary for ") + kLongLabel);
        EXPECT_GE(title.box.left(), kMargin - kEdge) << c.pension;
        EXPECT_LE(title.box.right(), c.pageWidth - kMargin + kEdge) << c.pension;
    }
}

TEST_F(LongNamesTest, PensionFormNameStaysInsideItsBox)
{
    settings.Solo = true;
    settings.Employerannuation = 14;
    PdfFileOutput unused(path(QStringLiteral("unused.pdf")));
    Documents documents(settings, state, m_db, m_prompter, unused);
    const QString file = path(QStringLiteral("form.pdf"));
    QString error;
    ASSERT_TRUE(documents.ProducePensionForm(file, doctorRow(QStringLiteral("1001")), 1234567.89, 74074.07, 24691.36,
                                             172839.50, &error))
        << error.toStdString();
    PdfText pdf;
    ASSERT_TRUE(pdf.load(file));
    const QList<PdfWord> name = lineOf(pdf, QStringLiteral("Marguerite"));
    const QList<PdfWord> inBox = between(name, kMargin + 65.0, kMargin + 141.0);
    ASSERT_FALSE(inBox.isEmpty());
    EXPECT_LE(inBox.last().box.right(), kMargin + 141.0 + kEdge);
    EXPECT_TRUE(pdf.contains(QStringLiteral("Marguerite ") + kLongSurname));
    // Box A (127.9 to 159.8 mm) holds the whole amount; its letter stays outside at 174.9.
    const PdfWord a = pdf.find(QStringLiteral("1234567.89")).value(0);
    EXPECT_LE(a.box.right(), kMargin + 127.9 + 31.9 + kEdge);
}
