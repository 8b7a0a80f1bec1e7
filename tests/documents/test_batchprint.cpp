#include "db/database.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "documents/reportsfixture.h"
#include "report/reportoutput.h"

#include <QDir>
#include <QSqlQuery>

using namespace velmar;
using namespace velmar::test;

namespace {

// The progress window as the run drives it.
class RecordingProgress : public ProgressDisplay
{
public:
    void SetProgressRange(int l, int h) override
    {
        low = l;
        high = h;
        events.append(QStringLiteral("range %1-%2").arg(l).arg(h));
    }
    void SetProgressPosition(int position) override { events.append(ProgressPercentText(low, high, position)); }
    void showProgress() override { events.append(QStringLiteral("show")); }
    void hideProgress() override { events.append(QStringLiteral("hide")); }
    void setProgressText(const QString& text) override
    {
        events.append(text);
        if (onText)
            onText();
    }
    // Called as each doctor's turn comes.
    std::function<void()> onText;
    int low = 0;
    int high = 0;
    QStringList events;
};

class BatchPrintTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        // Entered out of surname order.
        const char* names[][2] = {{"30", "Clark"}, {"10", "Adams"}, {"20", "Brown"}};
        for (const auto& n : names) {
            TestDoctor d;
            d.id = QString::fromUtf8(n[0]);
            d.sname = QString::fromUtf8(n[1]);
            d.fname = QStringLiteral("Kim");
            addDoctor(d);
            addShift(d.id, TestShift());
        }
        folder = path(QStringLiteral("out"));
        QDir().mkpath(folder);
    }
    QString folder;
    RecordingProgress progress;
};
VELMAR_ON_EACH_STORE(BatchPrintTest);

} // namespace

TEST(ProgressPercent, TruncatesTowardZeroAndNeverDividesByZero)
{
    EXPECT_EQ(ProgressPercentText(0, 3, 0), QStringLiteral("0%"));
    EXPECT_EQ(ProgressPercentText(0, 3, 1), QStringLiteral("33%"));
    EXPECT_EQ(ProgressPercentText(0, 3, 2), QStringLiteral("66%"));
    EXPECT_EQ(ProgressPercentText(5, 5, 5), QStringLiteral("0%"));
}

TEST_P(BatchPrintTest, PrintsEveryDoctorInSurnameOrderWithProgress)
{
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    BatchPrint batch(documents, state, m_db, m_prompter, progress);
    EXPECT_EQ(batch.PrintAll1Click(true), 3);
    // Who is being printed, named before the bar moves to him, and 100 % at the end.
    EXPECT_EQ(progress.events,
              (QStringList{QStringLiteral("range 0-3"), QStringLiteral("show"), QStringLiteral("Dr Kim Adams"),
                           QStringLiteral("0%"), QStringLiteral("Dr Kim Brown"), QStringLiteral("33%"),
                           QStringLiteral("Dr Kim Clark"), QStringLiteral("66%"), QStringLiteral("100%"),
                           QStringLiteral("hide")}));
    EXPECT_EQ(output.files(), (QStringList{QStringLiteral("Adams_DS1.pdf"), QStringLiteral("Brown_DS1.pdf"),
                                           QStringLiteral("Clark_DS1.pdf")}));
    PdfText clark;
    ASSERT_TRUE(clark.load(QDir(folder).filePath(QStringLiteral("Clark_DS1.pdf"))));
    EXPECT_TRUE(clark.contains(QStringLiteral("Dr Kim Clark")));
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

// Another clerk changes the data set while Print All runs: every invoice shows it as it was when the
// run began. A file holds the change off until the run ends; a server lets it in unseen by the run.
TEST_P(BatchPrintTest, EveryInvoiceOfARunShowsTheDataSetAsItWasWhenItBegan)
{
    QSqlDatabase other = openAnother(QStringLiteral("other clerk"));
    if (!onServer())
        QSqlQuery(other).exec(QStringLiteral("PRAGMA busy_timeout = 200"));
    bool changed = false;
    progress.onText = [&] {
        if (!changed)
            changed = QSqlQuery(other).exec(QStringLiteral("UPDATE Details SET Total = 999"));
    };
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    EXPECT_EQ(BatchPrint(documents, state, m_db, m_prompter, progress).PrintAll1Click(true), 3);
    EXPECT_EQ(changed, onServer());
    for (const QString& file : output.files()) {
        PdfText invoice;
        ASSERT_TRUE(invoice.load(QDir(folder).filePath(file)));
        EXPECT_TRUE(invoice.contains(QStringLiteral("450.00"))) << file.toStdString();
        EXPECT_FALSE(invoice.contains(QStringLiteral("999.00"))) << file.toStdString();
    }
    other = QSqlDatabase();
    CloseDatabase(QStringLiteral("other clerk"));
}

// As people read names: case and accents do not count. Sending runs the same way.
TEST_P(BatchPrintTest, SurnameOrderIgnoresCaseAndAccents)
{
    for (const char* name : {"van der Berg", "Ábrahám"}) {
        TestDoctor d{.id = QString::fromUtf8(name), .fname = {}, .sname = QString::fromUtf8(name)};
        addDoctor(d);
        addShift(d.id, TestShift());
    }
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    BatchPrint(documents, state, m_db, m_prompter, progress).PrintAll1Click(true);
    EXPECT_EQ(output.files(), (QStringList{QString::fromUtf8("Ábrahám_DS1.pdf"), QStringLiteral("Adams_DS1.pdf"),
                                           QStringLiteral("Brown_DS1.pdf"), QStringLiteral("Clark_DS1.pdf"),
                                           QStringLiteral("van der Berg_DS1.pdf")}));
}

TEST_P(BatchPrintTest, TwoDoctorsOfOneSurnameGetAFileEach)
{
    TestDoctor d;
    d.id = QStringLiteral("40");
    d.sname = QStringLiteral("Adams");
    d.fname = QStringLiteral("Lee");
    addDoctor(d);
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    BatchPrint batch(documents, state, m_db, m_prompter, progress);
    EXPECT_EQ(batch.PrintAll1Click(true), 4);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              (QStringList{QStringLiteral("Adams_DS1.pdf"), QStringLiteral("Adams_DS1_2.pdf"),
                           QStringLiteral("Brown_DS1.pdf"), QStringLiteral("Clark_DS1.pdf")}));
}

TEST_P(BatchPrintTest, NoOpenDataSetOrNoDoctorsLeft)
{
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    BatchPrint batch(documents, state, m_db, m_prompter, progress);
    int logins = 0;
    batch.SmtpLogin = [&] {
        ++logins;
        return QString();
    };
    state.SendingMode = true;
    EXPECT_EQ(batch.PrintAll1Click(false), -1);
    state.SendingMode = false;
    EXPECT_EQ(batch.PrintAll1Click(false), -1);
    EXPECT_EQ(m_prompter.messages, (QStringList{QStringLiteral("info: Please open a file before printing"),
                                                QStringLiteral("info: Please open a file before printing")}));
    EXPECT_EQ(logins, 0);
    EXPECT_TRUE(progress.events.isEmpty());

    // The list still shows doctors whose rows are gone: the window opens and closes, nothing printed.
    exec(QStringLiteral("DELETE FROM Headers"));
    EXPECT_EQ(batch.PrintAll1Click(true), 0);
    EXPECT_EQ(progress.events,
              (QStringList{QStringLiteral("range 0-0"), QStringLiteral("show"), QStringLiteral("hide")}));
    EXPECT_TRUE(output.files().isEmpty());
}

TEST_P(BatchPrintTest, SendingRunLogsInFirstAndDisconnectsAtTheEnd)
{
    PdfFolderOutput output(folder);
    Documents documents(settings, state, m_db, m_prompter, output);
    documents.setSendingFolder(folder);
    QStringList mailed;
    documents.setPaymentMailer([&](const InvoiceMail& mail) {
        mailed.append(mail.ProFormaPdfName);
        return QString();
    });
    BatchPrint batch(documents, state, m_db, m_prompter, progress);
    int disconnects = 0;
    batch.Disconnect = [&] { ++disconnects; };
    state.SendingMode = true;

    batch.SmtpLogin = [] { return QStringLiteral("535 authentication failed logging into email server"); };
    EXPECT_EQ(batch.PrintAll1Click(true), -1);
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("error: 535 authentication failed logging into email server")});
    EXPECT_TRUE(progress.events.isEmpty());
    EXPECT_EQ(disconnects, 0);

    batch.SmtpLogin = [] { return QString(); };
    EXPECT_EQ(batch.PrintAll1Click(true), 3);
    EXPECT_EQ(mailed, (QStringList{QStringLiteral("Adams_DS1.pdf"), QStringLiteral("Brown_DS1.pdf"),
                                   QStringLiteral("Clark_DS1.pdf")}));
    EXPECT_EQ(disconnects, 1);
    // Every doctor's invoice went to the same file, each replacing the one before; nothing was printed.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("payment.pdf")});
    EXPECT_TRUE(output.files().isEmpty());
}

TEST_P(BatchPrintTest, BackgroundWritingGivesTheSameFilesAndReportsTheOnesItCouldNotWrite)
{
    const QString direct = path(QStringLiteral("direct"));
    QDir().mkpath(direct);
    {
        PdfFolderOutput output(direct);
        Documents documents(settings, state, m_db, m_prompter, output);
        BatchPrint batch(documents, state, m_db, m_prompter, progress);
        ASSERT_EQ(batch.PrintAll1Click(true), 3);
    }
    // A folder in the way of one file.
    ASSERT_TRUE(QDir().mkpath(QDir(folder).filePath(QStringLiteral("Brown_DS1.pdf"))));
    PdfFolderOutput output(folder, 2);
    Documents documents(settings, state, m_db, m_prompter, output);
    BatchPrint batch(documents, state, m_db, m_prompter, progress);
    EXPECT_EQ(batch.PrintAll1Click(true), 3);
    QStringList failures;
    EXPECT_FALSE(output.finish(&failures));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.first().contains(QStringLiteral("Brown_DS1.pdf"))) << failures.first().toStdString();

    for (const QString& name : {QStringLiteral("Adams_DS1.pdf"), QStringLiteral("Clark_DS1.pdf")}) {
        PdfText a, b;
        ASSERT_TRUE(a.load(QDir(direct).filePath(name)));
        ASSERT_TRUE(b.load(QDir(folder).filePath(name)));
        ASSERT_EQ(a.lines().size(), b.lines().size()) << name.toStdString();
        for (int i = 0; i < a.lines().size(); ++i) {
            ASSERT_EQ(a.lines()[i].size(), b.lines()[i].size());
            for (int k = 0; k < a.lines()[i].size(); ++k) {
                EXPECT_EQ(a.lines()[i][k].text, b.lines()[i][k].text);
                EXPECT_NEAR(a.lines()[i][k].box.left(), b.lines()[i][k].box.left(), 0.01);
                EXPECT_NEAR(a.lines()[i][k].box.top(), b.lines()[i][k].box.top(), 0.01);
            }
        }
    }
}
