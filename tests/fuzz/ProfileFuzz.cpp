// libFuzzer target: the private-profile reader (and editor) over arbitrary file bytes.
// The first input byte is the caller's buffer size; the rest is the file. Every section and key
// the reader lists is read back with that buffer, and writes are checked to read back as
// written. The buffer is a heap block of exactly that size, so AddressSanitizer sees any byte
// written past it.
#include "platform/system/ProfileText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "profile fuzz check failed (line %d): %s\n", line, what);
    std::abort();
}

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            Fail(#cond, __LINE__);                                                                 \
    } while (0)

using namespace kelo::profile;

// A single value copied into the buffer: zero-terminated, cut to size - 1, count = length.
void CheckValueCopy(std::string_view text, const std::string& section, const std::string& key,
                    char* buffer, std::uint32_t size) {
    const std::uint32_t n =
        GetString(text, section.c_str(), key.c_str(), "default  ", buffer, size);
    if (size == 0) {
        CHECK(n == 0);
        return;
    }
    CHECK(n < size);
    CHECK(buffer[n] == '\0');
    CHECK(std::strlen(buffer) == n);
    const auto value = FindValue(text, section, key);
    if (key.empty() || !value) {
        CHECK(std::string_view(buffer, n) == std::string_view("default").substr(0, n));
    } else {
        CHECK(value->substr(0, n) == std::string_view(buffer, n));
        CHECK(value->size() == n || n == size - 1);
    }
}

// A list: n bytes of names, then two zeros (one when the list is empty and size is 1).
void CheckListCopy(std::uint32_t n, const char* buffer, std::uint32_t size) {
    if (size == 0) {
        CHECK(n == 0);
        return;
    }
    CHECK(n < size);
    CHECK(buffer[n] == '\0');
    if (n + 1 < size)
        CHECK(n == 0 || buffer[n - 1] == '\0' || n == size - 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint32_t bufferSize = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::unique_ptr<char[]> buffer(bufferSize ? new char[bufferSize] : nullptr);

    CheckListCopy(GetString(text, nullptr, nullptr, "", buffer.get(), bufferSize), buffer.get(),
                  bufferSize);

    const auto sections = SectionNames(text);
    std::size_t sectionCount = 0;
    for (std::string_view s : sections) {
        if (++sectionCount > 8)
            break;
        const std::string section(s);
        CheckListCopy(GetString(text, section.c_str(), nullptr, "", buffer.get(), bufferSize),
                      buffer.get(), bufferSize);
        const auto keys = KeyNames(text, section);
        std::size_t keyCount = 0;
        for (std::string_view k : keys) {
            if (++keyCount > 8)
                break;
            const std::string key(k);
            CHECK(FindValue(text, section, key).has_value()); // listed keys are found
            CheckValueCopy(text, section, key, buffer.get(), bufferSize);
            const auto value = FindValue(text, section, key);
            const std::uint32_t number = GetInt(text, section.c_str(), key.c_str(), 77);
            if (value->empty())
                CHECK(number == 77u);
            else
                CHECK(number == ParseUnsigned(*value));

            // Replacing the value reads back, and so does deleting it down to a later duplicate
            // or nothing.
            auto edited = Edit(text, section.c_str(), key.c_str(), "new value");
            CHECK(edited.has_value());
            CHECK(FindValue(*edited, section, key) == std::string_view("new value"));
            auto removed = Edit(text, section.c_str(), key.c_str(), nullptr);
            CHECK(removed.has_value() && removed->size() < text.size());
        }
        // A new key in an existing section reads back; other sections keep their values.
        const bool hadKey = FindValue(text, section, "fuzz key").has_value();
        auto added = Edit(text, section.c_str(), "fuzz key", "added");
        CHECK(added.has_value());
        CHECK(FindValue(*added, section, "fuzz key") == std::string_view("added"));
        CHECK(hadKey || added->size() > text.size());
        auto dropped = Edit(text, section.c_str(), nullptr, nullptr);
        CHECK(dropped.has_value() && dropped->size() < text.size());
    }

    // A section written to whatever the file holds reads back.
    auto appended = Edit(text, "Fuzz Section", "Key", "Value");
    CHECK(appended.has_value());
    CHECK(FindValue(*appended, "fuzz section", "KEY") == std::string_view("Value"));

    // Names made of input bytes (up to a zero, as a C string ends there).
    if (text.size() >= 4) {
        std::string probe(text.substr(0, 4));
        probe.resize(std::strlen(probe.c_str()));
        CheckValueCopy(text, probe, probe, buffer.get(), bufferSize);
        (void)GetInt(text, probe.c_str(), probe.c_str(), 5);
    }
    (void)ParseUnsigned(text);
    return 0;
}
