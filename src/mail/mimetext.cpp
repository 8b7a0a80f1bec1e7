#include "mail/mimetext.h"

#include <QByteArray>

#include <algorithm>

namespace velmar {

bool IsAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127)
            return false;
    return true;
}

QString WithoutControls(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text)
        if (c == u'\t' || c.category() != QChar::Other_Control)
            kept.append(c);
    return kept;
}

QString QuotedString(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + quoted + u'"';
}

namespace {

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() > 126)
            return false;
    return true;
}

// Short printable ASCII that no reader could take for an encoded-word goes as it is.
bool goesPlain(const QString& text, qsizetype room)
{
    return isPrintableAscii(text) && !text.contains(QStringLiteral("=?")) && QuotedString(text).size() <= room;
}

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

// Room for a name on the first line of a header, after "From: " and before the address.
constexpr qsizetype nameRoom = 60;

// Letters, digits and the few signs a word of a name may hold unquoted; "=?" would start an
// encoded-word, and a word too long for a line could not be folded.
bool isAtom(const QString& word)
{
    static const QString signs = QStringLiteral("!#$%&'*+-/=?^_`{|}~");
    if (word.isEmpty() || word.size() > nameRoom || word.contains(QStringLiteral("=?")))
        return false;
    for (const QChar c : word)
        if (c.unicode() > 127 || (!c.isLetterOrNumber() && !signs.contains(c)))
            return false;
    return true;
}

} // namespace

QStringList DisplayNameWords(const QString& name)
{
    if (goesPlain(name, nameRoom))
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

QString AddressFault(const QString& address)
{
    if (address.isEmpty())
        return QStringLiteral("it is empty");
    if (address.size() > 254)
        return QStringLiteral("it is longer than 254 characters");
    static const QString specials = QStringLiteral("()<>[]:;,\\\"");
    for (const QChar c : address) {
        const char16_t u = c.unicode();
        if (u < 32 || u == 127)
            return QStringLiteral("it holds a control character");
        if (u == ' ')
            return QStringLiteral("it holds a blank");
        if (u > 127)
            return QStringLiteral("it holds a character outside ASCII");
        if (specials.contains(c))
            return QStringLiteral("it holds '%1'").arg(c);
    }
    const qsizetype ats = address.count(u'@');
    if (ats == 0)
        return QStringLiteral("it holds no @");
    if (ats > 1)
        return QStringLiteral("it holds more than one @");
    if (address.startsWith(u'@') || address.endsWith(u'@'))
        return QStringLiteral("it needs text on both sides of the @");
    return QString();
}

bool IsSingleAddress(const QString& address)
{
    return AddressFault(address).isEmpty();
}

namespace {

// Does the percent-encoded text at i start a UTF-8 continuation byte ("%80" to "%BF")?
bool continuesCharacter(const QString& encoded, qsizetype i)
{
    return i + 1 < encoded.size() && encoded.at(i) == u'%' && QStringLiteral("89ABab").contains(encoded.at(i + 1));
}

// Where the section that starts at begin may end: within room, never inside "%XX" nor inside the
// bytes of one character.
qsizetype sectionEnd(const QString& encoded, qsizetype begin, qsizetype room)
{
    qsizetype end = std::min(encoded.size(), begin + room);
    if (end == encoded.size())
        return end;
    const qsizetype percent = encoded.lastIndexOf(u'%', end - 1);
    if (percent >= begin && percent > end - 3)
        end = percent;
    while (end > begin + 3 && continuesCharacter(encoded, end))
        end -= 3;
    return end;
}

// The ASCII name for readers that do not know RFC 2231, short enough for its line: the end (the
// extension) is kept, the middle given up.
QString fallbackName(const QString& value, qsizetype room)
{
    QString name = AsciiFallback(value).replace(QStringLiteral("=?"), QStringLiteral("=_"));
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot >= 0 && name.size() - dot <= 8 ? name.mid(dot) : QString();
    QString stem = name.chopped(extension.size());
    while (!stem.isEmpty() && QuotedString(stem + extension).size() > room)
        stem.chop(1);
    return stem + extension;
}

} // namespace

QStringList ParameterLines(const QString& parameter, const QString& value)
{
    const QString indent = QStringLiteral("        ");
    const QString head = indent + parameter + u'=';
    if (goesPlain(value, MaxMessageLine - head.size()))
        return {head + QuotedString(value)};
    const QString encoded = ExtendedParameterValue(value);
    QStringList lines{indent + parameter + QStringLiteral("*=") + encoded + u';'};
    if (lines.first().size() > MaxMessageLine) {
        lines.clear();
        for (qsizetype begin = 0, n = 0; begin < encoded.size(); ++n) {
            const QString section = indent + parameter + u'*' + QString::number(n) + QStringLiteral("*=");
            const qsizetype end = sectionEnd(encoded, begin, MaxMessageLine - section.size() - 1);
            lines.append(section + encoded.mid(begin, end - begin) + u';');
            begin = end;
        }
    }
    lines.append(head + QuotedString(fallbackName(value, MaxMessageLine - head.size())));
    return lines;
}

} // namespace velmar
