#include "cli/cli.h"
#include "cli/consoleoutput.h"

#include "db/database.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "mail/mailstatus.h"
#include "payments/datasets.h"
#include "payments/payments.h"
#include "report/reportoutput.h"
#include "sending/paymentsender.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace velmar::cli {
namespace {

// What a sending run is made of, as the program's windows hold it.
struct SendingRun
{
    explicit SendingRun(Context& ctx)
        : documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output), progress(ctx.out),
          batch(documents, ctx.state, ctx.db, ctx.prompter, progress), status(ctx.out),
          sender(ctx.settings, ctx.state, documents, batch, ctx.prompter, &status)
    {
    }

    PdfFileOutput output{QString()}; // never printed to: sending writes its own files
    Documents documents;
    LineProgress progress;
    BatchPrint batch;
    ConsoleStatus status;
    PaymentSender sender;
};

int send(Context& ctx, QStringList& args)
{
    QString doctorId;
    if (!takeOption(args, QStringLiteral("--doctor"), &doctorId) || doctorId.isEmpty()) {
        ctx.err << "send: --doctor ID is required" << Qt::endl;
        return 2;
    }
    if (const int rc = openDataSet(ctx, args, "send"))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    QSqlRecord doctor;
    QList<QSqlRecord> rows;
    if (!LoadDoctor(ctx.db, ctx.state.CurrentDataSet, doctorId, &doctor, ctx.prompter) ||
        !LoadShiftRows(ctx.db, ctx.state.CurrentDataSet, doctorId, &rows, ctx.prompter))
        return 1;
    SendingRun run(ctx);
    return run.sender.SendOne(doctor, rows) ? 0 : 1;
}

int sendAll(Context& ctx, QStringList& args)
{
    ctx.prompter.answerYes = takeFlag(args, QStringLiteral("--yes"));
    int doctors = 0;
    if (const int rc = openDataSet(ctx, args, "send-all", &doctors))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    SendingRun run(ctx);
    const int sent = run.sender.SendAll(doctors > 0);
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
