#include "TextLines.h"

#include <cstring>

namespace morven {

int ForEachLine(std::string_view text, const std::function<void(std::string_view, int)>& take) {
    int lineNumber = 0;
    const char* const data = text.data();
    std::size_t start = 0;
    std::size_t lfAt = 0;  // the next LF at or after start; found again only once passed
    while (start < text.size()) {
        // memchr finds line ends far faster than a byte loop.
        if (lfAt < start || start == 0) {
            const void* lf = std::memchr(data + start, '\n', text.size() - start);
            lfAt = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : text.size();
        }
        const void* cr = std::memchr(data + start, '\r', lfAt - start);
        const std::size_t end =
            cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : lfAt;
        take(text.substr(start, end - start), ++lineNumber);
        const bool crlf = end + 1 < text.size() && data[end] == '\r' && data[end + 1] == '\n';
        start = end + (crlf ? 2 : 1);
    }
    return lineNumber;
}

}  // namespace morven
