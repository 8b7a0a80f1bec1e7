#pragma once

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmar {

class Documents;
class Prompter;
struct AppState;

// The progress window of a batch run, as the run sees it.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual void showProgress() = 0;
    virtual void hideProgress() = 0;
    // Who is being done now.
    virtual void setProgressText(const QString& /*text*/) {}
    // What the run does, in a word ("Printing", "Sending").
    virtual void setRunName(const QString& /*name*/) {}
};

// "(position - low) * 100 / (high - low)" followed by "%", truncated toward zero; "0%" for an empty range.
QString ProgressPercentText(int low, int high, int position);

// Print All Invoices: every doctor of the current data set in surname order through the invoice
// routine, with the progress shown. With SendingMode on the same run mails them instead. A printing
// run stops at the first failure of the printer (or file) it prints to: the next doctor would
// fail the same way.
class BatchPrint
{
public:
    BatchPrint(Documents& documents, AppState& state, const QSqlDatabase& db, Prompter& prompter,
               ProgressDisplay& progress);

    // dataSetOpen: the main window's doctor list has entries. Returns the number of doctors whose
    // invoice was produced; -1 when the run did not start or was ended by a database error.
    int PrintAll1Click(bool dataSetOpen);

    // Sending runs only: log in before the first doctor (empty text on success, else the whole message)
    // and disconnect at the end.
    std::function<QString()> SmtpLogin;
    std::function<void()> Disconnect;
    // Sending runs only: the doctors the run takes (every one when unset).
    std::function<bool(const QSqlRecord& doctor)> Wanted;
    // Whether the run is to stop before the next doctor (Cancel).
    std::function<bool()> StopRequested;

    // How the last run went.
    struct Outcome
    {
        int doctors = 0;    // the run set out to do
        int done = 0;       // invoices produced
        QStringList failed; // doctors whose invoice was not produced
        int untried = 0;    // doctors not reached: the run was cancelled or the output failed
        bool outputFailed = false;
    };
    const Outcome& lastRun() const { return m_run; }
    int doctorsInRun() const { return m_run.doctors; }

    // A run owns its data set from start to end: the windows stay usable meanwhile, but nothing
    // may open or import another data set, nor start a second run inside it.
    bool isRunning() const { return m_running; }
    static QString runInProgressText() { return QStringLiteral("Printing is in progress."); }

private:
    Documents& m_documents;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    ProgressDisplay& m_progress;
    Outcome m_run;
    bool m_running = false;
};

} // namespace velmar
