#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "display/message.h"
#include "install/installation.h"
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

// The document: {"directory": ..., "from": "record" or "archives",
// "compared": n, "differences": [{"name": ..., "what": [...]}, ...]}.
void print_document(bool from_record, size_t compared, const std::vector<std::pair<std::string, unsigned>>& different) {
  Json document = Json::object();
  document["directory"] = json_text(current_install_directory());
  document["from"] = from_record ? "record" : "archives";
  document["compared"] = compared;
  Json differences = Json::array();
  for (const auto& [name, bits] : different) {
    Json one = Json::object();
    one["name"] = json_text(name);
    one["what"] = Json::array();
    for (const auto& difference : kDifferenceWords)
      if ((bits & difference.bit) != 0) one["what"].push_back(difference.word);
    differences.push_back(std::move(one));
  }
  document["differences"] = std::move(differences);
  printf("%s\n", json_document(document).c_str());
}

}  // namespace

// Prints one line "<what> <name>" per difference, sorted by name (with
// --json, one document after the last file); a file that cannot be read is
// named on standard error. 0 when everything matches, 1 when something
// differs, -1 (255) when some file could not be checked. Nothing is
// written: not below the install directory, not to the archives, not to
// the record.
int CommandVerify::work(Installation& installation, const an_install_request& request, ArchiveCheck& check) {
  size_t compared = 0;
  bool checked = true;
  // With --json, each differing file's name and differences, kept until the
  // document is written (the files themselves are handed out one by one).
  std::vector<std::pair<std::string, unsigned>> different;
  bool differs = false;
  const Outcome done = installation.compare(request, check, [&](const an_installed_file& file) {
    if (file.problem.failed()) {
      complain(word_, file.name, file.problem.text());
      checked = false;
      return;
    }
    ++compared;
    if (file.differences == 0) return;
    differs = true;
    if (json) {
      different.emplace_back(file.name, file.differences);
      return;
    }
    for (const auto& difference : kDifferenceWords)
      if ((file.differences & difference.bit) != 0) printf("%s %s\n", difference.word, printable(file.name).c_str());
  });
  if (done && json) print_document(request.from_record(), compared, different);
  if (!done || !checked) return -1;
  return differs ? 1 : 0;
}
