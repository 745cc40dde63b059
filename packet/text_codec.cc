#include "packet/text_codec.h"

#include <array>
#include <cstring>

namespace kvo::packet::detail {

namespace {

constexpr std::array<uint8_t, 256> MakeLengths() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = 1;
  for (int i = 0; i < 0x20; ++i) t[i] = 8;  // &#xE0hh;
  t['\t'] = 4;                              // &#9;
  t['\n'] = 5;                              // &#10;
  t['\r'] = 5;                              // &#13;
  t['&'] = 5;                               // &amp;
  t['<'] = 4;                               // &lt;
  t['>'] = 4;                               // &gt;
  t['"'] = 6;                               // &quot;
  t['\''] = 6;                              // &apos;
  return t;
}

constexpr std::array<uint8_t, 256> kLengths = MakeLengths();

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

size_t EscapedLength(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += kLengths[c];
  return n;
}

void AppendEscaped(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* run = p;
    while (p < end && kLengths[static_cast<unsigned char>(*p)] == 1) ++p;
    if (p > run) out.append(run, static_cast<size_t>(p - run));
    if (p == end) break;
    unsigned char c = static_cast<unsigned char>(*p++);
    switch (c) {
      case '\t':
        out.append("&#9;", 4);
        break;
      case '\n':
        out.append("&#10;", 5);
        break;
      case '\r':
        out.append("&#13;", 5);
        break;
      case '&':
        out.append("&amp;", 5);
        break;
      case '<':
        out.append("&lt;", 4);
        break;
      case '>':
        out.append("&gt;", 4);
        break;
      case '"':
        out.append("&quot;", 6);
        break;
      case '\'':
        out.append("&apos;", 6);
        break;
      default: {
        static const char hex[] = "0123456789ABCDEF";
        char buf[8] = {'&', '#', 'x', 'E', '0', hex[c >> 4], hex[c & 15], ';'};
        out.append(buf, 8);
      }
    }
  }
}

char* WriteEscaped(char* w, std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (kLengths[c] == 1) {
      *w++ = static_cast<char>(c);
      continue;
    }
    const char* e;
    switch (c) {
      case '\t':
        e = "&#9;";
        break;
      case '\n':
        e = "&#10;";
        break;
      case '\r':
        e = "&#13;";
        break;
      case '&':
        e = "&amp;";
        break;
      case '<':
        e = "&lt;";
        break;
      case '>':
        e = "&gt;";
        break;
      case '"':
        e = "&quot;";
        break;
      case '\'':
        e = "&apos;";
        break;
      default: {
        const char ref[8] = {'&', '#', 'x', 'E', '0', hex[c >> 4], hex[c & 15], ';'};
        std::memcpy(w, ref, 8);
        w += 8;
        continue;
      }
    }
    std::memcpy(w, e, kLengths[c]);
    w += kLengths[c];
  }
  return w;
}

char* WriteBase64(char* w, std::string_view bytes) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = kAlphabet[(v >> 6) & 63];
    *w++ = kAlphabet[v & 63];
  }
  if (i < n) {
    uint32_t v = uint32_t{p[i]} << 16;
    if (i + 1 < n) v |= uint32_t{p[i + 1]} << 8;
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    *w++ = '=';
  }
  return w;
}

void AppendBase64(std::string& out, std::string_view bytes) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  char buf[4];
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    buf[0] = kAlphabet[v >> 18];
    buf[1] = kAlphabet[(v >> 12) & 63];
    buf[2] = kAlphabet[(v >> 6) & 63];
    buf[3] = kAlphabet[v & 63];
    out.append(buf, 4);
  }
  if (i < n) {
    uint32_t v = uint32_t{p[i]} << 16;
    if (i + 1 < n) v |= uint32_t{p[i + 1]} << 8;
    buf[0] = kAlphabet[v >> 18];
    buf[1] = kAlphabet[(v >> 12) & 63];
    buf[2] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    buf[3] = '=';
    out.append(buf, 4);
  }
}

bool DecodeBase64(std::string_view text, std::string& out) {
  static const std::array<int8_t, 256> kValues = [] {
    std::array<int8_t, 256> v{};
    v.fill(-1);
    for (int i = 0; i < 64; ++i)
      v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return v;
  }();
  if (text.size() % 4 != 0) return false;
  out.reserve(out.size() + text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int a = kValues[static_cast<unsigned char>(text[i])];
    int b = kValues[static_cast<unsigned char>(text[i + 1])];
    if (a < 0 || b < 0) return false;
    bool last = i + 4 == text.size();
    char c3 = text[i + 2], c4 = text[i + 3];
    if (last && c3 == '=' && c4 == '=') {
      if (b & 15) return false;
      out.push_back(static_cast<char>((a << 2) | (b >> 4)));
      break;
    }
    int c = kValues[static_cast<unsigned char>(c3)];
    if (c < 0) return false;
    if (last && c4 == '=') {
      if (c & 3) return false;
      out.push_back(static_cast<char>((a << 2) | (b >> 4)));
      out.push_back(static_cast<char>(((b & 15) << 4) | (c >> 2)));
      break;
    }
    int d = kValues[static_cast<unsigned char>(c4)];
    if (d < 0) return false;
    out.push_back(static_cast<char>((a << 2) | (b >> 4)));
    out.push_back(static_cast<char>(((b & 15) << 4) | (c >> 2)));
    out.push_back(static_cast<char>(((c & 3) << 6) | d));
  }
  return true;
}

}  // namespace kvo::packet::detail
