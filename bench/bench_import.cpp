// Imports a generated pay run (2,000 doctors, 100,000 shift records by default) into a fresh
// database and prints records per second and peak memory. A smaller run first shows whether
// memory grows with the file. Then the same rows, as CSV files, go into another fresh database
// through the sqlite3 shell's .import in one transaction, taking turns with the program's import
// five times: the ratio of the medians is what the program's reading and checking costs. With
// --server the same on a PostgreSQL server it starts itself (as the tests start theirs: needs the
// postgresql package): the program's import against psql's \copy of the same rows, one transaction.
//   bench_import [--server] [DOCTORS SHIFTS]
#include "benchsupport.h"
#include "common/temporarypostgres.h"
#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/dialect.h"
#include "import/payimport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Imports the pay file through the open connection; seconds, or a negative number after a message.
double importInto(QSqlDatabase connection, const QString& pay, int* records = nullptr)
{
    velmar::AppSettings settings;
    settings.Superannuation = 6;
    velmar::AppState state;
    velmar::bench::QuietPrompter prompter;
    velmar::ImportResult result;
    QElapsedTimer timer;
    timer.start();
    const bool ok = velmar::ImportPaymentFile(pay, settings, state, connection, prompter, &result);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (records)
        *records = result.doctors + result.shifts;
    return ok ? seconds : -1;
}

// Imports the pay file into a fresh database; seconds, or a negative number after a message.
double importOnce(const QString& pay, const QString& db, int* records = nullptr)
{
    QFile::remove(db);
    QString error;
    double seconds = -1;
    {
        QSqlDatabase connection;
        if (velmar::CreateDatabase(db, &error) && velmar::OpenDatabase(db, db, &connection, &error))
            seconds = importInto(connection, pay, records);
        else
            std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    velmar::CloseDatabase(db);
    return seconds;
}

bool sqliteShell(const QString& db, const QString& script, QString* output = nullptr)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), db});
    shell.write(script.toUtf8());
    shell.closeWriteChannel();
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3: %s%s\n", shell.readAllStandardError().constData(),
                     qPrintable(shell.errorString()));
        return false;
    }
    if (output)
        *output = QString::fromUtf8(shell.readAllStandardOutput());
    return true;
}

const char* const kTables[] = {"Headers", "Details", "FileNames"};

// The rows the program stored, written out as CSV files beside the database.
bool exportRows(const QString& db, const QTemporaryDir& dir)
{
    QString script = QStringLiteral(".mode csv\n");
    for (const char* table : kTables)
        script += QStringLiteral(".once %1\nSELECT * FROM %2;\n")
                      .arg(dir.filePath(QLatin1String(table) + QStringLiteral(".csv")), QLatin1String(table));
    return sqliteShell(db, script);
}

// The CSV rows into a fresh database of the same schema with the sqlite3 shell, one transaction;
// seconds, the shell's start included.
double shellImport(const QString& db, const QTemporaryDir& dir)
{
    QFile::remove(db);
    QString error;
    if (!velmar::CreateDatabase(db, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return -1;
    }
    QString script = QStringLiteral(".mode csv\nBEGIN;\n");
    for (const char* table : kTables)
        script += QStringLiteral(".import %1 %2\n")
                      .arg(dir.filePath(QLatin1String(table) + QStringLiteral(".csv")), QLatin1String(table));
    script += QStringLiteral("COMMIT;\n");
    QElapsedTimer timer;
    timer.start();
    return sqliteShell(db, script) ? timer.nsecsElapsed() / 1e9 : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The program's import and the other side's take turns five times; the medians of their seconds,
// or false when a turn failed.
bool takeTurns(const std::function<double()>& program, const std::function<double()>& other, double* programSeconds,
               double* otherSeconds)
{
    std::vector<double> ours, theirs;
    for (int round = 0; round < 5; ++round) {
        ours.push_back(program());
        theirs.push_back(other());
        if (ours.back() < 0 || theirs.back() < 0)
            return false;
    }
    *programSeconds = median(ours);
    *otherSeconds = median(theirs);
    return true;
}

bool runOnce(const QTemporaryDir& dir, int doctors, int shifts)
{
    const QString pay = dir.filePath(QStringLiteral("run%1.pay").arg(shifts));
    velmar::bench::writePayFile(pay, doctors, shifts);
    int records = 0;
    const double seconds = importOnce(pay, dir.filePath(QStringLiteral("run%1.mdb").arg(shifts)), &records);
    std::printf("%6d doctors %7d shifts: %s in %.3f s, %.0f records/s, peak memory %.1f MiB\n", doctors, shifts,
                seconds >= 0 ? "imported" : "FAILED", seconds, records / seconds, peakKiB() / 1024.0);
    return seconds >= 0;
}

// The program's import and the shell's .import of the same rows, taking turns.
bool compareWithShell(const QTemporaryDir& dir, int shifts)
{
    const QString pay = dir.filePath(QStringLiteral("run%1.pay").arg(shifts));
    const QString ours = dir.filePath(QStringLiteral("run%1.mdb").arg(shifts));
    const QString theirs = dir.filePath(QStringLiteral("shell.mdb"));
    QString version;
    if (!sqliteShell(QStringLiteral(":memory:"), QStringLiteral("SELECT sqlite_version();\n"), &version)) {
        std::printf("sqlite3 .import: not measured (no sqlite3 shell)\n");
        return true;
    }
    if (!exportRows(ours, dir))
        return false;
    double a = 0, b = 0;
    if (!takeTurns([&] { return importOnce(pay, ours); }, [&] { return shellImport(theirs, dir); }, &a, &b))
        return false;
    std::printf("import %.3f s, sqlite3 %s .import of the same rows %.3f s (medians of 5 turns each): %.2f times "
                "(aim: at most 1.2)\n",
                a, qPrintable(version.trimmed()), b, a / b);
    return true;
}

// A fresh database of the program's schema on the server, open as the connection named after it.
bool freshServerDatabase(const velmar::test::TemporaryPostgres& server, const QString& name, QSqlDatabase* db)
{
    QString error;
    bool ok = true;
    {
        QSqlDatabase admin;
        ok = velmar::OpenServerDatabase(server.settings(QStringLiteral("postgres")), QStringLiteral("admin"), &admin,
                                        &error, false);
        QSqlQuery q(admin);
        ok = ok && q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name)) &&
             q.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        if (!ok && error.isEmpty())
            error = q.lastError().text();
    }
    velmar::CloseDatabase(QStringLiteral("admin"));
    ok = ok && velmar::OpenServerDatabase(server.settings(name), name, db, &error, false) &&
         velmar::CreateServerTables(*db, &error);
    if (!ok)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return ok;
}

double serverImportOnce(const velmar::test::TemporaryPostgres& server, const QString& pay)
{
    double seconds = -1;
    {
        QSqlDatabase db;
        if (freshServerDatabase(server, QStringLiteral("ours"), &db))
            seconds = importInto(db, pay);
    }
    velmar::CloseDatabase(QStringLiteral("ours"));
    return seconds;
}

// The CSV rows into a fresh database of the same schema with psql's \copy, one transaction; seconds,
// psql's start included.
double psqlCopy(const velmar::test::TemporaryPostgres& server, const QTemporaryDir& dir)
{
    {
        QSqlDatabase db;
        if (!freshServerDatabase(server, QStringLiteral("theirs"), &db))
            return -1;
    }
    velmar::CloseDatabase(QStringLiteral("theirs"));
    QString script = QStringLiteral("BEGIN;\n");
    for (const char* table : kTables)
        script += QStringLiteral("\\copy %1 (%2) FROM '%3' WITH (FORMAT csv)\n")
                      .arg(QLatin1String(table), velmar::TableColumns(QLatin1String(table)).join(u", "),
                           dir.filePath(QLatin1String(table) + QStringLiteral(".csv")));
    script += QStringLiteral("COMMIT;\n");
    const velmar::DatabaseSettings settings = server.settings(QStringLiteral("theirs"));
    QProcess psql;
    QElapsedTimer timer;
    timer.start();
    psql.start(QStringLiteral("psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-h"), settings.Host, QStringLiteral("-p"), QString::number(settings.Port),
                QStringLiteral("-U"), settings.User, QStringLiteral("-d"), settings.Name});
    psql.write(script.toUtf8());
    psql.closeWriteChannel();
    if (!psql.waitForFinished(-1) || psql.exitCode() != 0) {
        std::fprintf(stderr, "psql: %s%s\n", psql.readAllStandardError().constData(), qPrintable(psql.errorString()));
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

// The program's import into a server's fresh database and psql's \copy of the same rows, taking turns.
bool compareWithPsql(const QTemporaryDir& dir, int shifts)
{
    velmar::test::TemporaryPostgres server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(error));
        return false;
    }
    const QString pay = dir.filePath(QStringLiteral("run%1.pay").arg(shifts));
    double a = 0, b = 0;
    if (!takeTurns([&] { return serverImportOnce(server, pay); }, [&] { return psqlCopy(server, dir); }, &a, &b))
        return false;
    std::printf("PostgreSQL: import %.3f s, psql \\copy of the same rows %.3f s (medians of 5 turns each): %.2f "
                "times (aim: at most 1.2)\n",
                a, b, a / b);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    velmar::bench::BenchApplication<QCoreApplication> app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool server = args.removeAll(QStringLiteral("--server")) > 0;
    const int doctors = args.size() >= 2 ? args[0].toInt() : 2000;
    const int shifts = args.size() >= 2 ? args[1].toInt() : 100000;
    QTemporaryDir dir;
    const bool ok = runOnce(dir, doctors / 10 > 0 ? doctors / 10 : 1, shifts / 10) && runOnce(dir, doctors, shifts) &&
                    compareWithShell(dir, shifts) && (!server || compareWithPsql(dir, shifts));
    return ok ? 0 : 1;
}
