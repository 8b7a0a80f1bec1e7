#pragma once

#include "payments/datasets.h"

#include <QDialog>

class QTreeWidget;
class QPushButton;

namespace velmar {

// "Avaliable Files": the modal list of stored data sets, each with its label, its number of doctors
// and when it was imported, newest import first.
class DataSetPicker : public QDialog
{
    Q_OBJECT
public:
    explicit DataSetPicker(QWidget* parent = nullptr);

    // Replaces the entries, in their order; the one named current is selected, else the first.
    void setEntries(const QList<DataSetEntry>& dataSets, const QString& current = QString());
    // The data sets listed, in the list's order.
    QStringList entries() const;
    // False when no entry is selected.
    bool selectedEntry(QString* dataSet) const;

public slots:
    void OKBtnClick();
    void lbDblClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidget* m_lb;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

} // namespace velmar
