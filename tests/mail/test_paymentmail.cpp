#include "core/appsettings.h"
#include "mail/paymentmail.h"

#include "scriptedserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

const QString boundary = QStringLiteral("----=_NextPart_ABC_123456_123456789.ABCDEF123");
const QString fullLine = QStringLiteral("TU1N").repeated(18); // 54 bytes of 'M'

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

class ComposeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        settings.FromAddress = QStringLiteral("pay@velmar.test");
        settings.FromName = QStringLiteral("Velmar Pay");
        settings.EMailText = {QStringLiteral("Please find attached your payment details."), QStringLiteral("Regards")};
        mail.pdfPath = writeFile(dir, QStringLiteral("payment.pdf"), QByteArray(55, 'M'));
        mail.recipient = QStringLiteral("dr.jones@example.test");
        mail.salutationName = QStringLiteral("Dr Jones");
        mail.proFormaPdfName = QStringLiteral("Jones_0625.pdf");
        mail.soloPdfPath = writeFile(dir, QStringLiteral("solo.pdf"), QByteArray("MMM"));
        mail.soloPdfName = QStringLiteral("Jones_Solo_0625.pdf");
    }

    QStringList compose()
    {
        ComposedMessage message;
        QString error;
        EXPECT_TRUE(ComposePaymentMessage(settings, mail, mail.recipient, boundary,
                                          QStringLiteral("<1a2b.3c4d@velmar.test>"), date, &message, &error))
            << error.toStdString();
        return message.lines;
    }

    QTemporaryDir dir;
    AppSettings settings;
    PaymentMail mail;
    QDateTime date{QDate(2025, 6, 5), QTime(14, 3, 9), Qt::OffsetFromUTC, 3600};
};

TEST_F(ComposeTest, MessageWithBothAttachmentsLineByLine)
{
    mail.pensionFormWanted = true;
    const QString expected = QStringLiteral(R"(From: "Velmar Pay" <pay@velmar.test>
To: <dr.jones@example.test>
Subject: Velmar Payment Details
Date: Thu, 5 Jun 2025 14:03:09 +0100
Message-ID: <1a2b.3c4d@velmar.test>
MIME-Version: 1.0
Content-Type: multipart/mixed;
        boundary="----=_NextPart_ABC_123456_123456789.ABCDEF123"
X-Mailer: Velmar Payment System V1.0

This is a multi-part message in MIME format.

------=_NextPart_ABC_123456_123456789.ABCDEF123
Content-Type: text/plain;
        charset="us-ascii"
Content-Transfer-Encoding: 7bit

Dear Dr Jones,

Please find attached your payment details.
Regards

------=_NextPart_ABC_123456_123456789.ABCDEF123
Content-Type: application/pdf;
        name="Jones_0625.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment;
        filename="Jones_0625.pdf"

FULL
TQ==

------=_NextPart_ABC_123456_123456789.ABCDEF123
Content-Type: application/pdf;
        name="Jones_Solo_0625.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment;
        filename="Jones_Solo_0625.pdf"

TU1N

------=_NextPart_ABC_123456_123456789.ABCDEF123--)");
    EXPECT_EQ(compose(), expected.split(u'\n').replaceInStrings(QStringLiteral("FULL"), fullLine));
}

TEST_F(ComposeTest, OneAttachmentAndNoBodyText)
{
    settings.EMailText.clear();
    const QStringList lines = compose();
    const qsizetype dear = lines.indexOf(QStringLiteral("Dear Dr Jones,"));
    ASSERT_GE(dear, 0);
    EXPECT_EQ(lines.mid(dear + 1, 3), QStringList({QString(), QString(), QStringLiteral("--") + boundary}));
    EXPECT_EQ(lines.mid(lines.size() - 4), QStringList({fullLine, QStringLiteral("TQ=="), QString(),
                                                        QStringLiteral("--") + boundary + QStringLiteral("--")}));
    EXPECT_EQ(lines.count(QStringLiteral("--") + boundary), 2);
}

TEST_F(ComposeTest, LineBreaksInBodyTextBecomeLinesOfTheirOwn)
{
    mail.salutationName = QStringLiteral("Dr\rJones");
    settings.EMailText = {QStringLiteral("one\rtwo"), QStringLiteral("three\nfour\r\nfive")};
    const QStringList lines = compose();
    const qsizetype dear = lines.indexOf(QStringLiteral("Dear Dr"));
    ASSERT_GE(dear, 0);
    EXPECT_EQ(lines.mid(dear, 8), QStringList({QStringLiteral("Dear Dr"), QStringLiteral("Jones,"), QString(),
                                               QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three"),
                                               QStringLiteral("four"), QStringLiteral("five")}));
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(u'\r') || line.contains(u'\n'));
}

TEST_F(ComposeTest, HeaderTextsAreQuotedOrEncoded)
{
    settings.FromName = QStringLiteral("Velmar \"Pay\\Office\"");
    mail.proFormaPdfName = QStringLiteral("Quo\"te_X.pdf");
    mail.pensionFormWanted = true;
    mail.soloPdfName = QStringLiteral("Ó Súilleabháin_Solo_X.pdf");
    const QStringList lines = compose();
    EXPECT_EQ(lines.first(), QStringLiteral("From: \"Velmar \\\"Pay\\\\Office\\\"\" <pay@velmar.test>"));
    EXPECT_TRUE(lines.contains(QStringLiteral("        filename=\"Quo\\\"te_X.pdf\"")));
    // For readers that do not know RFC 2231, the name as near as ASCII gets, after the UTF-8 one.
    const qsizetype utf8 =
        lines.indexOf(QStringLiteral("        filename*=utf-8''%C3%93%20S%C3%BAilleabh%C3%A1in_Solo_X.pdf;"));
    ASSERT_GT(utf8, 0);
    EXPECT_EQ(lines.at(utf8 + 1), QStringLiteral("        filename=\"O Suilleabhain_Solo_X.pdf\""));

    // A long name outside ASCII: folded lines of at most 76 characters, no character split.
    settings.FromName = QStringLiteral("Ó Súilleabháin Ñúñez Öffice Zürich Café — £100 Ééé");
    const QStringList folded = compose();
    static const QRegularExpression encoded(QStringLiteral("=\\?utf-8\\?B\\?([^?]*)\\?="));
    QByteArray name;
    for (qsizetype i = 0; !folded.at(i).startsWith(QStringLiteral("To: ")); ++i) {
        EXPECT_LE(folded.at(i).size(), 76);
        for (const QRegularExpressionMatch& m : encoded.globalMatch(folded.at(i))) {
            const QByteArray bytes = QByteArray::fromBase64(m.captured(1).toLatin1());
            EXPECT_EQ(QString::fromUtf8(bytes).toUtf8(), bytes);
            name += bytes;
        }
    }
    EXPECT_EQ(QString::fromUtf8(name), settings.FromName);
}

TEST(MailDate, EnglishNamesAndTheRealOffsetWhateverTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatMailDate(QDateTime(QDate(2025, 3, 2), QTime(9, 5, 7), Qt::OffsetFromUTC, -(3 * 3600 + 1800))),
              QStringLiteral("Sun, 2 Mar 2025 09:05:07 -0330"));
    EXPECT_EQ(FormatMailDate(QDateTime(QDate(2025, 12, 24), QTime(23, 59, 0), Qt::UTC)),
              QStringLiteral("Wed, 24 Dec 2025 23:59:00 +0000"));
    QLocale::setDefault(previous);
}

TEST(Boundary, FortyFiveCharactersNewEachTime)
{
    QRandomGenerator random(7);
    const QRegularExpression shape(
        QStringLiteral("^----=_NextPart_[0-9A-F]{3}_[0-9A-F]{6}_[0-9A-F]{9}\\.[0-9A-F]{9}$"));
    const QString first = MakeBoundary(random);
    const QString second = MakeBoundary(random);
    EXPECT_EQ(first.size(), 45);
    EXPECT_TRUE(shape.match(first).hasMatch()) << first.toStdString();
    EXPECT_NE(first, second);
    EXPECT_EQ(RandomBelow(random, 0), 0);
    // Both kinds of character turn up.
    const QString hex = RandomHexText(random, 200);
    EXPECT_TRUE(hex.contains(QRegularExpression(QStringLiteral("[0-9]"))));
    EXPECT_TRUE(hex.contains(QRegularExpression(QStringLiteral("[A-F]"))));
}

// The transaction against a scripted server, on a logged-in session.
class TransactionTest : public ComposeTest
{
protected:
    void SetUp() override
    {
        ComposeTest::SetUp();
        settings.Server = QStringLiteral("127.0.0.1");
        settings.SMTPPort = server.port();
        session.setTimeout(5000);
        const MailResult login = session.SmtpLogin(settings);
        ASSERT_TRUE(login.ok()) << login.text.toStdString();
    }

    MailResult send() { return SendPaymentMail(session, settings, mail); }

    ScriptedServer server;
    SmtpSession session;
};

struct Refusal
{
    const char* step;
    QByteArray reply;
    const char* message;
    bool dataSent;
};

TEST_F(TransactionTest, RefusalAtEachStepIsReportedAndResetSoTheNextMessageGoesThrough)
{
    // Replies of several lines, as real servers give them: the last line decides and is quoted.
    const QList<Refusal> refusals{
        {"MAIL", "550-5.1.0 sender\r\n550 5.1.0 refused\r\n", "Error Sending mail (protocol 10): 550 5.1.0 refused",
         false},
        {"RCPT", "550-5.1.1 no such\r\n550-5.1.1 user\r\n550 5.1.1 here\r\n",
         "Error Sending mail to (protocol 11): 550 5.1.1 here", false},
        {"DATA", "451-4.3.0 try\r\n451 4.3.0 later\r\n", "Error Sending mail (protocol 12): 451 4.3.0 later", true},
        {"END", "554-5.7.1 rejected\r\n554 5.7.1 as spam\r\n", "Error Sending mail (protocol 20): 554 5.7.1 as spam",
         true},
        // A reply that would retitle or clear the clerk's terminal is shown and kept harmless.
        {"RCPT", "550 5.1.1 \x1b]0;pwned\x07\x1b[2J gone\r\n",
         "Error Sending mail to (protocol 11): 550 5.1.1 ?]0;pwned??[2J gone", false},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.message);
        server.script(QString::fromLatin1(refusal.step), {refusal.reply});
        server.script(QStringLiteral("RSET"), {"250-2.0.0 flushed\r\n250 2.0.0 OK\r\n"});
        const qsizetype mark = server.received.size();
        const MailResult result = send();
        EXPECT_EQ(result.text, QString::fromLatin1(refusal.message));
        EXPECT_EQ(result.outcome, MailOutcome::Failed);
        EXPECT_FALSE(result.standsAlone);
        const QList<QByteArray> sent = server.received.mid(mark);
        EXPECT_EQ(sent.last(), "RSET");
        EXPECT_EQ(sent.contains("DATA"), refusal.dataSent);

        const qsizetype delivered = server.messages.size();
        const MailResult next = send();
        EXPECT_TRUE(next.ok()) << next.text.toStdString();
        EXPECT_EQ(server.messages.size(), delivered + 1);
    }
}

TEST_F(TransactionTest, UnknownAnswerToTheEndOfDataIsNotConfirmedAndEndsTheConnection)
{
    session.setTimeout(200);
    server.script(QStringLiteral("END"), {});
    MailResult result = send();
    EXPECT_EQ(result.outcome, MailOutcome::Unconfirmed);
    EXPECT_EQ(result.text, QStringLiteral("Delivery of the message to dr.jones@example.test is not confirmed: "
                                          "The server 127.0.0.1 did not answer the final \".\" within 0.2 s"));
    EXPECT_TRUE(result.standsAlone);
    EXPECT_FALSE(session.isConnected());

    session.setTimeout(5000);
    ASSERT_TRUE(session.SmtpLogin(settings).ok());
    server.script(QStringLiteral("END"), {"250-queued\r\n", ScriptedServer::hangUpChunk()});
    result = send();
    EXPECT_EQ(result.outcome, MailOutcome::Unconfirmed);
    EXPECT_TRUE(
        result.text.startsWith(QStringLiteral("Delivery of the message to dr.jones@example.test is not confirmed: ")));
    EXPECT_FALSE(session.isConnected());
}

TEST_F(TransactionTest, ReplyTooLongLateOrOutOfTurnEndsTheConnectionForGood)
{
    server.script(QStringLiteral("RCPT"), {"550 " + QByteArray(1100, 'x') + "\r\n250 OK\r\n"});
    const qsizetype mark = server.received.size();
    MailResult result = send();
    EXPECT_EQ(result.text, QStringLiteral("Error Sending mail to (protocol 11): The server 127.0.0.1 sent a reply "
                                          "line longer than 1024 bytes"));
    EXPECT_FALSE(session.isConnected());
    EXPECT_TRUE(server.waitForHangUp());
    // No RSET on a dialogue out of step: nothing more went.
    EXPECT_EQ(server.received.mid(mark),
              QList<QByteArray>({"MAIL FROM:<pay@velmar.test>", "RCPT TO:<dr.jones@example.test>"}));

    ASSERT_TRUE(session.SmtpLogin(settings).ok());
    session.setTimeout(200);
    server.script(QStringLiteral("MAIL"), {});
    result = send();
    EXPECT_EQ(
        result.text,
        QStringLiteral("Error Sending mail (protocol 10): The server 127.0.0.1 did not answer MAIL FROM within 0.2 s"));
    EXPECT_FALSE(session.isConnected());

    // An extra reply would be taken for the answer to the next command.
    ASSERT_TRUE(session.SmtpLogin(settings).ok());
    server.script(QStringLiteral("MAIL"), {"250 OK\r\n250 ok\r\n"});
    const qsizetype before = server.received.size();
    EXPECT_EQ(send().reason, QStringLiteral("The server 127.0.0.1 sent \"250 ok\", which does not answer RCPT TO"));
    EXPECT_EQ(server.received.mid(before), QList<QByteArray>{"MAIL FROM:<pay@velmar.test>"});
}

TEST_F(TransactionTest, ServerHangingUpMidDataIsAFailure)
{
    // Large, the client notices while it writes; small, the whole message is still in its buffer
    // when the server has gone, and the final "." never reaches the network.
    for (const auto& [size, lines] : {std::pair{300 * 1024, 5}, std::pair{2000, 0}}) {
        SCOPED_TRACE(size);
        if (!session.isConnected()) {
            ASSERT_TRUE(session.SmtpLogin(settings).ok());
        }
        mail.pdfPath = writeFile(dir, QStringLiteral("doc.pdf"), QByteArray(size, 'M'));
        server.hangUpAfterDataLines = lines;
        const MailResult result = send();
        EXPECT_EQ(result.outcome, MailOutcome::Failed) << result.text.toStdString();
        EXPECT_TRUE(result.text.startsWith(QStringLiteral("Error Sending mail (protocol 20): ")));
        EXPECT_TRUE(server.messages.isEmpty());
        // The caller disconnects; a new login works.
        session.Disconnect();
        server.hangUpAfterDataLines = -1;
    }
}

TEST_F(TransactionTest, OnlySingleAddressesAreSentTo)
{
    struct Case
    {
        std::string recipient, test, from, message;
    };
    const std::string ok = "dr.jones@example.test", from = "pay@velmar.test";
    const std::string notSingle = "The e-mail address of Dr Jones is not a single address: ";
    const std::string injected = "a@example.org> NOTIFY=SUCCESS ORCPT=rfc822;x@example.net";
    const std::string tooLong = std::string(251, 'a') + "@b.c";
    const QList<Case> cases{
        {" ", "", from, "Dr Jones has no e-mail address"},
        {injected, "", from, notSingle + injected},
        {"a@example.org, b@example.org", "", from, notSingle + "a@example.org, b@example.org"},
        {tooLong, "", from, notSingle + tooLong},
        {ok, "test@a;b", from, "The test address test@a;b is not a single address: it holds ';'"},
        {ok, "", "", "The sender address is not set: FromAddress in [EMail] is empty"},
        {ok, "", "pay@@velmar.test",
         "The sender address pay@@velmar.test is not a single address: it holds more than one @"},
        // It would end the quoted part of the From line early.
        {ok, "", "pay\"ments@velmar.test",
         "The sender address pay\"ments@velmar.test is not a single address: it holds '\"'"},
    };
    const qsizetype mark = server.received.size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        mail.recipient = QString::fromStdString(c.recipient);
        settings.TEST = QString::fromStdString(c.test);
        settings.FromAddress = QString::fromStdString(c.from);
        const MailResult result = send();
        EXPECT_EQ(result.text.toStdString(), c.message);
        EXPECT_TRUE(result.standsAlone);
    }
    EXPECT_EQ(server.received.size(), mark);

    // Blanks around the address are no part of it.
    mail.recipient = QStringLiteral(" dr.jones@example.test ");
    settings.TEST.clear();
    settings.FromAddress = QString::fromStdString(from);
    EXPECT_TRUE(send().ok());
    EXPECT_TRUE(server.received.contains("RCPT TO:<dr.jones@example.test>"));
}

TEST_F(TransactionTest, LineBreakInAnAttachmentNameIsNeverSent)
{
    const qsizetype mark = server.received.size();
    mail.proFormaPdfName = QStringLiteral("Jones\n.pdf");
    EXPECT_EQ(send().text, QStringLiteral("The name of Dr Jones holds a line break, which cannot go in a message"));
    EXPECT_EQ(server.received.size(), mark);

    mail.proFormaPdfName = QStringLiteral("Jones.pdf");
    EXPECT_TRUE(send().ok());
}

TEST_F(TransactionTest, UnreadableAttachmentFailsBeforeAnythingIsSent)
{
    const qsizetype mark = server.received.size();
    mail.pdfPath = dir.filePath(QStringLiteral("missing.pdf"));
    const MailResult result = send();
    EXPECT_EQ(result.outcome, MailOutcome::Failed);
    EXPECT_TRUE(result.text.contains(QStringLiteral("missing.pdf")));
    EXPECT_EQ(server.received.size(), mark);
}

} // namespace
} // namespace velmar::test
