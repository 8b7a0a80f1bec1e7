#pragma once

#include "core/textformat.h"

#include <QString>
#include <QStringList>

namespace velmar {

// Texts made fit for the headers and the body of a message: headers carry only ASCII, and no line
// of a message is longer than 76 characters unless a single address makes it so.

// The longest line written: the most RFC 2047 and 2045 allow encoded text, and well within the
// 998 bytes of RFC 5322 that any server enforces.
inline constexpr qsizetype MaxMessageLine = 76;

bool IsAscii(const QString& text);
// The text as typed, without control characters (TAB is kept): none can go out raw.
QString WithoutControls(const QString& text);
// Inside double quotes, with '"' and '\' escaped.
QString QuotedString(const QString& text);
// A display name as the words of a header, to be joined by blanks or folded between: a quoted
// string when it is short printable ASCII; otherwise its plain words as they are and the rest as
// RFC 2047 encoded-words (UTF-8, Base64) of at most 75 characters, never splitting a character.
// Text that looks like an encoded-word is always encoded, so that readers show it as typed.
QStringList DisplayNameWords(const QString& name);
// A parameter of a MIME header ("name", "filename") as indented lines: quoted when short printable
// ASCII; otherwise in UTF-8 by RFC 2231, in numbered sections when long, followed by the name as
// near as ASCII gets (shortened to fit a line) for readers that do not know RFC 2231.
QStringList ParameterLines(const QString& parameter, const QString& value);
// The nearest ASCII: letters lose their accents, anything else becomes '_'.
QString AsciiFallback(const QString& text);
// An RFC 2231 extended parameter value: utf-8'' and the percent-encoded bytes.
QString ExtendedParameterValue(const QString& text);
// One line of text as quoted-printable (UTF-8) lines of at most 76 characters, joined by soft
// line breaks.
QStringList QuotedPrintableLines(const QString& line);

// Why the text is not one mailbox and nothing else: it must have exactly one '@' with text on
// both sides, no blank, control, non-ASCII or special character ("()<>[]:;,\ and the double
// quote), and at most 254 characters. Empty when it is one.
QString AddressFault(const QString& address);
bool IsSingleAddress(const QString& address);

} // namespace velmar
