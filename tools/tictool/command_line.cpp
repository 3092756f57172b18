#include "command_line.h"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "tic/writer/build_version.h"

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
    "A value follows its switch as the next word, or joined: -j4, --jobs=4.\n"
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

a_failure usage_error(std::string cause, std::string subject = std::string()) {
  return refusal_of(kStepUsage, std::move(subject), std::move(cause));
}

a_command_line bad_usage(a_failure error, const char* usage) {
  a_command_line out;
  out.action = an_action::kBadUsage;
  out.error = std::move(error);
  out.usage = usage;
  return out;
}

a_command_line bad_usage(std::string cause, const char* usage) { return bad_usage(usage_error(std::move(cause)), usage); }

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

// Most compressions at a time that make sense on any machine.
constexpr long kMaxJobs = 1024;

// The number of jobs of "-j <n>", "-j<n>" or "--jobs=<n>", from 1 to
// kMaxJobs.
Outcome take_jobs(const char* text, unsigned& out) {
  int jobs = 0;
  if (!parse_count(text, kMaxJobs, jobs) || jobs < 1)
    return usage_error(std::string("not a number of jobs from 1 to 1024: ") + text);
  out = static_cast<unsigned>(jobs);
  return Outcome();
}

// --version-info KEY=VALUE.
Outcome take_version_info(const char* value, a_build_request& r) {
  const std::string given = std::string("--version-info ") + value;
  const char* equals = std::strchr(value, '=');
  if (equals == nullptr) return usage_error("not KEY=VALUE", given);
  std::string key(value, equals), text(equals + 1);
  if (Outcome valid = valid_version_info(key, text); !valid) return valid.failure().as(kStepUsage).about(given);
  r.version_info.emplace_back(std::move(key), std::move(text));
  return Outcome();
}

// --compression bzip2 | zstd[:LEVEL].
Outcome take_compression(const char* value, a_build_request& r) {
  const a_failure unknown = usage_error(std::string("not a compression: ") + value +
                                        " (bzip2, or zstd with a level from 1 to 22, as in zstd:19)");
  if (std::strcmp(value, "bzip2") == 0) {
    r.compression = a_compression::kBzip2;
    return Outcome();
  }
  if (std::strncmp(value, "zstd", 4) != 0 || (value[4] != '\0' && value[4] != ':')) return unknown;
  int level = kDefaultZstdLevel;
  if (value[4] == ':' && (!parse_count(value + 5, kMaxZstdLevel, level) || level < kMinZstdLevel)) return unknown;
  r.compression = a_compression::kZstd;
  r.zstd_level = level;
  return Outcome();
}

// The long options' codes that have no short form.
enum : int { kNoKey = 256, kVersionInfo, kCompression, kJson };

// Walks the switches of one command with getopt_long: they end at the first
// word that does not start with "-" (or is "-" alone) and at "--", which is
// passed over; a value is the next word, the rest of a short switch's word
// ("-j4") or what follows "=" of a long one ("--jobs=4"). |argv[0]| is the
// command word. "-h" and "--help" end the walk with |help| set. |take| gets
// every other switch's code and value (null when it takes none) and returns
// its outcome; the walk stops at the first failure, which it returns.
// |first| is the index of the first positional argument.
template <typename Take>
Outcome walk_switches(int argc, const char* const* argv, const char* short_options, const struct option* long_options,
                      Take take, bool& help, int& first) {
  // "+": no reordering, switches only before the first positional argument;
  // ":": a missing value is told apart from an unknown switch.
  const std::string optstring = std::string("+:") + short_options;
  auto* args = const_cast<char* const*>(argv);  // not reordered with "+"
  opterr = 0;
  optind = 0;  // a fresh walk
  for (int code; (code = getopt_long(argc, args, optstring.c_str(), long_options, nullptr)) != -1;) {
    if (code == 'h') {
      help = true;
      return Outcome();
    }
    Outcome taken;
    if (code == ':' || code == '?') {
      // A long switch is always passed over whole, so the word before
      // optind is its word; a short one is named by its letter. Among
      // unknown switches a long one has no code (optopt 0); a known code
      // refused is a long switch given a value it does not take.
      const char* word = argv[optind - 1];
      const bool known = optopt >= 256 || (optopt > 0 && std::strchr(short_options, optopt) != nullptr);
      const bool long_form = std::strncmp(word, "--", 2) == 0 && (code == ':' || optopt == 0 || known);
      const std::string name = long_form ? std::string(word, std::strcspn(word, "=")) : std::string("-") + char(optopt);
      if (code == ':')
        taken = usage_error("option " + name + " needs a value");
      else if (long_form && optopt != 0)
        taken = usage_error("option " + name + " takes no value");
      else
        taken = usage_error("unknown option: " + (long_form ? std::string(word) : name));
    } else {
      taken = take(code, optarg);
    }
    if (!taken) return taken;
  }
  first = optind;
  return Outcome();
}

// walk_switches for a command whose usage text is |usage|: the command line
// to return at once (its help, or a bad usage), or none to go on from
// |first|.
template <typename Take>
std::optional<a_command_line> walk_command_switches(int argc, const char* const* argv, const char* short_options,
                                                    const struct option* long_options, Take take, const char* usage,
                                                    int& first) {
  bool help_asked = false;
  const Outcome walked = walk_switches(argc, argv, short_options, long_options, take, help_asked, first);
  if (help_asked) return help(usage);
  if (!walked) return bad_usage(walked.failure(), usage);
  return std::nullopt;
}

a_command_line parse_build(int argc, const char* const* argv) {
  static const struct option kLongOptions[] = {
      {"directory", required_argument, nullptr, 'C'},
      {"keep-path-elements", required_argument, nullptr, 'k'},
      {"product", required_argument, nullptr, 'p'},
      {"all", no_argument, nullptr, 'a'},
      {"no-key", no_argument, nullptr, kNoKey},
      {"jobs", required_argument, nullptr, 'j'},
      {"version-info", required_argument, nullptr, kVersionInfo},
      {"compression", required_argument, nullptr, kCompression},
      {"verbose", no_argument, nullptr, 'v'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  a_command_line out;
  out.action = an_action::kBuild;
  a_build_request& r = out.build;
  auto take = [&r](int code, const char* value) -> Outcome {
    switch (code) {
      case 'a': r.all = true; return Outcome();
      case 'v': r.verbose = true; return Outcome();
      case kNoKey: r.use_key = false; return Outcome();
      case 'C': r.directory = value; return Outcome();
      case 'p': r.product = value; return Outcome();
      case 'j': return take_jobs(value, r.jobs);
      case kVersionInfo: return take_version_info(value, r);
      case kCompression: return take_compression(value, r);
      case 'k':
        if (!parse_count(value, 1000000, r.keep_path_elements))
          return usage_error(std::string("not a number of path elements: ") + value);
        return Outcome();
    }
    return usage_error("unknown option");
  };
  int i = 0;
  if (auto done = walk_command_switches(argc, argv, "C:k:p:aj:vh", kLongOptions, take, kBuildUsage, i)) return *done;
  const int positionals = argc - i;
  if (positionals < 1) return bad_usage("missing list file", kBuildUsage);
  if (positionals < 2) return bad_usage("missing archive", kBuildUsage);
  if (positionals < 3) return bad_usage("missing path to scan", kBuildUsage);
  r.list_file = argv[i];
  r.archive = argv[i + 1];
  r.paths.assign(argv + i + 2, argv + argc);
  return out;
}

a_command_line parse_dump(int argc, const char* const* argv) {
  static const struct option kLongOptions[] = {
      {"json", no_argument, nullptr, kJson},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  a_command_line out;
  out.action = an_action::kDump;
  auto take = [&out](int code, const char*) -> Outcome {
    if (code == kJson) out.dump.json = true;
    return Outcome();
  };
  int i = 0;
  if (auto done = walk_command_switches(argc, argv, "h", kLongOptions, take, kDumpUsage, i)) return *done;
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
  // Each command's switches are walked with the command word as argv[0].
  if (strcasecmp(command, "build") == 0) return parse_build(argc - 1, argv + 1);
  if (strcasecmp(command, "dump") == 0) return parse_dump(argc - 1, argv + 1);
  return bad_usage(std::string("unknown command: ") + command, kMainUsage);
}
