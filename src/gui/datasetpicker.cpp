#include "gui/datasetpicker.h"

#include "gui/windowplaces.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace velmar {

DataSetPicker::DataSetPicker(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFList"));
    setWindowTitle(QStringLiteral("Avaliable Files"));

    auto* bevel = new QFrame(this);
    bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_lb = new QListWidget(bevel);
    m_lb->setObjectName(QStringLiteral("lb"));
    m_lb->setSelectionMode(QAbstractItemView::SingleSelection);
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
    connect(m_lb, &QListWidget::itemDoubleClicked, this, &DataSetPicker::lbDblClick);
    resize(328, 352);
    // Centred until the user puts it elsewhere.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    RememberWindowPlace(this);
}

void DataSetPicker::setEntries(const QStringList& dataSets)
{
    QStringList sorted = dataSets;
    // Alphabetical as the list shows it to the user: case does not matter.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    m_lb->clear();
    m_lb->addItems(sorted);
    // The entry that looks current is the one OK takes.
    m_lb->setCurrentRow(0);
}

QStringList DataSetPicker::entries() const
{
    QStringList result;
    for (int i = 0; i < m_lb->count(); ++i)
        result.append(m_lb->item(i)->text());
    return result;
}

bool DataSetPicker::selectedEntry(QString* dataSet) const
{
    const QList<QListWidgetItem*> selected = m_lb->selectedItems();
    if (selected.isEmpty())
        return false;
    *dataSet = selected.constFirst()->text();
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
