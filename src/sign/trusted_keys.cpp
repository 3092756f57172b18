#include "sign/trusted_keys.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/unique.h"
#include "sign/minisign_text.h"
#include "sign/sign_steps.h"

namespace {

bool is_key_file_name(const std::string& name) {
  static const std::string kSuffix = ".pub";
  return name[0] != '.' && name.size() > kSuffix.size() &&
         name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

}  // namespace

Outcome TrustedKeys::load(const char* setting, const std::string& default_directory) {
  if (setting == nullptr) {
    struct stat st;
    if (::stat(default_directory.c_str(), &st) == 0) return load_entry(default_directory);
    if (errno == ENOENT) return Outcome();
    return failure_of(kStepTrustedKeys, default_directory);
  }
  const std::string list = setting;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) {
      if (Outcome loaded = load_entry(list.substr(start, end - start)); !loaded) return loaded;
    }
    start = end + 1;
  }
  return Outcome();
}

Outcome TrustedKeys::load_configured() { return load(getenv(kTrustedKeysVariable), kTrustedKeysDirectory); }

Outcome TrustedKeys::load_entry(const std::string& entry) {
  // The commands change into the install directory before they check, so
  // a relative entry would depend on -d.
  if (entry[0] != '/') return refusal_of(kStepTrustedKeys, entry, "not an absolute path");
  struct stat st;
  if (::stat(entry.c_str(), &st) != 0) return failure_of(kStepTrustedKeys, entry);
  if (!S_ISDIR(st.st_mode)) return load_file(entry);

  Unique<DIR, closedir> directory(opendir(entry.c_str()));
  if (!directory) return failure_of(kStepTrustedKeys, entry);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* d = readdir(directory.get())) {
    if (is_key_file_name(d->d_name)) names.push_back(d->d_name);
    errno = 0;
  }
  if (errno != 0) return failure_of(kStepTrustedKeys, entry);
  if (names.empty()) return refusal_of(kStepTrustedKeys, entry, "no *.pub key in the directory");
  std::sort(names.begin(), names.end());
  const std::string prefix = entry.back() == '/' ? entry : entry + "/";
  for (const std::string& name : names) {
    if (Outcome loaded = load_file(prefix + name); !loaded) return loaded;
  }
  return Outcome();
}

Outcome TrustedKeys::load_file(const std::string& path) {
  const Result<std::string> text = read_minisign_file(path);
  if (!text) return text.failure().as(kStepTrustedKeys);
  Result<a_public_key> key = decode_public_key(text.value());
  if (!key) return key.failure().as(kStepTrustedKeys).about(path);
  if (const a_trusted_key* same_id = find(key->id)) {
    if (std::memcmp(same_id->key.key, key->key, kPublicKeySize) == 0) return Outcome();
    return refusal_of(kStepTrustedKeys, path, "another trusted key has the id " + key_id_text(key->id));
  }
  keys_.push_back({key.value(), path});
  return Outcome();
}

const TrustedKeys::a_trusted_key* TrustedKeys::find(const unsigned char id[kKeyIdSize]) const {
  for (const a_trusted_key& k : keys_)
    if (std::memcmp(k.key.id, id, kKeyIdSize) == 0) return &k;
  return nullptr;
}
