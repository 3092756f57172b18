#include "install/install_record.h"

#include <errno.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/installable_entry.h"

namespace {

constexpr const char kFormat[] = "kestrel-record 1";

std::string mode_text(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

bool mode_from_text(const Json& value, unsigned& mode) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.empty() || text.size() > 5 || text.find_first_not_of("01234567") != std::string::npos) return false;
  mode = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 8));
  return mode <= 07777;
}

bool type_from_word(const Json& value, a_file_type& type) {
  if (!value.is_string()) return false;
  for (a_file_type t : {a_file_type::kFile, a_file_type::kDirectory, a_file_type::kSymlink}) {
    if (value.get_ref<const std::string&>() == file_type_word(t)) {
      type = t;
      return true;
    }
  }
  return false;
}

// The member |key| of |object| when it has the JSON type |check| asks for.
const Json* member(const Json& object, const char* key, bool (Json::*check)() const noexcept) {
  const auto found = object.find(key);
  return found != object.end() && ((*found).*check)() ? &*found : nullptr;
}

bool text_member(const Json& object, const char* key, std::string& out) {
  const Json* value = member(object, key, &Json::is_string);
  if (value == nullptr) return false;
  out = value->get<std::string>();
  return true;
}

bool bytes_member(const Json& object, const char* key, std::string& out) {
  const auto found = object.find(key);
  return found != object.end() && bytes_from_json(*found, out);
}

bool number_member(const Json& object, const char* key, uint64_t& out) {
  const Json* value = member(object, key, &Json::is_number_unsigned);
  if (value == nullptr) return false;
  out = value->get<uint64_t>();
  return true;
}

bool digest_member(const Json& object, const char* key, unsigned char* out) {
  const Json* value = member(object, key, &Json::is_string);
  return value != nullptr && bytes_from_hex(value->get_ref<const std::string&>(), out, kDigestSize);
}

bool read_archive(const Json& in, a_recorded_archive& out) {
  if (!in.is_object() || !bytes_member(in, "path", out.path) || !number_member(in, "size", out.size) ||
      !digest_member(in, "mac", out.mac) || !text_member(in, "version", out.version))
    return false;
  // Records of earlier kestrels name no product.
  return in.find("product") == in.end() || bytes_member(in, "product", out.product);
}

bool read_install(const Json& in, a_recorded_install& out) {
  if (!in.is_object() || !text_member(in, "command", out.command) || !text_member(in, "when", out.when) ||
      !text_member(in, "kestrel", out.kestrel) || !bytes_member(in, "options", out.options))
    return false;
  const Json* complete = member(in, "complete", &Json::is_boolean);
  const Json* selected = member(in, "selected", &Json::is_array);
  const Json* archives = member(in, "archives", &Json::is_array);
  if (complete == nullptr || selected == nullptr || archives == nullptr) return false;
  out.complete = complete->get<bool>();
  for (const Json& name : *selected) {
    out.selected.emplace_back();
    if (!bytes_from_json(name, out.selected.back())) return false;
  }
  for (const Json& archive : *archives) {
    out.archives.emplace_back();
    if (!read_archive(archive, out.archives.back())) return false;
  }
  return true;
}

bool read_file(const Json& in, std::string& name, a_recorded_file& out) {
  if (!in.is_object() || !bytes_member(in, "name", name)) return false;
  const auto type = in.find("type");
  const auto mode = in.find("mode");
  if (type == in.end() || !type_from_word(*type, out.type) || mode == in.end() || !mode_from_text(*mode, out.mode) ||
      !number_member(in, "size", out.size) || !digest_member(in, "mac", out.mac))
    return false;
  if (out.type == a_file_type::kDirectory) return true;
  return digest_member(in, "sha256", out.sha256);
}

// Adds the file |name| of a record to |files|, by its normalised path. A
// record is read as an archive's names are: a name install would refuse,
// or a second name for one path, is one no kestrel wrote: empty, or says
// why.
std::string add_recorded_file(std::map<std::string, a_recorded_file>& files, const std::string& name,
                              const a_recorded_file& file) {
  const std::string problem = installable_name_problem(name);
  if (!problem.empty()) return name + ": " + problem;
  const auto added = files.emplace(normalised_path(name), file);
  if (!added.second) return added.first->first + " recorded twice";
  return "";
}

Json archive_json(const a_recorded_archive& archive) {
  Json out = Json::object();
  out["path"] = json_bytes(archive.path);
  out["size"] = archive.size;
  out["mac"] = hex_text(archive.mac, kDigestSize);
  out["version"] = archive.version;
  out["product"] = json_bytes(archive.product);
  return out;
}

// One installation as a record keeps it (|text| json_bytes: read back) or
// as status shows it (json_text, with each archive's path as text too).
Json install_json(const a_recorded_install& install, Json (*text)(const std::string&)) {
  Json one = Json::object();
  one["command"] = install.command;
  one["when"] = install.when;
  one["kestrel"] = install.kestrel;
  one["complete"] = install.complete;
  one["options"] = text(install.options);
  one["selected"] = Json::array();
  for (const std::string& name : install.selected) one["selected"].push_back(text(name));
  one["archives"] = Json::array();
  for (const a_recorded_archive& archive : install.archives) {
    Json a = archive_json(archive);
    if (text != json_bytes) {
      a["path"] = text(archive.path);
      a["product"] = text(archive.product);
    }
    one["archives"].push_back(std::move(a));
  }
  return one;
}

}  // namespace

a_failure damaged_record(const std::string& why) {
  errno = 0;
  return failure_of(kStepDamagedRecord, "", why);
}

a_failure forged_record(const std::string& why) {
  errno = 0;
  return failure_of(kStepForgedRecord, "", "forged record: " + why);
}

const char* file_type_word(a_file_type type) {
  switch (type) {
    case a_file_type::kDirectory: return "directory";
    case a_file_type::kSymlink: return "symlink";
    default: return "file";
  }
}

void an_install_record::add_install(const a_recorded_install& install) {
  auto same_set = [&](const a_recorded_install& earlier) {
    if (earlier.options != install.options || earlier.archives.size() != install.archives.size()) return false;
    for (size_t i = 0; i < earlier.archives.size(); ++i)
      if (earlier.archives[i].path != install.archives[i].path) return false;
    return true;
  };
  installs.erase(std::remove_if(installs.begin(), installs.end(), same_set), installs.end());
  installs.push_back(install);
}

std::string an_install_record::option_text() const {
  // An upgrade, finished or not, chose the whole installation: what came
  // before it was replaced.
  auto from = installs.begin();
  for (auto it = installs.begin(); it != installs.end(); ++it)
    if (it->command == "upgrade") from = it;
  std::string text;
  for (const a_recorded_install& install : std::vector<a_recorded_install>(from, installs.end())) {
    if (install.options.empty()) continue;
    text += (text.empty() ? "" : "|") + install.options;
  }
  return text;
}

namespace {

// The distinct non-empty values of |member| over the recorded archives, in order.
std::vector<std::string> distinct(const std::vector<a_recorded_install>& installs,
                                  std::string a_recorded_archive::*member) {
  std::vector<std::string> out;
  for (const a_recorded_install& install : installs)
    for (const a_recorded_archive& archive : install.archives)
      if (!(archive.*member).empty() && std::find(out.begin(), out.end(), archive.*member) == out.end())
        out.push_back(archive.*member);
  return out;
}

}  // namespace

std::vector<std::string> an_install_record::versions() const { return distinct(installs, &a_recorded_archive::version); }

std::vector<std::string> an_install_record::products() const { return distinct(installs, &a_recorded_archive::product); }

namespace {

// Everything of the record but its files.
Json record_head(const an_install_record& record) {
  Json out = Json::object();
  out["format"] = kFormat;
  out["directory"] = json_bytes(record.directory);
  if (!record.run.empty()) out["run"] = record.run;
  Json installs = Json::array();
  for (const a_recorded_install& install : record.installs) installs.push_back(install_json(install, json_bytes));
  out["installs"] = std::move(installs);
  return out;
}

Json file_json(const std::string& name, const a_recorded_file& file) {
  Json one = Json::object();
  one["name"] = json_bytes(name);
  one["type"] = file_type_word(file.type);
  one["mode"] = mode_text(file.mode);
  one["size"] = file.size;
  if (file.type != a_file_type::kDirectory) one["sha256"] = hex_text(file.sha256, kDigestSize);
  one["mac"] = hex_text(file.mac, kDigestSize);
  return one;
}

}  // namespace

Json record_to_json(const an_install_record& record) {
  Json out = record_head(record);
  Json files = Json::array();
  (void)record.files.walk([&files](const std::string& name, const a_recorded_file& file) {
    files.push_back(file_json(name, file));
    return true;
  });
  out["files"] = std::move(files);
  return out;
}

namespace {

// A name of printable ASCII without quote or backslash is its own JSON text.
bool plain_name(const std::string& name) {
  for (const char c : name)
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return false;
  return true;
}

}  // namespace

// The line is written for every file put in place (the journal, and a first
// install's record): for the names nearly every product has, the same bytes
// as the document's, without building one.
std::string record_file_line(const std::string& name, const a_recorded_file& file) {
  if (!plain_name(name)) return json_document(file_json(name, file), -1);
  std::string line;
  line.reserve(name.size() + 200);
  line += "{\"name\":\"";
  line += name;
  line += "\",\"type\":\"";
  line += file_type_word(file.type);
  line += "\",\"mode\":\"" + mode_text(file.mode) + "\",\"size\":" + std::to_string(file.size);
  if (file.type != a_file_type::kDirectory) line += ",\"sha256\":\"" + hex_text(file.sha256, kDigestSize) + "\"";
  line += ",\"mac\":\"" + hex_text(file.mac, kDigestSize) + "\"}";
  return line;
}

namespace {

// Takes |literal| at |at| in |text|.
bool take(const std::string& text, size_t& at, const char* literal) {
  const size_t n = std::strlen(literal);
  if (text.compare(at, n, literal) != 0) return false;
  at += n;
  return true;
}

// A string of |text| from |at| to its closing quote, with no escape in it.
bool take_plain(const std::string& text, size_t& at, std::string& out) {
  const size_t end = text.find('"', at);
  if (end == std::string::npos) return false;
  out.assign(text, at, end - at);
  if (!plain_name(out)) return false;
  at = end + 1;
  return true;
}

bool take_digest(const std::string& text, size_t& at, unsigned char* out) {
  if (at + 2 * kDigestSize + 1 > text.size() || text[at + 2 * kDigestSize] != '"') return false;
  if (!bytes_from_hex(text.substr(at, 2 * kDigestSize), out, kDigestSize)) return false;
  at += 2 * kDigestSize + 1;
  return true;
}

bool take_size(const std::string& text, size_t& at, uint64_t& out) {
  const size_t end = text.find_first_not_of("0123456789", at);
  if (end == std::string::npos || end == at || end - at > 19 || (text[at] == '0' && end - at > 1)) return false;
  out = std::strtoull(text.c_str() + at, nullptr, 10);
  at = end;
  return true;
}

}  // namespace

bool plain_record_file(const std::string& text, std::string& name, a_recorded_file& file) {
  size_t at = 0;
  std::string word;
  if (!take(text, at, "{\"name\":\"") || !take_plain(text, at, name) || !take(text, at, ",\"type\":\"") ||
      !take_plain(text, at, word))
    return false;
  bool known = false;
  for (a_file_type t : {a_file_type::kFile, a_file_type::kDirectory, a_file_type::kSymlink})
    if (word == file_type_word(t)) known = (file.type = t, true);
  if (!known || !take(text, at, ",\"mode\":\"") || at + 5 > text.size() || text[at + 4] != '"') return false;
  const std::string mode = text.substr(at, 4);
  if (mode.find_first_not_of("01234567") != std::string::npos) return false;
  file.mode = static_cast<unsigned>(std::strtoul(mode.c_str(), nullptr, 8));
  at += 5;
  if (!take(text, at, ",\"size\":") || !take_size(text, at, file.size)) return false;
  if (file.type != a_file_type::kDirectory && (!take(text, at, ",\"sha256\":\"") || !take_digest(text, at, file.sha256)))
    return false;
  if (file.type == a_file_type::kDirectory) std::memset(file.sha256, 0, kDigestSize);
  return take(text, at, ",\"mac\":\"") && take_digest(text, at, file.mac) && take(text, at, "}") &&
         at == text.size();
}

std::string record_members_text(const an_install_record& record, const std::string* backup) {
  Json head = record_head(record);
  if (backup != nullptr) head["backup"] = json_bytes(*backup);
  const std::string text = json_document(head, 1);  // "{\n ...\n}"
  return text.substr(2, text.size() - 4);
}

Outcome put_record_text(const an_install_record& record, const std::string* backup,
                        const std::function<void(const std::string&)>& put) {
  put("{\n" + record_members_text(record, backup) + ",\n \"files\": [");
  const char* separator = "\n  ";
  const Outcome walked = record.files.walk([&](const std::string& name, const a_recorded_file& file) {
    put(separator + record_file_line(name, file));
    separator = ",\n  ";
    return true;
  });
  put(*separator == '\n' ? "]\n}\n" : "\n ]\n}\n");
  return walked;
}

Outcome parse_record_text(const std::string& text, Json& head, std::map<std::string, a_recorded_file>& files) {
  files.clear();
  bool in_files = false;
  bool bad_file = false;
  bool listed = false, twice = false;
  std::string forgery;
  // Depth 1 holds the record's members; the files are the objects at depth
  // 2 of its member "files". Each is read and dropped from the document.
  head = Json::parse(
      text,
      [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (depth == 1 && event == Json::parse_event_t::key) {
          in_files = parsed == "files";
          twice = twice || (in_files && listed);
          listed = listed || in_files;
        }
        if (depth == 1 && event == Json::parse_event_t::array_end) in_files = false;
        if (!in_files || depth != 2 || event != Json::parse_event_t::object_end) return true;
        std::string name;
        a_recorded_file file;
        if (!read_file(parsed, name, file)) {
          bad_file = true;
        } else if (forgery.empty()) {
          forgery = add_recorded_file(files, name, file);
        }
        return false;
      },
      false);
  if (head.is_discarded()) {
    return damaged_record("not a JSON document");
  }
  if (twice) return damaged_record("files listed twice");
  if (bad_file) {
    return damaged_record("bad file in record");
  }
  if (!forgery.empty()) return forged_record(forgery);
  return Outcome();
}

Outcome record_from_text(const std::string& text, an_install_record& record) {
  Json head;
  std::map<std::string, a_recorded_file> files;
  if (Outcome parsed = parse_record_text(text, head, files); !parsed) return parsed;
  if (Outcome read = record_from_json(head, record); !read) return read;
  for (const auto& [name, file] : files) record.files.put(name, file);
  return Outcome();
}

Outcome record_from_json(const Json& document, an_install_record& record) {
  record = an_install_record{};
  std::string format;
  if (!document.is_object() || !text_member(document, "format", format) || format != kFormat) {
    return damaged_record("not a record of this kestrel");
  }
  const Json* installs = member(document, "installs", &Json::is_array);
  const Json* files = member(document, "files", &Json::is_array);
  text_member(document, "run", record.run);
  if (!bytes_member(document, "directory", record.directory) || installs == nullptr || files == nullptr) {
    return damaged_record("record incomplete");
  }
  for (const Json& install : *installs) {
    record.installs.emplace_back();
    if (!read_install(install, record.installs.back())) {
      return damaged_record("bad install in record");
    }
  }
  std::map<std::string, a_recorded_file> read;
  for (const Json& file : *files) {
    std::string name;
    a_recorded_file recorded;
    if (!read_file(file, name, recorded)) {
      return damaged_record("bad file in record");
    }
    if (const std::string forgery = add_recorded_file(read, name, recorded); !forgery.empty())
      return forged_record(forgery);
  }
  for (const auto& [name, file] : read) record.files.put(name, file);
  return Outcome();
}

bool recorded_file_from_json(const Json& document, std::string& name, a_recorded_file& file) {
  return read_file(document, name, file);
}

Json recorded_install_json(const a_recorded_install& install) { return install_json(install, json_bytes); }

bool recorded_install_from_json(const Json& document, a_recorded_install& install) {
  install = a_recorded_install{};
  return read_install(document, install);
}

Json record_summary(const an_install_record& record) {
  Json out = Json::object();
  out["directory"] = json_text(record.directory);
  out["products"] = Json::array();
  for (const std::string& product : record.products()) out["products"].push_back(json_text(product));
  out["versions"] = Json::array();
  for (const std::string& version : record.versions()) out["versions"].push_back(json_text(version));
  out["files"] = record.files.size();
  // The last install or upgrade says whether the installation is whole.
  out["complete"] = !record.installs.empty() && record.installs.back().complete;
  out["when"] = record.installs.empty() ? std::string() : record.installs.back().when;
  out["options"] = json_text(record.option_text());
  Json installs = Json::array();
  for (const a_recorded_install& install : record.installs) installs.push_back(install_json(install, json_text));
  out["installs"] = std::move(installs);
  return out;
}

std::string record_time(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm utc;
  char text[32] = "";
  if (gmtime_r(&t, &utc) != nullptr) strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}
