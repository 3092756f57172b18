#include "support/bzip2_false_start.h"

#include <cstdint>
#include <vector>

namespace {

constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
const std::string kFalseStart = "BZh91AY&SY";

// Bits of a byte string, most significant first, as bzip2 packs them.
struct Bits {
  const std::string& bytes;
  uint64_t at = 0;
  uint64_t get(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i, ++at)
      v = (v << 1) | ((static_cast<unsigned char>(bytes[at / 8]) >> (7 - at % 8)) & 1);
    return v;
  }
  uint64_t peek(uint64_t from, int n) const {
    Bits copy{bytes, from};
    return copy.get(n);
  }
};

struct BitWriter {
  std::string out;
  uint64_t size = 0;  // in bits
  void put(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i, ++size) {
      if (size % 8 == 0) out.push_back('\0');
      if ((v >> i) & 1) out.back() = static_cast<char>(out.back() | (0x80 >> (size % 8)));
    }
  }
  void copy(const std::string& from, uint64_t begin, uint64_t end) {
    Bits bits{from, begin};
    while (bits.at < end) put(bits.get(1), 1);
  }
};

// Where the parts of a one-block stream lie, in bits.
struct a_block {
  uint32_t crc = 0;
  uint64_t begin = 32;         // the block magic
  uint64_t groups_at = 0;      // the 3-bit table count
  unsigned groups = 0;
  unsigned alphabet = 0;       // symbols per table
  uint64_t tables_end = 0;     // after the last table
  uint64_t end = 0;            // the end-of-stream magic
};

bool parse(const std::string& stream, a_block& b) {
  if (stream.size() < 14 || stream.compare(0, 4, "BZh9") != 0) return false;
  Bits bits{stream, 32};
  if (bits.get(48) != kBlockMagic) return false;
  b.crc = static_cast<uint32_t>(bits.get(32));
  bits.get(1 + 24);  // randomised, origPtr
  const uint64_t used16 = bits.get(16);
  unsigned in_use = 0;
  for (int i = 0; i < 16; ++i)
    if ((used16 >> (15 - i)) & 1) in_use += static_cast<unsigned>(__builtin_popcountll(bits.get(16)));
  b.alphabet = in_use + 2;
  b.groups_at = bits.at;
  b.groups = static_cast<unsigned>(bits.get(3));
  const uint64_t selectors = bits.get(15);
  for (uint64_t i = 0; i < selectors; ++i)
    while (bits.get(1) == 1) {
    }
  for (unsigned t = 0; t < b.groups; ++t) {
    bits.get(5);
    for (unsigned i = 0; i < b.alphabet; ++i)
      while (bits.get(1) == 1) bits.get(1);
  }
  b.tables_end = bits.at;
  // The end-of-stream magic, its CRC, then at most 7 bits of padding.
  const uint64_t total = stream.size() * 8;
  for (uint64_t at = total - 80; at + 80 + 8 > total; --at)
    if (bits.peek(at, 48) == kEndMagic) {
      b.end = at;
      return true;
    }
  return false;
}

// The bits of an unused table of |alphabet| code lengths, written from bit
// |position| of the stream on, that hold kFalseStart at a byte boundary;
// empty when none fits. A length is changed by "10" (+1) and "11" (-1) and
// ended by "0"; every length must stay within 1 to 20.
std::vector<int> false_start_table(uint64_t position, unsigned alphabet) {
  std::vector<int> pattern;
  for (const char c : kFalseStart)
    for (int i = 7; i >= 0; --i) pattern.push_back((static_cast<unsigned char>(c) >> i) & 1);
  const unsigned lead = static_cast<unsigned>((8 - (position + 5) % 8) % 8);
  for (int start = 1; start <= 20; ++start) {
    // The pattern read as lengths from |start|.
    int length = start;
    unsigned ended = lead;
    bool in_pair = false, fits = true;
    for (const int bit : pattern) {
      if (in_pair) {
        length += bit == 0 ? 1 : -1;
        in_pair = false;
      } else {
        if (length < 1 || length > 20) fits = false;
        if (bit == 0) ++ended; else in_pair = true;
      }
    }
    std::vector<int> tail;
    if (in_pair) {
      tail.push_back(length < 20 ? 0 : 1);
      length += length < 20 ? 1 : -1;
    }
    if (!fits || length < 1 || length > 20 || ended > alphabet) continue;
    uint64_t size = 5 + lead + pattern.size() + tail.size() + (alphabet - ended);
    // Pairs that leave a length within bounds make the table whole bytes.
    if (size % 2 != 0) return {};
    while (size % 8 != 0) {
      const int step = length < 20 ? 0 : 1;
      tail.push_back(1);
      tail.push_back(step);
      length += step == 0 ? 1 : -1;
      size += 2;
    }
    std::vector<int> table;
    for (int i = 4; i >= 0; --i) table.push_back((start >> i) & 1);
    table.insert(table.end(), lead, 0);
    table.insert(table.end(), pattern.begin(), pattern.end());
    table.insert(table.end(), tail.begin(), tail.end());
    table.insert(table.end(), alphabet - ended, 0);
    return table;
  }
  return {};
}

}  // namespace

std::string bzip2_with_false_start(const std::string& first, const std::string& second) {
  a_block a, b;
  if (!parse(first, a) || !parse(second, b) || b.groups >= 6) return "";
  BitWriter out;
  out.put(0x425a6839, 32);  // "BZh9"
  out.copy(first, a.begin, a.end);
  out.copy(second, b.begin, b.groups_at);
  out.put(b.groups + 1, 3);
  out.copy(second, b.groups_at + 3, b.tables_end);
  const std::vector<int> table = false_start_table(out.size, b.alphabet);
  if (table.empty()) return "";
  for (const int bit : table) out.put(static_cast<uint64_t>(bit), 1);
  out.copy(second, b.tables_end, b.end);
  out.put(kEndMagic, 48);
  uint32_t combined = 0;
  for (const uint32_t crc : {a.crc, b.crc}) combined = ((combined << 1) | (combined >> 31)) ^ crc;
  out.put(combined, 32);
  return out.out;
}
