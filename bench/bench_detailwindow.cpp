// The doctor detail window opening a doctor with many shift records, against a plain table view
// showing the same rows of the same query: both from the query to the painted window.
//   bench_detailwindow [SHIFTS] [RUNS]
// Default 5,000 shift records, the median of 9 runs each. Exits non-zero above twice the plain view.
#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "db/sqltransaction.h"
#include "gui/detailwindow.h"
#include "payments/payments.h"

#include "benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

bool fill(const QSqlDatabase& db, int shifts)
{
    velmar::SqlTransaction transaction(db);
    QSqlQuery doctor(db);
    if (!doctor.exec(QStringLiteral("INSERT INTO Headers VALUES ('bench', '100', 'Dr', 'Ann', 'Smith', '1 Long Road', "
                                    "' ', 'Town', 'County', 'AB1 2CD', 2, 'ann@example.org', 'AB123456C', '1234567', "
                                    "'Host PCT', 'N', 'N')")))
        return false;
    QSqlQuery shift(db);
    shift.prepare(QStringLiteral("INSERT INTO Details VALUES (?, 'bench', '100', ?, ?, 'Weekday Evening', "
                                 "'18:30-23:00', 30, 135, ?, 30, ?, ?, 135, 0)"));
    for (int s = 0; s < shifts; ++s) {
        shift.addBindValue(s + 1);
        shift.addBindValue(QStringLiteral("2005-02-%1").arg(s % 28 + 1, 2, 10, QChar(u'0')));
        shift.addBindValue(s % 7 ? QStringLiteral("Base Centre") : QStringLiteral("Eastmoor Community Hospital"));
        shift.addBindValue((s % 3) * 15);
        shift.addBindValue(s % 3 ? 1 : 0);
        shift.addBindValue(s % 5 ? QStringLiteral(" ") : QStringLiteral("Stayed late for a visit"));
        if (!shift.exec())
            return false;
    }
    return transaction.commit();
}

// Milliseconds of the median run.
double median(std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double timed(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    velmar::bench::BenchApplication<QApplication> app(argc, argv);
    const QStringList args = app.arguments();
    const int shifts = args.size() > 1 ? args.at(1).toInt() : 5000;
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 9;

    QTemporaryDir dir;
    // The window keeps its size in the user's settings: not the real ones.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString path = dir.filePath(QStringLiteral("bench.mdb"));
    QString error;
    QSqlDatabase db;
    if (!velmar::CreateDatabase(path, &error) || !velmar::OpenDatabase(path, QStringLiteral("bench"), &db, &error) ||
        !fill(db, shifts)) {
        std::fprintf(stderr, "cannot prepare the database: %s\n", qPrintable(error));
        return 1;
    }

    velmar::AppSettings settings;
    settings.Superannuation = 6;
    settings.NoSuperannuation = false;
    velmar::AppState state;
    state.CurrentDataSet = QStringLiteral("bench");
    state.CurrentDoctorId = QStringLiteral("100");
    velmar::bench::QuietPrompter prompter;
    const QString statement = velmar::ShiftRowsStatement(state.CurrentDataSet, state.CurrentDoctorId);

    int rc = 0;
    {
        // Created once, as the program does; each show loads the doctor.
        velmar::DetailWindow window(settings, state, db, prompter);
        QTableView plain;
        plain.resize(window.size());
        std::vector<double> windowRuns;
        std::vector<double> plainRuns;
        for (int run = 0; run < runs; ++run) {
            windowRuns.push_back(timed([&] {
                window.show();
                QCoreApplication::processEvents();
            }));
            window.hide();
            plainRuns.push_back(timed([&] {
                auto* model = new QSqlQueryModel(&plain);
                model->setQuery(statement, db);
                while (model->canFetchMore())
                    model->fetchMore();
                QAbstractItemModel* old = plain.model();
                plain.setModel(model);
                delete old;
                plain.show();
                QCoreApplication::processEvents();
            }));
            plain.hide();
        }
        if (window.shiftRows().size() != shifts || plain.model()->rowCount() != shifts) {
            std::fprintf(stderr, "rows shown: window %d, plain view %d, expected %d\n", int(window.shiftRows().size()),
                         plain.model()->rowCount(), shifts);
            rc = 1;
        }
        const double windowMs = median(windowRuns);
        const double plainMs = median(plainRuns);
        const double ratio = windowMs / plainMs;
        std::printf("detail window, %d shift records: %.1f ms; plain table view of the same query: %.1f ms; "
                    "ratio %.2f (aim: at most 2; median of %d runs)\n",
                    shifts, windowMs, plainMs, ratio, runs);
        if (ratio > 2)
            rc = 1;
    }
    db = QSqlDatabase();
    velmar::CloseDatabase(QStringLiteral("bench"));
    return prompter.errors ? 1 : rc;
}
