// The kept attachments of a persistent process: a short list, most recently kept last.
#include "fb/keeper.h"

#include <chrono>
#include <string>
#include <vector>

#include "fb/fb_impl.h"

namespace kvo::fb {

namespace {

using Clock = std::chrono::steady_clock;

// More than a process's requests use at once: each entry holds a server connection.
constexpr size_t kMaxKept = 8;

struct Kept {
  std::string key;
  api::Ref<api::IAttachment> handle;
  OwnStatements own;
  Clock::time_point since;
};

struct Keeper {
  bool enabled = false;
  Clock::duration idle = std::chrono::seconds(30);
  std::vector<Kept> kept;
};

Keeper& TheKeeper() {
  static Keeper keeper;
  return keeper;
}

// Detaches without a word: a kept attachment has no transaction left and no caller to tell.
void Detach(Kept& entry) noexcept {
  entry.own.Clear();
  api::Ref<api::IAttachment>& handle = entry.handle;
  try {
    api::Status status;
    handle->detach(&status);
    (void)handle.release();
  } catch (...) {
    handle.reset();
  }
}

}  // namespace

void SetKeepAttachments(bool enabled, int idleSeconds) noexcept {
  Keeper& k = TheKeeper();
  k.enabled = enabled;
  k.idle = std::chrono::seconds(idleSeconds > 0 ? idleSeconds : 0);
  if (!enabled) DropKeptAttachments();
}

bool KeepAttachmentsEnabled() noexcept {
  return TheKeeper().enabled;
}

long DropIdleAttachments() noexcept {
  Keeper& k = TheKeeper();
  const Clock::time_point now = Clock::now();
  long next = -1;
  for (auto it = k.kept.begin(); it != k.kept.end();) {
    if (now - it->since >= k.idle) {
      Detach(*it);
      it = k.kept.erase(it);
      continue;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(it->since + k.idle - now);
    long ms = static_cast<long>(left.count()) + 1;
    if (next < 0 || ms < next) next = ms;
    ++it;
  }
  return next;
}

void DropKeptAttachments() noexcept {
  Keeper& k = TheKeeper();
  for (Kept& entry : k.kept) Detach(entry);
  k.kept.clear();
}

size_t KeptAttachmentCount() noexcept {
  return TheKeeper().kept.size();
}

namespace keeper {

std::string KeyOf(std::string_view database, const unsigned char* dpb, unsigned length) {
  if (!TheKeeper().enabled) return {};
  std::string key(database);
  key += '\0';
  key.append(reinterpret_cast<const char*>(dpb), length);
  return key;
}

api::IAttachment* Take(const std::string& key, OwnStatements& own) noexcept {
  Keeper& k = TheKeeper();
  if (!k.enabled || key.empty()) return nullptr;
  DropIdleAttachments();
  for (size_t i = k.kept.size(); i-- > 0;) {
    if (k.kept[i].key != key) continue;
    api::Ref<api::IAttachment> handle = std::move(k.kept[i].handle);
    own = std::move(k.kept[i].own);
    k.kept.erase(k.kept.begin() + static_cast<std::ptrdiff_t>(i));
    // Whether the connection still works is found by the request's first transaction, which
    // attaches anew when it does not (fb/attachment.cc): a ping would cost every request a
    // round trip to the server.
    return handle.release();
  }
  return nullptr;
}

bool Give(const std::string& key, api::Ref<api::IAttachment>& handle, OwnStatements& own) noexcept {
  Keeper& k = TheKeeper();
  if (!k.enabled || key.empty() || k.idle.count() == 0 || !handle) return false;
  try {
    if (k.kept.size() >= kMaxKept) {
      Detach(k.kept.front());
      k.kept.erase(k.kept.begin());
    }
    k.kept.reserve(kMaxKept);
    Kept entry{key, nullptr, {}, Clock::now()};
    entry.handle = std::move(handle);
    entry.own = std::move(own);
    k.kept.push_back(std::move(entry));  // within the reserved room: cannot throw
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace keeper

}  // namespace kvo::fb
