#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/filelocations.h"
#include "core/prompter.h"
#include "db/database.h"
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
    Application app(argc, argv);
    // Qt adopts the user's locale for the C library; money is always formatted with a full stop.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(applicationTitle());
    QApplication::setWindowIcon(programIcon());

    const FileLocations files =
        LocateFiles(LocationInputs::fromEnvironment(programBase(QCoreApplication::applicationFilePath())));
    const AppSettings settings = LoadSettings(files);
    AppState state;
    MessageBoxPrompter prompter;
    // A refused setting is told and its default used.
    for (const QString& refused : settings.refused)
        prompter.error(refused);

    const QString connection = QStringLiteral("velmarpay");
    QSqlDatabase db;
    QString error;
    if (OpenWorkingDatabase(files, settings.Database, connection, &db, &error))
        UpgradeSchema(db, prompter);
    else
        prompter.error(error); // the window still comes up; every database action then reports its own failure

    int rc = 0;
    {
        // Every window is created here, once, in this order, and lives until the program ends.
        MainWindow mainWindow(settings, state, db, prompter);
        mainWindow.setFilesInUse(DescribeFileLocations(files, settings.Database));
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
