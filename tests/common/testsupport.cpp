#include "common/testsupport.h"

#include "db/database.h"

#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace velmar::test {

void DatabaseTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_dbPath = m_dir.filePath(QStringLiteral("velmarpay.mdb"));
    QString error;
    ASSERT_TRUE(CreateDatabase(m_dbPath, &error)) << error.toStdString();
    m_connection = QUuid::createUuid().toString();
    ASSERT_TRUE(OpenDatabase(m_dbPath, m_connection, &m_db, &error)) << error.toStdString();
}

void DatabaseTest::TearDown()
{
    m_db = QSqlDatabase();
    CloseDatabase(m_connection);
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
        for (int i = 0; i < q.record().count(); ++i)
            cols.append(q.value(i).toString());
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
    p.start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"),
            QStringList{QStringLiteral("--ini"), ini, QStringLiteral("--db"), db} + args);
    if (input) {
        p.write(*input);
        p.closeWriteChannel();
    }
    EXPECT_TRUE(p.waitForFinished(120000)) << args.join(u' ').toStdString();
    return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                  QString::fromUtf8(p.readAllStandardError())};
}

QString sourcePath(const QString& relative)
{
    return QStringLiteral(VELMAR_SOURCE_DIR "/") + relative;
}

} // namespace velmar::test
