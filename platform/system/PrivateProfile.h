// The private-profile functions over ini files, with the Windows names, arguments and results
// the rest of the program is written against (the format rules are in ProfileText.h).
//
// The last file read is kept in memory and read again only when its identity, size or time
// stamps change (or when it changed too recently for the time stamps to tell), so a value
// written by one part of the program (or by another process) is still seen by the next read,
// and a read costs one stat. A file over 1 MB is no settings file: it reads as unreadable (every
// reader gets its default, a write is refused and the file left as it is), said once on
// standard error. Only a regular file is read, opened without waiting (see InputFile.h).
// Every write replaces the whole file atomically: the new contents go to a temporary file in the
// same folder, which is renamed over the old one with the old file's permissions, so a crash or a
// full disk leaves either the old file or the new one, never a truncated one. The flush to disk
// (the file and its folder) runs on a syncer thread of its own, so that a write costs the caller
// no fsync.
//
// Thread safety: any thread; writes of one process are serialised.
#pragma once

#include <cstdint>

namespace kelo {

// Copies the value of `key` in `section` of `fileName` into `buffer` (always zero-terminated,
// cut to size - 1 characters) and returns the number of characters copied. A missing file,
// section or key, or an empty key, gives `defaultValue` (null reads as "") without its trailing
// spaces. `section` null lists the section names, `key` null the keys of the section (each
// followed by a zero, the list by a second zero; when cut, size - 2 is returned). Size 0 returns
// 0 and leaves the buffer alone.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* defaultValue, char* buffer, std::uint32_t size,
                                       const char* fileName);

// The value of `key` as an unsigned integer: leading digits (hexadecimal after "0x"), one sign,
// modulo 2^32; text without digits gives 0. A missing or empty value gives `defaultValue`.
std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, std::int32_t defaultValue,
                                    const char* fileName);

// Writes "key=value" into `section` of `fileName`, creating the file, the section (at the end
// of the file) and the key (at the end of its section) as needed; an existing value is replaced
// in its line and every other byte of the file is kept. `value` null deletes the key, `key`
// null the whole section. Lines added use the file's own line break (CRLF in a new file).
// Returns false, with the file untouched, when the write cannot be done: no file name or
// section, a name or value with a line break, an unreadable or read-only file, a folder without
// write rights, a full disk; errno then says why (EINVAL for a request that cannot be written,
// EFBIG for a file over 1 MB, EISDIR or ESPIPE for one that is not a regular file).
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// Returns once every file written so far has been flushed to disk (the syncer's work).
void WaitForProfileSync();

} // namespace kelo
