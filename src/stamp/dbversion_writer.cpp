// The archive builder's version stamp block, composed in memory.
//
// Entries, in this order:
//
//   MODULE         product name of the archive
//   VERSION_MAJOR  VERSION_MINOR  VERSION_PATCH  BUILD_NUMBER  (the header's)
//   PLATFORM       the environment variable PLATFORM, empty when unset
//   DATE  TIME     local time of writing, "%Y/%m/%d" and "%H:%M:%S%z"
//   HOST           host name, empty when it cannot be had
//   THREADS=nothr  POINTERSIZE=0
//   MACHINE        processor architecture: X86_64, IA64 or X86
//   PRODUCTION=production
//   UNAME          "<os name> <release> <version> <X86_64|X86>"
//   IDENT          "<product>/<maj>.<min>.<patch>/P/<machine>/<os>/<build>/OPT/<date>"
//
// The archive's block carries no extensions.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stamp/dbversion_writer.h"

#include "platform/system_info.h"

namespace {

// Builds the block's text in a fixed buffer. The last byte is never written,
// so the closing empty entry (one more NUL) always fits behind the text.
class StampText {
 public:
  StampText(char* buffer, size_t size) : buffer_(buffer), limit_(size - 1) { std::memset(buffer, 0, size); }

  void text(const char* s) {
    while (*s != '\0' && length_ < limit_) buffer_[length_++] = *s++;
  }
  void number(unsigned long value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lu", value);
    text(digits);
  }
  // Ends the current entry with its NUL.
  void end_entry() {
    if (length_ < limit_) buffer_[length_++] = '\0';
  }
  void entry(const char* key, const char* value) {
    text(key);
    text("=");
    text(value);
    end_entry();
  }
  void entry(const char* key, unsigned long value) {
    text(key);
    text("=");
    number(value);
    end_entry();
  }
  // Everything written plus the closing empty entry.
  size_t block_length() const { return length_ + 1; }

 private:
  char* buffer_;
  size_t limit_;
  size_t length_ = 0;
};

}  // namespace

size_t compose_archive_stamp(const a_stamp_version& version, time_t now, char (&block)[kStampDataSize]) {
  struct tm local;
  std::memset(&local, 0, sizeof local);
  localtime_r(&now, &local);

  char date[64], time_of_day[64], ident_date[128];
  if (strftime(date, sizeof date, "%Y/%m/%d", &local) == 0) date[0] = '\0';
  if (strftime(time_of_day, sizeof time_of_day, "%H:%M:%S%z", &local) == 0) time_of_day[0] = '\0';
  if (strftime(ident_date, sizeof ident_date, "%a %b %d %T %Z %Y", &local) == 0) ident_date[0] = '\0';

  SystemInfoText host, os, machine, kernel;
  GetMachineHostName(host);
  GetOSVersionString(os);
  GetNativeProcessorArchitecture(machine);
  GetOSProcessorArchitecture(kernel);
  const char* platform = std::getenv("PLATFORM");

  StampText out(block, sizeof block);
  out.text(kStampMarker);
  out.entry("MODULE", version.product.c_str());
  out.entry("VERSION_MAJOR", version.major);
  out.entry("VERSION_MINOR", version.minor);
  out.entry("VERSION_PATCH", version.patch);
  out.entry("BUILD_NUMBER", version.build);
  out.entry("PLATFORM", platform != nullptr ? platform : "");
  out.entry("DATE", date);
  out.entry("TIME", time_of_day);
  out.entry("HOST", host);
  out.entry("THREADS", "nothr");
  out.entry("POINTERSIZE", "0");
  out.entry("MACHINE", machine);
  out.entry("PRODUCTION", "production");

  out.text("UNAME=");
  out.text(os);
  out.text(std::strcmp(kernel, "amd64") == 0 ? " X86_64" : " X86");
  out.end_entry();

  out.text("IDENT=");
  out.text(version.product.c_str());
  out.text("/");
  out.number(version.major);
  out.text(".");
  out.number(version.minor);
  out.text(".");
  out.number(version.patch);
  out.text("/P/");
  out.text(machine);
  out.text("/");
  out.text(os);
  out.text("/");
  out.number(version.build);
  out.text("/OPT/");
  out.text(ident_date);
  out.end_entry();
  return out.block_length();
}
