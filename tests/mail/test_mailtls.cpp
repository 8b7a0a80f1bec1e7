// Against a real SMTP server that requires STARTTLS or speaks TLS from the connect, with
// throw-away certificates: what is sent arrives as typed, and only to a server that proves itself.
#include "core/appsettings.h"
#include "mail/paymentmail.h"

#include "recordingstatus.h"
#include "smtpserverprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

class SecureMailTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_certificates = new QTemporaryDir;
        s_made = SmtpServerProcess::makeCertificate(s_certificates->filePath(QStringLiteral("local")),
                                                    QStringLiteral("127.0.0.1"),
                                                    QStringLiteral("IP:127.0.0.1,DNS:localhost")) &&
                 SmtpServerProcess::makeCertificate(s_certificates->filePath(QStringLiteral("other")),
                                                    QStringLiteral("other.test"), QStringLiteral("DNS:other.test"));
    }
    static void TearDownTestSuite() { delete s_certificates; }
    static QString certificates(const char* name) { return s_certificates->filePath(QString::fromLatin1(name)); }

    void SetUp() override
    {
        ASSERT_TRUE(s_made) << "openssl could not make the test certificates";
        ASSERT_TRUE(dir.isValid());
        outDir = dir.filePath(QStringLiteral("received"));
        ASSERT_TRUE(QDir().mkpath(outDir));
        settings.Server = QStringLiteral("127.0.0.1");
        settings.Login = QStringLiteral("clerk@velmar.test");
        settings.Password = QStringLiteral("secret");
        settings.TrustFile = certificates("local") + QStringLiteral("/cert.pem");
        settings.FromAddress = QStringLiteral("pay@velmar.test");
        settings.FromName = QStringLiteral("Velmar Pay");
        QFile pdf(dir.filePath(QStringLiteral("payment.pdf")));
        ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
        pdf.write("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
        mail.pdfPath = mail.soloPdfPath = pdf.fileName();
        mail.recipient = QStringLiteral("dr@example.test");
        mail.salutationName = QStringLiteral("Dr Jones");
        mail.proFormaPdfName = QStringLiteral("Jones_X.pdf");
    }

    void start(const SmtpServerProcess::Options& options)
    {
        ASSERT_TRUE(server.start(outDir, options));
        settings.SMTPPort = server.port();
    }

    SmtpServerProcess::Options startTls(const char* certificate = "local")
    {
        return {settings.Login, settings.Password, QStringLiteral("ya29.good"), certificates(certificate), {}};
    }

    QStringList authAttempts() const
    {
        QFile file(outDir + QStringLiteral("/auth.jsonl"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    static QTemporaryDir* s_certificates;
    static bool s_made;
    QTemporaryDir dir;
    QString outDir;
    SmtpServerProcess server;
    AppSettings settings;
    PaymentMail mail;
    RecordingStatus status;
    SmtpSession session{&status};
};

QTemporaryDir* SecureMailTest::s_certificates = nullptr;
bool SecureMailTest::s_made = false;

QStringList strings(const QJsonValue& array)
{
    QStringList result;
    for (const QJsonValue& v : array.toArray())
        result.append(v.toString());
    return result;
}

TEST_F(SecureMailTest, StartTlsThenEhloAgainThenSignInAndTheTextArrivesAsTyped)
{
    start(startTls());
    const MailResult login = session.SmtpLogin(settings);
    ASSERT_TRUE(login.ok()) << login.text.toStdString();
    EXPECT_TRUE(session.isEncrypted());
    const qsizetype tls = status.texts.indexOf(QStringLiteral("C: STARTTLS"));
    ASSERT_GT(tls, 0);
    EXPECT_EQ(status.texts.indexOf(QStringLiteral("C: EHLO Webmaster"), tls), tls + 2);
    EXPECT_GT(status.texts.indexOf(QStringLiteral("C: AUTH LOGIN")), tls);

    settings.FromName = QStringLiteral("Velmar Öffice");
    settings.EMailText = {QStringLiteral("Payé — Zürich café £100"), QStringLiteral("Café — £100")};
    mail.salutationName = QStringLiteral("Dr Nuñez");
    mail.proFormaPdfName = QStringLiteral("Ó Súilleabháin_X.pdf");
    mail.pensionFormWanted = true;
    mail.soloPdfName = QStringLiteral("Quo\"te_Solo_X.pdf");
    const MailResult sent = SendPaymentMail(session, settings, mail);
    ASSERT_TRUE(sent.ok()) << sent.text.toStdString();
    session.Disconnect();

    ASSERT_EQ(server.messageFiles().size(), 1);
    const QJsonObject msg = SmtpServerProcess::parse(server.messageFiles().first());
    EXPECT_EQ(msg[u"from_name"].toString(), QStringLiteral("Velmar Öffice"));
    EXPECT_TRUE(msg[u"defects"].toArray().isEmpty());
    const QJsonArray parts = msg[u"parts"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts.at(0)[u"charset"].toString(), QStringLiteral("utf-8"));
    EXPECT_EQ(strings(parts.at(0)[u"lines"]),
              QStringList({QStringLiteral("Dear Dr Nuñez,"), QString(), QStringLiteral("Payé — Zürich café £100"),
                           QStringLiteral("Café — £100")}));
    for (const char* key : {"filename", "name"}) {
        EXPECT_EQ(parts.at(1)[QLatin1String(key)].toString(), QStringLiteral("Ó Súilleabháin_X.pdf"));
        EXPECT_EQ(parts.at(2)[QLatin1String(key)].toString(), QStringLiteral("Quo\"te_Solo_X.pdf"));
    }
}

TEST_F(SecureMailTest, TlsFromTheConnectWithPlainSignIn)
{
    SmtpServerProcess::Options options = startTls();
    std::swap(options.startTls, options.tls);
    start(options);
    settings.Security = QStringLiteral("TLS");
    settings.AuthMethod = QStringLiteral("PLAIN");
    const MailResult login = session.SmtpLogin(settings);
    ASSERT_TRUE(login.ok()) << login.text.toStdString();
    EXPECT_TRUE(session.isEncrypted());
    EXPECT_FALSE(status.texts.contains(QStringLiteral("C: STARTTLS")));
    ASSERT_TRUE(SendPaymentMail(session, settings, mail).ok());
    EXPECT_EQ(server.messageFiles().size(), 1);
    ASSERT_EQ(authAttempts().size(), 1);
    EXPECT_TRUE(authAttempts().first().contains(QStringLiteral(R"("mechanism": "PLAIN", "ok": true)")));
}

TEST_F(SecureMailTest, Xoauth2TokenFromThePasswordCommand)
{
    start(startTls());
    settings.AuthMethod = QStringLiteral("XOAUTH2");
    settings.Password.clear();
    settings.PasswordCommand = QStringLiteral("printf 'ya29.good\\n'");
    const MailResult login = session.SmtpLogin(settings);
    ASSERT_TRUE(login.ok()) << login.text.toStdString();
    session.Disconnect();

    settings.PasswordCommand = QStringLiteral("echo ya29.expired");
    EXPECT_EQ(session.SmtpLogin(settings).text,
              QStringLiteral("Login to SMTP Server failed - incorrect authentication: "
                             "535 5.7.8 Username and Password not accepted; {\"status\": \"401\", \"schemes\": "
                             "\"bearer\"}"));
    EXPECT_FALSE(status.texts.join(u'\n').contains(QStringLiteral("ya29")));
    EXPECT_EQ(authAttempts().size(), 2);
}

TEST_F(SecureMailTest, AServerThatCannotProveItselfGetsNothing)
{
    struct Case
    {
        const char* certificate;
        bool fromTheConnect;
        QString trustFile;
        const char* reason;
    };
    const QString other = certificates("other") + QStringLiteral("/cert.pem");
    const QList<Case> cases{
        {"local", false, QString(), "The certificate is self-signed, and untrusted"},
        {"local", true, QString(), "The certificate is self-signed, and untrusted"},
        {"other", false, other, "The host name did not match any of the valid hosts for this certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        SmtpServerProcess::Options options = startTls(c.certificate);
        if (c.fromTheConnect)
            std::swap(options.startTls, options.tls);
        start(options);
        settings.Security = c.fromTheConnect ? QStringLiteral("TLS") : QString();
        settings.TrustFile = c.trustFile;
        const MailResult result = session.SmtpLogin(settings);
        EXPECT_EQ(result.text,
                  QStringLiteral("The certificate of 127.0.0.1 is not trusted: ") + QString::fromUtf8(c.reason));
        EXPECT_TRUE(result.standsAlone);
        EXPECT_FALSE(session.isConnected());
        server.stop();
    }
    EXPECT_TRUE(authAttempts().isEmpty());
    EXPECT_FALSE(status.texts.contains(QStringLiteral("C: <credentials hidden>")));
}

} // namespace
} // namespace velmar::test
