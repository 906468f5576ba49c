#pragma once

#include <cstddef>
#include <string_view>

#include "ImageBuilder.h"

namespace morven {

// Fills a fresh image from S-record text; LF, CRLF and lone CR all end a line.
LoadedImage LoadSRecordText(std::string_view text);

// Fills an image line by line and keeps count of what each line did.
class SRecordLoader {
public:
    explicit SRecordLoader(LoadedImage& image);

    // Stores the data of one S1, S2 or S3 record; any other line, and any line that is short
    // or holds a non-hex character where a digit is read, is skipped whole. Lines count from 1.
    void ParseSRecordLine(std::string_view line, int lineNumber);
    // The merged ranges, N and the identity of the N bytes, once every line is parsed.
    void Finish() { builder_.Finish(); }

private:
    void Malformed(int lineNumber);

    LoadedImage& image_;
    ImageBuilder builder_;
};

// Value of the hex digit at pos (either case), or -1 when there is none.
int HexNibble(std::string_view line, std::size_t pos);

}  // namespace morven
