#include "stamp/dbversion.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/byte_span.h"
#include "platform/fd.h"
#include "stamp/stamp_steps.h"

const char kStampMarker[] = "@@==Version==@1@";
const char kStampFirstKey[] = "MODULE";

namespace {

static_assert(sizeof kStampMarker == kStampMarkerLength + 1);
static_assert(sizeof kStampFirstKey == kStampFirstKeyLength + 1);

// The search reads the file in kIoBlockSize pieces. A marker and its "MODULE"
// are 22 bytes, so the last 21 bytes of a window that held no match are
// carried into the next one: a marker cut by a read boundary is then found
// whole in the next window.
constexpr size_t kReadSize = kIoBlockSize;
constexpr size_t kMatchLength = kStampMarkerLength + kStampFirstKeyLength;
constexpr size_t kCarry = kMatchLength - 1;

constexpr unsigned char kBlankByte = 0x01;

bool is_printable(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x20 && u <= 0x7e;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Position of the first key byte of the first block in |window|: the byte
// after the first marker that is followed by "MODULE". Only markers whose
// "MODULE" lies wholly inside the window are considered; a marker followed
// by anything else is skipped and the search goes on behind it.
size_t find_first_block(const char* window, size_t length) {
  if (length < kMatchLength) return kStampBlockNotFound;
  const std::string_view searched(window, length - kStampFirstKeyLength);
  const std::string_view marker(kStampMarker, kStampMarkerLength);
  size_t from = 0;
  for (;;) {
    const size_t at = searched.find(marker, from);
    if (at == std::string_view::npos) return kStampBlockNotFound;
    const size_t after = at + kStampMarkerLength;
    if (std::memcmp(window + after, kStampFirstKey, kStampFirstKeyLength) == 0) return after;
    from = after;
  }
}

// Clears everything the parse fills in; keeps data, data_length and
// file_offset.
void reset_parse(dbversion_info* info) {
  info->num_args = 0;
  std::memset(info->args, 0, sizeof info->args);
  info->num_exts = 0;
  std::memset(info->exts, 0, sizeof info->exts);
  info->block_length = 0;
  info->ext_data = nullptr;
}

uint32_t clamp32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value); }

// Records the extensions listed by EXTENSIONS; ext_data is set. Extension
// data is laid out back to back from ext_data in list order. An extension is
// recorded only while there is room in |exts| and its data lies wholly within
// the bytes held, so no recorded pointer ever reaches outside |data|; the
// block is found either way and block_length covers every listed extension.
void parse_extensions(dbversion_info* info) {
  char* item = __Find_arg(info, "EXTENSIONS");
  if (item == nullptr) return;
  const uint64_t ext_start = static_cast<uint64_t>(info->ext_data - info->data);
  if (!is_printable(*item)) {
    info->block_length = static_cast<uint32_t>(ext_start);
    return;
  }
  // The value ends at a NUL inside data, and the walk stops at the first
  // character that is not printable, so it never passes that NUL.
  uint64_t running = ext_start;
  do {
    char* id = item++;
    uint64_t length = 0;
    while (is_digit(*item)) {
      length = length * 10 + static_cast<uint64_t>(*item - '0');
      if (length > UINT32_MAX) length = UINT32_MAX;
      ++item;
    }
    if (*item == ':' || *item == ',') ++item;
    if (info->num_exts < kStampMaxExts && running + length <= info->data_length) {
      dbversion_ext& ext = info->exts[info->num_exts++];
      ext.id = id;
      ext.length = static_cast<uint32_t>(length);
      ext.data = info->data + running;
    }
    running += length;
  } while (is_printable(*item));
  info->block_length = clamp32(running);
}

// Parses the data_length bytes of info->data. Each entry's "=" is replaced by
// NUL so that keys become terminated texts; the bytes can therefore be parsed
// only once. The last byte held is never examined as an entry byte: it is
// only ever looked at as the second NUL of the closing pair.
Outcome parse_data(dbversion_info* info) {
  auto fail = [](const char* why) { return refusal_of(kStepStampBlock, "", why); };
  reset_parse(info);
  const size_t n = info->data_length;
  if (n < 2 || n > kStampDataSize) return fail("block too short");
  char* const d = info->data;
  enum { kBeforeKey, kInKey, kInValue } state = kBeforeKey;
  dbversion_arg* entry = nullptr;
  for (size_t i = 0; i + 1 < n; ++i) {
    const char c = d[i];
    if (c == '\0') {
      if (state == kBeforeKey) return fail("empty entry before the end");
      if (state == kInKey) {
        // Only a blanked entry has no "=".
        if (static_cast<unsigned char>(*entry->name) != kBlankByte) return fail("entry without '='");
        entry->equals = nullptr;
        entry->value = d + i;
      }
      if (d[i + 1] == '\0') {
        info->ext_data = d + i + 2;
        info->block_length = static_cast<uint32_t>(i + 1);
        parse_extensions(info);
        return Outcome();
      }
      state = kBeforeKey;
      if (i + 2 == n) {
        // The copy ends one byte into the next entry: the entries held are
        // all complete, and that is as far as the block can be read.
        info->block_length = static_cast<uint32_t>(n);
        return Outcome();
      }
    } else if (c == '=') {
      if (state != kInKey) return fail(state == kInValue ? "'=' in a value" : "entry without a key");
      d[i] = '\0';
      entry->equals = d + i;
      entry->value = d + i + 1;
      state = kInValue;
    } else if (state == kBeforeKey) {
      if (info->num_args == kStampMaxArgs) return fail("more than 100 entries");
      entry = &info->args[info->num_args++];
      entry->name = d + i;
      state = kInKey;
    }
  }
  return fail("no closing empty entry");
}

// The offset of |p| inside info->data, when it points at one of the
// data_length bytes held.
bool offset_in_data(const dbversion_info* info, const char* p, size_t* offset) {
  if (p == nullptr) return false;
  const auto at = reinterpret_cast<uintptr_t>(p);
  const auto start = reinterpret_cast<uintptr_t>(info->data);
  if (at < start || at - start >= info->data_length) return false;
  *offset = at - start;
  return true;
}

}  // namespace

Outcome parse_stamp_block(const void* bytes, size_t length, dbversion_info* info) {
  if (info == nullptr) return refusal_of(kStepStampBlock, "", "nowhere to parse it into");
  std::memset(info, 0, sizeof *info);
  const size_t held = length < kStampDataSize ? length : kStampDataSize;
  if (held > 0) std::memcpy(info->data, bytes, held);
  info->data_length = static_cast<uint32_t>(held);
  return parse_data(info);
}

an_info_found __Parse_dbversion_info(const void* bytes, size_t length, dbversion_info* info) {
  return parse_stamp_block(bytes, length, info) ? kInfoFound : kInfoNotFound;
}

size_t __Find_dbversion_block(const void* bytes, size_t length) {
  return find_first_block(static_cast<const char*>(bytes), length);
}

namespace {

// The search as the file reader has always done it, over a source read
// through |read(buffer, size)| (the bytes read, fewer only at the end, or -1):
// window by window, each the bytes just read behind the last kCarry bytes of
// the window before. A marker skipped within one window (its "MODULE"
// missing) can be found by the next, so where reads cut the source matters;
// the span and the file go through this one function and agree.
// On success |block| holds up to kStampDataSize bytes from the first key on
// (the rest of the source read once more when the window ends earlier).
template <typename Read>
bool search_block(Read read, char* block, size_t* held, uint64_t* key_offset) {
  char window[kCarry + kReadSize];
  size_t carried = 0;
  uint64_t window_offset = 0;  // source offset of window[0]
  size_t length = 0;
  size_t key_start = kStampBlockNotFound;
  for (;;) {
    const ssize_t got = read(window + carried, kReadSize);
    if (got < 0) return false;
    length = carried + static_cast<size_t>(got);
    if (length < kMatchLength) return false;
    key_start = find_first_block(window, length);
    if (key_start != kStampBlockNotFound) break;
    std::memmove(window, window + length - kCarry, kCarry);
    window_offset += length - kCarry;
    carried = kCarry;
  }
  *key_offset = window_offset + key_start;
  size_t copied = length - key_start;
  if (copied > kStampDataSize) copied = kStampDataSize;
  std::memcpy(block, window + key_start, copied);
  if (copied < kStampDataSize) {
    const ssize_t more = read(block + copied, kStampDataSize - copied);
    if (more > 0) copied += static_cast<size_t>(more);
  }
  *held = copied;
  return true;
}

}  // namespace

Outcome scan_stamp_block(const void* bytes, size_t length, dbversion_info* info) {
  if (info == nullptr) return refusal_of(kStepStampBlock, "", "nowhere to parse it into");
  std::memset(info, 0, sizeof *info);
  ByteSpan source(bytes, length);
  auto read = [&source](char* out, size_t size) {
    const size_t taken = size < source.size() ? size : source.size();
    source.take(out, taken);
    return static_cast<ssize_t>(taken);
  };
  char block[kStampDataSize];
  size_t held = 0;
  uint64_t key_offset = 0;
  if (!search_block(read, block, &held, &key_offset))
    return refusal_of(kStepStampBlock, "", "no marker followed by MODULE");
  Outcome parsed = parse_stamp_block(block, held, info);
  info->file_offset = key_offset;
  return parsed;
}

an_info_found __Scan_dbversion_info(const void* bytes, size_t length, dbversion_info* info) {
  return scan_stamp_block(bytes, length, info) ? kInfoFound : kInfoNotFound;
}

an_info_found __Get_dbversion_info(const char* path, dbversion_info* info, unsigned follow_links) {
  if (info == nullptr) return kInfoNotFound;
  std::memset(info, 0, sizeof *info);
  if (path == nullptr) return kInfoNotFound;
  if (follow_links == 0) {
    struct stat st;
    if (::lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) return kInfoNotFound;
  }
  // Only a regular file is searched: a FIFO would block, a device stream
  // without end.
  Result<UniqueFd> opened = open_regular_file(path);
  if (!opened) return kInfoNotFound;
  UniqueFd& fd = opened.value();
  auto read = [&fd](char* out, size_t size) { return read_full(fd.get(), out, size); };
  char block[kStampDataSize];
  size_t held = 0;
  uint64_t key_offset = 0;
  if (!search_block(read, block, &held, &key_offset)) return kInfoNotFound;
  fd.reset();
  const an_info_found found = __Parse_dbversion_info(block, held, info);
  info->file_offset = key_offset;
  return found;
}

int __Find_arg_index(const dbversion_info* info, const char* key) {
  if (info == nullptr || key == nullptr) return -1;
  const uint32_t count = info->num_args < kStampMaxArgs ? info->num_args : kStampMaxArgs;
  for (uint32_t i = 0; i < count; ++i) {
    const char* name = info->args[i].name;
    if (name != nullptr && strcasecmp(name, key) == 0) return static_cast<int>(i);
  }
  return -1;
}

char* __Find_arg(const dbversion_info* info, const char* key) {
  const int index = __Find_arg_index(info, key);
  return index < 0 ? nullptr : info->args[index].value;
}

const char* __Find_arg_safe(const dbversion_info* info, const char* key, const char* fallback) {
  const char* value = __Find_arg(info, key);
  if (value != nullptr) return value;
  return fallback != nullptr ? fallback : key;
}

int __Find_ext_index(const dbversion_info* info, const char* id) {
  if (info == nullptr || id == nullptr) return -1;
  const uint32_t count = info->num_exts < kStampMaxExts ? info->num_exts : kStampMaxExts;
  for (uint32_t i = 0; i < count; ++i) {
    if (info->exts[i].id != nullptr && *info->exts[i].id == *id) return static_cast<int>(i);
  }
  return -1;
}

void __Clone_dbversion_info(const dbversion_info* from, dbversion_info* to) {
  if (from == nullptr || to == nullptr || from == to) return;
  std::memcpy(to, from, sizeof *to);
  const auto start = reinterpret_cast<uintptr_t>(from->data);
  const auto end = start + sizeof from->data;
  auto move = [&](char*& p) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    if (p != nullptr && at >= start && at <= end) p = to->data + (at - start);
  };
  for (dbversion_arg& arg : to->args) {
    move(arg.name);
    move(arg.equals);
    move(arg.value);
  }
  for (dbversion_ext& ext : to->exts) {
    move(ext.id);
    move(ext.data);
  }
  move(to->ext_data);
}

unsigned __Zap_dbversion_info(const char* path, const dbversion_info* info, const char* key, const char* ext_ids) {
  if (path == nullptr || info == nullptr) return 0;
  UniqueFd fd(::open(path, O_RDWR | O_CLOEXEC));
  if (!fd.valid()) return 0;
  char buffer[kStampDataSize];
  const ssize_t got = pread_full(fd.get(), buffer, sizeof buffer, info->file_offset);
  if (got < 0 || static_cast<size_t>(got) < info->data_length) return 0;
  const size_t held = static_cast<size_t>(got);

  // Overwrites |count| bytes at the place of |p| (a pointer into info->data)
  // in the buffer just read; false when |p| is not inside the block.
  auto overwrite = [&](const char* p, size_t count, char with) {
    size_t at;
    if (!offset_in_data(info, p, &at)) return false;
    for (size_t k = 0; k < count && at + k < held; ++k) buffer[at + k] = with;
    return true;
  };
  // Length of the text at |p| in info->data, never reading past data_length.
  auto text_length = [&](const char* p) {
    size_t at;
    return offset_in_data(info, p, &at) ? strnlen(p, info->data_length - at) : 0;
  };

  bool changed = false;
  const int arg_index = key != nullptr ? __Find_arg_index(info, key) : -1;
  if (arg_index >= 0) {
    const dbversion_arg& arg = info->args[arg_index];
    const size_t key_length = text_length(arg.name);
    if (overwrite(arg.name, key_length, kBlankByte)) {
      // In the file the "=" is still there (the parsed copy holds a NUL).
      size_t at;
      if (offset_in_data(info, arg.name, &at) && at + key_length < held && buffer[at + key_length] == '=')
        buffer[at + key_length] = kBlankByte;
      overwrite(arg.value, text_length(arg.value), kBlankByte);
      changed = true;
    }
  }
  for (const char* id = ext_ids; id != nullptr && *id != '\0'; ++id) {
    const int ext_index = __Find_ext_index(info, id);
    if (ext_index < 0) continue;
    const dbversion_ext& ext = info->exts[ext_index];
    if (overwrite(ext.id, 1, '?')) changed = true;
    if (ext.length > 0 && overwrite(ext.data, ext.length, '\0')) changed = true;
  }

  if (!changed) return 1;
  const ssize_t put = pwrite_full(fd.get(), buffer, held, info->file_offset);
  return put >= 0 && static_cast<size_t>(put) >= held ? 1 : 0;
}
