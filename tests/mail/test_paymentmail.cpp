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
        QStringList lines;
        QString error;
        EXPECT_TRUE(ComposePaymentMessage(settings, mail, mail.recipient, boundary, date, &lines, &error))
            << error.toStdString();
        return lines;
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
    const QList<Refusal> refusals{
        {"MAIL", "550 sender refused\r\n", "Error Sending mail (protocol 10): 550 sender refused", false},
        {"RCPT", "550 no such user\r\n", "Error Sending mail to (protocol 11): 550 no such user", false},
        {"DATA", "451 try later\r\n", "Error Sending mail (protocol 12): 451 try later", true},
        {"END", "554 rejected\r\n", "Error Sending mail (protocol 20): 554 rejected", true},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.message);
        server.script(QString::fromLatin1(refusal.step), {refusal.reply});
        const qsizetype mark = server.received.size();
        const MailResult result = send();
        EXPECT_EQ(result.text, QString::fromLatin1(refusal.message));
        EXPECT_FALSE(result.raised);
        const QList<QByteArray> sent = server.received.mid(mark);
        EXPECT_EQ(sent.last(), "RSET");
        EXPECT_EQ(sent.contains("DATA"), refusal.dataSent);

        const qsizetype delivered = server.messages.size();
        const MailResult next = send();
        EXPECT_TRUE(next.ok()) << next.text.toStdString();
        EXPECT_EQ(server.messages.size(), delivered + 1);
    }
}

TEST_F(TransactionTest, NoReplyToTheEndOfData)
{
    session.setTimeout(200);
    server.script(QStringLiteral("END"), {});
    EXPECT_EQ(send().text, QStringLiteral("Error Sending mail (protocol 20): "));
}

TEST_F(TransactionTest, ServerHangingUpMidDataIsAFailure)
{
    mail.pdfPath = writeFile(dir, QStringLiteral("big.pdf"), QByteArray(300 * 1024, 'M'));
    server.hangUpAfterDataLines = 5;
    const MailResult result = send();
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.raised) << result.text.toStdString();
    EXPECT_TRUE(server.messages.isEmpty());
    // The caller disconnects; a new login works.
    session.Disconnect();
    EXPECT_TRUE(session.SmtpLogin(settings).ok());
}

TEST_F(TransactionTest, LineBreakInAnAddressOrAttachmentNameIsNeverSent)
{
    const qsizetype mark = server.received.size();
    mail.recipient = QStringLiteral("dr@example.test>\r\nRCPT TO:<other@example.test");
    const QString refusal =
        QStringLiteral("Error Sending mail to (protocol 11): an address or attachment name holds a line break");
    EXPECT_EQ(send().text, refusal);
    mail.recipient = QStringLiteral("dr.jones@example.test");
    mail.proFormaPdfName = QStringLiteral("Jones\n.pdf");
    EXPECT_EQ(send().text, refusal);
    EXPECT_EQ(server.received.size(), mark);

    mail.proFormaPdfName = QStringLiteral("Jones.pdf");
    EXPECT_TRUE(send().ok());
}

TEST_F(TransactionTest, UnreadableAttachmentIsRaisedBeforeAnythingIsSent)
{
    const qsizetype mark = server.received.size();
    mail.pdfPath = dir.filePath(QStringLiteral("missing.pdf"));
    const MailResult result = send();
    EXPECT_TRUE(result.raised);
    EXPECT_TRUE(result.text.contains(QStringLiteral("missing.pdf")));
    EXPECT_EQ(server.received.size(), mark);
}

} // namespace
} // namespace velmar::test
