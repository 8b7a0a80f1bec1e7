#pragma once

#include <QByteArray>
#include <QString>

namespace velmar {

// "%0.2f" with a full stop whatever the user's locale.
QString FormatMoney(double value);

// Minutes as hours and minutes: "01:30", "-00:30", "100:00".
QString AdjustmentTimeText(qint64 minutes);

// The value "%0.2f" shows, read back: what FormatMoney prints, as a number.
double RoundedToPence(double value);

// Text from Windows programs: UTF-8 when it decodes cleanly, otherwise Windows-1252.
QString DecodeWindowsText(const QByteArray& bytes);

// A whole text file: UTF-16 or UTF-8 after a byte-order mark, otherwise as DecodeWindowsText.
QString DecodeTextFile(const QByteArray& bytes);

// Text from elsewhere (a server's reply, a settings file) as it may be shown or stored: every
// control character is a "?", so none can retitle or clear a terminal.
QString ShownText(const QString& text);

} // namespace velmar
