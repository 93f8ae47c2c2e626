#include "EegFile/dos/DosInputNames.h"

namespace DosInputNames {

using namespace AmpInput;

namespace {

std::string_view Trimmed(std::string_view s) {
    const char* blanks = " \r\n";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

Table Jacks() {
    Table t;
    for (int code = Fp1; code <= In8A; ++code)
        t.Add(static_cast<AmpInputType>(code), GetName(code));
    return t;
}

}  // namespace

const Table& ActiveInputs() {
    static const Table t = [] {
        Table x = Jacks();
        for (int code = DC1; code <= DC8; ++code)
            x.Add(static_cast<AmpInputType>(code), GetName(code));
        return x;
    }();
    return t;
}

const Table& ReferenceInputs() {
    static const Table t = [] {
        Table x = Jacks();
        x.Add(Ref, "Ref");
        x.Add(AvgRef, "AvgRef");
        return x;
    }();
    return t;
}

const Table& StoredInputOutput() {
    static const Table t = [] {
        Table x = Jacks();
        for (int code = DC1; code <= DC7; ++code)
            x.Add(static_cast<AmpInputType>(code), GetName(code));
        x.Add(DC8, "DC8Ref");
        x.Add(AvgRef, "AvgRef");
        x.Add(NoInput, "");
        return x;
    }();
    return t;
}

const CDomainEnum<int>& ImpedanceInputs() {
    static const CDomainEnum<int> t = [] {
        CDomainEnum<int> x;
        for (int pos = 0; pos < kImpedancePositions; ++pos)
            x.Add(pos, GetName(ImpedancePositionToInput(pos)));
        return x;
    }();
    return t;
}

template <class T>
T ConvertTextToInput(std::string_view text, const CDomainEnum<T>& table) {
    // The tables' labels hold no blanks, so only the text needs trimming; a label
    // is compared by its length first, which rejects most of them at once.
    const std::string_view wanted = Trimmed(text);
    const auto label = [&table](int i) {
        const CString& l = table.GetLabel(i);
        return std::string_view(l.GetString(), static_cast<size_t>(l.GetLength()));
    };
    for (int i = 0; i < table.GetSize(); ++i) {
        if (EqualNoCase(label(i), wanted)) {
            const T code = table.GetValue(i);
            return EqualNoCase(label(table.FindValue(code)), wanted) ? code : static_cast<T>(-1);
        }
    }
    return static_cast<T>(-1);
}
template AmpInputType ConvertTextToInput(std::string_view, const Table&);
template int ConvertTextToInput(std::string_view, const CDomainEnum<int>&);

CString InputToText(int code, const Table& table) {
    if (const char* label = table.GetLabelOf(static_cast<AmpInputType>(code)))
        return label;
    CString s;
    s.Format("%d", code);
    return s;
}

AmpInputType ImpedancePositionToInput(int position) {
    if (position >= 0 && position <= In8A)
        return static_cast<AmpInputType>(position);
    if (position >= 32 && position < 40)
        return static_cast<AmpInputType>(In1R + (position - 32));
    if (position == kImpedanceCRefPosition)
        return CRef;
    if (position == 41)
        return Gnd;
    return NoInput;
}

int InputToImpedancePosition(AmpInputType input) {
    for (int pos = 0; pos < kImpedancePositions; ++pos) {
        if (ImpedancePositionToInput(pos) == input)
            return pos;
    }
    return -1;
}

}  // namespace DosInputNames
