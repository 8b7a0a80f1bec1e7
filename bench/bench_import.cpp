// Imports a generated pay run (2,000 doctors, 100,000 shift records by default) into a fresh
// database and prints records per second and peak memory. A smaller run first shows whether
// memory grows with the file.
//   bench_import [DOCTORS SHIFTS]
#include "benchsupport.h"
#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "db/database.h"
#include "import/payimport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool runOnce(const QTemporaryDir& dir, int doctors, int shifts)
{
    const QString pay = dir.filePath(QStringLiteral("run%1.pay").arg(shifts));
    const QString db = dir.filePath(QStringLiteral("run%1.mdb").arg(shifts));
    velmar::bench::writePayFile(pay, doctors, shifts);
    QString error;
    QSqlDatabase connection;
    if (!velmar::CreateDatabase(db, &error) || !velmar::OpenDatabase(db, pay, &connection, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    velmar::AppSettings settings;
    settings.Superannuation = 6;
    velmar::AppState state;
    velmar::bench::QuietPrompter prompter;
    velmar::ImportResult result;
    QElapsedTimer timer;
    timer.start();
    const bool ok = velmar::ImportPaymentFile(pay, settings, state, connection, prompter, &result);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int records = result.doctors + result.shifts;
    std::printf("%6d doctors %7d shifts: %s in %.3f s, %.0f records/s, peak memory %.1f MiB\n", doctors, shifts,
                ok ? "imported" : "FAILED", seconds, records / seconds, peakKiB() / 1024.0);
    connection = QSqlDatabase();
    velmar::CloseDatabase(pay);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    velmar::bench::BenchApplication<QCoreApplication> app(argc, argv);
    const int doctors = argc > 2 ? std::atoi(argv[1]) : 2000;
    const int shifts = argc > 2 ? std::atoi(argv[2]) : 100000;
    QTemporaryDir dir;
    const bool ok = runOnce(dir, doctors / 10 > 0 ? doctors / 10 : 1, shifts / 10) && runOnce(dir, doctors, shifts);
    return ok ? 0 : 1;
}
