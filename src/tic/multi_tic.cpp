#include "tic/multi_tic.h"

MultiTic::MultiTic(const std::vector<std::string>& paths, bool verbose, const unsigned char* key, int key_length)
    : Tic(nullptr, verbose, key, key_length) {
  for (const std::string& path : paths) {
    auto [slot, added] = members_.emplace(path, nullptr);
    if (!added) continue;
    slot->second = std::make_unique<Tic>(slot->first.c_str(), verbose, key, key_length);
  }
}

MultiTic::~MultiTic() {
  for (auto& member : members_) member.second.reset();
}

int MultiTic::validate() const {
  for (const auto& member : members_) {
    int result = member.second->validate();
    if (result != 0) return result;
  }
  return 0;
}

int MultiTic::read_toc(bool force) {
  if (!force && !toc_.file_map.empty()) return 0;
  if (force) toc_ = TicToc();
  for (auto& member : members_) {
    int result = member.second->read_toc(force);
    if (result != 0) return result;
    toc_.merge(member.second->get_toc());
  }
  return 0;
}

int MultiTic::seek_file(const std::string& name) {
  for (auto& member : members_) {
    int descriptor = member.second->seek_file(name);
    if (descriptor != -1) return descriptor;
  }
  return -1;
}
