// Reports at volume, on a generated data set in a fresh database:
//  - every doctor's invoice written as a PDF file of its own (500 doctors, 20 shifts each by default);
//  - the pension summary of 100,000 shift records (5,000 doctors in 50 host PCTs) written as PDF.
//   bench_reports [INVOICE_DOCTORS SUMMARY_DOCTORS]
#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/reading.h"
#include "db/sqltransaction.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "documents/pensionsummaryreport.h"
#include "payments/payments.h"
#include "report/reportoutput.h"

#include "benchsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kShiftsPerDoctor = 20;

bool fill(const QSqlDatabase& db, const QString& dataSet, int doctors)
{
    velmar::SqlTransaction transaction(db);
    QSqlQuery doctor(db);
    doctor.prepare(
        QStringLiteral("INSERT INTO Headers VALUES (?, ?, 'Dr', ?, ?, '1 Long Road', ' ', 'Town', "
                       "'County', 'AB1 2CD', 2, 'doctor@example.org', 'AB123456C', '1234567', ?, 'N', 'N')"));
    QSqlQuery shift(db);
    shift.prepare(QStringLiteral("INSERT INTO Details VALUES (?, ?, ?, ?, 'Base Centre', 'Weekday Evening', "
                                 "'18:30-23:00', 30, 135, ?, 30, 1, 'O''Brien''s cover', 135, 0)"));
    int recno = 0;
    for (int d = 0; d < doctors; ++d) {
        const QString id = QString::number(10000 + d);
        doctor.addBindValue(dataSet);
        doctor.addBindValue(id);
        doctor.addBindValue(QStringLiteral("Firstname"));
        doctor.addBindValue(QStringLiteral("Surname%1").arg(d, 5, 10, QChar(u'0')));
        doctor.addBindValue(QStringLiteral("Host PCT %1").arg(d % 50, 2, 10, QChar(u'0')));
        if (!doctor.exec())
            return false;
        for (int s = 0; s < kShiftsPerDoctor; ++s) {
            shift.addBindValue(++recno);
            shift.addBindValue(dataSet);
            shift.addBindValue(id);
            shift.addBindValue(QStringLiteral("2005-02-%1").arg(s % 28 + 1, 2, 10, QChar(u'0')));
            shift.addBindValue((s % 3) * 30);
            if (!shift.exec())
                return false;
        }
    }
    return transaction.commit();
}

} // namespace

int main(int argc, char* argv[])
{
    velmar::bench::BenchApplication<QGuiApplication> app(argc, argv);
    const QStringList args = app.arguments();
    const int invoiceDoctors = args.size() > 1 ? args.at(1).toInt() : 500;
    const int summaryDoctors = args.size() > 2 ? args.at(2).toInt() : 5000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.mdb"));
    QString error;
    QSqlDatabase db;
    if (!velmar::CreateDatabase(path, &error) || !velmar::OpenDatabase(path, QStringLiteral("bench"), &db, &error) ||
        !fill(db, QStringLiteral("invoices"), invoiceDoctors) || !fill(db, QStringLiteral("summary"), summaryDoctors)) {
        std::fprintf(stderr, "cannot prepare the database: %s\n", qPrintable(error));
        return 1;
    }

    velmar::AppSettings settings;
    settings.Solo = true;
    settings.Superannuation = 6;
    settings.NoSuperannuation = false;
    velmar::AppState state;
    velmar::bench::QuietPrompter prompter;
    int rc = 0;
    {
        const QString folder = dir.filePath(QStringLiteral("invoices"));
        QDir().mkpath(folder);
        velmar::PdfFolderOutput output(folder, QThread::idealThreadCount());
        velmar::Documents documents(settings, state, db, prompter, output);
        velmar::bench::NoProgress progress;
        velmar::BatchPrint batch(documents, state, db, prompter, progress);
        state.CurrentDataSet = QStringLiteral("invoices");
        state.CurrentDataSetLabel = QStringLiteral("Benchmark Pay Run");
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpuStart = std::clock();
        int done = batch.PrintAll1Click(true);
        QStringList failures;
        if (!output.finish(&failures)) {
            for (const QString& f : failures)
                std::fprintf(stderr, "%s\n", qPrintable(f));
            done -= int(failures.size());
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        // The processor time of all threads: what an invoice costs whatever else the machine runs.
        const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const int threads = QThread::idealThreadCount();
        std::printf("invoices: %d doctors x %d shifts -> %d PDF files in %.2f s, %.0f invoices/s on %d threads, "
                    "%.0f/s per thread, %.1f ms of processor time each (target 50/s)\n",
                    invoiceDoctors, kShiftsPerDoctor, done, seconds, done / seconds, threads, done / seconds / threads,
                    done > 0 ? cpuSeconds * 1000 / done : 0.0);
        if (done != invoiceDoctors || done / seconds < 50)
            rc = 1;
    }
    {
        const QString file = dir.filePath(QStringLiteral("summary.pdf"));
        velmar::PdfFileOutput output(file);
        velmar::Documents documents(settings, state, db, prompter, output);
        state.CurrentDataSet = QStringLiteral("summary");
        QElapsedTimer timer;
        timer.start();
        const bool ok = documents.RunSummary(true);
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::printf("pension summary: %d shift records (%d doctors) -> %d pages in %.2f s (target under 2 s)\n",
                    summaryDoctors * kShiftsPerDoctor, summaryDoctors, documents.soloSummary().report().pageCount(),
                    seconds);
        if (!ok || seconds >= 2)
            rc = 1;
    }
    {
        // Every doctor's figures as `figures` works them out, against one aggregate query over the same
        // rows: what reading the records as records costs. Taking turns, the median of five each.
        state.CurrentDataSet = QStringLiteral("summary");
        std::vector<double> figures, aggregate;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer timer;
            timer.start();
            {
                const velmar::ReadSnapshot snapshot(db);
                QList<QSqlRecord> doctors;
                QHash<QString, velmar::ShiftSums> sums;
                QString trouble, statement;
                double net = 0;
                const bool read = velmar::ReadFigureDoctors(db, state.CurrentDataSet, &doctors, &trouble, &statement) &&
                                  velmar::ReadShiftSums(db, state.CurrentDataSet, &sums, &trouble, &statement);
                for (int i = 0; read && i < doctors.size(); ++i) {
                    const QString id = doctors.at(i).value(QStringLiteral("id")).toString();
                    net += velmar::ComputePaymentFigures(settings, doctors.at(i), sums.value(id)).netPayment;
                }
                if (!read || net <= 0)
                    rc = 1;
            }
            figures.push_back(timer.nsecsElapsed() / 1e9);
            timer.restart();
            QSqlQuery sums(db);
            sums.setForwardOnly(true);
            if (!sums.exec(QStringLiteral("SELECT id, sum(Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0)), "
                                          "sum(superfee), sum(nonsuperfee) FROM Details WHERE DataSet = 'summary' "
                                          "GROUP BY id")))
                rc = 1;
            int groups = 0;
            while (sums.next())
                ++groups;
            aggregate.push_back(timer.nsecsElapsed() / 1e9);
            if (groups != summaryDoctors)
                rc = 1;
        }
        std::sort(figures.begin(), figures.end());
        std::sort(aggregate.begin(), aggregate.end());
        std::printf("figures of %d doctors: %.3f s, one aggregate query over the same rows %.3f s: %.1f times (aim: "
                    "at most 2)\n",
                    summaryDoctors, figures[2], aggregate[2], figures[2] / aggregate[2]);
    }
    db = QSqlDatabase();
    velmar::CloseDatabase(QStringLiteral("bench"));
    return prompter.errors ? 1 : rc;
}
