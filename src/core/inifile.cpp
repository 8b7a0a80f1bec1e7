#include "core/inifile.h"

#include "core/textformat.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <charconv>
#include <limits>
#include <optional>

#include <locale.h>
#include <stdlib.h>

namespace velmar {

namespace {

constexpr int kMaxValueLength = 2047;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

QString stripValue(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value.left(kMaxValueLength);
}

int hexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

} // namespace

double StrToNumber(QStringView text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && isBlank(text.at(i)))
        ++i;
    // The longest leading decimal number, gathered as ASCII for a locale-free conversion.
    QVarLengthArray<char, 64> number;
    auto isDigit = [&](int at) { return at < n && text.at(at) >= u'0' && text.at(at) <= u'9'; };
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    int digits = 0;
    for (; isDigit(i); ++i, ++digits)
        number.append(char(text.at(i).unicode()));
    if (i < n && text.at(i) == u'.') {
        number.append('.');
        for (++i; isDigit(i); ++i, ++digits)
            number.append(char(text.at(i).unicode()));
    }
    if (digits == 0)
        return 0;
    if (i < n && (text.at(i) == u'e' || text.at(i) == u'E')) {
        int j = i + 1;
        QVarLengthArray<char, 16> exponent{'e'};
        if (j < n && (text.at(j) == u'+' || text.at(j) == u'-'))
            exponent.append(char(text.at(j++).unicode()));
        if (isDigit(j)) {
            for (; isDigit(j); ++j)
                exponent.append(char(text.at(j).unicode()));
            number.append(exponent.constData(), exponent.size());
        }
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(number.constData(), number.constData() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Beyond a double either way: infinity or (next to) zero, as strtod gives them.
        static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
        number.append('\0');
        value = strtod_l(number.constData(), nullptr, cLocale);
    }
    return negative ? -value : value;
}

long StrToLong(const QString& text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && isBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    // Too many digits stop at the largest long, as strtol does; wrapping round would be undefined.
    constexpr long kMax = std::numeric_limits<long>::max();
    long value = 0;
    bool saturated = false;
    for (; i < n && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9'; ++i) {
        const int digit = text.at(i).unicode() - '0';
        if (value > (kMax - digit) / 10)
            saturated = true;
        else
            value = value * 10 + digit;
    }
    if (saturated)
        return negative ? std::numeric_limits<long>::min() : kMax;
    return negative ? -value : value;
}

bool StrToIntStrict(const QString& raw, int* out)
{
    const QString text = raw.trimmed();
    qint64 value = 0;
    bool negative = false;
    int i = 0;
    int base = 10;
    if (text.startsWith(u'-')) {
        negative = true;
        ++i;
    } else if (text.startsWith(u'+')) {
        ++i;
    }
    if (text.mid(i).startsWith(u'$')) {
        base = 16;
        i += 1;
    } else if (text.size() - i > 2 && (text.mid(i, 2) == u"0x" || text.mid(i, 2) == u"0X")) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i) {
        const int d = hexDigit(text.at(i));
        if (d < 0 || d >= base)
            return false;
        value = value * base + d;
        if (value > 0xFFFFFFFFLL)
            return false;
    }
    if (base == 10 && value > (negative ? 2147483648LL : 2147483647LL))
        return false;
    // Hexadecimal values fill all 32 bits, as $FFFFFFFF is -1.
    *out = static_cast<int>(static_cast<quint32>(negative ? -value : value));
    return true;
}

namespace {

// UTF-16 written without its byte-order mark: text of Latin letters leaves every other byte zero.
std::optional<QStringConverter::Encoding> unmarkedUtf16(const QByteArray& bytes)
{
    if (bytes.size() < 4 || QStringConverter::encodingForData(bytes))
        return std::nullopt;
    qsizetype zeroEven = 0;
    qsizetype zeroOdd = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        zeroEven += bytes.at(i) == 0;
        zeroOdd += bytes.at(i + 1) == 0;
    }
    const qsizetype pairs = bytes.size() / 2;
    if (zeroOdd * 2 > pairs && zeroEven == 0)
        return QStringConverter::Utf16LE;
    if (zeroEven * 2 > pairs && zeroOdd == 0)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

} // namespace

IniFile::IniFile(const QString& path)
{
    QFile file(path);
    if (QFileInfo(path).isDir()) {
        m_error = QStringLiteral("it is a folder");
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return;
    }
    const QByteArray bytes = file.readAll();
    if (const auto utf16 = unmarkedUtf16(bytes)) {
        QStringDecoder decoder(*utf16);
        parse(decoder(bytes));
        return;
    }
    parse(DecodeTextFile(bytes));
}

IniFile IniFile::fromText(const QString& text)
{
    IniFile ini;
    ini.parse(text);
    return ini;
}

void IniFile::parse(const QString& text)
{
    Section* current = nullptr;
    // Lines end in CR LF, LF or a lone CR.
    QString unified = text;
    unified.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    const QStringList lines = unified.split(u'\n');
    int number = 0;
    for (const QString& rawLine : lines) {
        ++number;
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const int close = line.indexOf(u']');
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            current = const_cast<Section*>(findSection(name));
            if (!current) {
                m_sections.append(Section{name, number, {}});
                current = &m_sections.last();
            }
            continue;
        }
        const int eq = line.indexOf(u'=');
        if (!current || eq <= 0) {
            m_stray.append({number, line});
            continue;
        }
        current->entries.append({line.left(eq).trimmed(), line.mid(eq + 1), number});
    }
}

const IniFile::Section* IniFile::findSection(const QString& name) const
{
    for (const Section& s : m_sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const QString* IniFile::findRaw(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return nullptr;
    for (const Entry& entry : s->entries)
        if (entry.key.compare(key, Qt::CaseInsensitive) == 0)
            return &entry.value;
    return nullptr;
}

bool IniFile::hasKey(const QString& section, const QString& key) const
{
    return findRaw(section, key) != nullptr;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QString* raw = findRaw(section, key);
    return raw ? stripValue(*raw) : defaultValue;
}

double IniFile::readNumber(const QString& section, const QString& key, const QString& defaultValue) const
{
    return StrToNumber(readString(section, key, defaultValue));
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return StrToIntStrict(readString(section, key, QString()), &value) ? value : defaultValue;
}

bool IniFile::readFlag(const QString& section, const QString& key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList result;
    if (const Section* s = findSection(section))
        for (const Entry& entry : s->entries)
            result.append(entry.key);
    return result;
}

QStringList IniFile::sectionValues(const QString& section) const
{
    QStringList result;
    for (const QString& key : keys(section))
        result.append(readString(section, key, QString()));
    return result;
}

} // namespace velmar
