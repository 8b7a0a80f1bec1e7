#include "gui/detailwindow.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/clock.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "gui/filedialogs.h"
#include "gui/historywindow.h"
#include "gui/recordeditor.h"
#include "gui/windowplaces.h"
#include "history/history.h"
#include "payments/recordrules.h"
#include "payments/shiftrowsmodel.h"
#include "report/reportoutput.h"
#include "sending/paymentsender.h"
#include "sending/sendlog.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmar {

namespace {

// Set once the clerk has resized the window: from then on it keeps his width.
const QString kSizedByUser = QStringLiteral("TDetail/sizedByUser");

QLabel* makeLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* makeValueLabel(const char* name, QWidget* parent)
{
    QLabel* label = makeLabel(name, QStringLiteral("Total:"), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMinimumWidth(111);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

} // namespace

DetailWindow::DetailWindow(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
                           QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_state(state), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("TDetail"));
    setWindowTitle(QStringLiteral("Payment Detail"));

    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* panel2 = new QFrame(central);
    panel2->setObjectName(QStringLiteral("Panel2"));
    panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel2->setFixedHeight(159);
    auto* header = new QGridLayout(panel2);
    QLabel* label1 = makeLabel("Label1", QStringLiteral("Name: "), panel2);
    m_name = makeLabel("name", QString(), panel2);
    QLabel* label2 = makeLabel("Label2", QStringLiteral("Address:"), panel2);
    m_add1 = makeLabel("add1", QString(), panel2);
    for (QLabel* l : {m_name, m_add1})
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(label1, 0, 0);
    header->addWidget(m_name, 0, 1);
    header->addWidget(label2, 1, 0, Qt::AlignTop);
    header->addWidget(m_add1, 1, 1, Qt::AlignTop);
    header->setColumnStretch(1, 1);
    header->setRowStretch(1, 1);
    outer->addWidget(panel2);

    m_model = new ShiftRowsModel(this);
    m_model->setObjectName(QStringLiteral("DataSource1"));
    m_grid = new QTableView(central);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setTabKeyNavigation(false);
    m_grid->setShowGrid(true);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->verticalHeader()->setFixedWidth(12); // the current-row indicator
    m_grid->horizontalHeader()->setSectionsClickable(true);
    connect(m_grid->horizontalHeader(), &QHeaderView::sectionClicked, this, &DetailWindow::sortByColumn);
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &DetailWindow::updateNavigator);
    outer->addWidget(m_grid, 1);

    auto* panel1 = new QFrame(central);
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel1->setFixedHeight(102);
    auto* bottom = new QHBoxLayout(panel1);
    auto* controls = new QVBoxLayout;
    controls->addWidget(buildNavigator());
    auto* buttons = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("+"), panel1);
    m_add->setObjectName(QStringLiteral("Button2"));
    QFont big = m_add->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.6);
    m_add->setFont(big);
    m_add->setToolTip(QStringLiteral("Add a record (Insert)"));
    m_close = new QPushButton(QStringLiteral("Close"), panel1);
    m_close->setObjectName(QStringLiteral("Button1"));
    m_close->setDefault(true);
    connect(m_add, &QPushButton::clicked, this, &DetailWindow::Button2Click);
    connect(m_close, &QPushButton::clicked, this, &DetailWindow::Button1Click);
    buttons->addWidget(m_add);
    buttons->addWidget(m_close);
    buttons->addStretch(1);
    controls->addLayout(buttons);
    bottom->addLayout(controls);
    bottom->addStretch(1);

    auto* totals = new QGridLayout;
    totals->setVerticalSpacing(0);
    // The two halves of the total, when fees are split, say which is which.
    m_label3 = makeLabel("Label3",
                         m_settings.PartSuperannuation ? QStringLiteral("Total: superannuable / non-superannuable")
                                                       : QStringLiteral("Total:"),
                         panel1);
    m_lbTotal = makeValueLabel("lbTotal", panel1);
    m_lblSuperAnnuation = makeLabel("lblSuperAnnuation", QStringLiteral("Superannuation:"), panel1);
    m_lbAnnuation = makeValueLabel("lbAnnuation", panel1);
    m_label4a = makeLabel("Label4a", QStringLiteral("Additional Contribution:"), panel1);
    m_lbExtra = makeValueLabel("lbExtra", panel1);
    m_label5 = makeLabel("Label5", QStringLiteral("Payment:"), panel1);
    m_lbPayment = makeValueLabel("lbPayment", panel1);
    const QList<QPair<QLabel*, QLabel*>> rows{
        {m_label3, m_lbTotal}, {m_lblSuperAnnuation, m_lbAnnuation}, {m_label4a, m_lbExtra}, {m_label5, m_lbPayment}};
    for (int i = 0; i < rows.size(); ++i) {
        totals->addWidget(rows[i].first, i, 0);
        totals->addWidget(rows[i].second, i, 1);
    }
    bottom->addLayout(totals);
    outer->addWidget(panel1);

    setCentralWidget(central);
    buildMenus();
    m_sendStatus = makeLabel("SendStatus", QString(), this);
    statusBar()->addWidget(m_sendStatus, 1);
    m_records = makeLabel("RecordCount", QString(), this);
    statusBar()->addPermanentWidget(m_records);
    setLoaded(false);

    setTabOrder(m_grid, m_first);
    setTabOrder(m_first, m_prior);
    setTabOrder(m_prior, m_next);
    setTabOrder(m_next, m_last);
    setTabOrder(m_last, m_delete);
    setTabOrder(m_delete, m_add);
    setTabOrder(m_add, m_close);

    resize(798, 550);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    RememberWindowPlace(this);
    m_columnWidths = new ColumnWidths(m_grid->horizontalHeader(), QStringLiteral("TDetail/DBGrid1"));
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        const int n = m_model->rowCount();
        m_records->setText(n == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(n));
    });
    updateNavigator();
}

QWidget* DetailWindow::buildNavigator()
{
    auto* navigator = new QWidget(this);
    navigator->setObjectName(QStringLiteral("DBNavigator1"));
    auto* layout = new QHBoxLayout(navigator);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const auto add = [&](const char* name, const QString& text, const QString& hint, void (DetailWindow::*slot)()) {
        auto* button = new QToolButton(navigator);
        button->setObjectName(QString::fromUtf8(name));
        button->setText(text);
        button->setToolTip(hint);
        button->setAccessibleName(hint);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setMinimumWidth(32);
        connect(button, &QToolButton::clicked, this, slot);
        layout->addWidget(button);
        return button;
    };
    m_first = add("nbFirst", QStringLiteral("|<"), QStringLiteral("First record"), &DetailWindow::First);
    m_prior = add("nbPrior", QStringLiteral("<"), QStringLiteral("Prior record"), &DetailWindow::Prior);
    m_next = add("nbNext", QStringLiteral(">"), QStringLiteral("Next record"), &DetailWindow::Next);
    m_last = add("nbLast", QStringLiteral(">|"), QStringLiteral("Last record"), &DetailWindow::Last);
    m_delete = add("nbDelete", QStringLiteral("-"), QStringLiteral("Delete record (Ctrl+Del)"), &DetailWindow::Delete);
    return navigator;
}

void DetailWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    const auto entry = [this](QWidget* owner, const char* name, const QString& text, void (DetailWindow::*slot)()) {
        auto* action = new QAction(text, owner);
        action->setObjectName(QString::fromUtf8(name));
        owner->addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu* print = bar->addMenu(QStringLiteral("&Print"));
    print->setObjectName(QStringLiteral("Print1"));
    QAction* printPage =
        entry(print, "PrintThisPage1", QStringLiteral("&Print This Page"), &DetailWindow::PrintThisPage1Click);
    printPage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* preview =
        entry(print, "PrintPreview1", QStringLiteral("Print Pre&view"), &DetailWindow::PrintPreview1Click);
    QAction* previewSolo =
        entry(print, "PreviewSoloForm1", QStringLiteral("Preview &Solo Form"), &DetailWindow::PreviewSoloForm1Click);
    QAction* soloPdf =
        entry(print, "CreateSoloPDF1", QStringLiteral("&Create Solo PDF"), &DetailWindow::CreateSoloPDF1Click);
    print->addSeparator()->setObjectName(QStringLiteral("N2"));
    entry(print, "PrinterSetup1", QStringLiteral("Printer Set&up"), &DetailWindow::PrinterSetup1Click);
    QAction* send = entry(bar, "Send1", QStringLiteral("&Send"), &DetailWindow::Send1Click);
    entry(bar, "History1", QStringLiteral("&History…"), &DetailWindow::History1Click)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    entry(bar, "Close1", QStringLiteral("&Close"), &DetailWindow::Close1Click);

    // Only what was loaded may be printed or sent.
    m_documentActions = {printPage, preview, previewSolo, soloPdf, send};
    // Fixed for the run: the settings never change while the program runs.
    send->setVisible(m_settings.ProForma);
    previewSolo->setVisible(m_settings.Solo);
    soloPdf->setVisible(m_settings.Solo);
}

void DetailWindow::setEditor(RecordEditor* editor)
{
    m_editor = editor;
}

const QList<QSqlRecord>& DetailWindow::shiftRows() const
{
    return m_model->rows();
}

std::optional<QSqlRecord> DetailWindow::currentShiftRow() const
{
    const int row = m_grid->currentIndex().row();
    if (row < 0 || row >= m_model->rowCount())
        return std::nullopt;
    return m_model->rowAt(row);
}

void DetailWindow::setLoaded(bool loaded)
{
    m_loaded = loaded;
    for (QAction* action : m_documentActions)
        action->setEnabled(loaded);
    showSendStatus();
}

void DetailWindow::closeForOtherDataSet()
{
    // What they show belongs to the data set that was open before.
    if (m_editor && m_editor->isVisible())
        m_editor->reject();
    close();
}

void DetailWindow::setSendingBusy(bool busy)
{
    m_sendingBusy = busy;
    m_close->setEnabled(!busy);
}

void DetailWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The main window hides and shows this window to load another doctor; a window restored by
    // the system keeps its place.
    if (!event->spontaneous())
        FormShow();
}

void DetailWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (!event->spontaneous() && m_shownWidth > 0 && width() != m_shownWidth)
        UserWindowSettings()->setValue(kSizedByUser, true);
}

void DetailWindow::closeEvent(QCloseEvent* event)
{
    if (m_sendingBusy) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void DetailWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes it, as it closes a dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Close1Click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool DetailWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_grid->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        DBGrid1DblClick();
        return true;
    }
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            DBGrid1DblClick();
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            Delete();
            return true;
        }
        if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier) {
            Button2Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void DetailWindow::FormShow()
{
    const QString doctorStatement = DoctorStatement(m_state.CurrentDataSet, m_state.CurrentDoctorId);
    const QString rowsStatement = ShiftRowsStatement(m_state.CurrentDataSet, m_state.CurrentDoctorId);
    QList<QSqlRecord> doctors;
    QSqlRecord doctorColumns;
    QList<QSqlRecord> rows;
    QSqlRecord rowColumns;
    if (!QueryRecords(m_db, doctorStatement, &doctors, &doctorColumns) ||
        !QueryRecords(m_db, rowsStatement, &rows, &rowColumns)) {
        // The texts of the previous doctor stay; nothing is computed from an empty grid.
        m_doctorLoaded = false;
        setLoaded(false);
        m_model->clearRows();
        RefreshTotals();
        m_prompter.error(QStringLiteral("Error reading from database: 1:%1 - 2:%2")
                             .arg(StatementText({doctorStatement}), StatementText({rowsStatement})));
        return;
    }
    // A doctor that is not there reads as empty texts and zero figures.
    m_doctor = doctors.isEmpty() ? doctorColumns : doctors.first();
    m_doctorLoaded = true;
    setLoaded(true);
    // Another doctor: his records in the order they are stored.
    m_model->sort(-1);
    m_grid->horizontalHeader()->setSortIndicatorShown(false);
    m_model->setRows(rowColumns, rows);
    fitColumns();
    selectRow(0);

    const auto text = [this](const char* name) { return m_doctor.value(QString::fromUtf8(name)).toString(); };
    m_name->setText(DoctorFullName(m_doctor));
    // Two doctors' windows told apart on the task bar, and their editors too.
    const QString id = text("id");
    m_doctorCaption =
        id.isEmpty() ? QString() : DoctorFullName(m_doctor).simplified() + QStringLiteral(" (%1)").arg(id);
    setWindowTitle(captioned(QStringLiteral("Payment Detail")));
    const QString address = FormatAddressLines(
        QStringList{text("add1"), text("add2"), text("town"), text("county"), text("postcode")}.join(u'|'));
    // A label breaks lines at LF; the lines themselves are the ones FormatAddressLines gives.
    m_add1->setText(QString(address).replace(u'\r', u'\n'));
    RefreshTotals();
    widenForColumns();
}

QString DetailWindow::captioned(const QString& text) const
{
    return m_doctorCaption.isEmpty() ? text : text + QStringLiteral(" \u2013 ") + m_doctorCaption;
}

void DetailWindow::widenForColumns()
{
    // Net and Notes in view without scrolling, as far as the screen allows, until the clerk gives
    // the window a width of his own.
    const auto keep = qScopeGuard([this] { m_shownWidth = width(); });
    if (UserWindowSettings()->value(kSizedByUser).toBool())
        return;
    int wanted = m_grid->verticalHeader()->width() + 2 * m_grid->frameWidth() +
                 m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_grid);
    for (int c = 0; c < m_model->columnCount(); ++c)
        if (!m_grid->isColumnHidden(c))
            wanted += m_grid->columnWidth(c);
    if (wanted <= width())
        return;
    resize(wanted, height());
    FitToScreen(this);
}

void DetailWindow::showMessage(const QString& text)
{
    m_sendStatus->setText(text);
}

void DetailWindow::RefreshTotals()
{
    for (QLabel* l : {m_lbAnnuation, m_lbPayment, m_lblSuperAnnuation, m_label5})
        l->setVisible(true);

    if (!m_loaded) {
        // Rows that could not be read are no rows: no figures rather than 0.00.
        for (QLabel* l : {m_lbTotal, m_lbAnnuation, m_lbExtra, m_lbPayment})
            l->clear();
        return;
    }
    const PaymentFigures f = ComputePaymentFigures(m_settings, m_doctor, m_model->rows());
    const double annuity = m_doctor.value(QStringLiteral("annuity")).toDouble();
    // An edit may leave him with another payment than the one he was sent.
    showSendStatus();

    if (m_settings.PartSuperannuation)
        m_lbTotal->setText(FormatMoney(f.superannuableFees) + QStringLiteral(" / ") +
                           FormatMoney(f.nonSuperannuableFees));
    else
        m_lbTotal->setText(FormatMoney(f.gross));
    m_lbAnnuation->setText(FormatMoney(f.superannuation));
    m_lbPayment->setText(FormatMoney(f.netPayment));
    if (m_settings.NoSuperannuation || f.noPension) {
        for (QLabel* l : {m_lbAnnuation, m_lbPayment, m_lblSuperAnnuation, m_label5})
            l->setVisible(false);
    }
    if (m_settings.Solo) {
        m_lbExtra->setText(FormatMoney(f.additionalContribution));
        m_label4a->setText(QStringLiteral("Additional Contribution @ %1%").arg(FormatMoney(annuity)));
        m_label5->setText(QStringLiteral("Net:"));
        if (f.payGross) {
            m_label5->setText(QStringLiteral("GROSS:"));
            m_lbPayment->setText(FormatMoney(f.gross));
        }
    } else {
        m_lblSuperAnnuation->setText(QStringLiteral("Superannuation @ %1%").arg(FormatMoney(annuity)));
        m_label4a->setVisible(false);
        m_lbExtra->setVisible(false);
    }
}

bool DetailWindow::reloadShiftRows()
{
    const std::optional<QSqlRecord> current = currentShiftRow();
    const int currentRow = m_grid->currentIndex().row();
    const QString statement = ShiftRowsStatement(m_state.CurrentDataSet, m_state.CurrentDoctorId);
    QList<QSqlRecord> rows;
    QSqlRecord columns;
    if (!QueryRecords(m_db, statement, &rows, &columns)) {
        setLoaded(false);
        m_model->clearRows();
        updateNavigator();
        m_prompter.error(QStringLiteral("Error in query: %1").arg(StatementText({statement})));
        return false;
    }
    setLoaded(m_doctorLoaded);
    m_model->setRows(columns, rows);
    fitColumns();
    if (current)
        selectRecord(current->value(QStringLiteral("recno")).toInt());
    if (!currentShiftRow())
        selectRow(qMin(currentRow, int(rows.size()) - 1));
    return true;
}

void DetailWindow::selectRow(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        updateNavigator();
        return;
    }
    // Column 2 is the first one shown; the hidden ones cannot carry the keyboard focus.
    const QModelIndex index = m_model->index(row, qMin(2, m_model->columnCount() - 1));
    m_grid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_grid->scrollTo(index);
    updateNavigator();
}

void DetailWindow::selectRecord(int recno)
{
    const int recnoColumn = m_model->rows().isEmpty() ? -1 : m_model->rows().first().indexOf(QStringLiteral("recno"));
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->rowAt(i).value(recnoColumn).toInt() == recno) {
            selectRow(i);
            return;
        }
    }
}

void DetailWindow::fitColumns()
{
    const auto byProgram = m_columnWidths->programChanges();
    // Each column once: recno and DataSet, and the query's second copy of the stored columns after
    // Notes, are not shown.
    const int columns = m_model->columnCount();
    const int notes = m_model->notesColumn();
    for (int c = 0; c < columns; ++c)
        m_grid->setColumnHidden(c, c < 2 || (notes >= 0 && c > notes));

    // As wide as the heading and the widest text, measured on the rows in view and on the longest
    // text of each column only: thousands of rows are not measured one by one.
    const QFontMetrics metrics(m_grid->font());
    const int rowHeight = qMax(1, m_grid->verticalHeader()->defaultSectionSize());
    const int first = qMax(0, m_grid->rowAt(0));
    const int last = qMin(m_model->rowCount(), first + m_grid->viewport()->height() / rowHeight + 1);
    const int padding = 2 * m_grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_grid) + 12;
    QHeaderView* header = m_grid->horizontalHeader();
    for (int c = 0; c < columns; ++c) {
        if (m_grid->isColumnHidden(c))
            continue;
        // A width the user chose stays.
        if (const int chosen = m_columnWidths->userWidth(m_model->headerData(c, Qt::Horizontal).toString())) {
            m_grid->setColumnWidth(c, chosen);
            continue;
        }
        int width = metrics.horizontalAdvance(m_model->longestText(c));
        for (int r = first; r < last; ++r)
            width = qMax(width, metrics.horizontalAdvance(m_model->cellText(r, c)));
        m_grid->setColumnWidth(c, qMax(width + padding, header->sectionSizeHint(c)));
    }
}

void DetailWindow::sortByColumn(int column)
{
    if (m_grid->isColumnHidden(column))
        return;
    // A second click on the same heading reverses the order.
    const Qt::SortOrder order = m_model->sortColumn() == column && m_model->sortOrder() == Qt::AscendingOrder
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    const std::optional<QSqlRecord> current = currentShiftRow();
    m_model->sort(column, order);
    QHeaderView* header = m_grid->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, order);
    if (current)
        selectRecord(current->value(QStringLiteral("recno")).toInt());
    else
        selectRow(0);
}

void DetailWindow::updateNavigator()
{
    const int row = m_grid->currentIndex().row();
    const int count = m_model->rowCount();
    const bool valid = row >= 0 && row < count;
    m_first->setEnabled(valid && row > 0);
    m_prior->setEnabled(valid && row > 0);
    m_next->setEnabled(valid && row < count - 1);
    m_last->setEnabled(valid && row < count - 1);
    m_delete->setEnabled(valid);
}

void DetailWindow::First()
{
    selectRow(0);
}

void DetailWindow::Prior()
{
    selectRow(m_grid->currentIndex().row() - 1);
}

void DetailWindow::Next()
{
    selectRow(m_grid->currentIndex().row() + 1);
}

void DetailWindow::Last()
{
    selectRow(m_model->rowCount() - 1);
}

void DetailWindow::Delete()
{
    const std::optional<QSqlRecord> row = currentShiftRow();
    if (!row)
        return;
    const auto value = [&row](const char* column) { return row->value(QString::fromUtf8(column)); };
    const QString question = QStringLiteral("Delete the record of %1, %2, net %3?")
                                 .arg(ShiftDateText(value("Shift_Date")), value("Shift").toString().trimmed(),
                                      FormatMoney(value("Net").toDouble()));
    if (!m_prompter.question(question))
        return;
    deleteRecord(m_state.CurrentDataSet, row->value(QStringLiteral("recno")).toInt());
    reloadShiftRows();
    // The totals follow at once, so they never describe rows the grid no longer shows.
    RefreshTotals();
}

void DetailWindow::deleteRecord(const QString& dataSet, int recno)
{
    // One call of arg for both: a name holding "%1" must not take in the number.
    int changed = 0;
    const auto statement = [&](int) {
        return QStringList{QStringLiteral("DELETE FROM Details WHERE DataSet = '%1' AND recno = %2")
                               .arg(QuoteForSql(dataSet), QString::number(recno))};
    };
    if (history::ChangeRecord(m_db, history::Action::Delete, dataSet, recno, statement, m_prompter, &changed) >= 0 &&
        changed == 0)
        m_prompter.error(RecordNotFoundMessage());
}

void DetailWindow::DBGrid1DblClick()
{
    if (!m_editor)
        return;
    const std::optional<QSqlRecord> row = currentShiftRow();
    if (!row) {
        // Nothing to edit: what the clerk types goes into a new record, as with "+".
        Button2Click();
        return;
    }
    const QString dataSet = m_state.CurrentDataSet;
    m_editor->RecordNumber = row->value(QStringLiteral("recno")).toInt();
    m_editor->setShiftRow(row);
    m_editor->setWindowTitle(captioned(QStringLiteral("Edit Record")));
    m_editor->exec();
    if (m_state.CurrentDataSet != dataSet)
        return; // closed for another data set
    reloadShiftRows();
    RefreshTotals();
}

void DetailWindow::Button2Click()
{
    if (!m_loaded || !m_editor)
        return;
    // The record is added to, and on Cancel taken from, this data set whatever happens meanwhile.
    const QString dataSet = m_state.CurrentDataSet;
    const QString doctorId = m_doctor.value(QStringLiteral("id")).toString();
    // A date of the pay run rather than today's, which may be years later.
    QList<QDate> dates;
    for (const QSqlRecord& row : m_model->rows())
        dates.append(ShiftDate(row.value(QStringLiteral("Shift_Date"))));
    const QString date = ProposedShiftDate(dataSet, dates, Clock::today()).toString(Qt::ISODate);
    const auto insert = [&](int recno) {
        return QStringList{
            QStringLiteral("INSERT into Details"),
            QStringLiteral("VALUES(%1, '%2', '%3','%4',' ',' ',' ','0.00','0.00', 0, '0.00', 0, ' ', 0, 0)")
                .arg(QString::number(recno), QuoteForSql(dataSet), QuoteForSql(doctorId), date)};
    };
    // Without the new record the editor would open on someone else's: stop after the message.
    const int n = history::ChangeRecord(m_db, history::Action::Add, dataSet, -1, insert, m_prompter);
    if (n < 0)
        return;
    reloadShiftRows();
    RefreshTotals();
    selectRecord(n);

    m_editor->RecordNumber = n;
    m_editor->setShiftRow(currentShiftRow());
    m_editor->setWindowTitle(captioned(QStringLiteral("Add New Record")));
    if (m_editor->exec() != QDialog::Accepted)
        deleteRecord(dataSet, n);
    if (m_state.CurrentDataSet != dataSet)
        return; // closed for another data set
    reloadShiftRows();
    RefreshTotals();
}

void DetailWindow::Button1Click()
{
    close();
}

void DetailWindow::Close1Click()
{
    close();
}

void DetailWindow::PrintThisPage1Click()
{
    if (m_loaded)
        emit printRequested(m_doctor, m_model->rows(), false);
}

void DetailWindow::PrintPreview1Click()
{
    if (m_loaded)
        emit printRequested(m_doctor, m_model->rows(), true);
}

void DetailWindow::PreviewSoloForm1Click()
{
    if (!m_loaded)
        return;
    const PaymentFigures figures = ComputePaymentFigures(m_settings, m_doctor, m_model->rows());
    m_state.PreviewPensionForm = true;
    emit pensionFormRequested(QString(), m_doctor, figures);
}

void DetailWindow::CreateSoloPDF1Click()
{
    FileDialogRequest request;
    request.nameFilters = QStringList{QStringLiteral("Adobe PDF files (*.pdf)")};
    request.defaultSuffix = QStringLiteral("pdf");
    request.proposedName = PdfFolderOutput::safeFileName(
        QStringLiteral("Solo_%1_%2.pdf")
            .arg(m_doctor.value(QStringLiteral("sname")).toString(), m_state.CurrentDataSet));
    const QString fileName = FileDialogs::getSaveFileName(this, request);
    if (fileName.isEmpty() || !m_loaded)
        return;
    const PaymentFigures figures = ComputePaymentFigures(m_settings, m_doctor, m_model->rows());
    emit pensionFormRequested(fileName, m_doctor, figures);
}

void DetailWindow::PrinterSetup1Click()
{
    emit printerSetupRequested();
}

void DetailWindow::showSendStatus()
{
    if (!m_settings.ProForma || !m_loaded) {
        m_sendStatus->clear();
        return;
    }
    // Against what may have reached him: the payment his invoice states now, as the grid has it.
    const QString id = m_doctor.value(QStringLiteral("id")).toString();
    QHash<QString, SendLogEntry> delivered;
    const bool changed =
        LastDelivered(m_db, m_state.CurrentDataSet, &delivered, nullptr, id) && delivered.contains(id) &&
        ChangedSince(delivered.value(id),
                     PrintedPayment(m_settings, ComputePaymentFigures(m_settings, m_doctor, m_model->rows())));
    m_sendStatus->setText(SendStatusText(LatestAttempt(m_db, m_state.CurrentDataSet, id), changed));
}

void DetailWindow::Send1Click()
{
    if (!m_loaded)
        return;
    if (m_state.SendingMode) {
        m_prompter.information(PaymentSender::runInProgressText());
        return;
    }
    const QString email = m_doctor.value(QStringLiteral("email")).toString();
    if (!m_prompter.question(QStringLiteral("Send Pro-Forma Invoice to %1?").arg(email)))
        return;
    setSendingBusy(true);
    emit sendRequested(m_doctor, m_model->rows());
    setSendingBusy(false);
}

} // namespace velmar

namespace velmar {

void DetailWindow::History1Click()
{
    if (!m_loaded)
        return;
    if (!m_history) {
        m_history = new HistoryWindow(m_db, m_prompter, this);
        connect(m_history, &HistoryWindow::dataSetRestored, this, [this] {
            reloadShiftRows();
            RefreshTotals();
        });
    }
    m_history->showFor(
        history::Filter{m_state.CurrentDataSet, m_doctor.value(QStringLiteral("id")).toString(), QDate()});
    m_history->exec();
}

} // namespace velmar
