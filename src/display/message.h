// The programs' one-line messages on standard error, and texts from an
// archive made fit to show in a line.
//
// Names, stamp values and libarchive's words come from archives and can
// hold anything: shown in a line they must keep it one line and must not
// drive the terminal.
#pragma once

#include <cstdarg>
#include <string>

// How printable() shows a control character (below 0x20, and 0x7f).
enum class a_control_shown {
  kQuestionMark,  // "?": kestrel's messages
  kHexEscape,     // "\xNN": tictool dump, which shows every byte
};

// |text| with its control characters shown as |shown| says.
std::string printable(const std::string& text, a_control_shown shown = a_control_shown::kQuestionMark);

// Writes "<program>: <text>\n" on standard error, in one write.
void complain_as(const char* program, const std::string& text);
// The same, with the text formatted as vprintf does.
void vcomplain_as(const char* program, const char* format, va_list args);
