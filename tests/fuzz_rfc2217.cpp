// libFuzzer target: any bytes from a server, read by the RFC 2217 client's codec, mean the same
// read whole or split at any point (the first input byte picks where), never more data than came
// in, and answers bounded by what asked for them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "port/Rfc2217Codec.h"

namespace {

struct Heard {
    QByteArray data;
    std::vector<morven::Rfc2217Codec::Piece> events;
    QByteArray reply;
};

void Add(Heard& heard, const morven::Rfc2217Codec::Decoded& decoded) {
    for (const morven::Rfc2217Codec::Piece& piece : decoded.pieces) {
        if (piece.kind != morven::Rfc2217Codec::Piece::Kind::Data) {
            heard.events.push_back(piece);
            continue;
        }
        if (piece.data.isEmpty()) __builtin_trap();
        heard.data += piece.data;
    }
    heard.reply += decoded.reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype at = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);
    morven::Rfc2217Codec whole, split;
    Heard once, twice;
    Add(once, whole.Take(bytes));
    Add(twice, split.Take(bytes.first(at)));
    Add(twice, split.Take(bytes.sliced(at)));
    if (once.data != twice.data || once.events != twice.events || once.reply != twice.reply)
        __builtin_trap();
    // Every data byte and every three-byte answer stands for at least one byte that came in.
    if (once.data.size() > bytes.size() || once.reply.size() > 3 * bytes.size() ||
        qsizetype(once.events.size()) > bytes.size())
        __builtin_trap();
    return 0;
}
