#include "common/realpeers.h"
#include "core/clock.h"
#include "db/database.h"
#include "documents/documents.h"
#include "documents/invoicereport.h"
#include "documents/reportsfixture.h"
#include "payments/payments.h"
#include "report/reportoutput.h"

#include <QDir>
#include <QFile>

using namespace velmar;
using namespace velmar::test;

namespace {

// Page positions of the invoice: margins 12.7 mm, title band 72.5 mm, column header 4.1 mm,
// detail rows 8.3 mm with their texts 2.0 mm down.
constexpr double kMargin = 12.7;
constexpr double kRight = kMargin + 184.6;
constexpr double kFirstRowTop = kMargin + 72.5 + 4.1 + 2.0;
constexpr double kTolerance = 1.0;

TestShift shift(double rate, double total, int minutes = 0, double perHour = 0, int extra = 0,
                const QString& notes = QStringLiteral(" "))
{
    TestShift s;
    s.rate = rate;
    s.total = total;
    s.adjustmentTime = minutes;
    s.adjustmentRate = perHour;
    s.extra = extra;
    s.notes = notes;
    s.superfee = total;
    return s;
}

class InvoiceTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        TestDoctor d;
        d.id = QStringLiteral("1001");
        d.fname = QStringLiteral("Alan");
        d.sname = QStringLiteral("Ashworth");
        d.annuity = 6;
        addDoctor(d);
        addShift(QStringLiteral("1001"), shift(45, 450, 90, 10, 1, QStringLiteral("Stayed late")));
        TestShift second = shift(30, 300);
        second.date = QStringLiteral("2005-02-12");
        addShift(QStringLiteral("1001"), second);
    }
    const FixedClock m_clock{QDateTime(QDate(2005, 3, 1), QTime(9, 30))};
};
VELMAR_ON_EACH_STORE(InvoiceTest);

} // namespace

TEST_P(InvoiceTest, NormalLayoutPutsEveryKeyControlWhereTheFormHasIt)
{
    setSuperannuation(6);
    const QString file = invoicePdf(QStringLiteral("1001"));
    EXPECT_TRUE(PdfIsSound(file));
    PdfText pdf;
    ASSERT_TRUE(pdf.load(file));
    ASSERT_EQ(pdf.pageCount(), 1);

    const PdfWord header1 = pdf.only(QStringLiteral("Velmar Out-of-Hours Service"));
    EXPECT_NEAR(header1.box.center().x(), 105, kTolerance);
    EXPECT_NEAR(header1.box.top(), kMargin, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("Unit 4, Riverside Park")).box.top(), kMargin + 8.3, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("Tel: 01632 960000")).box.top(), kMargin + 14.8, kTolerance);

    const PdfWord to = pdf.only(QStringLiteral("To:"));
    EXPECT_NEAR(to.box.left(), kMargin, kTolerance);
    EXPECT_NEAR(to.box.top(), kMargin + 21.1, kTolerance);
    // The name is in the page footer too, further down.
    const PdfWord name = pdf.find(QStringLiteral("Dr Alan Ashworth")).first();
    EXPECT_NEAR(name.box.left(), kMargin + 10.6, kTolerance);
    EXPECT_NEAR(name.box.top(), kMargin + 21.1, kTolerance);
    const PdfWord street = pdf.only(QStringLiteral("1 High Street"));
    EXPECT_NEAR(street.box.left(), kMargin + 10.6, kTolerance);
    EXPECT_NEAR(street.box.top(), kMargin + 25.2, kTolerance);
    const PdfWord date = pdf.only(QStringLiteral("Date: 01/03/2005"));
    EXPECT_NEAR(date.box.right(), kRight, kTolerance);
    EXPECT_NEAR(date.box.top(), kMargin + 21.1, kTolerance);
    const PdfWord title = pdf.only(QStringLiteral("Shift Payment for February 2005 Pay Run"));
    EXPECT_NEAR(title.box.center().x(), 105, kTolerance);
    EXPECT_NEAR(title.box.top(), kMargin + 61.1, kTolerance);

    const double headingTop = kMargin + 72.5;
    const struct
    {
        const char* text;
        double edge;
        bool right;
    } headings[] = {{"Date", 0, false},           {"Location", 17.5, false}, {"Shift", 36.0, false},
                    {"Times", 57.9, false},       {"Rate", 76.7, false},     {"Fee", 95.3, true},
                    {"Adjustments", 118.4, true}, {"Net Fee", 184.6, true}};
    for (const auto& h : headings) {
        // "Shift" and "Fee" stand elsewhere too: the heading is the leftmost on the heading line.
        PdfWord w;
        for (const PdfWord& candidate : pdf.find(QString::fromUtf8(h.text))) {
            if (std::abs(candidate.box.top() - headingTop) < kTolerance &&
                (w.text.isEmpty() || candidate.box.left() < w.box.left()))
                w = candidate;
        }
        EXPECT_NEAR(h.right ? w.box.right() : w.box.left(), kMargin + h.edge, kTolerance) << h.text;
        EXPECT_NEAR(w.box.top(), headingTop, kTolerance) << h.text;
    }

    // First row: amounts right-aligned to their columns, two decimals, the adjustment of 90 minutes.
    EXPECT_EQ(pdf.wordsAt(kFirstRowTop),
              (QStringList{QStringLiteral("05/02/2005"), QStringLiteral("Base"), QStringLiteral("Day"),
                           QStringLiteral("08:00-18:00"), QStringLiteral("45.00"), QStringLiteral("450.00"),
                           QStringLiteral("15.00"), QStringLiteral("Stayed"), QStringLiteral("late"),
                           QStringLiteral("465.00")}));
    const PdfWord rate = pdf.only(QStringLiteral("45.00"));
    EXPECT_NEAR(rate.box.right(), kMargin + 75.4 + 8.9, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("450.00")).box.right(), kMargin + 84.2 + 11.6, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("15.00")).box.right(), kMargin + 96.6 + 12.9, kTolerance);
    EXPECT_NEAR(pdf.only(QStringLiteral("465.00")).box.right(), kRight, kTolerance);
    // Second row: no adjustment, so nothing in its column.
    EXPECT_EQ(pdf.wordsAt(kFirstRowTop + 8.3),
              (QStringList{QStringLiteral("12/02/2005"), QStringLiteral("Base"), QStringLiteral("Day"),
                           QStringLiteral("08:00-18:00"), QStringLiteral("30.00"), QStringLiteral("300.00"),
                           QStringLiteral("300.00")}));

    // Totals: 765.00 less 6 % superannuation.
    const double summaryTop = kFirstRowTop - 2.0 + 2 * 8.3;
    const struct
    {
        const char* caption;
        double y;
        const char* amount;
    } lines[] = {{"Total", 2.4, "765.00"}, {"Supperanuuation", 14.9, "45.90"}, {"Net Payment", 27.6, "719.10"}};
    for (const auto& l : lines) {
        const PdfWord caption = pdf.only(QString::fromUtf8(l.caption));
        EXPECT_NEAR(caption.box.left(), kMargin + 105.9, kTolerance) << l.caption;
        EXPECT_NEAR(caption.box.top(), summaryTop + l.y, kTolerance) << l.caption;
        const PdfWord amount = pdf.only(QString::fromUtf8(l.amount));
        EXPECT_NEAR(amount.box.right(), kRight, kTolerance) << l.amount;
        EXPECT_NEAR(amount.box.top(), summaryTop + l.y, kTolerance) << l.amount;
    }
    EXPECT_FALSE(pdf.contains(QStringLiteral("Additional")));
    EXPECT_FALSE(pdf.contains(QStringLiteral("Non-Superannuable")));
}

TEST_P(InvoiceTest, ProFormaLayoutStaysTheSameFromOneInvoiceToTheNext)
{
    setSuperannuation(6);
    settings.ProForma = true;
    settings.Add1 = QStringLiteral("Velmar Payments Office");
    settings.Add2 = QStringLiteral("Unit 4");
    settings.Add3 = QStringLiteral("Riverside Park");
    settings.Add4 = QStringLiteral("Northbridge");
    settings.Add5 = QStringLiteral("Eastshire");
    settings.Add6 = QStringLiteral("NB1 1RP");
    TestDoctor b;
    b.id = QStringLiteral("1002");
    b.fname = QStringLiteral("Bridget");
    b.sname = QStringLiteral("Bell");
    b.add1 = QStringLiteral("Flat 3");
    b.add2 = QStringLiteral("27 Quay Street");
    addDoctor(b);
    addShift(QStringLiteral("1002"), shift(35, 315));

    PdfFolderOutput output(m_dir.path());
    Documents documents(settings, state, m_db, m_prompter, output);
    // A failing run in between must not leave the form moved either.
    EXPECT_FALSE(
        documents.ProduceInvoice(doctorRow(QStringLiteral("1001")), {}, QStringLiteral("SELECT nonsense"), false));
    ASSERT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: Error in query: SELECT nonsense\n")});
    for (const QString& id : {QStringLiteral("1001"), QStringLiteral("1002")})
        EXPECT_TRUE(documents.ProduceInvoice(doctorRow(id), shiftRows(id),
                                             ShiftRowsStatement(QStringLiteral("DS1"), id), false));
    EXPECT_EQ(output.files(), (QStringList{QStringLiteral("Ashworth_DS1.pdf"), QStringLiteral("Bell_DS1.pdf")}));

    PdfText first, second;
    ASSERT_TRUE(first.load(path(QStringLiteral("Ashworth_DS1.pdf"))));
    ASSERT_TRUE(second.load(path(QStringLiteral("Bell_DS1.pdf"))));
    for (const PdfText* pdf : {&first, &second}) {
        EXPECT_FALSE(pdf->contains(settings.Name));
        const PdfWord to = pdf->only(QStringLiteral("To:"));
        EXPECT_NEAR(to.box.top(), kMargin + 21.1 + 31.75, kTolerance);
        EXPECT_NEAR(pdf->only(QStringLiteral("Velmar Payments Office")).box.left(), kMargin + 10.6, kTolerance);
        EXPECT_NEAR(pdf->only(QStringLiteral("Unit 4")).box.top(), kMargin + 25.2 + 31.75, kTolerance);
        EXPECT_NEAR(pdf->only(QStringLiteral("Date: 01/03/2005")).box.top(), kMargin + 21.1 + 31.75, kTolerance);
        EXPECT_NEAR(pdf->only(QStringLiteral("Shift Payment for February 2005 Pay Run")).box.top(),
                    kMargin + 72.5 + 31.75 - 12.7, kTolerance);
        EXPECT_NEAR(pdf->only(QStringLiteral("Net Fee")).box.top(), kMargin + 72.5 + 31.75, kTolerance);
    }
    // The doctor stands at the bottom left beside the totals.
    const PdfWord doctor = second.find(QStringLiteral("Dr Bridget Bell")).first();
    const PdfWord total = second.only(QStringLiteral("Total"));
    EXPECT_NEAR(doctor.box.left(), kMargin, kTolerance);
    EXPECT_NEAR(doctor.box.top(), total.box.top() + 0.2, kTolerance);
    EXPECT_GT(second.only(QStringLiteral("27 Quay Street")).box.top(), doctor.box.top());
    // Same places in both; the totals follow each doctor's number of rows, so only their left edges.
    for (const QString& phrase : {QStringLiteral("To:"), QStringLiteral("Location"), QStringLiteral("NB1 1RP")}) {
        EXPECT_NEAR(first.only(phrase).box.top(), second.only(phrase).box.top(), 0.01) << phrase.toStdString();
        EXPECT_NEAR(first.only(phrase).box.left(), second.only(phrase).box.left(), 0.01) << phrase.toStdString();
    }
    for (const QString& phrase : {QStringLiteral("Total"), QStringLiteral("Net Payment")})
        EXPECT_NEAR(first.only(phrase).box.left(), second.only(phrase).box.left(), 0.01) << phrase.toStdString();
}

TEST_P(InvoiceTest, CaptionsFollowTheSettingsAndTheDoctor)
{
    const auto lineText = [&](const PdfText& pdf, const QString& caption) {
        const QList<PdfWord> found = pdf.find(caption);
        return found.isEmpty() ? QStringLiteral("(absent)") : pdf.wordsAt(found.first().box.top()).join(u' ');
    };
    TestDoctor solo;
    solo.id = QStringLiteral("2001");
    solo.fname = QStringLiteral("Carol");
    solo.sname = QStringLiteral("Carter");
    solo.annuity = 2;
    addDoctor(solo);
    TestShift s = shift(40, 400);
    s.superfee = 380;
    s.nonsuperfee = 20;
    addShift(QStringLiteral("2001"), s);

    {
        SCOPED_TRACE("split fees, annuity rates");
        settings.PartSuperannuation = true;
        setSuperannuation(6);
        const PdfText pdf = invoiceText(QStringLiteral("2001"), QStringLiteral("part.pdf"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Total Superannuable")), QStringLiteral("Total Superannuable 380.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Total Non-Superannuable")),
                  QStringLiteral("Total Non-Superannuable 20.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Supperanuuation")), QStringLiteral("Supperanuuation 7.60"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Net Payment")), QStringLiteral("Net Payment 372.40"));
    }
    {
        SCOPED_TRACE("pension-form mode");
        settings.PartSuperannuation = false;
        settings.Solo = true;
        const PdfText pdf = invoiceText(QStringLiteral("2001"), QStringLiteral("solo.pdf"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Total")), QStringLiteral("Total 400.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Superannuation")), QStringLiteral("Superannuation 24.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Additional Contrib")),
                  QStringLiteral("Additional Contrib @ 2.00% 8.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Net Payment")), QStringLiteral("Net Payment 368.00"));
        EXPECT_FALSE(pdf.contains(QStringLiteral("Non-Superannuable")));
    }
    {
        SCOPED_TRACE("paid gross");
        exec(QStringLiteral("UPDATE Headers SET paygross = 'Y' WHERE id = '2001'"));
        const PdfText pdf = invoiceText(QStringLiteral("2001"), QStringLiteral("gross.pdf"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("GROSS Payment")), QStringLiteral("GROSS Payment 400.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Superannuation")), QStringLiteral("Superannuation 24.00"));
        EXPECT_FALSE(pdf.contains(QStringLiteral("Net Payment")));
    }
    {
        SCOPED_TRACE("not in the scheme");
        exec(QStringLiteral("UPDATE Headers SET paygross = 'N', nosolo = 'Y' WHERE id = '2001'"));
        const PdfText pdf = invoiceText(QStringLiteral("2001"), QStringLiteral("nosolo.pdf"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Superannuation")), QStringLiteral("Superannuation 0.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Additional Contrib")),
                  QStringLiteral("Additional Contrib @ 2.00% 0.00"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Net Payment")), QStringLiteral("Net Payment 400.00"));
    }
    {
        SCOPED_TRACE("no superannuation rate: only the totals remain");
        setSuperannuation(0.05);
        const PdfText pdf = invoiceText(QStringLiteral("2001"), QStringLiteral("none.pdf"));
        EXPECT_EQ(lineText(pdf, QStringLiteral("Total")), QStringLiteral("Total 400.00"));
        for (const char* gone : {"Superannuation", "Additional", "Net Payment", "GROSS", "0.00"})
            EXPECT_FALSE(pdf.contains(QString::fromUtf8(gone))) << gone;
    }
}

TEST_P(InvoiceTest, DoctorWithoutShiftRowsGetsTheWholeFormWithZeroAmounts)
{
    setSuperannuation(6);
    TestDoctor d;
    d.id = QStringLiteral("3001");
    d.fname = QStringLiteral("Dana");
    d.sname = QStringLiteral("Dunn");
    addDoctor(d);
    const PdfText pdf = invoiceText(QStringLiteral("3001"));
    EXPECT_TRUE(pdf.contains(QStringLiteral("Shift Payment for February 2005 Pay Run")));
    EXPECT_TRUE(pdf.contains(QStringLiteral("Adjustments")));
    EXPECT_EQ(pdf.wordsAt(pdf.only(QStringLiteral("Total")).box.top()),
              (QStringList{QStringLiteral("Total"), QStringLiteral("0.00")}));
    EXPECT_EQ(pdf.wordsAt(pdf.only(QStringLiteral("Net Payment")).box.top()),
              (QStringList{QStringLiteral("Net"), QStringLiteral("Payment"), QStringLiteral("0.00")}));
    // The summary band follows the column header directly.
    EXPECT_NEAR(pdf.only(QStringLiteral("Total")).box.top(), kMargin + 72.5 + 4.1 + 2.4, kTolerance);
}

TEST_P(InvoiceTest, AddressPartsOfOneSpaceVanishWhileEmptyOnesLeaveALine)
{
    TestDoctor d;
    d.id = QStringLiteral("4001");
    d.fname = QStringLiteral("Eve");
    d.sname = QStringLiteral("Evans");
    d.add1 = QStringLiteral("Mill House");
    d.add2 = QStringLiteral(" ");
    d.town = QStringLiteral("Eastmoor");
    d.county = QString();
    d.postcode = QStringLiteral("EM4 9RR");
    addDoctor(d);
    const PdfText pdf = invoiceText(QStringLiteral("4001"));
    const double house = pdf.only(QStringLiteral("Mill House")).box.top();
    const double town = pdf.only(QStringLiteral("Eastmoor")).box.top();
    const double postcode = pdf.only(QStringLiteral("EM4 9RR")).box.top();
    const double line = town - house;
    EXPECT_NEAR(line, 4.06, 0.3); // one 10 pt line
    EXPECT_NEAR(postcode - town, 2 * line, 0.1);
}

TEST_P(InvoiceTest, DeductionsAndApostrophesPrintAsNumbersAndText)
{
    // A deduction with no time is -0 to the database: still no adjustment.
    addShift(QStringLiteral("1001"), shift(20, 100, 0, 20, -1));
    addShift(QStringLiteral("1001"), shift(20, 100, 30, 20, -1, QStringLiteral("Left early")));
    TestDoctor d;
    d.id = QStringLiteral("O'1");
    d.fname = QStringLiteral("Bridget");
    d.sname = QStringLiteral("O'Connor");
    addDoctor(d);
    addShift(QStringLiteral("O'1"), shift(35, 315));

    const PdfText pdf = invoiceText(QStringLiteral("1001"));
    EXPECT_EQ(pdf.wordsAt(kFirstRowTop + 2 * 8.3).mid(4),
              (QStringList{QStringLiteral("20.00"), QStringLiteral("100.00"), QStringLiteral("100.00")}));
    EXPECT_EQ(pdf.wordsAt(kFirstRowTop + 3 * 8.3).mid(4),
              (QStringList{QStringLiteral("20.00"), QStringLiteral("100.00"), QStringLiteral("-10.00"),
                           QStringLiteral("Left"), QStringLiteral("early"), QStringLiteral("90.00")}));

    const PdfText apostrophes = invoiceText(QStringLiteral("O'1"), QStringLiteral("oconnor.pdf"));
    EXPECT_TRUE(apostrophes.contains(QStringLiteral("Dr Bridget O'Connor")));
    EXPECT_TRUE(apostrophes.contains(QStringLiteral("315.00")));
}

TEST(InvoicePrintHandlers, FormatNumbersAndBlankZeroAdjustments)
{
    const auto money = [](QString text) {
        InvoiceReport::QRDBText6Print(text);
        return text;
    };
    const auto adjustment = [](QString text) {
        InvoiceReport::QRDBText8Print(text);
        return text;
    };
    EXPECT_EQ(money(QStringLiteral("12.5")), QStringLiteral("12.50"));
    EXPECT_EQ(money(QStringLiteral("abc")), QStringLiteral("0.00"));
    EXPECT_EQ(money(QString()), QStringLiteral("0.00"));
    EXPECT_EQ(money(QStringLiteral("-3.456")), QStringLiteral("-3.46"));
    EXPECT_EQ(adjustment(QStringLiteral("0")), QString());
    EXPECT_EQ(adjustment(QStringLiteral("-0")), QString());
    EXPECT_EQ(adjustment(QStringLiteral("0.001")), QString());
    EXPECT_EQ(adjustment(QStringLiteral("26.25")), QStringLiteral("26.25"));
}

class SendingTest : public InvoiceTest
{
protected:
    void SetUp() override
    {
        InvoiceTest::SetUp();
        settings.Solo = true;
        settings.PartSuperannuation = true;
        setSuperannuation(6);
        state.SendingMode = true;
        folder = path(QStringLiteral("outbox"));
        QDir().mkpath(folder);
    }
    QString folder;
};

TEST_F(SendingTest, WritesBothDocumentsAndHandsThemToTheMail)
{
    PdfFileOutput unused(path(QStringLiteral("never.pdf")));
    Documents documents(settings, state, m_db, m_prompter, unused);
    documents.setSendingFolder(folder);
    QList<InvoiceMail> sent;
    documents.setPaymentMailer([&](const InvoiceMail& mail) {
        sent.append(mail);
        EXPECT_TRUE(QFile::exists(mail.invoicePath));
        EXPECT_EQ(QFile::exists(mail.pensionFormPath), mail.pensionFormWanted);
        return QString();
    });
    const QString id = QStringLiteral("1001");
    ASSERT_TRUE(
        documents.ProduceInvoice(doctorRow(id), shiftRows(id), ShiftRowsStatement(QStringLiteral("DS1"), id), false));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].ProFormaPdfName, QStringLiteral("Ashworth_DS1.pdf"));
    EXPECT_EQ(sent[0].SoloPdfName, QStringLiteral("Ashworth_Solo_DS1.pdf"));
    EXPECT_TRUE(sent[0].pensionFormWanted);
    EXPECT_EQ(sent[0].email, QStringLiteral("doctor@example.org"));
    EXPECT_EQ(sent[0].name, QStringLiteral("Dr Ashworth"));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("never.pdf"))));
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();

    // The mailed pension form carries the gross total (765.00), not the superannuable fees (750.00).
    PdfText form;
    ASSERT_TRUE(form.load(sent[0].pensionFormPath));
    EXPECT_EQ(form.find(QStringLiteral("765.00")).size(), 2);
    EXPECT_FALSE(form.contains(QStringLiteral("750.00")));

    // A doctor outside the scheme: only the invoice; the pension form's name stays the previous one.
    exec(QStringLiteral("UPDATE Headers SET nosolo = 'Y'"));
    ASSERT_TRUE(
        documents.ProduceInvoice(doctorRow(id), shiftRows(id), ShiftRowsStatement(QStringLiteral("DS1"), id), false));
    ASSERT_EQ(sent.size(), 2);
    EXPECT_FALSE(sent[1].pensionFormWanted);
    EXPECT_EQ(documents.SoloPdfName(), QStringLiteral("Ashworth_Solo_DS1.pdf"));
}

TEST_F(SendingTest, RefusedMailIsShownAndUnwritablePdfSendsNothing)
{
    PdfFileOutput unused(path(QStringLiteral("never.pdf")));
    Documents documents(settings, state, m_db, m_prompter, unused);
    QStringList documentsErrors;
    documents.setPaymentMailer([&](const InvoiceMail& mail) {
        documentsErrors.append(mail.documentsError);
        return mail.documentsError.isEmpty()
                   ? QStringLiteral("550 mailbox unavailable sending email to doctor@example.org")
                   : QStringLiteral("not written: ") + mail.documentsError;
    });
    const QString id = QStringLiteral("1001");
    const QString statement = ShiftRowsStatement(QStringLiteral("DS1"), id);
    documents.setSendingFolder(folder);
    EXPECT_TRUE(documents.ProduceInvoice(doctorRow(id), shiftRows(id), statement, false));
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("error: 550 mailbox unavailable sending email to doctor@example.org")});

    // The mail is told why there is nothing to send, and says what is shown.
    m_prompter.messages.clear();
    documents.setSendingFolder(path(QStringLiteral("missing/folder")));
    EXPECT_FALSE(documents.ProduceInvoice(doctorRow(id), shiftRows(id), statement, false));
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: not written: Cannot write %1: No such file or "
                                                              "directory")
                                                   .arg(path(QStringLiteral("missing/folder/payment.pdf")))});
    // A full disk: no mail with half a PDF.
    FullDisk disk;
    documents.setSendingFolder(disk.filePath(QString()));
    disk.fill(4096);
    m_prompter.messages.clear();
    const auto undo = disk.limitWrites();
    EXPECT_FALSE(documents.ProduceInvoice(doctorRow(id), shiftRows(id), statement, false));
    undo();
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: not written: Cannot write %1: %2")
                                                   .arg(disk.filePath(QStringLiteral("payment.pdf")), disk.reason())});
    // Only the first had documents to send.
    ASSERT_EQ(documentsErrors.size(), 3);
    EXPECT_TRUE(documentsErrors.at(0).isEmpty());
    EXPECT_FALSE(documentsErrors.at(2).isEmpty());
}
