// Replays kept inputs through a fuzz target's entry point in an ordinary
// build, so that a finding stays fixed: every file of the directories (and
// every file) named on the command line, in name order. A target that
// finds a fault aborts; an empty corpus fails too.
//   replay_<target> tests/fuzz/corpus/<target>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// |path| itself, or the files directly in it when it is a directory.
void add_inputs(const std::string& path, std::vector<std::string>& out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    out.push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (const struct dirent* e = readdir(dir)) {
    const std::string child = path + "/" + e->d_name;
    if (e->d_name[0] != '.' && stat(child.c_str(), &st) == 0 && S_ISREG(st.st_mode)) out.push_back(child);
  }
  closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) add_inputs(argv[i], inputs);
  std::sort(inputs.begin(), inputs.end());
  for (const std::string& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
