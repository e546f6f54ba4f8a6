#pragma once

#include <QString>
#include <QUrl>

#include "ini/Config.h"
#include "ini/ParseError.h"
#include "ini/TextFile.h"

namespace ov {

// The INI reader. The text is a sequence of sections, each "[" name "]"
// followed by settings "key=value" and ";" comments, with comments also
// allowed between sections. Blanks and line breaks (LF, CR, CR LF, U+2028,
// U+2029) between the parts are skipped, so a value may start on a later line;
// a value runs to the end of its line, trailing blanks included. A value that
// itself holds "=" is taken for the next setting: the key before it gets the
// empty value. A key is a run of letters, marks or numbers and then anything
// up to "=", with blanks trimmed at both ends; blanks and line breaks right
// after the run are dropped ("Display Name" reads "DisplayName"). A "["
// without "]" takes the rest of the text as its name; "#" does not start a
// comment.
// Reading takes time linear in the text. Every function here keeps no state
// between calls and may run on any thread.
//
// Throws ParseError: invalidSyntax when a section or setting is begun but
// malformed (an empty name, a key without "=", a "=" with no value before the
// end of the text), unsupportedToken when a line starts with anything else;
// the position is that of the failing step (for unsupportedToken, the token).
Config parseINI(const QString& string);

// Reads the whole file as text (see decodeText) and parses it. Named apart
// from parseINI because a second QString overload could not be told apart.
// Throws IniReadError when the file cannot be read or is not valid text, and
// ParseError as parseINI does.
Config parseINIFile(const QString& filename);

// parseINIFile for a file URL; a URL that is not a local file throws IniReadError.
Config parseINI(const QUrl& filenameURL);

}  // namespace ov
