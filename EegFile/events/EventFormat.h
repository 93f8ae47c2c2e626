// Stored layout of events and event lists, in one place for reader and writer.
//
// Every record opens with a 16-bit version word, the version XOR kVersionMask.
// An event record is: the concrete class's version word; the base part's version
// word (kEventVersion); the event type (4); the time stamp's sample offset (4);
// then the class's fields, little-endian, strings with the archive's length prefix:
//
//   CRecordEvent (v1)          recording flag (4); year, month, day, hour, minute,
//                              second of the time (4 each, unsigned).
//                              v0: recording flag (4); a CTime (4, seconds since 1970)
//   CCalibrateEvent            amplitude (8); frequency (8); flag (4)
//   CImpedanceEvent (v1)       CImpedanceValues record; recording reference (4);
//                              CAmpInputDomain record. v0: CImpedanceValues record only
//   CRecordingRefEvent         recording reference (4)
//   CMontageEvent              CEegMontage record; montage name (string)
//   CTraceInfoEvent            CTraceInfo record; channel number (4)
//   CNotchEvent                flag (4); frequency (8)
//   linked high cut, low cut, sensitivity, speed, flash rate: the value (8)
//   CBlockEvent                nothing
//   CCommentEvent, CUserEvent  priority (2); text (string)
//   CFlashRunEvent             run number (4); flag A (4); flag B (4)
//   CTimerEvent                seconds (4); flag (4)
//   CDataDeletionEvent         start flag (4); other end (4)
//   CDataSegmentMarkEvent      delete flag (4); start flag (4); other end (4)
//   CAddOnEvent                id (1); event type (1); word (2); priority (2);
//                              data size (2); the data bytes
//   CAnalysisEvent             name (string); text (string); event type (1);
//                              priority (2); data size (2); the data bytes
//   CBookmarkEvent             end (4); comment (string); montage name (string, empty
//                              when the montage has no channels); CEegMontage record;
//                              high cut (8); low cut (8); paper speed (8); sensitivity (8)
//   CDataMarkDeleteEvent (v2)  end (4); mark type (4); comment (string); priority (2)
//   CSystemEvent               comment (string)
//   CVoiceEvent                file extension number (4); start offset (4); length (4);
//                              priority (4)
//   CKeyPressEvent             priority (4)
//   CBatteryLowEvent           voltage (8); priority (4)
//   CPersystEvent              type (4); duration (8); origin (2); type code (2);
//                              comment (string)
//
// A stored event list is its version word (kListVersion) and then, up to the end
// of the stream, per event: the type XOR kTypeMask (2) and the event's record.
// There is no count and no terminator.
#pragma once

#include <vector>

#include "Platform/Archive.h"
#include "Platform/Types.h"

namespace EventFormat {

constexpr WORD kVersionMask = 0x5A5A;
constexpr WORD kTypeMask = 0xA5A5;

constexpr WORD kEventVersion = 0;  // the base part, and every class not listed below
constexpr WORD kRecordVersion = 1;
constexpr WORD kImpedanceVersion = 1;
constexpr WORD kDataMarkDeleteVersion = 2;
constexpr WORD kListVersion = 0;

// Add-on data up to this size lives inside the event.
constexpr unsigned kAddOnInlineSize = 8;

// Storing: writes current XOR kVersionMask and returns current. Loading: reads a
// word and returns the stored version.
WORD SerializeVersion(CArchive& ar, WORD current);

// The archive's bad-schema exception, naming its file.
[[noreturn]] void ThrowBadSchema(const CArchive& ar);

// Reads size raw bytes in bounded pieces, so a size the stream cannot back fails
// with end-of-file before much is allocated.
std::vector<unsigned char> ReadBlock(CArchive& ar, size_t size);

}  // namespace EventFormat
