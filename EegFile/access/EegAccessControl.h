// CEegAccessControl decides which station may open a recording in which access
// mode, through the control file and the lock file beside the recording (layout
// in EegControlFileFormat.h), and offers the single-byte locks of the lock file
// through which stations exclude each other for short critical sections.
//
// Owns: the two files (the lock file stays open while access is held, the
// control file only within one operation), the control record as last read,
// and the two lock hooks it hands to the recording's container. It has no lock
// of its own: the recording calls it under its file lock, which is also the
// container's mutex, so the hooks run under that lock too.
//
// Between stations every read-modify-write of the control file happens under
// the control byte, so no station loses another's entry. Byte locks belong to
// the open lock file: closing it, or the death of the process, frees them at
// once. An entry of a station that died stays in the control file until
// RemoveStationEntries from that computer clears it.
#pragma once

#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/container/TKCompoundFileCallbacks.h"
#include "EegFile/frame/EegEnums.h"
#include "EegFile/frame/StationList.h"
#include "Platform/File.h"
#include "Platform/String.h"

class CEegAccessControl {
public:
    using Mode = CEegAccessMode::EegAccessModeType;

    // Reads this station's computer name once.
    CEegAccessControl();
    // Releases access still held; a failure is reported (Platform/Report.h), and
    // the files are closed regardless.
    ~CEegAccessControl();

    CEegAccessControl(const CEegAccessControl&) = delete;
    CEegAccessControl& operator=(const CEegAccessControl&) = delete;

    // Derives the control and lock file paths from the recording's; ignored
    // while access is held or the control file is open.
    void SetPaths(const char* recordingPath);
    CString GetControlFilePath() const { return m_ControlFilePath; }
    CString GetLockFilePath() const { return m_LockFilePath; }

    // Set for a recording opened read-only: then no file is used at all, every
    // mode is granted and nothing is locked.
    void SetWithoutControl(int withoutControl) { m_WithoutControl = withoutControl != 0; }
    int GetWithoutControl() const { return m_WithoutControl; }

    // Registers this station with mode (releasing first when access is held);
    // 1 granted, 0 refused. Clears writer active and lock failure. Throws
    // CEegFileException code 10 for a control file that is not ours,
    // CTKCompoundFileException lockTimeout when the control byte is not had in
    // time, CFileException for the files; the files on disk then stay as they were
    // (a control file this call created stays, empty, which lists no station).
    int TakeMode(Mode mode);
    // Changes the mode of this station's entry; 1 granted (or already the mode),
    // 0 refused, without access held, or when the entry is gone.
    int ChangeMode(Mode mode);
    // Adds the mark right to the mode held (read to read with marks, write to
    // write with marks): 1 when granted or already held (modes 1, 3 and 4), 0 when
    // refused. Gives it up again (1 to 0, 3 to 2): 1 when done or not held, 0 when
    // refused. The same rule for both recording formats.
    int TakeMarkRight();
    int DropMarkRight();
    // Removes this station's entry and closes the lock file; the last station
    // to leave removes both files. Nothing without access held. On a failure
    // access stays held and the lock file open.
    void Release();
    // Closes the files without touching the control file; the entry stays.
    void ReleaseWithoutUpdate();
    // Clean-up after a failed station: releases, then removes every entry of
    // this computer from the control file of recordingPath; wasWriting = 1 when
    // one of them had the write right. Returns 1.
    int RemoveStationEntries(const char* recordingPath, int& wasWriting);

    int GetAccessHeld() const { return m_AccessHeld; }
    Mode GetAccessMode() const { return m_CurrentMode; }
    int GetStationNumber() const { return m_StationNumber; }
    CString GetComputerName() const { return m_ComputerName; }

    // Set by the recording while it records: a lock not had in time then sets the
    // lock failure instead of throwing. Clearing it clears the lock failure.
    void SetWriterActive(int active);
    int GetWriterActive() const { return m_WriterActive; }
    int GetLockFailure() const { return m_LockFailure; }

    // The stations of the control file as last read, in file order; an index
    // is clamped to the list ("" and read for an empty list).
    int GetStationCount() const { return m_Control.m_Stations.GetSize(); }
    CString GetStationName(int index) const;
    Mode GetStationMode(int index) const;
    const CEegStationList& GetStationList() const { return m_Control.m_Stations; }

    // Takes (state 1) or releases (0) byte index of the lock file and returns its
    // previous state. Waits up to timeoutMs for another station; then throws
    // CTKCompoundFileException lockTimeout naming the lock file, or, with writer
    // active, sets the lock failure, tries every other byte once and from then
    // on locks nothing until writer active is cleared. 0 without the lock file
    // open, without control, or for an index outside the 13 bytes. Other
    // failures of the lock calls throw CFileException naming the lock file.
    int SetLockState(int index, int state, int timeoutMs);
    // The region byte of (stream type 0-4, copy 1-2); 0 and nothing done for
    // any other pair.
    int SetLockState(int streamType, int copy, int state, int timeoutMs);
    // Whether this object marks byte index held.
    int GetLockHeld(int index) const;

    // Hooks for the container: the writer byte and the directory byte, each
    // with the 10 000 ms time-out. They live as long as this object.
    CTKLockHook* GetWriterHook() { return &m_WriterHook; }
    CTKLockHook* GetDirectoryHook() { return &m_DirectoryHook; }

private:
    class CByteHook : public CTKLockHook {
    public:
        CByteHook(CEegAccessControl& owner, int index) : m_Owner(owner), m_Index(index) {}
        int SetLockState(int state) override {
            return m_Owner.SetLockState(m_Index, state, EegControlFileFormat::kLockTimeoutMs);
        }

    private:
        CEegAccessControl& m_Owner;
        int m_Index;
    };

    // Whether mode may be granted beside the entries of the control record,
    // leaving out the entry at skip (-1: none).
    bool MayGrant(Mode mode, int skip) const;
    int FindOwnEntry() const;

    // Locks byte index, waiting up to timeoutMs (see SetLockState).
    void LockByte(int index, int timeoutMs);

    void OpenLockFile();
    // Unlocks every held byte, closes, and removes the file when asked. A failing
    // unlock or close ends it there (the descriptor is dropped all the same);
    // nothing is reported.
    void CloseLockFile(bool remove);
    // Opens the control file; FALSE when it does not exist and create is not set.
    bool OpenControlFile(bool create);
    void CloseControlFile(bool remove);
    // Reads the control file into the control record.
    void ReadControlFile();
    // Writes the stations of the control record, or cuts the file to length 0
    // when there are none. Returns whether it is empty now.
    bool StoreControlFile();
    // Drops the control file after a failure inside an operation, without throwing.
    void AbortControlFile();

    bool m_AccessHeld = false;
    bool m_WithoutControl = false;
    CString m_ComputerName;
    int m_StationNumber = 0;
    Mode m_CurrentMode = CEegAccessMode::eamRead;
    CEegControlRecord m_Control;
    CString m_ControlFilePath;
    CString m_LockFilePath;
    CFile m_ControlFile;
    CFile m_LockFile;
    int m_Held[EegControlFileFormat::kLockByteCount] = {};
    int m_WriterActive = 0;
    int m_LockFailure = 0;
    CByteHook m_WriterHook{*this, EegControlFileFormat::kWriterByte};
    CByteHook m_DirectoryHook{*this, EegControlFileFormat::kDirectoryByte};
    CByteHook m_ControlHook{*this, EegControlFileFormat::kControlByte};
};
