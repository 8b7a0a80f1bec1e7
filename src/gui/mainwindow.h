#pragma once

#include "mail/mailstatus.h"
#include "payments/datasets.h"

#include <QMainWindow>
#include <QPointer>
#include <QSqlDatabase>
#include <QStringList>
#include <QUrl>

#include <functional>

class QLineEdit;
class QListWidget;
class QMenu;
class QProgressDialog;

namespace velmar {

class AboutBox;
class DataSetPicker;
class ElidedLabel;
class Prompter;
struct AppSettings;
struct AppState;

// The program's home: the doctors of the open data set, the menus and the status line.
class MainWindow : public QMainWindow, public MailStatus
{
    Q_OBJECT
public:
    MainWindow(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
               QWidget* parent = nullptr);

    // Windows created after this one; without them their menu entries do nothing.
    void setDetailWindow(QWidget* detail);
    void setDataSetPicker(DataSetPicker* picker);
    void setAboutBox(AboutBox* about);
    // The program's arguments: the first one, if any, is imported when the window is first shown.
    void setCommandLineArguments(const QStringList& arguments);
    // How long an import runs before its progress window shows.
    void setImportProgressDelay(int milliseconds) { m_importProgressDelay = milliseconds; }
    // Which settings file and database are in use, shown by Help > System.
    void setFilesInUse(const QString& text);
    // The database the program works on, named when there is none open.
    void setDatabaseName(const QString& name) { m_databaseName = name; }
    // Asked before the window closes (and the program with it); false keeps it open.
    void setCloseGuard(std::function<bool()> mayClose);
    // Asked before another data set is opened or imported: a run that owns the open one says why
    // not ("A sending run is in progress."), else nothing.
    void addRunGuard(std::function<QString()> busy);

    // Whether a data set is open with doctors listed: what printing and sending runs need.
    bool listsDoctors() const;

    // Also where the mail dialogue is traced.
    void showStatus(const QString& text) override;
    QString statusText() const;

    // The address of the online help page.
    static QUrl helpUrl();

signals:
    void summaryRequested(bool print);
    void printAllRequested();
    void printerSetupRequested();
    void sendAllRequested();
    void sendNotYetSentRequested();
    void sendChangedRequested();
    void sendLogRequested();
    // The window was closed: the program ends, whatever other windows are open.
    void closed();
    // Another data set (or a fresh import of this one) is now the current one.
    void dataSetChanged();

public slots:
    // Shows only the doctors whose surname, first name or id holds the text.
    void filterDoctors(const QString& search);
    void RefreshDoctorList();
    void OpenDataSet();
    void ImportFile(const QString& path);

    void Open1Click();
    void OpenExisting1Click();
    void Exit1Click();
    void idsDblClick();
    void PrintAll1Click();
    void Summary1Click();
    void SummaryPrint1Click();
    void PrinterSetup1Click();
    void SendAll1Click();
    void SendNotYetSent1Click();
    void SendAmended1Click();
    void SendLog1Click();
    void History1Click();
    void OnLineHelpSystem1Click();
    void About1Click();
    void System1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void requestSummary(bool print);
    // True (after saying why) while a run owns the open data set.
    bool refusedDuringRun();
    // "Velmar Payment System - <label> (<data set>)" once a data set is open.
    void updateTitle();
    // False, after saying so, when no database is open.
    bool databaseOpen();
    // Makes a stored data set the open one, and says so in the status line unless told to keep it.
    void openDataSet(const QString& dataSet, bool keepStatus = false);
    // The data set open when the program last ended, kept in the user's settings.
    void reopenLastDataSet();
    void rememberDataSet();

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    class HistoryWindow* m_history = nullptr;

    QListWidget* m_ids;
    QLineEdit* m_search;
    QList<DoctorListEntry> m_doctors; // what m_ids lists, in its order
    ElidedLabel* m_status;
    QProgressDialog* m_importProgress;
    int m_importProgressDelay = 1000;
    QMenu* m_sendMenu = nullptr;
    QPointer<QWidget> m_detail;
    QPointer<DataSetPicker> m_picker;
    QPointer<AboutBox> m_about;
    QStringList m_arguments;
    QString m_filesInUse;
    QString m_databaseName;
    std::function<bool()> m_closeGuard;
    QList<std::function<QString()>> m_runGuards;
    bool m_shownBefore = false;
};

} // namespace velmar
