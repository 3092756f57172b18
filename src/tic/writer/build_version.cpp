#include "tic/writer/build_version.h"

#include <errno.h>
#include <strings.h>
#include <time.h>

#include <cstdint>

#include "stamp/stamp_steps.h"

namespace {

// Product names whose archives carry the version 1.0.0 build 4716; the core
// product is stamped under the name of the whole.
constexpr char kNimbrel[] = "nimbrel";
constexpr char kNimbrelCore[] = "nimbrel_core";

// The header fields a version key sets, and the largest value each holds.
struct a_version_key {
  const char* key;
  unsigned long long max;
};
constexpr a_version_key kVersionKeys[] = {
    {"VERSION_MAJOR", 255}, {"VERSION_MINOR", 255}, {"VERSION_PATCH", 255}, {"BUILD_NUMBER", 4294967295ULL}};

const a_version_key* version_key(const std::string& key) {
  for (const a_version_key& k : kVersionKeys)
    if (strcasecmp(k.key, key.c_str()) == 0) return &k;
  return nullptr;
}

// A plain decimal number: digits only, no leading zero, at most |max|.
bool parse_version_number(const std::string& text, unsigned long long max, unsigned long long& out) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

// Applies the version information to |stamp|. IDENT, unless given itself,
// is made again from the entries in force, so that it says what they say.
void apply_version_info(const a_build_version& settings, const a_stamp_time& when, a_stamp_entries& stamp) {
  bool ident_given = false;
  for (const a_stamp_entry& entry : settings.version_info) {
    set_stamp_entry(stamp, entry.key, entry.value);
    ident_given = ident_given || strcasecmp(entry.key.c_str(), "IDENT") == 0;
  }
  if (!ident_given) set_stamp_entry(stamp, "IDENT", stamp_ident(stamp, when));
}

a_stamp_time stamp_time(const a_build_version& settings) {
  a_stamp_time when;
  when.utc = settings.has_source_date_epoch;
  when.when = settings.has_source_date_epoch ? static_cast<time_t>(settings.source_date_epoch) : time(nullptr);
  return when;
}

}  // namespace

std::string stamped_product_name(const std::string& product) {
  return product == kNimbrelCore ? kNimbrel : product;
}

Outcome valid_version_info(const std::string& key, const std::string& value) {
  if (Outcome entry = valid_stamp_entry(key, value); !entry) return entry;
  const a_version_key* version = version_key(key);
  unsigned long long number;
  if (version != nullptr && !parse_version_number(value, version->max, number))
    return refusal_of(kStepStampEntry, key, "not a number from 0 to " + std::to_string(version->max));
  return Outcome();
}

namespace {

void build_version_at(const a_build_version& settings, const a_stamp_time& when, TicHeader& header,
                      a_stamp_entries& stamp) {
  header = TicHeader();
  a_stamp_version version;
  version.product = stamped_product_name(settings.product);
  if (version.product == kNimbrel) {
    header.major = 1;
    header.minor = 0;
    header.patch = 0;
    header.build = 4716;
  }
  for (const a_stamp_entry& entry : settings.version_info) {
    const a_version_key* key = version_key(entry.key);
    unsigned long long number;
    if (key == nullptr || !parse_version_number(entry.value, key->max, number)) continue;
    if (key == &kVersionKeys[0]) header.major = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[1]) header.minor = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[2]) header.patch = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[3]) header.build = static_cast<uint32_t>(number);
  }
  version.major = header.major;
  version.minor = header.minor;
  version.patch = header.patch;
  version.build = header.build;
  stamp = archive_stamp_entries(version, when);
  apply_version_info(settings, when, stamp);
}

}  // namespace

void build_version(const a_build_version& settings, TicHeader& header, a_stamp_entries& stamp) {
  build_version_at(settings, stamp_time(settings), header, stamp);
}

bool compose_version_block(const a_build_version& settings, const TicHeader& header,
                           char (&block)[kStampDataSize], size_t* length) {
  TicHeader built;
  a_stamp_entries stamp;
  const a_stamp_time when = stamp_time(settings);
  build_version_at(settings, when, built, stamp);
  // The entries follow the header as the caller has it.
  set_stamp_entry(stamp, "VERSION_MAJOR", std::to_string(header.major));
  set_stamp_entry(stamp, "VERSION_MINOR", std::to_string(header.minor));
  set_stamp_entry(stamp, "VERSION_PATCH", std::to_string(header.patch));
  set_stamp_entry(stamp, "BUILD_NUMBER", std::to_string(header.build));
  apply_version_info(settings, when, stamp);
  // A block that readers would cut short is not written at all.
  if (!stamp_fits(stamp)) {
    errno = EOVERFLOW;
    return false;
  }
  *length = compose_stamp(stamp, block);
  return true;
}
