#include "cli/cli.h"
#include "cli/consoleoutput.h"

#include "app/datasets.h"
#include "db/database.h"
#include "mail/mailstatus.h"
#include "payments/payments.h"
#include "reports/batchprint.h"
#include "reports/documents.h"
#include "reports/paymentsender.h"
#include "reports/reportoutput.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace velmar::cli {
namespace {

// Opens --dataset NAME as the program does; its doctor count, or -1 (reported) when it is not stored.
int openDataSet(Context& ctx, QStringList& args, const char* command)
{
    QString dataSet;
    if (!takeOption(args, QStringLiteral("--dataset"), &dataSet) || dataSet.isEmpty()) {
        ctx.err << command << ": --dataset NAME is required" << Qt::endl;
        return -1;
    }
    QSqlQuery q(ctx.db);
    const QString quoted = QuoteForSql(dataSet);
    if (!q.exec(QStringLiteral("SELECT (SELECT count(*) FROM Headers WHERE DataSet = '%1'), "
                               "(SELECT count(*) FROM FileNames WHERE DataSet = '%1')")
                    .arg(quoted)) ||
        !q.next() || q.value(0).toInt() + q.value(1).toInt() == 0) {
        ctx.err << "No data set named " << dataSet << Qt::endl;
        return -1;
    }
    ctx.state.CurrentDataSet = dataSet;
    ctx.state.CurrentDataSetLabel = DataSetLabel(ctx.db, dataSet, ctx.prompter);
    return q.value(0).toInt();
}

int send(Context& ctx, QStringList& args)
{
    QString doctorId;
    if (!takeOption(args, QStringLiteral("--doctor"), &doctorId) || doctorId.isEmpty()) {
        ctx.err << "send: --doctor ID is required" << Qt::endl;
        return 2;
    }
    if (openDataSet(ctx, args, "send") < 0)
        return 1;
    if (unexpectedArguments(ctx, args))
        return 2;
    QSqlRecord doctor;
    QList<QSqlRecord> rows;
    if (!LoadDoctor(ctx.db, ctx.state.CurrentDataSet, doctorId, &doctor, ctx.prompter) ||
        !LoadShiftRows(ctx.db, ctx.state.CurrentDataSet, doctorId, &rows, ctx.prompter))
        return 1;
    PdfFileOutput output{QString()}; // never printed to: sending writes its own files
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    LineProgress progress(ctx.out);
    BatchPrint batch(documents, ctx.state, ctx.db, ctx.prompter, progress);
    ConsoleStatus status(ctx.out);
    PaymentSender sender(ctx.settings, ctx.state, documents, batch, ctx.prompter, &status);
    return sender.SendOne(doctor, rows) ? 0 : 1;
}

int sendAll(Context& ctx, QStringList& args)
{
    ctx.prompter.answerYes = takeFlag(args, QStringLiteral("--yes"));
    const int doctors = openDataSet(ctx, args, "send-all");
    if (doctors < 0)
        return 1;
    if (unexpectedArguments(ctx, args))
        return 2;
    PdfFileOutput output{QString()};
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    LineProgress progress(ctx.out);
    BatchPrint batch(documents, ctx.state, ctx.db, ctx.prompter, progress);
    ConsoleStatus status(ctx.out);
    PaymentSender sender(ctx.settings, ctx.state, documents, batch, ctx.prompter, &status);
    const int sent = sender.SendAll(doctors > 0);
    if (sent < 0)
        return 1;
    ctx.out << "sent " << sent << " messages" << Qt::endl;
    return ctx.prompter.errors > 0 ? 1 : 0;
}

const Command sendCommand("send",
                          "send --dataset NAME --doctor ID\n"
                          "                               e-mail one doctor his pro-forma (and pension form)",
                          Needs::Database, send);
const Command sendAllCommand("send-all",
                             "send-all --dataset NAME [--yes]\n"
                             "                               e-mail every doctor of the data set his pro-forma",
                             Needs::Database, sendAll);

} // namespace
} // namespace velmar::cli
