// The container's table of stream names: a name's number is its index, stable
// while the container is open; per name, the section lists of its copies, sorted
// by copy number. Names are cut to 15 characters and compared case-sensitively.
// The container's mutex guards the table.
#pragma once

#include <memory>
#include <vector>

#include "EegFile/container/TKSectionList.h"
#include "Platform/String.h"

class CTKStreamNameTable {
public:
    // Forgets every name and section list.
    void RemoveAll();

    // The number of name (cut to 15 characters), added when not yet present; -1
    // for an empty name. No operation removes a stream, so numbers are never
    // given back while the table lives.
    int Lookup(const char* name);
    // The number of name, or -1 when it is not present (nothing is added).
    int Find(const char* name) const;

    // Numbers run from 0 to GetNameCount() - 1.
    int GetNameCount() const { return static_cast<int>(m_names.size()); }
    const CString& GetName(int number) const { return m_names[static_cast<size_t>(number)].name; }

    CTKSectionList* FindList(int number, int copy) const;
    // Makes the section list of (number, copy); the container's streamIdInUse
    // code (with no file name) when it exists already.
    CTKSectionList* AddList(int number, int copy);
    void RemoveList(const CTKSectionList* list);
    // Every section list, by name number, then copy number.
    std::vector<CTKSectionList*> GetAllLists() const;

    // name cut to the stored length.
    static CString CutName(const char* name);

private:
    struct Name {
        CString name;
        std::vector<std::unique_ptr<CTKSectionList>> copies;  // sorted by copy number
    };
    std::vector<Name> m_names;
};
