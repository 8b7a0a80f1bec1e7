#include "common/realpeers.h"
#include "common/testsupport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "db/dialect.h"
#include "db/reading.h"
#include "import/payimport.h"
#include "payments/datasets.h"
#include "payments/payments.h"
#include "sending/sendlog.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>

#include <functional>
#include <utility>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

QString refusal(const DatabaseSettings& settings)
{
    QSqlDatabase db;
    QString error;
    EXPECT_FALSE(OpenServerDatabase(settings, u"refused"_s, &db, &error));
    CloseDatabase(u"refused"_s);
    return error;
}

bool connects(const DatabaseSettings& settings)
{
    QSqlDatabase db;
    QString error;
    const bool ok = OpenServerDatabase(settings, u"accepted"_s, &db, &error);
    EXPECT_TRUE(ok) << error.toStdString();
    db = QSqlDatabase();
    CloseDatabase(u"accepted"_s);
    return ok;
}

QString iniFor(const QTemporaryDir& dir, const DatabaseSettings& s)
{
    const QString path = dir.filePath(u"server.ini"_s);
    QFile ini(path);
    EXPECT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(DatabaseSection(s)) > 0);
    return path;
}

} // namespace

// Whatever keeps the program from its database is told the same way, naming database and host.
TEST(ServerConnection, EachRefusalNamesTheDatabaseAndTheHost)
{
    PostgresServer& server = PostgresServer::instance();
    ASSERT_TRUE(server.admin(u"CREATE DATABASE no_tables"_s));
    const DatabaseSettings local = server.settings(u"velmar_template"_s);
    const DatabaseSettings tcp = server.settings(u"velmar_template"_s, true);
    int closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    const auto with = [](DatabaseSettings s, const std::function<void(DatabaseSettings&)>& change) {
        change(s);
        return s;
    };
    const struct
    {
        DatabaseSettings settings;
        QString reason;
        QString message() const
        {
            return u"Cannot connect to the database %1 on %2: %3"_s.arg(settings.Name, settings.Host, reason);
        }
    } cases[] = {
        {with(tcp, [&](auto& s) { s.Port = closedPort; }),
         u"Connection refused Is the server running on that host and accepting TCP/IP connections?"_s},
        {with(tcp, [](auto& s) { s.Password = u"wrong"_s; }),
         u"password authentication failed for user \"postgres\""_s},
        {with(local, [](auto& s) { s.Name = u"missing"_s; }), u"database \"missing\" does not exist"_s},
        {with(local, [](auto& s) { s.Name = u"no_tables"_s; }),
         u"its tables (Headers, Details, FileNames) are missing; \"velmarpay-cli init-db\" creates them"_s},
        {with(tcp, [](auto& s) { s.PasswordCommand = u"echo no >&2; exit 3"_s; }),
         u"the password command failed: exit status 3"_s},
        // sslmode goes to the client library as it stands; our server speaks no TLS.
        {with(tcp, [](auto& s) { s.SslMode = u"require"_s; }), u"server does not support SSL, but SSL was required"_s},
        {with(tcp, [](auto& s) { s.SslMode = u"disable host=elsewhere"_s; }),
         u"invalid sslmode value: \"disable host=elsewhere\""_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusal(c.settings), c.message());

    EXPECT_TRUE(connects(with(tcp, [](auto& s) {
        s.Password.clear();
        s.PasswordCommand = u"printf '%s\\n' "_s + PostgresServer::password();
    })));

    // The command line says the same and fails.
    QTemporaryDir dir;
    const CliRun r = runCli(iniFor(dir, cases[1].settings), QString(), {u"datasets"_s});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, cases[1].message() + u'\n');
}

// The administrator makes the database with createdb; init-db puts the tables in, once.
TEST(ServerConnection, InitDbCreatesTheTablesOnceInTheNamedDatabase)
{
    PostgresServer& server = PostgresServer::instance();
    ASSERT_TRUE(server.admin(u"CREATE DATABASE fresh"_s));
    const DatabaseSettings s = server.settings(u"fresh"_s);
    QTemporaryDir dir;
    const QString ini = iniFor(dir, s);
    CliRun r = runCli(ini, QString(), {u"init-db"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, u"created the tables in fresh on %1\n"_s.arg(s.Host));
    r = runCli(ini, QString(), {u"init-db"_s});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, u"The database fresh on %1 already has the tables Headers, Details, FileNames, SendLog, "
                     "SendClaims, History, HistoryData: nothing was created\n"_s.arg(s.Host));
}

// A service moving its SQLite file onto the server.
class Migrate : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        m_file = path(u"old.mdb"_s);
        QString error;
        ASSERT_TRUE(CreateDatabase(m_file, &error) && OpenDatabase(m_file, u"old"_s, &m_old, &error))
            << error.toStdString();
        QFile sample(sourcePath(u"samples/sample.pay"_s));
        ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
        const QByteArray february = sample.readAll();
        for (const QByteArray& run : {february, QByteArray(february).replace("B,02_2005", "B,03_2005")}) {
            ImportPaymentFile(writeFile(u"run.pay"_s, run), m_settings, m_state, m_old, m_prompter);
        }
        for (const char* id : {"1001", "1002"})
            ASSERT_TRUE(AppendSendLog(m_old,
                                      {u"03_2005"_s, QString::fromLatin1(id), QString(), u"a@example.test"_s,
                                       u"x.pdf"_s, QDateTime::currentDateTimeUtc(), SendOutcome::Sent, u"250 OK"_s},
                                      &error))
                << error.toStdString();
        ASSERT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    }
    void TearDown() override
    {
        m_old = QSqlDatabase();
        CloseDatabase(u"old"_s);
        DatabaseTest::TearDown();
    }
    // rows() of the SQLite file.
    QStringList oldRows(const QString& sql)
    {
        std::swap(m_db, m_old);
        const QStringList all = rows(sql);
        std::swap(m_db, m_old);
        return all;
    }
    CliRun migrate() { return cli({u"migrate"_s, u"--from-sqlite"_s, m_file}); }

    QString m_file;
    QSqlDatabase m_old;
    AppSettings m_settings;
    AppState m_state;
};
INSTANTIATE_TEST_SUITE_P(Server, Migrate, ::testing::Values(Store::PostgreSQL), StoreName);

TEST_P(Migrate, CopiesEveryDataSetInOneGoAndNeverTwice)
{
    // A value the server's column cannot take stops the whole copy.
    QSqlQuery(m_old).exec(u"UPDATE Details SET Rate = 'twelve' WHERE recno = 100"_s);
    CliRun r = migrate();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(u"invalid input syntax for type double precision: \"twelve\""_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(u"Nothing was copied.\n"_s));
    EXPECT_EQ(scalar(u"SELECT count(*) FROM FileNames"_s).toInt() + scalar(u"SELECT count(*) FROM Details"_s).toInt(),
              0);

    QSqlQuery(m_old).exec(u"UPDATE Details SET Rate = 12 WHERE recno = 100"_s);
    r = migrate();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, u"copied 02_2005 (February 2005 Pay Run): 12 doctors, 59 shift records\n"
                     "copied 03_2005 (February 2005 Pay Run): 12 doctors, 59 shift records, 2 in the send log\n"_s);
    // A send run's claim belongs to the store it runs on: not copied; the history is compared below.
    for (const QString& table : DataSetTables()) {
        const QString order = table == u"Details" ? u"recno"_s : table == u"SendLog" ? u"attempt"_s : u"rowid"_s;
        const QString all = u"SELECT %1 FROM %2 ORDER BY %3"_s.arg(TableColumns(table).join(u", "), table, order);
        EXPECT_EQ(rows(all), oldRows(all)) << table.toStdString();
    }

    // The history comes along whole, its chain going on with the migration's own entry.
    // A server's NULL number reads as 0 here, SQLite's as empty.
    const QString history = u"SELECT %1 FROM History ORDER BY entry"_s.arg(
        TableColumns(u"History"_s).join(u", ").replace(u"recno"_s, u"COALESCE(recno, -1)"_s));
    EXPECT_EQ(rows(history).mid(0, 4), oldRows(history));
    EXPECT_EQ(rows(u"SELECT action FROM History WHERE entry = 5"_s), QStringList{u"migrate"_s});
    EXPECT_EQ(cli({u"verify-history"_s}).exitCode, 0);

    r = migrate();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, u"nothing copied\n"_s);
    EXPECT_EQ(r.err, u"not copied: 02_2005 already exists in %1\nnot copied: 03_2005 already exists in %1\n"_s.arg(
                         DatabaseDescription(m_db)));
    EXPECT_EQ(scalar(u"SELECT count(*) FROM Details"_s).toInt(), 118);
}

// recno stays unique over the table: numbers the server already gave move the copies up.
TEST_P(Migrate, RecordNumbersInUseMoveTheCopiesUpInTheirOrder)
{
    ASSERT_TRUE(ImportPaymentFile(writeFile(u"jan.pay"_s, "A,January\nB,01_2005\nD,1,01/01/2005,L,S,T,1,2,3,4,Y,n,5,6\n"
                                                          "D,1,02/01/2005,L,S,T,1,2,3,4,Y,n,5,6\n"),
                                  m_settings, m_state, m_db, m_prompter));
    const CliRun r = migrate();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"the shift records were numbered from 3 on, as lower numbers are in use there\n"_s));
    EXPECT_EQ(rows(u"SELECT count(DISTINCT recno), MIN(recno), MAX(recno) FROM Details"_s),
              QStringList{u"120|1|120"_s});
    EXPECT_EQ(rows(u"SELECT Shift_Date, Total FROM Details WHERE recno > 2 ORDER BY recno"_s),
              oldRows(u"SELECT Shift_Date, Total FROM Details ORDER BY recno"_s));
}

// What a clerk reads of the server's words: each reason once (libpq tries twice with sslmode prefer),
// without the severity or the quoted statement, in whatever language the server speaks.
TEST(ServerReason, OneLineOnceInAnyLanguage)
{
    const char* attempt = "connection to server at \"db\" (10.0.0.5), port 5432 failed: ";
    const struct
    {
        QString text;
        QString reason;
    } cases[] = {
        {QString::fromUtf8(attempt) + u"FATAL:  password authentication failed for user \"c\"\n"_s +
             QString::fromUtf8(attempt) + u"FATAL:  password authentication failed for user \"c\"\n"_s,
         u"password authentication failed for user \"c\""_s},
        {u"FEHLER:  keine Berechtigung für Tabelle filenames\n(42501)"_s,
         u"keine Berechtigung für Tabelle filenames"_s},
        {u"ERROR:  syntax error at or near \"x\"\nLINE 1: SELECT x\n        ^\n"_s, u"syntax error at or near \"x\""_s},
        {u"FEHLER:  Syntaxfehler bei »x«\nZEILE 1: SELECT x\n        ^\n"_s, u"Syntaxfehler bei »x«"_s},
        {u"server closed the connection unexpectedly\n()"_s, u"server closed the connection unexpectedly"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServerReason(c.text), c.reason);
}

// A clerk's login as an administrator set it up: rights and settings of its own, as the tests of a
// server program meet them.
class ClerkLogin : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        AppSettings settings;
        AppState state;
        ASSERT_TRUE(ImportPaymentFile(sourcePath(u"samples/sample.pay"_s), settings, state, m_db, m_prompter));
    }
    // A login of this test's own; its grants name the role as %1.
    QString clerk(const QStringList& grants, const QStringList& settings)
    {
        static int logins = 0;
        const QString role = u"clerk%1"_s.arg(++logins);
        EXPECT_TRUE(PostgresServer::instance().admin(u"CREATE ROLE %1 LOGIN"_s.arg(role)));
        for (const QString& grant : grants)
            exec(grant.arg(role));
        for (const QString& setting : settings)
            EXPECT_TRUE(PostgresServer::instance().admin(u"ALTER ROLE %1 SET %2"_s.arg(role, setting)));
        return role;
    }
    CliRun asClerk(const QString& role, const QStringList& args)
    {
        DatabaseSettings s = PostgresServer::instance().settings(m_dbName);
        s.User = role;
        return runCli(writeFile(u"clerk.ini"_s, DatabaseSection(s)), QString(), args);
    }
};
INSTANTIATE_TEST_SUITE_P(Server, ClerkLogin, ::testing::Values(Store::PostgreSQL), StoreName);

// Refusals name their cause whatever the server's language: rights, a time-out, a refused row.
TEST_P(ClerkLogin, RefusalsNameTheirCauseInAnyLanguage)
{
    const QString all =
        u"GRANT SELECT, INSERT, UPDATE, DELETE ON Headers, Details, FileNames, SendLog, SendClaims, History, HistoryData TO %1"_s;
    const QString german = u"lc_messages = 'de_DE.UTF-8'"_s;
    const QString summary = path(u"summary.csv"_s);
    const QString pdf = path(u"summary.pdf"_s);
    const QString march = writeFile(u"march.pay"_s, "A,March\nB,03_2005\nH,7,Dr,Jo,Smith,a,b,c,d,e,5,f,g,h,i,N,N\n"
                                                    "D,7,01/03/2005,L,S,T,1,2,3,4,Y,n,5,6\n"
                                                    "D,7,02/03/2005,L,S,T,1,5000,3,4,Y,n,5,6\n");
    const struct
    {
        QStringList grants;
        QStringList settings;
        QString setUp; // as the administrator, before the command
        QStringList command;
        QString error; // a pattern; %1 is the role
    } cases[] = {
        {{u"GRANT SELECT, UPDATE, DELETE ON Headers, Details, FileNames, SendLog, SendClaims, History, HistoryData TO %1"_s,
          u"GRANT INSERT ON Headers, Details, SendLog TO %1"_s},
         {german},
         {},
         {u"import"_s, march},
         u"^The database user %1 has no right to add rows to the table FileNames \\(line 2\\)\\n$"_s},
        {{}, {}, {}, {u"datasets"_s}, u"^The database user %1 has no right to read the table Details\\n$"_s},
        {{all},
         {u"statement_timeout = '50ms'"_s},
         u"INSERT INTO Details SELECT 1000 + g, '02_2005', '1001', '2005-02-01', 'L', 'S', 'T', 1, 1, 0, 0, 0, "
         "' ', 1, 0 FROM generate_series(1, 300000) g"_s,
         {u"summary"_s, u"--dataset"_s, u"02_2005"_s, u"--pdf"_s, pdf, u"--csv"_s, summary},
         u"^The database did not answer within 50ms\\n$"_s},
        // The server's own words, in German, less its marks; the line the row came from.
        {{all},
         {german},
         u"ALTER TABLE Details ADD CHECK (Total < 1000)"_s,
         {u"import"_s, march},
         u"^SQL Error: (?!.*FEHLER).*\\(line 5\\)\\n$"_s},
    };
    for (const auto& c : cases) {
        const QString role = clerk(c.grants, c.settings);
        if (!c.setUp.isEmpty())
            exec(c.setUp);
        const CliRun r = asClerk(role, c.command);
        EXPECT_EQ(r.exitCode, 1) << c.command.join(u' ').toStdString();
        EXPECT_TRUE(QRegularExpression(c.error.arg(role)).match(r.err).hasMatch())
            << r.err.toStdString() << " against " << c.error.toStdString();
        EXPECT_FALSE(QFile::exists(summary));
        EXPECT_FALSE(QFile::exists(pdf));
    }
    EXPECT_EQ(scalar(u"SELECT count(*) FROM FileNames WHERE DataSet = '03_2005'"_s).toInt(), 0);
}

// A read cut short by the server is a failure, never a short result; the next action connects again.
TEST_P(ClerkLogin, ALostConnectionEndsTheReadAndTheNextActionConnectsAgain)
{
    const auto endSession = [this] {
        ASSERT_TRUE(PostgresServer::instance().admin(
            u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1'"_s.arg(m_dbName)));
        // Gone for good before the test goes on.
        const QString gone = u"DO $$BEGIN IF EXISTS (SELECT FROM pg_stat_activity WHERE datname = '%1') THEN "
                             "RAISE 'not yet'; END IF; END$$"_s.arg(m_dbName);
        for (int i = 0; i < 250 && !PostgresServer::instance().admin(gone); ++i)
            QThread::msleep(20);
    };
    ReadQuery many(m_db, u"SELECT g FROM generate_series(1, 2000000) g"_s);
    int rows = 0;
    EXPECT_FALSE(many.forEachRow([&](const QSqlQuery&) {
        if (rows++ == 0)
            endSession();
    }));
    EXPECT_LT(rows, 2000000);
    // The server's last words, or the end of the connection, whichever reached the program first.
    EXPECT_TRUE(many.trouble().startsWith(u"The database stopped answering: "_s)) << many.trouble().toStdString();
    EXPECT_FALSE(many.trouble().endsWith(u')')) << many.trouble().toStdString();

    EXPECT_EQ(DoctorListEntries(m_db, u"02_2005"_s, m_prompter).size(), 12);
    // Also when the session ended while the program waited.
    endSession();
    EXPECT_EQ(DoctorListEntries(m_db, u"02_2005"_s, m_prompter).size(), 12);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

// Sessions pin what the program relies on, whatever the server's own settings: doubles to the last
// bit, and UTF-8 databases only.
TEST_P(ClerkLogin, SessionsReadDoublesWholeAndRefuseOtherEncodings)
{
    ASSERT_TRUE(PostgresServer::instance().admin(u"ALTER DATABASE %1 SET extra_float_digits = 0"_s.arg(m_dbName)));
    exec(u"UPDATE Details SET Rate = 2.3333333333333335 WHERE recno = 1"_s);
    {
        QSqlDatabase clerk = openAnother(u"digits"_s);
        QList<QSqlRecord> rows;
        ASSERT_TRUE(QueryRecords(clerk, u"SELECT * FROM Details WHERE recno = 1"_s, &rows));
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows.first().value(u"Rate"_s).toDouble(), 2.3333333333333335);
        // So an edit finds the very row it read.
        int changed = 0;
        EXPECT_TRUE(ExecuteStatement(
            clerk,
            {u"UPDATE Details SET Notes = 'x' WHERE "_s + UnchangedSince(rows.first(), TableColumns(u"Details"_s))},
            m_prompter, &changed));
        EXPECT_EQ(changed, 1);
    }
    CloseDatabase(u"digits"_s);

    for (const char* encoding : {"LATIN1", "SQL_ASCII"}) {
        const QString name = QString::fromLatin1(encoding).toLower() + u"_db"_s;
        ASSERT_TRUE(PostgresServer::instance().admin(
            u"CREATE DATABASE %1 ENCODING '%2' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"_s.arg(
                name, QLatin1String(encoding))));
        const DatabaseSettings s = PostgresServer::instance().settings(name);
        const CliRun r = runCli(writeFile(u"latin.ini"_s, DatabaseSection(s)), QString(), {u"init-db"_s});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, u"The database %1 uses the encoding %2; it must be UTF8\n"_s.arg(s.describe(),
                                                                                          QLatin1String(encoding)));
    }
}
