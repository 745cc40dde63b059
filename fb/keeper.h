// Attachments kept open between the requests of a persistent process. A process that serves
// many requests may hand an attachment, once its request has closed it, to a later request that
// attaches with exactly the same database name and parameters (user, password and every other
// parameter line); any other request attaches anew, so the server checks its password. Off
// until the process turns it on: a process that serves one request detaches at Close() as
// always.
//
// A kept attachment stops serving at whichever comes first: its idle time, its lifetime from
// the attach on (however often it is used), or a change of the host's drop file. The drop file
// is how one process tells all others of the host that logins changed: any change to it (a
// line appended by DropKeptAttachmentsEverywhere, an administrator's `touch`, its removal) makes
// every process detach the attachments it kept before the change, before their next use.
#pragma once

#include <cstddef>
#include <string>

namespace kvo::fb {

struct KeepSettings {
  bool enabled = false;
  int idleSeconds = 30;
  int maxSeconds = 10;
  std::string dropFile;  // host path; empty: no other process can signal a drop
  // At most this many attaches of credentials not yet known to this process (none of its
  // attaches with them succeeded) run at once on the host; one beyond them fails at once
  // instead of holding the process while the server delays a wrong password. 0: no bound.
  int loginSlots = 2;
  std::string loginSlotPrefix;  // host path; slot i is the file <prefix>.<i>.lck
};

// Turns keeping on or off and sets its bounds. Turning it off detaches what is kept.
void SetKeepAttachments(const KeepSettings& settings) noexcept;
bool KeepAttachmentsEnabled() noexcept;

// Detaches the kept attachments that may no longer serve (idle, too old, or kept before the
// drop file changed). Returns the milliseconds until the next one is due, or -1 when nothing
// is kept. Never throws. Every function here that detaches waits at most a second for a server
// that does not answer, and leaves the rest of that detach to a thread of its own.
long DropIdleAttachments() noexcept;

// Detaches every kept attachment of this process now.
void DropKeptAttachments() noexcept;

// A login changed or went: detaches this process's kept attachments and appends a line naming
// `reason` to the drop file (created when missing), so that every process of the host drops
// the ones it kept before. False when the file cannot be written (the other processes then
// drop theirs at the end of their lifetime).
bool DropKeptAttachmentsEverywhere(const std::string& dropFile, std::string_view reason) noexcept;

size_t KeptAttachmentCount() noexcept;

}  // namespace kvo::fb
