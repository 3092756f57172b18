// Cutting a text at a separator: option expressions at "|", list-file lines
// at ";".
#pragma once

#include <string>
#include <vector>

// Appends the pieces of |text| cut at every |separator| to |out|; an empty
// separator appends |text| whole. The remainder after the last separator is
// appended even when empty, so "a|" gives "a" and "", and "" gives "".
// Always true.
bool split(const std::string& text, const std::string& separator, std::vector<std::string>& out);
