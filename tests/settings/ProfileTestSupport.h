// Small helpers of the private-profile tests: a file with given bytes in the test's own folder,
// and reads that return std::string.
#pragma once

#include "platform/system/PrivateProfile.h"

#include <fstream>
#include <iterator>
#include <string>

namespace kelo::test {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string GetString(const char* section, const char* key, const char* def,
                             const char* file = "data.ini", std::uint32_t size = 260) {
    std::string buffer(size, '\x7f');
    std::uint32_t n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, file);
    buffer.resize(n);
    return buffer;
}

inline std::uint32_t GetInt(const char* section, const char* key, std::int32_t def,
                            const char* file = "data.ini") {
    return GetPrivateProfileIntA(section, key, def, file);
}

} // namespace kelo::test
