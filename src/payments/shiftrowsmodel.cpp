#include "payments/shiftrowsmodel.h"

#include "core/textformat.h"
#include "payments/payments.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <variant>

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

// Characters of an amount as FormatMoney writes it, without writing it.
int moneyLength(double value)
{
    const double size = std::abs(value);
    const int digits = size < 1 ? 1 : int(std::floor(std::log10(size))) + 1;
    return (value < 0 ? 1 : 0) + digits + 3;
}

} // namespace

ShiftRowsModel::Kind ShiftRowsModel::kindOf(int column) const
{
    const QString name = m_columns.fieldName(column);
    if (name == u"Shift_Date")
        return Kind::Date;
    if (name == u"Adj_Time")
        return Kind::Minutes;
    for (const char* money : {"Rate", "Total", "AdjustmentRate", "Adjustment", "Net", "superfee", "nonsuperfee"}) {
        if (name == QLatin1String(money))
            return Kind::Money;
    }
    for (const char* number : {"recno", "AdjustmentTime", "Extra"}) {
        if (name == QLatin1String(number))
            return Kind::Number;
    }
    return Kind::Text;
}

void ShiftRowsModel::setRows(const QSqlRecord& columns, const QList<QSqlRecord>& rows)
{
    beginResetModel();
    m_columns = columns;
    m_rows = rows;
    m_kinds.clear();
    for (int c = 0; c < columns.count(); ++c)
        m_kinds.append(kindOf(c));
    m_notesColumn = columns.indexOf(QStringLiteral("Notes"));
    m_minutesColumn = columns.indexOf(QStringLiteral("AdjustmentTime"));
    if (m_sortColumn >= columns.count())
        m_sortColumn = -1;
    applySort();
    endResetModel();
}

void ShiftRowsModel::clearRows()
{
    setRows(m_columns, {});
}

QString ShiftRowsModel::cellText(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.count())
        return QString();
    const QSqlRecord& record = rowAt(row);
    const QVariant v = record.value(column);
    if (v.isNull())
        return QString();
    switch (m_kinds.at(column)) {
    case Kind::Date: {
        const QString shown = ShiftDateText(v);
        return shown.isEmpty() ? v.toString() : shown;
    }
    case Kind::Money: {
        bool ok = isNumber(v);
        const double amount = ok ? v.toDouble() : v.toString().toDouble(&ok);
        // Text that is no number is shown as it is stored, not as a plausible 0.00.
        return ok ? FormatMoney(amount) : v.toString();
    }
    case Kind::Minutes:
        // From the stored whole minutes where the row has them: the hours are a rounded division.
        return AdjustmentTimeText(m_minutesColumn >= 0 ? record.value(m_minutesColumn).toLongLong()
                                                       : std::llround(v.toDouble() * 60));
    case Kind::Number:
        if (v.typeId() == QMetaType::Double)
            return QString::number(v.toDouble(), 'g', 15);
        return v.toString();
    case Kind::Text:
        break;
    }
    return v.toString();
}

QString ShiftRowsModel::longestText(int column) const
{
    if (column < 0 || column >= m_columns.count() || m_rows.isEmpty())
        return QString();
    int longest = -1;
    int longestRow = 0;
    for (int r = 0; r < m_rows.size(); ++r) {
        const QVariant v = m_rows.at(r).value(column);
        int length = 0;
        switch (m_kinds.at(column)) {
        case Kind::Date:
            return cellText(0, column); // one format for every row
        case Kind::Money:
            length = isNumber(v) ? moneyLength(v.toDouble()) : int(v.toString().size());
            break;
        case Kind::Minutes:
            length =
                moneyLength(m_minutesColumn >= 0 ? m_rows.at(r).value(m_minutesColumn).toDouble() / 60 : v.toDouble());
            break;
        case Kind::Number:
        case Kind::Text:
            length = int(v.toString().size());
            break;
        }
        if (length > longest) {
            longest = length;
            longestRow = r;
        }
    }
    return cellText(int(m_order.indexOf(longestRow)), column);
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
    case Qt::TextAlignmentRole: {
        const Kind kind = m_kinds.at(index.column());
        const bool right = kind == Kind::Money || kind == Kind::Minutes || kind == Kind::Number ||
                           (kind == Kind::Text && isNumber(rowAt(index.row()).value(index.column())));
        return QVariant(Qt::Alignment(right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    default:
        return QVariant();
    }
}

QVariant ShiftRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.count())
        return QVariant();
    const QString name = m_columns.fieldName(section);
    if (role == Qt::UserRole)
        return name;
    if (role != Qt::DisplayRole)
        return QVariant();
    // Headings a clerk reads; the column's name is the user role.
    static const QHash<QString, QString> words{
        {QStringLiteral("recno"), QStringLiteral("Record")},
        {QStringLiteral("DataSet"), QStringLiteral("Data set")},
        {QStringLiteral("Shift_Date"), QStringLiteral("Date")},
        {QStringLiteral("Adj_Time"), QStringLiteral("Adj. time")},
        {QStringLiteral("AdjustmentRate"), QStringLiteral("Adj. rate")},
        {QStringLiteral("AdjustmentTime"), QStringLiteral("Adj. minutes")},
        {QStringLiteral("id"), QStringLiteral("Id")},
        {QStringLiteral("superfee"), QStringLiteral("Superannuable")},
        {QStringLiteral("nonsuperfee"), QStringLiteral("Non-superannuable")},
    };
    return words.value(name, name);
}

void ShiftRowsModel::sort(int column, Qt::SortOrder order)
{
    beginResetModel();
    m_sortColumn = column >= 0 && column < m_columns.count() ? column : -1;
    m_sortOrder = order;
    applySort();
    endResetModel();
}

void ShiftRowsModel::applySort()
{
    m_order.resize(m_rows.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    if (m_sortColumn < 0)
        return;
    // One key per row, worked out once.
    const Kind kind = m_kinds.at(m_sortColumn);
    using Key = std::variant<double, QString>;
    std::vector<Key> keys;
    keys.reserve(m_rows.size());
    for (const QSqlRecord& row : m_rows) {
        const QVariant v = row.value(m_sortColumn);
        if (kind == Kind::Minutes && m_minutesColumn >= 0)
            keys.emplace_back(row.value(m_minutesColumn).toDouble());
        else if ((kind == Kind::Money || kind == Kind::Minutes || kind == Kind::Number) && isNumber(v))
            keys.emplace_back(v.toDouble());
        else if (kind == Kind::Date)
            keys.emplace_back(v.toString()); // ISO text sorts as the dates do
        else
            keys.emplace_back(v.toString().toCaseFolded());
    }
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(m_order.begin(), m_order.end(),
                     [&](int a, int b) { return descending ? keys[b] < keys[a] : keys[a] < keys[b]; });
}

} // namespace velmar
