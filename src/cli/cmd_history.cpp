#include "cli/cli.h"

#include "core/savefile.h"
#include "history/history.h"

namespace velmar::cli {
namespace {

// A date as YYYY-MM-DD; false after saying so.
bool takeDate(Context& ctx, QStringList& args, const QString& option, QDate* date)
{
    QString text;
    if (!takeOption(args, option, &text))
        return true;
    *date = QDate::fromString(text, Qt::ISODate);
    if (date->isValid())
        return true;
    ctx.err << option << ": not a date (YYYY-MM-DD): " << text << Qt::endl;
    return false;
}

int historyCommand(Context& ctx, QStringList& args)
{
    history::Filter filter;
    takeOption(args, QStringLiteral("--dataset"), &filter.dataSet);
    takeOption(args, QStringLiteral("--doctor"), &filter.doctor);
    if (!takeDate(ctx, args, QStringLiteral("--since"), &filter.since) || unexpectedArguments(ctx, args))
        return 2;
    QList<history::Entry> entries;
    QString error;
    if (!history::Read(ctx.db, filter, &entries, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    for (const history::Entry& e : std::as_const(entries))
        ctx.out << e.number << '\t' << e.at.toString(Qt::ISODate) << '\t' << e.who << '\t' << e.action << '\t'
                << e.dataSet << '\t' << e.doctor << '\t' << (e.recno.isNull() ? QString() : e.recno.toString()) << '\t'
                << history::Describe(e) << '\n';
    ctx.out.flush();
    return 0;
}

int verifyHistory(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
    qint64 count = 0, broken = 0;
    QString last, error;
    if (!history::Verify(ctx.db, &count, &last, &broken, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    if (broken > 0) {
        ctx.err << QStringLiteral("History entry %1 does not match: it was changed or removed outside the program")
                       .arg(broken)
                << Qt::endl;
        return 1;
    }
    ctx.out << QStringLiteral("History intact: %1 entries, last %2")
                   .arg(count)
                   .arg(last.isEmpty() ? QStringLiteral("none") : last)
            << Qt::endl;
    return 0;
}

int restore(Context& ctx, QStringList& args)
{
    QString dataSet, number;
    if (!takeOption(args, QStringLiteral("--dataset"), &dataSet) ||
        !takeOption(args, QStringLiteral("--entry"), &number)) {
        ctx.err << "restore: --dataset NAME and --entry N are required" << Qt::endl;
        return 2;
    }
    bool ok = false;
    const qint64 entry = number.toLongLong(&ok);
    if (!ok || entry <= 0) {
        ctx.err << "restore: --entry takes an entry number (velmarpay-cli history lists them): " << number << Qt::endl;
        return 2;
    }
    if (unexpectedArguments(ctx, args))
        return 2;
    QString said, error;
    if (!history::Restore(ctx.db, dataSet, entry, &said, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << said << Qt::endl;
    return 0;
}

int sentDocument(Context& ctx, QStringList& args)
{
    QString dataSet, doctor, out, number;
    const bool named = takeOption(args, QStringLiteral("--dataset"), &dataSet) &&
                       takeOption(args, QStringLiteral("--doctor"), &doctor) &&
                       takeOption(args, QStringLiteral("--out"), &out);
    const bool oneAttempt = takeOption(args, QStringLiteral("--attempt"), &number);
    const bool pensionForm = takeFlag(args, QStringLiteral("--pension-form"));
    if (!named) {
        ctx.err << "sent-document: --dataset NAME, --doctor ID and --out FILE are required" << Qt::endl;
        return 2;
    }
    bool ok = !oneAttempt;
    const qint64 attempt = oneAttempt ? number.toLongLong(&ok) : 0;
    if (!ok || attempt < 0) {
        ctx.err << "sent-document: --attempt takes an attempt number of the send log: " << number << Qt::endl;
        return 2;
    }
    if (unexpectedArguments(ctx, args))
        return 2;
    QByteArray bytes;
    QString error;
    const QString name = QLatin1String(pensionForm ? history::kPensionFormDocument : history::kInvoiceDocument);
    if (!history::SentDocument(ctx.db, dataSet, doctor, attempt, name, &bytes, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    CheckedSaveFile file(out);
    if (!file.open(&error) || file.write(bytes) != bytes.size() || !file.commit(&error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    return 0;
}

int pruneSent(Context& ctx, QStringList& args)
{
    QDate before;
    if (!takeDate(ctx, args, QStringLiteral("--before"), &before) || unexpectedArguments(ctx, args))
        return 2;
    if (!before.isValid()) {
        ctx.err << "prune-sent: --before DATE is required" << Qt::endl;
        return 2;
    }
    int dropped = 0;
    QString error;
    if (!history::PruneSent(ctx.db, before, &dropped, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << "Dropped " << dropped << " documents sent before " << before.toString(Qt::ISODate) << Qt::endl;
    return 0;
}

const Command historyEntry("history",
                           "history [--dataset NAME] [--doctor ID] [--since DATE]  list the changes on record, "
                           "tab-separated",
                           Needs::Database, historyCommand);
const Command verifyEntry("verify-history",
                          "verify-history               check that no entry of the history was changed or removed",
                          Needs::Database, verifyHistory);
const Command restoreEntry("restore",
                           "restore --dataset NAME --entry N  bring back the data set an overwrite or restore replaced",
                           Needs::Database, restore);
const Command sentDocumentEntry("sent-document",
                                "sent-document --dataset NAME --doctor ID [--attempt N] [--pension-form] --out FILE  "
                                "write the invoice (or pension form) exactly as it was mailed",
                                Needs::Database, sentDocument);
const Command pruneSentEntry("prune-sent",
                             "prune-sent --before DATE     drop the kept copies of documents mailed before the date",
                             Needs::Database, pruneSent);

} // namespace
} // namespace velmar::cli
