#pragma once

#include <QString>

namespace velmar {

// "%0.2f" with a full stop whatever the user's locale.
QString FormatMoney(double value);

} // namespace velmar
