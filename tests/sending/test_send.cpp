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
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
        settings.Security = QStringLiteral("None"); // the test server has no TLS
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
              sender(t.settings, t.state, t.m_db, documents, batch, t.m_prompter, &status)
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

    // The send log as "id|outcome", in the order tried.
    QStringList logged() { return rows(QStringLiteral("SELECT id, outcome FROM SendLog ORDER BY attempt")); }

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
    EXPECT_TRUE(rig.status.texts.contains(QStringLiteral("C: QUIT")));
    EXPECT_EQ(rig.status.texts.last(), QStringLiteral("SMTP Connection Closed"));
    EXPECT_EQ(rows(QStringLiteral("SELECT DataSet, id, address, attachments, outcome FROM SendLog")),
              QStringList{QStringLiteral("DS1|1|oakes@example.test|Oakes_DS1.pdf; Oakes_Solo_DS1.pdf|sent")});
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
    // Not tried: there was no single address to try.
    EXPECT_EQ(logged(), QStringList{QStringLiteral("3|skipped")});

    // A line break in the name would end a line of the message; trying again would change nothing.
    exec(QStringLiteral("UPDATE Headers SET sname = 'Oa' || char(13) || 'kes' WHERE id = '1'"));
    EXPECT_FALSE(rig.sender.SendOne(doctorRow(QStringLiteral("1")), shiftRows(QStringLiteral("1"))));
    EXPECT_EQ(m_prompter.messages.last(),
              QStringLiteral("error: The name of Dr Oa?kes holds a line break, which cannot go in a message"));
    EXPECT_EQ(logged().last(), QStringLiteral("1|skipped"));
    EXPECT_TRUE(server.messageFiles().isEmpty());
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

    EXPECT_EQ(server.recipients(),
              (QStringList{QStringLiteral("fenwick@example.test"), QStringLiteral("moss@example.test")}));
    EXPECT_EQ(rig.status.texts.count(QStringLiteral("Logging in to 127.0.0.1")), 1);
    ASSERT_EQ(m_prompter.messages.size(), 3);
    EXPECT_EQ(m_prompter.messages.at(1),
              QStringLiteral("question: Send the pro-forma invoices of February 2005 Pay Run (DS1) to 3 doctors?"));
    // One summary at the end, with a line per doctor, those not sent first; nobody is told a
    // message went that did not.
    EXPECT_EQ(m_prompter.messages.at(2),
              QStringLiteral("error: Sent 2 of 3: 0 failed, 0 unconfirmed, 1 skipped\n\n"
                             "Dr Oakes (1) <x@example.test>: skipped: "
                             "The e-mail address of Dr Oakes is not a single address: x@example.test\n\n"
                             "Dr Fenwick (2) <fenwick@example.test>: sent\n"
                             "Dr Moss (3) <moss@example.test>: sent"));
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
    EXPECT_TRUE(m_prompter.messages.last().startsWith(
        QStringLiteral("error: Sent 2 of 3: 1 failed, 0 unconfirmed, 0 skipped\n")));
    EXPECT_TRUE(m_prompter.messages.last().contains(
        QStringLiteral("\nDr Moss (3) <moss@example.test>: failed: 550 5.1.1 unnecessary spaces.\n")));
}

TEST_F(SendTest, SendStartedDuringAnotherIsRefusedAndLeavesItIntact)
{
    // The windows stay usable while the mail dialogue waits, so a second send can start inside it.
    settings.Solo = true;
    Rig rig(*this);
    bool nested = false;
    rig.status.onLine = [&](const QString& line) {
        if (!nested && line.startsWith(QStringLiteral("S: 235"))) {
            nested = true;
            EXPECT_FALSE(rig.sender.SendOne(doctorRow(QStringLiteral("3")), shiftRows(QStringLiteral("3"))));
            EXPECT_EQ(rig.sender.SendAll(true), -1);
            EXPECT_EQ(rig.sender.SendNotYetSent(true, true), -1);
        }
    };
    EXPECT_TRUE(rig.sender.SendOne(doctorRow(QStringLiteral("1")), shiftRows(QStringLiteral("1"))));
    ASSERT_TRUE(nested);
    EXPECT_FALSE(state.SendingMode);
    ASSERT_EQ(server.messageFiles().size(), 1);
    const auto files = saveAttachments(server.messageFiles().first(), mailDir.filePath(QStringLiteral("out")));
    EXPECT_EQ(files.size(), 2);
    const QString refused = QStringLiteral("info: A sending run is in progress.");
    EXPECT_EQ(m_prompter.messages,
              (QStringList{refused, refused, refused,
                           QStringLiteral("info: Email with Pro Forma attachment sent to: oakes@example.test")}));
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

    // Settings no message could go with stop the run before it connects, not at every doctor.
    settings.FromAddress = QStringLiteral("pay\"ments@velmar.test");
    rig.status.texts.clear();
    m_prompter.answers = {true};
    EXPECT_EQ(rig.sender.SendAll(true), -1);
    EXPECT_EQ(
        m_prompter.messages.last(),
        QStringLiteral("error: The sender address pay\"ments@velmar.test is not a single address: it holds '\"'"));
    EXPECT_TRUE(rig.status.texts.isEmpty());
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(SendTest, CancelDuringAWaitEndsItAtOnceAndLogsTheMessageInFlight)
{
    ScriptedServer scripted;
    scripted.script(QStringLiteral("END"), {"250 queued\r\n"});
    scripted.script(QStringLiteral("END"), {}); // no answer to doctor two's message
    settings.SMTPPort = scripted.port();
    Rig rig(*this);
    rig.sender.session().setTimeout(600000);
    rig.status.onLine = [&](const QString& line) {
        if (line == u"C: ." && scripted.messages.size() == 1)
            QTimer::singleShot(100, [&] { rig.sender.cancel(); });
    };
    m_prompter.answers = {true};
    EXPECT_EQ(rig.sender.SendAll(true), 1);
    EXPECT_EQ(rows(QStringLiteral("SELECT id, outcome, reply FROM SendLog ORDER BY attempt")),
              (QStringList{QStringLiteral("2|sent|250 queued"), QStringLiteral("3|unconfirmed|Stopped on request")}));
    EXPECT_TRUE(m_prompter.messages.last().startsWith(
        QStringLiteral("error: Sent 1 of 3: 0 failed, 1 unconfirmed, 0 skipped\nStopped on request; not tried: 1\n")));
    EXPECT_EQ(scripted.received.last(), "QUIT");
}

class RunTest : public SendTest
{
protected:
    void SetUp() override
    {
        SendTest::SetUp();
        addDoctor({.id = QStringLiteral("4"),
                   .fname = QStringLiteral("Dora"),
                   .sname = QStringLiteral("Price"),
                   .email = QStringLiteral("price@example.test")});
        addShift(QStringLiteral("4"), {});
    }
};
VELMAR_ON_EACH_STORE(RunTest);

TEST_P(RunTest, HangUpDuringDoctorTwoOfFourCostsOnlyHimAndUnconfirmedIsNotSentAgainUnasked)
{
    struct Case
    {
        const char* step;
        QByteArray before; // the step's reply for doctor 1
        const char* outcome;
        int resent;                // by Send to Doctors Not Yet Sent
        int resentWithUnconfirmed; // then with the unconfirmed ones too
        const char* nobodyWaiting; // what the one that found nobody said
    };
    for (const Case& c : {Case{"RCPT", "250 OK\r\n", "failed", 1, 0, "No doctor is waiting to be sent."},
                          Case{"END", "250 queued\r\n", "unconfirmed", 0, 1,
                               "No doctor is waiting to be sent.\n1 unconfirmed is left out: see the Send Log."}}) {
        SCOPED_TRACE(c.step);
        exec(QStringLiteral("DELETE FROM SendLog"));
        m_prompter.messages.clear();
        ScriptedServer scripted;
        scripted.script(QString::fromLatin1(c.step), {c.before});
        scripted.script(QString::fromLatin1(c.step), {ScriptedServer::hangUpChunk()});
        settings.SMTPPort = scripted.port();
        Rig rig(*this);
        m_prompter.answers = {true, true, true};
        EXPECT_EQ(rig.sender.SendAll(true), 3);

        // Fenwick, Moss (the hang-up), Oakes and Price on a second connection.
        EXPECT_EQ(scripted.connections, 2);
        EXPECT_EQ(logged(),
                  (QStringList{QStringLiteral("2|sent"), QStringLiteral("3|") + QString::fromLatin1(c.outcome),
                               QStringLiteral("1|sent"), QStringLiteral("4|sent")}));
        EXPECT_FALSE(rig.sender.summary().allSent());

        const auto resend = [&](bool includeUnconfirmed) {
            const qsizetype before = scripted.envelopes.size();
            const int sent = rig.sender.SendNotYetSent(true, includeUnconfirmed);
            for (qsizetype i = before; i < scripted.envelopes.size(); ++i)
                EXPECT_EQ(scripted.envelopes.at(i).recipients, QList<QByteArray>{"<moss@example.test>"});
            return sent;
        };
        EXPECT_EQ(resend(false), c.resent);
        EXPECT_EQ(resend(true), c.resentWithUnconfirmed);
        EXPECT_TRUE(m_prompter.messages.contains(QStringLiteral("info: ") + QString::fromUtf8(c.nobodyWaiting)))
            << m_prompter.messages.join(u'\n').toStdString();
        EXPECT_TRUE(m_prompter.messages.contains(
            QStringLiteral("question: Send Pro Forma Invoices to the 1 doctor not yet sent?")));
        EXPECT_EQ(logged().last(), QStringLiteral("3|sent"));
    }
}

TEST_P(RunTest, CancelAfterDoctorTwoStopsThereSaysQuitAndTheRestGoLater)
{
    Rig rig(*this);
    rig.sender.messageDone = [&](const SendRecord&) {
        if (rig.sender.records().size() == 2)
            rig.sender.cancel();
    };
    m_prompter.answers = {true, true};
    EXPECT_EQ(rig.sender.SendAll(true), 2);
    EXPECT_EQ(server.recipients(),
              (QStringList{QStringLiteral("fenwick@example.test"), QStringLiteral("moss@example.test")}));
    EXPECT_TRUE(m_prompter.messages.at(1).startsWith(
        QStringLiteral("error: Sent 2 of 4: 0 failed, 0 unconfirmed, 0 skipped\nStopped on request; not tried: 2\n\n")))
        << m_prompter.messages.at(1).toStdString();
    EXPECT_TRUE(rig.status.texts.contains(QStringLiteral("C: QUIT")));
    EXPECT_FALSE(rig.sender.isRunning());
    EXPECT_FALSE(state.SendingMode);

    // Never tried is not yet sent.
    rig.sender.messageDone = {};
    EXPECT_EQ(rig.sender.SendNotYetSent(true, false), 2);
    EXPECT_EQ(m_prompter.messages.at(2),
              QStringLiteral("question: Send Pro Forma Invoices to the 2 doctors not yet sent?"));
    EXPECT_EQ(server.recipients().mid(2),
              (QStringList{QStringLiteral("oakes@example.test"), QStringLiteral("price@example.test")}));
    EXPECT_TRUE(rig.sender.summary().allSent());
}

TEST_F(SendTest, ThreeFailedConnectsInARowEndTheRunSayingSo)
{
    ScriptedServer scripted;
    settings.SMTPPort = scripted.port();
    Rig rig(*this);
    rig.sender.messageDone = [&](const SendRecord&) {
        scripted.stopListening();
        scripted.hangUp();
        EXPECT_TRUE(scripted.waitForHangUp());
        QTest::qWait(50);
    };
    m_prompter.answers = {true};
    EXPECT_EQ(rig.sender.SendAll(true), 1);
    EXPECT_EQ(logged(), QStringList{QStringLiteral("2|sent")});
    EXPECT_EQ(rig.status.texts.count(QStringLiteral("Logging in to 127.0.0.1")), 4);
    const QString& summary = m_prompter.messages.last();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("error: Sent 1 of 3: 0 failed, 0 unconfirmed, 0 skipped\n"
                                                  "Gave up after 3 failed connects in a row: Error connecting to SMPT "
                                                  "Server: ")))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("; not tried: 2\n")));
}

} // namespace
} // namespace velmar::test
