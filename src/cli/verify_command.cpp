#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
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

// Prints one line "<what> <name>" per difference, sorted by name; a file
// that cannot be read is named on standard error. 0 when everything
// matches. Nothing is written: not below the install directory, not to the
// archives.
bool CommandVerify::handle_file(int, const an_installed_file& file) {
  bool same = true;
  for (const auto& difference : kDifferenceWords) {
    if ((file.differences & difference.bit) == 0) continue;
    printf("%s %s\n", difference.word, printable(file.name).c_str());
    same = false;
  }
  return same;
}
