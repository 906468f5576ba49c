#pragma once

#include <functional>
#include <string_view>

namespace morven {

// Calls take(line, lineNumber) for every line of text, without its line end; LF, CRLF and a
// lone CR each end a line. Lines count from 1; returns how many there were.
int ForEachLine(std::string_view text, const std::function<void(std::string_view, int)>& take);

}  // namespace morven
