#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace velmar {

// Reads a Windows-style initialisation file. Section and key names are matched without regard
// to case; values come back trimmed, with one pair of enclosing quotes removed, and cut at
// 2047 characters. The file is never written.
class IniFile
{
public:
    IniFile() = default;
    // A missing or unreadable file behaves as an empty one; error() then says why.
    explicit IniFile(const QString& path);
    static IniFile fromText(const QString& text);

    struct Entry
    {
        QString key;
        QString value; // raw: untrimmed, quotes kept
        int line = 0;
    };
    struct Section
    {
        QString name;
        int line = 0;
        QList<Entry> entries; // a section given twice gathers both
    };
    // A line that is no section, comment or key=value of a section, which the reader skips.
    struct StrayLine
    {
        int line = 0;
        QString text;
    };
    const QList<Section>& sections() const { return m_sections; }
    const QList<StrayLine>& strayLines() const { return m_stray; }
    // Why the file could not be read; empty when it was.
    QString error() const { return m_error; }

    bool hasKey(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    // strtod-like: longest leading decimal number, 0 when there is none; a missing key gives
    // the default converted the same way.
    double readNumber(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal, $hex or 0xhex; anything else gives the default.
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    bool readFlag(const QString& section, const QString& key, bool defaultValue) const;
    // Keys of a section in file order.
    QStringList keys(const QString& section) const;
    // Values of a section in file order (each key's value as readString returns it).
    QStringList sectionValues(const QString& section) const;

private:
    void parse(const QString& text);
    const Section* findSection(const QString& name) const;
    const QString* findRaw(const QString& section, const QString& key) const;

    QList<Section> m_sections;
    QList<StrayLine> m_stray;
    QString m_error;
};

// Number conversions shared with the payment-file import; never locale-dependent.
double StrToNumber(QStringView text);               // like strtod: 12.5% gives 12.5, junk gives 0
long StrToLong(const QString& text);                // like atol
bool StrToIntStrict(const QString& text, int* out); // whole text: decimal, $hex, 0xhex

} // namespace velmar
