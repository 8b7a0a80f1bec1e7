#pragma once

// What the benchmarks share: a prompter that only prints errors and a generated pay run.
#include "core/prompter.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cstdio>

namespace velmar::bench {

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

// A pay run of the data set "bench_SHIFTS": doctors in five host PCTs, each shift an evening with
// an adjustment now and then, every text as a real export writes it.
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
            << "18:30-23:00,30.00,135.00," << (s % 3) * 30 << ",30.00," << (s % 2 ? "Y" : "N")
            << ",\"O'Brien's cover\",135.00,0.00\r\n";
}

} // namespace velmar::bench
