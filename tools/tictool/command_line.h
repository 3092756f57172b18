// tictool's command line: what was asked for, parsed apart from doing it.
//
//   tictool --help
//   tictool build [options] <list-file> <archive> <path> [<path> ...]
//
// Switches are recognised only before the first positional argument (or up
// to "--"); a switch's value is the next word. The command word is compared
// without regard to case.
#pragma once

#include <string>
#include <vector>

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
};

enum class an_action {
  kMainHelp,   // print the main usage on standard output
  kBuildHelp,  // print the build usage on standard output
  kBuild,      // run the build
  kBadUsage,   // print |error| and |usage| on standard error
};

struct a_command_line {
  an_action action = an_action::kBadUsage;
  a_build_request build;
  std::string error;          // for kBadUsage: one line, without "tictool: "
  const char* usage = nullptr;  // for kBadUsage: the usage text to show
};

extern const char kMainUsage[];
extern const char kBuildUsage[];

// Exit status of a command line that cannot be understood.
constexpr int kBadUsageStatus = 2;

a_command_line parse_command_line(int argc, const char* const* argv);
