#include "gui/historywindow.h"

#include "core/prompter.h"
#include "gui/tabletext.h"
#include "gui/windowplaces.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace velmar {

namespace {
enum Column { EntryColumn, TimeColumn, WhoColumn, ActionColumn, DoctorColumn, RecnoColumn, ChangeColumn, ColumnCount };
}

HistoryWindow::HistoryWindow(QSqlDatabase db, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("THistory"));
    setWindowTitle(QStringLiteral("History"));
    setSizeGripEnabled(true);

    m_scope = new QLabel(this);
    m_scope->setObjectName(QStringLiteral("lblScope"));
    m_scope->setTextFormat(Qt::PlainText);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("edFilter"));
    m_search->setClearButtonEnabled(true);
    auto* find = new QLabel(QStringLiteral("&Filter:"), this);
    find->setBuddy(m_search);

    m_model = new QStandardItemModel(0, ColumnCount, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("Entry"), QStringLiteral("Time"), QStringLiteral("Who"),
                                        QStringLiteral("Action"), QStringLiteral("Doctor"), QStringLiteral("Record"),
                                        QStringLiteral("What changed")});
    m_shown = new QSortFilterProxyModel(this);
    m_shown->setSourceModel(m_model);
    m_shown->setFilterKeyColumn(-1);
    m_shown->setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(m_search, &QLineEdit::textChanged, m_shown, &QSortFilterProxyModel::setFilterFixedString);

    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("historyGrid"));
    m_grid->setModel(m_shown);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setTabKeyNavigation(false);
    m_grid->setWordWrap(false);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &HistoryWindow::updateButtons);

    m_restore = new QPushButton(QStringLiteral("&Restore This Version…"), this);
    m_restore->setObjectName(QStringLiteral("btnRestore"));
    connect(m_restore, &QPushButton::clicked, this, &HistoryWindow::RestoreClick);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_restore, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(m_scope, 1);
    top->addWidget(find);
    top->addWidget(m_search);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_grid, 1);
    layout->addWidget(buttons);
    setTabOrder(m_search, m_grid);
    resize(900, 440);
    RememberWindowPlace(this);
}

void HistoryWindow::showFor(const history::Filter& filter)
{
    m_filter = filter;
    m_search->clear();
    reload();
}

void HistoryWindow::reload()
{
    m_scope->setText(m_filter.doctor.isEmpty()
                         ? QStringLiteral("Data set: %1").arg(m_filter.dataSet)
                         : QStringLiteral("Data set: %1, doctor %2").arg(m_filter.dataSet, m_filter.doctor));
    m_model->removeRows(0, m_model->rowCount());
    QString error;
    if (!history::Read(m_db, m_filter, &m_entries, &error)) {
        m_entries.clear();
        m_prompter.error(QStringLiteral("The history cannot be read: ") + error);
    }
    // Newest first: what a clerk looks for is what just happened.
    for (auto e = m_entries.crbegin(); e != m_entries.crend(); ++e) {
        QList<QStandardItem*> row;
        for (const QString& text :
             {QString::number(e->number), e->at.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")), e->who,
              e->action, e->doctor, e->recno.isNull() ? QString() : e->recno.toString(), history::Describe(*e)}) {
            row.append(new QStandardItem(text));
            row.last()->setToolTip(text.size() > 60 ? text : QString());
        }
        row[EntryColumn]->setData(e->number, Qt::UserRole);
        m_model->appendRow(row);
    }
    m_grid->resizeColumnsToContents();
    if (m_shown->rowCount() > 0)
        m_grid->selectRow(0);
    updateButtons();
}

const history::Entry* HistoryWindow::selectedEntry() const
{
    const QModelIndex current = m_grid->currentIndex();
    if (!current.isValid())
        return nullptr;
    const qint64 number = m_shown->index(current.row(), EntryColumn).data(Qt::UserRole).toLongLong();
    for (const history::Entry& e : m_entries)
        if (e.number == number)
            return &e;
    return nullptr;
}

void HistoryWindow::updateButtons()
{
    const history::Entry* e = selectedEntry();
    m_restore->setEnabled(e && history::KeepsDataSet(*e));
}

void HistoryWindow::RestoreClick()
{
    const history::Entry* e = selectedEntry();
    if (!e || !history::KeepsDataSet(*e))
        return;
    const QString dataSet = e->dataSet;
    const qint64 number = e->number;
    if (!m_prompter.question(QStringLiteral("Bring back %1 as it was before entry %2 (%3)? What it holds now is kept "
                                            "in the history.")
                                 .arg(dataSet)
                                 .arg(number)
                                 .arg(e->at.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm")))))
        return;
    QString said, error;
    if (!history::Restore(m_db, dataSet, number, &said, &error)) {
        m_prompter.error(error);
        return;
    }
    m_prompter.information(said);
    reload();
    emit dataSetRestored(dataSet);
}

QStringList HistoryWindow::shownRows() const
{
    return RowsAsText(*m_shown);
}

} // namespace velmar
