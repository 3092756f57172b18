// The programs' one-line messages on standard error, and texts from an
// archive made fit to show in a line.
//
// Names, stamp values and libarchive's words come from archives and can
// hold anything: shown in a line they must keep it one line and must not
// drive the terminal.
#pragma once

#include <cstdarg>
#include <string>

// |text| as it may be shown: on the progress line, in the install log, in
// one-line messages, in listings and dumps.
//
// An archive's names can hold any byte but NUL. Shown raw, a line break
// would end a log line early (a name "a\nok" would end the log of a failed
// install in "ok"), a carriage return would fake a progress line and an
// escape sequence would drive the terminal. So every control character is
// shown as a C-style hexadecimal escape "\xHH" (lower-case hex digits), one
// per byte:
//   - the bytes 0x00 to 0x1f and 0x7f;
//   - the C1 controls U+0080 to U+009F written in UTF-8 (both bytes: "\xc2\x9b");
//   - a byte 0x80 to 0x9f that is not part of a UTF-8 character (a C1
//     control to a terminal that reads single bytes).
// Every other byte passes unchanged, so UTF-8 and other non-ASCII names show
// as they are, and a name without control characters shows byte for byte.
// A backslash is not escaped: "\x0a" in the output is either a name holding
// a line break, which no installed file can have, or one spelled that way.
std::string printable(const std::string& text);

// Writes "<program>: <text>\n" on standard error, in one write.
void complain_as(const char* program, const std::string& text);
// The same, with the text formatted as vprintf does.
void vcomplain_as(const char* program, const char* format, va_list args);
