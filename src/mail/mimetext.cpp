#include "mail/mimetext.h"

#include <QByteArray>

namespace velmar {

bool IsAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127)
            return false;
    return true;
}

QString QuotedString(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + quoted + u'"';
}

namespace {

QStringList encodedWords(const QString& text)
{
    // 39 bytes give 52 characters of Base64, 64 with "=?utf-8?B?" and "?=": short enough to
    // follow "From: " within the 76 characters a line with encoded-words may have.
    constexpr qsizetype maxBytes = 39;
    QStringList words;
    QByteArray chunk;
    const auto flush = [&] {
        words.append(QStringLiteral("=?utf-8?B?") + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?="));
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        i += length - 1;
        if (chunk.size() + bytes.size() > maxBytes)
            flush();
        chunk.append(bytes);
    }
    if (!chunk.isEmpty() || words.isEmpty())
        flush();
    return words;
}

// Letters, digits and the few signs a word of a name may hold unquoted; "=?" would start an
// encoded-word.
bool isAtom(const QString& word)
{
    static const QString signs = QStringLiteral("!#$%&'*+-/=?^_`{|}~");
    if (word.isEmpty() || word.contains(QStringLiteral("=?")))
        return false;
    for (const QChar c : word)
        if (c.unicode() > 127 || (!c.isLetterOrNumber() && !signs.contains(c)))
            return false;
    return true;
}

} // namespace

QStringList DisplayNameWords(const QString& name)
{
    if (IsAscii(name))
        return {QuotedString(name)};
    // Neighbouring words that need encoding go into the same encoded-words, blanks and all:
    // readers differ on the blank between two encoded-words, never on one beside a plain word.
    QStringList words;
    QStringList run;
    const auto endRun = [&] {
        if (!run.isEmpty())
            words.append(encodedWords(run.join(u' ')));
        run.clear();
    };
    for (const QString& word : name.split(u' ')) {
        if (isAtom(word)) {
            endRun();
            words.append(word);
        } else {
            run.append(word);
        }
    }
    endRun();
    return words;
}

QString AsciiFallback(const QString& text)
{
    QString ascii;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.unicode() < 128)
            ascii.append(c);
        else if (c.category() != QChar::Mark_NonSpacing && !c.isLowSurrogate())
            ascii.append(u'_');
    }
    return ascii;
}

QString ExtendedParameterValue(const QString& text)
{
    // RFC 2231 attribute-char: any ASCII letter, digit or !#$&+-.^_`|~ stays as it is.
    return QStringLiteral("utf-8''") + QString::fromLatin1(text.toUtf8().toPercentEncoding("!#$&+.^_`|~"));
}

QStringList QuotedPrintableLines(const QString& line)
{
    constexpr qsizetype maxLength = 76;
    const QByteArray bytes = line.toUtf8();
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes.at(i));
        const bool last = i + 1 == bytes.size();
        // Blanks at the end of a line are lost on the way: those are encoded too.
        const bool plain = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !last);
        const QString piece = plain ? QString(QChar(char16_t(byte))) : QString::asprintf("=%02X", byte);
        // Room is kept for the "=" of a soft line break, except on the final piece.
        if (current.size() + piece.size() > maxLength - (last ? 0 : 1)) {
            lines.append(current + u'=');
            current.clear();
        }
        current += piece;
    }
    lines.append(current);
    return lines;
}

bool IsSingleAddress(const QString& address)
{
    if (address.isEmpty() || address.size() > 254 || address.count(u'@') != 1 || address.startsWith(u'@') ||
        address.endsWith(u'@'))
        return false;
    for (const QChar c : address) {
        const char16_t u = c.unicode();
        if (u <= 32 || u >= 127 || u == '<' || u == '>' || u == ',' || u == ';')
            return false;
    }
    return true;
}

} // namespace velmar
