#include "EegFile/access/EegAccessControl.h"

#include <algorithm>
#include <cstdint>

#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/container/TKCompoundFileScopes.h"
#include "Platform/Report.h"
#include "Platform/System.h"

namespace fmt = EegControlFileFormat;

namespace {
// Both files are shared for reading and writing with every other station.
constexpr UINT kShareAll = CFile::modeReadWrite | CFile::shareDenyNone;

// Tries at a busy byte before waiting between tries (see LockByte).
constexpr int kImmediateTries = 64;

bool HasWriteRight(CEegAccessMode::EegAccessModeType mode) {
    return mode == CEegAccessMode::eamWrite || mode == CEegAccessMode::eamWriteMark;
}
}  // namespace

CEegAccessControl::CEegAccessControl() : m_ComputerName(::GetComputerName()) {}

CEegAccessControl::~CEegAccessControl() {
    try {
        Release();
    } catch (CException* e) {
        ReportException(e, "Release file access", __FILE__, __LINE__);
        e->Delete();
    }
    m_ControlFile.Abort();
    CloseLockFile(false);
}

void CEegAccessControl::SetPaths(const char* recordingPath) {
    if (m_AccessHeld || m_ControlFile.IsOpen())
        return;
    m_ControlFilePath = fmt::SiblingPath(recordingPath, fmt::kControlExtension);
    m_LockFilePath = fmt::SiblingPath(recordingPath, fmt::kLockExtension);
}

// --- Access modes --------------------------------------------------------------

bool CEegAccessControl::MayGrant(Mode mode, int skip) const {
    bool others = false, mark = false, write = false;
    const CEegStationList& stations = m_Control.m_Stations;
    for (int i = 0; i < stations.GetSize(); ++i) {
        if (i == skip)
            continue;
        const Mode held = stations[i].m_Mode;
        if (held < CEegAccessMode::eamRead || held > CEegAccessMode::eamWriteMark)
            return false;  // an exclusive holder, or a mode we do not know
        others = true;
        mark = mark || held == CEegAccessMode::eamReadMark || held == CEegAccessMode::eamWriteMark;
        write = write || HasWriteRight(held);
    }
    switch (mode) {
        case CEegAccessMode::eamRead:
            return true;
        case CEegAccessMode::eamReadMark:
            return !mark;
        case CEegAccessMode::eamWrite:
            return !write;
        case CEegAccessMode::eamWriteMark:
            return !mark && !write;
        case CEegAccessMode::eamExclusive:
            return !others;
        default:
            return false;
    }
}

int CEegAccessControl::FindOwnEntry() const {
    const CEegStationList& stations = m_Control.m_Stations;
    for (int i = 0; i < stations.GetSize(); ++i) {
        if (stations[i].m_Name == m_ComputerName && stations[i].m_Number == m_StationNumber)
            return i;
    }
    return -1;
}

int CEegAccessControl::TakeMode(Mode mode) {
    m_WriterActive = 0;
    m_LockFailure = 0;
    if (m_AccessHeld)
        Release();
    if (m_WithoutControl) {
        m_CurrentMode = mode;
        return 1;
    }
    OpenLockFile();
    bool granted = false;
    bool empty = false;
    try {
        CTKHookScope control(&m_ControlHook);
        OpenControlFile(true);
        ReadControlFile();
        granted = MayGrant(mode, -1);
        if (granted) {
            // One computer may hold the recording several times; its openings
            // are numbered so that each removes exactly its own entry.
            int32_t highest = 0;
            for (const CEegStationEntry& e : m_Control.m_Stations) {
                if (e.m_Name == m_ComputerName)
                    highest = std::max(highest, e.m_Number);
            }
            CEegStationEntry entry;
            entry.m_Name = m_ComputerName;
            entry.m_Number = highest < INT32_MAX ? highest + 1 : highest;
            entry.m_Mode = mode;
            m_Control.m_Stations.Add(entry);
            WriteControlRecord(m_ControlFile, m_Control.m_Stations);
            m_StationNumber = entry.m_Number;
            m_CurrentMode = mode;
        }
        empty = m_Control.m_Stations.IsEmpty();
        CloseControlFile(empty);
        control.Restore();
    } catch (CException*) {
        m_StationNumber = 0;
        AbortControlFile();
        CloseLockFile(false);
        throw;
    }
    if (!granted) {
        CloseLockFile(empty);
        return 0;
    }
    m_AccessHeld = true;
    return 1;
}

int CEegAccessControl::ChangeMode(Mode mode) {
    if (m_WithoutControl) {
        m_CurrentMode = mode;
        return 1;
    }
    if (!m_AccessHeld)
        return 0;
    if (mode == m_CurrentMode)
        return 1;
    bool granted = false;
    try {
        CTKHookScope control(&m_ControlHook);
        if (OpenControlFile(false)) {
            ReadControlFile();
            const int own = FindOwnEntry();
            granted = own >= 0 && MayGrant(mode, own);
            if (granted) {
                m_Control.m_Stations[own].m_Mode = mode;
                WriteControlRecord(m_ControlFile, m_Control.m_Stations);
            }
            CloseControlFile(false);
        }
        control.Restore();
    } catch (CException*) {
        AbortControlFile();
        throw;
    }
    if (granted)
        m_CurrentMode = mode;
    return granted ? 1 : 0;
}

void CEegAccessControl::Release() {
    if (!m_AccessHeld)
        return;
    try {
        CTKHookScope control(&m_ControlHook);
        bool empty = true;
        if (OpenControlFile(false)) {
            ReadControlFile();
            const int own = FindOwnEntry();
            if (own >= 0)
                m_Control.m_Stations.RemoveAt(own);
            empty = StoreControlFile();
            CloseControlFile(empty);
        }
        // Closing the lock file gives back the control byte with every other
        // held byte; the scope then finds the file closed and does nothing.
        CloseLockFile(empty);
    } catch (CException*) {
        AbortControlFile();
        throw;
    }
    m_AccessHeld = false;
    m_StationNumber = 0;
}

void CEegAccessControl::ReleaseWithoutUpdate() {
    if (!m_AccessHeld)
        return;
    // Closing the descriptor frees every byte lock it holds.
    m_ControlFile.Abort();
    m_LockFile.Abort();
    std::fill(std::begin(m_Held), std::end(m_Held), 0);
    m_AccessHeld = false;
    m_StationNumber = 0;
}

int CEegAccessControl::RemoveStationEntries(const char* recordingPath, int& wasWriting) {
    wasWriting = 0;
    if (m_AccessHeld)
        Release();
    m_ControlFile.Abort();
    SetPaths(recordingPath);
    if (m_WithoutControl)
        return 1;
    OpenLockFile();
    try {
        CTKHookScope control(&m_ControlHook);
        bool empty = true;
        if (OpenControlFile(false)) {
            ReadControlFile();
            CEegStationList& stations = m_Control.m_Stations;
            for (int i = stations.GetSize() - 1; i >= 0; --i) {
                if (stations[i].m_Name == m_ComputerName) {
                    if (HasWriteRight(stations[i].m_Mode))
                        wasWriting = 1;
                    stations.RemoveAt(i);
                }
            }
            empty = StoreControlFile();
            CloseControlFile(empty);
        }
        CloseLockFile(empty);
    } catch (CException*) {
        AbortControlFile();
        CloseLockFile(false);
        throw;
    }
    return 1;
}

// --- Station list and flags ----------------------------------------------------

CString CEegAccessControl::GetStationName(int index) const {
    const int count = GetStationCount();
    if (count == 0)
        return CString();
    return m_Control.m_Stations[std::clamp(index, 0, count - 1)].m_Name;
}

CEegAccessControl::Mode CEegAccessControl::GetStationMode(int index) const {
    const int count = GetStationCount();
    if (count == 0)
        return CEegAccessMode::eamRead;
    return m_Control.m_Stations[std::clamp(index, 0, count - 1)].m_Mode;
}

void CEegAccessControl::SetWriterActive(int active) {
    m_WriterActive = active != 0;
    if (!m_WriterActive)
        m_LockFailure = 0;
}

int CEegAccessControl::GetLockHeld(int index) const {
    return index >= 0 && index < fmt::kLockByteCount ? m_Held[index] : 0;
}

// --- Byte locks ----------------------------------------------------------------

int CEegAccessControl::SetLockState(int index, int state, int timeoutMs) {
    if (!m_LockFile.IsOpen() || m_WithoutControl || index < 0 || index >= fmt::kLockByteCount)
        return 0;
    // A recording station that missed a lock runs without any until it stops.
    if (m_LockFailure)
        return 1;
    state = state ? 1 : 0;
    const int previous = m_Held[index];
    if (state != previous) {
        if (state == 0) {
            m_LockFile.UnlockRange(static_cast<uint64_t>(index), 1);
        } else {
            LockByte(index, timeoutMs);
        }
        m_Held[index] = state;
    }
    if (m_LockFailure) {
        // Every byte is marked held, had or not, so that the callers' restores
        // see one consistent picture; the bytes that were free are really held
        // until writer active is cleared and they are given back.
        for (int i = 0; i < fmt::kLockByteCount; ++i) {
            if (i != index && !m_Held[i]) {
                LockByte(i, fmt::kLockFailureProbeMs);
                m_Held[i] = 1;
            }
        }
    }
    return previous;
}

int CEegAccessControl::SetLockState(int streamType, int copy, int state, int timeoutMs) {
    const int byte = fmt::RegionByte(streamType, copy);
    return byte < 0 ? 0 : SetLockState(byte, state, timeoutMs);
}

// Another station's lock shows as a refusal of the try, not as a wait: the
// byte-range locks are taken without blocking (F_OFD_SETLK), so the time-out
// stays ours. A few tries follow each other at once, since the sections these
// bytes guard are short (one header, one control-file write); after that the
// waiter pauses 1 ms between tries, so that on a busy machine it leaves the
// processor to the station that holds the byte.
void CEegAccessControl::LockByte(int index, int timeoutMs) {
    const uint32_t deadline = GetTickCount() + static_cast<uint32_t>(timeoutMs);
    for (int tries = 0;; ++tries) {
        // The signed difference stays right across the counter's wrap.
        if (TickDifference(deadline, GetTickCount()) < 1) {
            if (!m_WriterActive) {
                CTKCompoundFileException::Throw(CTKCompoundFileException::lockTimeout,
                                                m_LockFilePath);
            }
            m_LockFailure = 1;
            return;
        }
        if (m_LockFile.TryLockRange(static_cast<uint64_t>(index), 1))
            return;
        if (tries >= kImmediateTries)
            Sleep(1);
    }
}

// --- Files ---------------------------------------------------------------------

void CEegAccessControl::OpenLockFile() {
    if (m_LockFile.IsOpen())
        return;
    std::fill(std::begin(m_Held), std::end(m_Held), 0);
    CFileException error;
    if (!m_LockFile.Open(m_LockFilePath, kShareAll | CFile::modeCreate | CFile::modeNoTruncate,
                         &error)) {
        throw new CFileException(error.m_cause, error.m_lOsError, m_LockFilePath);
    }
}

void CEegAccessControl::CloseLockFile(bool remove) {
    bool closed = true;
    try {
        for (int i = 0; i < fmt::kLockByteCount; ++i) {
            if (m_Held[i] && m_LockFile.IsOpen()) {
                m_LockFile.UnlockRange(static_cast<uint64_t>(i), 1);
                m_Held[i] = 0;
            }
        }
        m_LockFile.Close();
    } catch (CException* e) {
        e->Delete();
        closed = false;
    }
    m_LockFile.Abort();
    std::fill(std::begin(m_Held), std::end(m_Held), 0);
    if (!closed || !remove)
        return;
    // Another station that has the file open keeps it (CFile refuses to remove
    // a file that is open anywhere): then it still needs it, and removes it
    // when it leaves last.
    try {
        CFile::Remove(m_LockFilePath);
    } catch (CException* e) {
        e->Delete();
    }
}

bool CEegAccessControl::OpenControlFile(bool create) {
    const UINT flags = kShareAll | (create ? CFile::modeCreate | CFile::modeNoTruncate : 0);
    CFileException error;
    if (m_ControlFile.Open(m_ControlFilePath, flags, &error))
        return true;
    if (!create && error.m_cause == CFileException::fileNotFound)
        return false;
    throw new CFileException(error.m_cause, error.m_lOsError, m_ControlFilePath);
}

void CEegAccessControl::CloseControlFile(bool remove) {
    m_ControlFile.Close();
    if (!remove)
        return;
    // Removed under the control byte, so no station between its own open and
    // read of the file can see it vanish. Should it still be open somewhere
    // (a recording station that runs without locks after a lock failure), it
    // stays, empty, which reads as no stations.
    try {
        CFile::Remove(m_ControlFilePath);
    } catch (CException* e) {
        e->Delete();
    }
}

void CEegAccessControl::ReadControlFile() {
    ReadControlRecord(m_ControlFile, m_Control);
}

bool CEegAccessControl::StoreControlFile() {
    if (m_Control.m_Stations.IsEmpty()) {
        // Never left with zero entries: length 0 is what lists no station.
        m_ControlFile.SetLength(0);
        return true;
    }
    WriteControlRecord(m_ControlFile, m_Control.m_Stations);
    return false;
}

void CEegAccessControl::AbortControlFile() {
    m_ControlFile.Abort();
}

int CEegAccessControl::TakeMarkRight() {
    switch (GetAccessMode()) {
        case CEegAccessMode::eamRead:
            return ChangeMode(CEegAccessMode::eamReadMark);
        case CEegAccessMode::eamWrite:
            return ChangeMode(CEegAccessMode::eamWriteMark);
        default:
            return 1;
    }
}

int CEegAccessControl::DropMarkRight() {
    switch (GetAccessMode()) {
        case CEegAccessMode::eamReadMark:
            return ChangeMode(CEegAccessMode::eamRead);
        case CEegAccessMode::eamWriteMark:
            return ChangeMode(CEegAccessMode::eamWrite);
        default:
            return 1;
    }
}
