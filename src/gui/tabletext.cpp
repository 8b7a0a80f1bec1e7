#include "gui/tabletext.h"

#include <QAbstractItemModel>

namespace velmar {

QStringList RowsAsText(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells.append(model.index(r, c).data().toString());
        rows.append(cells.join(u'\t'));
    }
    return rows;
}

} // namespace velmar
