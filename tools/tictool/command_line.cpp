#include "command_line.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char kMainUsage[] =
    "usage: tictool <command> [options] [args ...]\n"
    "\n"
    "Commands:\n"
    "  build    write a TIC archive from a list file and the files it names\n"
    "\n"
    "Run \"tictool <command> --help\" for the options of a command.\n";

const char kBuildUsage[] =
    "usage: tictool build [options] <list-file> <archive> <path> [<path> ...]\n"
    "\n"
    "Writes <archive> from the files found under each <path>: a directory (its\n"
    "whole tree), a single file, or \"@<file>\", a file naming one path per line.\n"
    "Every file found is stored under its path, which must be listed in\n"
    "<list-file> and be relative to the install directory.\n"
    "\n"
    "Options:\n"
    "  -C, --directory <dir>          change into <dir> before scanning; <list-file>\n"
    "                                 and <archive> stay relative to where tictool\n"
    "                                 was started\n"
    "  -k, --keep-path-elements <n>   store the files of each directory <path> under\n"
    "                                 its last <n> path elements, reading them from\n"
    "                                 the directory above\n"
    "  -p, --product <name>           product name of the archive (default tarnvale)\n"
    "  -a, --all                      keep records for listed files without data\n"
    "      --no-key                   build without the product's archive key\n"
    "  -v, --verbose                  print \"Compressing <path>\" for every file\n"
    "  -h, --help                     print this text\n";

namespace {

a_command_line bad_usage(std::string error, const char* usage) {
  a_command_line out;
  out.action = an_action::kBadUsage;
  out.error = std::move(error);
  out.usage = usage;
  return out;
}

bool is(const char* arg, const char* short_form, const char* long_form) {
  return (short_form != nullptr && std::strcmp(arg, short_form) == 0) || std::strcmp(arg, long_form) == 0;
}

// A count of path elements: decimal digits only.
bool parse_count(const char* text, int& out) {
  if (*text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return false;
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (errno != 0 || value > 1000000) return false;
  out = static_cast<int>(value);
  return true;
}

a_command_line parse_build(int argc, const char* const* argv, int i) {
  a_command_line out;
  out.action = an_action::kBuild;
  a_build_request& r = out.build;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (arg[0] != '-' || arg[1] == '\0') break;
    if (is(arg, "-h", "--help")) {
      out.action = an_action::kBuildHelp;
      return out;
    }
    if (is(arg, "-a", "--all")) {
      r.all = true;
    } else if (is(arg, nullptr, "--no-key")) {
      r.use_key = false;
    } else if (is(arg, "-v", "--verbose")) {
      r.verbose = true;
    } else if (is(arg, "-C", "--directory") || is(arg, "-k", "--keep-path-elements") || is(arg, "-p", "--product")) {
      if (i + 1 >= argc) return bad_usage(std::string("option ") + arg + " needs a value", kBuildUsage);
      const char* value = argv[++i];
      if (is(arg, "-C", "--directory")) {
        r.directory = value;
      } else if (is(arg, "-p", "--product")) {
        r.product = value;
      } else if (!parse_count(value, r.keep_path_elements)) {
        return bad_usage(std::string("not a number of path elements: ") + value, kBuildUsage);
      }
    } else {
      return bad_usage(std::string("unknown option: ") + arg, kBuildUsage);
    }
  }
  const int positionals = argc - i;
  if (positionals < 1) return bad_usage("missing list file", kBuildUsage);
  if (positionals < 2) return bad_usage("missing archive", kBuildUsage);
  if (positionals < 3) return bad_usage("missing path to scan", kBuildUsage);
  r.list_file = argv[i];
  r.archive = argv[i + 1];
  r.paths.assign(argv + i + 2, argv + argc);
  return out;
}

}  // namespace

a_command_line parse_command_line(int argc, const char* const* argv) {
  if (argc < 2) return bad_usage("missing command", kMainUsage);
  const char* command = argv[1];
  if (is(command, "-h", "--help") || strcasecmp(command, "help") == 0) {
    a_command_line out;
    out.action = an_action::kMainHelp;
    return out;
  }
  if (strcasecmp(command, "build") == 0) return parse_build(argc, argv, 2);
  return bad_usage(std::string("unknown command: ") + command, kMainUsage);
}
