// Text of the database's character sets as the program's Windows-1252. Reads keep a connection
// without a character set, so every text value arrives in its column's own set and is
// converted here: unlike a WIN1252 connection, whose fetch fails on the first character the
// code page lacks, a read never fails for a character.
#include "fb/fb_impl.h"
#include "platform/codepage.h"

namespace kvo::fb {

namespace {

// Firebird's character set ids, as iconv names them, with their longest character in bytes.
struct CharSetInfo {
  unsigned id;
  const char* encoding;  // nullptr: UTF-8
  unsigned maxBytes;
};

constexpr CharSetInfo kCharSets[] = {
    {2, "ASCII", 1},        {3, nullptr, 3},       {4, nullptr, 4},       {5, "SJIS", 2},
    {6, "EUC-JP", 2},       {9, "CP737", 1},       {10, "CP437", 1},      {11, "CP850", 1},
    {12, "CP865", 1},       {13, "CP860", 1},      {14, "CP863", 1},      {15, "CP775", 1},
    {16, "CP858", 1},       {17, "CP862", 1},      {18, "CP864", 1},      {21, "ISO-8859-1", 1},
    {22, "ISO-8859-2", 1},  {23, "ISO-8859-3", 1}, {34, "ISO-8859-4", 1}, {35, "ISO-8859-5", 1},
    {36, "ISO-8859-6", 1},  {37, "ISO-8859-7", 1}, {38, "ISO-8859-8", 1}, {39, "ISO-8859-9", 1},
    {40, "ISO-8859-13", 1}, {44, "EUC-KR", 2},     {45, "CP852", 1},      {46, "CP857", 1},
    {47, "CP861", 1},       {48, "CP866", 1},      {49, "CP869", 1},      {51, "CP1250", 1},
    {52, "CP1251", 1},      {54, "CP1253", 1},     {55, "CP1254", 1},     {56, "BIG5", 2},
    {57, "GB2312", 2},      {58, "CP1255", 1},     {59, "CP1256", 1},     {60, "CP1257", 1},
    {63, "KOI8-R", 1},      {64, "KOI8-U", 1},     {65, "CP1258", 1},     {66, "TIS-620", 1},
    {67, "GBK", 2},         {68, "CP932", 2},      {69, "GB18030", 4},
};

const CharSetInfo* Find(unsigned charSet) {
  for (const CharSetInfo& c : kCharSets)
    if (c.id == charSet) return &c;
  return nullptr;
}

}  // namespace

unsigned CharSetMaxBytes(unsigned charSet) {
  const CharSetInfo* c = Find(charSet);
  return c ? c->maxBytes : 1;
}

bool NeedsConversion(unsigned charSet) {
  // NONE (0), OCTETS (1), WIN1252 (53) and sets we do not know pass as they are.
  return Find(charSet) != nullptr;
}

std::string ToCp1252(unsigned charSet, std::string_view bytes) {
  const CharSetInfo* c = Find(charSet);
  if (!c) return std::string(bytes);
  if (!c->encoding) return platform::Utf8ToCp1252(bytes);
  return platform::EncodingToCp1252(c->encoding, bytes);
}

}  // namespace kvo::fb
