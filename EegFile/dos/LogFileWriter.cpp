// The log's writer: event lines, parameter lines, file lines, and the removal of
// an event by blotting its line out in place. Every write first reads what other
// stations appended, then skips its own text, so stations can add in turn.
#include <cstring>

#include "EegFile/dos/DosFileException.h"
#include "EegFile/dos/DosInputNames.h"
#include "EegFile/dos/LogFile.h"
#include "EegFile/events/Events.h"

using namespace LogFormat;

namespace {

CString Body(const char* format, int value) {
    CString s;
    s.Format(format, value);
    return s;
}

}  // namespace

CString CLogFile::LinkedText(const CEegTimeStamp& stamp) const {
    CString body;
    body.Format(" MONTSTD %d %d %d", m_nLinkedSensitivity, m_nLinkedHighCut, m_nLinkedLowCutX100);
    return StringFromSampleOffset(stamp.GetSampleOffset(), Rate()) + body + kLineEnd;
}

CString CLogFile::GetStringFromEvent(const CEegEvent& event) {
    const CEegTimeStamp stamp = event.GetTimeStamp();
    const CString time = StringFromSampleOffset(stamp.GetSampleOffset(), Rate());
    // Texts are kept on one line and within the reader's line length, so that what
    // is written reads back as one event (and a removal finds its line).
    const auto line = [&time](const CString& body) {
        return FitLine(time + " " + body) + kLineEnd;
    };
    switch (event.GetEventType()) {
        case CEegEvent::etRecord: {
            int recording = 0;
            CTKTime when;
            if (!static_cast<const CRecordEvent&>(event).GetRecordData(recording, when))
                ThrowDosFileException(CDosFileException::eEventUndefined);
            return line(CString("COMMENT ") + (recording ? "Recording at " : "Stopped at ") +
                        when.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, 0));
        }
        case CEegEvent::etComment:
        case CEegEvent::etUser: {
            const auto& annotation = static_cast<const CAnnotationEvent&>(event);
            const char* text = event.GetEventType() == CEegEvent::etComment
                                   ? static_cast<const CCommentEvent&>(event).GetComment()
                                   : static_cast<const CUserEvent&>(event).GetUserEvent();
            CString body;
            body.Format("COMMENT %d %s", annotation.GetPriority(), OneLine(text).GetString());
            return line(body);
        }
        case CEegEvent::etCalibrate:
        case CEegEvent::etRecordingRef:
        case CEegEvent::etNotch:
        case CEegEvent::etBlock:
        case CEegEvent::etFlashRate:
        case CEegEvent::etFlashRun:
        case CEegEvent::etTimer:
            return line("COMMENT " + OneLine(event.AsString(nullptr)));
        case CEegEvent::etImpedance:
            return ImpedanceText(stamp, static_cast<const CImpedanceEvent&>(event));
        case CEegEvent::etMontage:
            return MontageText(stamp, static_cast<const CMontageEvent&>(event).GetMontage());
        case CEegEvent::etTraceInfo: {
            const auto& trace = static_cast<const CTraceInfoEvent&>(event);
            return TraceLineText(stamp, trace.GetChannelNumber(), trace.GetTraceInfo()) + kLineEnd;
        }
        case CEegEvent::etLinkedHighcut:
            m_nLinkedHighCut =
                Truncated(static_cast<const CLinkedHighcutEvent&>(event).GetLinkedHighcut());
            return LinkedText(stamp);
        case CEegEvent::etLinkedLowcut:
            m_nLinkedLowCutX100 =
                Truncated(static_cast<const CLinkedLowcutEvent&>(event).GetLinkedLowcut() * 100);
            return LinkedText(stamp);
        case CEegEvent::etLinkedSensitivity:
            m_nLinkedSensitivity = Truncated(
                static_cast<const CLinkedSensitivityEvent&>(event).GetLinkedSensitivity());
            return LinkedText(stamp);
        case CEegEvent::etSpeed: {
            const int speed = Truncated(static_cast<const CSpeedEvent&>(event).GetSpeed());
            return line(Body("MONTSPD %d", speed != 0 ? 300 / speed : 0));
        }
        case CEegEvent::etBookmark: {
            const auto& b = static_cast<const CBookmarkEvent&>(event);
            const CString end = StringFromSampleOffset(b.GetEndStamp().GetSampleOffset(), Rate());
            return line("COMMENT BOOKMARK " + end + " " + FormatFixed(b.GetLinkedHighCut(), 4, 1) +
                        " " + FormatFixed(b.GetLinkedLowCut(), 5, 2) + " " +
                        FormatFixed(b.GetPaperSpeed(), 5, 1) + " " +
                        FormatFixed(b.GetLinkedSens(), 5, 1) + " " + OneLine(b.GetComment()));
        }
        default:
            ThrowDosFileException(CDosFileException::eEventUndefined);
    }
}

void CLogFile::AddEventToLog(const CEegEvent& event) {
    AppendToLog(GetStringFromEvent(event));
}

void CLogFile::AddEventsToLog(const CEegEvent* const* events, int count) {
    CString text;
    for (int i = 0; i < count; ++i)
        text += GetStringFromEvent(*events[i]);
    if (!text.IsEmpty())
        AppendToLog(text);
}

void CLogFile::WriteTextToFile(const char* text) {
    AppendToLog(text);
}

void CLogFile::AppendToLog(const CString& text) {
    updateFromLog();
    int64_t end = -1;
    const StatusType opened = openLogAndSeek(&end, 0, seekEnd);
    if (opened != stOk || end < 0)
        Fail(opened | stLogWrite, CDosFileException::eLogOpenFailure);
    if (end > m_nReadPosition) {
        // Another station appended between the parse above and this open. Other
        // writers are kept out now: read what it wrote, so that skipping this
        // text below skips nothing else.
        const int firstNew = m_nFileCount;
        if (seek(m_nReadPosition, seekBegin) != m_nReadPosition)
            Fail(stLogAccess | stLogWrite, CDosFileException::eLogAccessFailure);
        ParseOpenLog();
        SettleFileList(firstNew);
        end = seek(0, seekEnd);
        if (end < 0)
            Fail(stLogAccess | stLogWrite, CDosFileException::eLogAccessFailure);
    }
    // Still short of the end: the log ends in a line without its line end (a
    // station stopped in the middle of a write). It is ended first, so that this
    // text starts a line of its own instead of being glued to it.
    CString out = end > m_nReadPosition ? CString(kLineEnd) : CString();
    out += text;
    if (out.IsEmpty() || out[out.GetLength() - 1] != '\n')
        out += kLineEnd;
    const int written = write(out, out.GetLength());
    const int64_t after = logFilePosition();
    if (written < out.GetLength())
        Fail(stLogWrite, CDosFileException::eLogWriteFailure);
    if (after < 0)
        Fail(stLogAccess | stLogWrite, CDosFileException::eLogAccessFailure);
    CloseFile();
    m_nReadPosition = after;
}

void CLogFile::AddEvent(const CEegEvent* event) {
    AddEventToLog(*event);
    AddEventToArray(event);
}

void CLogFile::AddEvents(const CEegEvent* const* events, int count) {
    AddEventsToLog(events, count);
    for (int i = 0; i < count; ++i)
        AddEventToArray(events[i]);
}

void CLogFile::RemoveEvent(const CEegEvent* event) {
    DeleteEventFromLog(*event);
    if (m_EventList.Remove(event)) {
        m_TimeOfDay.Remove(event);
        delete event;
    }
}

void CLogFile::DeleteEventFromLog(const CEegEvent& event) {
    const CEegEvent::EventType type = event.GetEventType();
    const bool bookmark = type == CEegEvent::etBookmark;
    if (type != CEegEvent::etComment && type != CEegEvent::etUser && !bookmark)
        ThrowDosFileException(CDosFileException::eEventNotDeletable);

    // The line wanted is the event as this writer puts it, read back as the parser
    // reads it: its text decoded for a comment, the whole line for a bookmark.
    char wanted[kLineBuffer];
    const CString written = GetStringFromEvent(event);
    const int n = std::min(written.GetLength(), kMaxLineChars);
    std::memcpy(wanted, written.GetString(), static_cast<size_t>(n));
    const Line want = TrimLine(wanted, n);
    CString wantText;
    int wantType = 0;
    Decode(want, wantText, wantType);

    const StatusType opened = OpenFile("r+", shareDenyWrite);
    if (opened != stOk)
        Fail(opened | stLogWrite, CDosFileException::eLogOpenFailure);
    char buffer[kLineBuffer];
    for (;;) {
        const int64_t start = logFilePosition();
        if (start < 0)
            Fail(stLogAccess | stLogWrite, CDosFileException::eLogAccessFailure);
        if (readLogLine(buffer, kLineBuffer) != 0)
            break;
        const Line line{buffer, static_cast<int>(std::strlen(buffer))};
        if (!IsLogEntry(line) ||
            line.From(0).substr(0, kStampChars) != want.From(0).substr(0, kStampChars) ||
            !(line.Keyword(kComment) || line.Keyword(kEvent)))
            continue;
        bool match;
        if (bookmark) {
            match = line.From(0) == want.From(0);
        } else {
            CString text;
            int commentType;
            Decode(line, text, commentType);
            match = commentType == wantType && text == wantText;
        }
        if (!match)
            continue;
        // The keyword's first character becomes the mark that the parser skips;
        // the line keeps its length, so the log never shrinks.
        if (seek(start + m_nLastLineKeywordOffset, seekBegin) < 0)
            Fail(stLogAccess | stLogWrite, CDosFileException::eLogAccessFailure);
        const char mark = kDeletedMark;
        if (write(&mark, 1) != 1)
            Fail(stLogWrite, CDosFileException::eLogWriteFailure);
        CloseFile();
        return;
    }
    CloseFile();
    ThrowDosFileException(CDosFileException::eEventNotFound);
}

// -- parameter and file lines

void CLogFile::SetSampleRate(double rate) {
    m_dSampleRate = rate;
    m_bRateSeen = true;
    if (rate == 100.0)
        m_AmpInfo.SetMaxHighCut(50.0);
    WriteTextToFile(CString(kZeroStamp) + Body("  SAMPLRT %d", Truncated(rate)));
}

void CLogFile::SetCompressionType(int type) {
    m_nCompression = type;
    WriteTextToFile(CString(kZeroStamp) + Body("  COMPRSN %d", type));
}

void CLogFile::SetAmpInfo(const CAmpHardwareInfo& info) {
    m_AmpInfo = info;
    // The stored channels follow the amplifier's stored inputs, as a reader of
    // the montage's "CHANLCT" line will take them, so that this object packs
    // data files the way they will be read.
    const CAmpInputDomain& stored = info.GetInputDomain();
    m_nStoredChannels = stored.GetSize();
    m_nChannelValid.fill(0);
    for (int i = 0; i < stored.GetSize(); ++i) {
        const int slot = CAmpHardwareInfo::GetAmpChannelIndex(stored.GetAt(i));
        if (slot >= 0)
            m_nChannelValid[static_cast<size_t>(slot)] = 1;
    }

    const CString zero = kZeroStamp;
    CString text;
    CString nonRef;
    for (int jack = 0; jack < AmpInput::kJackCount; ++jack) {
        if (!info.GetRefInputDomain().Contains(static_cast<AmpInput::AmpInputType>(jack)))
            nonRef += " " + DosInputNames::InputToText(jack, DosInputNames::ReferenceInputs());
    }
    if (!nonRef.IsEmpty())
        text += zero + " NONREFRNC " + nonRef + kLineEnd;
    // The reader knows the amplifier only by whether this is 0.16 (type 1); another
    // type never writes 0.16.
    const double lowCut = info.GetAmplifierType() == 1  ? 0.16
                          : info.GetMinLowCut() == 0.16 ? 0.1
                                                        : info.GetMinLowCut();
    text += zero + " AMPLOCUT " + FormatFixed(lowCut, 0, 2) + kLineEnd;
    text += zero + Body(" AMPHICUT %d", Truncated(info.GetMaxHighCut())) + kLineEnd;
    if (info.GetDcDomain().GetSize() > 0)
        text += zero + " DCINPUT " + GetStringFromDomain(info.GetDcDomain()) + kLineEnd;
    for (int jack = 0; jack < AmpInput::kJackCount; ++jack) {
        const auto input = static_cast<AmpInput::AmpInputType>(jack);
        if (info.GetInputGain(input) == kMarkedInputGain)
            text += zero + " INPUTGAIN " +
                    DosInputNames::InputToText(jack, DosInputNames::ActiveInputs()) + " " +
                    kInputGainText + kLineEnd;
    }
    WriteTextToFile(text);
}

void CLogFile::SetPatientName(const char* text) {
    WriteTextToFile(text);
}

int CLogFile::writeNewFileEvent(int32_t second, int number) {
    if (m_nStatus != stOk)
        return 1;
    const uint32_t at = static_cast<uint32_t>(second) * static_cast<uint32_t>(Rate());
    WriteTextToFile(StringFromSampleOffset(at, Rate()) + Body(" NEWFILE %d", number));
    fileToList(number, second, 0);
    return m_nStatus != stOk ? 1 : 0;
}

int CLogFile::UpdateAfterDataCut(int32_t maxRead, int firstCutNumber,
                                 const CDWordArray& cutStarts) {
    if (m_nStatus != stOk)
        return 1;
    CString text = CString(kZeroStamp) + Body(" MAXREAD %d", maxRead) + kLineEnd;
    for (int i = 0; i < cutStarts.GetSize(); ++i) {
        const uint32_t at = static_cast<uint32_t>(cutStarts[i]) * static_cast<uint32_t>(Rate());
        text +=
            StringFromSampleOffset(at, Rate()) + Body(" CUTFILE %d", firstCutNumber + i) + kLineEnd;
    }
    WriteTextToFile(text);
    m_nMaxRead = maxRead;
    const int firstNew = m_nFileCount;
    for (int i = 0; i < cutStarts.GetSize(); ++i)
        fileToList(-(firstCutNumber + i), static_cast<int32_t>(cutStarts[i]), 1);
    // The lines above are skipped by this object's parser: settle the list (holes,
    // order) here as a reader of them does.
    SettleFileList(firstNew);
    return m_nStatus != stOk ? 1 : 0;
}
