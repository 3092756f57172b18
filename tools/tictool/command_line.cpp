#include "command_line.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tic/build/build_version.h"

const char kMainUsage[] =
    "usage: tictool <command> [options] [args ...]\n"
    "\n"
    "Commands:\n"
    "  build    write a TIC archive from a list file and the files it names\n"
    "  dump     show everything an archive holds\n"
    "  help     show the options of a command\n"
    "\n"
    "Run \"tictool <command> --help\" or \"tictool help <command>\" for the options\n"
    "of a command, \"tictool --version\" for the version of tictool.\n";

const char kBuildUsage[] =
    "usage: tictool build [options] <list-file> <archive> <path> [<path> ...]\n"
    "\n"
    "Writes <archive> from the files found under each <path>: a directory (its\n"
    "whole tree), a single file, or \"@<file>\", a file naming one path per line.\n"
    "Every file found is stored under its path, which must be listed in\n"
    "<list-file> and be relative to the install directory; a directory that\n"
    "<list-file> names is stored too.\n"
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
    "  -j, --jobs <n>                 compress <n> files at a time (default: one per\n"
    "                                 processor); the archive is the same for any <n>\n"
    "      --compression <how>        bzip2 (the default, read by every kestrel), or\n"
    "                                 zstd[:<level>] (level 1 to 22, default 9): far\n"
    "                                 quicker to build and to install, read only by a\n"
    "                                 kestrel that knows zstd streams\n"
    "      --version-info <key=value> set an entry of the archive's version stamp;\n"
    "                                 VERSION_MAJOR, VERSION_MINOR, VERSION_PATCH and\n"
    "                                 BUILD_NUMBER also set the header's version\n"
    "  -v, --verbose                  print \"Compressing <path>\" for every file\n"
    "  -h, --help                     print this text\n"
    "\n"
    "With SOURCE_DATE_EPOCH set, the stamp carries that time (in UTC) and no file\n"
    "time in the archive is later: the same inputs give the same archive.\n";

const char kDumpUsage[] =
    "usage: tictool dump [options] <archive> [<archive> ...]\n"
    "\n"
    "Shows the header, the options, every entry (with the mode from its stream's\n"
    "tar header), the strings and the version stamp of each archive, and, for\n"
    "several archives, the set they make as kestrel reads it. A damaged archive\n"
    "is shown as far as it reads, with where reading stopped; the status is then\n"
    "255.\n"
    "\n"
    "Options:\n"
    "      --json                     one JSON document instead of text lines\n"
    "  -h, --help                     print this text\n";

namespace {

a_command_line bad_usage(std::string error, const char* usage) {
  a_command_line out;
  out.action = an_action::kBadUsage;
  out.error = std::move(error);
  out.usage = usage;
  return out;
}

a_command_line help(const char* text) {
  a_command_line out;
  out.action = an_action::kHelp;
  out.help = text;
  return out;
}

bool is(const char* arg, const char* short_form, const char* long_form) {
  return (short_form != nullptr && std::strcmp(arg, short_form) == 0) || std::strcmp(arg, long_form) == 0;
}

// A count: decimal digits only, at most |max|.
bool parse_count(const char* text, long max, int& out) {
  if (*text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return false;
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (errno != 0 || value > max) return false;
  out = static_cast<int>(value);
  return true;
}

// The switch at argv[i], or null at the first positional argument, which
// |i| then points at: switches end at a word that does not start with "-"
// (or is "-" alone) and at "--", which is passed over.
const char* next_switch(int argc, const char* const* argv, int& i) {
  if (i >= argc) return nullptr;
  const char* arg = argv[i];
  if (std::strcmp(arg, "--") == 0) {
    ++i;
    return nullptr;
  }
  return arg[0] == '-' && arg[1] != '\0' ? arg : nullptr;
}

// Most compressions at a time that make sense on any machine.
constexpr long kMaxJobs = 1024;

// The number of jobs of "-j <n>" or "-j<n>", from 1 to kMaxJobs; what is
// wrong with |text|, or empty.
std::string take_jobs(const char* text, unsigned& out) {
  int jobs = 0;
  if (!parse_count(text, kMaxJobs, jobs) || jobs < 1) return std::string("not a number of jobs from 1 to 1024: ") + text;
  out = static_cast<unsigned>(jobs);
  return "";
}

// --version-info KEY=VALUE; what is wrong with it, or empty.
std::string take_version_info(const char* value, a_build_request& r) {
  const char* equals = std::strchr(value, '=');
  if (equals == nullptr) return std::string("--version-info ") + value + ": not KEY=VALUE";
  std::string key(value, equals), text(equals + 1);
  const std::string problem = version_info_problem(key, text);
  if (!problem.empty()) return std::string("--version-info ") + value + ": " + problem;
  r.version_info.emplace_back(std::move(key), std::move(text));
  return "";
}

// --compression bzip2 | zstd[:LEVEL]; what is wrong with it, or empty.
std::string take_compression(const char* value, a_build_request& r) {
  const std::string complaint = std::string("not a compression: ") + value +
                                " (bzip2, or zstd with a level from 1 to 22, as in zstd:19)";
  if (std::strcmp(value, "bzip2") == 0) {
    r.compression = a_compression::kBzip2;
    return "";
  }
  if (std::strncmp(value, "zstd", 4) != 0 || (value[4] != '\0' && value[4] != ':')) return complaint;
  int level = kDefaultZstdLevel;
  if (value[4] == ':' && (!parse_count(value + 5, kMaxZstdLevel, level) || level < kMinZstdLevel)) return complaint;
  r.compression = a_compression::kZstd;
  r.zstd_level = level;
  return "";
}

bool takes_value(const char* arg) {
  return is(arg, "-C", "--directory") || is(arg, "-k", "--keep-path-elements") || is(arg, "-p", "--product") ||
         is(arg, "-j", "--jobs") || is(arg, nullptr, "--version-info") || is(arg, nullptr, "--compression");
}

// The value of a build switch that takes one; what is wrong with it, or
// empty.
std::string take_value(const char* arg, const char* value, a_build_request& r) {
  if (is(arg, "-C", "--directory")) {
    r.directory = value;
  } else if (is(arg, "-p", "--product")) {
    r.product = value;
  } else if (is(arg, "-j", "--jobs")) {
    return take_jobs(value, r.jobs);
  } else if (is(arg, nullptr, "--version-info")) {
    return take_version_info(value, r);
  } else if (is(arg, nullptr, "--compression")) {
    return take_compression(value, r);
  } else if (!parse_count(value, 1000000, r.keep_path_elements)) {
    return std::string("not a number of path elements: ") + value;
  }
  return "";
}

a_command_line parse_build(int argc, const char* const* argv, int i) {
  a_command_line out;
  out.action = an_action::kBuild;
  a_build_request& r = out.build;
  for (const char* arg; (arg = next_switch(argc, argv, i)) != nullptr; ++i) {
    if (is(arg, "-h", "--help")) return help(kBuildUsage);
    std::string error;
    if (is(arg, "-a", "--all")) {
      r.all = true;
    } else if (is(arg, nullptr, "--no-key")) {
      r.use_key = false;
    } else if (is(arg, "-v", "--verbose")) {
      r.verbose = true;
    } else if (std::strncmp(arg, "-j", 2) == 0 && arg[2] != '\0') {
      error = take_jobs(arg + 2, r.jobs);  // "-j4", as make takes it
    } else if (!takes_value(arg)) {
      error = std::string("unknown option: ") + arg;
    } else if (i + 1 >= argc) {
      error = std::string("option ") + arg + " needs a value";
    } else {
      error = take_value(arg, argv[++i], r);
    }
    if (!error.empty()) return bad_usage(error, kBuildUsage);
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

a_command_line parse_dump(int argc, const char* const* argv, int i) {
  a_command_line out;
  out.action = an_action::kDump;
  for (const char* arg; (arg = next_switch(argc, argv, i)) != nullptr; ++i) {
    if (is(arg, "-h", "--help")) return help(kDumpUsage);
    if (!is(arg, nullptr, "--json")) return bad_usage(std::string("unknown option: ") + arg, kDumpUsage);
    out.dump.json = true;
  }
  if (i >= argc) return bad_usage("missing archive", kDumpUsage);
  out.dump.archives.assign(argv + i, argv + argc);
  return out;
}

// The usage text of a command word, or null.
const char* usage_of(const char* command) {
  if (strcasecmp(command, "build") == 0) return kBuildUsage;
  if (strcasecmp(command, "dump") == 0) return kDumpUsage;
  if (strcasecmp(command, "help") == 0) return kMainUsage;
  return nullptr;
}

}  // namespace

a_command_line parse_command_line(int argc, const char* const* argv) {
  if (argc < 2) return bad_usage("missing command", kMainUsage);
  const char* command = argv[1];
  if (is(command, "-h", "--help")) return help(kMainUsage);
  if (is(command, nullptr, "--version")) {
    a_command_line out;
    out.action = an_action::kVersion;
    return out;
  }
  if (strcasecmp(command, "help") == 0) {
    if (argc < 3) return help(kMainUsage);
    const char* text = usage_of(argv[2]);
    if (text == nullptr) return bad_usage(std::string("unknown command: ") + argv[2], kMainUsage);
    return help(text);
  }
  if (strcasecmp(command, "build") == 0) return parse_build(argc, argv, 2);
  if (strcasecmp(command, "dump") == 0) return parse_dump(argc, argv, 2);
  return bad_usage(std::string("unknown command: ") + command, kMainUsage);
}
