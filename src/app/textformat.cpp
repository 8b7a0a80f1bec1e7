#include "app/textformat.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <locale.h>

namespace velmar {

QString FormatMoney(double value)
{
    // The C library's own rounding, but always with a full stop: the C locale for this thread
    // only, whatever the program or the user set.
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(cLocale);
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%0.2f", value);
    uselocale(previous);
    if (n < 0)
        return QString();
    if (n >= int(sizeof buffer)) {
        // Only absurd amounts get here; format them in full rather than cut.
        QByteArray big(n + 1, '\0');
        uselocale(cLocale);
        std::snprintf(big.data(), big.size(), "%0.2f", value);
        uselocale(previous);
        return QString::fromLatin1(big.constData(), n);
    }
    return QString::fromLatin1(buffer, n);
}

double RoundedToPence(double value)
{
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(cLocale);
    char buffer[400];
    const int n = std::snprintf(buffer, sizeof buffer, "%0.2f", value);
    uselocale(previous);
    double result = 0;
    if (n > 0 && n < int(sizeof buffer))
        std::from_chars(buffer, buffer + n, result);
    else
        result = value;
    return result;
}

} // namespace velmar
