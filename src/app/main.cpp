#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/filelocations.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/firstrun.h"
#include "gui/aboutbox.h"
#include "gui/datasetpicker.h"
#include "gui/detailwindow.h"
#include "gui/mainwindow.h"
#include "gui/messageboxprompter.h"
#include "gui/programicon.h"
#include "gui/recordeditor.h"
#include "gui/reportscontroller.h"
#include "gui/sendingcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <clocale>
#include <cstdio>
#include <exception>

namespace {

// An error no handler caught ends that user action only: it is shown and the program goes on.
class Application : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(activeWindow(), velmar::applicationTitle(), QString::fromLocal8Bit(e.what()));
        }
        return false;
    }
};

// --version and --help answer on the terminal, before anything needs a display.
constexpr char kHelp[] = "Usage: velmarpay [FILE.pay]\n"
                         "  or:  velmarpay --help | --version\n"
                         "The Velmar Payment System: a payments clerk imports a pay run (FILE.pay, imported when the\n"
                         "window first shows), checks and corrects each doctor's shift records, and prints, saves as\n"
                         "PDF or e-mails each doctor's invoice and pension form, with payment and pension summaries.\n"
                         "velmarpay-cli does the same work without windows.\n"
                         "\n"
                         "Options:\n"
                         "  -h, --help     show this help and exit\n"
                         "  --version      show the version and exit\n"
                         "\n";

// -1 to go on; otherwise the exit status, after printing what the arguments asked for.
int answerWithoutWindows(int argc, char* argv[])
{
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (first == "--version") {
        std::fputs("velmarpay " VELMAR_VERSION "\n", stdout);
        return 0;
    }
    if (first == "-h" || first == "--help") {
        std::fputs(kHelp, stdout);
        std::fputs(velmar::kFilesHelp, stdout);
        return 0;
    }
    if (first.startsWith('-') && first != "-" && first != "--") {
        std::fprintf(stderr, "velmarpay: unknown option %s (velmarpay --help lists them)\n", first.constData());
        return 2;
    }
    // Without a display Qt would abort; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("velmarpay: no display to show windows on (DISPLAY and WAYLAND_DISPLAY are unset);\n"
                   "velmarpay-cli does the same work without windows (velmarpay-cli --help).\n",
                   stderr);
        return 1;
    }
    return -1;
}

// The executable's path without its extension.
QString programBase(const QString& executable)
{
    const QFileInfo info(executable);
    QString name = info.fileName();
    const int dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    return info.absoluteDir().filePath(name);
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace velmar;
    if (const int rc = answerWithoutWindows(argc, argv); rc >= 0)
        return rc;
    Application app(argc, argv);
    // Qt adopts the user's locale for the C library; money is always formatted with a full stop.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(applicationTitle());
    QApplication::setWindowIcon(programIcon());

    FileLocations files =
        LocateFiles(LocationInputs::fromEnvironment(programBase(QCoreApplication::applicationFilePath())));
    MessageBoxPrompter prompter;
    if (const QString error = SettingsFileError(files.iniPath); !error.isEmpty()) {
        prompter.error(error);
        return 2;
    }
    AppSettings settings = LoadSettings(files);
    AppState state;

    const QString connection = QStringLiteral("velmarpay");
    QSqlDatabase db;
    QString error;
    bool open = OpenWorkingDatabase(files, settings.Database, connection, &db, &error);
    // A first start: the clerk need not go to a terminal for init-db.
    if (!open && !UsesServer(files, settings.Database) && settings.Database.isFile() &&
        !QFileInfo::exists(files.dbPath) &&
        prompter.question(QStringLiteral("No database at %1. Create it now?").arg(files.dbPath))) {
        QStringList done;
        if (InitializeDatabase(files, settings.Database, &done, &error)) {
            // The sample settings it may have written are the settings from now on.
            files = LocateFiles(LocationInputs::fromEnvironment(programBase(QCoreApplication::applicationFilePath())));
            settings = LoadSettings(files);
            open = OpenWorkingDatabase(files, settings.Database, connection, &db, &error);
        }
    }
    // The window still comes up without a database; every database action then says there is none.
    if (!open) {
        prompter.error(error);
    } else if (!UpgradeSchema(db, prompter)) {
        // A database that is not current is neither read nor written: its money would be wrong.
        db = QSqlDatabase();
        CloseDatabase(connection);
    }

    int rc = 0;
    {
        // Every window is created here, once, in this order, and lives until the program ends.
        MainWindow mainWindow(settings, state, db, prompter);
        mainWindow.setFilesInUse(DescribeFileLocations(files, settings.Database));
        mainWindow.setDatabaseName(UsesServer(files, settings.Database) ? settings.Database.describe() : files.dbPath);
        // What is wrong in the settings is told once, where it stays in view.
        if (!settings.problems.isEmpty())
            mainWindow.showStatus(settings.problems.join(QStringLiteral("; ")));
        else
            mainWindow.showStatus(UneditedSampleMessage(files.iniPath));
        prompter.setParentWidget(&mainWindow);
        DataSetPicker picker(&mainWindow);
        mainWindow.setDataSetPicker(&picker);
        DetailWindow detail(settings, state, db, prompter, &mainWindow);
        mainWindow.setDetailWindow(&detail);
        RecordEditor editor(settings, state, db, prompter, &detail);
        detail.setEditor(&editor);
        QObject::connect(&mainWindow, &MainWindow::dataSetChanged, &detail, &DetailWindow::closeForOtherDataSet);
        // The report forms (invoice, summaries, pension forms), their printers and the progress window.
        ReportsController reports(settings, state, db, prompter, &mainWindow);
        reports.attach(mainWindow, detail);
        // E-mail of the invoices, traced in the main window's status bar.
        SendingController sending(settings, state, db, reports, prompter, mainWindow);
        sending.attach(detail);
        AboutBox about(&mainWindow);
        mainWindow.setAboutBox(&about);

        QObject::connect(&mainWindow, &MainWindow::closed, &app, &QApplication::quit);
        mainWindow.setCommandLineArguments(app.arguments().mid(1));
        mainWindow.show();
        rc = app.exec();
    }
    db = QSqlDatabase();
    CloseDatabase(connection);
    return rc;
}
