// CTKStreamFile makes one container stream look like a CFile, so that archives
// and every other reader or writer can serialise into a stream as into a disk
// file. It also decides who closes the stream and the container:
//  - with ownsStream set, closing the adapter closes the stream in its container;
//  - with an owned container, closing the adapter then destroys that container.
//
// Locking: from construction until Close() (or until the stream detaches it) the
// adapter holds the container's recursive mutex for the thread that made it, so
// that thread goes on using the container while every other thread of the
// process waits. An adapter therefore belongs to the thread that made it: only
// that thread may use, close or destroy it. The adapter's own mutex guards its
// fields; the container's mutex, when both are taken, is taken by the stream.
//
// A stream has at most one adapter: a new adapter detaches the previous one,
// whose operations then return 0 or do nothing. Positions and lengths are
// reported in their low 32 bits, as the file interface this stands in for did.
#pragma once

#include <memory>
#include <mutex>

#include "Platform/File.h"

class CTKStream;
class CTKCompoundFile;
class CWinEegFile;

class CTKStreamFile : public CFile {
public:
    // Closes; a failure is reported (Platform/Report.h), not thrown.
    ~CTKStreamFile() override;

    // Takes (waiting without limit) or gives back the container lock.
    void Lock() const;
    void Unlock() const;

    // An adapter is never opened by name: returns 0.
    BOOL Open(const char* path, UINT openFlags, CFileException* error = nullptr) override;
    // Returns null: an adapter cannot be duplicated.
    CFile* Duplicate() const { return nullptr; }

    // Low 32 bits of the stream's position / length; 0 without a stream.
    uint64_t GetPosition() const override;
    uint64_t GetLength() const override;
    // offset is taken as a signed 32-bit value: from the position (current), from
    // the length (end) or from 0. A target beyond the length lands on the length,
    // a negative one on 0. Returns the low 32 bits of the new position.
    uint64_t Seek(int64_t offset, UINT from) override;
    // Length 0 truncates the stream; any other length is ignored.
    void SetLength(uint64_t newLength) override;
    UINT Read(void* buffer, UINT count) override;
    // Does nothing without a stream or on a read-only stream.
    void Write(const void* buffer, UINT count) override;
    // Commits the stream with a flush of the container's file.
    void Flush() override;
    // Commits the stream with a flush, closes it when owned, gives back the
    // container lock and destroys an owned container. Everything is released even
    // when a step fails; the first failure is then thrown. A second call does nothing.
    void Close() override;
    // As Close().
    void Abort() override;
    // Byte locks have no meaning inside a container: both do nothing.
    void LockRange(uint64_t position, uint64_t count) override;
    void UnlockRange(uint64_t position, uint64_t count) override;
    void Serialize(CArchive&) override {}

protected:
    friend class CTKCompoundFile;
    friend class CTKStream;
    friend class CWinEegFile;

    // Attaches to stream (detaching its previous adapter) and takes the container
    // lock. stream may be null: the adapter is then closed from the start.
    CTKStreamFile(CTKStream* stream, int ownsStream, CTKCompoundFile* container);

    // Called when the stream is destroyed first: forgets it and gives back the
    // container lock.
    void DetachStream();

private:
    void ReleaseContainerLock() const;

    mutable std::recursive_mutex m_mutex;
    mutable std::unique_ptr<std::unique_lock<std::recursive_mutex>> m_pContainerLock;
    int m_bOwnsStream;
    CTKStream* m_pStream;
    CTKCompoundFile* m_pOwnedContainer;
};
