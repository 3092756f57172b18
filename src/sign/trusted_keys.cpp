#include "sign/trusted_keys.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/unique.h"
#include "sign/minisign_text.h"

namespace {

bool fail(const std::string& what, const std::string& why, std::string* subject, std::string* cause) {
  *subject = what;
  *cause = why;
  return false;
}

bool is_key_file_name(const std::string& name) {
  static const std::string kSuffix = ".pub";
  return name[0] != '.' && name.size() > kSuffix.size() &&
         name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

}  // namespace

bool TrustedKeys::load(const char* setting, const std::string& default_directory, std::string* subject,
                       std::string* cause) {
  if (setting == nullptr) {
    struct stat st;
    if (::stat(default_directory.c_str(), &st) == 0) return load_entry(default_directory, subject, cause);
    if (errno == ENOENT) return true;
    return fail(default_directory, std::strerror(errno), subject, cause);
  }
  const std::string list = setting;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start && !load_entry(list.substr(start, end - start), subject, cause)) return false;
    start = end + 1;
  }
  return true;
}

bool TrustedKeys::load_configured(std::string* subject, std::string* cause) {
  return load(getenv(kTrustedKeysVariable), kTrustedKeysDirectory, subject, cause);
}

bool TrustedKeys::load_entry(const std::string& entry, std::string* subject, std::string* cause) {
  // The commands change into the install directory before they check, so
  // a relative entry would depend on -d.
  if (entry[0] != '/') return fail(entry, "not an absolute path", subject, cause);
  struct stat st;
  if (::stat(entry.c_str(), &st) != 0) return fail(entry, std::strerror(errno), subject, cause);
  if (!S_ISDIR(st.st_mode)) return load_file(entry, subject, cause);

  Unique<DIR, closedir> directory(opendir(entry.c_str()));
  if (!directory) return fail(entry, std::strerror(errno), subject, cause);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* d = readdir(directory.get())) {
    if (is_key_file_name(d->d_name)) names.push_back(d->d_name);
    errno = 0;
  }
  if (errno != 0) return fail(entry, std::strerror(errno), subject, cause);
  if (names.empty()) return fail(entry, "no *.pub key in the directory", subject, cause);
  std::sort(names.begin(), names.end());
  const std::string prefix = entry.back() == '/' ? entry : entry + "/";
  for (const std::string& name : names)
    if (!load_file(prefix + name, subject, cause)) return false;
  return true;
}

bool TrustedKeys::load_file(const std::string& path, std::string* subject, std::string* cause) {
  std::string text, why;
  a_trusted_key trusted;
  if (!read_minisign_file(path, &text, &why) || !decode_public_key(text, &trusted.key, &why))
    return fail(path, why, subject, cause);
  if (const a_trusted_key* same_id = find(trusted.key.id)) {
    if (std::memcmp(same_id->key.key, trusted.key.key, kPublicKeySize) == 0) return true;
    return fail(path, "another trusted key has the id " + key_id_text(trusted.key.id), subject, cause);
  }
  trusted.file = path;
  keys_.push_back(trusted);
  return true;
}

const TrustedKeys::a_trusted_key* TrustedKeys::find(const unsigned char id[kKeyIdSize]) const {
  for (const a_trusted_key& k : keys_)
    if (std::memcmp(k.key.id, id, kKeyIdSize) == 0) return &k;
  return nullptr;
}
