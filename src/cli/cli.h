#pragma once

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/filelocations.h"
#include "core/prompter.h"
#include "db/reading.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QTextStream>

namespace velmar::cli {

// Messages go to stderr (information to stdout); questions take the answer given by a flag.
class CliPrompter : public Prompter
{
public:
    CliPrompter(QTextStream& out, QTextStream& err) : m_out(out), m_err(err) {}
    void information(const QString& text) override;
    void error(const QString& text) override;
    bool question(const QString& text) override;
    // On stdout, the details line by line under the text.
    void summary(const QString& text, const QString& details, bool problems) override;

    bool answerYes = false;
    int errors = 0;
    int questionsRefused = 0;

private:
    QTextStream& m_out;
    QTextStream& m_err;
};

struct Context
{
    FileLocations files; // the settings file and database in use
    AppSettings settings;
    AppState state;
    QSqlDatabase db; // open when the command asked for it
    QTextStream& out;
    QTextStream& err;
    CliPrompter& prompter;
};

using Handler = int (*)(Context& ctx, QStringList& args);

enum class Needs { Nothing, Database };

// Registers a subcommand; used as a static object in each cmd_*.cpp.
struct Command
{
    Command(const char* name, const char* usage, Needs needs, Handler handler);
};

// Removes "--name VALUE" from args; false when absent. A missing value is reported and exits.
bool takeOption(QStringList& args, const QString& name, QString* value);
bool takeFlag(QStringList& args, const QString& name);
// After options are taken: true when unexpected arguments remain (reported on err).
bool unexpectedArguments(Context& ctx, const QStringList& args);

// Takes --dataset NAME and makes it the open data set, as opening it in the program does.
// 0 when it is open, otherwise the exit code: 2 without --dataset, 1 for a data set not stored.
// Its number of doctors goes to *doctors when asked for.
int openDataSet(Context& ctx, QStringList& args, const char* command, int* doctors = nullptr);
// The same for a name already taken.
int useDataSet(Context& ctx, const QString& dataSet, int* doctors = nullptr);

// "No data set named NAME (velmarpay-cli datasets lists them)"
QString NoDataSetMessage(const QString& dataSet);

// A command that reads a data set more than once reads it in one snapshot: true when it began,
// else false after saying why.
bool began(Context& ctx, const ReadSnapshot& snapshot);

// The data set of the most recent import: the last FileNames row written (empty when there is
// none). False after a message when it cannot be read.
bool lastImportedDataSet(Context& ctx, QString* dataSet);

} // namespace velmar::cli
