#include "cli/cli.h"

#include "db/database.h"
#include "db/migrate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace velmar::cli {
namespace {

bool makeFolderFor(Context& ctx, const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir().mkpath(folder))
        return true;
    ctx.err << "cannot create the folder " << folder << Qt::endl;
    return false;
}

// A first installation has no settings file anywhere: the user gets the sample, with every
// section in it, to edit in their own config folder.
bool writeStartingSettings(Context& ctx)
{
    const QString path = ctx.files.userIniPath;
    if (!makeFolderFor(ctx, path))
        return false;
    QFile sample(QStringLiteral(":/samples/velmarpay.ini"));
    QSaveFile target(path);
    if (!sample.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly) ||
        target.write(sample.readAll()) != sample.size() || !target.commit()) {
        ctx.err << "cannot write the settings " << path << ": " << target.errorString() << Qt::endl;
        return false;
    }
    ctx.out << "created " << path << " from the sample settings: edit it for your service" << Qt::endl;
    return true;
}

// The tables in the server's database, which the administrator made with createdb.
int initServerDb(Context& ctx)
{
    const QString connection = QStringLiteral("velmarpay-init");
    QString error;
    bool ok = false;
    {
        QSqlDatabase db;
        ok =
            OpenServerDatabase(ctx.settings.Database, connection, &db, &error, false) && CreateServerTables(db, &error);
    }
    CloseDatabase(connection);
    if (!ok) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << "created the tables in " << ctx.settings.Database.describe() << Qt::endl;
    return 0;
}

int initDb(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
    if (UsesServer(ctx.files, ctx.settings.Database))
        return initServerDb(ctx);
    QString error;
    if (!QFileInfo::exists(ctx.files.dbPath) && !makeFolderFor(ctx, ctx.files.dbPath))
        return 1;
    if (!CreateDatabase(ctx.files.dbPath, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << "created " << ctx.files.dbPath << Qt::endl;
    if (ctx.files.iniPath.isEmpty() && !writeStartingSettings(ctx))
        return 1;
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
    QString error;
    Migration migration;
    bool ok = false;
    {
        QSqlDatabase source;
        // An older file gains superfee and nonsuperfee as it would at the program's next start.
        ok = OpenDatabase(file, connection, &source, &error) && UpgradeSchema(source, ctx.prompter) &&
             MigrateDataSets(source, ctx.db, &migration, &error);
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
