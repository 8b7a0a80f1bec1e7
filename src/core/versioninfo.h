#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace velmar {

// One language and code page of a version block's translation table.
struct VersionTranslation
{
    quint16 language = 0;
    quint16 codePage = 0;
};

// Version information carried by an executable. The build compiles a block of "path=value" lines,
// led by a marker, into the program; this reads it back from the file, so the texts of the about
// box live in one place, the build. Paths are looked up without regard to case, for example
// "\VarFileInfo\Translation" and "\StringFileInfo\080904E4\ProductName".
class VersionInfo
{
public:
    // Reads the block of the file. False, and no values, when the file cannot be read or carries none.
    bool load(const QString& executablePath);
    // Parses the text after the marker, up to its closing NUL. False when it is not a block.
    bool parse(const QByteArray& body);

    bool isEmpty() const { return m_values.isEmpty(); }
    // False when the path is not in the block.
    bool query(const QString& path, QString* value) const;
    // "\VarFileInfo\Translation": pairs of four hex digits each ("080904E4"), separated by blanks.
    QList<VersionTranslation> translations() const;

private:
    QHash<QString, QString> m_values; // lower-case path -> value
};

// The bytes that lead a version block.
QByteArray VersionBlockMarker();

} // namespace velmar
