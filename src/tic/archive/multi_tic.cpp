#include "tic/archive/multi_tic.h"

#include <utility>

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
    const int result = member.second->validate();
    if (result != 0) return result;
  }
  return 0;
}

Outcome MultiTic::integrity() const {
  for (const auto& member : members_) {
    if (Outcome valid = member.second->integrity(); !valid) return valid;
  }
  return Outcome();
}

int MultiTic::read_toc(bool force) {
  if (tables_kept_) return kept_result_;
  if (!force && !toc_.file_map.empty()) return 0;
  if (force) toc_ = TicToc();
  return merge_members(force);
}

int MultiTic::merge_members(bool force) {
  for (auto& member : members_) {
    const int result = member.second->read_toc(force);
    if (result != 0) {
      read_failure_ = member.second->read_failure();
      return result;
    }
    toc_.merge(member.second->get_toc());
  }
  return 0;
}

void MultiTic::keep_tables() {
  for (auto& member : members_) member.second->keep_tables();
  // The merged table may have been made before the members' tables were
  // last read; made again now, it comes from the kept ones alone.
  toc_ = TicToc();
  kept_result_ = merge_members(false);
  Tic::keep_tables();
}

std::vector<const Tic*> MultiTic::archives() const {
  std::vector<const Tic*> out;
  for (const auto& member : members_) out.push_back(member.second.get());
  return out;
}

int MultiTic::seek_file(const std::string& name) {
  for (auto& member : members_) {
    int descriptor = member.second->seek_file(name);
    if (descriptor != -1) return descriptor;
  }
  return -1;
}

namespace {

class a_member_locator : public a_stream_locator {
 public:
  a_member_locator(const std::vector<const TicToc*>& tables, std::vector<int> descriptors)
      : suppliers_(tables), descriptors_(std::move(descriptors)) {}
  int descriptor_of(std::string_view name) override {
    const int supplier = suppliers_.supplier(name);
    return supplier == -1 ? -1 : descriptors_[static_cast<size_t>(supplier)];
  }

 private:
  StreamSuppliers suppliers_;
  std::vector<int> descriptors_;
};

}  // namespace

std::unique_ptr<a_stream_locator> MultiTic::stream_locator() const {
  std::vector<const TicToc*> tables;
  std::vector<int> descriptors;
  for (const auto& member : members_) {
    tables.push_back(&member.second->get_toc());
    descriptors.push_back(member.second->descriptor());
  }
  return std::make_unique<a_member_locator>(tables, std::move(descriptors));
}
