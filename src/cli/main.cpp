#include "cli/cli.h"

#include "db/database.h"
#include "payments/datasets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QSqlQuery>

#include <clocale>
#include <cstdio>
#include <unistd.h>

namespace velmar::cli {

namespace {

struct Entry
{
    QString usage;
    Needs needs;
    Handler handler;
};

QMap<QString, Entry>& registry()
{
    static QMap<QString, Entry> commands;
    return commands;
}

void printUsage(QTextStream& s)
{
    s << "usage: velmarpay-cli [--ini FILE] [--db FILE] COMMAND [ARGS]\n"
         "       velmarpay-cli --version\n\ncommands:\n";
    for (const Entry& e : registry())
        s << "  " << e.usage << "\n";
}

} // namespace

Command::Command(const char* name, const char* usage, Needs needs, Handler handler)
{
    registry().insert(QString::fromUtf8(name), Entry{QString::fromUtf8(usage), needs, handler});
}

void CliPrompter::information(const QString& text)
{
    m_out << text << Qt::endl;
}

void CliPrompter::error(const QString& text)
{
    ++errors;
    m_err << text << Qt::endl;
}

bool CliPrompter::question(const QString& text)
{
    m_err << text << (answerYes ? " Yes" : " No") << Qt::endl;
    if (!answerYes)
        ++questionsRefused;
    return answerYes;
}

void CliPrompter::summary(const QString& text, const QString& details, bool)
{
    m_out << text << Qt::endl;
    if (!details.isEmpty())
        m_out << details << Qt::endl;
}

bool takeOption(QStringList& args, const QString& name, QString* value)
{
    const int i = args.indexOf(name);
    if (i < 0)
        return false;
    if (i + 1 >= args.size()) {
        QTextStream(stderr) << "missing value after " << name << Qt::endl;
        std::exit(2);
    }
    *value = args.at(i + 1);
    args.remove(i, 2);
    return true;
}

bool takeFlag(QStringList& args, const QString& name)
{
    return args.removeAll(name) > 0;
}

bool unexpectedArguments(Context& ctx, const QStringList& args)
{
    if (args.isEmpty())
        return false;
    ctx.err << "unexpected arguments: " << args.join(u' ') << Qt::endl;
    return true;
}

int openDataSet(Context& ctx, QStringList& args, const char* command, int* doctors)
{
    QString dataSet;
    if (!takeOption(args, QStringLiteral("--dataset"), &dataSet)) {
        ctx.err << command << ": --dataset NAME is required" << Qt::endl;
        return 2;
    }
    QSqlQuery q(ctx.db);
    const QString quoted = QuoteForSql(dataSet);
    if (!q.exec(QStringLiteral("SELECT (SELECT count(*) FROM Headers WHERE DataSet = '%1'), "
                               "(SELECT count(*) FROM FileNames WHERE DataSet = '%1')")
                    .arg(quoted)) ||
        !q.next() || q.value(0).toInt() + q.value(1).toInt() == 0) {
        ctx.err << "No data set named " << dataSet << Qt::endl;
        return 1;
    }
    ctx.state.CurrentDataSet = dataSet;
    ctx.state.CurrentDataSetLabel = DataSetLabel(ctx.db, dataSet, ctx.prompter);
    if (doctors)
        *doctors = q.value(0).toInt();
    return 0;
}

QString lastImportedDataSet(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT DataSet FROM FileNames ORDER BY rowid DESC LIMIT 1")) && q.next())
        return q.value(0).toString();
    return QString();
}

} // namespace velmar::cli

int main(int argc, char* argv[])
{
    using namespace velmar;
    using namespace velmar::cli;
    // Reports are painted with QtGui; no display is needed for that.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt warns on every start without a runtime folder (as under cron or as root over ssh).
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = QDir::tempPath().toUtf8() + "/velmarpay-runtime-" + QByteArray::number(getuid());
        if (QDir().mkpath(QString::fromUtf8(runtime)) &&
            QFile::setPermissions(QString::fromUtf8(runtime),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
            qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);

    // The same files as the program beside it.
    QString iniOverride;
    QString dbOverride;
    takeOption(args, QStringLiteral("--ini"), &iniOverride);
    takeOption(args, QStringLiteral("--db"), &dbOverride);
    const FileLocations files = LocateFiles(
        LocationInputs::fromEnvironment(QCoreApplication::applicationDirPath() + QStringLiteral("/velmarpay")),
        iniOverride, dbOverride);

    if (args.size() == 1 && args.first() == u"--version") {
        out << "velmarpay-cli " << VELMAR_VERSION << Qt::endl;
        return 0;
    }
    if (args.isEmpty() || args.first() == u"--help" || args.first() == u"help") {
        printUsage(args.isEmpty() ? err : out);
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    const auto it = registry().constFind(name);
    if (it == registry().constEnd()) {
        err << "unknown command: " << name << Qt::endl;
        printUsage(err);
        return 2;
    }

    CliPrompter prompter(out, err);
    Context ctx{files, LoadSettings(files), AppState{}, QSqlDatabase(), out, err, prompter};
    // A refused setting is told and its default used; the command still runs.
    for (const QString& refused : ctx.settings.refused)
        err << refused << Qt::endl;
    const QString connection = QStringLiteral("velmarpay-cli");
    if (it->needs == Needs::Database) {
        QString error;
        if (!OpenWorkingDatabase(files, ctx.settings.Database, connection, &ctx.db, &error)) {
            err << error << Qt::endl;
            return 1;
        }
        UpgradeSchema(ctx.db, prompter);
    }
    const int rc = it->handler(ctx, args);
    out.flush();
    err.flush();
    ctx.db = QSqlDatabase();
    if (it->needs == Needs::Database)
        CloseDatabase(connection);
    return rc;
}
