#include "core/appsettings.h"
#include "mail/mailstatus.h"
#include "mail/smtpsession.h"

#include "scriptedserver.h"

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

class RecordingStatus : public MailStatus
{
public:
    void showStatus(const QString& text) override { texts.append(text); }
    QStringList texts;
};

class SmtpLoginTest : public ::testing::Test
{
protected:
    SmtpLoginTest()
    {
        settings.Server = QStringLiteral("127.0.0.1");
        settings.SMTPPort = server.port();
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

TEST_F(SmtpLoginTest, AuthLoginSendsBase64CredentialsAndJudgesPromptsByFirstCharacter)
{
    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("secret");
    server.script(QStringLiteral("AUTH"), {"300 anything starting with 3\r\n"});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
    EXPECT_EQ(server.received, QList<QByteArray>({"EHLO Webmaster", "AUTH LOGIN", "Y2xlcms=", "c2VjcmV0"}));
}

TEST_F(SmtpLoginTest, LongLoginIsCutAndEmptyPasswordIsAnEmptyLine)
{
    settings.Login = QString(60, u'M');
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_TRUE(result.ok()) << result.text.toStdString();
    ASSERT_EQ(server.received.size(), 4);
    EXPECT_EQ(server.received.at(2), QByteArray("TU1N").repeated(18)); // the first 54 bytes
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
};

TEST_F(SmtpLoginTest, EachFailureHasItsMessageAndClosesTheConnection)
{
    const QList<LoginFailure> failures{
        {"GREETING", {"554 no service\r\n"}, "Error connecting to SMTP Server (protocol 1): 554 no service"},
        {"GREETING", {"22\r\n"}, "Error connecting to SMTP Server (protocol 1): 22"},
        // Only the first greeting line is read: the second is taken for the EHLO reply.
        {"GREETING", {"220-first\r\n220 second\r\n"}, "Error connecting to SMTP Server (protocol 2): 220 second"},
        {"EHLO", {"500 what\r\n"}, "Error connecting to SMTP Server (protocol 2): 500 what"},
        {"EHLO", {"250-a\r\n250OK\r\n"}, "Error connecting to SMTP Server (protocol 2): 250OK"},
        {"AUTH", {"504 unrecognised\r\n"}, "Error connecting to SMTP Server (protocol 3): 504 unrecognised"},
        {"USER", {"535 no\r\n"}, "Error connecting to SMTP Server (protocol 4)"},
        {"PASS",
         {"535 5.7.8 Authentication credentials invalid\r\n"},
         "Login to SMTP Server failed - incorrect authentication: 535 5.7.8 Authentication credentials invalid"},
    };
    settings.Login = QStringLiteral("clerk");
    settings.Password = QStringLiteral("wrong");
    for (const LoginFailure& failure : failures) {
        SCOPED_TRACE(failure.message);
        server.script(QString::fromLatin1(failure.step), failure.reply);
        const MailResult result = session.SmtpLogin(settings);
        EXPECT_EQ(result.text, QString::fromLatin1(failure.message));
        EXPECT_FALSE(result.raised);
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
    EXPECT_EQ(result.text, QStringLiteral("Error connecting to SMTP Server (protocol 1): "));
    EXPECT_TRUE(status.texts.contains(QStringLiteral("S: ")));
}

TEST_F(SmtpLoginTest, ServerHangingUpInsteadOfTheEhloReply)
{
    server.script(QStringLiteral("EHLO"), {ScriptedServer::hangUpChunk()});
    const MailResult result = session.SmtpLogin(settings);
    EXPECT_EQ(result.text, QStringLiteral("Error connecting to SMTP Server (protocol 2): "));
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

} // namespace
} // namespace velmar::test
