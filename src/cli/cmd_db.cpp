#include "cli/cli.h"

#include "db/database.h"
#include "db/firstrun.h"
#include "db/migrate.h"
#include "history/history.h"

namespace velmar::cli {
namespace {

int initDb(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
    QStringList done;
    QString error;
    if (!InitializeDatabase(ctx.files, ctx.settings.Database, &done, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    for (const QString& line : done)
        ctx.out << line << Qt::endl;
    return 0;
}

int migrate(Context& ctx, QStringList& args)
{
    QString file;
    if (!takeOption(args, QStringLiteral("--from-sqlite"), &file)) {
        ctx.err << "migrate: --from-sqlite FILE is required" << Qt::endl;
        return 2;
    }
    if (unexpectedArguments(ctx, args))
        return 2;
    const QString connection = QStringLiteral("velmarpay-migrate");
    QString error, historyNote;
    Migration migration;
    bool ok = false;
    {
        QSqlDatabase source;
        // An older file gains superfee and nonsuperfee as it would at the program's next start.
        // The history goes with the copy, in its transaction.
        const auto recordHistory = [&](const Migration& done, QString* why) {
            QStringList names;
            for (const MigratedDataSet& d : done.copied)
                names.append(d.name);
            return history::RecordMigration(source, ctx.db, file, names, &historyNote, why);
        };
        ok = OpenDatabase(file, connection, &source, &error) && UpgradeSchema(source, ctx.prompter) &&
             MigrateDataSets(source, ctx.db, &migration, &error, recordHistory);
    }
    CloseDatabase(connection);
    if (!ok) {
        if (!error.isEmpty())
            ctx.err << error << Qt::endl;
        ctx.err << "Nothing was copied." << Qt::endl;
        return 1;
    }
    for (const MigratedDataSet& d : migration.copied)
        ctx.out << "copied " << d.name << " (" << d.label << "): " << d.doctors << " doctors, " << d.shifts
                << " shift records" << (d.sendLog ? QStringLiteral(", %1 in the send log").arg(d.sendLog) : QString())
                << Qt::endl;
    if (migration.firstRecordNumber > 0)
        ctx.out << "the shift records were numbered from " << migration.firstRecordNumber
                << " on, as lower numbers are in use there" << Qt::endl;
    if (migration.copied.isEmpty())
        ctx.out << "nothing copied" << Qt::endl;
    if (!historyNote.isEmpty())
        ctx.err << historyNote << Qt::endl;
    for (const QString& name : migration.refused)
        ctx.err << "not copied: " << name << " already exists in " << DatabaseDescription(ctx.db) << Qt::endl;
    return migration.refused.isEmpty() ? 0 : 1;
}

const Command
    initDbCommand("init-db",
                  "init-db                      create an empty database (or the tables in [Database]'s server)",
                  Needs::Nothing, initDb);
const Command migrateCommand("migrate",
                             "migrate --from-sqlite FILE    copy every data set of an SQLite file into the database",
                             Needs::Database, migrate);

} // namespace
} // namespace velmar::cli
