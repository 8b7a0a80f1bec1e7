// velmarpay-cli send and send-all on the sample pay file, against a real SMTP server.
#include "common/realpeers.h"
#include "common/testsupport.h"
#include "smtpserverprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmar::test;
using namespace Qt::StringLiterals;

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
                                 "[EMail]\nServer=127.0.0.1\nSMTPPort=%1\nLogin=clerk\nPassword=%2\nSecurity=None\n"
                                 "FromAddress=pay@velmar.test\n[EMailText]\nLine1=Please find attached.\n")
                      .arg(server.port())
                      .arg(password)
                      .toUtf8());
    }

    Run cli(const QStringList& args)
    {
        return runCli(path(QStringLiteral("velmarpay.ini")), path(QStringLiteral("velmarpay.mdb")), args);
    }

    // send-all of the sample's data set as a process of its own, to be stopped by a signal.
    void startSendAll(QProcess& run)
    {
        run.start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"),
                  {QStringLiteral("--ini"), path(QStringLiteral("velmarpay.ini")), QStringLiteral("--db"),
                   path(QStringLiteral("velmarpay.mdb")), QStringLiteral("send-all"), QStringLiteral("--yes"),
                   QStringLiteral("--dataset"), QStringLiteral("02_2005")});
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
    EXPECT_EQ(server.messageFiles().size(), 1);
    // What the history kept is byte for byte what the server received, invoice and pension form.
    QProcess save;
    save.start(QStringLiteral("/usr/bin/python3"), {sourcePath(QStringLiteral("tests/sending/save_attachments.py")),
                                                    server.messageFiles().constFirst(), path(QString())});
    ASSERT_TRUE(save.waitForFinished(30000));
    const QStringList names = QString::fromUtf8(save.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(names.size(), 2);
    for (const QString& kind : {QString(), QStringLiteral("--pension-form")}) {
        QStringList args{QStringLiteral("sent-document"), QStringLiteral("--doctor"), QStringLiteral("1001"),
                         QStringLiteral("--out"), path(QStringLiteral("kept.pdf"))};
        if (!kind.isEmpty())
            args.append(kind);
        ASSERT_EQ(cli(args + dataSet).exitCode, 0);
        QFile kept(path(QStringLiteral("kept.pdf"))), received(path(names.at(kind.isEmpty() ? 0 : 1)));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly) && received.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), received.readAll()) << kind.toStdString();
    }
    // Once pruned, the copies are gone but the history stays whole.
    EXPECT_EQ(cli({QStringLiteral("prune-sent"), QStringLiteral("--before"), QStringLiteral("2999-01-01")}).out,
              QStringLiteral("Dropped 2 documents sent before 2999-01-01\n"));
    EXPECT_EQ(cli(QStringList{QStringLiteral("sent-document"), QStringLiteral("--doctor"), QStringLiteral("1001"),
                              QStringLiteral("--out"), path(QStringLiteral("kept.pdf"))} +
                  dataSet)
                  .exitCode,
              1);
    EXPECT_EQ(cli({QStringLiteral("verify-history")}).exitCode, 0);

    // Without --yes the question is refused and nothing goes.
    EXPECT_NE(cli(QStringList{QStringLiteral("send-all")} + dataSet).exitCode, 0);
    EXPECT_EQ(server.messageFiles().size(), 1);

    const Run all = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    // Dr Carter has no address: not every message went.
    EXPECT_EQ(all.exitCode, 1);
    // A progress line per doctor and 100 % at the end, then the summary and a line per doctor; no
    // dialogue without --verbose.
    const QStringList lines = all.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12 + 1 + 1 + 12) << all.out.toStdString();
    EXPECT_EQ(lines.at(12), QStringLiteral("progress 100%"));
    EXPECT_EQ(lines.at(13), QStringLiteral("Sent 11 of 12: 0 failed, 0 unconfirmed, 1 skipped"));
    // Who was not sent comes first.
    EXPECT_EQ(lines.at(14), QStringLiteral("Dr Carter (1009) <>: skipped: Dr Carter has no e-mail address"));
    EXPECT_EQ(lines.at(15), QStringLiteral("Dr Ashworth (1001) <a.ashworth@example.org>: sent"));
    EXPECT_EQ(all.out.count(QStringLiteral(">: sent\n")), server.messageFiles().size() - 1);
    EXPECT_FALSE(all.out.contains(QStringLiteral("C: ")));
    // The question names the data set, the count and who has had his already.
    static const QRegularExpression asked(
        QStringLiteral("^Send the pro-forma invoices of February 2005 Pay Run \\(02_2005\\) to 12 doctors\\?\n"
                       "1 of them was already sent theirs \\(last on \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d\\)\\. Yes\n$"));
    EXPECT_TRUE(asked.match(all.err).hasMatch()) << all.err.toStdString();

    writeIni(QStringLiteral("wrong"));
    const Run refused = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("incorrect authentication: 535"))) << refused.err.toStdString();
    EXPECT_EQ(server.messageFiles().size(), 1 + all.out.count(QStringLiteral(">: sent\n")));
}

TEST_F(SendCommands, OnlyFailedSendsExactlyTheFailedAndTheLogSaysWhoGotWhat)
{
    const QStringList dataSet{QStringLiteral("--dataset"), QStringLiteral("02_2005")};
    server.stop();
    const SmtpServerProcess::Options refusing{.login = QStringLiteral("clerk"),
                                              .password = QStringLiteral("secret"),
                                              .refuse = {QStringLiteral("c.patel@example.org")}};
    ASSERT_TRUE(server.start(path(QStringLiteral("received")), refusing));
    writeIni(QStringLiteral("secret"));
    const Run first = cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--yes")} + dataSet);
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_TRUE(first.out.contains(QStringLiteral("\nSent 10 of 12: 1 failed, 0 unconfirmed, 1 skipped\n")));
    EXPECT_TRUE(first.out.contains(QStringLiteral("\nDr Patel (1003) <c.patel@example.org>: failed: 550 5.1.1")));

    server.stop();
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("again"))));
    ASSERT_TRUE(server.start(path(QStringLiteral("again")), QStringLiteral("clerk"), QStringLiteral("secret")));
    writeIni(QStringLiteral("secret"));
    EXPECT_EQ(cli(QStringList{QStringLiteral("send-all"), QStringLiteral("--include-unconfirmed")} + dataSet).exitCode,
              2);
    const Run again = cli(
        QStringList{QStringLiteral("send-all"), QStringLiteral("--only-failed"), QStringLiteral("--yes")} + dataSet);
    EXPECT_EQ(again.exitCode, 1); // Dr Carter still has no address
    EXPECT_TRUE(again.out.contains(QStringLiteral("\nSent 1 of 2: 0 failed, 0 unconfirmed, 1 skipped\n")))
        << again.out.toStdString();
    EXPECT_EQ(server.recipients(), QStringList{QStringLiteral("c.patel@example.org")});

    // The latest attempt per doctor, or every attempt in turn: tab-separated, the time in UTC.
    const Run latest = cli(QStringList{QStringLiteral("send-log")} + dataSet);
    ASSERT_EQ(latest.exitCode, 0) << latest.err.toStdString();
    const QStringList rows = latest.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 1 + 12);
    EXPECT_EQ(rows.first(), QStringLiteral("id\tsname\taddress\tsent_at\toutcome\treply"));
    static const QRegularExpression sentRow(QStringLiteral(
        "^1003\tPatel\tc\\.patel@example\\.org\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\tsent\t250 "));
    EXPECT_EQ(rows.filter(sentRow).size(), 1) << latest.out.toStdString();
    const Run every = cli(QStringList{QStringLiteral("send-log"), QStringLiteral("--all")} + dataSet);
    const QStringList attempts = every.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(attempts.size(), 1 + 14);
    const QStringList patel = attempts.filter(QStringLiteral("1003\tPatel\tc.patel@example.org\t"));
    ASSERT_EQ(patel.size(), 2);
    EXPECT_TRUE(patel.at(0).endsWith(QStringLiteral("\tfailed\t550 5.1.1 No such user here")));
    EXPECT_TRUE(patel.at(1).endsWith(QStringLiteral("\tsent\t250 2.0.0 Message accepted")));
}

TEST_F(SendCommands, KilledRunLeavesALogThatMatchesWhatTheServerReceived)
{
    server.stop();
    const SmtpServerProcess::Options slow{
        .login = QStringLiteral("clerk"), .password = QStringLiteral("secret"), .delaySeconds = 0.3};
    ASSERT_TRUE(server.start(path(QStringLiteral("received")), slow));
    writeIni(QStringLiteral("secret"));

    QProcess run;
    startSendAll(run);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.messageFiles().isEmpty(); }, 20000));
    run.terminate(); // SIGTERM
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 1);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("\nStopped on request; not tried: "))) << out.toStdString();

    const QStringList received = server.recipients();
    QStringList logged;
    const Run log = cli(
        {QStringLiteral("send-log"), QStringLiteral("--all"), QStringLiteral("--dataset"), QStringLiteral("02_2005")});
    for (const QString& row : log.out.split(u'\n', Qt::SkipEmptyParts).mid(1)) {
        const QStringList f = row.split(u'\t');
        EXPECT_EQ(f.value(4), QStringLiteral("sent")) << row.toStdString();
        logged.append(f.value(2));
    }
    EXPECT_EQ(logged, received);
    EXPECT_LT(received.size(), 11);
}

TEST_F(SendCommands, SignalDuringAStuckWaitEndsTheRunAtOnceAndLogsTheMessage)
{
    server.stop();
    ASSERT_TRUE(
        server.start(path(QStringLiteral("received")), SmtpServerProcess::Options{.hostile = QStringLiteral("stuck")}));
    writeIni(QStringLiteral("secret"));
    QProcess run;
    startSendAll(run);
    // The server never answers the first message's final ".": the program waits up to 20 s.
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.commands().contains(QStringLiteral(".")); }, 20000));
    QElapsedTimer clock;
    clock.start();
    run.terminate(); // SIGTERM
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(run.exitCode(), 1);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("\nSent 0 of 12: 0 failed, 1 unconfirmed, 0 skipped\n"
                                            "Stopped on request; not tried: 11\n")))
        << out.toStdString();
    // The message in flight is in the log, and the server was told goodbye.
    const Run log = cli(
        {QStringLiteral("send-log"), QStringLiteral("--all"), QStringLiteral("--dataset"), QStringLiteral("02_2005")});
    const QStringList rows = log.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2) << log.out.toStdString();
    EXPECT_TRUE(rows.at(1).startsWith(QStringLiteral("1001\tAshworth\t")));
    EXPECT_TRUE(rows.at(1).endsWith(QStringLiteral("\tunconfirmed\tStopped on request")));
    EXPECT_EQ(server.commands().constLast(), QStringLiteral("QUIT"));
}

// Another program takes the writers' lock in the middle of a run: the run stops, and every doctor
// the server received is in the log as one who may have had his (nobody is mailed unlogged).
TEST_F(SendCommands, ALogThatCannotBeWrittenStopsTheRunAndNobodyIsMailedUnlogged)
{
    server.stop();
    ASSERT_TRUE(
        server.start(path(QStringLiteral("received")),
                     {.login = QStringLiteral("clerk"), .password = QStringLiteral("secret"), .delaySeconds = 0.5}));
    writeIni(QStringLiteral("secret"));
    QProcess run;
    startSendAll(run);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.messageFiles().isEmpty(); }, 20000));
    {
        // Held longer than the run waits for another writer (40 s).
        const LockHolder other(path(QStringLiteral("velmarpay.mdb")), QStringLiteral("BEGIN IMMEDIATE"));
        ASSERT_TRUE(run.waitForFinished(90000));
    }
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_TRUE(run.readAllStandardOutput().contains("The send log cannot be written"));
    const QStringList received = server.recipients();
    EXPECT_LT(received.size(), 11);
    const Run log = cli({QStringLiteral("send-log"), QStringLiteral("--dataset"), QStringLiteral("02_2005")});
    for (const QString& to : received)
        EXPECT_EQ(log.out.count(QRegularExpression(
                      QStringLiteral("\t%1\t[^\t]*\t(sent|unconfirmed)\t").arg(QRegularExpression::escape(to)))),
                  1)
            << to.toStdString() << "\n"
            << log.out.toStdString();
}

// Send runs of the sample's data set as separate programs, on either store, against a real server
// that waits before each answer.
class SendRuns : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(path(u"received"_s)));
        ASSERT_TRUE(server.start(path(u"received"_s), {.delaySeconds = 0.2}));
        mailIni();
        ASSERT_EQ(run({u"import"_s, sourcePath(u"samples/sample.pay"_s)}).exitCode, 0);
    }

    void mailIni(const QString& extra = QString())
    {
        m_mailIni = writeFile(u"mail.ini"_s, u"[DEFAULTS]\nProForma=1\n[EMail]\nServer=127.0.0.1\nSMTPPort=%1\n"
                                             "Security=None\nFromAddress=pay@velmar.test\n%2"_s.arg(server.port())
                                                 .arg(extra)
                                                 .toUtf8());
        m_storeIni = iniForStore(m_mailIni);
    }
    CliRun run(const QStringList& args) { return cli(args, m_mailIni); }
    // A send-all of its own, answering Yes.
    void start(QProcess& p, const QStringList& args)
    {
        QStringList all{u"--ini"_s, m_storeIni};
        if (!onServer())
            all << u"--db"_s << m_dbPath;
        p.start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"),
                all + QStringList{u"send-all"_s, u"--yes"_s, u"--dataset"_s, u"02_2005"_s} + args);
    }
    // The latest (or every) row of the log: id, address, outcome.
    QStringList log(bool every = false)
    {
        QStringList rows;
        const CliRun r = run(QStringList{u"send-log"_s, u"--dataset"_s, u"02_2005"_s} +
                             (every ? QStringList{u"--all"_s} : QStringList()));
        for (const QString& row : r.out.split(u'\n', Qt::SkipEmptyParts).mid(1)) {
            const QStringList f = row.split(u'\t');
            rows.append(QStringList{f.value(0), f.value(2), f.value(4)}.join(u'|'));
        }
        return rows;
    }
    // Every doctor had at most one message, and a message for every attempt logged as sent.
    void expectEachOnceAndEverySentReceived()
    {
        const QStringList received = server.recipients();
        for (const QString& to : received)
            EXPECT_EQ(received.count(to), 1) << to.toStdString() << " was mailed twice";
        for (const QString& row : log(true)) {
            if (row.endsWith(u"|sent"_s)) {
                EXPECT_TRUE(received.contains(row.section(u'|', 1, 1))) << row.toStdString();
            }
        }
    }

    SmtpServerProcess server;
    QString m_mailIni;
    QString m_storeIni;
};
VELMAR_ON_EACH_STORE(SendRuns);

// Two clerks start the same data set 0.3 s apart: one run sends, the other is refused.
TEST_P(SendRuns, TwoRunsAtOnceMailEachDoctorOnce)
{
    QProcess a, b;
    start(a, {});
    QTest::qWait(300);
    start(b, {u"--only-failed"_s});
    ASSERT_TRUE(a.waitForFinished(60000) && b.waitForFinished(60000));
    const QString refusals = QString::fromUtf8(a.readAllStandardError() + b.readAllStandardError());
    static const QRegularExpression refused(u"02_2005 is being sent from \\S+ by \\S+ since \\d\\d/\\d\\d/\\d{4} "
                                            "\\d\\d:\\d\\d\\."_s);
    EXPECT_EQ(refusals.count(refused), 1) << refusals.toStdString();
    EXPECT_EQ(a.exitCode() + b.exitCode(), 2); // Dr Carter has no address; the refused run failed
    expectEachOnceAndEverySentReceived();
    EXPECT_EQ(server.recipients().size(), 11);
    EXPECT_EQ(scalar(u"SELECT count(*) FROM SendClaims"_s).toInt(), 0);
}

// A run killed at any moment, then --only-failed: the stopped run's claim is taken over; a doctor
// whose message may have gone is not mailed again.
TEST_P(SendRuns, KilledRunsThenOnlyFailedNeverMailTwice)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const qsizetype before = server.messageFiles().size();
        QProcess p;
        start(p, round == 0 ? QStringList() : QStringList{u"--only-failed"_s});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return server.messageFiles().size() > before || p.state() == QProcess::NotRunning; }, 20000));
        QTest::qWait(int(QRandomGenerator::global()->bounded(400)));
        p.kill();
        ASSERT_TRUE(p.waitForFinished(10000));
        if (round > 0) {
            EXPECT_TRUE(p.readAllStandardOutput().contains("this run takes it over."));
        }
    }
    const CliRun last = run({u"send-all"_s, u"--yes"_s, u"--only-failed"_s, u"--dataset"_s, u"02_2005"_s});
    EXPECT_TRUE(last.out.contains(u"skipped"_s)) << last.out.toStdString() << last.err.toStdString();
    expectEachOnceAndEverySentReceived();
    // Each doctor killed in flight is unconfirmed, never "sending" once no run holds the data set.
    for (const QString& row : log())
        EXPECT_TRUE(row.endsWith(u"|sent"_s) || row.endsWith(u"|unconfirmed"_s) || row.endsWith(u"|skipped"_s))
            << row.toStdString();
}

// A TEST run makes nobody sent; an overwrite that changes an amount marks its doctor, and only he
// is sent an amended invoice.
TEST_P(SendRuns, TestRunsCountForNobodyAndCorrectionsAreSentAsAmended)
{
    mailIni(u"TEST=clerk@velmar.test\n"_s);
    const CliRun test = run({u"send-all"_s, u"--yes"_s, u"--dataset"_s, u"02_2005"_s});
    EXPECT_TRUE(test.out.contains(u"\nDr Ashworth (1001) <a.ashworth@example.org>: test to clerk@velmar.test\n"_s))
        << test.out.toStdString();
    EXPECT_TRUE(test.out.contains(u"Sent 0 of 12: 0 failed, 0 unconfirmed, 1 skipped, 11 test to clerk@velmar.test"_s));
    EXPECT_EQ(server.recipients(), QStringList(11, u"clerk@velmar.test"_s));
    EXPECT_TRUE(log().contains(u"1001|clerk@velmar.test|test to clerk@velmar.test"_s));

    mailIni();
    const CliRun real = run({u"send-all"_s, u"--yes"_s, u"--only-failed"_s, u"--dataset"_s, u"02_2005"_s});
    EXPECT_TRUE(real.out.contains(u"Sent 11 of 12: 0 failed, 0 unconfirmed, 1 skipped"_s)) << real.out.toStdString();

    QFile sample(sourcePath(u"samples/sample.pay"_s));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    QString fixed = QString::fromUtf8(sample.readAll());
    const QString shift = u"D,1001,05/02/2005,\"Northbridge Base\",\"Sunday Day\",08:00-18:00,45.00,"_s;
    ASSERT_EQ(fixed.count(shift + u"450.00,0,0.00,,,450.00,"_s), 1);
    fixed.replace(shift + u"450.00,0,0.00,,,450.00,"_s, shift + u"550.00,0,0.00,,,550.00,"_s);
    const CliRun overwrite = run({u"import"_s, writeFile(u"fixed.pay"_s, fixed.toUtf8()), u"--overwrite"_s});
    EXPECT_TRUE(overwrite.err.contains(
        u"11 doctors were already sent their invoices; they will show as changed where their figures change."_s))
        << overwrite.err.toStdString();
    const QStringList changed = log().filter(u"changed since sent"_s);
    EXPECT_EQ(changed, QStringList{u"1001|a.ashworth@example.org|changed since sent"_s});

    const qsizetype before = server.messageFiles().size();
    const CliRun amended = run({u"send-all"_s, u"--yes"_s, u"--only-changed"_s, u"--dataset"_s, u"02_2005"_s});
    EXPECT_EQ(amended.exitCode, 0) << amended.out.toStdString() << amended.err.toStdString();
    ASSERT_EQ(server.messageFiles().size(), before + 1);
    EXPECT_EQ(server.recipients().last(), u"a.ashworth@example.org"_s);
    const QJsonObject message = SmtpServerProcess::parse(server.messageFiles().last());
    EXPECT_EQ(message["headers"_L1]["Subject"_L1].toString(), u"Amended: Velmar Payment Details"_s);
    // The log knows what went: the invoice's own bytes.
    EXPECT_EQ(scalar(u"SELECT attachment_sha256 FROM SendLog WHERE id = '1001' ORDER BY attempt DESC LIMIT 1"_s),
              message["parts"_L1][1]["sha256"_L1].toString());
    EXPECT_TRUE(log().filter(u"changed since sent"_s).isEmpty());

    // Every attempt is on record with its outcome, the TEST run's and the skipped ones too.
    EXPECT_EQ(scalar(u"SELECT count(*) FROM History WHERE action = 'send'"_s).toInt(),
              scalar(u"SELECT count(*) FROM SendLog"_s).toInt());
    const QStringList sends = run({u"history"_s, u"--dataset"_s, u"02_2005"_s}).out.split(u'\n').filter(u"\tsend\t"_s);
    const int tests = scalar(u"SELECT count(*) FROM SendLog WHERE outcome = 'test'"_s).toInt();
    EXPECT_GT(tests, 0);
    EXPECT_EQ(sends.filter(u" test to "_s).size(), tests);
    EXPECT_EQ(run({u"verify-history"_s}).exitCode, 0);
}

} // namespace
