#include "cli/cli.h"

#include "db/database.h"
#include "payments/datasets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QRegularExpression>
#include <QSqlQuery>

#include <algorithm>
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

const char kSynopsis[] = "Usage: velmarpay-cli [--ini FILE] [--db FILE] COMMAND [ARGS]\n"
                         "  or:  velmarpay-cli help [COMMAND]\n"
                         "  or:  velmarpay-cli --version\n";

// Written for a reader and for help2man, which makes the manual page of it.
void printHelp(QTextStream& s)
{
    s << kSynopsis
      << "The Velmar Payment System's work without windows, on the same settings and database as the\n"
         "program: import pay runs, list data sets, doctors and their money figures, write invoices,\n"
         "pension forms and summaries as PDF or CSV, and mail the invoices.\n"
         "\n"
         "Options:\n"
         "  --ini FILE     use this settings file instead of the one found\n"
         "  --db FILE      use this SQLite database file instead of the one found\n"
         "  -h, --help     show this help and exit (help COMMAND: that command's)\n"
         "  --version      show the version and exit\n"
         "\n"
         "Commands:\n";
    for (const Entry& e : registry())
        s << "  " << e.usage << "\n";
    s << "\n"
      << kFilesHelp
      << "\n"
         "Exit status:\n"
         "  0 done, 1 failed (the message is on standard error), 2 a usage error or settings that\n"
         "  cannot be read.\n";
}

// One command's usage line and what it does.
void printCommandHelp(QTextStream& s, const Entry& e)
{
    static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    const QRegularExpressionMatch m = gap.match(e.usage);
    const QString synopsis = m.hasMatch() ? e.usage.left(m.capturedStart()) : e.usage;
    const QString what = m.hasMatch() ? e.usage.mid(m.capturedEnd()) : QString();
    s << "Usage: velmarpay-cli [--ini FILE] [--db FILE] " << synopsis << "\n";
    if (!what.isEmpty())
        s << "\n" << what.at(0).toUpper() << what.mid(1) << ".\n";
}

int unknownCommand(QTextStream& err, const QString& name)
{
    err << "unknown command: " << name << " (velmarpay-cli --help lists the commands)" << Qt::endl;
    return 2;
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
    return useDataSet(ctx, dataSet, doctors);
}

int useDataSet(Context& ctx, const QString& dataSet, int* doctors)
{
    const QString quoted = QuoteForSql(dataSet);
    ReadQuery stored(ctx.db, QStringLiteral("SELECT (SELECT count(*) FROM Headers WHERE DataSet = '%1'), "
                                            "(SELECT count(*) FROM FileNames WHERE DataSet = '%1')")
                                 .arg(quoted));
    int headers = 0, names = 0;
    if (!stored.forEachRow([&](const QSqlQuery& q) {
            headers = q.value(0).toInt();
            names = q.value(1).toInt();
        })) {
        ctx.err << stored.failure() << Qt::endl;
        return 1;
    }
    if (headers + names == 0) {
        ctx.err << NoDataSetMessage(dataSet) << Qt::endl;
        return 1;
    }
    ctx.state.CurrentDataSet = dataSet;
    ctx.state.CurrentDataSetLabel = DataSetLabel(ctx.db, dataSet, ctx.prompter);
    if (doctors)
        *doctors = headers;
    return ctx.prompter.errors > 0 ? 1 : 0;
}

QString NoDataSetMessage(const QString& dataSet)
{
    return QStringLiteral("No data set named %1 (velmarpay-cli datasets lists them)").arg(dataSet);
}

bool began(Context& ctx, const ReadSnapshot& snapshot)
{
    if (!snapshot.isActive())
        ctx.err << snapshot.trouble() << Qt::endl;
    return snapshot.isActive();
}

bool lastImportedDataSet(Context& ctx, QString* dataSet)
{
    ReadQuery last(ctx.db, QStringLiteral("SELECT DataSet FROM FileNames ORDER BY rowid DESC LIMIT 1"));
    dataSet->clear();
    if (last.forEachRow([&](const QSqlQuery& q) { *dataSet = q.value(0).toString(); }))
        return true;
    ctx.err << last.failure() << Qt::endl;
    return false;
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
    const auto isHelp = [](const QString& a) { return a == u"-h" || a == u"--help"; };
    if (args.isEmpty()) {
        err << kSynopsis << "velmarpay-cli --help lists the commands." << Qt::endl;
        return 2;
    }
    if (isHelp(args.first()) || (args.first() == u"help" && args.size() == 1)) {
        printHelp(out);
        return 0;
    }
    // "help COMMAND" and "COMMAND --help" alike.
    if (args.first() == u"help" || std::any_of(args.cbegin() + 1, args.cend(), isHelp)) {
        const QString name = args.first() == u"help" ? args.at(1) : args.first();
        const auto it = registry().constFind(name);
        if (it == registry().constEnd())
            return unknownCommand(err, name);
        printCommandHelp(out, *it);
        return 0;
    }
    const QString name = args.takeFirst();
    const auto it = registry().constFind(name);
    if (it == registry().constEnd())
        return unknownCommand(err, name);
    // Settings named but not there would change the money without a word: nothing is done.
    if (const QString error = SettingsFileError(files.iniPath); !error.isEmpty()) {
        err << error << Qt::endl;
        return 2;
    }

    CliPrompter prompter(out, err);
    Context ctx{files, LoadSettings(files), AppState{}, QSqlDatabase(), out, err, prompter};
    // What is wrong in the settings is told once; the command still runs on what is used instead.
    for (const QString& problem : ctx.settings.problems)
        err << problem << Qt::endl;
    const QString connection = QStringLiteral("velmarpay-cli");
    if (it->needs == Needs::Database) {
        QString error;
        // A database that is not ours, or not current, is neither read nor written: its money would be wrong.
        const bool opened = OpenWorkingDatabase(files, ctx.settings.Database, connection, &ctx.db, &error);
        if (!opened)
            err << error << Qt::endl;
        if (!opened || !UpgradeSchema(ctx.db, prompter)) {
            ctx.db = QSqlDatabase();
            CloseDatabase(connection);
            return 1;
        }
    }
    const int rc = it->handler(ctx, args);
    out.flush();
    err.flush();
    ctx.db = QSqlDatabase();
    if (it->needs == Needs::Database)
        CloseDatabase(connection);
    return rc;
}
