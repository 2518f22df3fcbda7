// Files written whole or not at all, so that a reader never finds one cut short.
#pragma once

#include <cstdio>
#include <functional>

namespace likeness {

// Writes the file at path through write, which puts the bytes into the stream it is given and
// says whether it could: the stream is a new temporary file beside path, which replaces path
// only once write has succeeded and every byte has been flushed and the file closed without an
// error. Otherwise the temporary file is removed and a file already at path is left as it was;
// false then. The file is made with the permissions the process's umask leaves of 0666. A path
// that is a symbolic link keeps it, and its file is replaced; one that names a device or a pipe
// (/dev/stdout) is written into directly, as neither can be replaced.
bool writeWholeFile(const char* path, const std::function<bool(std::FILE*)>& write);

}  // namespace likeness
