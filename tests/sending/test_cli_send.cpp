// velmarpay-cli send and send-all on the sample pay file, against a real SMTP server.
#include "common/testsupport.h"
#include "smtpserverprocess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmar::test;

namespace {

class SendCommands : public ::testing::Test
{
protected:
    using Run = CliRun;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("received"))));
        ASSERT_TRUE(server.start(path(QStringLiteral("received")), QStringLiteral("clerk"), QStringLiteral("secret")));
        writeIni(QStringLiteral("secret"));
        ASSERT_EQ(cli({QStringLiteral("init-db")}).exitCode, 0);
        ASSERT_EQ(cli({QStringLiteral("import"), sourcePath(QStringLiteral("samples/sample.pay"))}).exitCode, 0);
    }

    void writeIni(const QString& password)
    {
        QFile ini(path(QStringLiteral("velmarpay.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[DEFAULTS]\nSuperannuation=6\nSolo=1\nProForma=1\n[Solo]\nNHSPSAuthority=VELMAR\n"
                                 "[EMail]\nServer=127.0.0.1\nSMTPPort=%1\nLogin=clerk\nPassword=%2\n"
                                 "FromAddress=pay@velmar.test\n[EMailText]\nLine1=Please find attached.\n")
                      .arg(server.port())
                      .arg(password)
                      .toUtf8());
    }

    Run cli(const QStringList& args)
    {
        return runCli(path(QStringLiteral("velmarpay.ini")), path(QStringLiteral("velmarpay.mdb")), args);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    SmtpServerProcess server;
};

TEST_F(SendCommands, SendOneSendAllAndRefusedLogin)
{
    const QStringList dataSet{QStringLiteral("--dataset"), QStringLiteral("02_2005")};
    const Run one =
        cli(QStringList{QStringLiteral("send"), QStringLiteral("--doctor"), QStringLiteral("1001")} + dataSet);
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.contains(QStringLiteral("C: RCPT TO:<a.ashworth@example.org>"))) << one.out.toStdString();
    EXPECT_TRUE(one.out.contains(QStringLiteral("Email with Pro Forma attachment sent to: a.ashworth@example.org")));
    EXPECT_EQ(server.messageFiles().size(), 1);

    // Without --yes the question is refused and nothing goes.
    EXPECT_NE(cli(QStringList{QStringLiteral("send-all")} + dataSet).exitCode, 0);
    EXPECT_EQ(server.messageFiles().size(), 1);

    const Run all = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    const qsizetype doctors = all.out.count(QStringLiteral("progress "));
    ASSERT_GT(doctors, 1);
    EXPECT_EQ(server.messageFiles().size(), 1 + doctors - all.err.count(QStringLiteral(" sending email to ")))
        << all.err.toStdString();
    EXPECT_EQ(all.out.count(QStringLiteral("Logging in to ")), 1);

    writeIni(QStringLiteral("wrong"));
    const Run refused = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("incorrect authentication: 535"))) << refused.err.toStdString();
    EXPECT_EQ(server.messageFiles().size(), 1 + doctors - all.err.count(QStringLiteral(" sending email to ")));
}

} // namespace
