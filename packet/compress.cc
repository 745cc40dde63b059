// The one place that includes zlib.
#include "packet/compress.h"

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"

namespace kvo::packet {

namespace {

[[noreturn]] void Fail() {
  throw Error("Error");
}

// Both directions hand zlib at most this much per call: avail_in/avail_out are 32-bit.
constexpr size_t kChunk = size_t{1} << 30;

struct Deflater {
  z_stream z{};
  bool open = false;
  ~Deflater() {
    if (open) deflateEnd(&z);
  }
};
struct Inflater {
  z_stream z{};
  bool open = false;
  ~Inflater() {
    if (open) inflateEnd(&z);
  }
};

}  // namespace

void CompressStream(platform::MemoryStream& source, platform::MemoryStream& target) {
  if (target.Position() < target.Size()) {
    // Bytes past the position are overwritten as far as the output goes, not cut off.
    platform::MemoryStream scratch;
    CompressStream(source, scratch);
    target.Write(scratch.Bytes().data(), scratch.Size());
    return;
  }
  Deflater d;
  if (deflateInit2(&d.z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) < 0) Fail();
  d.open = true;
  const std::string& in = source.Bytes();
  std::string& out = target.Bytes();
  size_t at = target.Position();
  // The whole input is known, so the bound leaves room for everything in one go.
  size_t bound = deflateBound(&d.z, static_cast<uLong>(std::min(in.size(), kChunk)));
  if (in.size() > kChunk) bound = in.size() + in.size() / 100 + 4096;
  if (out.size() < at + bound) out.resize(at + bound);
  size_t inDone = 0;
  for (;;) {
    size_t inStep = std::min(in.size() - inDone, kChunk);
    d.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + inDone));
    d.z.avail_in = static_cast<uInt>(inStep);
    if (out.size() - at < 64 * 1024)
      out.resize(out.size() + std::max<size_t>(out.size() / 2, 1 << 20));
    size_t outStep = std::min(out.size() - at, kChunk);
    d.z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
    d.z.avail_out = static_cast<uInt>(outStep);
    bool last = inDone + inStep == in.size();
    int rc = deflate(&d.z, last ? Z_FINISH : Z_NO_FLUSH);
    if (rc < 0) Fail();
    inDone += inStep - d.z.avail_in;
    at += outStep - d.z.avail_out;
    if (rc == Z_STREAM_END) break;
  }
  out.resize(at);
  target.SetPosition(at);
}

void DecompressStream(platform::MemoryStream& source, platform::MemoryStream& target) {
  DecompressStream(source, target, SIZE_MAX);
}

void DecompressStream(platform::MemoryStream& source, platform::MemoryStream& target,
                      size_t limit) {
  size_t from = source.Position();
  const std::string& in = source.Bytes();
  if (from >= in.size()) {
    target.SetPosition(0);
    return;
  }
  if (target.Position() < target.Size()) {
    platform::MemoryStream scratch;
    DecompressStream(source, scratch, limit);
    target.Write(scratch.Bytes().data(), scratch.Size());
    target.SetPosition(0);
    return;
  }
  Inflater f;
  if (inflateInit2(&f.z, 15) < 0) Fail();
  f.open = true;
  std::string& out = target.Bytes();
  size_t at = target.Position();
  const size_t start = at;
  // The buffer never grows past one byte more than the limit allows: reaching that byte is
  // the proof that the stream is too large.
  const size_t cap = limit >= SIZE_MAX - start - 1 ? SIZE_MAX : start + limit + 1;
  size_t inDone = from;
  // zlib level 9 text packs about 5:1; start there and grow.
  if (out.size() < at + (in.size() - from) * 4)
    out.resize(std::min(at + (in.size() - from) * 4 + 4096, std::max(cap, out.size())));
  for (;;) {
    size_t inStep = std::min(in.size() - inDone, kChunk);
    f.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + inDone));
    f.z.avail_in = static_cast<uInt>(inStep);
    if (out.size() - at < 64 * 1024) {
      out.resize(std::min(out.size() + std::max<size_t>(out.size() / 2, 1 << 20),
                          std::max(cap, out.size())));
    }
    if (at - start > limit) {
      throw Error("The answer inflates to more than " + std::to_string(limit) +
                  " bytes, the limit of this client");
    }
    size_t outStep = std::min(out.size() - at, kChunk);
    f.z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
    f.z.avail_out = static_cast<uInt>(outStep);
    int rc = inflate(&f.z, Z_NO_FLUSH);
    // A truncated stream ends here too: with all input taken and room left, zlib answers
    // Z_BUF_ERROR. A stream that asks for a preset dictionary (none exists) would make no
    // progress on any later call: it fails like a damaged one instead of looping forever.
    if (rc < 0 || rc == Z_NEED_DICT) Fail();
    if (rc == Z_OK && f.z.avail_in == inStep && f.z.avail_out == outStep) Fail();
    inDone += inStep - f.z.avail_in;
    at += outStep - f.z.avail_out;
    if (rc == Z_STREAM_END) break;
  }
  out.resize(at);
  source.SetPosition(source.Size());
  target.SetPosition(0);
}

}  // namespace kvo::packet
