// The archive builder's version stamp block, composed in memory.
//
// Entries, in this order:
//
//   MODULE         product name of the archive
//   VERSION_MAJOR  VERSION_MINOR  VERSION_PATCH  BUILD_NUMBER  (the header's)
//   PLATFORM       the environment variable PLATFORM, empty when unset
//   DATE  TIME     time of writing, "%Y/%m/%d" and "%H:%M:%S%z"
//   HOST           host name, empty when it cannot be had
//   THREADS=nothr  POINTERSIZE=0
//   MACHINE        processor architecture: X86_64, IA64 or X86
//   PRODUCTION=production
//   UNAME          "<os name> <release> <version> <X86_64|X86>"
//   IDENT          "<product>/<maj>.<min>.<patch>/P/<machine>/<os>/<build>/OPT/<date>"
//
// The archive's block carries no extensions.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stamp/dbversion_writer.h"

#include "platform/system_info.h"
#include "stamp/stamp_steps.h"

namespace {

std::string formatted(const char* format, const struct tm& when) {
  char text[128];
  if (strftime(text, sizeof text, format, &when) == 0) return "";
  return text;
}

struct tm broken_down(const a_stamp_time& time) {
  struct tm when;
  std::memset(&when, 0, sizeof when);
  if (time.utc)
    gmtime_r(&time.when, &when);
  else
    localtime_r(&time.when, &when);
  return when;
}

// The value of the entry |key| (compared as the readers compare), or empty.
std::string value_of(const a_stamp_entries& entries, const char* key) {
  for (const a_stamp_entry& entry : entries)
    if (strcasecmp(entry.key.c_str(), key) == 0) return entry.value;
  return "";
}

// UNAME without the instruction set that ends it.
std::string os_of(const std::string& uname) {
  for (const char* arch : {" X86_64", " X86"}) {
    const size_t length = std::strlen(arch);
    if (uname.size() >= length && uname.compare(uname.size() - length, length, arch) == 0)
      return uname.substr(0, uname.size() - length);
  }
  return uname;
}

}  // namespace

std::string stamp_ident(const a_stamp_entries& entries, const a_stamp_time& time) {
  // strftime names UTC "GMT"; a reproducible stamp says what it is.
  const std::string date = formatted(time.utc ? "%a %b %d %T UTC %Y" : "%a %b %d %T %Z %Y", broken_down(time));
  return value_of(entries, "MODULE") + "/" + value_of(entries, "VERSION_MAJOR") + "." +
         value_of(entries, "VERSION_MINOR") + "." + value_of(entries, "VERSION_PATCH") + "/P/" +
         value_of(entries, "MACHINE") + "/" + os_of(value_of(entries, "UNAME")) + "/" +
         value_of(entries, "BUILD_NUMBER") + "/OPT/" + date;
}

a_stamp_entries archive_stamp_entries(const a_stamp_version& version, const a_stamp_time& time) {
  const struct tm when = broken_down(time);

  SystemInfoText host, os, machine, kernel;
  GetMachineHostName(host);
  GetOSVersionString(os);
  GetNativeProcessorArchitecture(machine);
  GetOSProcessorArchitecture(kernel);
  const char* platform = std::getenv("PLATFORM");
  const std::string uname = std::string(os) + (std::strcmp(kernel, "amd64") == 0 ? " X86_64" : " X86");

  a_stamp_entries entries{
      {"MODULE", version.product},
      {"VERSION_MAJOR", std::to_string(version.major)},
      {"VERSION_MINOR", std::to_string(version.minor)},
      {"VERSION_PATCH", std::to_string(version.patch)},
      {"BUILD_NUMBER", std::to_string(version.build)},
      {"PLATFORM", platform != nullptr ? platform : ""},
      {"DATE", formatted("%Y/%m/%d", when)},
      {"TIME", formatted("%H:%M:%S%z", when)},
      {"HOST", host},
      {"THREADS", "nothr"},
      {"POINTERSIZE", "0"},
      {"MACHINE", machine},
      {"PRODUCTION", "production"},
      {"UNAME", uname},
  };
  entries.push_back({"IDENT", stamp_ident(entries, time)});
  return entries;
}

void set_stamp_entry(a_stamp_entries& entries, const std::string& key, const std::string& value) {
  for (a_stamp_entry& entry : entries) {
    if (strcasecmp(entry.key.c_str(), key.c_str()) == 0) {
      entry.value = value;
      return;
    }
  }
  entries.push_back({key, value});
}

Outcome valid_stamp_entry(const std::string& key, const std::string& value) {
  auto refuse = [&key](const char* why) { return refusal_of(kStepStampEntry, key, why); };
  if (key.empty()) return refuse("empty key");
  if (key.find('=') != std::string::npos) return refuse("\"=\" in the key");
  if (key.find('\0') != std::string::npos) return refuse("NUL in the key");
  if (value.find('=') != std::string::npos) return refuse("\"=\" in the value");
  if (value.find('\0') != std::string::npos) return refuse("NUL in the value");
  return Outcome();
}

size_t stamp_block_length(const a_stamp_entries& entries) {
  size_t length = kStampMarkerLength + 1;
  for (const a_stamp_entry& entry : entries) length += entry.key.size() + 1 + entry.value.size() + 1;
  return length;
}

bool stamp_fits(const a_stamp_entries& entries) {
  return entries.size() <= kStampMaxArgs && stamp_block_length(entries) <= kStampDataSize;
}

size_t compose_stamp(const a_stamp_entries& entries, char (&block)[kStampDataSize]) {
  std::memset(block, 0, sizeof block);
  // The last byte is never written, so the closing empty entry (one more
  // NUL) always fits behind the text.
  const size_t limit = sizeof block - 1;
  size_t length = 0;
  auto text = [&](const std::string& s) {
    for (size_t i = 0; i < s.size() && length < limit; ++i) block[length++] = s[i];
  };
  text(std::string(kStampMarker, kStampMarkerLength));
  for (const a_stamp_entry& entry : entries) {
    text(entry.key);
    text("=");
    text(entry.value);
    if (length < limit) block[length++] = '\0';
  }
  return length + 1;
}

size_t compose_archive_stamp(const a_stamp_version& version, time_t now, char (&block)[kStampDataSize]) {
  a_stamp_time time;
  time.when = now;
  return compose_stamp(archive_stamp_entries(version, time), block);
}
