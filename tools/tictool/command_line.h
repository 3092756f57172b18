// tictool's command line: what was asked for, parsed apart from doing it.
//
//   tictool --help | --version
//   tictool help [<command>]
//   tictool build [options] <list-file> <archive> <path> [<path> ...]
//   tictool dump [--json] <archive> [<archive> ...]
//
// Switches are recognised only before the first positional argument (or up
// to "--"); a switch's value is the next word, or joined to it ("-j4",
// "--jobs=4"), as getopt_long reads them. The command word is compared
// without regard to case.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "tic/format/stream_pieces.h"

// A command line that cannot be understood: about the switch or value at
// fault, when there is one ("--version-info X"), and why.
inline constexpr a_step kStepUsage{0x7f0, "cannot understand the command line"};

// What `tictool build` is to do.
struct a_build_request {
  std::string list_file;            // the table of contents, in its text form
  std::string archive;              // the archive to write
  std::vector<std::string> paths;   // directories, files and "@<path-list>"
  std::string directory;            // -C: change into it before scanning
  int keep_path_elements = -1;      // -k: -1 when not given
  std::string product = "tarnvale"; // -p
  bool all = false;                 // -a: records for files without data
  bool use_key = true;              // --no-key clears it
  bool verbose = false;             // -v
  unsigned jobs = 0;                // -j: 0 for one per processor
  // --compression bzip2 | zstd[:LEVEL]
  a_compression compression = a_compression::kBzip2;
  int zstd_level = kDefaultZstdLevel;
  // --version-info KEY=VALUE, in the order given.
  std::vector<std::pair<std::string, std::string>> version_info;
};

// What `tictool dump` is to do.
struct a_dump_request {
  bool json = false;
  std::vector<std::string> archives;
};

enum class an_action {
  kHelp,       // print |help| on standard output
  kVersion,    // print the program's version on standard output
  kBuild,      // run the build
  kDump,       // run the dump
  kBadUsage,   // print |error| (its line) and |usage| on standard error
};

struct a_command_line {
  an_action action = an_action::kBadUsage;
  a_build_request build;
  a_dump_request dump;
  const char* help = nullptr;   // for kHelp: the text to print
  a_failure error;              // for kBadUsage: of kStepUsage
  const char* usage = nullptr;  // for kBadUsage: the usage text to show
};

extern const char kMainUsage[];
extern const char kBuildUsage[];
extern const char kDumpUsage[];

// Exit status of a command line that cannot be understood.
constexpr int kBadUsageStatus = 2;

a_command_line parse_command_line(int argc, const char* const* argv);
