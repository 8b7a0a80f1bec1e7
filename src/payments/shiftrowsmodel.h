#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSqlRecord>

namespace velmar {

// A doctor's shift rows as the detail window's grid shows them: every column of the shift-rows
// query, titled with its name; dates dd/mm/yyyy, numbers right-aligned. Read-only.
class ShiftRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // columns: the result's column names (the titles, also when there are no rows).
    void setRows(const QSqlRecord& columns, const QList<QSqlRecord>& rows);
    // No rows; the titles stay.
    void clearRows();

    const QList<QSqlRecord>& rows() const { return m_rows; }
    // The value of a cell as the grid shows it.
    QString cellText(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QSqlRecord m_columns;
    QList<QSqlRecord> m_rows;
};

} // namespace velmar
