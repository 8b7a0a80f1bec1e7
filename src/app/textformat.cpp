#include "app/textformat.h"

namespace velmar {

QString FormatMoney(double value)
{
    // QString::asprintf formats numbers in the C locale, unlike std::snprintf after setlocale.
    return QString::asprintf("%0.2f", value);
}

} // namespace velmar
