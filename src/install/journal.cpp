#include "install/journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "platform/fail_point.h"
#include "platform/json.h"
#include "install/installable_entry.h"

namespace {

constexpr const char kFormat[] = "kestrel-journal 1";
// Lines between two syncs: a power loss costs at most these.
constexpr size_t kLinesPerSync = 1024;
// No line of a journal kestrel writes comes near this (a name is at most
// 1023 bytes, six times that escaped).
constexpr size_t kLongestLine = 64 * 1024;

a_failure bad_journal(const std::string& path, const std::string& why) {
  errno = 0;
  return failure_of(kStepRecord, path, "damaged journal: " + why);
}

// A name from a journal goes through the refusals of an archive's names, in
// the form the record keeps.
bool acceptable_name(const std::string& name) {
  return installable_name_problem(name).empty() && normalised_path(name) == name;
}

bool read_head(const Json& line, a_journal& journal) {
  const auto format = line.find("journal");
  const auto install = line.find("install");
  const auto run = line.find("run");
  if (format == line.end() || *format != kFormat || run == line.end() || !run->is_string() ||
      install == line.end() || !recorded_install_from_json(*install, journal.install))
    return false;
  journal.run = run->get<std::string>();
  return bytes_from_json(line.value("directory", Json()), journal.directory) &&
         bytes_from_json(line.value("backup", Json()), journal.backup);
}

// One line after the first: false when it is none of the kinds.
bool read_line(const Json& line, a_journal& journal) {
  std::string name;
  if (line.contains("gone")) {
    if (!bytes_from_json(line["gone"], name) || !acceptable_name(name)) return false;
    journal.gone.insert(name);
    journal.placed.erase(name);
    return true;
  }
  a_recorded_file file;
  if (!recorded_file_from_json(line, name, file) || !acceptable_name(name)) return false;
  if (line.value("beside", false)) return true;
  journal.placed[name] = file;
  journal.gone.erase(name);
  return true;
}

}  // namespace

std::string journal_path(const std::string& record_path) { return record_path + ".journal"; }

Result<a_journal> read_journal(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return a_failure{};
    return failure_of(kStepRecord, path);
  }
  if (!S_ISREG(st.st_mode)) return bad_journal(path, "not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return failure_of(kStepRecord, path);
  a_journal journal;
  std::string text;
  bool first = true;
  while (std::getline(in, text)) {
    Json line;
    // A line cut short by a power loss can only be the last one.
    const bool whole = !in.eof();
    if (text.size() <= kLongestLine)
      if (Result<Json> parsed = parse_json(text); parsed) line = std::move(parsed.value());
    if (!line.is_object()) {
      if (!whole && !first) break;
      return bad_journal(path, first ? "no first line" : "not a line of a journal");
    }
    if (first ? !read_head(line, journal) : !read_line(line, journal))
      return bad_journal(path, first ? "no first line" : "bad file in journal");
    first = false;
  }
  if (first) return bad_journal(path, "no first line");
  return journal;
}

std::string new_run_name() {
  // Without random bytes still one of a kind by the process and the time.
  unsigned char random[8] = {};
  if (getrandom(random, sizeof random, 0) < 0) random[0] = 0;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return std::to_string(getpid()) + "-" + std::to_string(now.tv_sec) + "." + std::to_string(now.tv_nsec) + "-" +
         hex_text(random, sizeof random);
}

Outcome JournalWriter::begin(const std::string& path, const a_journal& head) {
  path_ = path;
  fd_.reset(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd_.valid()) return failure_of(kStepRecord, path);
  Json line = Json::object();
  line["journal"] = kFormat;
  line["run"] = head.run;
  line["directory"] = json_bytes(head.directory);
  line["backup"] = json_bytes(head.backup);
  line["install"] = recorded_install_json(head.install);
  put(json_document(line, -1));
  if (failure_.failed() || fsync(fd_.get()) != 0) {
    failure_.set(kStepRecord);
    failure_.subject = path;
    fd_.reset();
    unlink(path.c_str());
    return failure_;
  }
  // The journal's name in the state directory is on disk too.
  const size_t slash = path.rfind('/');
  UniqueFd directory(open(slash == std::string::npos ? "." : path.substr(0, slash + 1).c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) fsync(directory.get());
  FAIL_POINT("journal-begun");
  return Outcome();
}

void JournalWriter::put(const std::string& line) {
  if (!fd_.valid() || failure_.failed()) return;
  const std::string text = line + "\n";
  if (write_full(fd_.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    failure_.set(kStepRecord);
    failure_.subject = path_;
    return;
  }
  if (++unsynced_ < kLinesPerSync) return;
  unsynced_ = 0;
  fdatasync(fd_.get());
}

void JournalWriter::placing(const std::string& path, const a_recorded_file& file, bool beside) {
  std::string line = record_file_line(path, file);
  if (beside) line.insert(line.size() - 1, ",\"beside\":true");
  put(line);
}

void JournalWriter::removing(const std::string& path) {
  Json line = Json::object();
  line["gone"] = json_bytes(path);
  put(json_document(line, -1));
}

void JournalWriter::remove() {
  if (path_.empty()) return;
  fd_.reset();
  unlink(path_.c_str());
  path_.clear();
}
