#include "mail/base64encoder.h"

#include <QIODevice>

namespace velmar {

QString EncodeBase64(QIODevice& stream, int count, QString* error)
{
    if (count < 0 || count % 3 != 0) {
        *error = QStringLiteral("Base64 count %1 is not a multiple of 3").arg(count);
        return QString();
    }
    const QByteArray bytes = stream.read(count);
    if (bytes.isEmpty() && count > 0 && !stream.atEnd()) {
        *error = stream.errorString();
        return QString();
    }
    return QString::fromLatin1(bytes.toBase64());
}

QStringList Base64Lines(const QByteArray& data)
{
    // Encoding the whole at once and cutting every 72 characters gives the same lines as
    // encoding 54 bytes at a time, since 54 bytes never need padding.
    const QByteArray text = data.toBase64();
    constexpr qsizetype lineLength = Base64LineBytes / 3 * 4;
    QStringList lines;
    lines.reserve(text.size() / lineLength + 1);
    for (qsizetype at = 0; at < text.size(); at += lineLength)
        lines.append(QString::fromLatin1(text.mid(at, lineLength)));
    return lines;
}

} // namespace velmar
