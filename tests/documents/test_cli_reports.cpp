#include "common/pdftext.h"
#include "common/realpeers.h"
#include "common/testsupport.h"
#include "documents/reportsfixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace velmar::test;

namespace {

// The command-line program on the sample pay file, as a newcomer runs it.
class ReportCommands : public ::testing::Test
{
protected:
    using Run = CliRun;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        writeIni(QStringLiteral("Solo=0\nPartSuperannuation=1\nProForma=1"));
        ASSERT_EQ(cli({QStringLiteral("init-db")}).exitCode, 0);
        const Run imported = cli({QStringLiteral("import"), sourcePath(QStringLiteral("samples/sample.pay"))});
        ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    }

    void writeIni(const QString& defaults)
    {
        QFile ini(path(QStringLiteral("velmarpay.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[LAYOUT]\nName=Velmar Out-of-Hours Service\n[DEFAULTS]\nSuperannuation=6\n%1\n"
                                 "[ProForma]\nAdd1=Velmar Payments Office\n[Solo]\nNHSPSAuthority=VELMAR\n")
                      .arg(defaults)
                      .toUtf8());
    }

    Run cli(const QStringList& args, const QString& locale = QString())
    {
        return runCli(path(QStringLiteral("velmarpay.ini")), path(QStringLiteral("velmarpay.mdb")), args, locale);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ReportCommands, InvoiceOfOneDoctor)
{
    const QString pdf = path(QStringLiteral("oconnor.pdf"));
    const Run r = cli({QStringLiteral("invoice"), QStringLiteral("--dataset"), QStringLiteral("02_2005"),
                       QStringLiteral("--doctor"), QStringLiteral("1002"), QStringLiteral("--pdf"), pdf});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(PdfIsSound(pdf));
    PdfText text;
    ASSERT_TRUE(text.load(pdf));
    EXPECT_TRUE(text.contains(QStringLiteral("Shift Payment for February 2005 Pay Run")));
    EXPECT_TRUE(text.contains(QStringLiteral("Velmar Payments Office")));
    EXPECT_TRUE(text.contains(QStringLiteral("Dr Bridget O'Connor")));
    EXPECT_EQ(text.wordsAt(text.only(QStringLiteral("Total Superannuable")).box.top()).last(),
              QStringLiteral("1751.25"));

    const Run missing = cli({QStringLiteral("invoice"), QStringLiteral("--dataset"), QStringLiteral("02_2005"),
                             QStringLiteral("--doctor"), QStringLiteral("9999"), QStringLiteral("--pdf"),
                             path(QStringLiteral("none.pdf"))});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("Doctor 9999 not found in data set 02_2005")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("none.pdf"))));

    const Run unknown = cli({QStringLiteral("invoice"), QStringLiteral("--dataset"), QStringLiteral("nope"),
                             QStringLiteral("--doctor"), QStringLiteral("1002"), QStringLiteral("--pdf"), pdf});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("No data set named nope")));
}

TEST_F(ReportCommands, PensionFormNeedsPensionFormModeAndShowsTheDetailWindowsFigures)
{
    const QString pdf = path(QStringLiteral("form.pdf"));
    const QStringList args{QStringLiteral("pension-form"),
                           QStringLiteral("--dataset"),
                           QStringLiteral("02_2005"),
                           QStringLiteral("--doctor"),
                           QStringLiteral("1002"),
                           QStringLiteral("--pdf"),
                           pdf};
    const Run refused = cli(args);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Solo=1")));

    writeIni(QStringLiteral("Solo=1\nPartSuperannuation=1"));
    const Run r = cli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    PdfText text;
    ASSERT_TRUE(text.load(pdf));
    EXPECT_TRUE(text.contains(QStringLiteral("GP SOLO")));
    // Superannuable fees in A and C, as the detail window passes them.
    EXPECT_EQ(text.find(QStringLiteral("1751.25")).size(), 2);
    EXPECT_TRUE(text.contains(QStringLiteral("VELMAR")));
}

TEST_F(ReportCommands, SummaryAsPdfAndCsvWhateverTheLocale)
{
    const QString csv = path(QStringLiteral("summary.csv"));
    const QString pdf = path(QStringLiteral("summary.pdf"));
    const Run r = cli({QStringLiteral("summary"), QStringLiteral("--dataset"), QStringLiteral("02_2005"),
                       QStringLiteral("--csv"), csv, QStringLiteral("--pdf"), pdf},
                      QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 14); // headings, twelve doctors, total
    EXPECT_EQ(lines.first(), QStringLiteral("Name,Fees,Adjustments,Net Fees,Annuity,Net Payment"));
    EXPECT_EQ(lines.at(1), QStringLiteral("\"Ashworth, A\",2925.00,97.50,3022.50,181.35,2841.15"));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Total,23445.00,506.25,23951.25,")));
    PdfText text;
    ASSERT_TRUE(text.load(pdf));
    EXPECT_TRUE(text.contains(QStringLiteral("Payment's Summary for February 2005 Pay Run")));
    EXPECT_TRUE(text.contains(QStringLiteral("23951.25")));

    writeIni(QStringLiteral("Solo=1"));
    ASSERT_EQ(cli({QStringLiteral("summary"), QStringLiteral("--dataset"), QStringLiteral("02_2005"),
                   QStringLiteral("--csv"), csv})
                  .exitCode,
              0);
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString pension = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(pension.startsWith(QStringLiteral("Name,Fees,Adjustments,Net Fees,Superannuable Fees,Annuity,")));
    for (const char* group : {"\r\nEastmoor PCT,", "\r\nNorthbridge PCT,", "\r\nWestvale LHB,", "\r\nTotal,"})
        EXPECT_TRUE(pension.contains(QString::fromUtf8(group))) << group;
}

TEST_F(ReportCommands, PrintAllWritesOneInvoicePerDoctor)
{
    const QString folder = path(QStringLiteral("invoices"));
    const Run r = cli({QStringLiteral("print-all"), QStringLiteral("--dataset"), QStringLiteral("02_2005"),
                       QStringLiteral("--pdf-dir"), folder});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList files = QDir(folder).entryList(QDir::Files);
    EXPECT_EQ(files.size(), 12);
    EXPECT_TRUE(files.contains(QStringLiteral("O'Connor_02_2005.pdf")));
    EXPECT_TRUE(files.contains(QStringLiteral("Ashworth_02_2005.pdf")));
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("progress 0%\nprogress 8%\nprogress 16%\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("wrote 12 invoices to ")));
    PdfText first;
    ASSERT_TRUE(first.load(QDir(folder).filePath(QStringLiteral("Ashworth_02_2005.pdf"))));
    EXPECT_TRUE(first.contains(QStringLiteral("Dr Alan Ashworth")));
}

// A full disk keeps the file that was there and says why, with a failing exit status.
TEST_F(ReportCommands, FullDiskKeepsTheOldFileAndFails)
{
    writeIni(QStringLiteral("Solo=1"));
    FullDisk disk;
    const QString pdf = disk.filePath(QStringLiteral("out.pdf"));
    const QString csv = disk.filePath(QStringLiteral("out.csv"));
    for (const QString& file : {pdf, csv}) {
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("the old file") == 12);
    }
    const QString doctor = QStringLiteral("--doctor");
    // Room for part of a PDF; none for the table, which then fails only at the last flush.
    const std::tuple<qint64, QStringList, QString> cases[] = {
        {8192, {QStringLiteral("summary"), QStringLiteral("--pdf"), pdf}, pdf},
        {0, {QStringLiteral("summary"), QStringLiteral("--csv"), csv}, csv},
        {8192, {QStringLiteral("invoice"), doctor, QStringLiteral("1002"), QStringLiteral("--pdf"), pdf}, pdf},
        {8192, {QStringLiteral("pension-form"), doctor, QStringLiteral("1002"), QStringLiteral("--pdf"), pdf}, pdf},
    };
    for (const auto& [room, args, target] : cases) {
        disk.fill(room);
        const Run r = disk.runCli(path(QStringLiteral("velmarpay.ini")), path(QStringLiteral("velmarpay.mdb")),
                                  args + QStringList{QStringLiteral("--dataset"), QStringLiteral("02_2005")});
        EXPECT_EQ(r.exitCode, 1) << args.first().toStdString();
        EXPECT_EQ(r.err, QStringLiteral("Cannot write %1: %2\n").arg(target, disk.reason()));
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), QByteArray("the old file"));
        // No temporary file left behind.
        EXPECT_EQ(QDir(disk.filePath(QString())).entryList({QStringLiteral("out*")}, QDir::Files),
                  (QStringList{QStringLiteral("out.csv"), QStringLiteral("out.pdf")}));
    }
}
