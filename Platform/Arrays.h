// The framework's growable arrays, over std::vector, with the member names the
// library calls. Indexes are int as in the framework; out-of-range access is the
// caller's bug, as there.
#pragma once

#include <cstddef>
#include <vector>

#include "Platform/Object.h"
#include "Platform/Types.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
public:
    int GetSize() const { return static_cast<int>(m_data.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_data.empty(); }

    // growBy only hints how much room to keep; -1 leaves the hint as it is.
    void SetSize(int newSize, int growBy = -1) {
        if (growBy >= 0)
            m_nGrowBy = growBy;
        m_data.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
    }
    void RemoveAll() { m_data.clear(); }
    void FreeExtra() { m_data.shrink_to_fit(); }

    TYPE GetAt(int i) const { return m_data[static_cast<size_t>(i)]; }
    void SetAt(int i, ARG_TYPE v) { m_data[static_cast<size_t>(i)] = v; }
    TYPE& ElementAt(int i) { return m_data[static_cast<size_t>(i)]; }
    const TYPE& ElementAt(int i) const { return m_data[static_cast<size_t>(i)]; }
    TYPE& operator[](int i) { return m_data[static_cast<size_t>(i)]; }
    const TYPE& operator[](int i) const { return m_data[static_cast<size_t>(i)]; }
    TYPE* GetData() { return m_data.data(); }
    const TYPE* GetData() const { return m_data.data(); }

    void SetAtGrow(int i, ARG_TYPE v) {
        if (static_cast<size_t>(i) >= m_data.size())
            m_data.resize(static_cast<size_t>(i) + 1);
        m_data[static_cast<size_t>(i)] = v;
    }
    int Add(ARG_TYPE v) {
        m_data.push_back(v);
        return GetSize() - 1;
    }
    int Append(const CArray& other) {
        int first = GetSize();
        m_data.insert(m_data.end(), other.m_data.begin(), other.m_data.end());
        return first;
    }
    void Copy(const CArray& other) { m_data = other.m_data; }

    void InsertAt(int i, ARG_TYPE v, int count = 1) {
        if (count <= 0)
            return;
        if (static_cast<size_t>(i) > m_data.size())
            m_data.resize(static_cast<size_t>(i));
        m_data.insert(m_data.begin() + i, static_cast<size_t>(count), v);
    }
    void InsertAt(int start, const CArray* other) {
        if (static_cast<size_t>(start) > m_data.size())
            m_data.resize(static_cast<size_t>(start));
        m_data.insert(m_data.begin() + start, other->m_data.begin(), other->m_data.end());
    }
    void RemoveAt(int i, int count = 1) {
        m_data.erase(m_data.begin() + i, m_data.begin() + i + count);
    }

    auto begin() { return m_data.begin(); }
    auto end() { return m_data.end(); }
    auto begin() const { return m_data.begin(); }
    auto end() const { return m_data.end(); }

protected:
    std::vector<TYPE> m_data;
    int m_nGrowBy = 0;
};

// Array of object pointers; it never owns what it points to.
class CObArray : public CArray<CObject*, CObject*> {};

class CDWordArray : public CArray<DWORD, DWORD> {};

class CPtrArray : public CArray<void*, void*> {};
