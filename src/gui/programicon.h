#pragma once

#include <QIcon>

namespace velmar {

// The program's icon, painted rather than shipped as a file.
QIcon programIcon();

} // namespace velmar
