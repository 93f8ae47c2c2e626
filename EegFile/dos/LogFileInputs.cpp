// The log's amplifier inputs: stored-input lists, DC inputs, gains, reference
// inputs, trace lines, montage blocks and impedance blocks, read and written.
// Reading never throws: a name the tables do not know becomes a comment of type 5.
#include <cstring>

#include "EegFile/dos/DosInputNames.h"
#include "EegFile/dos/LogFile.h"
#include "EegFile/events/Events.h"

using namespace LogFormat;
using AmpInput::AmpInputType;

namespace {

CString WithName(const char* format, std::string_view name) {
    CString s;
    s.FormatDynamic(format, CString(name).GetString());
    return s;
}

// The slot that carries an input's samples: a jack its own, a DC input its jack's.
int SlotOf(AmpInputType input) {
    return CAmpHardwareInfo::GetAmpChannelIndex(input);
}

bool IsBlockLine(const Line& line) {
    return line.Keyword(kTrace) || line.Keyword(kDcTrace) || line.Keyword(kAvgRef) ||
           line.Keyword(kStoredInputs) || line.Keyword(kOldStoredInputs);
}

}  // namespace

AmpInputType CLogFile::ConvertTextToInput(std::string_view text,
                                          const CDomainEnum<AmpInputType>& table) const {
    return DosInputNames::ConvertTextToInput(text, table);
}

// -- stored inputs

void CLogFile::SetStoredInputs(const AmpInputType* inputs, int count) {
    CAmpInputDomain domain(inputs, count);
    const CAmpInputDomain& old = m_AmpInfo.GetInputDomain();
    domain.SetNameTable(old.HasNameTable(), old.GetNameWidth());
    if (m_bDcInputsSeen)
        domain = domain.GetDomainWithDc(m_AmpInfo.GetDcDomain());
    m_AmpInfo.SetInputDomain(domain);
    m_nStoredChannels = count;
    m_nChannelValid.fill(0);
    for (int i = 0; i < domain.GetSize(); ++i) {
        const int slot = SlotOf(domain.GetAt(i));
        if (slot >= 0)
            m_nChannelValid[static_cast<size_t>(slot)] = 1;
    }
    m_bStoredInputsSeen = true;
}

void CLogFile::DecodeInputList(const Line& line, uint32_t at) {
    if (m_bStoredInputsSeen)
        return;
    Scanner s(line.From(kValueColumn));
    int count = 0;
    s.Int(count);
    AmpInputType inputs[AmpInput::kJackCount];
    int converted = 0;
    std::string_view name;
    for (int i = 0; i < AmpInput::kJackCount && i < count && s.Word(name); ++i) {
        const AmpInputType input = ConvertTextToInput(name, DosInputNames::ActiveInputs());
        if (input == AmpInput::NoInput)
            AddErrorComment(at, WithName("ERROR: could not convert %s to input jack", name));
        else
            inputs[converted++] = input;
    }
    if (converted > 0)
        SetStoredInputs(inputs, converted);
}

void CLogFile::DecodeOldInputList(const Line& line, uint32_t at) {
    if (m_bStoredInputsSeen)
        return;
    Scanner s(line.From(kValueColumn));
    int count = 0;
    s.Int(count);
    bool valid[AmpInput::kJackCount] = {};
    int channel = 0;
    for (int i = 0; i < count && s.Int(channel); ++i) {
        if (channel >= 0 && channel < AmpInput::kJackCount)
            valid[channel] = true;
    }
    AmpInputType inputs[AmpInput::kJackCount];
    int n = 0;
    for (int k = 0; k < AmpInput::kJackCount; ++k) {
        if (valid[k])
            inputs[n++] = static_cast<AmpInputType>(k);
    }
    // A list that names no channel would leave nothing stored; it is reported and
    // the channels stay as they were.
    if (count < 1 || n == 0)
        AddErrorComment(at, "ERROR: could not convert channel list");
    else
        SetStoredInputs(inputs, n);
}

void CLogFile::DecodeDCInputs(const Line& line, uint32_t at) {
    if (m_bDcInputsSeen)
        return;
    Scanner s(line.From(kValueColumn));
    int count = 0;
    s.Int(count);
    CDcInputDomain dc;
    std::string_view name;
    for (int i = 0; i < AmpInput::kDcCount && s.Word(name); ++i) {
        const AmpInputType jack = ConvertTextToInput(name, DosInputNames::ActiveInputs());
        if (AmpInput::IsPairJack(jack))
            dc.Add(AmpInput::JackToDc(jack));
        else
            AddErrorComment(at, WithName("ERROR: could not convert %s to DC input jack", name));
    }
    m_AmpInfo.SetDcDomain(dc);
    m_AmpInfo.SetInputDomain(m_AmpInfo.GetInputDomain().GetDomainWithDc(dc));
    m_bDcInputsSeen = true;
}

void CLogFile::DecodeInputGain(const Line& line, uint32_t at) {
    const std::string_view v = line.From(kInputGainColumn);
    const size_t blank = v.find(' ');
    const std::string_view name = v.substr(0, blank);
    const std::string_view gain =
        blank == std::string_view::npos ? std::string_view() : v.substr(blank + 1);
    const AmpInputType input = ConvertTextToInput(name, DosInputNames::ActiveInputs());
    if (input == AmpInput::NoInput)
        AddErrorComment(at, WithName("ERROR: could not convert %s to gain input jack", name));
    else if (gain == kInputGainText)
        m_AmpInfo.SetInputGain(input, kMarkedInputGain);
}

void CLogFile::DecodeNonRefInputs(const Line& line, uint32_t at) {
    if (m_bRefInputsSeen)
        return;
    // The line lists the inputs that may not serve as reference, as SetAmpInfo
    // writes it: the reference inputs are the amplifier's usual ones without them.
    // (Taking the listed inputs themselves as the reference inputs would turn every
    // log this library writes inside out.)
    CAmpInputDomain refs;
    const CAmpInputDomain& all = GetDefaultRecRefDomain();
    refs.SetNameTable(all.HasNameTable(), all.GetNameWidth());
    CAmpInputDomain listed;
    Scanner s(line.From(kKeywordColumn + static_cast<int>(kNonRefInputs.size())));
    std::string_view name;
    while (s.Word(name)) {
        const AmpInputType input = ConvertTextToInput(name, DosInputNames::ReferenceInputs());
        if (input == AmpInput::NoInput)
            AddErrorComment(at, WithName("ERROR: could not convert %s to ref input jack", name));
        else
            listed.Add(input);
    }
    for (int i = 0; i < all.GetSize(); ++i) {
        if (!listed.Contains(all.GetAt(i)))
            refs.Add(all.GetAt(i));
    }
    m_AmpInfo.SetRefInputDomain(refs);
    m_bRefInputsSeen = true;
}

// -- traces and montages

bool CLogFile::ReadTraceLine(const Line& line, int& index, CTraceInfo& trace,
                             CString& refText) const {
    const bool dc = line.Keyword(kDcTrace);
    Scanner s(line.From(kValueColumn));
    index = -1;
    std::string_view label, act, ref, link, colour1, colour2, unused;
    int sensitivity = kDefaultSensitivity, high = kDefaultHighCut, lowX100 = kDefaultLowCutX100;
    if (dc) {
        // index, label, active input, reference, colour word
        (void)(s.Int(index) && s.Word(label) && s.Word(act) && s.Word(ref) && s.Word(colour2));
        colour1 = colour2;
    } else {
        (void)(s.Int(index) && s.Word(label) && s.Word(act) && s.Word(ref) && s.Word(link) &&
               s.Int(sensitivity) && s.Int(high) && s.Int(lowX100) && s.Word(colour1) &&
               s.Word(colour2) && s.Word(unused));
    }
    if (index < 0 || index >= CEegMontage::kMaxTraces)
        return false;
    CString text(label);
    for (int i = 0; i < text.GetLength(); ++i) {
        if (text[i] == '_')
            text.SetAt(i, ' ');
    }
    trace = CTraceInfo();
    trace.SetLabel(text == " " ? "" : text.GetString());
    trace.SetActInput(ConvertTextToInput(act, DosInputNames::ActiveInputs()));
    trace.SetRefInput(ConvertTextToInput(ref, DosInputNames::ReferenceInputs()));
    refText = CString(ref);
    if (dc) {
        trace.SetLinkedFlag(0);
    } else {
        trace.SetSensitivity(sensitivity);
        trace.SetHighCut(high);
        trace.SetLowCut(lowX100 / 100.0);
        trace.SetLinkedFlag(link == "LINKED" ? 1 : 0);
    }
    if (trace.GetAcFlag())
        trace.SetColor(colour1 == "COLOR2" ? 1 : (colour1 == "COLOR3" ? 2 : 0));
    else
        trace.SetColor(colour2 == "UNCOLOR2" ? 11 : 10);
    return true;
}

void CLogFile::BuildTraceInfoEvent(const Line& line, uint32_t at) {
    int index;
    CTraceInfo trace;
    CString refText;
    if (!ReadTraceLine(line, index, trace, refText)) {
        AddErrorComment(at, "ERROR: could not convert trace");
        return;
    }
    if (const CAverageReference* avg = m_Montage.GetAvgRef(); avg && refText == avg->GetName())
        trace.SetRefInput(AmpInput::AvgRef);
    AddParsedEvent(new CTraceInfoEvent(CEegTimeStamp(at), index, &trace));
}

void CLogFile::ReadAverageReference(const Line& line, uint32_t at, CEegMontage& montage) {
    Scanner s(line.From(kValueColumn));
    std::string_view name, member;
    s.Word(name);
    if (montage.GetAvgRef()) {
        AddErrorComment(at, WithName("Only one average reference allowed: %s not included", name));
        return;
    }
    AmpInputType members[CAverageReference::kMaxInputs];
    int n = 0;
    for (int i = 1; i < 33 && s.Word(member); ++i) {
        const AmpInputType input = ConvertTextToInput(member, DosInputNames::ReferenceInputs());
        if (input == AmpInput::NoInput)
            AddErrorComment(at, WithName("ERROR: could not convert %s to AvgRef jack", member));
        else
            members[n++] = input;
    }
    if (n == 0)
        AddErrorComment(at, "ERROR: could not convert avgRef");
    else
        montage.SetAvgRef(CAverageReference(members, n, CString(name)));
}

template <class Belongs, class Take>
CString CLogFile::ReadBlock(const Line& first, uint32_t at, Belongs belongs, Take take) {
    char buffer[kLineBuffer];
    Line line = first;
    const int64_t firstStart = m_nLineStart;
    take(line, true);
    for (;;) {
        if (!ReadNextLine(buffer)) {
            m_nLineStart = firstStart;
            return CString();  // the end of the log ends the block, with nothing pending
        }
        line = Line{buffer, static_cast<int>(std::strlen(buffer))};
        if (!IsLogEntry(line) || !belongs(line) ||
            SampleOffsetFromString(line.From(0), Rate()) != at) {
            // What the block finds at its end concerns its first line.
            m_nPendingStart = m_nLineStart;
            m_nLineStart = firstStart;
            return CString(line.text, line.length);
        }
        take(line, false);
    }
}

CString CLogFile::BuildMontageEvent(const Line& first, uint32_t at) {
    CEegMontage montage;
    CString refTexts[CEegMontage::kMaxTraces];
    bool anyTrace = false;
    // The block is the lines of its time; a line of another kind at the same time
    // (a comment the writer put after the montage, a second montage) ends it too,
    // so that it is read as what it is.
    const CString pending = ReadBlock(first, at, IsBlockLine, [&](const Line& line, bool isFirst) {
        if (isFirst) {
            Scanner s(line.From(kValueColumn));
            int count = -1;
            s.Int(count);
            montage.SetName(CString(s.Rest()));
        } else if (line.Keyword(kTrace) || line.Keyword(kDcTrace)) {
            int index;
            CTraceInfo trace;
            CString refText;
            if (ReadTraceLine(line, index, trace, refText)) {
                montage.SetTraceInfo(index, trace);
                refTexts[index] = refText;
                anyTrace = true;
            } else {
                AddErrorComment(at, "ERROR: could not convert trace");
            }
        } else if (line.Keyword(kAvgRef)) {
            ReadAverageReference(line, at, montage);
        } else if (line.Keyword(kStoredInputs)) {
            DecodeInputList(line, at);
        } else if (line.Keyword(kOldStoredInputs)) {
            DecodeOldInputList(line, at);
        }
    });
    if (!anyTrace) {
        AddErrorComment(at, "ERROR: could not convert montage");
        return pending;
    }
    if (const CAverageReference* avg = montage.GetAvgRef()) {
        for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
            CTraceInfo trace = montage.GetTraceInfo(i);
            if (trace.GetRefInput() == AmpInput::NoInput && refTexts[i] == avg->GetName()) {
                trace.SetRefInput(AmpInput::AvgRef);
                montage.SetTraceInfo(i, trace);
            }
        }
    }
    AddParsedEvent(new CMontageEvent(CEegTimeStamp(at), &montage));
    m_Montage = montage;
    return pending;
}

// -- impedances

CString CLogFile::BuildImpedanceEvent(const Line& first, uint32_t at) {
    double values[DosInputNames::kImpedancePositions];
    for (double& v : values)
        v = CImpedanceValues::kNotMeasured;
    int reference = DosInputNames::kImpedanceCRefPosition;
    const CString pending = ReadBlock(first, at, IsImpedanceLine, [&](const Line& line, bool) {
        std::string_view name = line.From(kImpedanceNameColumn).substr(0, 3);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        Scanner s(line.From(kImpedanceNameColumn));
        std::string_view word, value;
        s.Word(word);
        s.Word(value);
        const int position = DosInputNames::ConvertTextToInput(
            name == "CRe" ? std::string_view("CRef") : name, DosInputNames::ImpedanceInputs());
        if (position < 0)
            return;
        double kOhm = 0.0;
        if (value == "<2")
            kOhm = 1.9;
        else
            Scanner(value).Double(kOhm);
        values[position] = kOhm;
        const AmpInputType input = DosInputNames::ImpedancePositionToInput(position);
        if (line.At(kImpedanceMarkColumn) == '*' && m_AmpInfo.GetRefInputDomain().Contains(input))
            reference = position;
    });
    CImpedanceValues readings;
    CAmpInputDomain measured;
    measured.SetNameTable(TRUE, 0);
    for (int pos = 0; pos < DosInputNames::kImpedancePositions; ++pos) {
        if (values[pos] > 0.0) {
            const AmpInputType input = DosInputNames::ImpedancePositionToInput(pos);
            readings.SetImpedance(input, values[pos]);
            measured.Add(input);
        }
    }
    if (measured.GetSize() == 0) {
        AddErrorComment(at, "ERROR: could not convert impedance");
        return pending;
    }
    const AmpInputType ref = DosInputNames::ImpedancePositionToInput(reference);
    AddParsedEvent(new CRecordingRefEvent(CEegTimeStamp(at), ref));
    AddParsedEvent(new CImpedanceEvent(CEegTimeStamp(at), &readings, &measured, ref));
    return pending;
}

// -- the writer's texts

CString CLogFile::GetStringFromDomain(const CAmpInputDomain& domain) const {
    // DC inputs are named by the jacks they replace, as the reader expects them.
    const CAmpInputDomain jacks = domain.GetReplacedDomain();
    CString s;
    s.Format("%d", jacks.GetSize());
    for (int i = 0; i < jacks.GetSize(); ++i)
        s += " " + DosInputNames::InputToText(jacks.GetAt(i), DosInputNames::ActiveInputs());
    return s;
}

CString CLogFile::GetStoredInputText(const CEegTimeStamp& stamp) const {
    const CAmpInputDomain jacks = m_AmpInfo.GetInputDomain().GetReplacedDomain();
    CString s = StringFromSampleOffset(stamp.GetSampleOffset(), Rate()) + " CHANLCT ";
    CString count;
    count.Format("%d", jacks.GetSize());
    s += count;
    for (int i = 0; i < jacks.GetSize(); ++i)
        s += " " + DosInputNames::InputToText(jacks.GetAt(i), DosInputNames::StoredInputOutput());
    return s;
}

namespace {

const char* ColourWord(int colour) {
    return colour == 1 ? "COLOR2" : (colour == 2 ? "COLOR3" : "COLOR1");
}
const char* UncolourWord(int colour) {
    return colour == 11 ? "UNCOLOR2" : "UNCOLOR1";
}

}  // namespace

CString CLogFile::TraceLineText(const CEegTimeStamp& stamp, int index,
                                const CTraceInfo& trace) const {
    CString label = OneLine(trace.GetLabel());
    for (int i = 0; i < label.GetLength(); ++i) {
        if (label[i] == ' ')
            label.SetAt(i, '_');
    }
    if (label.IsEmpty())
        label = "_";
    const CString act =
        DosInputNames::InputToText(trace.GetActInput(), DosInputNames::ActiveInputs());
    const CString ref =
        DosInputNames::InputToText(trace.GetRefInput(), DosInputNames::ReferenceInputs());
    CString body;
    if (AmpInput::IsDcInput(trace.GetActInput())) {
        body.Format("MONDCIN %d %s %s %s %s", index, label.GetString(), act.GetString(),
                    ref.GetString(), UncolourWord(trace.GetColor()));
    } else {
        body.Format("MONTRCE %d %s %s %s %s %d %d %d %s %s", index, label.GetString(),
                    act.GetString(), ref.GetString(), trace.GetLinkedFlag() ? "LINKED" : "UNLINKED",
                    Truncated(trace.GetSensitivity()), Truncated(trace.GetHighCut()),
                    Truncated(trace.GetLowCut() * 100), ColourWord(trace.GetColor()),
                    UncolourWord(trace.GetColor()));
    }
    return FitLine(StringFromSampleOffset(stamp.GetSampleOffset(), Rate()) + " " + body);
}

CString CLogFile::MontageText(const CEegTimeStamp& stamp, const CEegMontage& montage) const {
    const CString time = StringFromSampleOffset(stamp.GetSampleOffset(), Rate());
    const CString name =
        montage.GetName().IsEmpty() ? CString("Default") : OneLine(montage.GetName());
    CString head;
    head.Format(" MONTAGE %d %s", montage.GetChannelCount(), name.GetString());
    CString text = FitLine(time + head) + kLineEnd;
    text += GetStoredInputText(stamp) + kLineEnd;
    if (const CAverageReference* avg = montage.GetAvgRef()) {
        CString line = time + " MONTREF AvgRef";
        for (int i = 0; i < avg->GetInputCount(); ++i)
            line += " " +
                    DosInputNames::InputToText(avg->GetInput(i), DosInputNames::ReferenceInputs());
        text += FitLine(line) + kLineEnd;
    }
    for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
        if (montage.GetTraceInfo(i).HasActInput())
            text += TraceLineText(stamp, i, montage.GetTraceInfo(i)) + kLineEnd;
    }
    return text;
}

CString CLogFile::ImpedanceText(const CEegTimeStamp& stamp, const CImpedanceEvent& event) const {
    const CString time = StringFromSampleOffset(stamp.GetSampleOffset(), Rate());
    const CImpedanceValues& values = event.GetImpedanceData();
    CString text;
    int number = 0;
    // The jacks, then 1R-8R: the positions 0-39.
    for (int pos = 0; pos < DosInputNames::kImpedanceCRefPosition; ++pos) {
        const AmpInputType input = DosInputNames::ImpedancePositionToInput(pos);
        const double v = values.GetImpedance(input);
        if (!(v > 0.0))
            continue;
        const char* mark = input == event.GetRecordingRef() ? "***" : "--";
        const char* label = DosInputNames::ImpedanceInputs().GetLabel(pos);
        CString line;
        if (v < 2.0)
            line.Format(" COMMENT %02d %3.3s%s <2", number++, label, mark);
        else
            line.Format(" COMMENT %02d %3.3s%s %2d", number++, label, mark, Truncated(v));
        text += time + line + kLineEnd;
    }
    return text;
}
