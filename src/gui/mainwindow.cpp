#include "gui/mainwindow.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "gui/aboutbox.h"
#include "gui/datasetpicker.h"
#include "gui/filedialogs.h"
#include "gui/programicon.h"
#include "import/payimport.h"
#include "payments/datasets.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QUrlQuery>

namespace velmar {

namespace {

// The wait cursor while the database may keep us waiting; message boxes show the arrow.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

MainWindow::MainWindow(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
                       QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_state(state), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(applicationTitle());
    setWindowIcon(programIcon());

    m_ids = new QListWidget(this);
    m_ids->setObjectName(QStringLiteral("ids"));
    m_ids->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ids->installEventFilter(this);
    connect(m_ids, &QListWidget::itemDoubleClicked, this, &MainWindow::idsDblClick);
    setCentralWidget(m_ids);

    // A plain label rather than a status message: hovering a menu entry would clear a message.
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(true);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusText"));
    m_status->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(m_status, 1);

    buildMenus();
    m_sendMenu->menuAction()->setVisible(m_settings.ProForma);

    move(260, 180);
    resize(257, 379);
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    const auto addMenu = [bar](const char* name, const QString& title) {
        QMenu* menu = bar->addMenu(title);
        menu->setObjectName(QString::fromUtf8(name));
        return menu;
    };
    const auto addEntry = [this](QMenu* menu, const char* name, const QString& text, void (MainWindow::*slot)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromUtf8(name));
        connect(action, &QAction::triggered, this, slot);
    };

    QMenu* file = addMenu("File1", QStringLiteral("&File"));
    addEntry(file, "Open1", QStringLiteral("&Load New File"), &MainWindow::Open1Click);
    addEntry(file, "OpenExisting1", QStringLiteral("&Open Existing File"), &MainWindow::OpenExisting1Click);
    addEntry(file, "Exit1", QStringLiteral("E&xit"), &MainWindow::Exit1Click);

    QMenu* print = addMenu("Print1", QStringLiteral("&Print"));
    addEntry(print, "PrintAll1", QStringLiteral("Print All Invoices"), &MainWindow::PrintAll1Click);
    print->addSeparator();
    addEntry(print, "Summary1", QStringLiteral("Summary Preview"), &MainWindow::Summary1Click);
    addEntry(print, "SummaryPrint1", QStringLiteral("Summary Print"), &MainWindow::SummaryPrint1Click);
    print->addSeparator();
    addEntry(print, "PrinterSetup1", QStringLiteral("Printer Setup"), &MainWindow::PrinterSetup1Click);

    m_sendMenu = addMenu("Send1", QStringLiteral("Send"));
    addEntry(m_sendMenu, "SendAll1", QStringLiteral("Send Pro-Forma's to Everyone"), &MainWindow::SendAll1Click);
    addEntry(m_sendMenu, "SendNotYetSent1", QStringLiteral("Send to Doctors Not Yet Sent…"),
             &MainWindow::SendNotYetSent1Click);
    m_sendMenu->addSeparator();
    addEntry(m_sendMenu, "SendLog1", QStringLiteral("Send Log"), &MainWindow::SendLog1Click);

    QMenu* help = addMenu("Help1", QStringLiteral("Help"));
    addEntry(help, "OnLineHelpSystem1", QStringLiteral("On Line Help System"), &MainWindow::OnLineHelpSystem1Click);
    addEntry(help, "About1", QStringLiteral("&About"), &MainWindow::About1Click);
    addEntry(help, "System1", QStringLiteral("System"), &MainWindow::System1Click);
}

void MainWindow::setDetailWindow(QWidget* detail)
{
    m_detail = detail;
}

void MainWindow::setDataSetPicker(DataSetPicker* picker)
{
    m_picker = picker;
}

void MainWindow::setAboutBox(AboutBox* about)
{
    m_about = about;
}

void MainWindow::setCommandLineArguments(const QStringList& arguments)
{
    m_arguments = arguments;
}

void MainWindow::setFilesInUse(const QString& text)
{
    m_filesInUse = text;
}

void MainWindow::setCloseGuard(std::function<bool()> mayClose)
{
    m_closeGuard = std::move(mayClose);
}

void MainWindow::showStatus(const QString& text)
{
    m_status->setText(text);
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

QUrl MainWindow::helpUrl()
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("www.velmarsoftware.example"));
    url.setPath(QStringLiteral("/page.php"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("pageid"), QStringLiteral("VelmarPay1"));
    url.setQuery(query);
    return url;
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shownBefore)
        return;
    m_shownBefore = true;
    // After the window has appeared, so the import's messages have it behind them.
    if (!m_arguments.isEmpty())
        QTimer::singleShot(0, this, [this] { ImportFile(m_arguments.constFirst()); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closeGuard && !m_closeGuard()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ids && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            idsDblClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::RefreshDoctorList()
{
    m_ids->clear();
    m_ids->addItems(DoctorListEntries(m_db, m_state.CurrentDataSet, m_prompter));
}

void MainWindow::ImportFile(const QString& path)
{
    bool imported = false;
    {
        // The import may wait on another program that holds the database.
        const BusyCursor busy;
        imported = ImportPaymentFile(path, m_settings, m_state, m_db, m_prompter);
    }
    if (!imported)
        return;
    RefreshDoctorList();
    emit dataSetChanged();
}

void MainWindow::OpenDataSet()
{
    if (!m_picker)
        return;
    m_picker->setEntries(StoredDataSets(m_db, m_prompter));
    if (m_picker->exec() != QDialog::Accepted)
        return;
    QString dataSet;
    if (!m_picker->selectedEntry(&dataSet)) {
        m_prompter.information(QStringLiteral("No file has been selected!"));
        return;
    }
    m_state.CurrentDataSet = dataSet;
    m_state.CurrentDataSetLabel = DataSetLabel(m_db, dataSet, m_prompter);
    RefreshDoctorList();
    emit dataSetChanged();
}

void MainWindow::Open1Click()
{
    FileDialogRequest request;
    request.caption = QStringLiteral("Open");
    // File names may come in either case; the filter shows the one pattern but matches both.
    request.nameFilters =
        QStringList{QStringLiteral("Payment Files (*.pay) (*.pay *.PAY)"), QStringLiteral("All Files (*.*) (*)")};
    request.defaultSuffix = QStringLiteral("pay");
    const QString path = FileDialogs::getOpenFileName(this, request);
    if (!path.isEmpty())
        ImportFile(path);
}

void MainWindow::OpenExisting1Click()
{
    OpenDataSet();
}

void MainWindow::Exit1Click()
{
    close();
}

void MainWindow::idsDblClick()
{
    const QList<QListWidgetItem*> selected = m_ids->selectedItems();
    if (selected.isEmpty())
        return;
    const QString entry = selected.constFirst()->text();
    if (!entry.contains(u'('))
        return;
    const QString id = DoctorIdFromEntry(entry);
    showStatus(id);
    m_state.CurrentDoctorId = id;
    if (m_detail) {
        // Showing it again makes it load the doctor now current.
        m_detail->hide();
        m_detail->show();
        m_detail->raise();
        m_detail->activateWindow();
    }
}

void MainWindow::PrintAll1Click()
{
    emit printAllRequested();
}

void MainWindow::requestSummary(bool print)
{
    if (m_ids->count() == 0) {
        m_prompter.information(QStringLiteral("Please open a file before printing"));
        return;
    }
    emit summaryRequested(print);
}

void MainWindow::Summary1Click()
{
    requestSummary(false);
}

void MainWindow::SummaryPrint1Click()
{
    requestSummary(true);
}

void MainWindow::PrinterSetup1Click()
{
    emit printerSetupRequested();
}

void MainWindow::SendAll1Click()
{
    emit sendAllRequested();
}

void MainWindow::SendNotYetSent1Click()
{
    emit sendNotYetSentRequested();
}

void MainWindow::SendLog1Click()
{
    emit sendLogRequested();
}

void MainWindow::OnLineHelpSystem1Click()
{
    QDesktopServices::openUrl(helpUrl());
}

void MainWindow::About1Click()
{
    if (m_about)
        m_about->exec();
}

void MainWindow::System1Click()
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(),
                    QStringLiteral("Velmar Software Ltd\nPayment software for out-of-hours medical services"),
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    // The paths are there to be copied into a support request.
    box.setInformativeText(m_filesInUse);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

} // namespace velmar
