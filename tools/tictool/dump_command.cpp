// tictool dump.
//
// Text: one fact per line. A section starts at the left margin
// ("archive <path>", and "set <path> ..." for several archives); its
// records ("option <name>", "entry <name>", "string <n> <text>",
// "stamp <key>=<value>", "stopped <where>") are indented by two blanks and
// their fields by four. Control characters in names and texts are shown as
// \xNN.
//
// JSON: {"archives": [...], "set": {...} or null, "complete": bool}; the key
// names are listed in tictool(1) and stay as they are.
#include "dump_command.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/archive_key.h"
#include "display/message.h"
#include "display/progress.h"
#include "platform/json.h"
#include "sign/signature_report.h"
#include "tic/archive/inspect.h"
#include "tic/format/options.h"
#include "tic/format/toc.h"

namespace {

std::string hex(const unsigned char* bytes, size_t size) { return hex_text(bytes, size); }

std::string mask_text(uint64_t mask) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(mask));
  return text;
}

const char* key_name(an_archive_key key) {
  switch (key) {
    case an_archive_key::kProduct: return "product";
    case an_archive_key::kNone: return "none";
    default: return "unknown";
  }
}

// An option as the dump shows it, in a member or in the set.
struct a_shown_option {
  bool named = true;
  std::string name;
  uint64_t number = 0;
  bool described = false;
  std::string description;
  std::vector<std::string> archives;
};

// An entry as the dump shows it.
struct a_shown_entry {
  bool named = true;
  std::string name;
  uint64_t name_index = 0;
  const TicTocEntry* record = nullptr;
  bool has_mode = false;
  std::string mode;
  std::string compression;           // of the stream, empty when unknown
  std::vector<std::string> options;  // the options whose bit the mask holds
  std::vector<std::string> control;  // likewise for the control mask
  std::string archive;               // the archive holding the stream, or empty
};

// The option names whose bit value shares a bit with |mask|: the options
// that select the file.
std::vector<std::string> option_names(const TicOptions& options, uint64_t mask) {
  std::vector<std::pair<uint64_t, std::string>> by_bit;
  for (const auto& [name, option] : options.option_map)
    if ((option_bit_value(option.bit) & mask) != 0) by_bit.emplace_back(option.bit, name);
  std::sort(by_bit.begin(), by_bit.end());
  std::vector<std::string> names;
  for (const auto& named : by_bit) names.push_back(named.second);
  return names;
}

struct a_shown_archive {
  const an_archive_inspection* inspection;
  bool signed_ = false;  // a signature file lies beside the archive
  a_signature_report signature;
  std::vector<a_shown_option> options;
  std::vector<a_shown_entry> entries;
};

a_shown_archive show_member(const an_archive_inspection& in) {
  a_shown_archive out;
  out.inspection = &in;
  TicOptions options;
  for (const an_inspected_option& o : in.options) {
    a_shown_option shown;
    shown.named = o.named;
    shown.name = o.named ? o.name : "#" + std::to_string(o.record.name_index);
    shown.number = o.record.bit;
    shown.described = o.described;
    shown.description = o.description;
    shown.archives.push_back(in.path);
    out.options.push_back(shown);
    if (o.named) options.option_map.emplace(o.name, o.record);
  }
  for (const an_inspected_entry& e : in.entries) {
    a_shown_entry shown;
    shown.named = e.named;
    shown.name = e.named ? e.name : "#" + std::to_string(e.record.name_index);
    shown.name_index = e.record.name_index;
    shown.record = &e.record;
    shown.has_mode = e.has_mode;
    if (e.has_mode) shown.mode = file_mode_text(e.mode);
    if (e.compression != a_compression::kUnknown) shown.compression = compression_name(e.compression);
    shown.options = option_names(options, e.record.mask);
    shown.control = option_names(options, e.record.control_mask);
    if (e.record.data_offset != 0) shown.archive = in.path;
    out.entries.push_back(shown);
  }
  return out;
}

// The set kestrel reads: the members merged in byte-wise order of their
// paths, each option with the members that define it, each entry with the
// member whose stream install takes.
struct a_shown_set {
  std::vector<std::string> paths;
  TicToc toc;
  std::vector<a_shown_option> options;
  std::vector<a_shown_entry> entries;
};

void show_set(const std::vector<an_archive_inspection>& members, a_shown_set& out) {
  std::map<std::string, const an_archive_inspection*> by_path;
  for (const an_archive_inspection& m : members) by_path.emplace(m.path, &m);
  std::vector<const TicToc*> tocs;
  std::vector<const an_archive_inspection*> in_order;
  for (const auto& [path, m] : by_path) {
    out.paths.push_back(path);
    tocs.push_back(&m->toc);
    in_order.push_back(m);
    out.toc.merge(m->toc);
  }
  for (const auto& [name, option] : out.toc.options.option_map) {
    a_shown_option shown;
    shown.name = name;
    shown.number = option.bit;
    auto description = out.toc.options.description_map.find(name);
    shown.described = description != out.toc.options.description_map.end();
    if (shown.described) shown.description = description->second;
    for (const an_archive_inspection* m : in_order)
      if (m->toc.options.option_map.count(name) != 0) shown.archives.push_back(m->path);
    out.options.push_back(shown);
  }
  std::vector<std::string_view> names;
  for (const auto& item : out.toc.file_map) names.push_back(item.first);
  const std::vector<int> suppliers = stream_suppliers(tocs, names);
  size_t i = 0;
  for (const auto& [name, entry] : out.toc.file_map) {
    a_shown_entry shown;
    shown.name = name;
    shown.record = &entry;
    shown.options = option_names(out.toc.options, entry.mask);
    shown.control = option_names(out.toc.options, entry.control_mask);
    if (const int supplier = suppliers[i++]; supplier != -1) {
      const an_archive_inspection* m = in_order[static_cast<size_t>(supplier)];
      shown.archive = m->path;
      for (const an_inspected_entry& e : m->entries)
        if (e.named && e.name == name && e.has_mode) {
          shown.has_mode = true;
          shown.mode = file_mode_text(e.mode);
          if (e.compression != a_compression::kUnknown) shown.compression = compression_name(e.compression);
        }
    }
    out.entries.push_back(shown);
  }
}

// ---- text

// Names and texts with every control character shown as \xNN.
std::string escaped(const std::string& text) { return printable(text); }

std::string joined(const std::vector<std::string>& names, const char* separator) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : separator) + escaped(name);
  return out.empty() ? "-" : out;
}

void text_options(const std::vector<a_shown_option>& options) {
  for (const a_shown_option& o : options) {
    std::printf("  option %s\n", escaped(o.name).c_str());
    std::printf("    number %llu\n", static_cast<unsigned long long>(o.number));
    std::printf("    description %s\n", o.described ? escaped(o.description).c_str() : "-");
    std::printf("    archives %s\n", joined(o.archives, " ").c_str());
  }
}

void text_entries(const std::vector<a_shown_entry>& entries) {
  for (const a_shown_entry& e : entries) {
    const TicTocEntry& r = *e.record;
    std::printf("  entry %s\n", escaped(e.name).c_str());
    std::printf("    size %llu\n", static_cast<unsigned long long>(r.file_size));
    std::printf("    mode %s\n", e.has_mode ? e.mode.c_str() : "-");
    std::printf("    compression %s\n", e.compression.empty() ? "-" : e.compression.c_str());
    std::printf("    options %s (mask %s)\n", joined(e.options, "|").c_str(), mask_text(r.mask).c_str());
    std::printf("    control %s (mask %s)\n", joined(e.control, "|").c_str(), mask_text(r.control_mask).c_str());
    std::printf("    archive %s\n", e.archive.empty() ? "-" : escaped(e.archive).c_str());
    std::printf("    data offset %llu\n", static_cast<unsigned long long>(r.data_offset));
    std::printf("    stored length %llu\n", static_cast<unsigned long long>(r.stored_length));
    std::printf("    mac %s\n", hex(r.mac, sizeof r.mac).c_str());
    std::printf("    aux %llu %llu %llu\n", static_cast<unsigned long long>(r.aux_a),
                static_cast<unsigned long long>(r.aux_b), static_cast<unsigned long long>(r.aux_c));
  }
}

const char* algorithm_name(const a_signature_report& r) {
  if (!r.decoded) return nullptr;
  return r.signature.prehashed ? "prehashed" : "legacy";
}

std::string verdict_text(const a_signature_report& r) {
  if (!r.checked) return "not checked: " + r.reason;
  return (r.verifies ? "yes: key " : "no: ") + r.reason;
}

void text_signature(const a_signature_report& r) {
  std::printf("  signature %s\n", escaped(r.file).c_str());
  std::printf("    key id %s\n", r.decoded ? key_id_text(r.signature.key_id).c_str() : "-");
  std::printf("    algorithm %s\n", r.decoded ? algorithm_name(r) : "-");
  std::printf("    trusted comment %s\n", r.decoded ? escaped(r.signature.trusted_comment).c_str() : "-");
  std::printf("    verifies %s\n", escaped(verdict_text(r)).c_str());
}

void text_archive(const a_shown_archive& shown) {
  const an_archive_inspection& in = *shown.inspection;
  std::printf("archive %s\n", escaped(in.path).c_str());
  std::printf("  size %llu\n", static_cast<unsigned long long>(in.file_size));
  if (in.header_read) {
    const TicHeader& h = in.header;
    std::printf("  mac %s (key: %s)\n", hex(h.mac, sizeof h.mac).c_str(), key_name(in.key));
    std::printf("  version %u.%u.%u build %u\n", h.major, h.minor, h.patch, h.build);
    std::printf("  byte order %s\n", in.swapped ? "swapped" : "native");
    std::printf("  stamp block %llu bytes at %llu\n", static_cast<unsigned long long>(h.version_length),
                static_cast<unsigned long long>(h.version_offset));
    std::printf("  entry table %llu entries at %llu\n", static_cast<unsigned long long>(h.entry_count),
                static_cast<unsigned long long>(h.toc_offset));
    std::printf("  option table %llu options at %llu\n", static_cast<unsigned long long>(h.option_count),
                static_cast<unsigned long long>(h.option_offset));
    std::printf("  string table %llu strings at %llu\n", static_cast<unsigned long long>(h.string_count),
                static_cast<unsigned long long>(h.string_offset));
  }
  text_options(shown.options);
  text_entries(shown.entries);
  for (size_t i = 0; i < in.strings.size(); ++i) std::printf("  string %zu %s\n", i, escaped(in.strings[i]).c_str());
  for (const a_stamp_entry& s : in.stamp)
    std::printf("  stamp %s=%s\n", escaped(s.key).c_str(), escaped(s.value).c_str());
  for (const std::string& problem : in.problems) std::printf("  stopped %s\n", escaped(problem).c_str());
  if (shown.signed_) text_signature(shown.signature);
}

void text_set(const a_shown_set& set) {
  std::printf("set %s\n", joined(set.paths, " ").c_str());
  text_options(set.options);
  text_entries(set.entries);
}

// ---- JSON

Json json_or_null(bool present, const std::string& text) { return present ? json_text(text) : Json(nullptr); }

Json json_list(const std::vector<std::string>& texts) {
  Json out = Json::array();
  for (const std::string& text : texts) out.push_back(json_text(text));
  return out;
}

Json json_options(const std::vector<a_shown_option>& options) {
  Json out = Json::array();
  for (const a_shown_option& o : options) {
    Json one = Json::object();
    one["name"] = json_or_null(o.named, o.name);
    one["number"] = o.number;
    one["description"] = json_or_null(o.described, o.description);
    one["archives"] = json_list(o.archives);
    out.push_back(std::move(one));
  }
  return out;
}

Json json_entries(const std::vector<a_shown_entry>& entries) {
  Json out = Json::array();
  for (const a_shown_entry& e : entries) {
    const TicTocEntry& r = *e.record;
    Json one = Json::object();
    one["name"] = json_or_null(e.named, e.name);
    one["name_index"] = r.name_index;
    one["size"] = r.file_size;
    one["mode"] = json_or_null(e.has_mode, e.mode);
    one["compression"] = json_or_null(!e.compression.empty(), e.compression);
    one["options"] = json_list(e.options);
    one["mask"] = mask_text(r.mask);
    one["control"] = json_list(e.control);
    one["control_mask"] = mask_text(r.control_mask);
    one["archive"] = json_or_null(!e.archive.empty(), e.archive);
    one["data_offset"] = r.data_offset;
    one["stored_length"] = r.stored_length;
    one["mac"] = hex(r.mac, sizeof r.mac);
    one["aux"] = Json::array({r.aux_a, r.aux_b, r.aux_c});
    out.push_back(std::move(one));
  }
  return out;
}

Json json_archive(const a_shown_archive& shown) {
  const an_archive_inspection& in = *shown.inspection;
  Json out = Json::object();
  out["path"] = json_text(in.path);
  out["size"] = in.file_size;
  out["complete"] = in.complete();
  out["problems"] = json_list(in.problems);
  out["header"] = nullptr;
  if (in.header_read) {
    const TicHeader& h = in.header;
    Json header = Json::object();
    header["mac"] = hex(h.mac, sizeof h.mac);
    header["key"] = key_name(in.key);
    header["byte_order"] = in.swapped ? "swapped" : "native";
    const std::pair<const char*, uint64_t> fields[] = {
        {"toc_offset", h.toc_offset},         {"entry_count", h.entry_count},
        {"option_offset", h.option_offset},   {"option_count", h.option_count},
        {"string_offset", h.string_offset},   {"string_count", h.string_count},
        {"version_offset", h.version_offset}, {"version_length", h.version_length},
        {"major", h.major},                   {"minor", h.minor},
        {"patch", h.patch},                   {"build", h.build},
    };
    for (const auto& [name, value] : fields) header[name] = value;
    out["header"] = std::move(header);
  }
  out["options"] = json_options(shown.options);
  out["entries"] = json_entries(shown.entries);
  out["strings"] = json_list(in.strings);
  out["stamp"] = nullptr;
  if (in.stamp_read) {
    Json stamp = Json::array();
    for (const a_stamp_entry& s : in.stamp) {
      Json one = Json::object();
      one["key"] = json_text(s.key);
      one["value"] = json_text(s.value);
      stamp.push_back(std::move(one));
    }
    out["stamp"] = std::move(stamp);
  }
  out["signature"] = nullptr;
  if (shown.signed_) {
    const a_signature_report& r = shown.signature;
    Json signature = Json::object();
    signature["file"] = json_text(r.file);
    signature["key_id"] = json_or_null(r.decoded, r.decoded ? key_id_text(r.signature.key_id) : "");
    signature["algorithm"] = json_or_null(r.decoded, r.decoded ? algorithm_name(r) : "");
    signature["trusted_comment"] = json_or_null(r.decoded, r.signature.trusted_comment);
    signature["verifies"] = r.checked ? Json(r.verifies) : Json(nullptr);
    signature["reason"] = json_text(r.reason);
    out["signature"] = std::move(signature);
  }
  return out;
}

}  // namespace

int run_dump(const a_dump_request& request) {
  const ArchiveKey key;
  std::vector<an_archive_inspection> members(request.archives.size());
  bool complete = true;
  for (size_t i = 0; i < members.size(); ++i) {
    inspect_archive(request.archives[i], key.bytes(), key.length(), members[i]);
    complete = complete && members[i].complete();
  }
  std::vector<a_shown_archive> shown;
  for (const an_archive_inspection& m : members) shown.push_back(show_member(m));
  // Each signature is checked with the keys kestrel would use.
  TrustedKeys keys;
  const Outcome trust = keys.load_configured();
  for (a_shown_archive& s : shown)
    s.signed_ = report_signature(s.inspection->path, keys, trust, &s.signature);
  const bool with_set = std::set<std::string>(request.archives.begin(), request.archives.end()).size() > 1;
  a_shown_set set;
  if (with_set) show_set(members, set);

  if (!request.json) {
    for (const a_shown_archive& s : shown) text_archive(s);
    if (with_set) text_set(set);
  } else {
    Json document = Json::object();
    document["archives"] = Json::array();
    for (const a_shown_archive& s : shown) document["archives"].push_back(json_archive(s));
    document["set"] = nullptr;
    if (with_set) {
      Json one = Json::object();
      one["archives"] = json_list(set.paths);
      one["options"] = json_options(set.options);
      one["entries"] = json_entries(set.entries);
      document["set"] = std::move(one);
    }
    document["complete"] = complete;
    std::printf("%s\n", json_document(document, 1).c_str());
  }
  std::fflush(stdout);
  return complete ? kDumpComplete : kDumpIncomplete;
}
