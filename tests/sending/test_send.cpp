// The sending runs against a real SMTP server: PDFs written, mailed on one connection, messages shown.
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "report/reportoutput.h"
#include "sending/paymentsender.h"

#include "documents/reportsfixture.h"
#include "recordingstatus.h"
#include "scriptedserver.h"
#include "smtpserverprocess.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

// A received message's attachments, decoded into a folder: file name to path.
QMap<QString, QString> saveAttachments(const QString& emlPath, const QString& folder)
{
    QDir().mkpath(folder);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("/usr/bin/python3"),
            {sourcePath(QStringLiteral("tests/sending/save_attachments.py")), emlPath, folder});
    QMap<QString, QString> files;
    if (!p.waitForFinished(15000) || p.exitCode() != 0)
        return files;
    for (const QString& name : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        files.insert(name, QDir(folder).filePath(name));
    return files;
}

class RecordedProgress : public ProgressDisplay
{
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void showProgress() override { ++shown; }
    void hideProgress() override {}
    int shown = 0;
};

class SendTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        ASSERT_TRUE(mailDir.isValid());
        ASSERT_TRUE(QDir().mkpath(mailDir.filePath(QStringLiteral("received"))));
        ASSERT_TRUE(server.start(mailDir.filePath(QStringLiteral("received")), QStringLiteral("clerk"),
                                 QStringLiteral("secret")));
        settings.Server = QStringLiteral("127.0.0.1");
        settings.SMTPPort = server.port();
        settings.Login = QStringLiteral("clerk");
        settings.Password = QStringLiteral("secret");
        settings.FromAddress = QStringLiteral("pay@velmar.test");
        settings.FromName = QStringLiteral("Velmar Pay");
        settings.EMailText = {QStringLiteral("Please find attached your payment details.")};

        addDoctor({.id = QStringLiteral("1"),
                   .fname = QStringLiteral("Alan"),
                   .sname = QStringLiteral("Oakes"),
                   .annuity = 5,
                   .email = QStringLiteral("oakes@example.test")});
        addDoctor({.id = QStringLiteral("2"),
                   .fname = QStringLiteral("Beth"),
                   .sname = QStringLiteral("Fenwick"),
                   .email = QStringLiteral("fenwick@example.test"),
                   .nosolo = QStringLiteral("Y")});
        addDoctor({.id = QStringLiteral("3"),
                   .fname = QStringLiteral("Carl"),
                   .sname = QStringLiteral("Moss"),
                   .email = QStringLiteral("moss@example.test")});
        for (const char* id : {"1", "2", "3"})
            addShift(QString::fromUtf8(id), {});
    }

    // Everything the program builds for sending, made afresh after the settings are final.
    struct Rig
    {
        Rig(SendTest& t)
            : documents(t.settings, t.state, t.m_db, t.m_prompter, output),
              batch(documents, t.state, t.m_db, t.m_prompter, progress),
              sender(t.settings, t.state, documents, batch, t.m_prompter, &status)
        {
            sender.session().setTimeout(5000);
        }
        PdfFileOutput output{QString()};
        RecordedProgress progress;
        RecordingStatus status;
        Documents documents;
        BatchPrint batch;
        PaymentSender sender;
    };

    QStringList recipients() const
    {
        QStringList result;
        for (const QString& eml : server.messageFiles())
            result += SmtpServerProcess::envelope(eml).value(QStringLiteral("rcpt_tos")).toArray().first().toString();
        return result;
    }

    QTemporaryDir mailDir;
    SmtpServerProcess server;
};

TEST_F(SendTest, OneDoctorGetsInvoiceAndPensionFormAsSoundPdfs)
{
    settings.Solo = true;
    Rig rig(*this);
    ASSERT_TRUE(rig.sender.SendOne(doctorRow(QStringLiteral("1")), shiftRows(QStringLiteral("1"))));

    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("info: Email with Pro Forma attachment sent to: oakes@example.test")});
    EXPECT_FALSE(state.SendingMode);
    EXPECT_FALSE(rig.sender.session().isConnected());
    EXPECT_EQ(rig.status.texts.first(), QStringLiteral("Logging in to 127.0.0.1"));
    EXPECT_EQ(rig.status.texts.last(), QStringLiteral("SMTP Connection Closed"));
    // The run's private folder is gone with the run.
    EXPECT_TRUE(rig.documents.invoicePdfPath().isEmpty());

    ASSERT_EQ(server.messageFiles().size(), 1);
    const auto files = saveAttachments(server.messageFiles().first(), mailDir.filePath(QStringLiteral("out")));
    ASSERT_EQ(files.keys(), (QStringList{QStringLiteral("Oakes_DS1.pdf"), QStringLiteral("Oakes_Solo_DS1.pdf")}));
    for (const QString& path : files) {
        EXPECT_TRUE(PdfIsSound(path)) << path.toStdString();
        PdfText pdf;
        ASSERT_TRUE(pdf.load(path));
        EXPECT_TRUE(pdf.contains(QStringLiteral("Oakes"))) << path.toStdString();
    }
    PdfText invoice;
    ASSERT_TRUE(invoice.load(files.value(QStringLiteral("Oakes_DS1.pdf"))));
    EXPECT_TRUE(invoice.contains(QStringLiteral("Shift Payment for February 2005 Pay Run")));
}

TEST_F(SendTest, RefusedMessageIsNotReportedAsSent)
{
    // A line break in the address would let it smuggle commands to the server.
    exec(QStringLiteral("UPDATE Headers SET email = 'x@example.test' || char(13, 10) || 'RSET' WHERE id = '3'"));
    Rig rig(*this);
    EXPECT_FALSE(rig.sender.SendOne(doctorRow(QStringLiteral("3")), shiftRows(QStringLiteral("3"))));
    EXPECT_TRUE(server.messageFiles().isEmpty());
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral(
                  "error: The e-mail address of Dr Moss is not a single address: x@example.test\r\nRSET")});
    EXPECT_FALSE(rig.sender.session().isConnected());
    ASSERT_EQ(rig.sender.records().size(), 1);
    EXPECT_EQ(rig.sender.records().first().outcome, MailOutcome::Failed);
}

TEST_F(SendTest, EveryoneOnOneConnectionInSurnameOrder)
{
    exec(QStringLiteral("UPDATE Headers SET email = 'x@example.test' || char(10) WHERE id = '1'"));
    settings.Solo = true;
    m_prompter.answers = {false, true};
    Rig rig(*this);
    EXPECT_EQ(rig.sender.SendAll(true), -1); // declined: not even a login
    EXPECT_TRUE(rig.status.texts.isEmpty());
    EXPECT_EQ(rig.sender.SendAll(true), 2);

    EXPECT_EQ(recipients(), (QStringList{QStringLiteral("fenwick@example.test"), QStringLiteral("moss@example.test")}));
    EXPECT_EQ(rig.status.texts.count(QStringLiteral("Logging in to 127.0.0.1")), 1);
    ASSERT_EQ(m_prompter.messages.size(), 3);
    EXPECT_EQ(m_prompter.messages.at(1), QStringLiteral("question: Send Pro Forma Invoices to ALL?"));
    // The refused doctor is reported and the run goes on; nobody is told a message went that did not.
    EXPECT_EQ(m_prompter.messages.at(2),
              QStringLiteral("error: The e-mail address of Dr Oakes is not a single address: x@example.test\n"));
    EXPECT_FALSE(state.SendingMode);
    EXPECT_FALSE(rig.sender.session().isConnected());
    // A doctor outside the pension scheme gets his invoice alone; each gets his own documents.
    EXPECT_EQ(saveAttachments(server.messageFiles().at(0), mailDir.filePath(QStringLiteral("fenwick"))).keys(),
              QStringList{QStringLiteral("Fenwick_DS1.pdf")});
    const auto moss = saveAttachments(server.messageFiles().at(1), mailDir.filePath(QStringLiteral("moss")));
    ASSERT_EQ(moss.keys(), (QStringList{QStringLiteral("Moss_DS1.pdf"), QStringLiteral("Moss_Solo_DS1.pdf")}));
    PdfText form;
    ASSERT_TRUE(form.load(moss.value(QStringLiteral("Moss_Solo_DS1.pdf"))));
    EXPECT_TRUE(form.contains(QStringLiteral("Carl Moss")));
}

TEST_F(SendTest, RefusalOfManyLinesKeepsEveryMessageWithItsOwnDoctor)
{
    // Every reply has several lines; the second doctor is refused with five.
    ScriptedServer scripted;
    scripted.script(QStringLiteral("GREETING"), {"220-scripted.test ESMTP\r\n", "220 ready\r\n"});
    scripted.script(QStringLiteral("EHLO"), {"250-scripted.test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n"});
    for (int i = 0; i < 3; ++i) {
        scripted.script(QStringLiteral("MAIL"), {"250-2.1.0 sender\r\n250 2.1.0 OK\r\n"});
        scripted.script(QStringLiteral("DATA"), {"354-go\r\n", "354 ahead\r\n"});
        scripted.script(QStringLiteral("END"), {"250-2.0.0 queued\r\n250 2.0.0 as 1\r\n"});
        scripted.script(QStringLiteral("RSET"), {"250-2.0.0 flushed\r\n250 2.0.0 OK\r\n"});
    }
    const QByteArray recipientOk = "250-2.1.5 recipient\r\n250 2.1.5 OK\r\n";
    scripted.script(QStringLiteral("RCPT"), {recipientOk});
    scripted.script(QStringLiteral("RCPT"), {"550-5.1.1 The account that you tried to reach does not exist.\r\n"
                                             "550-5.1.1 Please try\r\n",
                                             "550-5.1.1 double-checking the recipient's email\r\n"
                                             "550-5.1.1 address for typos or\r\n550 5.1.1 unnecessary spaces.\r\n"});
    scripted.script(QStringLiteral("RCPT"), {recipientOk});
    settings.SMTPPort = scripted.port();
    settings.Solo = true;
    m_prompter.answers = {true};
    Rig rig(*this);
    EXPECT_EQ(rig.sender.SendAll(true), 2);

    // Surname order: Fenwick, Moss (refused), Oakes.
    ASSERT_EQ(scripted.envelopes.size(), 2);
    const QList<QByteArray> to{"<fenwick@example.test>", "<oakes@example.test>"};
    const QList<QStringList> attachments{{QStringLiteral("Fenwick_DS1.pdf")},
                                         {QStringLiteral("Oakes_DS1.pdf"), QStringLiteral("Oakes_Solo_DS1.pdf")}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(scripted.envelopes.at(i).from, "<pay@velmar.test>");
        EXPECT_EQ(scripted.envelopes.at(i).recipients, QList<QByteArray>{to.at(i)});
        QStringList names;
        for (const QByteArray& line : scripted.messages.at(i))
            if (line.startsWith("        filename=\""))
                names.append(QString::fromUtf8(line.mid(18).chopped(1)));
        EXPECT_EQ(names, attachments.at(i));
        EXPECT_FALSE(scripted.messages.at(i).contains("RSET"));
    }
    EXPECT_EQ(m_prompter.messages.last(), QStringLiteral("error: Error Sending mail to (protocol 11): 550 5.1.1 "
                                                         "unnecessary spaces. sending email to moss@example.test"));
    ASSERT_EQ(rig.sender.records().size(), 3);
    const QStringList ids{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1")};
    const QList<MailOutcome> outcomes{MailOutcome::Done, MailOutcome::Failed, MailOutcome::Done};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.sender.records().at(i).doctorId, ids.at(i));
        EXPECT_EQ(rig.sender.records().at(i).outcome, outcomes.at(i));
    }
    EXPECT_EQ(rig.sender.records().at(1).reason, QStringLiteral("550 5.1.1 unnecessary spaces."));
}

TEST_F(SendTest, SendStartedDuringAnotherLeavesItIntact)
{
    // The windows stay usable while the mail dialogue waits, so a second send can start inside it.
    settings.Solo = true;
    Rig rig(*this);
    bool nested = false;
    rig.status.onLine = [&](const QString& line) {
        if (!nested && line.startsWith(QStringLiteral("S: 235"))) {
            nested = true;
            EXPECT_FALSE(rig.sender.SendOne(doctorRow(QStringLiteral("3")), shiftRows(QStringLiteral("3"))));
        }
    };
    EXPECT_TRUE(rig.sender.SendOne(doctorRow(QStringLiteral("1")), shiftRows(QStringLiteral("1"))));
    ASSERT_TRUE(nested);
    EXPECT_FALSE(state.SendingMode);
    ASSERT_EQ(server.messageFiles().size(), 1);
    const auto files = saveAttachments(server.messageFiles().first(), mailDir.filePath(QStringLiteral("out")));
    EXPECT_EQ(files.size(), 2);
    ASSERT_EQ(m_prompter.messages.size(), 2);
    EXPECT_TRUE(m_prompter.messages.at(0).endsWith(QStringLiteral(" logging into email server")));
    EXPECT_EQ(m_prompter.messages.at(1),
              QStringLiteral("info: Email with Pro Forma attachment sent to: oakes@example.test"));
}

TEST_F(SendTest, FailedLoginSendsNothing)
{
    settings.Password = QStringLiteral("wrong");
    Rig rig(*this);
    EXPECT_FALSE(rig.sender.SendOne(doctorRow(QStringLiteral("1")), shiftRows(QStringLiteral("1"))));
    m_prompter.answers = {true};
    EXPECT_EQ(rig.sender.SendAll(true), -1);

    const QString failure = QStringLiteral("error: Login to SMTP Server failed - incorrect authentication: 535");
    ASSERT_EQ(m_prompter.messages.size(), 3);
    EXPECT_TRUE(m_prompter.messages.at(0).startsWith(failure)) << m_prompter.messages.at(0).toStdString();
    EXPECT_TRUE(m_prompter.messages.at(0).endsWith(QStringLiteral(" logging into email server")));
    // The second login could connect again, so it fails the same way rather than "already connected".
    EXPECT_TRUE(m_prompter.messages.at(2).startsWith(failure)) << m_prompter.messages.at(2).toStdString();
    EXPECT_EQ(rig.progress.shown, 0);
    EXPECT_FALSE(state.SendingMode);
    EXPECT_TRUE(server.messageFiles().isEmpty());
}

} // namespace
} // namespace velmar::test
