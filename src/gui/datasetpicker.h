#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace velmar {

// "Avaliable Files": the modal list of stored data sets, kept in alphabetical order.
class DataSetPicker : public QDialog
{
    Q_OBJECT
public:
    explicit DataSetPicker(QWidget* parent = nullptr);

    // Replaces the entries; the first one is selected.
    void setEntries(const QStringList& dataSets);
    QStringList entries() const;
    // False when no entry is selected.
    bool selectedEntry(QString* dataSet) const;

public slots:
    void OKBtnClick();
    void lbDblClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QListWidget* m_lb;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

} // namespace velmar
