// kestrel's own version stamp and the TARNA_VERSION_INFO switch.
//
// Both belong to the executable itself rather than to the library, so that
// they are always linked in.
#include "cli/own_stamp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stamp/own_version.h"

// The entries in the order the product's executables carry them. Each piece is
// its own literal so that no "\0" can run into a following digit. The
// literal's own terminator is the block's final NUL.
__attribute__((used)) const char __DBVersionInfo_kestrel[] =
    "@@==Version==@1@"
    "MODULE=kestrel" "\0"
    "VERSION_CLASS=GA" "\0"
    "VERSION_MAJOR=17" "\0"
    "VERSION_MINOR=0" "\0"
    "VERSION_PATCH=11" "\0"
    "BUILD_NUMBER=7254" "\0"
    "POINTERSIZE=32" "\0"
    "PLATFORM=sun" "\0"
    "DATE=2022/11/23" "\0"
    "TIME=23:07:04" "\0"
    "HOST=tvbuild07" "\0"
    "THREADS=posix" "\0"
    "PRODUCTION=production" "\0"
    "COMPILER=sun_native" "\0"
    "UNAME=SunOS 5.10 Generic X86" "\0"
    "IDENT=kestrel/17.0.11/P/i86pc/SunOS 5.10/7254/OPT/Wed Nov 23 23:07:04 UTC 2022" "\0"
    "COPYRIGHT=Copyright (c) 2022 Tarnvale. All rights reserved. This program is a component of the Tarnvale "
    "database product." "\0"
    "EXTENSIONS=A8" "\0"
    "\0"
    "tarnvale";  // the 8 data bytes of extension "A"

static_assert(sizeof __DBVersionInfo_kestrel == kOwnStampSize, "the program's stamp object is 499 bytes");

namespace {

// Which text of the stamp TARNA_VERSION_INFO shows: counting the marker and
// the first entry as the first text, the fifteenth is the UNAME entry.
constexpr int kVersionInfoText = 15;

// Constructed before main: when TARNA_VERSION_INFO is set (to any value,
// even an empty one) prints one text of the program's own stamp on standard
// output, then lets the program carry on.
struct a_version_info_switch {
  a_version_info_switch() {
    if (std::getenv("TARNA_VERSION_INFO") == nullptr) return;
    const char* text = __DBVersionInfo_kestrel;
    const char* const end = __DBVersionInfo_kestrel + sizeof __DBVersionInfo_kestrel;
    for (int skipped = 1; skipped < kVersionInfoText && text < end; ++skipped) text += std::strlen(text) + 1;
    if (text < end) std::printf("%s\n", text);
  }
};

const a_version_info_switch version_info_switch;

}  // namespace

int print_own_version() {
  std::string line;
  if (!own_version_line(__DBVersionInfo_kestrel, sizeof __DBVersionInfo_kestrel, line)) return -1;
  std::printf("%s\n", line.c_str());
  return 0;
}
