#pragma once

#include <QByteArray>
#include <QString>

namespace velmar {

// "%0.2f" with a full stop whatever the user's locale.
QString FormatMoney(double value);

// The value "%0.2f" shows, read back: what FormatMoney prints, as a number.
double RoundedToPence(double value);

// Text from Windows programs: UTF-8 when it decodes cleanly, otherwise Windows-1252.
QString DecodeWindowsText(const QByteArray& bytes);

// A whole text file: UTF-16 or UTF-8 after a byte-order mark, otherwise as DecodeWindowsText.
QString DecodeTextFile(const QByteArray& bytes);

} // namespace velmar
