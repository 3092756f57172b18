// The text form that minisign's key and signature files share: lines of
// comments and of base64.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

// The first line of every key and signature file begins with this.
constexpr std::string_view kUntrustedCommentPrefix = "untrusted comment:";
// The third line of a signature file: the prefix, then the comment the
// global signature covers.
constexpr std::string_view kTrustedCommentPrefix = "trusted comment: ";

// The lines of |text| without their line ends ("\n" or "\r\n"). A last line
// without a line end counts; trailing empty lines are dropped, so a file
// that ends in blank lines has the lines of one that does not.
std::vector<std::string_view> minisign_lines(std::string_view text);

// Decodes |line|, standard base64 with padding, into exactly |size| bytes:
// false when it is not base64 or holds another number of bytes.
bool decode_minisign_base64(std::string_view line, unsigned char* out, size_t size);

// Key and signature files are a few hundred bytes; a longer file is none.
constexpr size_t kMinisignFileLimit = 64 * 1024;

// The text of the small file |path| (a regular file, or a link to one); a
// failure of kStepMinisignFile about |path| with the system's reason, "not
// a regular file" or "file too large". Its errno is ENOENT when the file
// does not exist.
Result<std::string> read_minisign_file(const std::string& path);
