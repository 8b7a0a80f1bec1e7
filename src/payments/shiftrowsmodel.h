#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSqlRecord>

namespace velmar {

// A doctor's shift rows as the detail window's grid shows them: every column of the shift-rows
// query, titled in words ("Date", "Adj. time"; the column's name is the header's user role); dates dd/mm/yyyy, money
// with two decimals, the adjustment time as hours and minutes, numbers right-aligned. Read-only. The rows may be shown
// in another order than the stored one (sort); rows() keeps the stored order.
class ShiftRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // columns: the result's column names (the titles, also when there are no rows). The order
    // shown stays as it was sorted.
    void setRows(const QSqlRecord& columns, const QList<QSqlRecord>& rows);
    // No rows; the titles stay.
    void clearRows();

    // In the stored order.
    const QList<QSqlRecord>& rows() const { return m_rows; }
    // The stored row shown at a row of the grid.
    const QSqlRecord& rowAt(int row) const { return m_rows.at(m_order.at(row)); }
    // The value of a cell as the grid shows it.
    QString cellText(int row, int column) const;
    // The text of the column that takes the most room, by its length (cheap for thousands of rows).
    QString longestText(int column) const;
    // The column holding the stored Notes, the last one the grid shows (-1 when there is none).
    int notesColumn() const { return m_notesColumn; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // By the column's values: numbers as numbers, dates as dates, texts without regard to case.
    // A column of -1 is the stored order. Equal values keep their stored order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    enum class Kind { Text, Date, Money, Minutes, Number };
    Kind kindOf(int column) const;
    void applySort();

    QSqlRecord m_columns;
    QList<QSqlRecord> m_rows;
    QList<int> m_order;
    QList<Kind> m_kinds;
    int m_notesColumn = -1;
    int m_minutesColumn = -1; // AdjustmentTime, which Adj_Time shows as hours and minutes
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace velmar
