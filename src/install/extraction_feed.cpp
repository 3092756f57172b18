#include "install/extraction_feed.h"

#include <algorithm>
#include <utility>

#include "install/extraction.h"
#include "install/install_directory.h"

ExtractionFeed::ExtractionFeed(StreamOrder& order, a_placement beside, size_t window)
    : order_(order),
      beside_(std::move(beside)),
      feed_(window, [this](size_t position, a_fed_file& file) { make(position, file); }) {}

void ExtractionFeed::make(size_t position, a_fed_file& file) {
  if (position >= feed_.ring_size()) {
    auto known = positions_.find(file.path);
    if (known != positions_.end() && known->second == position - feed_.ring_size()) positions_.erase(known);
  }
  file = a_fed_file{};
  if (!order_.next(file.ref)) return;  // the position lies past the last file: the pool never takes it
  file.beside = beside_ && beside_(file.ref);
  file.path = normalised_path(*file.ref.name) + (file.beside ? kBesideSuffix : "");
  const std::string& path = file.path;
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    auto at = positions_.find(std::string_view(path).substr(0, slash));
    if (at != positions_.end()) file.depends_on = std::max(file.depends_on, static_cast<long long>(at->second));
  }
  positions_[path] = position;
}
