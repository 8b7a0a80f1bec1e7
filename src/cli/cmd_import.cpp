#include "cli/cli.h"

#include "db/database.h"
#include "import/payimport.h"
#include "payments/datasets.h"

#include <QFile>

#include <cstdio>

namespace velmar::cli {
namespace {

int import(Context& ctx, QStringList& args)
{
    ctx.prompter.answerYes = takeFlag(args, QStringLiteral("--overwrite"));
    if (args.size() != 1) {
        ctx.err << "usage: velmarpay-cli import FILE|- [--overwrite]" << Qt::endl;
        return 2;
    }
    // Without settings every "999" doctor gets the default rate for good: said before, and after.
    const QString noSettings = NoSettingsMessage(ctx.settings);
    if (!noSettings.isEmpty())
        ctx.err << noSettings << Qt::endl;
    ImportResult result;
    bool imported = false;
    if (args.first() == u"-") {
        QFile in;
        imported = in.open(stdin, QIODevice::ReadOnly) &&
                   ImportPaymentFile(in, ctx.settings, ctx.state, ctx.db, ctx.prompter, &result);
    } else {
        imported = ImportPaymentFile(args.first(), ctx.settings, ctx.state, ctx.db, ctx.prompter, &result);
    }
    if (!imported) {
        if (ctx.prompter.questionsRefused > 0)
            ctx.err << "Not imported: " << result.dataSet << " is stored already (use --overwrite)" << Qt::endl;
        return 1;
    }
    ctx.out << "Imported " << result.dataSet << " (" << result.label << "): " << result.doctors << " doctors, "
            << result.shifts << " shift records" << DefaultRateNote(ctx.settings) << Qt::endl;
    return 0;
}

// Whether a pay file's data set is stored already, so that a script imports only what is new.
int isStored(Context& ctx, QStringList& args)
{
    if (args.size() != 1) {
        ctx.err << "usage: velmarpay-cli is-stored FILE" << Qt::endl;
        return 2;
    }
    ImportResult header;
    if (!ReadPayFileHeader(args.first(), ctx.prompter, &header))
        return 2;
    ctx.out << header.dataSet << Qt::endl;
    const QStringList stored = StoredDataSets(ctx.db, ctx.prompter);
    if (ctx.prompter.errors > 0)
        return 2;
    return stored.contains(header.dataSet) ? 0 : 1;
}

int datasets(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
    for (const QString& name : StoredDataSets(ctx.db, ctx.prompter))
        ctx.out << name << "\n";
    return ctx.prompter.errors > 0 ? 1 : 0;
}

int doctors(Context& ctx, QStringList& args)
{
    QString dataSet;
    const bool named = takeOption(args, QStringLiteral("--dataset"), &dataSet);
    if (unexpectedArguments(ctx, args))
        return 2;
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
    if (!named && !lastImportedDataSet(ctx, &dataSet))
        return 1;
    if (dataSet.isEmpty()) {
        ctx.err << "No data set is stored in " << DatabaseDescription(ctx.db)
                << " yet: velmarpay-cli import FILE stores one" << Qt::endl;
        return 1;
    }
    if (const int rc = useDataSet(ctx, dataSet))
        return rc;
    for (const QString& entry : DoctorListEntries(ctx.db, dataSet, ctx.prompter))
        ctx.out << entry << "\n";
    return ctx.prompter.errors > 0 ? 1 : 0;
}

const Command importCommand("import", "import FILE|- [--overwrite]  import a pay file (- reads standard input)",
                            Needs::Database, import);
const Command isStoredCommand("is-stored",
                              "is-stored FILE               print a pay file's data set; exit 0 if stored, 1 if not",
                              Needs::Database, isStored);
const Command datasetsCommand("datasets", "datasets                     list the stored data sets", Needs::Database,
                              datasets);
const Command doctorsCommand("doctors",
                             "doctors [--dataset NAME]     list the doctors of a data set (default: last import)",
                             Needs::Database, doctors);

} // namespace
} // namespace velmar::cli
