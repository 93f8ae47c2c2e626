// CEegOpenFileList: the station's record of the recordings its programs have
// open, with each one's record status and Qm file identifier, kept in the
// registry value "EegOpenFileList" under the host application's key. A program
// reads it after a failure to clean up what was left open.
//
// One instance per process (GetTheEegOpenFileList), loaded on first use. It has
// no lock of its own: callers hold their recording's file lock around its use.
// Several processes share the registry value; the last Store wins.
#pragma once

#include "EegBase/PatientInfo.h"
#include "Platform/Arrays.h"
#include "Platform/String.h"

class CEegOpenFileList {
public:
    // An empty name is ignored; duplicates are kept.
    void Add(const char* fileName, CPatientInfo::RecordStatus status, const CString& qmFileId);
    // Removes the first entry of exactly that name.
    void Remove(const char* fileName);
    void RemoveAll();

    int GetCount() const { return m_FileNames.GetSize(); }
    // "" outside the list.
    CString GetFileName(int index) const;
    // The status whose text the entry holds; rsUnknown outside the list or for
    // a text that is no status's.
    CPatientInfo::RecordStatus GetFileStatus(int index) const;
    CString GetQmFileId(int index) const;

    // Writes the whole list to the registry; nothing without an application key.
    void Store();
    // Replaces the list by the registry's; empty without a key or value.
    void Load();

protected:
    friend CEegOpenFileList& GetTheEegOpenFileList();
    CEegOpenFileList() { Load(); }
    ~CEegOpenFileList() = default;

private:
    CArray<CString> m_FileNames;
    CArray<CString> m_Statuses;
    CArray<CString> m_QmFileIds;
};

CEegOpenFileList& GetTheEegOpenFileList();
