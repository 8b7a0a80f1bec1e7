#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

// Texts made fit for the headers and the body of a message: headers carry only ASCII.

bool IsAscii(const QString& text);
// Inside double quotes, with '"' and '\' escaped.
QString QuotedString(const QString& text);
// A display name as the words of a header, to be joined by blanks: a quoted string when it is
// ASCII; otherwise its plain words as they are and the rest as RFC 2047 encoded-words (UTF-8,
// Base64) of at most 75 characters, never splitting a character.
QStringList DisplayNameWords(const QString& name);
// The nearest ASCII: letters lose their accents, anything else becomes '_'.
QString AsciiFallback(const QString& text);
// An RFC 2231 extended parameter value: utf-8'' and the percent-encoded bytes.
QString ExtendedParameterValue(const QString& text);
// One line of text as quoted-printable (UTF-8) lines of at most 76 characters, joined by soft
// line breaks.
QStringList QuotedPrintableLines(const QString& line);

// One mailbox and nothing else: exactly one '@' with text on both sides, no '<', '>', ',', ';',
// blank, control or non-ASCII character, at most 254 characters.
bool IsSingleAddress(const QString& address);

} // namespace velmar
