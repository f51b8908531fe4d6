// The text format of private-profile files, read and edited in memory: "[section]" lines, each
// followed by its "key=value" lines. PrivateProfile.cpp puts file access around these functions;
// the fuzz target drives them directly. Plain C++, no I/O, no allocation beyond the results.
//
// Reading rules (the Windows behaviour that data.ini files rely on):
// - lines end with CRLF, LF or CR; a zero byte ends what a line says;
// - section and key names match without regard to ASCII case, blanks around them ignored;
// - the value is everything after the first "=", blanks around it removed, one pair of
//   enclosing quotes ("..." or '...') removed; a line without "=" is not a key;
// - the first matching section is searched, and in it the first matching key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::profile {

// Value of `key` in the first section named `section`; nullopt when either is missing.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// Names of the sections, in file order, each name once (first spelling); empty names left out.
std::vector<std::string_view> SectionNames(std::string_view text);

// Names of the keys of the first section named `section`, in file order, each once.
std::vector<std::string_view> KeyNames(std::string_view text, std::string_view section);

// The integer rule: leading blanks, one optional sign, decimal digits (or hexadecimal after
// "0x") up to the first other character, modulo 2^32. No digits gives 0.
std::uint32_t ParseUnsigned(std::string_view value);

// GetPrivateProfileStringA over a file holding `text` (a missing file reads as empty text).
// `section` null lists the section names, `key` null the keys of the section: each name
// followed by a zero, the list followed by another zero.
std::uint32_t GetString(std::string_view text, const char* section, const char* key,
                        const char* defaultValue, char* buffer, std::uint32_t size);

// GetPrivateProfileIntA over a file holding `text`.
std::uint32_t GetInt(std::string_view text, const char* section, const char* key,
                     std::int32_t defaultValue);

// The two above for a key whose lookup is already done (section and key given, key not empty):
// `value` is FindValue's result. For a reader that keeps its lookups of an unchanged file.
std::uint32_t GetStringOfValue(std::optional<std::string_view> value, const char* defaultValue,
                               char* buffer, std::uint32_t size);
std::uint32_t GetIntOfValue(std::optional<std::string_view> value, std::int32_t defaultValue);

// WritePrivateProfileStringA applied to `text`: the new text (equal to `text` when nothing
// changes), or nullopt when the request cannot be written: no section, an empty key, or a
// name or value that would not read back as itself (a line break anywhere, "]" in a section
// name, "=" in a key name).
std::optional<std::string> Edit(std::string_view text, const char* section, const char* key,
                                const char* value);

} // namespace kelo::profile
