// Whole-stream zlib compression of binary data packets: the server compresses, the client
// inflates. Both sides link this; it depends on nothing but the platform streams.
#pragma once

#include <cstddef>

#include "platform/stream.h"

namespace kvo::packet {

// Compresses every byte of `source` (read from its start, whatever its position) as one zlib
// stream (level 9, window 15 bits, memory level 8, default strategy: it starts 0x78 0xDA) and
// writes it at `target`'s position, which is left after the written bytes. Throws kvo::Error
// "Error" on any negative zlib result.
void CompressStream(platform::MemoryStream& source, platform::MemoryStream& target);

// Inflates the bytes of `source` from its position to its end as one zlib stream and writes the
// result at `target`'s position; nothing when there are no bytes. Always leaves `target`'s
// position at 0. Throws kvo::Error "Error" on any negative zlib result, and on a stream that
// ends before zlib's own end (a truncated body).
void DecompressStream(platform::MemoryStream& source, platform::MemoryStream& target);
// The same, refusing a stream that inflates to more than `limit` bytes: throws kvo::Error "The
// answer inflates to more than <limit> bytes, the limit of this client" without holding much
// more than `limit` bytes.
void DecompressStream(platform::MemoryStream& source, platform::MemoryStream& target, size_t limit);

}  // namespace kvo::packet
