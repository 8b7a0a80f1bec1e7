#include "uitestsupport.h"

#include "common/testsupport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "gui/aboutbox.h"
#include "gui/datasetpicker.h"
#include "gui/detailwindow.h"
#include "gui/filedialogs.h"
#include "gui/historywindow.h"
#include "gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrlQuery>

#include <memory>

using namespace velmar;
using namespace velmar::test;

using namespace Qt::StringLiterals;

namespace {

// Stands in for the doctor detail window: counts how often it is shown.
class ShowCounter : public QWidget
{
public:
    int shows = 0;

protected:
    void showEvent(QShowEvent*) override { ++shows; }
};

QByteArray payFile(const char* label, const char* dataSet, const char* doctors)
{
    return QByteArray("A,\"") + label + "\"\nB," + dataSet + "\n" + doctors;
}

} // namespace

class MainWindowTest : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        FileDialogs::reset();
    }
    void TearDown() override
    {
        m_window.reset(); // it holds the connection
        DatabaseTest::TearDown();
    }

    void makeWindow()
    {
        m_window = std::make_unique<MainWindow>(m_settings, m_state, m_db, m_prompter);
        m_ids = m_window->findChild<QListWidget*>(QStringLiteral("ids"));
        ASSERT_NE(m_ids, nullptr);
    }

    void addDoctor(const QString& dataSet, const QString& id, const QString& fname, const QString& sname)
    {
        exec(QStringLiteral("INSERT INTO Headers (DataSet, id, fname, sname) VALUES('%1', '%2', '%3', '%4')")
                 .arg(QuoteForSql(dataSet), QuoteForSql(id), QuoteForSql(fname), QuoteForSql(sname)));
    }

    QStringList entries() const
    {
        QStringList result;
        for (int i = 0; i < m_ids->count(); ++i)
            result.append(m_ids->item(i)->text());
        return result;
    }

    void doubleClickRow(int row) { doubleClickItem(m_ids, m_ids->item(row)); }

    QAction* action(const char* name) const { return m_window->findChild<QAction*>(QString::fromUtf8(name)); }

    AppSettings m_settings;
    AppState m_state;
    std::unique_ptr<MainWindow> m_window;
    QListWidget* m_ids = nullptr;
};

TEST_F(MainWindowTest, DoctorListShowsSurnameInitialAndIdInSurnameOrder)
{
    addDoctor(QStringLiteral("02_2005"), QStringLiteral("1234"), QStringLiteral("John"), QStringLiteral("Smith"));
    addDoctor(QStringLiteral("02_2005"), QStringLiteral("55"), QStringLiteral(" "), QStringLiteral("Adams"));
    addDoctor(QStringLiteral("02_2005"), QStringLiteral("7"), QStringLiteral("Bridget"), QStringLiteral("O'Connor"));
    addDoctor(QStringLiteral("03_2005"), QStringLiteral("9"), QStringLiteral("Other"), QStringLiteral("Run"));
    makeWindow();
    EXPECT_EQ(m_window->objectName(), QStringLiteral("TForm1"));
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Velmar Payment System"));
    EXPECT_TRUE(entries().isEmpty());

    m_state.CurrentDataSet = QStringLiteral("02_2005");
    m_window->RefreshDoctorList();
    // A first name that is a single blank leaves a blank after the comma.
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Adams,  (55)"), QStringLiteral("O'Connor,B (7)"),
                                      QStringLiteral("Smith,J (1234)")}));
    EXPECT_TRUE(m_prompter.messages.isEmpty());

    // Refilling replaces the entries rather than adding to them.
    m_state.CurrentDataSet = QStringLiteral("03_2005");
    m_window->RefreshDoctorList();
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Run,O (9)")});
}

TEST_F(MainWindowTest, DoubleClickMakesTheDoctorCurrentAndShowsTheDetailWindowAgain)
{
    addDoctor(QStringLiteral("d"), QStringLiteral("1234"), QStringLiteral("John"), QStringLiteral("Smith"));
    // A surname with "(" does not disturb the id; an id with "(" is cut after its own last "(".
    addDoctor(QStringLiteral("d"), QStringLiteral("88"), QStringLiteral("Ann"), QStringLiteral("Lee (Jnr)"));
    addDoctor(QStringLiteral("d"), QStringLiteral("X(12)"), QStringLiteral("Ted"), QStringLiteral("Young"));
    m_state.CurrentDataSet = QStringLiteral("d");
    makeWindow();
    ShowCounter detail;
    m_window->setDetailWindow(&detail);
    m_window->show();
    m_window->RefreshDoctorList();
    ASSERT_EQ(entries(), (QStringList{QStringLiteral("Lee (Jnr),A (88)"), QStringLiteral("Smith,J (1234)"),
                                      QStringLiteral("Young,T (X(12))")}));

    doubleClickRow(1);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("1234"));
    EXPECT_EQ(m_window->statusText(), QStringLiteral("1234"));
    EXPECT_TRUE(detail.isVisible());
    EXPECT_EQ(detail.shows, 1);
    EXPECT_FALSE(detail.isModal());

    // The same doctor again: hidden and shown once more, so it loads afresh.
    doubleClickRow(1);
    EXPECT_EQ(detail.shows, 2);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("1234"));

    doubleClickRow(0);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("88"));
    doubleClickRow(2);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("12)"));
    EXPECT_EQ(m_window->statusText(), QStringLiteral("12)"));
    EXPECT_EQ(detail.shows, 4);

    // Enter on an entry acts as a double-click.
    m_ids->setFocus();
    m_ids->setCurrentRow(0);
    QTest::keyClick(m_ids, Qt::Key_Return);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("88"));
    EXPECT_EQ(detail.shows, 5);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

// A first start whose database was not created: the file commands say so, not an SQL failure.
TEST_F(MainWindowTest, FileCommandsWithoutADatabaseSaySo)
{
    m_window = std::make_unique<MainWindow>(m_settings, m_state, QSqlDatabase(), m_prompter);
    const QString db = QStringLiteral("/home/clerk/.local/share/velmarpay/velmarpay.mdb");
    m_window->setDatabaseName(db);
    DataSetPicker picker(m_window.get());
    m_window->setDataSetPicker(&picker);
    action("Open1")->trigger();
    action("OpenExisting1")->trigger();
    EXPECT_EQ(m_prompter.messages, QStringList(2, QStringLiteral("error: No database is open: ") + db));
    EXPECT_FALSE(picker.isVisible());
}

TEST_F(MainWindowTest, DoubleClickWithNothingSelectedDoesNothing)
{
    makeWindow();
    ShowCounter detail;
    m_window->setDetailWindow(&detail);
    m_window->show();
    m_state.CurrentDoctorId = QStringLiteral("previous");

    // Both clicks of a double-click on the empty list.
    QTest::mouseClick(m_ids->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(m_ids->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    m_window->idsDblClick();
    QTest::keyClick(m_ids, Qt::Key_Return);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("previous"));
    EXPECT_TRUE(m_window->statusText().isEmpty());
    EXPECT_EQ(detail.shows, 0);
    EXPECT_TRUE(m_prompter.messages.isEmpty());

    // Entries but none selected.
    addDoctor(QStringLiteral("d"), QStringLiteral("1"), QStringLiteral("A"), QStringLiteral("B"));
    m_state.CurrentDataSet = QStringLiteral("d");
    m_window->RefreshDoctorList();
    m_ids->clearSelection();
    m_window->idsDblClick();
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("previous"));
    EXPECT_EQ(detail.shows, 0);

    // Without a detail window the doctor still becomes current.
    m_window->setDetailWindow(nullptr);
    doubleClickRow(0);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("1"));
}

TEST_F(MainWindowTest, SendMenuOnlyInProFormaMode)
{
    makeWindow();
    auto* send = m_window->findChild<QMenu*>(QStringLiteral("Send1"));
    ASSERT_NE(send, nullptr);
    EXPECT_FALSE(send->menuAction()->isVisible());

    m_settings.ProForma = true;
    makeWindow();
    send = m_window->findChild<QMenu*>(QStringLiteral("Send1"));
    ASSERT_NE(send, nullptr);
    EXPECT_TRUE(send->menuAction()->isVisible());
    EXPECT_EQ(send->title(), QStringLiteral("&Send"));
}

TEST_F(MainWindowTest, MenuEntriesCarryTheirTextsAndRequestTheirJobs)
{
    m_settings.ProForma = true;
    addDoctor(QStringLiteral("d"), QStringLiteral("1"), QStringLiteral("A"), QStringLiteral("B"));
    m_state.CurrentDataSet = QStringLiteral("d");
    makeWindow();
    m_window->RefreshDoctorList();
    EXPECT_EQ(m_window->menuBar()->objectName(), QStringLiteral("MainMenu1"));
    EXPECT_EQ(m_window->statusBar()->objectName(), QStringLiteral("StatusBar1"));

    // The keyboard map: each entry's letter and key, in both windows.
    DetailWindow detail(m_settings, m_state, m_db, m_prompter);
    const struct
    {
        QWidget* window;
        const char* name;
        const char* text;
        QKeySequence key;
    } entries[] = {
        {m_window.get(), "Open1", "&Load New File", Qt::CTRL | Qt::Key_L},
        {m_window.get(), "OpenExisting1", "&Open Existing File", Qt::CTRL | Qt::Key_O},
        {m_window.get(), "Exit1", "E&xit", Qt::CTRL | Qt::Key_Q},
        {m_window.get(), "PrintAll1", "Print &All Invoices", {}},
        {m_window.get(), "Summary1", "Summary Pre&view", {}},
        {m_window.get(), "SummaryPrint1", "&Summary Print", Qt::CTRL | Qt::Key_P},
        {m_window.get(), "PrinterSetup1", "Printer Set&up", {}},
        {m_window.get(), "SendAll1", "Send Pro-Forma's to &Everyone", {}},
        {m_window.get(), "SendNotYetSent1", "Send to Doctors &Not Yet Sent…", {}},
        {m_window.get(), "SendAmended1", "Send &Amended Invoices…", {}},
        {m_window.get(), "SendLog1", "Send &Log", {}},
        {m_window.get(), "OnLineHelpSystem1", "&On Line Help System", Qt::Key_F1},
        {m_window.get(), "About1", "&About", {}},
        {m_window.get(), "System1", "&System", {}},
        {m_window.get(), "FindDoctor1", "Find a Doctor", Qt::CTRL | Qt::Key_F},
        {&detail, "PrintThisPage1", "&Print This Page", Qt::CTRL | Qt::Key_P},
        {&detail, "PrintPreview1", "Print Pre&view", {}},
        {&detail, "PreviewSoloForm1", "Preview &Solo Form", {}},
        {&detail, "CreateSoloPDF1", "&Create Solo PDF", {}},
        {&detail, "PrinterSetup1", "Printer Set&up", {}},
        {&detail, "Send1", "&Send", {}},
        {&detail, "Close1", "&Close", {}},
    };
    for (const auto& e : entries) {
        auto* a = e.window->findChild<QAction*>(QString::fromUtf8(e.name));
        ASSERT_NE(a, nullptr) << e.name;
        EXPECT_EQ(a->text(), QString::fromUtf8(e.text)) << e.name;
        EXPECT_EQ(a->shortcut(), e.key) << e.name;
    }
    for (QMenu* menu : m_window->menuBar()->findChildren<QMenu*>())
        EXPECT_TRUE(menu->title().contains(u'&')) << menu->title().toStdString();

    QSignalSpy summary(m_window.get(), &MainWindow::summaryRequested);
    QSignalSpy printAll(m_window.get(), &MainWindow::printAllRequested);
    QSignalSpy setup(m_window.get(), &MainWindow::printerSetupRequested);
    QSignalSpy sendAll(m_window.get(), &MainWindow::sendAllRequested);
    QSignalSpy notYetSent(m_window.get(), &MainWindow::sendNotYetSentRequested);
    QSignalSpy amended(m_window.get(), &MainWindow::sendChangedRequested);
    QSignalSpy sendLog(m_window.get(), &MainWindow::sendLogRequested);
    action("Summary1")->trigger();
    action("SummaryPrint1")->trigger();
    action("PrintAll1")->trigger();
    action("PrinterSetup1")->trigger();
    action("SendAll1")->trigger();
    action("SendNotYetSent1")->trigger();
    action("SendAmended1")->trigger();
    action("SendLog1")->trigger();
    ASSERT_EQ(summary.size(), 2);
    EXPECT_FALSE(summary[0][0].toBool());
    EXPECT_TRUE(summary[1][0].toBool());
    EXPECT_EQ(printAll.size(), 1);
    EXPECT_EQ(setup.size(), 1);
    EXPECT_EQ(sendAll.size(), 1);
    EXPECT_EQ(notYetSent.size(), 1);
    EXPECT_EQ(amended.size(), 1);
    EXPECT_EQ(sendLog.size(), 1);
    EXPECT_TRUE(m_prompter.messages.isEmpty());

    m_window->show();
    QSignalSpy closed(m_window.get(), &MainWindow::closed);
    action("Exit1")->trigger();
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(closed.size(), 1);
}

TEST_F(MainWindowTest, SummaryWithAnEmptyListAsksForAFileFirst)
{
    makeWindow();
    QSignalSpy summary(m_window.get(), &MainWindow::summaryRequested);
    action("Summary1")->trigger();
    action("SummaryPrint1")->trigger();
    EXPECT_EQ(summary.size(), 0);
    EXPECT_EQ(m_prompter.messages, (QStringList{QStringLiteral("info: Please open a file before printing"),
                                                QStringLiteral("info: Please open a file before printing")}));
}

TEST_F(MainWindowTest, StatusLineIsWrittenByOthersAndSurvivesMenuBrowsing)
{
    makeWindow();
    m_window->show();
    m_window->showStatus(QStringLiteral("250 OK"));
    EXPECT_EQ(m_window->statusText(), QStringLiteral("250 OK"));
    // Hovering a menu entry sends an empty status tip.
    QStatusTipEvent tip{QString()};
    QCoreApplication::sendEvent(m_window.get(), &tip);
    EXPECT_EQ(m_window->statusText(), QStringLiteral("250 OK"));
    auto* label = m_window->findChild<QLabel*>(QStringLiteral("StatusText"));
    EXPECT_TRUE(label->isVisible());
    // Too long for the narrow window: cut with "…", whole in its tip.
    m_window->showStatus(QStringLiteral("Imported 02_2005: 12 doctors, 59 shift records").repeated(3));
    EXPECT_TRUE(label->text().endsWith(u'\u2026')) << label->text().toStdString();
    EXPECT_EQ(label->toolTip(), m_window->statusText());
}

class OpenDataSetTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        // In the order imported; the first before import times were kept.
        exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES('b_2005', 'First B')"));
        exec(QStringLiteral("INSERT INTO FileNames VALUES('A_2005', 'The A run', '2025-06-05T13:03:09Z')"));
        exec(QStringLiteral("INSERT INTO FileNames VALUES('c_2005', 'C''s run', '2025-06-06T08:00:00Z')"));
        exec(QStringLiteral("INSERT INTO FileNames VALUES('b_2005', 'Second B', '2025-06-07T08:00:00Z')"));
        addDoctor(QStringLiteral("c_2005"), QStringLiteral("31"), QStringLiteral("Cora"), QStringLiteral("Cole"));
        addDoctor(QStringLiteral("b_2005"), QStringLiteral("21"), QStringLiteral("Ben"), QStringLiteral("Bell"));
        // Doctors of a data set missing from FileNames cannot be chosen.
        addDoctor(QStringLiteral("lost"), QStringLiteral("1"), QStringLiteral("L"), QStringLiteral("Lost"));
        makeWindow();
        m_picker = new DataSetPicker(m_window.get());
        m_window->setDataSetPicker(m_picker);
        m_state.CurrentDataSet = QStringLiteral("previous");
        m_state.CurrentDataSetLabel = QStringLiteral("previous label");
    }

    // Opens the picker from the menu and lets the action operate it.
    void openWith(const std::function<void(QWidget*, QTreeWidget*)>& action)
    {
        onNextModal([this, action](QWidget* w) {
            EXPECT_EQ(w, m_picker);
            auto* lb = w->findChild<QTreeWidget*>(QStringLiteral("lb"));
            m_listed.clear();
            for (int i = 0; i < lb->topLevelItemCount(); ++i) {
                QStringList columns;
                for (int c = 0; c < lb->columnCount(); ++c)
                    columns.append(lb->topLevelItem(i)->text(c));
                m_listed.append(columns.join(u'|'));
            }
            m_selected = lb->currentIndex().row();
            action(w, lb);
        });
        this->action("OpenExisting1")->trigger();
    }

    void selectRow(QTreeWidget* lb, int row) { lb->setCurrentItem(lb->topLevelItem(row)); }

    DataSetPicker* m_picker = nullptr;
    QStringList m_listed;
    int m_selected = -1;
};

TEST_F(OpenDataSetTest, ListsEveryFileNamesRowNewestImportFirstWithLabelDoctorsAndTime)
{
    openWith([](QWidget* w, QTreeWidget*) { clickChild(w, "CancelBtn"); });
    const auto local = [](const char* utc) {
        return QDateTime::fromString(QString::fromUtf8(utc), Qt::ISODate).toLocalTime().toString(u"dd/MM/yyyy hh:mm");
    };
    EXPECT_EQ(m_listed, (QStringList{QStringLiteral("b_2005|Second B|1|") + local("2025-06-07T08:00:00Z"),
                                     QStringLiteral("c_2005|C's run|1|") + local("2025-06-06T08:00:00Z"),
                                     QStringLiteral("A_2005|The A run|0|") + local("2025-06-05T13:03:09Z"),
                                     QStringLiteral("b_2005|First B|1|")}));
    // Cancel changes nothing.
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("previous"));
    EXPECT_EQ(m_state.CurrentDataSetLabel, QStringLiteral("previous label"));
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(OpenDataSetTest, EnterTakesTheEntryThatLooksSelectedAndOkWithoutOneSaysSo)
{
    openWith([](QWidget*, QTreeWidget* lb) { QTest::keyClick(lb, Qt::Key_Return); });
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("b_2005"));
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Velmar Payment System - First B (b_2005)"));

    openWith([](QWidget* w, QTreeWidget* lb) {
        lb->clearSelection();
        clickChild(w, "OKBtn");
    });
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("info: No file has been selected!")});
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("b_2005"));
}

TEST_F(OpenDataSetTest, ChosenDataSetBecomesCurrentWithItsLabelAndDoctors)
{
    QSignalSpy changed(m_window.get(), &MainWindow::dataSetChanged);
    m_window->showStatus(QStringLiteral("Imported b_2005: 1 doctors, 0 shift records"));
    openWith([this](QWidget* w, QTreeWidget* lb) {
        selectRow(lb, 1);
        clickChild(w, "OKBtn");
    });
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("c_2005"));
    EXPECT_EQ(m_state.CurrentDataSetLabel, QStringLiteral("C's run"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Cole,C (31)")});
    // The status line speaks of the data set now open.
    EXPECT_EQ(m_window->statusText(), QStringLiteral("Opened c_2005: 1 doctors, 0 shift records"));

    // A double-click chooses too; a data set with two FileNames rows takes the first label.
    openWith([](QWidget*, QTreeWidget* lb) { doubleClickItem(lb, lb->topLevelItem(3)); });
    EXPECT_EQ(m_selected, 1); // the open one
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("b_2005"));
    EXPECT_EQ(m_state.CurrentDataSetLabel, QStringLiteral("First B"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Bell,B (21)")});

    // The open data set is the one selected: OK alone keeps it.
    openWith([](QWidget* w, QTreeWidget*) { clickChild(w, "OKBtn"); });
    EXPECT_EQ(m_selected, 0);
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("b_2005"));
    EXPECT_EQ(changed.size(), 3);

    // The next start opens it again, while it is stored.
    for (const bool stored : {true, false}) {
        if (!stored)
            exec(QStringLiteral("DELETE FROM FileNames"));
        m_state = AppState();
        makeWindow();
        m_window->show();
        QTest::qWait(20);
        EXPECT_EQ(entries(), stored ? QStringList{QStringLiteral("Bell,B (21)")} : QStringList());
    }
}

class LoadFileTest : public MainWindowTest
{
protected:
    QString march() const { return m_dir.filePath(QStringLiteral("march.PAY")); }
    void SetUp() override
    {
        MainWindowTest::SetUp();
        writeFile(QStringLiteral("march.PAY"),
                  payFile("March run", "03_2005",
                          "H,2001,Dr,Ann,Zeta,\"1 Road\",,Town,County,PC1,5,a@example.org,NI1,1,PCT,N,N\n"
                          "H,2002,Dr,Bob,Young,\"2 Road\",,Town,County,PC2,5,b@example.org,NI2,2,PCT,N,N\n"
                          "D,2001,05/03/2005,Base,Day,08:00-18:00,45.00,450.00,0,0.00,,,450.00,0.00\n"));
        writeFile(QStringLiteral("april.pay"),
                  payFile("April run", "04_2005",
                          "H,3001,Dr,Cat,Able,\"3 Road\",,Town,County,PC3,5,c@example.org,NI3,3,PCT,N,N\n"));
        makeWindow();
    }
};

TEST_F(LoadFileTest, LoadNewFileImportsTheChosenFileAndListsItsDoctors)
{
    FileDialogs::setNextFileName(march());
    action("Open1")->trigger();
    ASSERT_EQ(FileDialogs::requests().size(), 1);
    const FileDialogRequest request = FileDialogs::requests().constFirst();
    EXPECT_EQ(request.defaultSuffix, QStringLiteral("pay"));
    ASSERT_EQ(request.nameFilters.size(), 2);
    EXPECT_TRUE(request.nameFilters[0].startsWith(QStringLiteral("Payment Files (*.pay)")));
    EXPECT_TRUE(request.nameFilters[0].contains(QStringLiteral("*.PAY")));
    EXPECT_TRUE(request.nameFilters[1].startsWith(QStringLiteral("All Files (*.*)")));

    EXPECT_TRUE(m_prompter.messages.filter(QStringLiteral("error:")).isEmpty())
        << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("03_2005"));
    EXPECT_EQ(m_state.CurrentDataSetLabel, QStringLiteral("March run"));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Young,B (2002)"), QStringLiteral("Zeta,A (2001)")}));
    // February and March no longer look the same.
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Velmar Payment System - March run (03_2005)"));
    EXPECT_EQ(m_window->statusText(), QStringLiteral("Imported 03_2005: 2 doctors, 1 shift records"));
}

TEST_F(LoadFileTest, LongImportShowsABusyCursorAndTheShareOfTheFileRead)
{
    // Shown from the start here; in use after about a second.
    m_window->setImportProgressDelay(0);
    auto* progress = m_window->findChild<QProgressDialog*>(QStringLiteral("ImportProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
    struct Watch : QObject
    {
        QList<int> values;
        bool busy = true;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint) {
                values.append(static_cast<QProgressDialog*>(watched)->value());
                const QCursor* cursor = QGuiApplication::overrideCursor();
                busy = busy && cursor && cursor->shape() == Qt::WaitCursor;
            }
            return false;
        }
    } watch;
    progress->installEventFilter(&watch);
    m_window->show();
    FileDialogs::setNextFileName(march());
    action("Open1")->trigger();
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("03_2005"));
    ASSERT_FALSE(watch.values.isEmpty());
    EXPECT_EQ(watch.values.last(), 100);
    EXPECT_EQ(progress->labelText(), QStringLiteral("Importing march.PAY"));
    EXPECT_TRUE(watch.busy);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(LoadFileTest, CancelledDialogImportsNothing)
{
    m_state.CurrentDataSet = QStringLiteral("previous");
    FileDialogs::setNextFileName(QString());
    action("Open1")->trigger();
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("previous"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 0);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(LoadFileTest, RefusedOverwriteKeepsTheListOfTheEarlierDataSet)
{
    FileDialogs::setNextFileName(m_dir.filePath(QStringLiteral("april.pay")));
    action("Open1")->trigger();
    ASSERT_EQ(entries(), QStringList{QStringLiteral("Able,C (3001)")});
    FileDialogs::setNextFileName(march());
    action("Open1")->trigger();
    FileDialogs::setNextFileName(m_dir.filePath(QStringLiteral("april.pay")));
    m_prompter.answers = {false};
    QSignalSpy changed(m_window.get(), &MainWindow::dataSetChanged);
    // The import asks whether to overwrite; No leaves the list, the data set and its label as they were.
    action("Open1")->trigger();
    EXPECT_TRUE(m_prompter.messages.contains(QStringLiteral("question: 04_2005 already exist - Overwrite?")));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Young,B (2002)"), QStringLiteral("Zeta,A (2001)")}));
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("03_2005"));
    EXPECT_EQ(m_state.CurrentDataSetLabel, QStringLiteral("March run"));
    EXPECT_EQ(changed.size(), 0);
    // Yes replaces it: the detail window must let go of what it showed.
    FileDialogs::setNextFileName(march());
    m_prompter.answers = {true};
    action("Open1")->trigger();
    EXPECT_EQ(changed.size(), 1);

    // File > History…: the data set's entries newest first; Restore This Version… asks, and No
    // changes nothing while Yes brings the replaced copy back as an entry of its own.
    const auto restoreNewest = [&](bool answer) {
        m_prompter.answers = {answer};
        onNextModal([&](QWidget* dialog) {
            auto* history = qobject_cast<HistoryWindow*>(dialog);
            ASSERT_NE(history, nullptr);
            const QStringList shown = history->shownRows();
            ASSERT_GE(shown.size(), 2);
            EXPECT_EQ(shown.at(0).section(u'\t', 3, 3), u"overwrite"_s);
            EXPECT_EQ(shown.last().section(u'\t', 3, 3), u"import"_s);
            history->findChild<QPushButton*>(u"btnRestore"_s)->click();
            history->reject();
        });
        action("History1")->trigger();
    };
    restoreNewest(false);
    EXPECT_EQ(scalar(u"SELECT count(*) FROM History WHERE DataSet = '03_2005'"_s).toInt(), 2);
    EXPECT_TRUE(m_prompter.messages.last().startsWith(u"question: Bring back 03_2005 as it was before entry"_s));
    restoreNewest(true);
    EXPECT_EQ(rows(u"SELECT action FROM History WHERE DataSet = '03_2005' ORDER BY entry"_s),
              (QStringList{u"import"_s, u"overwrite"_s, u"restore"_s}));
    EXPECT_EQ(entries(), (QStringList{u"Young,B (2002)"_s, u"Zeta,A (2001)"_s}));
}

TEST_F(LoadFileTest, FirstCommandLineArgumentIsImportedOnFirstShow)
{
    m_window->setCommandLineArguments({march(), m_dir.filePath(QStringLiteral("april.pay"))});
    // Nothing happens before the window is shown.
    QTest::qWait(20);
    EXPECT_TRUE(entries().isEmpty());
    m_window->show();
    ASSERT_TRUE(waitUntil([this] { return m_ids->count() == 2; }));
    EXPECT_EQ(m_state.CurrentDataSet, QStringLiteral("03_2005"));
    EXPECT_EQ(rows(QStringLiteral("SELECT DataSet FROM FileNames")), QStringList{QStringLiteral("03_2005")});

    // Showing the window again does not import again.
    m_window->hide();
    m_window->show();
    QTest::qWait(20);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 1);
    EXPECT_TRUE(m_prompter.messages.filter(QStringLiteral("question:")).isEmpty());
}

TEST_F(MainWindowTest, SearchFieldFiltersAsTheClerkTypesAndEnterOpensWhatIsShown)
{
    const QString d = QStringLiteral("d");
    addDoctor(d, QStringLiteral("1234"), QStringLiteral("John"), QStringLiteral("Smith"));
    addDoctor(d, QStringLiteral("55"), QStringLiteral(" "), QStringLiteral("Adams"));
    addDoctor(d, QStringLiteral("7"), QStringLiteral("Bridget"), QStringLiteral("O'Connor"));
    addDoctor(d, QStringLiteral("42"), QStringLiteral("Se\u00e1n"), QStringLiteral("\u00d3 S\u00failleabh\u00e1in"));
    makeWindow();
    ShowCounter detail;
    m_window->setDetailWindow(&detail);
    m_state.CurrentDataSet = d;
    m_window->RefreshDoctorList();
    auto* search = m_window->findChild<QLineEdit*>(QStringLiteral("idsSearch"));
    ASSERT_NE(search, nullptr);
    const auto shown = [this] {
        QStringList ids;
        for (int i = 0; i < m_ids->count(); ++i)
            if (!m_ids->item(i)->isHidden())
                ids.append(DoctorIdFromEntry(m_ids->item(i)->text()));
        return ids;
    };

    // The first entry is selected as the list fills: Enter opens it.
    QTest::keyClick(m_ids, Qt::Key_Return);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("55"));

    // Surname, first name or id; case and accents aside.
    const struct
    {
        const char* typed;
        QStringList ids;
    } cases[] = {
        {"SUIL", {QStringLiteral("42")}},
        {"sean", {QStringLiteral("42")}},
        {"123", {QStringLiteral("1234")}},
        {"o'c", {QStringLiteral("7")}},
        {"zz", {}},
        {"", {QStringLiteral("55"), QStringLiteral("42"), QStringLiteral("7"), QStringLiteral("1234")}},
    };
    for (const auto& c : cases) {
        search->clear();
        QTest::keyClicks(search, QString::fromUtf8(c.typed));
        EXPECT_EQ(shown(), c.ids) << c.typed;
    }

    // Alt and a letter is for the menus, never the search; Ctrl+F comes back to it.
    search->clear();
    QTest::keyClick(search, Qt::Key_Z, Qt::AltModifier);
    EXPECT_EQ(search->text(), QString());
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    m_ids->setFocus();
    QTest::keyClick(m_ids, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());
    m_ids->setFocus();

    // Typing in the list goes to the search; Enter opens the first doctor shown.
    QTest::keyClicks(m_ids, QStringLiteral("smi"));
    EXPECT_EQ(search->text(), QStringLiteral("smi"));
    QTest::keyClick(search, Qt::Key_Return);
    EXPECT_EQ(m_state.CurrentDoctorId, QStringLiteral("1234"));
    EXPECT_EQ(detail.shows, 2);
    // Nothing shown, nothing opened.
    QTest::keyClicks(search, QStringLiteral("xyz"));
    QTest::keyClick(search, Qt::Key_Return);
    EXPECT_EQ(detail.shows, 2);
    // Another list starts unfiltered.
    m_window->RefreshDoctorList();
    EXPECT_EQ(search->text(), QString());
    EXPECT_EQ(shown().size(), 4);
}

TEST_F(MainWindowTest, HelpEntriesOpenTheHelpPageAndTheAboutBoxes)
{
    makeWindow();
    {
        UrlCatcher catcher;
        action("OnLineHelpSystem1")->trigger();
        ASSERT_EQ(catcher.urls.size(), 1);
        const QUrl help = catcher.urls.constFirst();
        EXPECT_EQ(help.path(), QStringLiteral("/page.php"));
        EXPECT_EQ(QUrlQuery(help).queryItemValue(QStringLiteral("pageid")), QStringLiteral("VelmarPay1"));
        EXPECT_FALSE(help.host().isEmpty());
        EXPECT_TRUE(m_prompter.messages.isEmpty());
    }
    // Nothing to open it with (no browser here): the clerk learns where it is.
    action("OnLineHelpSystem1")->trigger();
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("error: Could not open ") + MainWindow::helpUrl().toString()});

    AboutBox about(m_window.get(), QStringLiteral(VELMAR_BIN_DIR "/velmarpay"));
    m_window->setAboutBox(&about);
    QString productName;
    onNextModal([&](QWidget* w) {
        EXPECT_EQ(w, &about);
        productName = w->findChild<QLabel*>(QStringLiteral("ProductName"))->text();
        QTest::keyClick(w, Qt::Key_Return); // OK is the default button
    });
    action("About1")->trigger();
    EXPECT_EQ(productName, QStringLiteral("Velmar Payments System"));

    QString title;
    QString text;
    QString files;
    m_window->setFilesInUse(QStringLiteral("Settings: /etc/velmarpay/velmarpay.ini\nDatabase: /srv/pay.mdb"));
    onNextModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        files = box->informativeText();
        box->accept();
    });
    action("System1")->trigger();
    EXPECT_EQ(title, QStringLiteral("Velmar Payment System"));
    EXPECT_EQ(text.count(u'\n'), 1) << text.toStdString();
    EXPECT_EQ(files, QStringLiteral("Settings: /etc/velmarpay/velmarpay.ini\nDatabase: /srv/pay.mdb"));
}
