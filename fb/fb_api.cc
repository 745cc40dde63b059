#include "fb/fb_api.h"

#include <algorithm>
#include <atomic>

#include "platform/ascii.h"
#include "platform/codepage.h"

namespace kvo::fb::api {

IMaster* Master() {
  static IMaster* master = fb_get_master_interface();
  return master;
}

IUtil* Util() {
  static IUtil* util = Master()->getUtilInterface();
  return util;
}

IProvider* Provider() {
  // The dispatcher lives as long as the process; the client's own shutdown ends it.
  static IProvider* provider = Master()->getDispatcher();
  return provider;
}

Error MakeError(IStatus* status) {
  std::string text(1024, '\0');
  for (;;) {
    unsigned n = Util()->formatStatus(text.data(), static_cast<unsigned>(text.size()), status);
    // The client cuts the text at the buffer's end; a longer buffer gets it whole.
    if (n + 1 < text.size() || text.size() >= (1u << 20)) {
      text.resize(std::min<size_t>(n, text.size()));
      break;
    }
    text.resize(text.size() * 4);
  }
  // Keep only what the client wrote (it ends the text with a NUL).
  if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);

  std::vector<intptr_t> codes;
  const intptr_t* v = status->getErrors();
  while (v && *v != isc_arg_end) {
    intptr_t arg = *v++;
    intptr_t value = *v++;
    if (arg == isc_arg_gds) codes.push_back(value);
    // A counted string carries its length and its pointer.
    if (arg == isc_arg_cstring) ++v;
  }
  return Error(text, std::move(codes));
}

KeepProcessSignals::KeepProcessSignals() {
  sigaction(SIGTERM, nullptr, &term_);
  sigaction(SIGINT, nullptr, &interrupt_);
}

KeepProcessSignals::~KeepProcessSignals() {
  sigaction(SIGTERM, &term_, nullptr);
  sigaction(SIGINT, &interrupt_, nullptr);
}

ParamBlock::ParamBlock(unsigned kind) {
  Status status;
  builder_.reset(Util()->getXpbBuilder(&status, kind, nullptr, 0));
}

ParamBlock& ParamBlock::Int(unsigned char tag, int value) {
  Status status;
  builder_->insertInt(&status, tag, value);
  return *this;
}

ParamBlock& ParamBlock::String(unsigned char tag, std::string_view value) {
  Status status;
  builder_->insertBytes(&status, tag, value.data(), static_cast<unsigned>(value.size()));
  return *this;
}

ParamBlock& ParamBlock::Tag(unsigned char tag) {
  Status status;
  builder_->insertTag(&status, tag);
  return *this;
}

unsigned ParamBlock::length() {
  Status status;
  return builder_->getBufferLength(&status);
}

const unsigned char* ParamBlock::data() {
  Status status;
  return builder_->getBuffer(&status);
}

std::string ConnectionCharSet(const std::vector<std::string>& lines) {
  std::string charSet;
  // The client takes the last of repeated parameters.
  for (const ConnectionParam& p : ParseConnectionParams(lines, false))
    if (p.name == ConnectionParam::LcCtype) charSet = platform::AsciiUppered(p.value);
  return charSet;
}

ParamBlock DatabaseParams(const std::vector<std::string>& lines, bool serverOnly) {
  static const unsigned char kTags[] = {isc_dpb_user_name, isc_dpb_password, isc_dpb_lc_ctype,
                                        isc_dpb_sql_role_name};
  const std::vector<ConnectionParam> params = ParseConnectionParams(lines, false);
  ParamBlock dpb(IXpbBuilder::DPB);
  dpb.Int(isc_dpb_sql_dialect, 3);
  // Our texts are Windows-1252; the client takes names as UTF-8 only when told so, and refuses
  // non-ASCII bytes otherwise.
  dpb.Tag(isc_dpb_utf8_filename);
  // Before the caller's lines, none of which can name this tag.
  if (serverOnly || ServerAttachRequired()) dpb.String(isc_dpb_config, kServerOnlyConfig);
  for (const ConnectionParam& p : params) {
    RequireNoNul(p.value);
    if (p.name == ConnectionParam::UserName) RequireLoginUserName(p.value);
    dpb.String(kTags[p.name], platform::Cp1252ToUtf8(p.value));
  }
  return dpb;
}

Date DecodeDate(ISC_DATE d) {
  unsigned y = 0, m = 0, day = 0;
  Util()->decodeDate(d, &y, &m, &day);
  return Date{static_cast<int>(y), static_cast<int>(m), static_cast<int>(day)};
}

Time DecodeTime(ISC_TIME t) {
  unsigned h = 0, m = 0, s = 0, f = 0;
  Util()->decodeTime(t, &h, &m, &s, &f);
  return Time{static_cast<int>(h), static_cast<int>(m), static_cast<int>(s), static_cast<int>(f)};
}

ISC_DATE EncodeDate(const Date& d) {
  return Util()->encodeDate(static_cast<unsigned>(d.year), static_cast<unsigned>(d.month),
                            static_cast<unsigned>(d.day));
}

ISC_TIME EncodeTime(const Time& t) {
  return Util()->encodeTime(static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute),
                            static_cast<unsigned>(t.second), static_cast<unsigned>(t.fraction));
}

}  // namespace kvo::fb::api

namespace kvo::fb {

namespace {
std::atomic<bool> serverAttachRequired{false};
}  // namespace

void RequireServerAttach(bool on) noexcept {
  serverAttachRequired = on;
}

bool ServerAttachRequired() noexcept {
  return serverAttachRequired;
}

}  // namespace kvo::fb
