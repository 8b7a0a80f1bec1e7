#pragma once

#include <QStringList>

class QAbstractItemModel;

namespace velmar {

// The rows a model shows, each as its cells' texts joined by tabs: what a clerk copies.
QStringList RowsAsText(const QAbstractItemModel& model);

} // namespace velmar
