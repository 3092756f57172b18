#include "cli/command_help.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Lines are at most this long.
constexpr size_t kWidth = 79;
// Where a switch's text starts.
constexpr size_t kTextColumn = 34;

// The length of the word at |text|: up to the next blank; with |groups| a
// group in brackets ("[-l <log>]", "[<tic> ...]") counts as one word.
size_t word_length(const char* text, bool groups) {
  if (!groups) return std::strcspn(text, " ");
  int depth = 0;
  size_t length = 0;
  for (; text[length] != '\0' && (depth > 0 || text[length] != ' '); ++length) {
    if (text[length] == '[') ++depth;
    if (text[length] == ']' && depth > 0) --depth;
  }
  return length;
}

// Prints |text| after |first| as lines of at most kWidth columns, broken at
// blanks between words, every line after the first indented by |indent|
// blanks.
void print_wrapped(const std::string& first, const char* text, size_t indent, bool groups = false) {
  std::string line = first;
  size_t start = line.size();
  for (const char* word = text; *word != '\0';) {
    const size_t length = word_length(word, groups);
    if (line.size() > start && line.size() + 1 + length > kWidth) {
      std::printf("%s\n", line.c_str());
      line.assign(indent, ' ');
      start = line.size();
    }
    if (line.size() > start) line += ' ';
    line.append(word, length);
    word += length;
    while (*word == ' ') ++word;
  }
  std::printf("%s\n", line.c_str());
}

// The shared switches, in the words of the commands that take them.
constexpr a_switch_help kDirectoryIgnored{
    "-d, --directory <install_dir>",
    "accepted and ignored: relative archive names are looked up in the current directory"};
constexpr a_switch_help kOptions{"-o, --options <options>",
                                 "the options to work on: names joined by \"|\", \"*\" for all of them; without -o "
                                 "nothing is selected"};
constexpr a_switch_help kHelp{"-h, --help", "print this text and exit (-h only as the one word after the command)"};
constexpr char kBeforeArchives[] = "Switches, before the first archive name:";

constexpr a_switch_help kInstallSwitches[] = {
    {"-l, --log <log>",
     "write one line per installed file to <log> (created or emptied), then \"ok\" once the installation "
     "succeeded"},
    {"-b, --backup <backup_dir>",
     "move what the installation replaces to the same path below <backup_dir>, and mark what it creates, so "
     "that kestrel restore can undo it"},
    {"-d, --directory <install_dir>",
     "install into <install_dir>, which must exist (default: the current directory); relative archive, log and "
     "backup names are looked up in it"},
    kOptions,
    {"-q, --quiet", "no progress line"},
    kHelp,
};

constexpr a_switch_help kListSwitches[] = {
    {"-a, --all", "also the files that the tables of contents name without data"},
    kDirectoryIgnored,
    kOptions,
    {"    --json", "one JSON document instead of the lines: its \"files\" hold each file's \"name\", "
                   "\"size\" and whether it has \"data\" in the archives"},
    kHelp,
};

constexpr a_switch_help kSpaceSwitches[] = {kDirectoryIgnored, kOptions, kHelp};

constexpr a_switch_help kOptionsSwitches[] = {
    kDirectoryIgnored,
    {"    --json", "one JSON document instead of the line: its \"options\" hold each option's \"name\", "
                   "\"number\", whether it is \"available\" and \"complete\", and its \"control_file\""},
    kHelp,
};

constexpr a_switch_help kHelpOnly[] = {kHelp};

constexpr a_switch_help kInstalledDirectory{
    "-d, --directory <install_dir>",
    "the installation to work on (default: the current directory); relative archive names are looked up in it"};

constexpr a_switch_help kVerifySwitches[] = {
    kInstalledDirectory,
    kOptions,
    {"    --json", "one JSON document instead of the lines: the \"directory\", what was compared \"from\" "
                   "(\"archives\" or \"record\"), the number of files \"compared\" and the \"differences\", each "
                   "file's \"name\" and \"what\" differs"},
    kHelp,
};

constexpr a_switch_help kRemoveSwitches[] = {
    {"-b, --backup <backup_dir>",
     "move each file removed to the same path below <backup_dir>, and keep the record as it was, so that "
     "kestrel restore can undo the removal"},
    kInstalledDirectory,
    kOptions,
    {"    --purge", "also remove the files changed since they were installed (other bytes, type or link target)"},
    kHelp,
};

constexpr a_switch_help kStatusSwitches[] = {
    {"-d, --directory <install_dir>", "the installation to show (default: the current directory)"},
    {"    --json", "one JSON document instead of the lines"},
    {"    --all", "every installation recorded on this machine: directory, product, version, whether it is "
                  "complete, when it was installed, its options and number of files"},
    {"    --files", "the installation's files, one line each: type, permission bits, size, SHA-256 and name"},
    {"    --owner <path>", "the install directory of each installation whose record holds <path>"},
    kHelp,
};

constexpr a_switch_help kUpgradeSwitches[] = {
    {"-l, --log <log>",
     "write one line per file put in place to <log> (created or emptied), then \"ok\" once the upgrade "
     "succeeded"},
    {"-b, --backup <backup_dir>",
     "move what the upgrade replaces or takes away to the same path below <backup_dir>, and mark what it "
     "creates, so that kestrel restore can undo it"},
    {"-d, --directory <install_dir>",
     "the recorded installation to upgrade (default: the current directory); relative archive, log and backup "
     "names are looked up in it"},
    {"-o, --options <options>",
     "the options to install: names joined by \"|\", \"*\" for all of them; each must be an option of the "
     "archives (default: the recorded option texts)"},
    {"    --dry-run", "print \"<action> <name>\" for every file (add, replace, same, keep-changed, remove) and "
                      "change nothing"},
    {"    --json", "with --dry-run: the plan as one JSON document: the \"directory\", \"options\", \"versions\" "
                   "before and after, what is \"recorded\", \"changes\" (whether a file would be written or "
                   "removed), the \"counts\" per action and the \"files\" with their \"action\""},
    {"-q, --quiet", "no progress line"},
    kHelp,
};

constexpr a_switch_help kRestoreSwitches[] = {
    {"-b, --backup <backup_dir>", "the backup tree to undo (required), named as it was given to kestrel install"},
    {"-d, --directory <install_dir>",
     "the installation to restore (default: the current directory); <backup_dir> is looked up in it"},
    kHelp,
};

template <size_t N>
constexpr a_command_help help(const char* synopsis, const char* description, const a_switch_help (&switches)[N],
                              const char* heading = kBeforeArchives) {
  return {synopsis, description, switches, N, heading};
}

}  // namespace

const a_command_help kInstallHelp = help(
    "install [-q] [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] <tic> [<tic> ...]",
    "Installs the files of the chosen options from the archives, read as one set, into the install directory, "
    "showing a progress line. Every archive is checked (and its signature, when trusted keys are configured), "
    "and the room on the install directory's file system, before anything is written; each file is checked "
    "against its integrity code and put in place whole.\n\n"
    "The status is 0 when every chosen file is installed, else 255 with one line on standard error saying why; "
    "the log then does not end with \"ok\".",
    kInstallSwitches);

const a_command_help kListHelp = help(
    "list [-a] [-d <install_dir>] [-o <options>] [--json] <tic> [<tic> ...]",
    "Prints the names of the files that the chosen options select from the archives, read as one set, one per "
    "line in byte-wise order. The status is always 0; an archive that cannot be read is named on standard "
    "error.",
    kListSwitches);

const a_command_help kSpaceHelp = help(
    "space [-d <install_dir>] [-o <options>] <tic> [<tic> ...]",
    "Prints the number of bytes that the chosen options' files occupy once installed: the plain sum of their "
    "sizes, in decimal. The status is always 0; an archive that cannot be read is named on standard error.",
    kSpaceSwitches);

const a_command_help kOptionsHelp = help(
    "options [-d <install_dir>] [--json] <tic> [<tic> ...]",
    "Prints one line of \"name number \" pairs, one for each option of the archives in byte-wise order of "
    "name: 15 when the option is available and complete, 11 when some of its files lack their data in these "
    "archives, 9 when the file that stands for it is missing, 0 for an option without a name. The status is "
    "always 0; an archive that cannot be read is named on standard error.",
    kOptionsSwitches);

const a_command_help kValidateHelp = help(
    "validate <tic> [<tic> ...]",
    "Checks each archive in turn: it must open, its table of contents must load, its integrity code must "
    "match, its signature must verify with a trusted key when keys are configured, and every file's stream "
    "must match its code. Stops at the first archive that fails and says why on standard error. Standard "
    "output stays empty; the status is 0 when every archive is valid, else 255.",
    kHelpOnly);

const a_command_help kVersionHelp = help(
    "version <parameter> <file>",
    "Prints the value of the entry <parameter> (compared without regard to case: MODULE, VERSION_MAJOR, "
    "BUILD_NUMBER, DATE, IDENT, ...) from the version stamp of <file>, a TIC archive or a program of the "
    "product. When the file has no stamp, or the stamp no such entry, nothing is printed and the status is "
    "255.",
    kHelpOnly, "Switches, before <parameter>:");

const a_command_help kVerifyHelp = help(
    "verify [-d <install_dir>] [-o <options>] [--json] [<tic> [<tic> ...]]",
    "Checks every archive as install does, then compares each chosen file below the install directory with "
    "the archives and prints one line per difference: \"missing\", \"type\", \"target\", \"content\" or "
    "\"mode\", a blank and the name. Without archive names, every file of the installation's record is "
    "compared with what was recorded. Nothing is written. The status is 0 when every file compared is "
    "installed as it should be, 1 when some file differs, and 255 when some file or archive could not be "
    "checked.",
    kVerifySwitches);

const a_command_help kRemoveHelp = help(
    "remove [-b <backup_dir>] [-d <install_dir>] [-o <options>] [--purge] [<tic> [<tic> ...]]",
    "Removes the chosen files that are still installed as the archives have them (their permission bits may "
    "have changed), then the directories their removal leaves empty; without archive names, the files of the "
    "installation's record that are still as recorded. Every archive is checked first, as install checks it. "
    "A changed file is kept and named on standard error, unless --purge takes it too. The status is 0 when "
    "nothing of the installation is left, 1 when changed files were kept, and 255 when something could not "
    "be removed.",
    kRemoveSwitches);

const a_command_help kStatusHelp = help(
    "status [-d <install_dir>] [--json] [--all | --files | --owner <path>]",
    "Prints what the installation's record holds: the directory, the product versions, the number of files, "
    "and for each install or upgrade its time, the kestrel that ran it, whether it finished, its option text, "
    "the options it selected and its archives. The install tree is not looked at (verify compares it). A user "
    "other than root who has no record of the directory is shown the system's. With nothing recorded "
    "(nothing holding <path>, for --owner) it prints one line on standard error and the status is 1.",
    kStatusSwitches, "Switches:");

const a_command_help kUpgradeHelp = help(
    "upgrade [-q] [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] [--dry-run [--json]] <tic> "
    "[<tic> ...]",
    "Installs a new set of archives over a recorded installation, as install does: files unchanged since they "
    "were recorded are replaced (or left alone when their entry is the same), files changed since are kept "
    "(the new version beside them as <name>.kestrel-new), and recorded files the new selection leaves out are "
    "taken away. Nothing is written unless the option text names only options of the archives and selects "
    "some file.\n\n"
    "The status is 0 when the upgrade is complete, else 255 with one line on standard error saying why; "
    "running it again goes on where it stopped. With --dry-run it is 0 when the plan is printed and 1 when "
    "nothing is recorded.",
    kUpgradeSwitches);

const a_command_help kRestoreHelp = help(
    "restore -b <backup_dir> [-d <install_dir>]",
    "Undoes an installation from the backup tree that kestrel install -b wrote: the files it created are "
    "removed, the objects it replaced are put back, and the backup tree is emptied and removed. An object "
    "that cannot be restored stays in the backup tree and is named on standard error; the status is then "
    "255.",
    kRestoreSwitches, "Switches:");

int print_command_help(const a_command_help& help) {
  print_wrapped("usage: kestrel ", help.synopsis, std::strlen("usage: kestrel "), true);
  for (const char* paragraph = help.description; *paragraph != '\0';) {
    const char* end = std::strstr(paragraph, "\n\n");
    const std::string text = end != nullptr ? std::string(paragraph, end) : std::string(paragraph);
    std::printf("\n");
    print_wrapped("", text.c_str(), 0);
    paragraph = end != nullptr ? end + 2 : paragraph + text.size();
  }
  std::printf("\n%s\n", help.switches_heading);
  for (size_t i = 0; i < help.switch_count; ++i) {
    std::string forms = std::string("  ") + help.switches[i].forms;
    if (forms.size() >= kTextColumn) {
      std::printf("%s\n", forms.c_str());
      forms.clear();
    }
    forms.resize(kTextColumn, ' ');
    print_wrapped(forms, help.switches[i].text, kTextColumn);
  }
  return std::fflush(stdout) == 0 ? 0 : -1;
}
