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
    const Run one = cli(QStringList{QStringLiteral("send"), QStringLiteral("--doctor"), QStringLiteral("1001"),
                                    QStringLiteral("--verbose")} +
                        dataSet);
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.contains(QStringLiteral("\nC: RCPT TO:<a.ashworth@example.org>\n"))) << one.out.toStdString();
    EXPECT_TRUE(one.out.contains(QStringLiteral("\nDr Ashworth (1001) <a.ashworth@example.org>: sent\n")));
    EXPECT_TRUE(one.out.contains(QStringLiteral("Email with Pro Forma attachment sent to: a.ashworth@example.org")));
    // Even the whole dialogue holds neither the password nor the documents.
    EXPECT_EQ(one.out.count(QStringLiteral("\nC: <credentials hidden>\n")), 2);
    EXPECT_FALSE(one.out.contains(QStringLiteral("c2VjcmV0")));
    EXPECT_TRUE(one.out.contains(QStringLiteral("\nC: <attachment Ashworth_02_2005.pdf, ")));
    EXPECT_TRUE(one.out.contains(QStringLiteral("\nC: <attachment Ashworth_Solo_02_2005.pdf, ")));
    EXPECT_LT(one.out.count(u'\n'), 100);
    EXPECT_EQ(server.messageFiles().size(), 1);

    // Without --yes the question is refused and nothing goes.
    EXPECT_NE(cli(QStringList{QStringLiteral("send-all")} + dataSet).exitCode, 0);
    EXPECT_EQ(server.messageFiles().size(), 1);

    const Run all = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    const qsizetype doctors = all.out.count(QStringLiteral("progress "));
    ASSERT_GT(doctors, 1);
    // One line per doctor, after his progress line; no dialogue without --verbose.
    const QStringList lines = all.out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 2 * doctors + 1) << all.out.toStdString();
    EXPECT_EQ(all.out.count(QStringLiteral(">: sent\n")), server.messageFiles().size() - 1);
    EXPECT_EQ(all.out.count(QStringLiteral(">: failed: ")), all.err.count(QStringLiteral("\n")) - 1);
    EXPECT_EQ(lines.at(1), QStringLiteral("Dr Ashworth (1001) <a.ashworth@example.org>: sent"));
    EXPECT_EQ(lines.last(), QStringLiteral("sent %1 messages").arg(server.messageFiles().size() - 1));
    EXPECT_FALSE(all.out.contains(QStringLiteral("C: ")));

    writeIni(QStringLiteral("wrong"));
    const Run refused = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("incorrect authentication: 535"))) << refused.err.toStdString();
    EXPECT_EQ(server.messageFiles().size(), 1 + all.out.count(QStringLiteral(">: sent\n")));
}

} // namespace
