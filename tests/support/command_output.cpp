#include "support/command_output.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sstream>

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string last_line(const std::string& text) {
  const std::vector<std::string> lines = lines_of(text);
  return lines.empty() ? std::string() : lines.back();
}

Json json_of(const RunResult& r) {
  const Result<Json> document = parse_json(r.out);
  EXPECT_TRUE(document.ok()) << r.out << r.err;
  return document ? document.value() : Json();
}

std::string without_times(const std::string& text) {
  return std::regex_replace(text, std::regex("20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z"), "T");
}

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}
