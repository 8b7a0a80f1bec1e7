// Against a real SMTP server: the messages are read back with Python's email package.
#include "core/appsettings.h"
#include "core/clock.h"
#include "mail/paymentmail.h"

#include "common/testsupport.h"
#include "smtpserverprocess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

QByteArray pdfBytes(int size, quint32 seed)
{
    QByteArray data("%PDF-1.4\n");
    QRandomGenerator random(seed);
    while (data.size() < size)
        data.append(static_cast<char>(random.bounded(256)));
    return data;
}

QString sha256(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QStringList strings(const QJsonValue& array)
{
    QStringList result;
    for (const QJsonValue& v : array.toArray())
        result.append(v.toString());
    return result;
}

class MailServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        outDir = dir.filePath(QStringLiteral("received"));
        ASSERT_TRUE(QDir().mkpath(outDir));
        ASSERT_TRUE(server.start(outDir, QStringLiteral("clerk"), QStringLiteral("secret")));

        settings.Server = QStringLiteral("127.0.0.1");
        settings.SMTPPort = server.port();
        settings.FromAddress = QStringLiteral("pay@velmar.test");
        settings.FromName = QStringLiteral("Velmar Pay");
        settings.EMailText = {QStringLiteral("Please find attached your payment details."), QStringLiteral("Regards")};

        invoice = pdfBytes(50000, 1);
        pensionForm = pdfBytes(1001, 2);
        mail.pdfPath = write(QStringLiteral("payment.pdf"), invoice);
        mail.recipient = QStringLiteral("dr.jones@example.test");
        mail.salutationName = QStringLiteral("Dr Jones");
        mail.proFormaPdfName = QStringLiteral("Jones_0625.pdf");
        mail.soloPdfPath = write(QStringLiteral("solo.pdf"), pensionForm);
        mail.soloPdfName = QStringLiteral("Jones_Solo_0625.pdf");
    }

    QString write(const QString& name, const QByteArray& content)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }

    void login()
    {
        const MailResult result = session.SmtpLogin(settings);
        ASSERT_TRUE(result.ok()) << result.text.toStdString();
    }

    void sendOne()
    {
        const MailResult result = SendPaymentMail(session, settings, mail);
        ASSERT_TRUE(result.ok()) << result.text.toStdString();
    }

    QTemporaryDir dir;
    QString outDir;
    SmtpServerProcess server;
    AppSettings settings;
    PaymentMail mail;
    QByteArray invoice;
    QByteArray pensionForm;
    FixedClock clock{QDateTime(QDate(2025, 6, 5), QTime(14, 3, 9), Qt::OffsetFromUTC, 3600)};
    SmtpSession session;
};

TEST_F(MailServerTest, LoginWithAndWithoutAuthentication)
{
    login();
    session.Disconnect();

    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("secret");
    login();
    session.Disconnect();

    settings.Password = QStringLiteral("wrong");
    const MailResult refused = session.SmtpLogin(settings);
    EXPECT_TRUE(refused.text.startsWith(QStringLiteral("Login to SMTP Server failed - incorrect authentication: 535")))
        << refused.text.toStdString();

    QFile attempts(outDir + QStringLiteral("/auth.jsonl"));
    ASSERT_TRUE(attempts.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = attempts.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(0).contains(R"("ok": true, "login": "clerk", "password": "secret")"));
    EXPECT_TRUE(lines.at(1).contains(R"("ok": false)"));
}

TEST_F(MailServerTest, MessageWithOneAttachment)
{
    login();
    sendOne();
    const QStringList files = server.messageFiles();
    ASSERT_EQ(files.size(), 1);
    const QJsonObject envelope = SmtpServerProcess::envelope(files.first());
    EXPECT_EQ(envelope[u"mail_from"].toString(), QStringLiteral("pay@velmar.test"));
    EXPECT_EQ(strings(envelope[u"rcpt_tos"]), QStringList{QStringLiteral("dr.jones@example.test")});

    const QJsonObject msg = SmtpServerProcess::parse(files.first());
    ASSERT_FALSE(msg.isEmpty());
    QJsonObject headers = msg[u"headers"].toObject();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[0-9a-f]{16}\\.[0-9a-f]{16}@velmar\\.test>$"))
                    .match(headers.take(QStringLiteral("Message-ID")).toString())
                    .hasMatch());
    EXPECT_EQ(headers, QJsonDocument::fromJson(R"({
        "From": "\"Velmar Pay\" <pay@velmar.test>", "To": "<dr.jones@example.test>",
        "Subject": "Velmar Payment Details", "Date": "Thu, 5 Jun 2025 14:03:09 +0100",
        "MIME-Version": "1.0", "X-Mailer": "Velmar Payment System V1.0"})")
                           .object());
    EXPECT_EQ(msg[u"date_iso"].toString(), QStringLiteral("2025-06-05T14:03:09+01:00"));
    EXPECT_EQ(msg[u"content_type"].toString(), QStringLiteral("multipart/mixed"));
    EXPECT_EQ(msg[u"boundary"].toString().size(), 45);
    EXPECT_TRUE(msg[u"preamble"].toString().startsWith(QStringLiteral("This is a multi-part message in MIME format.")));
    EXPECT_TRUE(msg[u"defects"].toArray().isEmpty());

    const QJsonArray parts = msg[u"parts"].toArray();
    ASSERT_EQ(parts.size(), 2);
    const QJsonObject text = parts.at(0).toObject();
    EXPECT_EQ(text[u"content_type"].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(text[u"charset"].toString(), QStringLiteral("us-ascii"));
    EXPECT_EQ(strings(text[u"lines"]),
              QStringList({QStringLiteral("Dear Dr Jones,"), QString(),
                           QStringLiteral("Please find attached your payment details."), QStringLiteral("Regards")}));
    const QJsonObject pdf = parts.at(1).toObject();
    EXPECT_EQ(pdf[u"content_type"].toString(), QStringLiteral("application/pdf"));
    EXPECT_EQ(pdf[u"disposition"].toString(), QStringLiteral("attachment"));
    EXPECT_EQ(pdf[u"name"].toString(), QStringLiteral("Jones_0625.pdf"));
    EXPECT_EQ(pdf[u"filename"].toString(), QStringLiteral("Jones_0625.pdf"));
    EXPECT_EQ(pdf[u"sha256"].toString(), sha256(invoice));
}

TEST_F(MailServerTest, MessageWithTwoAttachmentsAndFullStopLines)
{
    mail.pensionFormWanted = true;
    settings.EMailText = {QStringLiteral(".hidden"), QStringLiteral("."), QStringLiteral("end")};
    login();
    sendOne();
    const QStringList files = server.messageFiles();
    ASSERT_EQ(files.size(), 1);
    const QJsonObject msg = SmtpServerProcess::parse(files.first());
    EXPECT_TRUE(msg[u"defects"].toArray().isEmpty());
    const QJsonArray parts = msg[u"parts"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(strings(parts.at(0)[u"lines"]),
              QStringList({QStringLiteral("Dear Dr Jones,"), QString(), QStringLiteral(".hidden"), QStringLiteral("."),
                           QStringLiteral("end")}));
    EXPECT_EQ(parts.at(1)[u"filename"].toString(), QStringLiteral("Jones_0625.pdf"));
    EXPECT_EQ(parts.at(1)[u"sha256"].toString(), sha256(invoice));
    EXPECT_EQ(parts.at(2)[u"filename"].toString(), QStringLiteral("Jones_Solo_0625.pdf"));
    EXPECT_EQ(parts.at(2)[u"sha256"].toString(), sha256(pensionForm));
}

TEST_F(MailServerTest, TwoMessagesOnOneConnectionWithTheirOwnBoundaries)
{
    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("secret");
    login();
    sendOne();
    mail.recipient = QStringLiteral("dr.smith@example.test");
    mail.salutationName = QStringLiteral("Dr Smith");
    sendOne();
    session.Disconnect();

    const QStringList files = server.messageFiles();
    ASSERT_EQ(files.size(), 2);
    const QJsonObject first = SmtpServerProcess::parse(files.at(0));
    const QJsonObject second = SmtpServerProcess::parse(files.at(1));
    EXPECT_NE(first[u"boundary"].toString(), second[u"boundary"].toString());
    EXPECT_EQ(strings(SmtpServerProcess::envelope(files.at(1))[u"rcpt_tos"]),
              QStringList{QStringLiteral("dr.smith@example.test")});
    EXPECT_EQ(strings(second[u"parts"].toArray().at(0)[u"lines"]).first(), QStringLiteral("Dear Dr Smith,"));
}

TEST_F(MailServerTest, TestAddressReceivesEveryMessage)
{
    settings.TEST = QStringLiteral("test@velmar.test");
    login();
    sendOne();
    const QStringList files = server.messageFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(strings(SmtpServerProcess::envelope(files.first())[u"rcpt_tos"]),
              QStringList{QStringLiteral("test@velmar.test")});
    EXPECT_EQ(SmtpServerProcess::parse(files.first())[u"headers"][u"To"].toString(),
              QStringLiteral("<test@velmar.test>"));
}

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

TEST_F(MailServerTest, SendTestCommandPrintsTheDialogue)
{
    auto run = [&](const QString& password, const QStringList& options) {
        const QString ini = write(QStringLiteral("velmarpay.ini"),
                                  QStringLiteral("[EMail]\nServer=127.0.0.1\nSMTPPort=%1\nLogin=clerk\nPassword=%2\n"
                                                 "FromAddress=pay@velmar.test\n")
                                      .arg(server.port())
                                      .arg(password)
                                      .toUtf8());
        QProcess cli;
        cli.start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"),
                  QStringList{QStringLiteral("--ini"), ini, QStringLiteral("send-test"), QStringLiteral("--to"),
                              QStringLiteral("clerk@velmar.test"), QStringLiteral("--pdf"), mail.pdfPath,
                              QStringLiteral("--pdf"), mail.soloPdfPath} +
                      options);
        CliRun result;
        if (cli.waitForFinished(30000))
            result.exitCode = cli.exitCode();
        result.out = QString::fromUtf8(cli.readAllStandardOutput());
        result.err = QString::fromUtf8(cli.readAllStandardError());
        return result;
    };

    const CliRun sent = run(QStringLiteral("secret"), {QStringLiteral("--verbose")});
    EXPECT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    EXPECT_TRUE(sent.out.startsWith(QStringLiteral("Logging in to 127.0.0.1\nS: 220 ")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: EHLO Webmaster\n")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: RCPT TO:<clerk@velmar.test>\n")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: .\nS: 250 ")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nSMTP Connection Closed\n")));
    // Neither the credentials nor the documents are in the dialogue: one line stands for each.
    EXPECT_EQ(sent.out.count(QStringLiteral("\nC: <credentials hidden>\n")), 2);
    EXPECT_FALSE(sent.out.contains(QStringLiteral("c2VjcmV0"))) << sent.out.toStdString();
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: <attachment payment.pdf, 49 KB>\n")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: <attachment solo.pdf, 1001 bytes>\n")));
    EXPECT_LT(sent.out.count(u'\n'), 100);
    const QStringList files = server.messageFiles();
    ASSERT_EQ(files.size(), 1);
    const QJsonArray parts = SmtpServerProcess::parse(files.first())[u"parts"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts.at(1)[u"filename"].toString(), QStringLiteral("payment.pdf"));
    EXPECT_EQ(parts.at(2)[u"sha256"].toString(), sha256(pensionForm));

    const CliRun refused = run(QStringLiteral("wrong"), {});
    EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("Login to SMTP Server failed - incorrect authentication: 535")));
    EXPECT_TRUE(refused.err.endsWith(QStringLiteral(" logging into email server\n"))) << refused.err.toStdString();
}

} // namespace
} // namespace velmar::test
