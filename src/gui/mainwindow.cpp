#include "gui/mainwindow.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "gui/aboutbox.h"
#include "gui/datasetpicker.h"
#include "gui/filedialogs.h"
#include "gui/historywindow.h"
#include "gui/programicon.h"
#include "gui/windowplaces.h"
#include "import/payimport.h"
#include "payments/datasets.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace velmar {

// One line that always fits: a text too long for the window ends in "…", and shows whole as its tip.
class ElidedLabel : public QLabel
{
public:
    explicit ElidedLabel(QWidget* parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(1);
    }
    void setWholeText(const QString& text)
    {
        m_whole = text;
        setToolTip(text);
        elide();
    }
    const QString& wholeText() const { return m_whole; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_whole, Qt::ElideRight, qMax(1, contentsRect().width()))); }

    QString m_whole;
};

namespace {

const QString kLastDataSet = QStringLiteral("MainWindow/lastDataSet");
const QString kLastDatabase = QStringLiteral("MainWindow/lastDatabase");

// Which database the last data set was in: another database may hold one of the same name.
QString databaseIdentity(const QSqlDatabase& db)
{
    return db.driverName() + u'|' + db.hostName() + u'|' + db.databaseName();
}

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

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_search = new QLineEdit(central);
    m_search->setObjectName(QStringLiteral("idsSearch"));
    m_search->setPlaceholderText(QStringLiteral("Find: surname, first name or id"));
    m_search->setClearButtonEnabled(true);
    m_search->installEventFilter(this);
    auto* find = new QAction(QStringLiteral("Find a Doctor"), this);
    find->setObjectName(QStringLiteral("FindDoctor1"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    addAction(find);
    connect(find, &QAction::triggered, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    connect(m_search, &QLineEdit::textChanged, this, &MainWindow::filterDoctors);
    m_ids = new QListWidget(central);
    m_ids->setObjectName(QStringLiteral("ids"));
    m_ids->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ids->installEventFilter(this);
    connect(m_ids, &QListWidget::itemDoubleClicked, this, &MainWindow::idsDblClick);
    layout->addWidget(m_search);
    layout->addWidget(m_ids, 1);
    setCentralWidget(central);

    // A plain label rather than a status message: hovering a menu entry would clear a message.
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(true);
    m_status = new ElidedLabel(this);
    m_status->setObjectName(QStringLiteral("StatusText"));
    statusBar()->addWidget(m_status, 1);

    buildMenus();
    m_sendMenu->menuAction()->setVisible(m_settings.ProForma);

    // Shown when an import runs longer than about a second: the share of the file read.
    m_importProgress = new QProgressDialog(this);
    m_importProgress->setObjectName(QStringLiteral("ImportProgress"));
    m_importProgress->setWindowTitle(QStringLiteral("Progress"));
    m_importProgress->setCancelButton(nullptr);
    m_importProgress->setWindowModality(Qt::WindowModal);
    m_importProgress->setAutoClose(false);
    m_importProgress->setAutoReset(false);
    m_importProgress->setMinimumDuration(0);
    m_importProgress->reset(); // it shows when the import says so, not by a timer of its own
    m_importProgress->hide();

    move(260, 180);
    resize(257, 379);
    RememberWindowPlace(this);
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
    const auto addEntry = [this](QMenu* menu, const char* name, const QString& text, void (MainWindow::*slot)(),
                                 const QKeySequence& key = QKeySequence()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromUtf8(name));
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
    };

    // Each menu and entry has its letter for Alt and the keyboard; the usual keys do the usual jobs.
    QMenu* file = addMenu("File1", QStringLiteral("&File"));
    addEntry(file, "Open1", QStringLiteral("&Load New File"), &MainWindow::Open1Click, Qt::CTRL | Qt::Key_L);
    addEntry(file, "OpenExisting1", QStringLiteral("&Open Existing File"), &MainWindow::OpenExisting1Click,
             Qt::CTRL | Qt::Key_O);
    addEntry(file, "History1", QStringLiteral("&History…"), &MainWindow::History1Click, Qt::CTRL | Qt::Key_H);
    file->addSeparator();
    addEntry(file, "Exit1", QStringLiteral("E&xit"), &MainWindow::Exit1Click, Qt::CTRL | Qt::Key_Q);

    QMenu* print = addMenu("Print1", QStringLiteral("&Print"));
    addEntry(print, "PrintAll1", QStringLiteral("Print &All Invoices"), &MainWindow::PrintAll1Click);
    print->addSeparator();
    addEntry(print, "Summary1", QStringLiteral("Summary Pre&view"), &MainWindow::Summary1Click);
    addEntry(print, "SummaryPrint1", QStringLiteral("&Summary Print"), &MainWindow::SummaryPrint1Click,
             Qt::CTRL | Qt::Key_P);
    print->addSeparator();
    addEntry(print, "PrinterSetup1", QStringLiteral("Printer Set&up"), &MainWindow::PrinterSetup1Click);

    m_sendMenu = addMenu("Send1", QStringLiteral("&Send"));
    addEntry(m_sendMenu, "SendAll1", QStringLiteral("Send Pro-Forma's to &Everyone"), &MainWindow::SendAll1Click);
    addEntry(m_sendMenu, "SendNotYetSent1", QStringLiteral("Send to Doctors &Not Yet Sent…"),
             &MainWindow::SendNotYetSent1Click);
    addEntry(m_sendMenu, "SendAmended1", QStringLiteral("Send &Amended Invoices…"), &MainWindow::SendAmended1Click);
    m_sendMenu->addSeparator();
    addEntry(m_sendMenu, "SendLog1", QStringLiteral("Send &Log"), &MainWindow::SendLog1Click);

    QMenu* help = addMenu("Help1", QStringLiteral("&Help"));
    addEntry(help, "OnLineHelpSystem1", QStringLiteral("&On Line Help System"), &MainWindow::OnLineHelpSystem1Click,
             Qt::Key_F1);
    addEntry(help, "About1", QStringLiteral("&About"), &MainWindow::About1Click);
    addEntry(help, "System1", QStringLiteral("&System"), &MainWindow::System1Click);
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

void MainWindow::addRunGuard(std::function<QString()> busy)
{
    m_runGuards.append(std::move(busy));
}

bool MainWindow::refusedDuringRun()
{
    for (const auto& busy : std::as_const(m_runGuards)) {
        if (const QString why = busy(); !why.isEmpty()) {
            m_prompter.information(why);
            return true;
        }
    }
    return false;
}

bool MainWindow::listsDoctors() const
{
    return m_ids->count() > 0;
}

void MainWindow::showStatus(const QString& text)
{
    m_status->setWholeText(text);
}

QString MainWindow::statusText() const
{
    return m_status->wholeText();
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
    else
        QTimer::singleShot(0, this, &MainWindow::reopenLastDataSet);
}

void MainWindow::reopenLastDataSet()
{
    // Where the clerk left off, when that data set is still there and nothing was opened meanwhile.
    const auto settings = UserWindowSettings();
    const QString dataSet = settings->value(kLastDataSet).toString();
    if (!m_state.CurrentDataSet.isEmpty() || dataSet.isEmpty() ||
        settings->value(kLastDatabase).toString() != databaseIdentity(m_db) || !IsDataSetListed(m_db, dataSet))
        return;
    // What the start has to say about the settings stays in view; the title names the data set.
    openDataSet(dataSet, !statusText().isEmpty());
}

void MainWindow::rememberDataSet()
{
    const auto settings = UserWindowSettings();
    settings->setValue(kLastDataSet, m_state.CurrentDataSet);
    settings->setValue(kLastDatabase, databaseIdentity(m_db));
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
    if ((watched != m_ids && watched != m_search) || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        idsDblClick();
        return true;
    }
    if (watched == m_search) {
        // The search field steers the list below it.
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            QCoreApplication::sendEvent(m_ids, event);
            return true;
        }
        if (key == Qt::Key_Escape && !m_search->text().isEmpty()) {
            m_search->clear();
            return true;
        }
        // Alt and a letter is for the menus, never text (AltGr, which is Ctrl+Alt on some systems, types).
        const bool alt = (keyEvent->modifiers() & Qt::AltModifier) && !(keyEvent->modifiers() & Qt::ControlModifier);
        return alt && !keyEvent->text().isEmpty() && keyEvent->text().at(0).isPrint();
    }
    // Typing in the list searches with the whole text, not the first letter only.
    const QString typed = keyEvent->text();
    const bool plain = !(keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && !typed.isEmpty() && typed.at(0).isPrint() && !typed.at(0).isSpace()) {
        m_search->setFocus();
        m_search->insert(typed);
        return true;
    }
    return false;
}

void MainWindow::RefreshDoctorList()
{
    m_doctors = DoctorList(m_db, m_state.CurrentDataSet, m_prompter);
    m_ids->clear();
    for (const DoctorListEntry& doctor : m_doctors)
        m_ids->addItem(doctor.text);
    // A new list is searched afresh; its first entry is the one Enter opens.
    const QSignalBlocker quiet(m_search);
    m_search->clear();
    m_ids->setCurrentRow(0);
}

void MainWindow::filterDoctors(const QString& search)
{
    QListWidgetItem* firstShown = nullptr;
    for (int i = 0; i < m_ids->count() && i < m_doctors.size(); ++i) {
        QListWidgetItem* item = m_ids->item(i);
        item->setHidden(!DoctorMatches(m_doctors.at(i), search));
        if (!firstShown && !item->isHidden())
            firstShown = item;
    }
    // Enter opens a doctor the clerk can see.
    QListWidgetItem* current = m_ids->currentItem();
    if (!current || current->isHidden() || !current->isSelected()) {
        if (firstShown)
            m_ids->setCurrentItem(firstShown);
        else
            m_ids->clearSelection();
    }
}

void MainWindow::updateTitle()
{
    setWindowTitle(m_state.CurrentDataSet.isEmpty()
                       ? applicationTitle()
                       : QStringLiteral("%1 - %2 (%3)")
                             .arg(applicationTitle(), m_state.CurrentDataSetLabel, m_state.CurrentDataSet));
}

bool MainWindow::databaseOpen()
{
    if (m_db.isOpen())
        return true;
    m_prompter.error(QStringLiteral("No database is open: %1").arg(m_databaseName));
    return false;
}

void MainWindow::ImportFile(const QString& path)
{
    if (refusedDuringRun() || !databaseOpen())
        return;
    // Without settings every "999" doctor gets the default rate for good.
    if (const QString noSettings = NoSettingsMessage(m_settings); !noSettings.isEmpty())
        m_prompter.information(noSettings);
    bool imported = false;
    ImportResult result;
    {
        // The import may wait on another program that holds the database, or read for a while.
        const BusyCursor busy;
        // The windows repaint where a closed file dialog stood, and while the file is read; the
        // user's clicks wait for the end.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QElapsedTimer clock;
        const auto progress = [&](qint64 read, qint64 size) {
            if (!clock.isValid())
                clock.start();
            if (m_importProgress->isHidden() && clock.elapsed() >= m_importProgressDelay) {
                m_importProgress->setLabelText(QStringLiteral("Importing %1").arg(QFileInfo(path).fileName()));
                m_importProgress->setMaximum(size > 0 ? 100 : 0);
                m_importProgress->show();
            }
            if (!m_importProgress->isHidden())
                m_importProgress->setValue(size > 0 ? int(read * 100 / size) : 0);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
        imported = ImportPaymentFile(path, m_settings, m_state, m_db, m_prompter, &result, progress);
        m_importProgress->hide();
    }
    if (!imported)
        return;
    RefreshDoctorList();
    updateTitle();
    showStatus(DataSetSummary(QStringLiteral("Imported"), result.dataSet, result.doctors, result.shifts) +
               DefaultRateNote(m_settings));
    rememberDataSet();
    emit dataSetChanged();
}

void MainWindow::OpenDataSet()
{
    if (refusedDuringRun() || !m_picker || !databaseOpen())
        return;
    m_picker->setEntries(DataSetEntries(m_db, m_prompter), m_state.CurrentDataSet);
    if (m_picker->exec() != QDialog::Accepted)
        return;
    QString dataSet;
    if (!m_picker->selectedEntry(&dataSet)) {
        m_prompter.information(QStringLiteral("No file has been selected!"));
        return;
    }
    openDataSet(dataSet);
}

void MainWindow::openDataSet(const QString& dataSet, bool keepStatus)
{
    m_state.CurrentDataSet = dataSet;
    m_state.CurrentDataSetLabel = DataSetLabel(m_db, dataSet, m_prompter);
    RefreshDoctorList();
    updateTitle();
    // The status line speaks of the data set now open, not of an earlier import.
    if (!keepStatus)
        showStatus(DataSetSummary(m_db, QStringLiteral("Opened"), dataSet));
    rememberDataSet();
    emit dataSetChanged();
}

void MainWindow::Open1Click()
{
    // Before the file is chosen, not after: the clerk learns it at once.
    if (refusedDuringRun() || !databaseOpen())
        return;
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
    if (!listsDoctors()) {
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

void MainWindow::SendAmended1Click()
{
    emit sendChangedRequested();
}

void MainWindow::History1Click()
{
    if (!m_history) {
        m_history = new HistoryWindow(m_db, m_prompter, this);
        connect(m_history, &HistoryWindow::dataSetRestored, this, [this](const QString& dataSet) {
            if (dataSet == m_state.CurrentDataSet)
                openDataSet(dataSet, true);
        });
    }
    // The open data set's history; with none open, all of it.
    m_history->showFor(history::Filter{m_state.CurrentDataSet, QString(), QDate()});
    m_history->exec();
}

void MainWindow::SendLog1Click()
{
    emit sendLogRequested();
}

void MainWindow::OnLineHelpSystem1Click()
{
    const QUrl url = helpUrl();
    if (!QDesktopServices::openUrl(url))
        m_prompter.error(QStringLiteral("Could not open %1").arg(url.toString()));
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
