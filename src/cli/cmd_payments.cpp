#include "cli/cli.h"

#include "core/textformat.h"
#include "db/database.h"
#include "db/nameorder.h"
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

    // Surname order as the doctor list shows it; rowid keeps equal surnames in a stable order.
    const QString statement = QStringLiteral("SELECT * FROM Headers WHERE DataSet = '%1' ORDER by %2, rowid")
                                  .arg(QuoteForSql(dataSet), OrderByName(QStringLiteral("sname")));
    QList<QSqlRecord> doctors;
    if (!QueryRecords(ctx.db, statement, &doctors)) {
        ctx.err << "Error in query: " << StatementText({statement});
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

    const auto flag = [](bool on) { return on ? QStringLiteral("Y") : QStringLiteral("N"); };
    ctx.out << "id\tgross\tsuperannuation\tadditionalContribution\tnetPayment\temployerContribution\t"
               "superannuableFees\tnonSuperannuableFees\tnoPension\tpayGross\n";
    for (const QSqlRecord& doctor : doctors) {
        const QString id = doctor.value(QStringLiteral("id")).toString();
        QList<QSqlRecord> rows;
        if (!LoadShiftRows(ctx.db, dataSet, id, &rows, ctx.prompter))
            return 1;
        const PaymentFigures f = ComputePaymentFigures(ctx.settings, doctor, rows);
        ctx.out << QStringList{id,
                               FormatMoney(f.gross),
                               FormatMoney(f.superannuation),
                               FormatMoney(f.additionalContribution),
                               FormatMoney(f.netPayment),
                               FormatMoney(f.employerContribution),
                               FormatMoney(f.superannuableFees),
                               FormatMoney(f.nonSuperannuableFees),
                               flag(f.noPension),
                               flag(f.payGross)}
                       .join(u'\t')
                << '\n';
    }
    ctx.out.flush();
    return 0;
}

const Command figuresCommand("figures",
                             "figures --dataset NAME [--doctor ID]\n"
                             "                               each doctor's money figures, tab-separated",
                             Needs::Database, figures);

} // namespace
} // namespace velmar::cli
