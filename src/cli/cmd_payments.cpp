#include "cli/cli.h"

#include "core/textformat.h"
#include "db/database.h"
#include "db/reading.h"
#include "payments/payments.h"

#include <QSqlRecord>

namespace velmar::cli {
namespace {

// One line per doctor: the figures the detail window and the documents work from.
int figures(Context& ctx, QStringList& args)
{
    QString dataSet;
    QString doctorId;
    const bool haveDataSet = takeOption(args, QStringLiteral("--dataset"), &dataSet);
    const bool oneDoctor = takeOption(args, QStringLiteral("--doctor"), &doctorId);
    if (unexpectedArguments(ctx, args))
        return 2;
    if (!haveDataSet) {
        ctx.err << "figures: --dataset NAME is required" << Qt::endl;
        return 2;
    }

    // The doctors and their records as one moment left them, whoever imports meanwhile.
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
    QList<QSqlRecord> doctors;
    QString trouble, statement;
    if (!ReadFigureDoctors(ctx.db, dataSet, &doctors, &trouble, &statement)) {
        ctx.err << ReadFailure(trouble, statement) << Qt::endl;
        return 1;
    }
    if (doctors.isEmpty()) {
        ctx.err << NoDataSetMessage(dataSet) << Qt::endl;
        return 1;
    }
    if (oneDoctor) {
        QList<QSqlRecord> chosen;
        for (const QSqlRecord& d : doctors)
            if (d.value(QStringLiteral("id")).toString() == doctorId)
                chosen.append(d);
        if (chosen.isEmpty()) {
            ctx.err << "Doctor " << doctorId << " not found in data set " << dataSet << Qt::endl;
            return 1;
        }
        doctors = chosen;
    }
    // Every doctor's sums with one statement; one doctor alone is read by himself.
    QHash<QString, ShiftSums> sums;
    if (!oneDoctor && !ReadShiftSums(ctx.db, dataSet, &sums, &trouble, &statement)) {
        ctx.err << ReadFailure(trouble, statement) << Qt::endl;
        return 1;
    }

    const auto flag = [](bool on) { return on ? QStringLiteral("Y") : QStringLiteral("N"); };
    // Printed once every doctor is read: a read that fails half-way prints no figures at all.
    QString lines = QStringLiteral("id\tgross\tsuperannuation\tadditionalContribution\tnetPayment\t"
                                   "employerContribution\tsuperannuableFees\tnonSuperannuableFees\tnoPension\t"
                                   "payGross\n");
    for (int i = 0; i < doctors.size(); ++i) {
        const QSqlRecord& doctor = doctors.at(i);
        const QString id = doctor.value(QStringLiteral("id")).toString();
        QList<QSqlRecord> rows;
        if (oneDoctor && !LoadShiftRows(ctx.db, dataSet, id, &rows, ctx.prompter))
            return 1;
        // A doctor without an id has no records, not those whose id is empty.
        const ShiftSums summed = doctor.isNull(QStringLiteral("id")) ? ShiftSums() : sums.value(id);
        const PaymentFigures f = oneDoctor ? ComputePaymentFigures(ctx.settings, doctor, rows)
                                           : ComputePaymentFigures(ctx.settings, doctor, summed);
        lines += QStringList{id,
                             FormatMoney(f.gross),
                             FormatMoney(f.superannuation),
                             FormatMoney(f.additionalContribution),
                             FormatMoney(f.netPayment),
                             FormatMoney(f.employerContribution),
                             FormatMoney(f.superannuableFees),
                             FormatMoney(f.nonSuperannuableFees),
                             flag(f.noPension),
                             flag(f.payGross)}
                     .join(u'\t') +
                 u'\n';
    }
    ctx.out << lines;
    ctx.out.flush();
    return 0;
}

const Command figuresCommand("figures",
                             "figures --dataset NAME [--doctor ID]\n"
                             "                               each doctor's money figures, tab-separated",
                             Needs::Database, figures);

} // namespace
} // namespace velmar::cli
