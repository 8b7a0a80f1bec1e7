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
// The dialogue is printed only when verbose; each message's outcome always is.
struct SendingRun
{
    SendingRun(Context& ctx, bool verbose)
        : documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output), progress(ctx.out),
          batch(documents, ctx.state, ctx.db, ctx.prompter, progress), status(ctx.out),
          sender(ctx.settings, ctx.state, documents, batch, ctx.prompter, verbose ? &status : nullptr)
    {
        sender.messageDone = [&out = ctx.out](const SendRecord& record) { out << OutcomeLine(record) << Qt::endl; };
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
    const bool verbose = takeFlag(args, QStringLiteral("--verbose"));
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
    SendingRun run(ctx, verbose);
    return run.sender.SendOne(doctor, rows) ? 0 : 1;
}

int sendAll(Context& ctx, QStringList& args)
{
    ctx.prompter.answerYes = takeFlag(args, QStringLiteral("--yes"));
    const bool verbose = takeFlag(args, QStringLiteral("--verbose"));
    int doctors = 0;
    if (const int rc = openDataSet(ctx, args, "send-all", &doctors))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    SendingRun run(ctx, verbose);
    const int sent = run.sender.SendAll(doctors > 0);
    if (sent < 0)
        return 1;
    ctx.out << "sent " << sent << " messages" << Qt::endl;
    return ctx.prompter.errors > 0 ? 1 : 0;
}

const Command sendCommand("send",
                          "send --dataset NAME --doctor ID [--verbose]\n"
                          "                               e-mail one doctor his pro-forma (and pension form)",
                          Needs::Database, send);
const Command sendAllCommand("send-all",
                             "send-all --dataset NAME [--yes] [--verbose]\n"
                             "                               e-mail every doctor of the data set his pro-forma;\n"
                             "                               --verbose prints the dialogue with the server",
                             Needs::Database, sendAll);

} // namespace
} // namespace velmar::cli
