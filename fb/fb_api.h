// The one place that includes the Firebird client's headers. Everything of the layer that talks
// to the client goes through what is declared here: the status wrapper that turns a failed call
// into kvo::fb::Error, owners for the client's interfaces, and the parameter-block builder.
#pragma once

#include <firebird/Interface.h>
#include <signal.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fb/fb.h"

namespace kvo::fb::api {

using namespace Firebird;

IMaster* Master();
IUtil* Util();
IProvider* Provider();

// The client's message text for a status vector (the lines as IUtil::formatStatus joins them)
// and its error codes, as the exception carries them.
Error MakeError(IStatus* status);

// A status wrapper whose check throws MakeError(). Every call of the client takes one:
// `Status status; attachment->detach(&status);`. One per call site; it disposes of the
// underlying status object.
class Status : public BaseStatusWrapper<Status> {
 public:
  Status() : BaseStatusWrapper(Master()->getStatus()) {}
  ~Status() { status->dispose(); }
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  static void checkException(Status* status) {
    if (status->dirty && (status->getState() & IStatus::STATE_ERRORS)) throw MakeError(status);
  }
};

// Reference holders: interfaces that the client counts are released, the rest disposed of.
// An interface whose closing call succeeded (commit, detach, close, free) is already gone; the
// owner then drops it with `.release()` of the unique_ptr without calling the client.
struct ReleaseDeleter {
  template <typename T>
  void operator()(T* p) const noexcept {
    p->release();
  }
};
struct DisposeDeleter {
  template <typename T>
  void operator()(T* p) const noexcept {
    p->dispose();
  }
};
template <typename T>
using Ref = std::unique_ptr<T, ReleaseDeleter>;
template <typename T>
using Owned = std::unique_ptr<T, DisposeDeleter>;

// A second owner of an interface the client counts: one more reference, released by the new
// holder.
template <typename T>
Ref<T> Share(T* p) {
  p->addRef();
  return Ref<T>(p);
}

// The client library installs its own SIGINT and SIGTERM handlers at its first attach (a failed
// one too). Those keep a web server's SIGTERM from ending a process that is blocked anywhere
// but in the client, so every attach is made inside one of these: it puts back, when it goes,
// the handlers that the program had before the call.
class KeepProcessSignals {
 public:
  KeepProcessSignals();
  ~KeepProcessSignals();
  KeepProcessSignals(const KeepProcessSignals&) = delete;
  KeepProcessSignals& operator=(const KeepProcessSignals&) = delete;

 private:
  struct sigaction term_;
  struct sigaction interrupt_;
};

// Builds a DPB or SPB. kind: IXpbBuilder::DPB, SPB_ATTACH, SPB_START.
class ParamBlock {
 public:
  explicit ParamBlock(unsigned kind);
  ParamBlock& Int(unsigned char tag, int value);
  ParamBlock& String(unsigned char tag, std::string_view value);
  ParamBlock& Tag(unsigned char tag);
  unsigned length();
  const unsigned char* data();

 private:
  Owned<IXpbBuilder> builder_;
};

// The attach-time parameters from "name=value" lines (ParseConnectionParams, other names
// skipped), SQL dialect 3; with `serverOnly` or the process-wide guard on, the provider choice
// that keeps the embedded engine out.
ParamBlock DatabaseParams(const std::vector<std::string>& lines, bool serverOnly);

// Throws UnknownLogin() when `text` (a name or a parameter value about to be sent) holds a NUL
// byte.
void RequireNoNul(std::string_view text);

// Throws UnknownLogin() for a login's user name that the server cannot take
// (UserNameFitsServer).
void RequireLoginUserName(std::string_view userName);

// For a user record the services manager is asked to write or delete: throws Error
// `The user name is longer than 31 bytes` or `A user name or password holds a NUL byte`.
void RequireRecordFields(std::string_view userName, std::string_view password = {});

// The client configuration line carried by a guarded attach (isc_dpb_config, isc_spb_config).
inline constexpr std::string_view kServerOnlyConfig = "Providers=Remote,Loopback";

// The connection character set that the lines name ("lc_ctype"), upper-cased; empty for none.
std::string ConnectionCharSet(const std::vector<std::string>& lines);

// Exact numeric, date and time conversions of the client's wire formats.
Date DecodeDate(ISC_DATE d);
Time DecodeTime(ISC_TIME t);
ISC_DATE EncodeDate(const Date& d);
ISC_TIME EncodeTime(const Time& t);

}  // namespace kvo::fb::api
