#include "tic/format/list_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tic/format/format_steps.h"
#include "tic/format/split.h"
#include "tic/format/toc.h"

void CVSRow::readNextRow(std::istream& in) {
  std::string line;
  std::getline(in, line);
  parse(line);
}

void CVSRow::parse(std::string_view line) {
  fields_.clear();
  split(std::string(line), ";", fields_);
  if (fields_.size() > 1 && fields_.back().empty()) fields_.pop_back();
}

std::istream& operator>>(std::istream& in, CVSRow& row) {
  row.readNextRow(in);
  return in;
}

namespace {

constexpr size_t kColumns = 6;

unsigned long long number_of(const std::string& field) { return std::strtoull(field.c_str(), nullptr, 0); }

}  // namespace

Outcome TicToc::decode_list(std::string_view text) {
  file_map.clear();
  options.option_map.clear();
  // Lines end at "\n"; the last one needs none, and nothing after the last
  // "\n" is no line.
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (Outcome taken = decode_list_line(text.substr(0, end)); !taken) return taken;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return Outcome();
}

namespace {

// The names of the number columns, for the doubts about them.
constexpr const char* kNumberColumns[] = {"aux_a", "aux_b", "aux_c"};

// What is doubtful about a number field as strtoull reads it, or empty:
// no number at all, a sign, a number too large, text after the number. An
// empty field is a plain 0.
std::string number_doubt(std::string field) {
  if (field.empty()) return "";
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(field.c_str(), &end, 0);
  const size_t read = static_cast<size_t>(end - field.c_str());
  if (read == 0) return "is not a number; it is read as 0";
  if (errno == ERANGE) return "is too large; it is read as " + std::to_string(value);
  if (field.find('-') < read) return "is negative; it is read as " + std::to_string(value);
  if (read < field.size()) return "has text after its number; it is read as " + std::to_string(value);
  return "";
}

}  // namespace

std::vector<std::string> list_row_doubts(const CVSRow& row) {
  std::vector<std::string> doubts;
  if (row.size() > kColumns)
    doubts.push_back(std::to_string(row.size()) + " fields; what follows the sixth is ignored");
  const std::string& last = row[row.size() - 1];
  const bool carriage_return = !last.empty() && last.back() == '\r';
  for (size_t i = 0; i < 3; ++i) {
    std::string field = row[3 + i];
    // The carriage return of a DOS line end gets a doubt of its own.
    if (carriage_return && 3 + i == row.size() - 1) field.pop_back();
    const std::string doubt = number_doubt(field);
    if (!doubt.empty())
      doubts.push_back("field " + std::to_string(4 + i) + " (" + kNumberColumns[i] + ") \"" + field + "\" " + doubt);
  }
  if (carriage_return)
    doubts.push_back("the line ends in a carriage return, which stays part of its last field (DOS line ends?)");
  return doubts;
}

Outcome TicToc::decode_list_line(std::string_view line, std::vector<std::string>* doubts) {
  CVSRow row;
  row.parse(line);
  if (row.size() < kColumns) {
    return refusal_of(kStepInvalidEntry, row[0],
                      line.empty() ? "empty line; expected 6 fields separated by ';'"
                                   : "expected 6 fields separated by ';', found " + std::to_string(row.size()));
  }
  TicTocEntry entry;
  entry.mask = options.option_mask(row[1]);
  entry.control_mask = options.option_mask(row[2]);
  entry.aux_a = number_of(row[3]);
  entry.aux_b = number_of(row[4]);
  entry.aux_c = number_of(row[5]);
  if (!file_map.emplace(row[0], entry).second)
    return refusal_of(kStepDuplicateFile, row[0], "\"" + row[0] + "\" is listed on an earlier line");
  if (doubts != nullptr) *doubts = list_row_doubts(row);
  return Outcome();
}

namespace {

// What the list reader fills in besides the six columns: an entry that
// differs from this in its stream fields, MAC or string index cannot be
// carried by the text.
bool only_columns(const TicTocEntry& entry) {
  const TicTocEntry fresh;
  return std::memcmp(entry.mac, fresh.mac, sizeof entry.mac) == 0 && entry.data_offset == 0 &&
         entry.file_size == 0 && entry.stored_length == 0 && entry.name_index == 0;
}

using Line = const std::pair<const std::string, TicTocEntry>*;

Outcome unwritable(const std::string& name, const char* why) { return refusal_of(kStepListText, name, why); }

// The option names by bit number. The reader numbers options in order of
// first appearance, so the option with bit k must be the k-th to be named.
Outcome options_by_bit(const TicOptions& options, std::vector<const std::string*>& by_bit) {
  by_bit.assign(options.option_map.size(), nullptr);
  for (const auto& [name, option] : options.option_map) {
    if (name.empty() || name.find_first_of("|;\n") != std::string::npos)
      return unwritable(name, "option name not writable");
    if (option.bit >= by_bit.size() || by_bit[option.bit] != nullptr)
      return unwritable(name, "option bits not numbered by appearance");
    if (option.name_index != 0 || option.description_index != 0)
      return unwritable(name, "option with string indices");
    by_bit[option.bit] = &name;
  }
  return Outcome();
}

// The lines to write, in name order: every entry the text can carry.
Outcome writable_lines(const std::map<std::string, TicTocEntry>& files, std::vector<Line>& lines) {
  for (const auto& item : files) {
    if (item.first.find_first_of(";\n") != std::string::npos) return unwritable(item.first, "file name not writable");
    if (!only_columns(item.second)) return unwritable(item.first, "file with stream fields");
    lines.push_back(&item);
  }
  return Outcome();
}

// The text form written line by line, with the count of options it has
// defined so far (those with the lowest bit numbers).
class a_list_text {
 public:
  explicit a_list_text(const std::vector<const std::string*>& by_bit) : by_bit_(by_bit) {}

  // Writes the line that defines the most options next, until no line
  // defines any more; the rest follow in name order. With at most 32
  // options every bit value is its own, a line only names options it
  // defines or that are defined before it, and this always succeeds. From
  // the 33rd option on bit values repeat, a line can spell its mask with
  // earlier options before it has defined the one it alone names, and a
  // table can need an order this does not find: its lines stay in |lines|.
  void write(std::vector<Line>& lines) {
    for (size_t best; (best = most_defining(lines)) < lines.size();) {
      write_line(*lines[best]);
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(best));
    }
    std::vector<Line> unwritten;
    for (Line line : lines)
      if (!write_line(*line)) unwritten.push_back(line);
    lines.swap(unwritten);
  }

  const std::string& text() const { return text_; }
  size_t named() const { return named_; }

 private:
  // Appends to |column| names whose bit values together make |mask|: every
  // option already defined (bits below |*named|) that lies within it, then
  // the next undefined ones in bit order for as long as they lie within it.
  // Defining an option early never keeps a later line from being written.
  bool spell(unsigned long long mask, std::string& column, size_t* named) const {
    unsigned long long spelled = 0;
    auto add = [&](size_t bit) {
      if (!column.empty()) column += '|';
      column += *by_bit_[bit];
      spelled |= option_bit_value(bit);
    };
    for (size_t bit = 0; bit < *named; ++bit)
      if ((option_bit_value(bit) & ~mask) == 0) add(bit);
    for (; *named < by_bit_.size() && (option_bit_value(*named) & ~mask) == 0; ++*named) add(*named);
    return spelled == mask;
  }

  // The columns of |entry| with |*defined| options defined; false when its
  // masks cannot be spelled yet.
  bool columns(const TicTocEntry& entry, size_t* defined, std::string* mask, std::string* control) const {
    return spell(entry.mask, *mask, defined) && spell(entry.control_mask, *control, defined);
  }

  // The line among |lines| that would define the most options, or
  // lines.size() when none defines any.
  size_t most_defining(const std::vector<Line>& lines) const {
    size_t best = lines.size();
    size_t best_named = named_;
    for (size_t i = 0; i < lines.size() && best_named < by_bit_.size(); ++i) {
      std::string mask, control;
      size_t trial = named_;
      if (columns(lines[i]->second, &trial, &mask, &control) && trial > best_named) best = i, best_named = trial;
    }
    return best;
  }

  bool write_line(const std::pair<const std::string, TicTocEntry>& line) {
    const auto& [name, entry] = line;
    std::string mask, control;
    size_t defined = named_;
    if (!columns(entry, &defined, &mask, &control)) return false;
    named_ = defined;
    text_ += name + ';' + mask + ';' + control + ';' + std::to_string(entry.aux_a) + ';' +
             std::to_string(entry.aux_b) + ';' + std::to_string(entry.aux_c) + '\n';
    return true;
  }

  const std::vector<const std::string*>& by_bit_;
  std::string text_;
  size_t named_ = 0;
};

}  // namespace

Outcome TicToc::encode_list(std::string* out) const {
  std::vector<const std::string*> by_bit;
  std::vector<Line> lines;
  if (Outcome options_written = options_by_bit(options, by_bit); !options_written) return options_written;
  if (Outcome files_written = writable_lines(file_map, lines); !files_written) return files_written;
  a_list_text text(by_bit);
  text.write(lines);
  if (!lines.empty()) return unwritable(lines.front()->first, "masks not spelled by options");
  if (text.named() < by_bit.size()) return unwritable(*by_bit[text.named()], "option in no entry");
  out->append(text.text());
  return Outcome();
}
