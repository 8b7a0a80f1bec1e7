#include "core/appsettings.h"
#include "core/passwordcommand.h"
#include "mail/smtpsession.h"

#include "recordingstatus.h"
#include "scriptedserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

class SmtpLoginTest : public ::testing::Test
{
protected:
    SmtpLoginTest()
    {
        settings.Server = QStringLiteral("127.0.0.1");
        settings.SMTPPort = server.port();
        // The scripted server offers no STARTTLS; the password may go in clear to it.
        settings.Security = QStringLiteral("None");
        session.setTimeout(5000);
    }

    ScriptedServer server;
    RecordingStatus status;
    SmtpSession session{&status};
    AppSettings settings;
};

TEST_F(SmtpLoginTest, WithoutLoginStopsAfterEhloAndTracesTheDialogue)
{
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
    EXPECT_TRUE(session.isConnected());
    EXPECT_EQ(server.received, QList<QByteArray>{"EHLO Webmaster"});
    EXPECT_EQ(status.texts,
              QStringList({QStringLiteral("Logging in to 127.0.0.1"), QStringLiteral("S: 220 scripted ready"),
                           QStringLiteral("C: EHLO Webmaster"), QStringLiteral("S: 250-scripted"),
                           QStringLiteral("S: 250-AUTH LOGIN"), QStringLiteral("S: 250 HELP")}));
    session.Disconnect();
    EXPECT_EQ(status.texts.last(), QStringLiteral("SMTP Connection Closed"));
    EXPECT_TRUE(server.waitForHangUp());
}

TEST_F(SmtpLoginTest, AuthLoginSendsHiddenBase64CredentialsAndReadsEveryReplyWhole)
{
    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("secret");
    server.script(QStringLiteral("GREETING"), {"220-mail.example.test ESMTP\r\n220-", "no spam\r\n220 ready\r\n"});
    // The prompts are judged by their first character only.
    server.script(QStringLiteral("AUTH"), {"300-a\r\n300 anything starting with 3\r\n"});
    server.script(QStringLiteral("USER"), {"334-b\r\n", "334 UGFzc3dvcmQ6\r\n"});
    server.script(QStringLiteral("PASS"), {"235-welcome\r\n235-to\r\n235 2.7.0 OK\r\n"});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
    EXPECT_EQ(server.received, QList<QByteArray>({"EHLO Webmaster", "AUTH LOGIN", "Y2xlcms=", "c2VjcmV0"}));
    EXPECT_EQ(status.texts.count(QStringLiteral("C: <credentials hidden>")), 2);
    EXPECT_FALSE(status.texts.join(u'\n').contains(QStringLiteral("c2VjcmV0")));
    EXPECT_EQ(status.texts.last(), QStringLiteral("S: 235 2.7.0 OK"));
}

TEST_F(SmtpLoginTest, SettingsThatCannotWorkStopBeforeConnecting)
{
    struct Case
    {
        QString AppSettings::*key;
        const char* value;
        const char* message;
    };
    const QList<Case> cases{
        {&AppSettings::Security, "SSL", "The setting Security=SSL is not one of STARTTLS, TLS or None"},
        {&AppSettings::AuthMethod, "CRAM-MD5", "The setting AuthMethod=CRAM-MD5 is not one of LOGIN, PLAIN or XOAUTH2"},
        // What a helper prints on its error output may be the secret itself.
        {&AppSettings::PasswordCommand, "echo s3cret >&2; exit 3", "The password command failed: exit status 3"},
        {&AppSettings::PasswordCommand, "printf '\\n'", "The password command failed: it printed nothing"},
        {&AppSettings::TrustFile, "/nonexistent/ca.pem",
         "The trust file /nonexistent/ca.pem cannot be read: No such file or directory"},
    };
    settings.Login = QStringLiteral("clerk");
    settings.Security = QStringLiteral("STARTTLS");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        AppSettings wrong = settings;
        wrong.*c.key = QString::fromUtf8(c.value);
        const MailResult result = session.SmtpLogin(wrong);
        EXPECT_EQ(result.text, QString::fromUtf8(c.message));
        EXPECT_TRUE(result.standsAlone);
    }
    EXPECT_EQ(server.connections, 0);
}

TEST_F(SmtpLoginTest, DemandedStartTlsThatIsNotOfferedSendsNothingMore)
{
    settings.Security = QStringLiteral("STARTTLS");
    settings.Login = QStringLiteral("clerk");
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_EQ(result.text, QStringLiteral("The server 127.0.0.1 does not offer STARTTLS"));
    EXPECT_TRUE(server.waitForHangUp());
    EXPECT_EQ(server.received, QList<QByteArray>{"EHLO Webmaster"});
}

TEST_F(SmtpLoginTest, LongLoginGoesWholeAndEmptyPasswordIsAnEmptyLine)
{
    settings.Login = QString(60, u'M');
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
    ASSERT_EQ(server.received.size(), 4);
    EXPECT_EQ(server.received.at(2), QByteArray("TU1N").repeated(20));
    EXPECT_EQ(server.received.at(3), QByteArray());
}

TEST_F(SmtpLoginTest, RepliesSplitAcrossPacketsAreJoined)
{
    server.script(QStringLiteral("GREETING"), {"22", "0 hel", "lo\r\n"});
    server.script(QStringLiteral("EHLO"), {"250-a\r", "\n250", " b\r\n"});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
}

struct LoginFailure
{
    const char* step;
    QList<QByteArray> reply;
    const char* message;
    bool standsAlone = false; // names its cause: not worded for "... logging into email server"
};

TEST_F(SmtpLoginTest, EachFailureHasItsMessageAndClosesTheConnection)
{
    const QList<LoginFailure> failures{
        {"GREETING", {"554 no service\r\n"}, "Error connecting to SMTP Server (protocol 1): 554 no service"},
        {"GREETING", {"22\r\n"}, "Error connecting to SMTP Server (protocol 1): 22"},
        {"GREETING", {"220-first\r\n554 second\r\n"}, "Error connecting to SMTP Server (protocol 1): 554 second"},
        {"EHLO", {"500 what\r\n"}, "Error connecting to SMTP Server (protocol 2): 500 what"},
        {"EHLO",
         {QByteArray(1100, '2') + "\r\n"},
         "Error connecting to SMTP Server (protocol 2): The server 127.0.0.1 sent a reply line longer than 1024 bytes",
         true},
        {"EHLO",
         {QByteArray("250-x\r\n").repeated(100) + "250 ok\r\n"},
         "Error connecting to SMTP Server (protocol 2): The server 127.0.0.1 sent a reply of more than 100 lines",
         true},
        {"EHLO",
         {("250-" + QByteArray(1000, 'x') + "\r\n").repeated(70) + "250 ok\r\n"},
         "Error connecting to SMTP Server (protocol 2): The server 127.0.0.1 sent a reply of more than 64 KB",
         true},
        {"EHLO", {"250-a\r\n250OK\r\n"}, "Error connecting to SMTP Server (protocol 2): 250OK"},
        {"AUTH", {"504 unrecognised\r\n"}, "Error connecting to SMTP Server (protocol 3): 504 unrecognised"},
        {"USER", {"535 no\r\n"}, "Error connecting to SMTP Server (protocol 4)"},
        {"PASS",
         {"535 5.7.8 Authentication credentials invalid\r\n"},
         "Login to SMTP Server failed - incorrect authentication: 535 5.7.8 Authentication credentials invalid"},
        // Silence is no verdict on the password.
        {"PASS", {}, "The server 127.0.0.1 did not answer AUTH LOGIN within 1 s", true},
    };
    session.setTimeout(1000);
    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("wrong");
    for (const LoginFailure& failure : failures) {
        SCOPED_TRACE(failure.message);
        server.script(QString::fromLatin1(failure.step), failure.reply);
        const MailResult result = session.SmtpLogin(settings);
        EXPECT_EQ(result.text, QString::fromLatin1(failure.message));
        EXPECT_EQ(result.standsAlone, failure.standsAlone);
        EXPECT_FALSE(session.isConnected());
        EXPECT_TRUE(server.waitForHangUp());
        // Closed, so the next login connects again.
        EXPECT_TRUE(session.SmtpLogin(settings).ok());
        session.Disconnect();
    }
    EXPECT_EQ(server.connections, 2 * failures.size());
}

TEST_F(SmtpLoginTest, NoGreetingWithinTheTimeOut)
{
    session.setTimeout(50);
    server.script(QStringLiteral("GREETING"), {});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_EQ(result.text,
              QStringLiteral("Error connecting to SMTP Server (protocol 1): The server 127.0.0.1 did not greet within "
                             "0.05 s"));
    EXPECT_TRUE(status.texts.contains(QStringLiteral("S: ")));
}

TEST_F(SmtpLoginTest, ServerHangingUpWhenAskedForStartTls)
{
    settings.Security.clear();
    server.script(QStringLiteral("EHLO"), {"250-scripted\r\n250 STARTTLS\r\n"});
    server.script(QStringLiteral("STARTTLS"), {ScriptedServer::hangUpChunk()});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_EQ(result.text, QStringLiteral("Error connecting to SMTP Server (protocol 5): The server 127.0.0.1 closed "
                                          "the connection when asked for STARTTLS"));
    EXPECT_FALSE(session.isConnected());
    EXPECT_TRUE(status.texts.contains(QStringLiteral("SMTP Connection Closed")));
}

TEST_F(SmtpLoginTest, ConnectErrorsUseTheirOwnPrefix)
{
    ASSERT_TRUE(session.SmtpLogin(settings).ok());
    // A second login on the open connection is refused and leaves it alone.
    const MailResult again = session.SmtpLogin(settings);
    EXPECT_EQ(again.text, QStringLiteral("Error connecting to SMPT Server: Already connected."));
    EXPECT_TRUE(session.isConnected());
    session.Disconnect();

    quint16 closedPort;
    {
        ScriptedServer gone;
        closedPort = gone.port();
    }
    settings.SMTPPort = closedPort;
    const MailResult refused = session.SmtpLogin(settings);
    EXPECT_TRUE(refused.text.startsWith(QStringLiteral("Error connecting to SMPT Server: ")));
    EXPECT_GT(refused.text.size(), QStringLiteral("Error connecting to SMPT Server: ").size());
}

TEST(PasswordCommand, TimeOutEndsTheCommandAndWhatItStarted)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("late"));
    QString secret;
    QString error;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(
        RunPasswordCommand(QStringLiteral("sleep 1; touch '%1'; echo late").arg(marker), 200, &secret, &error));
    EXPECT_EQ(error, QStringLiteral("it did not finish within 0.2 seconds"));
    EXPECT_LT(clock.elapsed(), 900);
    QTest::qWait(1300);
    EXPECT_FALSE(QFile::exists(marker));
}

} // namespace
} // namespace velmar::test
