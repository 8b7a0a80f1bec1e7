#include "common/testsupport.h"

#include "common/realpeers.h"
#include "core/appsettings.h"
#include "db/database.h"

#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace velmar::test {

std::string StoreName(const ::testing::TestParamInfo<Store>& info)
{
    return info.param == Store::SQLite ? "SQLite" : "PostgreSQL";
}

Store DatabaseTest::store() const
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->value_param() ? GetParam() : Store::SQLite;
}

void DatabaseTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_dbPath = m_dir.filePath(QStringLiteral("velmarpay.mdb"));
    m_connection = QUuid::createUuid().toString();
    QString error;
    if (onServer()) {
        m_dbName = PostgresServer::instance().createDatabase();
        ASSERT_FALSE(m_dbName.isEmpty());
        ASSERT_TRUE(OpenServerDatabase(PostgresServer::instance().settings(m_dbName), m_connection, &m_db, &error))
            << error.toStdString();
        return;
    }
    ASSERT_TRUE(CreateDatabase(m_dbPath, &error)) << error.toStdString();
    ASSERT_TRUE(OpenDatabase(m_dbPath, m_connection, &m_db, &error)) << error.toStdString();
}

void DatabaseTest::TearDown()
{
    m_db = QSqlDatabase();
    CloseDatabase(m_connection);
    if (!m_dbName.isEmpty())
        PostgresServer::instance().dropDatabase(m_dbName);
}

QSqlDatabase DatabaseTest::openAnother(const QString& connection)
{
    QSqlDatabase db;
    QString error;
    const bool ok = onServer()
                        ? OpenServerDatabase(PostgresServer::instance().settings(m_dbName), connection, &db, &error)
                        : OpenDatabase(m_dbPath, connection, &db, &error);
    EXPECT_TRUE(ok) << error.toStdString();
    return db;
}

QString DatabaseTest::iniForStore(const QString& ini)
{
    QByteArray text;
    QFile original(ini);
    if (!ini.isEmpty() && original.open(QIODevice::ReadOnly))
        text = original.readAll();
    if (onServer())
        text += "\n" + DatabaseSection(PostgresServer::instance().settings(m_dbName));
    return writeFile(QStringLiteral("store.ini"), text);
}

CliRun DatabaseTest::cli(const QStringList& args, const QString& ini, const QByteArray* input)
{
    return runCli(iniForStore(ini), onServer() ? QString() : m_dbPath, args, QString(), {}, input);
}

void DatabaseTest::exec(const QString& sql)
{
    QSqlQuery q(m_db);
    ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
}

QVariant DatabaseTest::scalar(const QString& sql)
{
    QSqlQuery q(m_db);
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}

QStringList DatabaseTest::rows(const QString& sql)
{
    QStringList result;
    QSqlQuery q(m_db);
    if (!q.exec(sql)) {
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return result;
    }
    while (q.next()) {
        QStringList cols;
        // NULL reads as nothing on both stores (a server's empty number would read 0).
        for (int i = 0; i < q.record().count(); ++i)
            cols.append(q.isNull(i) ? QString() : q.value(i).toString());
        result.append(cols.join(u'|'));
    }
    return result;
}

QString DatabaseTest::writeFile(const QString& name, const QByteArray& content)
{
    const QString p = m_dir.filePath(name);
    QFile f(p);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return p;
}

CliRun runCli(const QString& ini, const QString& db, const QStringList& args, const QString& locale,
              const std::function<void()>& childSetup, const QByteArray* input)
{
    QProcess p;
    if (!locale.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        p.setProcessEnvironment(env);
    }
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    // Settings holding a password are private, as a clerk is told to keep them.
    if (!ini.isEmpty() && !ini.startsWith(QStringLiteral(VELMAR_SOURCE_DIR "/")))
        QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QStringList options{QStringLiteral("--ini"), ini};
    if (!db.isEmpty())
        options += QStringList{QStringLiteral("--db"), db};
    p.start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"), options + args);
    if (input) {
        p.write(*input);
        p.closeWriteChannel();
    }
    EXPECT_TRUE(p.waitForFinished(120000)) << args.join(u' ').toStdString();
    return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                  QString::fromUtf8(p.readAllStandardError())};
}

QByteArray DatabaseSection(const DatabaseSettings& s)
{
    return QStringLiteral("[Database]\nDriver=POSTGRESQL\nHost=%1\nPort=%2\nName=%3\nUser=%4\nPassword=%5\n")
        .arg(s.Host, QString::number(s.Port), s.Name, s.User, s.Password)
        .toUtf8();
}

QString sourcePath(const QString& relative)
{
    return QStringLiteral(VELMAR_SOURCE_DIR "/") + relative;
}

} // namespace velmar::test
