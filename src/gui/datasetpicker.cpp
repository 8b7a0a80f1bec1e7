#include "gui/datasetpicker.h"

#include "gui/windowplaces.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmar {

DataSetPicker::DataSetPicker(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFList"));
    setWindowTitle(QStringLiteral("Avaliable Files"));
    setSizeGripEnabled(true);

    auto* bevel = new QFrame(this);
    bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_lb = new QTreeWidget(bevel);
    m_lb->setObjectName(QStringLiteral("lb"));
    m_lb->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lb->setRootIsDecorated(false);
    m_lb->setUniformRowHeights(true);
    m_lb->setAllColumnsShowFocus(true);
    m_lb->setHeaderLabels(
        {QStringLiteral("Data set"), QStringLiteral("Label"), QStringLiteral("Doctors"), QStringLiteral("Imported")});
    m_lb->header()->setStretchLastSection(false);
    m_lb->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    auto* bevelLayout = new QVBoxLayout(bevel);
    bevelLayout->setContentsMargins(6, 6, 6, 6);
    bevelLayout->addWidget(m_lb);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKBtn"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelBtn"));

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(bevel, 1);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &DataSetPicker::OKBtnClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_lb, &QTreeWidget::itemDoubleClicked, this, &DataSetPicker::lbDblClick);
    // Room for a label and the time beside each name.
    resize(600, 352);
    // Centred until the user puts it elsewhere.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    RememberWindowPlace(this);
}

void DataSetPicker::setEntries(const QList<DataSetEntry>& dataSets, const QString& current)
{
    m_lb->clear();
    QTreeWidgetItem* selected = nullptr;
    for (const DataSetEntry& e : dataSets) {
        const QString imported =
            e.imported.isValid() ? e.imported.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm")) : QString();
        auto* item = new QTreeWidgetItem(m_lb, {e.dataSet, e.label, QString::number(e.doctors), imported});
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (!selected && e.dataSet == current)
            selected = item;
    }
    for (int c = 0; c < m_lb->columnCount(); ++c)
        if (c != 1)
            m_lb->resizeColumnToContents(c);
    // The entry that looks current is the one OK takes: the open data set, else the newest.
    if (!selected)
        selected = m_lb->topLevelItem(0);
    if (selected) {
        m_lb->setCurrentItem(selected);
        m_lb->scrollToItem(selected);
    }
}

QStringList DataSetPicker::entries() const
{
    QStringList result;
    for (int i = 0; i < m_lb->topLevelItemCount(); ++i)
        result.append(m_lb->topLevelItem(i)->text(0));
    return result;
}

bool DataSetPicker::selectedEntry(QString* dataSet) const
{
    const QList<QTreeWidgetItem*> selected = m_lb->selectedItems();
    if (selected.isEmpty())
        return false;
    *dataSet = selected.constFirst()->text(0);
    return true;
}

void DataSetPicker::OKBtnClick()
{
    accept();
}

void DataSetPicker::lbDblClick()
{
    OKBtnClick();
}

void DataSetPicker::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_lb->setFocus();
}

} // namespace velmar
