#include "cli/cli.h"

#include "db/database.h"

namespace velmar::cli {
namespace {

int initDb(Context& ctx, QStringList& args)
{
    if (unexpectedArguments(ctx, args))
        return 2;
    QString error;
    if (!CreateDatabase(ctx.dbPath, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << "created " << ctx.dbPath << Qt::endl;
    return 0;
}

const Command initDbCommand("init-db", "init-db                      create an empty database", Needs::Nothing, initDb);

} // namespace
} // namespace velmar::cli
