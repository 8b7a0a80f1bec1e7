#pragma once

#include <QString>

namespace velmar {

// "%0.2f" with a full stop whatever the user's locale.
QString FormatMoney(double value);

// The value "%0.2f" shows, read back: what FormatMoney prints, as a number.
double RoundedToPence(double value);

} // namespace velmar
