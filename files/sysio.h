#pragma once

// System calls as the file layer makes them: retried when a signal
// interrupts them, never following a link. For the file layer's own use.

#include "folder.h"

#include <cerrno>

#include <sys/stat.h>

namespace torvale::sysio {

// Calls the system again for as long as a signal interrupts it.
template <typename Call> auto retry(Call call)
{
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

Stamp stamp_of(const struct stat &st);

// The entry's stamp without following a link; -1 with errno set on failure.
int stat_at(int dirfd, const char *name, struct stat *st);

// Opens a regular file of the folder without ever opening anything else: the
// entry is first taken by a path handle (which opens nothing, so a FIFO or a
// device is never woken), checked, and then opened through that handle, which
// reaches exactly the same file. -1 with errno set when it cannot; ENODEV for
// an entry that is not a regular file.
int open_regular(int dirfd, const QByteArray &name, int flags, struct stat *st);

// The process's file creation mask, read without changing it.
mode_t creation_mask();

} // namespace torvale::sysio
