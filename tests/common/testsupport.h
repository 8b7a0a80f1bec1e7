#pragma once

#include "core/prompter.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace velmar {
struct DatabaseSettings;
}

namespace velmar::test {

// Records every message; answers questions from a list (No when the list runs out).
class ScriptedPrompter : public Prompter
{
public:
    void information(const QString& text) override { messages.append(QStringLiteral("info: ") + text); }
    void error(const QString& text) override { messages.append(QStringLiteral("error: ") + text); }
    bool question(const QString& text) override
    {
        messages.append(QStringLiteral("question: ") + text);
        return answers.isEmpty() ? false : answers.takeFirst();
    }

    QStringList messages;
    QList<bool> answers;
};

// velmarpay-cli run to its end: exit code and what it printed.
struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The two stores the program runs on.
enum class Store { SQLite, PostgreSQL };
std::string StoreName(const ::testing::TestParamInfo<Store>& info);

// A fresh database created by the program's own schema: an SQLite file in a temporary folder, or,
// in a test run with the parameter Store::PostgreSQL (TEST_P, VELMAR_ON_EACH_STORE), a database
// of the test program's PostgreSQL server. TEST_F tests run on SQLite.
class DatabaseTest : public ::testing::Test, public ::testing::WithParamInterface<Store>
{
protected:
    void SetUp() override;
    void TearDown() override;

    Store store() const;
    bool onServer() const { return store() == Store::PostgreSQL; }
    // A second connection to the same database, as another clerk's program would have; closed by
    // CloseDatabase(connection).
    QSqlDatabase openAnother(const QString& connection);
    // A copy of the ini (an empty one when not given) that names this store: [Database] for the
    // server, nothing more for SQLite.
    QString iniForStore(const QString& ini = QString());
    // velmarpay-cli run on this store.
    CliRun cli(const QStringList& args, const QString& ini = QString(), const QByteArray* input = nullptr);

    // Runs a statement directly; fails the test when it fails.
    void exec(const QString& sql);
    // First column of the first row of a query, or an invalid QVariant.
    QVariant scalar(const QString& sql);
    // All rows of a query, columns joined with "|".
    QStringList rows(const QString& sql);
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // Writes a file into the temporary folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& content);

    QTemporaryDir m_dir;
    QString m_dbPath;
    // The server's database, when on the server.
    QString m_dbName;
    QString m_connection;
    QSqlDatabase m_db;
    ScriptedPrompter m_prompter;
};

#define VELMAR_ON_EACH_STORE(Fixture)                                                                                  \
    INSTANTIATE_TEST_SUITE_P(Stores, Fixture,                                                                          \
                             ::testing::Values(::velmar::test::Store::SQLite, ::velmar::test::Store::PostgreSQL),      \
                             ::velmar::test::StoreName)

// Runs the built velmarpay-cli on the given ini and database (none: the one the ini names); LC_ALL
// set when a locale is named.
// childSetup runs in the child before the program starts; input, when given, is its standard input.
CliRun runCli(const QString& ini, const QString& db, const QStringList& args, const QString& locale = QString(),
              const std::function<void()>& childSetup = {}, const QByteArray* input = nullptr);

// The [Database] section of an ini naming that server database.
QByteArray DatabaseSection(const DatabaseSettings& settings);

// Path of a file under the source tree (samples, test data).
QString sourcePath(const QString& relative);

} // namespace velmar::test
