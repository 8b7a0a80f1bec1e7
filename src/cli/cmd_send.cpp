#include "cli/cli.h"
#include "cli/consoleoutput.h"

#include "db/database.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "mail/mailstatus.h"
#include "mail/mimetext.h"
#include "payments/datasets.h"
#include "payments/payments.h"
#include "report/reportoutput.h"
#include "sending/paymentsender.h"
#include "sending/sendlog.h"

#include <QSqlRecord>

#include <csignal>

namespace velmar::cli {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    stopSignal = signal;
}

// While a run goes, SIGINT and SIGTERM stop it at once, also in the middle of a wait for the
// server, so that it can log the message in flight and say QUIT. A second signal ends the program.
class StopSignals
{
public:
    StopSignals()
    {
        stopSignal = 0;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_int);
        sigaction(SIGTERM, &action, &m_term);
    }
    ~StopSignals()
    {
        sigaction(SIGINT, &m_int, nullptr);
        sigaction(SIGTERM, &m_term, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction m_int = {};
    struct sigaction m_term = {};
};

// What a sending run is made of, as the program's windows hold it.
// The dialogue is printed only when verbose.
struct SendingRun
{
    SendingRun(Context& ctx, bool verbose)
        : documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output), progress(ctx.out),
          batch(documents, ctx.state, ctx.db, ctx.prompter, progress), status(ctx.out),
          sender(ctx.settings, ctx.state, ctx.db, documents, batch, ctx.prompter, verbose ? &status : nullptr)
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
    const bool verbose = takeFlag(args, QStringLiteral("--verbose"));
    QString doctorId;
    if (!takeOption(args, QStringLiteral("--doctor"), &doctorId) || doctorId.isEmpty()) {
        ctx.err << "send: --doctor ID is required" << Qt::endl;
        return 2;
    }
    // The doctor, his records and the invoice mailed to him as one moment left them.
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
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
    run.sender.messageDone = [&out = ctx.out](const SendRecord& record) { out << SendRecordLine(record) << Qt::endl; };
    const StopSignals stopSignals;
    run.sender.stopRequested = [] { return stopSignal != 0; };
    return run.sender.SendOne(doctor, rows) ? 0 : 1;
}

int sendAll(Context& ctx, QStringList& args)
{
    ctx.prompter.answerYes = takeFlag(args, QStringLiteral("--yes"));
    const bool verbose = takeFlag(args, QStringLiteral("--verbose"));
    const bool onlyFailed = takeFlag(args, QStringLiteral("--only-failed"));
    const bool includeUnconfirmed = takeFlag(args, QStringLiteral("--include-unconfirmed"));
    const bool onlyChanged = takeFlag(args, QStringLiteral("--only-changed"));
    if (includeUnconfirmed && !onlyFailed) {
        ctx.err << "send-all: --include-unconfirmed goes with --only-failed" << Qt::endl;
        return 2;
    }
    if (onlyChanged && onlyFailed) {
        ctx.err << "send-all: --only-changed and --only-failed go in runs of their own" << Qt::endl;
        return 2;
    }
    int doctors = 0;
    if (const int rc = openDataSet(ctx, args, "send-all", &doctors))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    SendingRun run(ctx, verbose);
    const StopSignals stopSignals;
    run.sender.stopRequested = [] { return stopSignal != 0; };
    const int sent = onlyFailed    ? run.sender.SendNotYetSent(doctors > 0, includeUnconfirmed)
                     : onlyChanged ? run.sender.SendChanged(doctors > 0)
                                   : run.sender.SendAll(doctors > 0);
    // Nobody waiting to be sent is no failure.
    return sent >= 0 && run.sender.summary().allSent() ? 0 : 1;
}

// A field of a tab-separated line: tabs and line breaks of its own would split it, and any other
// control character could work on the terminal.
QString field(QString text)
{
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return ShownText(text);
}

int sendLog(Context& ctx, QStringList& args)
{
    const bool every = takeFlag(args, QStringLiteral("--all"));
    if (const int rc = openDataSet(ctx, args, "send-log"))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    QList<SendLogEntry> entries;
    QSet<QString> changed;
    QString error;
    // Every attempt is shown as it was; the latest ones say who has had what, changes included.
    if (!ReadSendLog(ctx.db, ctx.state.CurrentDataSet, every, &entries, &error) ||
        (!every && !ChangedSinceSent(ctx.db, ctx.settings, ctx.state.CurrentDataSet, &changed, &error))) {
        ctx.err << "The send log cannot be read: " << error << Qt::endl;
        return 1;
    }
    ctx.out << "id\tsname\taddress\tsent_at\toutcome\treply\n";
    for (const SendLogEntry& e : std::as_const(entries)) {
        const QStringList fields{
            e.id,   e.sname, e.address, e.sentAt.toUTC().toString(Qt::ISODate), ShownOutcome(e, changed.contains(e.id)),
            e.reply};
        for (qsizetype i = 0; i < fields.size(); ++i)
            ctx.out << (i > 0 ? "\t" : "") << field(fields.at(i));
        ctx.out << '\n';
    }
    return 0;
}

const Command sendCommand("send",
                          "send --dataset NAME --doctor ID [--verbose]\n"
                          "                               e-mail one doctor his pro-forma (and pension form)",
                          Needs::Database, send);
const Command
    sendAllCommand("send-all",
                   "send-all --dataset NAME [--only-failed [--include-unconfirmed] | --only-changed] [--yes]\n"
                   "         [--verbose]           e-mail every doctor of the data set his pro-forma, or with\n"
                   "                               --only-failed those not sent yet (unconfirmed ones only when\n"
                   "                               included), with --only-changed those whose payment changed\n"
                   "                               since they were sent it (\"Amended: \"); --verbose prints the\n"
                   "                               dialogue with the server; exits 0 only when every message was\n"
                   "                               sent",
                   Needs::Database, sendAll);
const Command sendLogCommand("send-log",
                             "send-log --dataset NAME [--all]\n"
                             "                               who was sent what: the latest attempt per doctor,\n"
                             "                               or every attempt with --all, as tab-separated lines",
                             Needs::Database, sendLog);

} // namespace
} // namespace velmar::cli
