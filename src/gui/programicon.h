#pragma once

#include <QIcon>

namespace velmar {

// The program's icon, the picture the desktop menu shows for it.
QIcon programIcon();

} // namespace velmar
