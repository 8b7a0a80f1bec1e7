#include "core/textformat.h"

#include <QStringDecoder>
#include <QVarLengthArray>

#include <charconv>
#include <clocale>
#include <cstdio>
#include <locale.h>

namespace velmar {

namespace {

// "%0.2f" by the C library's own rounding, but always with a full stop: the C locale for this
// thread only, whatever the program or the user set.
QVarLengthArray<char, 64> formatTwoDecimals(double value)
{
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    QVarLengthArray<char, 64> text(64);
    const locale_t previous = uselocale(cLocale);
    int n = std::snprintf(text.data(), text.size(), "%0.2f", value);
    if (n >= text.size()) {
        // Only absurd amounts get here; format them in full rather than cut.
        text.resize(n + 1);
        n = std::snprintf(text.data(), text.size(), "%0.2f", value);
    }
    uselocale(previous);
    text.resize(n < 0 ? 0 : n);
    return text;
}

} // namespace

QString FormatMoney(double value)
{
    const auto text = formatTwoDecimals(value);
    return QString::fromLatin1(text.constData(), text.size());
}

QString AdjustmentTimeText(qint64 minutes)
{
    const qint64 size = qAbs(minutes);
    return QString::asprintf("%s%02lld:%02lld", minutes < 0 ? "-" : "", size / 60, size % 60);
}

double RoundedToPence(double value)
{
    const auto text = formatTwoDecimals(value);
    double result = value;
    std::from_chars(text.constData(), text.constData() + text.size(), result);
    return result;
}

QString DecodeWindowsText(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    static const QByteArray replacement("\xEF\xBF\xBD");
    if (!text.contains(QChar::ReplacementCharacter) || bytes.contains(replacement))
        return text;
    QStringDecoder cp1252("windows-1252");
    return cp1252.isValid() ? QString(cp1252(bytes)) : QString::fromLatin1(bytes);
}

QString DecodeTextFile(const QByteArray& bytes)
{
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes);
    if (marked && *marked != QStringConverter::Utf8) {
        QStringDecoder decoder(*marked);
        return decoder(bytes);
    }
    // fromUtf8 drops a UTF-8 byte-order mark by itself.
    return DecodeWindowsText(bytes);
}

QString ShownText(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown)
        if (c.category() == QChar::Other_Control)
            c = u'?';
    return shown;
}

} // namespace velmar
