// libFuzzer target: loads an event list from arbitrary bytes. A load either
// succeeds or raises the archive's exception, never crashes, hangs or leaks; a
// loaded list is in time order, renders as text, and stores bytes that load back
// to the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "EegFile/events/EegEventList.h"
#include "EegFile/events/Events.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {

// A CFile over bytes in memory, so that each input costs no system calls.
class CMemoryFile : public CFile {
public:
    explicit CMemoryFile(std::vector<unsigned char> bytes = {}) : m_bytes(std::move(bytes)) {}

    uint64_t GetPosition() const override { return m_pos; }
    uint64_t Seek(int64_t offset, UINT from) override {
        const int64_t base = from == begin     ? 0
                             : from == current ? static_cast<int64_t>(m_pos)
                                               : static_cast<int64_t>(m_bytes.size());
        m_pos = static_cast<uint64_t>(base + offset);
        return m_pos;
    }
    uint64_t GetLength() const override { return m_bytes.size(); }
    void SetLength(uint64_t length) override { m_bytes.resize(length); }
    UINT Read(void* buffer, UINT count) override {
        if (m_pos >= m_bytes.size())
            return 0;
        const size_t n = std::min<size_t>(count, m_bytes.size() - m_pos);
        std::memcpy(buffer, m_bytes.data() + m_pos, n);
        m_pos += n;
        return static_cast<UINT>(n);
    }
    void Write(const void* buffer, UINT count) override {
        if (m_pos + count > m_bytes.size())
            m_bytes.resize(m_pos + count);
        std::memcpy(m_bytes.data() + m_pos, buffer, count);
        m_pos += count;
    }
    void Flush() override {}
    void Close() override {}
    void Abort() override {}

    const std::vector<unsigned char>& Bytes() const { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
    uint64_t m_pos = 0;
};

void DeleteEvents(CEegEventList& list) {
    for (int i = 0; i < list.GetSize(); ++i)
        delete list.GetAt(i);
    list.RemoveAll();
}

std::vector<unsigned char> Store(CEegEventList& list) {
    CMemoryFile file;
    CArchive ar(&file, CArchive::store, 256);
    list.Serialize(ar);
    ar.Close();
    return file.Bytes();
}

// Loads bytes into list; false when the load raised the archive's exception.
bool Load(const std::vector<unsigned char>& bytes, CEegEventList& list) {
    CMemoryFile file(bytes);
    CArchive ar(&file, CArchive::load, 256);
    try {
        list.Serialize(ar);
        return true;
    } catch (CException* e) {
        if (!dynamic_cast<CArchiveException*>(e))
            __builtin_trap();
        e->Delete();
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> input(data, data + size);
    CEegEventList list;
    const bool complete = Load(input, list);

    for (int i = 1; i < list.GetSize(); ++i) {
        if (list[i]->GetTimeStamp() < list[i - 1]->GetTimeStamp())
            __builtin_trap();
    }
    for (int i = 0; i < list.GetSize(); ++i) {
        if (list[i]->GetEventType() < 0 || list[i]->GetEventType() > 27)
            __builtin_trap();
        (void)list[i]->AsString(nullptr);
    }
    if (list.GetSize() > 0) {
        CEegEventList window;
        CEegEventMask mask;
        mask.SetMiscMask(1);
        list.GetEventList(window, mask, list[0]->GetTimeStamp(), CEegTimeStamp::NullStamp, 5, 3);
        (void)list.GetAt(list[list.GetSize() - 1]->GetTimeStamp(), mask);
    }

    if (complete) {
        // What a loaded list stores loads back and stores the same bytes.
        const std::vector<unsigned char> once = Store(list);
        CEegEventList again;
        if (!Load(once, again))
            __builtin_trap();
        if (again.GetSize() != list.GetSize() || Store(again) != once)
            __builtin_trap();
        DeleteEvents(again);
    }
    DeleteEvents(list);
    return 0;
}
