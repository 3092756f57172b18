// Reading what a command printed or left: lines, the last line of a log, a
// JSON document, texts whose install times vary.
#pragma once

#include <string>
#include <vector>

#include "platform/json.h"
#include "support/run.h"

// |text| cut at its line breaks, without them.
std::vector<std::string> lines_of(const std::string& text);

// The last line of |text| (without its line break).
std::string last_line(const std::string& text);

// The JSON document on |r|'s standard output; a failed expectation and an
// empty document when it does not parse.
Json json_of(const RunResult& r);

// |text| with every install time (2026-12-07T17:24:52Z) shown as T.
std::string without_times(const std::string& text);

// |size| random bytes from |seed|: bzip2 cannot shrink them, so that
// decoding them takes a while.
std::string random_bytes(size_t size, unsigned seed);
