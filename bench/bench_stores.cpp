// The same pay run on both stores in one run: the import of a generated pay run (2,000 doctors,
// 100,000 shift records by default) into a fresh database, then the pension summary of it, on an
// SQLite file and on a PostgreSQL server of its own (started as the tests start theirs: needs the
// postgresql package). Prints both times, the ratio (aim: the server within twice SQLite's time)
// and whether the two summaries are the same, line for line (the pay run has half-penny sums, which
// round alike only when both stores add them in the same order); and the schema check each start
// makes, on the empty database and on the full one. Last, a start on the SQLite file (open, schema
// check, the list of data sets, the newest pay run opened again) once it holds 20 such data sets,
// beside the same start when it held one; and the data-set picker's list, which counts each data
// set's doctors when the clerk opens it.
//   bench_stores [DOCTORS SHIFTS]
#include "benchsupport.h"
#include "common/temporarypostgres.h"
#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "db/dialect.h"
#include "documents/documents.h"
#include "import/payimport.h"
#include "payments/datasets.h"
#include "report/reportoutput.h"
#include "report/reporttableexport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

struct Times
{
    double import = 0;
    double summary = 0;
    // The schema check of every start, on the empty database and on the full one.
    double emptyCheck = 0;
    double fullCheck = 0;
    // A start, on an empty file, on one holding one data set and on one holding 20; the picker's list
    // on the last.
    double emptyStart = 0;
    double oneStart = 0;
    double fullStart = 0;
    double fullPicker = 0;
    double fileMiB = 0;
    QByteArray csv;
};

// The schema check each start makes; seconds.
double schemaCheck(const QSqlDatabase& db, velmar::Prompter& prompter)
{
    QElapsedTimer timer;
    timer.start();
    velmar::UpgradeSchema(db, prompter);
    return timer.nsecsElapsed() / 1e9;
}

// Imports the file and writes the pension summary of it; false after a message.
bool measure(const QSqlDatabase& db, const QString& pay, const QTemporaryDir& dir, Times* times)
{
    velmar::AppSettings settings;
    settings.Solo = true;
    settings.Superannuation = 6;
    settings.NoSuperannuation = false;
    velmar::AppState state;
    velmar::bench::QuietPrompter prompter;
    times->emptyCheck = schemaCheck(db, prompter);
    QElapsedTimer timer;
    timer.start();
    if (!velmar::ImportPaymentFile(pay, settings, state, db, prompter))
        return false;
    times->import = timer.nsecsElapsed() / 1e9;
    times->fullCheck = schemaCheck(db, prompter);

    velmar::PdfFileOutput output(dir.filePath(QStringLiteral("summary.pdf")));
    velmar::Documents documents(settings, state, db, prompter, output);
    timer.restart();
    if (!documents.RunSummary(true))
        return false;
    times->summary = timer.nsecsElapsed() / 1e9;
    // The lines themselves, to compare the stores.
    const QString csv = dir.filePath(QStringLiteral("summary.csv"));
    QString error;
    QFile file(csv);
    if (!velmar::WriteReportCsv(documents.prepareSummary(), csv, &error) || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    times->csv = file.readAll();
    return prompter.errors == 0;
}

// What a start does: open the file, check its schema, list the data sets and open the pay run the
// clerk had open again (here the first listed): its label, its doctor list, the status line. Seconds,
// the best of nine (the file's pages are in the system's cache by then). With `picker`, the
// picker's list alone instead.
double start(const QString& path, bool picker = false)
{
    double best = 1e9;
    for (int round = 0; round < 9; ++round) {
        QElapsedTimer timer;
        timer.start();
        double pickerTook = 0;
        {
            QSqlDatabase db;
            QString error;
            velmar::bench::QuietPrompter prompter;
            if (velmar::OpenDatabase(path, QStringLiteral("start"), &db, &error) &&
                velmar::UpgradeSchema(db, prompter)) {
                if (picker) {
                    QElapsedTimer list;
                    list.start();
                    velmar::DataSetEntries(db, prompter);
                    pickerTook = list.nsecsElapsed() / 1e9;
                } else if (const QStringList stored = velmar::StoredDataSets(db, prompter); !stored.isEmpty()) {
                    velmar::DataSetLabel(db, stored.first(), prompter);
                    velmar::DoctorList(db, stored.first(), prompter);
                    velmar::DataSetSummary(db, QStringLiteral("Opened"), stored.first());
                }
            }
        }
        velmar::CloseDatabase(QStringLiteral("start"));
        best = std::min(best, picker ? pickerTook : timer.nsecsElapsed() / 1e9);
    }
    return best;
}

// The imported data set copied under 19 more names, as months of pay runs leave a file.
bool storeHistory(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    bool ok = q.exec(QStringLiteral("BEGIN"));
    for (int copy = 1; ok && copy < 20; ++copy) {
        // Not the history, which is kept once for the file, nor send claims.
        for (const QString& table : velmar::DataSetTables()) {
            QStringList columns = velmar::TableColumns(table);
            QStringList values = columns;
            values.replace(columns.indexOf(QStringLiteral("DataSet")),
                           QStringLiteral("DataSet || ' copy %1'").arg(copy));
            if (columns.contains(QStringLiteral("recno")))
                values.replace(columns.indexOf(QStringLiteral("recno")),
                               QStringLiteral("recno + %1 * (SELECT MAX(recno) FROM Details)").arg(copy));
            ok = ok && q.exec(QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %1 WHERE DataSet NOT LIKE '% copy %'")
                                  .arg(table, columns.join(u','), values.join(u',')));
        }
    }
    return ok && q.exec(QStringLiteral("COMMIT"));
}

bool onSqlite(const QString& pay, Times* times)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.mdb"));
    QString error;
    bool ok = false;
    {
        QSqlDatabase db;
        ok = velmar::CreateDatabase(path, &error) && velmar::OpenDatabase(path, QStringLiteral("sqlite"), &db, &error);
        if (!ok)
            std::fprintf(stderr, "%s\n", qPrintable(error));
        times->emptyStart = ok ? start(path) : 0;
        ok = ok && measure(db, pay, dir, times);
        times->oneStart = ok ? start(path) : 0;
        ok = ok && storeHistory(db);
    }
    velmar::CloseDatabase(QStringLiteral("sqlite"));
    times->fullStart = ok ? start(path) : 0;
    times->fullPicker = ok ? start(path, true) : 0;
    times->fileMiB = QFileInfo(path).size() / 1048576.0;
    return ok;
}

bool onServer(const QString& pay, Times* times)
{
    QTemporaryDir dir;
    velmar::test::TemporaryPostgres server;
    QString error;
    bool ok = server.start(&error);
    {
        QSqlDatabase admin;
        ok = ok &&
             velmar::OpenServerDatabase(server.settings(QStringLiteral("postgres")), QStringLiteral("admin"), &admin,
                                        &error, false) &&
             QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE bench"));
    }
    velmar::CloseDatabase(QStringLiteral("admin"));
    {
        QSqlDatabase db;
        ok = ok &&
             velmar::OpenServerDatabase(server.settings(QStringLiteral("bench")), QStringLiteral("server"), &db, &error,
                                        false) &&
             velmar::CreateServerTables(db, &error);
        if (!ok)
            std::fprintf(stderr, "%s\n", qPrintable(error));
        ok = ok && measure(db, pay, dir, times);
    }
    velmar::CloseDatabase(QStringLiteral("server"));
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    velmar::bench::BenchApplication<QGuiApplication> app(argc, argv);
    const int doctors = argc > 2 ? std::atoi(argv[1]) : 2000;
    const int shifts = argc > 2 ? std::atoi(argv[2]) : 100000;
    QTemporaryDir dir;
    const QString pay = dir.filePath(QStringLiteral("run.pay"));
    velmar::bench::writePayFile(pay, doctors, shifts);

    Times sqlite, server;
    if (!onSqlite(pay, &sqlite) || !onServer(pay, &server)) {
        std::fprintf(stderr, "the benchmark failed\n");
        return 1;
    }
    const auto line = [&](const char* store, const Times& t) {
        std::printf("%-10s import %.2f s (%.0f records/s), pension summary %.2f s, together %.2f s; schema check "
                    "%.1f ms empty, %.1f ms full\n",
                    store, t.import, (doctors + shifts) / t.import, t.summary, t.import + t.summary, t.emptyCheck * 1e3,
                    t.fullCheck * 1e3);
    };
    std::printf("%d doctors, %d shift records\n", doctors, shifts);
    line("SQLite", sqlite);
    line("PostgreSQL", server);
    std::printf("SQLite start (open, schema check, list of data sets, the newest pay run opened again): %.1f ms "
                "with one data set of %d shift records, %.1f ms with 20 (%.0f MiB): %.2f times (%.1f ms on an empty "
                "file); the picker's list of the 20: %.1f ms\n",
                sqlite.oneStart * 1e3, shifts, sqlite.fullStart * 1e3, sqlite.fileMiB,
                sqlite.fullStart / sqlite.oneStart, sqlite.emptyStart * 1e3, sqlite.fullPicker * 1e3);
    const double ratio = (server.import + server.summary) / (sqlite.import + sqlite.summary);
    const bool same = sqlite.csv == server.csv;
    std::printf("PostgreSQL/SQLite: import %.2f, summary %.2f, together %.2f (aim: under 2); summaries %s\n",
                server.import / sqlite.import, server.summary / sqlite.summary, ratio, same ? "identical" : "DIFFER");
    return same && ratio < 2 ? 0 : 1;
}
