#pragma once

// What the benchmarks share: their application object, a prompter that only prints errors, a
// progress shown nowhere and a generated pay run.
#include "core/prompter.h"
#include "documents/batchprint.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <clocale>
#include <cstdio>

namespace velmar::bench {

// The application a benchmark runs in: reports are painted without a display (unless a platform
// is named), and money is written with a full stop whatever the locale.
template <typename Application> class BenchApplication : public Application
{
public:
    BenchApplication(int& argc, char** argv) : Application(offscreen(argc), argv) { std::setlocale(LC_NUMERIC, "C"); }

private:
    static int& offscreen(int& argc)
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return argc;
    }
};

class QuietPrompter : public Prompter
{
public:
    void information(const QString&) override {}
    void error(const QString& text) override
    {
        ++errors;
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    bool question(const QString&) override { return true; }
    int errors = 0;
};

// A batch run's progress, shown nowhere: the benchmarks time the work, not the window.
class NoProgress : public ProgressDisplay
{
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void showProgress() override {}
    void hideProgress() override {}
};

// A pay run of the data set "bench_SHIFTS": doctors in five host PCTs, each shift an evening with
// an adjustment now and then, every text as a real export writes it. Every seventh adjustment is a
// minute at 0.30 an hour, half a penny, so that doctors' sums end in half pennies that round by the
// order they are added in.
inline void writePayFile(const QString& path, int doctors, int shifts)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QTextStream out(&file);
    out << "A,\"Benchmark Pay Run\"\r\nB,bench_" << shifts << "\r\n";
    for (int d = 0; d < doctors; ++d)
        out << "H," << d << ",Dr,Firstname,Surname" << d << ",\"1 Long Road\",Village,Town,County,\"AB1 2CD\",999,"
            << "doctor" << d << "@example.org,AB123456C,1234567,\"Host PCT " << d % 5 << "\",N,N\r\n";
    for (int s = 0; s < shifts; ++s)
        out << "D," << s % doctors << "," << (s % 28) + 1 << "/02/2005,\"Base Centre\",\"Weekday Evening\","
            << "18:30-23:00,30.00,135.00," << (s % 7 == 3 ? 1 : (s % 3) * 30) << "," << (s % 7 == 3 ? "0.30" : "30.00")
            << "," << (s % 2 ? "Y" : "N") << ",\"O'Brien's cover\",135.00,0.00\r\n";
}

} // namespace velmar::bench
