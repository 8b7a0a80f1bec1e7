// Against a real SMTP server, plain or over TLS with throw-away certificates: the messages are read
// back with Python's email package.
#include "core/appsettings.h"
#include "core/clock.h"
#include "mail/paymentmail.h"

#include "common/testsupport.h"
#include "recordingstatus.h"
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
        // The plain server takes the password without TLS; restartSecure asks for TLS.
        settings.Security = QStringLiteral("None");
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

    // Throw-away certificates, made once: "local" for 127.0.0.1, "other" for another host.
    static QString certificate(const char* name)
    {
        static QTemporaryDir folder;
        static const bool made =
            SmtpServerProcess::makeCertificate(folder.filePath(QStringLiteral("local")), QStringLiteral("127.0.0.1"),
                                               QStringLiteral("IP:127.0.0.1,DNS:localhost")) &&
            SmtpServerProcess::makeCertificate(folder.filePath(QStringLiteral("other")), QStringLiteral("other.test"),
                                               QStringLiteral("DNS:other.test"));
        EXPECT_TRUE(made);
        return folder.filePath(QString::fromLatin1(name));
    }

    // The server again, requiring STARTTLS (or speaking TLS from the connect) with a certificate,
    // which the settings trust; the login may also use the XOAUTH2 token "ya29.good".
    void restartSecure(const char* name = "local", bool fromTheConnect = false)
    {
        server.stop();
        SmtpServerProcess::Options options{
            QStringLiteral("clerk"), QStringLiteral("secret"), QStringLiteral("ya29.good"), certificate(name), {}};
        if (fromTheConnect)
            std::swap(options.startTls, options.tls);
        ASSERT_TRUE(server.start(outDir, options));
        settings.SMTPPort = server.port();
        settings.Security = fromTheConnect ? QStringLiteral("TLS") : QString();
        settings.TrustFile = certificate(name) + QStringLiteral("/cert.pem");
        settings.Login = QStringLiteral("clerk");
        settings.Password = QStringLiteral("secret");
    }

    QStringList authAttempts() const
    {
        QFile file(outDir + QStringLiteral("/auth.jsonl"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }

    QTemporaryDir dir;
    QString outDir;
    SmtpServerProcess server;
    AppSettings settings;
    PaymentMail mail;
    QByteArray invoice;
    QByteArray pensionForm;
    FixedClock clock{QDateTime(QDate(2025, 6, 5), QTime(14, 3, 9), Qt::OffsetFromUTC, 3600)};
    RecordingStatus status;
    SmtpSession session{&status};
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

TEST_F(MailServerTest, StartTlsThenEhloAgainThenSignInAndTheTextArrivesAsTyped)
{
    restartSecure();
    login();
    EXPECT_TRUE(session.isEncrypted());
    const qsizetype tls = status.texts.indexOf(QStringLiteral("C: STARTTLS"));
    ASSERT_GT(tls, 0);
    EXPECT_EQ(status.texts.indexOf(QStringLiteral("C: EHLO Webmaster"), tls), tls + 2);
    EXPECT_GT(status.texts.indexOf(QStringLiteral("C: AUTH LOGIN")), tls);

    // Long enough for two encoded words and for soft line breaks.
    settings.FromName = QStringLiteral("Velmar Öffice — Payments for the Out-of-Hours Service");
    const QString longLine = QStringLiteral("Payé — Zürich café £100; ").repeated(4);
    settings.EMailText = {longLine, QStringLiteral("Café — £100 = 2 × £50")};
    mail.salutationName = QStringLiteral("Dr Nuñez");
    mail.proFormaPdfName = QStringLiteral("Ó Súilleabháin_X.pdf");
    mail.pensionFormWanted = true;
    mail.soloPdfName = QStringLiteral("Quo\"te_Solo_X.pdf");
    sendOne();

    ASSERT_EQ(server.messageFiles().size(), 1);
    const QJsonObject msg = SmtpServerProcess::parse(server.messageFiles().first());
    EXPECT_EQ(msg[u"from_name"].toString(), settings.FromName);
    EXPECT_TRUE(msg[u"defects"].toArray().isEmpty());
    const QJsonArray parts = msg[u"parts"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts.at(0)[u"charset"].toString(), QStringLiteral("utf-8"));
    EXPECT_EQ(strings(parts.at(0)[u"lines"]), QStringList({QStringLiteral("Dear Dr Nuñez,"), QString(), longLine,
                                                           QStringLiteral("Café — £100 = 2 × £50")}));
    for (const char* key : {"filename", "name"}) {
        EXPECT_EQ(parts.at(1)[QLatin1String(key)].toString(), mail.proFormaPdfName);
        EXPECT_EQ(parts.at(2)[QLatin1String(key)].toString(), mail.soloPdfName);
    }
    EXPECT_EQ(parts.at(1)[u"sha256"].toString(), sha256(invoice));
}

TEST_F(MailServerTest, TlsFromTheConnectWithPlainSignIn)
{
    restartSecure("local", true);
    settings.AuthMethod = QStringLiteral("PLAIN");
    login();
    EXPECT_TRUE(session.isEncrypted());
    EXPECT_FALSE(status.texts.contains(QStringLiteral("C: STARTTLS")));
    sendOne();
    EXPECT_EQ(server.messageFiles().size(), 1);
    EXPECT_EQ(authAttempts(), QStringList{QStringLiteral(
                                  R"({"mechanism": "PLAIN", "ok": true, "login": "clerk", "password": "secret"})")});
}

TEST_F(MailServerTest, Xoauth2TokenFromThePasswordCommand)
{
    restartSecure();
    settings.AuthMethod = QStringLiteral("XOAUTH2");
    settings.Password.clear();
    settings.PasswordCommand = QStringLiteral("printf 'ya29.good\\nnext line\\n'");
    login();
    session.Disconnect();

    settings.PasswordCommand = QStringLiteral("echo ya29.expired");
    EXPECT_EQ(session.SmtpLogin(settings).text,
              QStringLiteral("Login to SMTP Server failed - incorrect authentication: 535 5.7.8 Username and Password "
                             "not accepted; {\"status\": \"401\", \"schemes\": \"bearer\"}"));
    EXPECT_EQ(status.texts.count(QStringLiteral("C: <credentials hidden>")), 2);
    EXPECT_FALSE(status.texts.join(u'\n').contains(QStringLiteral("ya29")));
    EXPECT_EQ(authAttempts().size(), 2);
}

TEST_F(MailServerTest, AServerThatCannotProveItselfGetsNothing)
{
    struct Case
    {
        const char* certificate;
        bool fromTheConnect;
        bool trusted;
        const char* reason;
    };
    for (const Case& c :
         {Case{"local", false, false, "The certificate is self-signed, and untrusted"},
          Case{"local", true, false, "The certificate is self-signed, and untrusted"},
          Case{"other", false, true, "The host name did not match any of the valid hosts for this certificate"}}) {
        SCOPED_TRACE(c.reason);
        restartSecure(c.certificate, c.fromTheConnect);
        if (!c.trusted)
            settings.TrustFile.clear();
        const MailResult result = session.SmtpLogin(settings);
        EXPECT_EQ(result.text,
                  QStringLiteral("The certificate of 127.0.0.1 is not trusted: ") + QString::fromUtf8(c.reason));
        EXPECT_TRUE(result.standsAlone);
        EXPECT_FALSE(session.isConnected());
    }
    EXPECT_TRUE(authAttempts().isEmpty());
    EXPECT_FALSE(status.texts.contains(QStringLiteral("C: <credentials hidden>")));
}

TEST_F(MailServerTest, SendTestCommandPrintsTheDialogue)
{
    auto run = [&](const QString& password, const QStringList& options) {
        const QString ini = write(QStringLiteral("velmarpay.ini"),
                                  QStringLiteral("[EMail]\nServer=127.0.0.1\nSMTPPort=%1\nLogin=clerk\nPassword=%2\n"
                                                 "Security=None\nFromAddress=pay@velmar.test\n")
                                      .arg(server.port())
                                      .arg(password)
                                      .toUtf8());
        return runCli(ini, QString(),
                      QStringList{QStringLiteral("send-test"), QStringLiteral("--to"),
                                  QStringLiteral("clerk@velmar.test"), QStringLiteral("--pdf"), mail.pdfPath,
                                  QStringLiteral("--pdf"), mail.soloPdfPath} +
                          options);
    };

    const CliRun sent = run(QStringLiteral("secret"), {QStringLiteral("--verbose")});
    EXPECT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    EXPECT_TRUE(sent.out.startsWith(QStringLiteral("Logging in to 127.0.0.1\nS: 220 ")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: EHLO Webmaster\n")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: RCPT TO:<clerk@velmar.test>\n")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: .\nS: 250 ")));
    EXPECT_TRUE(sent.out.contains(QStringLiteral("\nC: QUIT\nS: 221 ")));
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

TEST_F(MailServerTest, LongAndDeceptiveTextsArriveAsTypedOnLinesServersAccept)
{
    // Short enough for one encoded-word: Python, unlike RFC 2047 and the doctors' readers, takes the
    // blank between two for part of the name.
    const QString looksEncoded = QStringLiteral("=?utf-8?B?QmNjOiBldmlsQGV4YW1wbGU=?=");
    const QString controls = QStringLiteral("Ne\x1b]0;x\aal\x7f\f\v\x01");
    const QString shown = QStringLiteral("Ne]0;xal");
    // Sender name, text, surname as typed; then as read.
    const QList<QStringList> cases{
        {QStringLiteral("Velmar Payments Office").repeated(70), QString(2000, u'a'), QStringLiteral("Ó").repeated(400)},
        {looksEncoded, looksEncoded, looksEncoded},
        {QStringLiteral("Pay") + controls, QStringLiteral("\t") + controls, controls, QStringLiteral("Pay") + shown,
         u'\t' + shown, shown},
    };
    login();
    for (const QStringList& c : cases) {
        const QStringList read = c.size() > 3 ? c.mid(3) : c;
        SCOPED_TRACE(read.join(u' ').left(40).toStdString());
        settings.FromName = c.at(0);
        settings.EMailText = {c.at(1)};
        mail.salutationName = QStringLiteral("Dr ") + c.at(2);
        mail.proFormaPdfName = c.at(2) + QStringLiteral("_12_2026.pdf");
        sendOne();
        const QJsonObject msg = SmtpServerProcess::parse(server.messageFiles().constLast());
        EXPECT_TRUE(msg[u"defects"].toArray().isEmpty());
        EXPECT_LE(msg[u"longest_line"].toInt(), 998);
        EXPECT_EQ(msg[u"from_name"].toString(), read.at(0));
        const QJsonArray parts = msg[u"parts"].toArray();
        ASSERT_EQ(parts.size(), 2);
        EXPECT_EQ(strings(parts.at(0)[u"lines"]),
                  QStringList({QStringLiteral("Dear Dr ") + read.at(2) + u',', QString(), read.at(1)}));
        EXPECT_EQ(parts.at(1)[u"filename"].toString(), read.at(2) + QStringLiteral("_12_2026.pdf"));
        EXPECT_EQ(parts.at(1)[u"sha256"].toString(), sha256(invoice));
    }
}

// Servers that misbehave on purpose, each a process of its own: the client leaves in bounded
// time (a second here) and says why.
TEST_F(MailServerTest, HostileServersAreLeftInBoundedTimeWithTheReason)
{
    const QString transaction = QStringLiteral("EHLO Webmaster|MAIL FROM:<pay@velmar.test>|"
                                               "RCPT TO:<dr.jones@example.test>|DATA|.");
    // Mode, login, what the client says, and what the server heard.
    const QList<QStringList> cases{
        // STARTTLS taken out of the offer on the way: no password goes.
        {QStringLiteral("plain"), QStringLiteral("clerk"),
         QStringLiteral("The server 127.0.0.1 does not offer STARTTLS, so the password would go unencrypted. Set "
                        "Security=None in [EMail] to allow that."),
         QStringLiteral("EHLO Webmaster")},
        // A greeting a byte at a time takes longer than the time-out, each byte well within it.
        {QStringLiteral("dribble"), QString(),
         QStringLiteral("Error connecting to SMTP Server (protocol 1): The server 127.0.0.1 did not greet within 1 s"),
         QString()},
        {QStringLiteral("endless"), QString(),
         QStringLiteral("Delivery of the message to dr.jones@example.test is not confirmed: The server 127.0.0.1 did "
                        "not answer the final \".\" within 1 s"),
         transaction},
    };
    session.setTimeout(1000);
    settings.Security.clear();
    for (const QStringList& c : cases) {
        SCOPED_TRACE(c.at(0).toStdString());
        server.stop();
        QDir(outDir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(outDir));
        ASSERT_TRUE(server.start(outDir, SmtpServerProcess::Options{.hostile = c.at(0)}));
        settings.SMTPPort = server.port();
        settings.Login = c.at(1);
        MailResult result = session.SmtpLogin(settings);
        if (result.ok())
            result = SendPaymentMail(session, settings, mail);
        EXPECT_EQ(result.text, c.at(2));
        session.Disconnect();
        server.stop(); // the log is complete
        EXPECT_EQ(server.commands().join(u'|'), c.at(3));
    }
}

TEST_F(MailServerTest, EhloFloodLeavesTheClientSmall)
{
    server.stop();
    ASSERT_TRUE(server.start(outDir, SmtpServerProcess::Options{.hostile = QStringLiteral("flood")}));
    const QString ini = write(QStringLiteral("velmarpay.ini"),
                              QStringLiteral("[EMail]\nServer=127.0.0.1\nSMTPPort=%1\nFromAddress=pay@velmar.test\n")
                                  .arg(server.port())
                                  .toUtf8());
    // Python runs the program and tells its exit status and the most memory it held (KB).
    QProcess run;
    run.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"),
               QStringLiteral("import resource, subprocess, sys\n"
                              "code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode\n"
                              "print(code, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"),
               QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"), QStringLiteral("--ini"), ini,
               QStringLiteral("send-test"), QStringLiteral("--to"), QStringLiteral("clerk@velmar.test"),
               QStringLiteral("--pdf"), mail.pdfPath});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QList<QByteArray> said = run.readAllStandardOutput().trimmed().split(' ');
    ASSERT_EQ(said.size(), 2);
    EXPECT_EQ(said.at(0), "1");
    EXPECT_LT(said.at(1).toLongLong(), 100 * 1024);
    EXPECT_EQ(run.readAllStandardError(), "Error connecting to SMTP Server (protocol 2): The server 127.0.0.1 sent a "
                                          "reply of more than 100 lines\n");
}

} // namespace
} // namespace velmar::test
