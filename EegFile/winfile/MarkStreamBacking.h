// CMarkStreamBacking: the current format keeps a recording's marks in its
// "MarkDelete" stream. The stream stays open while attached; a store empties it
// first and commits it at the end.
#pragma once

#include <memory>
#include <optional>

#include "EegFile/access/EegDataMarkStore.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/container/TKStreamFile.h"

class CMarkStreamBacking : public CDataMarkBacking {
public:
    // None for a null stream: a recording without the stream has no marks.
    static std::unique_ptr<CDataMarkBacking> Make(CTKStream* stream) {
        return stream ? std::make_unique<CMarkStreamBacking>(stream) : nullptr;
    }
    explicit CMarkStreamBacking(CTKStream* stream) : m_pStream(stream) {}

    CFile& BeginLoad() override {
        m_pStream->Refresh();
        return m_File.emplace(m_pStream);
    }
    CFile& BeginStore() override {
        m_pStream->Refresh();
        m_pStream->Truncate();
        return m_File.emplace(m_pStream);
    }
    void End(bool stored) override {
        if (m_File) {
            m_File->Close();
            m_File.reset();
        }
        if (stored)
            m_pStream->Commit(TRUE);
    }
    void Close() override { m_pStream->Close(); }

private:
    // A stream file over the stream, which stays open.
    class CBorrowedStreamFile : public CTKStreamFile {
    public:
        explicit CBorrowedStreamFile(CTKStream* stream) : CTKStreamFile(stream, FALSE, nullptr) {}
    };

    CTKStream* m_pStream;
    std::optional<CBorrowedStreamFile> m_File;
};
