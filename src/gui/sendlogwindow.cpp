#include "gui/sendlogwindow.h"

#include "core/appstate.h"
#include "core/prompter.h"
#include "core/savefile.h"
#include "core/textformat.h"
#include "gui/tabletext.h"
#include "gui/windowplaces.h"
#include "history/history.h"
#include "sending/sendlog.h"

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace velmar {

namespace {
enum Column { IdColumn, NameColumn, AddressColumn, SentAtColumn, OutcomeColumn, ReplyColumn, ColumnCount };

// Each outcome at a glance, dark enough to read on a light background; the word stays the word.
QColor outcomeColour(const QString& outcome)
{
    static const QHash<QString, QColor> colours{
        {QStringLiteral("sent"), QColor(0, 110, 40)},        {QStringLiteral("failed"), QColor(190, 0, 0)},
        {QStringLiteral("unconfirmed"), QColor(175, 95, 0)}, {QStringLiteral("skipped"), QColor(105, 105, 105)},
        {QStringLiteral("test"), QColor(0, 70, 180)},
    };
    return colours.value(outcome);
}

// The outcome's name, or "changed since sent", that the filter keeps.
constexpr int FilterRole = Qt::UserRole + 1;
} // namespace

SendLogWindow::SendLogWindow(const AppSettings& settings, const AppState& state, QSqlDatabase db, Prompter& prompter,
                             QWidget* parent)
    : QDialog(parent), m_settings(settings), m_state(state), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("TSendLog"));
    setWindowTitle(QStringLiteral("Send Log"));
    setSizeGripEnabled(true);

    m_dataSet = new QLabel(this);
    m_dataSet->setObjectName(QStringLiteral("lblDataSet"));
    m_dataSet->setTextFormat(Qt::PlainText);
    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("cbOutcome"));
    m_filter->addItem(QStringLiteral("All outcomes"));
    for (const SendOutcome outcome : kSendOutcomes)
        m_filter->addItem(OutcomeName(outcome));
    m_filter->addItem(ChangedSinceSentText());
    auto* show = new QLabel(QStringLiteral("&Show:"), this);
    show->setBuddy(m_filter);
    connect(m_filter, &QComboBox::currentIndexChanged, this, &SendLogWindow::applyFilter);

    m_model = new QStandardItemModel(0, ColumnCount, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("Surname"), QStringLiteral("Address"),
                                        QStringLiteral("Sent at"), QStringLiteral("Outcome"), QStringLiteral("Reply")});
    m_shown = new QSortFilterProxyModel(this);
    m_shown->setSourceModel(m_model);
    m_shown->setFilterKeyColumn(OutcomeColumn);
    m_shown->setFilterRole(FilterRole);
    // Names as people read them when a header sorts: case and accents do not move anyone down.
    m_shown->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_shown->setSortLocaleAware(true);
    m_shown->setSortRole(Qt::UserRole);

    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("sendLogGrid"));
    m_grid->setModel(m_shown);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setTabKeyNavigation(false);
    // In the log's own order (by name, as everywhere) until a column header is clicked.
    m_grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_grid->setSortingEnabled(true);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->verticalHeader()->hide();
    // One text line a row, however long the server's reply.
    m_grid->setWordWrap(false);
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->installEventFilter(this);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* showSent = buttons->addButton(QStringLiteral("Show Sent &Invoice"), QDialogButtonBox::ActionRole);
    showSent->setObjectName(QStringLiteral("btnShowSentInvoice"));
    connect(showSent, &QPushButton::clicked, this, &SendLogWindow::ShowSentInvoiceClick);

    auto* top = new QHBoxLayout;
    top->addWidget(m_dataSet, 1);
    top->addWidget(show);
    top->addWidget(m_filter);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_grid, 1);
    layout->addWidget(buttons);
    setTabOrder(m_grid, m_filter);
    resize(760, 420);
    RememberWindowPlace(this);
}

void SendLogWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        reload();
}

void SendLogWindow::reload()
{
    m_dataSet->setText(QStringLiteral("Data set: ") + m_state.CurrentDataSet);
    m_model->removeRows(0, m_model->rowCount());
    QList<SendLogEntry> entries;
    QSet<QString> changed;
    QString error;
    if (!ReadSendLog(m_db, m_state.CurrentDataSet, false, &entries, &error) ||
        !ChangedSinceSent(m_db, m_settings, m_state.CurrentDataSet, &changed, &error)) {
        m_prompter.error(QStringLiteral("The send log cannot be read: ") + error);
        return;
    }
    for (const SendLogEntry& e : std::as_const(entries)) {
        QList<QStandardItem*> row;
        const QString outcome = ShownOutcome(e, changed.contains(e.id));
        for (const QString& text :
             {e.id, e.sname, e.address, e.sentAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")), outcome,
              e.reply}) {
            // A reply of several lines reads as one here and when copied; the whole of it is the tip.
            // Replies stored by older versions may hold control characters: none is shown.
            row.append(new QStandardItem(ShownText(text.simplified())));
            row.last()->setData(text, Qt::UserRole);
            if (text.contains(u'\n') || text.contains(u'\r')) {
                QStringList lines = QString(text).remove(u'\r').split(u'\n');
                for (QString& line : lines)
                    line = ShownText(line);
                row.last()->setToolTip(lines.join(u'\n'));
            }
        }
        // The time sorts as a time, not as the day-first text shows it.
        row[SentAtColumn]->setData(e.sentAt, Qt::UserRole);
        if (const QColor colour = outcomeColour(OutcomeName(e.outcome)); colour.isValid())
            row[OutcomeColumn]->setForeground(colour);
        row[OutcomeColumn]->setData(outcome == ChangedSinceSentText() ? outcome : OutcomeName(e.outcome), FilterRole);
        m_model->appendRow(row);
    }
    m_grid->resizeColumnsToContents();
    if (m_shown->rowCount() > 0)
        m_grid->selectRow(0);
}

void SendLogWindow::ShowSentInvoiceClick()
{
    const QModelIndex current = m_grid->currentIndex();
    if (!current.isValid())
        return;
    const QString id = m_shown->index(current.row(), IdColumn).data(Qt::UserRole).toString();
    QByteArray bytes;
    QString error;
    if (!history::SentDocument(m_db, m_state.CurrentDataSet, id, 0, QLatin1String(history::kInvoiceDocument), &bytes,
                               &error)) {
        m_prompter.error(error);
        return;
    }
    // A file of its own each time: a viewer may still hold the last one open.
    const QString path = m_shownFiles.filePath(
        QStringLiteral("Sent_%1_%2_%3.pdf").arg(m_state.CurrentDataSet, id).arg(QDateTime::currentMSecsSinceEpoch()));
    CheckedSaveFile file(path);
    if (!file.open(&error) || file.write(bytes) != bytes.size() || !file.commit(&error)) {
        m_prompter.error(error);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        m_prompter.information(QStringLiteral("The invoice as sent is in %1").arg(path));
}

void SendLogWindow::applyFilter()
{
    const int index = m_filter->currentIndex();
    m_shown->setFilterRegularExpression(index <= 0 ? QString()
                                                   : u'^' + QRegularExpression::escape(m_filter->currentText()) + u'$');
}

QStringList SendLogWindow::shownRows() const
{
    return RowsAsText(*m_shown);
}

void SendLogWindow::copySelection() const
{
    const QStringList all = shownRows();
    QStringList rows;
    for (const QModelIndex& index : m_grid->selectionModel()->selectedRows())
        rows.append(all.at(index.row()));
    QApplication::clipboard()->setText(rows.join(u'\n') + u'\n');
}

bool SendLogWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_grid && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace velmar
