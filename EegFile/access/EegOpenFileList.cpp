#include "EegFile/access/EegOpenFileList.h"

#include <string>
#include <vector>

#include "Platform/Registry.h"

namespace {
const char kKeyName[] = "EegOpenFileList";
const char kValueName[] = "EegOpenFileList";

bool OpenKey(CRegistryKey& key, bool create) {
    CString path;
    if (!GetAppRegistryPath(path))
        return false;
    return key.Open(path + "\\" + kKeyName, create);
}
}  // namespace

CEegOpenFileList& GetTheEegOpenFileList() {
    // Made on first use and kept for the life of the process.
    static CEegOpenFileList* list = new CEegOpenFileList;
    return *list;
}

void CEegOpenFileList::Add(const char* fileName, CPatientInfo::RecordStatus status,
                           const CString& qmFileId) {
    if (!fileName || !*fileName)
        return;
    m_FileNames.Add(fileName);
    m_Statuses.Add(CPatientInfo::Format(status));
    m_QmFileIds.Add(qmFileId);
}

void CEegOpenFileList::Remove(const char* fileName) {
    for (int i = 0; i < m_FileNames.GetSize(); ++i) {
        if (m_FileNames[i] == fileName) {
            m_FileNames.RemoveAt(i);
            m_Statuses.RemoveAt(i);
            m_QmFileIds.RemoveAt(i);
            return;
        }
    }
}

void CEegOpenFileList::RemoveAll() {
    m_FileNames.RemoveAll();
    m_Statuses.RemoveAll();
    m_QmFileIds.RemoveAll();
}

CString CEegOpenFileList::GetFileName(int index) const {
    return index >= 0 && index < GetCount() ? m_FileNames[index] : CString();
}

CPatientInfo::RecordStatus CEegOpenFileList::GetFileStatus(int index) const {
    if (index < 0 || index >= GetCount())
        return CPatientInfo::rsUnknown;
    for (int s = CPatientInfo::rsReadyToRecord; s <= CPatientInfo::rsArchived; ++s) {
        const auto status = static_cast<CPatientInfo::RecordStatus>(s);
        if (CPatientInfo::Format(status) == m_Statuses[index])
            return status;
    }
    return CPatientInfo::rsUnknown;
}

CString CEegOpenFileList::GetQmFileId(int index) const {
    return index >= 0 && index < GetCount() ? m_QmFileIds[index] : CString();
}

void CEegOpenFileList::Store() {
    CRegistryKey key;
    if (!OpenKey(key, true))
        return;
    // Multi-string: each entry "name|status|qm" ended by a NUL, then one more NUL.
    std::string value;
    for (int i = 0; i < GetCount(); ++i) {
        value += m_FileNames[i].str() + "|" + m_Statuses[i].str() + "|" + m_QmFileIds[i].str();
        value += '\0';
    }
    value += '\0';
    key.SetValue(kValueName, REG_MULTI_SZ, value.data(), value.size());
    key.Flush();
}

void CEegOpenFileList::Load() {
    RemoveAll();
    CRegistryKey key;
    if (!OpenKey(key, false))
        return;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!key.QueryValue(kValueName, type, data) || type != REG_MULTI_SZ || data.size() <= 1) {
        return;
    }
    // The last two bytes are forced to NUL, so every string ends inside the data.
    data[data.size() - 1] = 0;
    data[data.size() - 2] = 0;
    const size_t size = data.size();
    for (size_t at = 0; at < size - 1;) {
        const std::string entry(reinterpret_cast<const char*>(data.data() + at));
        at += entry.size() + 1;
        const size_t bar1 = entry.find('|');
        const size_t bar2 = bar1 == std::string::npos ? bar1 : entry.find('|', bar1 + 1);
        // The status is kept as stored text, which need not be a status's text.
        m_FileNames.Add(CString(entry.substr(0, bar1)));
        if (bar1 == std::string::npos) {
            m_Statuses.Add(CPatientInfo::Format(CPatientInfo::rsUnknown));
            m_QmFileIds.Add(CString());
        } else if (bar2 == std::string::npos) {
            m_Statuses.Add(CString(entry.substr(bar1 + 1)));
            m_QmFileIds.Add(CString());
        } else {
            m_Statuses.Add(CString(entry.substr(bar1 + 1, bar2 - bar1 - 1)));
            m_QmFileIds.Add(CString(entry.substr(bar2 + 1)));
        }
    }
}
