#include "tools/Json.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are not valid).
size_t Utf8Length(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

std::string JsonWriter::Quote(std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const size_t n = Utf8Length(s, i);
            if (n) {
                out.append(s.substr(i, n));
                i += n;
            } else {
                // Not UTF-8: the byte as the Latin-1 character it would be.
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
                ++i;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonWriter::NewLine() {
    if (m_indent <= 0)
        return;
    m_out += '\n';
    m_out.append(m_stack.size() * static_cast<size_t>(m_indent), ' ');
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_stack.empty()) {
        if (m_hasRoot)
            throw std::logic_error("JSON: a second top-level value");
        m_hasRoot = true;
        return;
    }
    Level& top = m_stack.back();
    if (top.object)
        throw std::logic_error("JSON: a value in an object needs a key");
    if (top.count++)
        m_out += ',';
    NewLine();
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    if (m_stack.empty() || !m_stack.back().object || m_afterKey)
        throw std::logic_error("JSON: a key outside an object");
    if (m_stack.back().count++)
        m_out += ',';
    NewLine();
    m_out += Quote(name);
    m_out += m_indent > 0 ? ": " : ":";
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    m_out += '{';
    m_stack.push_back({true, 0});
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    m_out += '[';
    m_stack.push_back({false, 0});
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    if (m_stack.empty() || !m_stack.back().object || m_afterKey)
        throw std::logic_error("JSON: no object to end");
    const bool empty = m_stack.back().count == 0;
    m_stack.pop_back();
    if (!empty)
        NewLine();
    m_out += '}';
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    if (m_stack.empty() || m_stack.back().object)
        throw std::logic_error("JSON: no array to end");
    const bool empty = m_stack.back().count == 0;
    m_stack.pop_back();
    if (!empty)
        NewLine();
    m_out += ']';
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view s) {
    BeforeValue();
    m_out += Quote(s);
    return *this;
}

JsonWriter& JsonWriter::Number(double v) {
    if (!std::isfinite(v))
        return Null();
    BeforeValue();
    // The shortest text that reads back as the same double.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    m_out.append(buf, r.ptr);
    return *this;
}

JsonWriter& JsonWriter::Int(int64_t v) {
    BeforeValue();
    m_out += std::to_string(v);
    return *this;
}

JsonWriter& JsonWriter::UInt(uint64_t v) {
    BeforeValue();
    m_out += std::to_string(v);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool v) {
    BeforeValue();
    m_out += v ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    m_out += "null";
    return *this;
}
