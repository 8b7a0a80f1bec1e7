#include "common/testsupport.h"

#include "db/database.h"

#include <QFile>
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

QString sourcePath(const QString& relative)
{
    return QStringLiteral(VELMAR_SOURCE_DIR "/") + relative;
}

} // namespace velmar::test
