#include "EegFile/container/TKStreamNameTable.h"

#include <algorithm>

#include "EegFile/container/TKCompoundFileException.h"

CString CTKStreamNameTable::CutName(const char* name) {
    CString s(name);
    return s.GetLength() > TKCompoundFileFormat::kMaxNameLength
               ? s.Left(TKCompoundFileFormat::kMaxNameLength)
               : s;
}

void CTKStreamNameTable::RemoveAll() {
    m_names.clear();
}

int CTKStreamNameTable::Find(const char* name) const {
    const CString cut = CutName(name);
    if (cut.IsEmpty())
        return -1;
    for (size_t i = 0; i < m_names.size(); ++i) {
        if (m_names[i].name == cut)
            return static_cast<int>(i);
    }
    return -1;
}

int CTKStreamNameTable::Lookup(const char* name) {
    const CString cut = CutName(name);
    if (cut.IsEmpty())
        return -1;
    const int found = Find(cut);
    if (found >= 0)
        return found;
    m_names.push_back(Name{cut, {}});
    return static_cast<int>(m_names.size()) - 1;
}

CTKSectionList* CTKStreamNameTable::FindList(int number, int copy) const {
    if (number < 0 || number >= GetNameCount())
        return nullptr;
    for (const auto& list : m_names[static_cast<size_t>(number)].copies) {
        if (list->GetCopy() == copy)
            return list.get();
    }
    return nullptr;
}

CTKSectionList* CTKStreamNameTable::AddList(int number, int copy) {
    if (number < 0 || number >= GetNameCount() || FindList(number, copy)) {
        CTKCompoundFileException::Throw(CTKCompoundFileException::streamIdInUse, "");
    }
    auto& copies = m_names[static_cast<size_t>(number)].copies;
    const auto at = std::find_if(copies.begin(), copies.end(),
                                 [copy](const auto& list) { return list->GetCopy() > copy; });
    return copies.insert(at, std::make_unique<CTKSectionList>(number, copy))->get();
}

void CTKStreamNameTable::RemoveList(const CTKSectionList* list) {
    if (!list)
        return;
    const int number = list->GetNameNumber();
    if (number < 0 || number >= GetNameCount())
        return;
    auto& copies = m_names[static_cast<size_t>(number)].copies;
    std::erase_if(copies, [list](const auto& l) { return l.get() == list; });
}

std::vector<CTKSectionList*> CTKStreamNameTable::GetAllLists() const {
    std::vector<CTKSectionList*> all;
    for (const Name& n : m_names) {
        for (const auto& list : n.copies)
            all.push_back(list.get());
    }
    return all;
}
