// CDomainEnum: an ordered list of (value, label) pairs, such as the names of the
// amplifier inputs. Lookups return the first matching entry; the list keeps the
// order in which entries were added, because callers display and search in it.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "Platform/String.h"

template <class T>
class CDomainEnum {
public:
    CDomainEnum() = default;
    CDomainEnum(std::initializer_list<std::pair<T, const char*>> entries) {
        for (const auto& e : entries)
            Add(e.first, e.second);
    }

    void Add(T value, const char* label) { m_entries.emplace_back(value, CString(label)); }

    int GetSize() const { return static_cast<int>(m_entries.size()); }
    T GetValue(int i) const { return m_entries[static_cast<size_t>(i)].first; }
    const CString& GetLabel(int i) const { return m_entries[static_cast<size_t>(i)].second; }

    // Index of the first entry with this value, -1 when there is none.
    int FindValue(T value) const {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].first == value)
                return static_cast<int>(i);
        }
        return -1;
    }
    // Index of the first entry whose label equals label without regard to case, -1
    // when there is none.
    int FindLabelNoCase(const char* label) const {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].second.CompareNoCase(label) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }
    // Label of the first entry with this value; nullptr when there is none.
    const char* GetLabelOf(T value) const {
        const int i = FindValue(value);
        return i < 0 ? nullptr : GetLabel(i).GetString();
    }

private:
    std::vector<std::pair<T, CString>> m_entries;
};
