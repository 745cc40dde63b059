#include "platform/codepage.h"

#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <cstdint>

namespace kvo::platform {

namespace {

// Unicode code points of the bytes 0x80..0x9F in Windows-1252; the five undefined bytes keep
// their own value, as the Windows conversion does.
const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t ByteToCodePoint(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
  return b;
}

// The byte of a code point, or -1 when Windows-1252 lacks it.
int CodePointToByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// iconv's transliteration of one code point to Windows-1252, or "?" when it knows none.
std::string LookAlike(char32_t cp) {
  // Transliteration follows the LC_CTYPE of the calling thread; the "C" locale knows none.
  struct ThreadLocale {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    locale_t previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(nullptr);
    ~ThreadLocale() {
      if (utf8) {
        uselocale(previous);
        freelocale(utf8);
      }
    }
  } threadLocale;
  struct Converter {
    iconv_t cd = iconv_open("WINDOWS-1252//TRANSLIT", "UTF-32LE");
    ~Converter() {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  } converter;
  iconv_t cd = converter.cd;
  if (cd == reinterpret_cast<iconv_t>(-1)) return "?";
  uint32_t in32 = static_cast<uint32_t>(cp);
  char* in = reinterpret_cast<char*>(&in32);
  size_t inLeft = 4;
  char buffer[16];
  char* out = buffer;
  size_t outLeft = sizeof buffer;
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || out == buffer)
    return "?";
  return std::string(buffer, out);
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char b : text) AppendUtf8(out, ByteToCodePoint(b));
  return out;
}

std::string EncodingToCp1252(const char* encoding, std::string_view text) {
  std::string out;
  out.reserve(text.size());
  struct Converter {
    iconv_t cd;
    ~Converter() {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  } converter{iconv_open("UTF-32LE", encoding)};
  if (converter.cd == reinterpret_cast<iconv_t>(-1)) {
    for (char c : text) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out;
  }
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    uint32_t units[256];
    char* to = reinterpret_cast<char*>(units);
    size_t toLeft = sizeof units;
    size_t rc = iconv(converter.cd, &in, &inLeft, &to, &toLeft);
    size_t n = (sizeof units - toLeft) / 4;
    for (size_t i = 0; i < n; ++i) {
      int byte = CodePointToByte(static_cast<char32_t>(units[i]));
      out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      // An undecodable byte (or a sequence cut off at the end) stands for one character.
      out += '?';
      ++in;
      --inLeft;
      iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool ok = i + len <= text.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (c & 0x3F);
    }
    // An overlong form (C0 AE for ".") is broken UTF-8 like any other: taken at face value it
    // would smuggle a separator or a dot past checks made on the undecoded name.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    int byte = CodePointToByte(cp);
    out += byte < 0 ? '?' : static_cast<char>(byte);
    i += len;
  }
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text, bool lookAlike) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    int byte = CodePointToByte(cp);
    if (byte >= 0)
      out += static_cast<char>(byte);
    else
      out += lookAlike ? LookAlike(cp) : std::string("?");
  }
  return out;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (unsigned char b : text) out += static_cast<char16_t>(ByteToCodePoint(b));
  return out;
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t len;
    char32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      cp = b & 0x07;
    } else {
      return false;  // a continuation byte, C0, C1 (always overlong) or F5..FF
    }
    if (text.size() - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace kvo::platform
