#include "gui/programicon.h"

namespace velmar {

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/icons/velmarpay.png"));
}

} // namespace velmar
