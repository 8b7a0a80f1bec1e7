#include "cli/cli.h"

#include "db/database.h"

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

int initDb(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
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

const Command initDbCommand("init-db", "init-db                      create an empty database", Needs::Nothing, initDb);

} // namespace
} // namespace velmar::cli
