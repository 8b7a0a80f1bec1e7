#include "core/clock.h"
#include "documents/documents.h"
#include "documents/pensionformreport.h"
#include "documents/reportsfixture.h"
#include "report/report.h"
#include "report/reportoutput.h"

#include <QFile>

using namespace velmar;
using namespace velmar::test;

namespace {

constexpr double kLeft = 12.7;
constexpr double kTop = 6.35;
constexpr double kTolerance = 1.0;

// Remembers what the form routine asked of the screen and the printer.
class RecordingOutput : public ReportOutput
{
public:
    bool preview(Report& report, QString*) override
    {
        calls.append(QStringLiteral("preview ") + report.name());
        return true;
    }
    bool print(Report& report, QString*) override
    {
        calls.append(QStringLiteral("print ") + report.name());
        return true;
    }
    QStringList calls;
};

// The words of the line at a page position, with their boxes, left to right.
QList<PdfWord> wordsOnLine(const PdfText& pdf, double top)
{
    QList<PdfWord> words;
    for (const auto& line : pdf.lines()) {
        for (const PdfWord& w : line) {
            if (std::abs(w.box.top() - top) < 0.5)
                words.append(w);
        }
    }
    std::sort(words.begin(), words.end(),
              [](const PdfWord& a, const PdfWord& b) { return a.box.left() < b.box.left(); });
    return words;
}

class PensionFormTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        settings.Solo = true;
        settings.NHSPSAuthority = QStringLiteral("VELMAR OUT-OF-HOURS");
        settings.NHSEACode = QStringLiteral("V1234");
        TestDoctor d;
        d.id = QStringLiteral("1001");
        d.fname = QStringLiteral("Alan");
        d.sname = QStringLiteral("Ashworth");
        addDoctor(d);
    }

    // The form for doctor 1001 written to a PDF and read back.
    PdfText form(double pay, double employee, double additional, double employer)
    {
        PdfFileOutput unused(path(QStringLiteral("unused.pdf")));
        Documents documents(settings, state, m_db, m_prompter, unused);
        const QString file = path(QStringLiteral("form.pdf"));
        QString error;
        EXPECT_TRUE(documents.ProducePensionForm(file, doctorRow(QStringLiteral("1001")), pay, employee, additional,
                                                 employer, &error))
            << error.toStdString();
        membershipCaption = documents.pensionForm()[QStringLiteral("qrNHSPS_No")].caption;
        EXPECT_TRUE(PdfIsSound(file));
        PdfText pdf;
        pdf.load(file);
        return pdf;
    }

    QStringList ninoBoxes(const PdfText& pdf)
    {
        QStringList chars;
        const double boxX[] = {65.1, 71.5, 78.9, 85.3, 92.7, 99.1, 106.5, 112.8, 120.3};
        for (const PdfWord& w : wordsOnLine(pdf, kTop + 44.5)) {
            if (w.box.left() < kLeft + 60)
                continue; // the label
            const double* box = std::min_element(std::begin(boxX), std::end(boxX), [&](double a, double b) {
                return std::abs(kLeft + a + 0.9 - w.box.left()) < std::abs(kLeft + b + 0.9 - w.box.left());
            });
            EXPECT_NEAR(w.box.left(), kLeft + *box + 0.9, kTolerance) << w.text.toStdString();
            chars.append(w.text);
        }
        return chars;
    }

    QString membershipCaption;
};
VELMAR_ON_EACH_STORE(PensionFormTest);

} // namespace

TEST_P(PensionFormTest, EnglandAndWalesFormCarriesTheDoctorAndBoxesAToG)
{
    settings.Employerannuation = 14;
    const PdfText pdf = form(765, 45.9, 15.3, 107.1);
    ASSERT_EQ(pdf.pageCount(), 1);
    EXPECT_NEAR(pdf.pageSize(1).width(), 210, 0.5);

    const PdfWord solo = pdf.only(QStringLiteral("GP SOLO"));
    EXPECT_NEAR(solo.box.left(), kLeft + 168.7, kTolerance);
    EXPECT_NEAR(solo.box.top(), kTop + 2.0, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("(Out of Hours / Primary Medical Services)")).box.left(), kLeft + 50.8,
                kTolerance);
    EXPECT_TRUE(pdf.contains(
        QStringLiteral("on the Medical Performeds List and I am eligible to join the NHS Pension Scheme.")));
    EXPECT_TRUE(pdf.contains(QStringLiteral("Please tick one of the following boxes:")));

    const PdfWord name = pdf.only(QStringLiteral("Alan Ashworth"));
    EXPECT_NEAR(name.box.left(), kLeft + 67.3, kTolerance);
    EXPECT_NEAR(name.box.top(), kTop + 36.2, kTolerance);
    EXPECT_EQ(ninoBoxes(pdf), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("1"),
                                           QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                                           QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("C")}));
    EXPECT_EQ(membershipCaption, QStringLiteral("SD  /  1234567"));
    EXPECT_NEAR(pdf.only(QStringLiteral("SD / 1234567")).box.left(), kLeft + 67.3, kTolerance);
    const PdfWord pct = pdf.only(QStringLiteral("Northbridge PCT"));
    EXPECT_NEAR(pct.box.left(), kLeft + 67.3, kTolerance);
    EXPECT_NEAR(pct.box.top(), kTop + 60.3, kTolerance);
    const PdfWord month = pdf.only(QStringLiteral("February 2005 Pay Run"));
    EXPECT_NEAR(month.box.left(), kLeft + 96.5, kTolerance);
    EXPECT_NEAR(month.box.top(), kTop + 121.9, kTolerance);

    const struct
    {
        const char* letter;
        double y;
        const char* value;
    } boxes[] = {{"A", 131.2, "765.00"}, {"B", 139.5, "NIL"},    {"C", 148.6, "765.00"}, {"D", 157.3, "45.90"},
                 {"E", 166.0, "15.30"},  {"F", 175.4, "107.10"}, {"G", 184.3, "168.30"}};
    for (const auto& b : boxes) {
        const QList<PdfWord> line = wordsOnLine(pdf, kTop + b.y);
        QStringList right; // what stands right of the labels: "£", the value, the letter
        for (const PdfWord& w : line) {
            if (w.box.left() > kLeft + 127)
                right.append(w.text);
        }
        EXPECT_EQ(right,
                  (QStringList{QStringLiteral("\u00a3"), QString::fromUtf8(b.value), QString::fromUtf8(b.letter)}))
            << b.letter;
        for (const PdfWord& w : line) {
            if (w.text == u"\u00a3") {
                EXPECT_NEAR(w.box.left(), kLeft + 129.9, kTolerance) << b.letter;
            } else if (w.text == QString::fromUtf8(b.value) && w.box.left() > kLeft + 127) {
                EXPECT_NEAR(w.box.left(), kLeft + 133.3, kTolerance) << b.letter;
            } else if (w.text == QString::fromUtf8(b.letter)) {
                EXPECT_NEAR(w.box.left(), kLeft + 174.9, kTolerance) << b.letter;
            }
        }
    }

    const PdfWord authority = pdf.only(QStringLiteral("VELMAR OUT-OF-HOURS"));
    EXPECT_NEAR(authority.box.left(), kLeft + 64.8, kTolerance);
    EXPECT_NEAR(authority.box.top(), kTop + 238.8, kTolerance);
    const PdfWord code = pdf.only(QStringLiteral("V1234"));
    EXPECT_NEAR(code.box.left(), kLeft + 64.8, kTolerance);
    EXPECT_NEAR(code.box.top(), kTop + 246.4, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("may be acceptable,")).box.top(), kTop + 270.0, kTolerance);
}

TEST_P(PensionFormTest, TenPercentOrLessSelectsTheNorthernIrelandForm)
{
    settings.Employerannuation = 10;
    const PdfText ni = form(100, 6, 0, 7);
    EXPECT_TRUE(ni.contains(QStringLiteral("GP SOLO (NI)")));
    EXPECT_NEAR(ni.only(QStringLiteral("GP SOLO (NI)")).box.left(), kLeft + 162.6, kTolerance);
    EXPECT_EQ(membershipCaption, QStringLiteral("SB  /  1234567"));
    EXPECT_TRUE(ni.contains(QStringLiteral("HPSS Superannuation Scheme employer contributions (7% of Box C)")));
    EXPECT_FALSE(ni.contains(QStringLiteral("Please tick one of the following boxes:")));
    EXPECT_FALSE(ni.contains(QStringLiteral("e.g. W301 or 7654")));
    EXPECT_NEAR(
        ni.only(QStringLiteral("I have paid the amount shown in Box G to the Department by electronic transfer"))
            .box.top(),
        kTop + 212.6, kTolerance);
    EXPECT_NEAR(ni.only(QStringLiteral("VELMAR OUT-OF-HOURS")).box.left(), kLeft + 75.5, kTolerance);
    EXPECT_NEAR(ni.only(QStringLiteral("V1234")).box.left(), kLeft + 74.9, kTolerance);

    settings.Employerannuation = 10.01;
    const PdfText sd = form(100, 6, 0, 7);
    EXPECT_FALSE(sd.contains(QStringLiteral("GP SOLO (NI)")));
    EXPECT_TRUE(sd.contains(QStringLiteral("GP SOLO")));
    EXPECT_EQ(membershipCaption, QStringLiteral("SD  /  1234567"));
}

TEST_P(PensionFormTest, NationalInsuranceNumberFillsAtMostNineBoxes)
{
    exec(QStringLiteral("UPDATE Headers SET nino = 'AB123456CDE'"));
    EXPECT_EQ(ninoBoxes(form(1, 0, 0, 0)).join(QString()), QStringLiteral("AB123456C"));
    exec(QStringLiteral("UPDATE Headers SET nino = 'XY12'"));
    EXPECT_EQ(ninoBoxes(form(1, 0, 0, 0)).join(QString()), QStringLiteral("XY12"));
    exec(QStringLiteral("UPDATE Headers SET nino = NULL"));
    EXPECT_TRUE(ninoBoxes(form(1, 0, 0, 0)).isEmpty());
}

TEST_P(PensionFormTest, BoxGIsTheSumOfTheAmountsAsPassed)
{
    const PdfText pdf = form(205.6, 12.34, 0, 28.8);
    EXPECT_EQ(wordsOnLine(pdf, kTop + 184.3).last().text, QStringLiteral("G"));
    const QList<PdfWord> g = wordsOnLine(pdf, kTop + 184.3);
    EXPECT_EQ(g.at(g.size() - 2).text, QStringLiteral("41.14"));
    EXPECT_EQ(pdf.find(QStringLiteral("205.60")).size(), 2); // boxes A and C
    EXPECT_TRUE(pdf.contains(QStringLiteral("NIL")));
}

TEST_P(PensionFormTest, EmptyFileNameGoesToThePreviewOrThePrinterAndFailuresComeBack)
{
    RecordingOutput output;
    Documents documents(settings, state, m_db, m_prompter, output);
    const QSqlRecord doctor = doctorRow(QStringLiteral("1001"));
    QString error;
    ASSERT_TRUE(documents.ProducePensionForm(QString(), doctor, 1, 2, 3, 4, &error));
    state.PreviewPensionForm = true;
    ASSERT_TRUE(documents.ProducePensionForm(QString(), doctor, 1, 2, 3, 4, &error));
    settings.Employerannuation = 7;
    ASSERT_TRUE(documents.ProducePensionForm(QString(), doctor, 1, 2, 3, 4, &error));
    EXPECT_EQ(output.calls, (QStringList{QStringLiteral("print TfrmSolo"), QStringLiteral("preview TfrmSolo"),
                                         QStringLiteral("preview TfrmSoloIR")}));

    const QString unwritable = path(QStringLiteral("missing/solo.pdf"));
    EXPECT_FALSE(documents.ProducePensionForm(unwritable, doctor, 1, 2, 3, 4, &error));
    EXPECT_TRUE(error.contains(unwritable)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(unwritable));
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}
