// The kept attachments of a persistent process: a short list, most recently kept last.
#include "fb/keeper.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fb/fb_impl.h"
#include "platform/unique_fd.h"

namespace kvo::fb {

namespace {

using Clock = std::chrono::steady_clock;

// More than a process's requests use at once: each entry holds a server connection.
constexpr size_t kMaxKept = 8;
// Credentials this process has attached with, most recent last.
constexpr size_t kMaxKnown = 64;

struct Kept {
  std::string key;
  api::Ref<api::IAttachment> handle;
  OwnStatements own;
  keeper::Origin origin;
  Clock::time_point since;
};

struct Keeper {
  bool enabled = false;
  Clock::duration idle = std::chrono::seconds(30);
  Clock::duration lifetime = std::chrono::seconds(10);
  std::string dropFile;
  int loginSlots = 0;
  std::string loginSlotPrefix;
  std::vector<Kept> kept;
  std::vector<std::string> known;
};

Keeper& TheKeeper() {
  static Keeper keeper;
  return keeper;
}

// The drop file as it stands: any change to it (a line appended, a touch, a removal, another
// file in its place) gives another text. One stat.
std::string StampOf(const std::string& file) {
  if (file.empty()) return {};
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return "missing";
  return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
         std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
         std::to_string(st.st_mtim.tv_nsec);
}

// Detaches without a word: a kept attachment has no transaction left and no caller to tell.
// A server that does not answer (stopped, or cut off by the network) would hold the process
// for as long as the connection lives, and with it every request, those that need no
// database too. Each handle is therefore detached on a thread of its own, and the process
// waits for them all together at most kDetachWait: a hung server costs that much once, and its
// handles are left to their threads, which end when the server answers or the connection
// breaks.
constexpr std::chrono::milliseconds kDetachWait(1000);

void DetachAll(std::vector<Kept> going) noexcept {
  if (going.empty()) return;
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    size_t left = 0;
  };
  std::shared_ptr<Pending> pending;
  try {
    pending = std::make_shared<Pending>();
  } catch (...) {
    return;  // no memory for the wait: the handles are abandoned, their connections stay
  }
  for (Kept& entry : going) {
    auto detach = [pending, handle = std::move(entry.handle),
                   own = std::move(entry.own)]() mutable {
      own.Clear();
      try {
        api::Status status;
        handle->detach(&status);
        (void)handle.release();
      } catch (...) {
        handle.reset();
      }
      const std::lock_guard<std::mutex> lock(pending->mutex);
      --pending->left;
      pending->done.notify_all();
    };
    try {
      {
        const std::lock_guard<std::mutex> lock(pending->mutex);
        ++pending->left;
      }
      std::thread(std::move(detach)).detach();
    } catch (...) {
      // No thread to be had: the handle goes with the lambda, released without a detach (the
      // server ends the connection when the process does).
      const std::lock_guard<std::mutex> lock(pending->mutex);
      --pending->left;
    }
  }
  std::unique_lock<std::mutex> lock(pending->mutex);
  pending->done.wait_for(lock, kDetachWait, [&pending] { return pending->left == 0; });
}

std::chrono::milliseconds::rep MillisecondsUntil(Clock::time_point due, Clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
}

}  // namespace

void SetKeepAttachments(const KeepSettings& settings) noexcept {
  Keeper& k = TheKeeper();
  k.enabled = settings.enabled;
  k.idle = std::chrono::seconds(settings.idleSeconds > 0 ? settings.idleSeconds : 0);
  k.lifetime = std::chrono::seconds(settings.maxSeconds > 0 ? settings.maxSeconds : 0);
  k.loginSlots = settings.loginSlots > 0 ? settings.loginSlots : 0;
  try {
    k.dropFile = settings.dropFile;
    k.loginSlotPrefix = settings.loginSlotPrefix;
  } catch (...) {
    k.enabled = false;
  }
  if (!k.enabled) DropKeptAttachments();
}

bool KeepAttachmentsEnabled() noexcept {
  return TheKeeper().enabled;
}

long DropIdleAttachments() noexcept {
  Keeper& k = TheKeeper();
  if (k.kept.empty()) return -1;
  const Clock::time_point now = Clock::now();
  std::string stamp;
  try {
    stamp = StampOf(k.dropFile);
  } catch (...) {
    DropKeptAttachments();
    return -1;
  }
  long next = -1;
  std::vector<Kept> going;
  try {
    going.reserve(k.kept.size());
  } catch (...) {
    DropKeptAttachments();
    return -1;
  }
  for (auto it = k.kept.begin(); it != k.kept.end();) {
    const Clock::time_point idleEnd = it->since + k.idle;
    const Clock::time_point lifeEnd = it->origin.attached + k.lifetime;
    if (now >= idleEnd || now >= lifeEnd || it->origin.stamp != stamp) {
      going.push_back(std::move(*it));  // within the reserved room: cannot throw
      it = k.kept.erase(it);
      continue;
    }
    const long ms = static_cast<long>(MillisecondsUntil(std::min(idleEnd, lifeEnd), now));
    if (next < 0 || ms < next) next = ms;
    ++it;
  }
  DetachAll(std::move(going));
  return next;
}

void DropKeptAttachments() noexcept {
  Keeper& k = TheKeeper();
  DetachAll(std::move(k.kept));
  k.kept.clear();
  // A login may have changed: its old password takes a login slot again.
  k.known.clear();
}

bool DropKeptAttachmentsEverywhere(const std::string& dropFile, std::string_view reason) noexcept {
  DropKeptAttachments();
  try {
    if (dropFile.empty()) return false;
    platform::UniqueFd fd(
        ::open(dropFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd.Valid()) return false;
    // The processes of every web server and user of the host signal through one file; the
    // worst a stranger can do with it is make every process attach anew. Fails harmlessly on a
    // file of another owner.
    (void)::fchmod(fd.Get(), 0666);
    std::string line(reason);
    line += '\n';
    // One write with O_APPEND: lines of several processes never interleave.
    return ::write(fd.Get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
  } catch (...) {
    return false;
  }
}

size_t KeptAttachmentCount() noexcept {
  return TheKeeper().kept.size();
}

namespace keeper {

LoginSlot::LoginSlot(const std::string& key) {
  const Keeper& k = TheKeeper();
  if (!k.enabled || key.empty() || k.loginSlots == 0 || k.loginSlotPrefix.empty()) return;
  for (const std::string& known : k.known)
    if (known == key) return;
  bool anySlot = false;
  for (int i = 0; i < k.loginSlots; ++i) {
    const std::string file = k.loginSlotPrefix + '.' + std::to_string(i) + ".lck";
    platform::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd.Valid()) continue;
    anySlot = true;
    (void)::fchmod(fd.Get(), 0666);
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
      lock_ = std::move(fd);
      return;
    }
  }
  // No slot file can be made (the folder is missing): no bound rather than no login.
  if (!anySlot) return;
  throw Error("Too many logins in progress on this server; try again in a moment.");
}

void Succeeded(const std::string& key) noexcept {
  Keeper& k = TheKeeper();
  try {
    for (auto it = k.known.begin(); it != k.known.end(); ++it) {
      if (*it != key) continue;
      k.known.erase(it);
      break;
    }
    if (k.known.size() >= kMaxKnown) k.known.erase(k.known.begin());
    k.known.push_back(key);
  } catch (...) {
    // Its next attach takes a slot again.
  }
}

Origin Now() noexcept {
  Origin origin;
  origin.attached = Clock::now();
  try {
    origin.stamp = StampOf(TheKeeper().dropFile);
  } catch (...) {
    // A stamp that matches no reading: the attachment is never reused.
    origin.stamp = "unread";
  }
  return origin;
}

std::string KeyOf(std::string_view database, const unsigned char* dpb, unsigned length) {
  if (!TheKeeper().enabled) return {};
  std::string key(database);
  key += '\0';
  key.append(reinterpret_cast<const char*>(dpb), length);
  return key;
}

api::IAttachment* Take(const std::string& key, OwnStatements& own, Origin& origin) noexcept {
  Keeper& k = TheKeeper();
  if (!k.enabled || key.empty()) return nullptr;
  DropIdleAttachments();
  for (size_t i = k.kept.size(); i-- > 0;) {
    if (k.kept[i].key != key) continue;
    api::Ref<api::IAttachment> handle = std::move(k.kept[i].handle);
    own = std::move(k.kept[i].own);
    origin = std::move(k.kept[i].origin);
    k.kept.erase(k.kept.begin() + static_cast<std::ptrdiff_t>(i));
    // Whether the connection still works is found by the request's first transaction, which
    // attaches anew when it does not (fb/attachment.cc): a ping would cost every request a
    // round trip to the server.
    return handle.release();
  }
  return nullptr;
}

bool Give(const std::string& key, api::Ref<api::IAttachment>& handle, OwnStatements& own,
          Origin& origin) noexcept {
  Keeper& k = TheKeeper();
  if (!k.enabled || key.empty() || k.idle.count() == 0 || k.lifetime.count() == 0 || !handle)
    return false;
  try {
    if (k.kept.size() >= kMaxKept) {
      std::vector<Kept> oldest;
      oldest.push_back(std::move(k.kept.front()));
      k.kept.erase(k.kept.begin());
      DetachAll(std::move(oldest));
    }
    k.kept.reserve(kMaxKept);
    Kept entry{key, nullptr, {}, std::move(origin), Clock::now()};
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
