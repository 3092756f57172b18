#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
#include "cli/installed_comparison.h"
#include "install/record_store.h"
#include "platform/json.h"

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

// Prints one line "<what> <name>" per difference, sorted by name (with
// --json, one document after the last file); a file that cannot be read is
// named on standard error. 0 when everything matches, 1 when something
// differs, 255 when some file could not be checked. Nothing is written:
// not below the install directory, not to the archives, not to the record.
bool CommandVerify::handle_file(int, const an_installed_file& file) {
  ++compared_;
  if (file.differences == 0) return true;
  answered_no_ = true;
  if (json) {
    different_.emplace_back(file.name, file.differences);
    return true;
  }
  for (const auto& difference : kDifferenceWords)
    if ((file.differences & difference.bit) != 0) printf("%s %s\n", difference.word, printable(file.name).c_str());
  return true;
}

// The document: {"directory": ..., "from": "record" or "archives",
// "compared": n, "differences": [{"name": ..., "what": [...]}, ...]}.
bool CommandVerify::finish(int) {
  if (!json) return true;
  Json document = Json::object();
  document["directory"] = json_text(canonical_current_directory());
  document["from"] = from_record_ ? "record" : "archives";
  document["compared"] = compared_;
  Json differences = Json::array();
  for (const auto& [name, bits] : different_) {
    Json one = Json::object();
    one["name"] = json_text(name);
    one["what"] = Json::array();
    for (const auto& difference : kDifferenceWords)
      if ((bits & difference.bit) != 0) one["what"].push_back(difference.word);
    differences.push_back(std::move(one));
  }
  document["differences"] = std::move(differences);
  printf("%s\n", json_document(document).c_str());
  return true;
}
