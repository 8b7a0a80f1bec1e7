#include "payments/shiftrowsmodel.h"

#include "payments/payments.h"

namespace velmar {

namespace {

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

} // namespace

void ShiftRowsModel::setRows(const QSqlRecord& columns, const QList<QSqlRecord>& rows)
{
    beginResetModel();
    m_columns = columns;
    m_rows = rows;
    endResetModel();
}

void ShiftRowsModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QString ShiftRowsModel::cellText(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.count())
        return QString();
    const QVariant v = m_rows.at(row).value(column);
    if (v.isNull())
        return QString();
    if (m_columns.fieldName(column) == u"Shift_Date") {
        const QString shown = ShiftDateText(v);
        return shown.isEmpty() ? v.toString() : shown;
    }
    if (v.typeId() == QMetaType::Double)
        // Shortest form that survives the arithmetic of the derived columns (1.5, not 1.50000000001).
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

int ShiftRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ShiftRowsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns.count();
}

QVariant ShiftRowsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        if (isNumber(m_rows.at(index.row()).value(index.column())))
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant ShiftRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.count() ? QVariant(m_columns.fieldName(section)) : QVariant();
    return QVariant();
}

} // namespace velmar
