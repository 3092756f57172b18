#include "tic/format/toc.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "tic/format/format_steps.h"

void TicTocEntry::swap_endian() {
  reverse_in_place(data_offset);
  reverse_in_place(file_size);
  reverse_in_place(stored_length);
  reverse_in_place(aux_a);
  reverse_in_place(aux_b);
  reverse_in_place(mask);
  reverse_in_place(control_mask);
  reverse_in_place(aux_c);
  reverse_in_place(name_index);
}

namespace {

// Offsets from 2^63 on are no file positions: a seek there never lands.
constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

// The smallest record of each table: a string is at least its length word.
constexpr uint64_t kMinRecordSize[] = {sizeof(uint32_t), TicOption::kSize, TicTocEntry::kSize};

constexpr TicTocDecoder::Table kTables[] = {TicTocDecoder::kStrings, TicTocDecoder::kOptions,
                                            TicTocDecoder::kEntries};

uint64_t bytes_after(uint64_t offset, uint64_t size) { return offset < size ? size - offset : 0; }

}  // namespace

TicTocDecoder::TicTocDecoder(TicToc& toc, const TicHeader& header, bool swap, Mode mode)
    : toc_(toc),
      swap_(swap),
      mode_(mode),
      offset_{header.string_offset, header.option_offset, header.toc_offset},
      left_{header.string_offset != 0 ? header.string_count : 0,
            header.option_offset != 0 ? header.option_count : 0,
            header.toc_offset != 0 ? header.entry_count : 0},
      claimed_{left_[kStrings], left_[kOptions], left_[kEntries]} {
  toc_.file_map.clear();
  toc_.options.option_map.clear();
}

namespace {

// The phrase of the fault of a problem, as the strict decoder says it.
const char* fault_phrase(const TicTocDecoder::a_problem& problem) {
  using Decoder = TicTocDecoder;
  const bool options = problem.table == Decoder::kOptions;
  switch (problem.fault) {
    case Decoder::kOffsetBeyondAnyFile: return "table offset beyond any file";
    case Decoder::kRunsPastTheEnd: return "table runs past the end of the archive";
    case Decoder::kCutShort: return "table cut short";
    case Decoder::kStringTooLong: return "string longer than 1023 bytes";
    case Decoder::kNameOutside:
      return options ? "option name outside the string table" : "entry name outside the string table";
    case Decoder::kDescriptionOutside: return "option description outside the string table";
    case Decoder::kRepeatedName: return options ? "repeated option name" : "repeated entry name";
    default: return "cannot read the table";
  }
}

}  // namespace

Outcome TicTocDecoder::outcome() const {
  if (problems_.empty()) return Outcome();
  return refusal_of(kStepTables, "", fault_phrase(problems_.front()));
}

void TicTocDecoder::note(Table table, Fault fault, uint64_t value) {
  problems_.push_back({table, fault, decoded_[table], position(table), value});
}

bool TicTocDecoder::fail(Table table, Fault fault, uint64_t value) {
  note(table, fault, value);
  return false;
}

TicTocDecoder::Step TicTocDecoder::reject(Table table, Fault fault, uint64_t value) {
  note(table, fault, value);
  return kRejected;
}

bool TicTocDecoder::begin(Table table, uint64_t available) {
  if (mode_ == kKeepGoing) {
    // Only what lies inside the archive is read; strings are bounded by the
    // bytes themselves.
    if (table != kStrings) left_[table] = std::min(left_[table], available / kMinRecordSize[table]);
    inside_[table] = left_[table];
    return true;
  }
  if (offset_[table] > kMaxFileOffset) return fail(table, kOffsetBeyondAnyFile);
  // Checked before anything is stored, so no claim makes the reader hold
  // more than the archive has.
  if (left_[table] > available / kMinRecordSize[table]) return fail(table, kRunsPastTheEnd);
  return true;
}

bool TicTocDecoder::decode(Table table, ByteSpan* in) {
  while (left_[table] > 0) {
    const size_t before = in->size();
    Step step;
    switch (table) {
      case kStrings: step = decode_string(in); break;
      case kOptions: step = decode_option(in); break;
      default: step = decode_entry(in); break;
    }
    if (step == kRejected) return false;
    if (step == kIncomplete) break;
    --left_[table];
    ++decoded_[table];
    consumed_[table] += before - in->size();
  }
  return true;
}

bool TicTocDecoder::finish(Table table, ByteSpan rest) {
  if (mode_ == kStrict) return left_[table] == 0 || fail(table, kCutShort);
  if (table != kStrings) {
    if (inside_[table] < claimed_[table])
      problems_.push_back({table, kCutShort, inside_[table], offset_[table], claimed_[table]});
    return decoded_[table] == claimed_[table];
  }
  if (left_[table] == 0) return true;
  // A string cut by the end of the data: its length, when that was read.
  uint32_t length;
  if (!rest.take(&length, sizeof length)) return fail(table, kCutShort, kNoLength);
  if (swap_) reverse_in_place(length);
  return fail(table, kCutShort, length);
}

void TicTocDecoder::unreadable(Table table) { note(table, kUnreadable); }

const std::string* TicTocDecoder::string_at(uint64_t index) const {
  return index < strings_.size() ? &strings_[index] : nullptr;
}

// Each record decoder consumes one record from the front of |in|, or nothing
// when |in| does not hold the whole record.

TicTocDecoder::Step TicTocDecoder::decode_string(ByteSpan* in) {
  uint32_t length;
  ByteSpan rest = *in;
  if (!rest.take(&length, sizeof length)) return kIncomplete;
  if (swap_) reverse_in_place(length);
  if (length > TicToc::kMaxStringLength) return reject(kStrings, kStringTooLong, length);
  if (rest.size() < length) return kIncomplete;
  strings_.emplace_back(reinterpret_cast<const char*>(rest.data()), length);
  rest.drop(length);
  *in = rest;
  return kDecoded;
}

template <typename Record>
TicTocDecoder::Step TicTocDecoder::take_named(ByteSpan* in, Table table, Record& record, std::vector<Record>& kept,
                                              const std::string** name) {
  if (!in->take(&record, sizeof record)) return kIncomplete;
  if (swap_) record.swap_endian();
  if (mode_ == kKeepGoing) kept.push_back(record);
  *name = string_at(record.name_index);
  if (*name != nullptr) return kDecoded;
  if (mode_ == kStrict) return reject(table, kNameOutside, record.name_index);
  note(table, kNameOutside, record.name_index);  // the record is kept unnamed
  return kDecoded;
}

TicTocDecoder::Step TicTocDecoder::decode_option(ByteSpan* in) {
  TicOption option;
  const std::string* name;
  if (const Step step = take_named(in, kOptions, option, option_records_, &name); step != kDecoded || name == nullptr)
    return step;
  const bool added = toc_.options.option_map.emplace(*name, option).second;
  const std::string* description = string_at(option.description_index);
  if (mode_ == kStrict && !added) return reject(kOptions, kRepeatedName);
  if (mode_ == kStrict && description == nullptr) return reject(kOptions, kDescriptionOutside);
  if (description != nullptr) toc_.options.description_map[*name] = *description;
  return kDecoded;
}

TicTocDecoder::Step TicTocDecoder::decode_entry(ByteSpan* in) {
  TicTocEntry entry;
  const std::string* name;
  if (const Step step = take_named(in, kEntries, entry, entry_records_, &name); step != kDecoded || name == nullptr)
    return step;
  auto& files = toc_.file_map;
  if (mode_ == kKeepGoing) {
    files.emplace(*name, entry);  // keeps the first record of a name
    return kDecoded;
  }
  // Strict: the name moves from the strings into the file map, so that the
  // names are held once while the table loads. A string already taken is a
  // repeated name; the empty place it left must not name a file.
  const size_t index = static_cast<size_t>(entry.name_index);
  if (taken_.empty()) taken_.resize(strings_.size());
  if (taken_[index]) return reject(kEntries, kRepeatedName);
  // Writers lay entries out in name order: each goes in at the end in
  // constant time, and one out of order costs a search.
  const size_t before = files.size();
  files.emplace_hint(files.end(), std::move(strings_[index]), entry);
  if (files.size() == before) return reject(kEntries, kRepeatedName);
  taken_[index] = true;
  return kDecoded;
}

Outcome TicToc::decode_from(ByteSpan archive, const TicHeader& header, bool swap) {
  TicTocDecoder decoder(*this, header, swap);
  for (const TicTocDecoder::Table table : kTables) {
    if (!decoder.present(table)) continue;
    ByteSpan bytes = archive.from(decoder.offset(table));
    if (!decoder.begin(table, bytes_after(decoder.offset(table), archive.size())) ||
        !decoder.decode(table, &bytes) || !decoder.finish(table, bytes))
      return decoder.outcome();
  }
  return Outcome();
}

bool TicToc::encode_to(uint64_t position, TicHeader& header, bool all, const ByteSink& put) {
  auto put_record = [&](const void* record, size_t size) {
    position += size;
    return put(record, size);
  };
  header.toc_offset = position;
  std::vector<const std::string*> strings;
  for (auto& [name, entry] : file_map) {
    if (!all && entry.data_offset == 0 && entry.control_mask == 0) continue;
    entry.name_index = strings.size();
    strings.push_back(&name);
    if (entry.control_mask != 0) {
      for (auto& [option_name, option] : options.option_map) {
        if ((option_bit_value(option.bit) & entry.control_mask) != 0)
          option.description_index = entry.name_index;
      }
    }
    if (all || entry.data_offset != 0) {
      if (!put_record(&entry, sizeof entry)) return false;
      ++header.entry_count;
    }
  }

  header.option_offset = position;
  for (auto& [name, option] : options.option_map) {
    option.name_index = strings.size();
    strings.push_back(&name);
    if (!put_record(&option, sizeof option)) return false;
    ++header.option_count;
  }

  header.string_offset = position;
  for (const std::string* text : strings) {
    // A longer name would make an archive that no reader can load.
    if (text->size() > kMaxStringLength) return false;
    const auto length = static_cast<uint32_t>(text->size());
    if (!put_record(&length, sizeof length) || !put_record(text->data(), text->size())) return false;
    ++header.string_count;
  }
  return true;
}

bool TicToc::encode_to(std::string* out, uint64_t position, TicHeader& header, bool all) {
  return encode_to(position, header, all, [out](const void* bytes, size_t size) {
    out->append(static_cast<const char*>(bytes), size);
    return true;
  });
}
