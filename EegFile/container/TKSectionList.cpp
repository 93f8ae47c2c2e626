#include "EegFile/container/TKSectionList.h"

#include <algorithm>

void CTKSectionList::InsertSorted(Entries& entries, std::unique_ptr<CTKSectionEntry> entry) {
    const auto at = std::upper_bound(entries.begin(), entries.end(), entry->m_sequence,
                                     [](int sequence, const std::unique_ptr<CTKSectionEntry>& e) {
                                         return sequence < e->m_sequence;
                                     });
    entries.insert(at, std::move(entry));
}

CTKSectionEntry* CTKSectionList::Add(std::unique_ptr<CTKSectionEntry> entry) {
    CTKSectionEntry* added = entry.get();
    Entries& into = entry->m_free ? m_released : m_inUse;
    InsertSorted(into, std::move(entry));
    return added;
}

CTKSectionEntry* CTKSectionList::TakeFirstReleased() {
    if (m_released.empty())
        return nullptr;
    std::unique_ptr<CTKSectionEntry> entry = std::move(m_released.front());
    m_released.erase(m_released.begin());
    const CTKSectionEntry* previous = GetLastInUse();
    entry->m_free = 0;
    entry->m_sequence = GetHighestInUse() + 1;
    entry->m_used = 0;
    entry->m_streamStart = previous ? previous->GetStreamEnd() : 0;
    CTKSectionEntry* taken = entry.get();
    m_inUse.push_back(std::move(entry));
    return taken;
}

void CTKSectionList::ReleaseLastInUse() {
    if (m_inUse.empty())
        return;
    std::unique_ptr<CTKSectionEntry> entry = std::move(m_inUse.back());
    m_inUse.pop_back();
    entry->m_used = 0;
    entry->m_linked = 0;
    entry->m_free = 1;
    InsertSorted(m_released, std::move(entry));
}

int CTKSectionList::FindInUse(int64_t p) const {
    // The last section whose data starts at or before p.
    int lo = 0;
    int hi = GetInUseCount() - 1;
    int found = -1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        if (m_inUse[static_cast<size_t>(mid)]->m_streamStart <= p) {
            found = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (found < 0)
        return -1;
    const CTKSectionEntry& e = *m_inUse[static_cast<size_t>(found)];
    const bool last = found == GetInUseCount() - 1;
    if (p < e.GetStreamEnd() || (last && p == e.GetStreamEnd()))
        return found;
    return -1;
}
