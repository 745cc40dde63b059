// Attachments kept open between the requests of a persistent process. A process that serves
// many requests may hand an attachment, once its request has closed it, to a later request that
// attaches with exactly the same database name and parameters (user, password and every other
// parameter line); any other request attaches anew, so the server checks its password. Kept
// attachments are detached after an idle time. Off until the process turns it on: a process
// that serves one request detaches at Close() as always.
#pragma once

#include <cstddef>

namespace kvo::fb {

// Turns keeping on or off and sets the idle time. Turning it off detaches what is kept.
void SetKeepAttachments(bool enabled, int idleSeconds) noexcept;
bool KeepAttachmentsEnabled() noexcept;

// Detaches the kept attachments idle for the idle time or longer. Returns the milliseconds
// until the next one is due, or -1 when nothing is kept. Never throws.
long DropIdleAttachments() noexcept;

// Detaches every kept attachment now (a changed or deleted login must not live on here).
void DropKeptAttachments() noexcept;

size_t KeptAttachmentCount() noexcept;

}  // namespace kvo::fb
