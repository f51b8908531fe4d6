#include "platform/system/ProfileText.h"

#include <cstring>

namespace kelo::profile {

namespace {

// One physical line: [begin, contentEnd) is its text, [contentEnd, end) its line break (empty
// for a last line without one).
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
    bool hasBreak() const { return end > contentEnd; }
};

// Walks the lines of a text; a CR followed by LF is one break.
class LineReader {
public:
    explicit LineReader(std::string_view text, std::size_t from = 0) : text_(text), pos_(from) {}

    bool Next(Line& line) {
        if (pos_ >= text_.size())
            return false;
        line.begin = pos_;
        std::size_t i = pos_;
        while (i < text_.size() && text_[i] != '\r' && text_[i] != '\n')
            ++i;
        line.contentEnd = i;
        if (i < text_.size()) {
            i += (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ? 2 : 1;
        }
        line.end = i;
        pos_ = i;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

std::string_view Content(std::string_view text, const Line& line) {
    std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    // A zero byte ends what the line says; the rest of the line is kept but not read.
    std::size_t zero = content.find('\0');
    if (zero != std::string_view::npos)
        content = content.substr(0, zero);
    return content;
}

ParsedLine Parse(std::string_view content) {
    std::string_view s = TrimLeft(content);
    if (!s.empty() && s.front() == '[') {
        s.remove_prefix(1);
        std::size_t close = s.find(']');
        if (close != std::string_view::npos)
            s = s.substr(0, close);
        return {LineKind::Section, Trim(s), {}};
    }
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos)
        return {};
    std::string_view value = Trim(s.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return {LineKind::Key, TrimRight(s.substr(0, eq)), value};
}

ParsedLine Parse(std::string_view text, const Line& line) {
    return Parse(Content(text, line));
}

// The first section of that name: its header line and the offset where the next section starts.
struct SectionSpan {
    Line header;
    std::size_t bodyEnd = 0;
};

std::optional<SectionSpan> FindSection(std::string_view text, std::string_view name) {
    LineReader reader(text);
    Line line;
    std::optional<SectionSpan> found;
    while (reader.Next(line)) {
        ParsedLine parsed = Parse(text, line);
        if (parsed.kind != LineKind::Section)
            continue;
        if (found) {
            found->bodyEnd = line.begin;
            return found;
        }
        if (EqualNoCase(parsed.name, name))
            found = SectionSpan{line, text.size()};
    }
    return found;
}

// The first line of the section that holds `key`.
std::optional<Line> FindKeyLine(std::string_view text, const SectionSpan& section,
                                std::string_view key) {
    LineReader reader(text.substr(0, section.bodyEnd), section.header.end);
    Line line;
    while (reader.Next(line)) {
        ParsedLine parsed = Parse(text, line);
        if (parsed.kind == LineKind::Key && EqualNoCase(parsed.name, key))
            return line;
    }
    return std::nullopt;
}

void AddUnique(std::vector<std::string_view>& names, std::string_view name) {
    if (name.empty())
        return; // an empty name would end a zero-separated list early
    for (std::string_view n : names) {
        if (EqualNoCase(n, name))
            return;
    }
    names.push_back(name);
}

// Copies a zero-separated list the way the platform does: when it does not fit, as much as fits
// and two closing zeros, returning size - 2.
std::uint32_t CopyList(const std::vector<std::string_view>& names, char* buffer,
                       std::uint32_t size) {
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t room = size - 2; // bytes of names and separators that fit
    std::size_t used = 0;
    for (std::string_view name : names) {
        const std::size_t need = name.size() + 1;
        if (used + need > room + 1) {
            // Truncated: fill what is left, then the two closing zeros.
            const std::size_t part = used < room ? room - used : 0;
            std::memcpy(buffer + used, name.data(), part);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        buffer[used + name.size()] = '\0';
        used += need;
    }
    buffer[used] = '\0';
    return static_cast<std::uint32_t>(used);
}

std::uint32_t CopyValue(std::string_view value, char* buffer, std::uint32_t size) {
    const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

// The break used for lines this code adds: the file's own (its first one), CRLF for a file
// without any.
std::string_view LineBreakOf(std::string_view text) {
    std::size_t i = text.find_first_of("\r\n");
    if (i == std::string_view::npos)
        return "\r\n";
    if (text[i] == '\n')
        return "\n";
    return (i + 1 < text.size() && text[i + 1] == '\n') ? "\r\n" : "\r";
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    std::optional<SectionSpan> span = FindSection(text, section);
    if (!span)
        return std::nullopt;
    std::optional<Line> line = FindKeyLine(text, *span, key);
    if (!line)
        return std::nullopt;
    return Parse(text, *line).value;
}

std::vector<std::string_view> SectionNames(std::string_view text) {
    std::vector<std::string_view> names;
    LineReader reader(text);
    Line line;
    while (reader.Next(line)) {
        ParsedLine parsed = Parse(text, line);
        if (parsed.kind == LineKind::Section)
            AddUnique(names, parsed.name);
    }
    return names;
}

std::vector<std::string_view> KeyNames(std::string_view text, std::string_view section) {
    std::vector<std::string_view> names;
    std::optional<SectionSpan> span = FindSection(text, section);
    if (!span)
        return names;
    LineReader reader(text.substr(0, span->bodyEnd), span->header.end);
    Line line;
    while (reader.Next(line)) {
        ParsedLine parsed = Parse(text, line);
        if (parsed.kind == LineKind::Key)
            AddUnique(names, parsed.name);
    }
    return names;
}

std::uint32_t ParseUnsigned(std::string_view value) {
    std::string_view s = TrimLeft(value);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t result = 0; // unsigned arithmetic wraps modulo 2^32, as wanted
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        for (char c : s) {
            std::uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                break;
            result = result * 16u + digit;
        }
    } else {
        for (char c : s) {
            if (c < '0' || c > '9')
                break;
            result = result * 10u + static_cast<std::uint32_t>(c - '0');
        }
    }
    return negative ? 0u - result : result;
}

std::uint32_t GetString(std::string_view text, const char* section, const char* key,
                        const char* defaultValue, char* buffer, std::uint32_t size) {
    if (!buffer || size == 0)
        return 0;
    if (!section)
        return CopyList(SectionNames(text), buffer, size);
    if (!key)
        return CopyList(KeyNames(text, section), buffer, size);
    return GetStringOfValue(*key ? FindValue(text, section, key) : std::nullopt, defaultValue,
                            buffer, size);
}

std::uint32_t GetStringOfValue(std::optional<std::string_view> value, const char* defaultValue,
                               char* buffer, std::uint32_t size) {
    if (!buffer || size == 0)
        return 0;
    if (!value) {
        // The default loses its trailing spaces, as on the platform.
        std::string_view def = defaultValue ? defaultValue : "";
        while (!def.empty() && def.back() == ' ')
            def.remove_suffix(1);
        value = def;
    }
    return CopyValue(*value, buffer, size);
}

std::uint32_t GetInt(std::string_view text, const char* section, const char* key,
                     std::int32_t defaultValue) {
    const std::uint32_t fallback = static_cast<std::uint32_t>(defaultValue);
    if (!section || !key || !*key)
        return fallback;
    return GetIntOfValue(FindValue(text, section, key), defaultValue);
}

std::uint32_t GetIntOfValue(std::optional<std::string_view> value, std::int32_t defaultValue) {
    if (!value || value->empty())
        return static_cast<std::uint32_t>(defaultValue);
    return ParseUnsigned(*value);
}

std::optional<std::string> Edit(std::string_view text, const char* section, const char* key,
                                const char* value) {
    if (!section)
        return std::nullopt;
    const std::string_view sectionName = section;
    if (HasLineBreak(sectionName) || sectionName.find(']') != std::string_view::npos)
        return std::nullopt;
    if (key && (!*key || HasLineBreak(key) || std::strchr(key, '=')))
        return std::nullopt;
    if (value && HasLineBreak(value))
        return std::nullopt;

    const std::string_view br = LineBreakOf(text);
    std::optional<SectionSpan> span = FindSection(text, sectionName);
    std::string out;

    if (!key) { // delete the section with its header and every line up to the next section
        if (!span)
            return std::string(text);
        out.reserve(text.size());
        out.append(text.substr(0, span->header.begin));
        out.append(text.substr(span->bodyEnd));
        return out;
    }

    if (!span) { // a new section at the end of the file
        if (!value)
            return std::string(text);
        out.reserve(text.size() + sectionName.size() + std::strlen(key) + std::strlen(value) + 8);
        out.append(text);
        if (!out.empty() && out.back() != '\n' && out.back() != '\r')
            out.append(br);
        out.append("[").append(sectionName).append("]").append(br);
        out.append(key).append("=").append(value).append(br);
        return out;
    }

    if (std::optional<Line> line = FindKeyLine(text, *span, key)) {
        out.reserve(text.size() + (value ? std::strlen(value) : 0) + 8);
        out.append(text.substr(0, line->begin));
        if (value) { // the line keeps its key's spelling and its own line break
            out.append(Parse(text, *line).name).append("=").append(value);
            out.append(text.substr(line->contentEnd));
        } else {
            out.append(text.substr(line->end));
        }
        return out;
    }

    if (!value)
        return std::string(text);

    // A new key goes after the last line of its section that is not blank, so that blank lines
    // separating it from the next section stay where they are.
    Line last = span->header;
    LineReader reader(text.substr(0, span->bodyEnd), span->header.end);
    Line line;
    while (reader.Next(line)) {
        if (!TrimLeft(Content(text, line)).empty())
            last = line;
    }
    out.reserve(text.size() + std::strlen(key) + std::strlen(value) + 8);
    out.append(text.substr(0, last.end));
    if (!last.hasBreak())
        out.append(br);
    out.append(key).append("=").append(value).append(br);
    out.append(text.substr(last.end));
    return out;
}

} // namespace kelo::profile
