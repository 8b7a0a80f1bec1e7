#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

namespace velmar {

// Bytes taken for one line of Base64 text: 54 bytes give exactly 72 characters.
inline constexpr int Base64LineBytes = 54;

// Base64 (RFC 2045 alphabet, "=" padding) of the next min(count, bytes left) bytes of the
// stream, advancing it by as many; one text without line breaks. The count must be a multiple
// of 3 so that only the last piece of a stream is ever padded; otherwise, or when the stream
// cannot be read, returns a null text and sets *error.
QString EncodeBase64(QIODevice& stream, int count, QString* error);

// The whole of data as Base64 lines of 72 characters, the last one shorter; no lines for no data.
// The same lines as EncodeBase64 with the count 54 called until the data is used up.
QStringList Base64Lines(const QByteArray& data);

} // namespace velmar
