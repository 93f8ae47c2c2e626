// A small streaming JSON writer: objects, arrays, strings, numbers, booleans and
// null, with commas and indentation handled for the caller.
//
// Strings from recordings are 8-bit text of unknown encoding: valid UTF-8
// passes through, every other byte is written as the Latin-1 character of the
// same value (\u00XX), so the output is always valid JSON in UTF-8. Numbers that
// JSON cannot carry (NaN, infinities) are written as null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
public:
    // indent 0 writes everything on one line.
    explicit JsonWriter(int indent = 2) : m_indent(indent) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the current object.
    JsonWriter& Key(std::string_view name);

    JsonWriter& String(std::string_view s);
    JsonWriter& Number(double v);
    JsonWriter& Int(int64_t v);
    JsonWriter& UInt(uint64_t v);
    JsonWriter& Bool(bool v);
    JsonWriter& Null();

    // Key and value in one call.
    JsonWriter& Member(std::string_view name, std::string_view s) { return Key(name).String(s); }
    JsonWriter& Member(std::string_view name, const char* s) {
        return Key(name).String(s ? s : "");
    }
    JsonWriter& Member(std::string_view name, double v) { return Key(name).Number(v); }
    JsonWriter& Member(std::string_view name, int v) { return Key(name).Int(v); }
    JsonWriter& Member(std::string_view name, unsigned v) { return Key(name).UInt(v); }
    JsonWriter& Member(std::string_view name, int64_t v) { return Key(name).Int(v); }
    JsonWriter& Member(std::string_view name, uint64_t v) { return Key(name).UInt(v); }
    JsonWriter& Member(std::string_view name, bool v) { return Key(name).Bool(v); }

    // The text written so far (complete once every object and array is closed).
    const std::string& str() const { return m_out; }
    bool Complete() const { return m_stack.empty() && m_hasRoot; }

    // s as a JSON string literal, quotes included.
    static std::string Quote(std::string_view s);

private:
    void BeforeValue();
    void NewLine();

    struct Level {
        bool object;
        int count;
    };
    int m_indent;
    std::string m_out;
    std::vector<Level> m_stack;
    bool m_afterKey = false;
    bool m_hasRoot = false;
};
