#include "Platform/String.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "Platform/StringTable.h"

namespace {
const char kBlanks[] = " \t\r\n\v\f";

size_t Clamp(int v, size_t hi) {
    if (v < 0)
        return 0;
    return std::min(static_cast<size_t>(v), hi);
}
}  // namespace

CString CString::Left(int count) const {
    return CString(m_s.substr(0, Clamp(count, m_s.size())));
}

CString CString::Mid(int first) const {
    size_t f = Clamp(first, m_s.size());
    return CString(m_s.substr(f));
}

CString CString::Mid(int first, int count) const {
    size_t f = Clamp(first, m_s.size());
    return CString(m_s.substr(f, Clamp(count, m_s.size() - f)));
}

CString CString::Right(int count) const {
    size_t n = Clamp(count, m_s.size());
    return CString(m_s.substr(m_s.size() - n));
}

CString CString::SpanIncluding(const char* set) const {
    return Left(static_cast<int>(
        m_s.find_first_not_of(set) == std::string::npos ? m_s.size() : m_s.find_first_not_of(set)));
}

CString CString::SpanExcluding(const char* set) const {
    size_t p = m_s.find_first_of(set);
    return Left(static_cast<int>(p == std::string::npos ? m_s.size() : p));
}

int CString::Find(char ch, int start) const {
    if (start < 0 || static_cast<size_t>(start) > m_s.size())
        return -1;
    size_t p = m_s.find(ch, static_cast<size_t>(start));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::Find(const char* sub, int start) const {
    if (!sub || start < 0 || static_cast<size_t>(start) > m_s.size())
        return -1;
    size_t p = m_s.find(sub, static_cast<size_t>(start));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::ReverseFind(char ch) const {
    size_t p = m_s.rfind(ch);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::FindOneOf(const char* set) const {
    size_t p = m_s.find_first_of(set ? set : "");
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

CString& CString::TrimLeft() {
    return TrimLeft(kBlanks);
}
CString& CString::TrimRight() {
    return TrimRight(kBlanks);
}

CString& CString::TrimLeft(char ch) {
    const char set[2] = {ch, 0};
    return TrimLeft(set);
}

CString& CString::TrimRight(char ch) {
    const char set[2] = {ch, 0};
    return TrimRight(set);
}

CString& CString::TrimLeft(const char* set) {
    size_t p = m_s.find_first_not_of(set);
    m_s.erase(0, p == std::string::npos ? m_s.size() : p);
    return *this;
}

CString& CString::TrimRight(const char* set) {
    size_t p = m_s.find_last_not_of(set);
    m_s.erase(p == std::string::npos ? 0 : p + 1);
    return *this;
}

CString& CString::MakeUpper() {
    for (char& c : m_s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::MakeLower() {
    for (char& c : m_s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}

int CString::Replace(char from, char to) {
    int n = 0;
    for (char& c : m_s) {
        if (c == from) {
            c = to;
            ++n;
        }
    }
    return n;
}

int CString::Replace(const char* from, const char* to) {
    if (!from || !*from)
        return 0;
    const size_t fl = std::strlen(from);
    const std::string t = to ? to : "";
    int n = 0;
    for (size_t p = m_s.find(from); p != std::string::npos; p = m_s.find(from, p + t.size())) {
        m_s.replace(p, fl, t);
        ++n;
    }
    return n;
}

int CString::Remove(char ch) {
    size_t before = m_s.size();
    m_s.erase(std::remove(m_s.begin(), m_s.end(), ch), m_s.end());
    return static_cast<int>(before - m_s.size());
}

int CString::Insert(int index, const char* s) {
    m_s.insert(Clamp(index, m_s.size()), s ? s : "");
    return GetLength();
}

int CString::Delete(int index, int count) {
    size_t i = Clamp(index, m_s.size());
    m_s.erase(i, Clamp(count, m_s.size() - i));
    return GetLength();
}

int CString::Compare(const char* s) const {
    int r = std::strcmp(m_s.c_str(), s ? s : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(const char* s) const {
    int r = strcasecmp(m_s.c_str(), s ? s : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void CString::FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        m_s.clear();
    } else if (static_cast<size_t>(n) < sizeof small) {
        m_s.assign(small, static_cast<size_t>(n));
    } else {
        std::string big(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), format, args);
        big.resize(static_cast<size_t>(n));
        m_s = std::move(big);
    }
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatDynamic(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

BOOL CString::LoadString(UINT id) {
    const char* text = AfxLoadString(id);
    m_s = text ? text : "";
    return text != nullptr;
}

char* CString::GetBuffer(int minLength) {
    if (minLength > 0 && static_cast<size_t>(minLength) > m_s.size()) {
        m_s.resize(static_cast<size_t>(minLength));
    }
    return m_s.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        m_s.resize(std::strlen(m_s.c_str()));
    } else {
        m_s.resize(static_cast<size_t>(newLength));
    }
}
