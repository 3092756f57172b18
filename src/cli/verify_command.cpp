#include <stdio.h>

#include "cli/commands.h"
#include "display/printable.h"
#include "cli/installed_comparison.h"

namespace {

// The words of a difference, in the order they are printed for one file.
constexpr struct {
  unsigned bit;
  const char* word;
} kDifferenceWords[] = {
    {kDifferenceMissing, "missing"}, {kDifferenceType, "type"},  {kDifferenceTarget, "target"},
    {kDifferenceContent, "content"}, {kDifferenceMode, "mode"},
};

}  // namespace

// Compares every selected file with what is installed and prints one line
// "<what> <name>" per difference, sorted by name; a file that cannot be read
// is named on standard error. 0 when everything matches. Nothing is written:
// not below the install directory, not to the archives.
int CommandVerify::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  UniqueFd root;
  std::vector<an_installed_file> files;
  if (compare_with_install_directory("verify", directory, args, options, root, files, nullptr) != 0) return -1;
  int result = 0;
  for (const an_installed_file& file : files) {
    if (file.problem.failed()) {
      complain("verify", file.name, file.problem.text());
      result = -1;
      continue;
    }
    for (const auto& difference : kDifferenceWords) {
      if ((file.differences & difference.bit) == 0) continue;
      printf("%s %s\n", difference.word, printable(file.name).c_str());
      result = -1;
    }
  }
  return result;
}
