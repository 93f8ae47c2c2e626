// CAmpHardwareInfo: the description of the amplifier a recording was made with:
// its type, the gain of each channel slot, the filter limits of its hardware,
// which inputs it stores, which it allows as reference, its DC inputs, and
// whether the pair inputs 1A-8A may be recorded against the common reference.
//
// Channel slots: jack 0-31 is recorded in slot 0-31; DC input k (42+k) in the slot
// of the jack it replaces (24+k). Gains are kept per slot.
#pragma once

#include "EegBase/AmpInputDomain.h"
#include "Platform/Object.h"

class CAmpHardwareInfo : public CObject {
public:
    static constexpr int kSlotCount = AmpInput::kJackCount;
    static constexpr double kDefaultGain = 0.1418;  // uV per bit
    static constexpr double kDefaultMaxHighCut = 70.0;
    static constexpr double kDefaultMinLowCut = 0.16;

    // Type 0; every slot at the default gain; high cut 70 Hz, low cut 0.16 Hz; all 32
    // jacks stored; the default recording-reference inputs as reference inputs; no DC
    // inputs; pair inputs may use the common reference.
    CAmpHardwareInfo();

    int GetAmplifierType() const { return m_nAmplifierType; }
    void SetAmplifierType(int type) { m_nAmplifierType = type; }

    // The gain of the input's slot; 0.0 for an input without a slot.
    double GetInputGain(AmpInput::AmpInputType input) const;
    // FALSE (nothing set) for an input without a slot.
    BOOL SetInputGain(AmpInput::AmpInputType input, double gain);

    double GetMaxHighCut() const { return m_dMaxHighCut; }
    void SetMaxHighCut(double hz) { m_dMaxHighCut = hz; }
    double GetMinLowCut() const { return m_dMinLowCut; }
    void SetMinLowCut(double hz) { m_dMinLowCut = hz; }

    BOOL GetActRefCanUseCommon() const { return m_bActRefCanUseCommon; }
    void SetActRefCanUseCommon(BOOL canUse) { m_bActRefCanUseCommon = canUse != FALSE; }

    // The inputs the amplifier stores, in storing order.
    const CAmpInputDomain& GetInputDomain() const { return m_inputDomain; }
    void SetInputDomain(const CAmpInputDomain& domain) { m_inputDomain = domain; }
    // The inputs that can serve as reference.
    const CAmpInputDomain& GetRefInputDomain() const { return m_refInputDomain; }
    void SetRefInputDomain(const CAmpInputDomain& domain) { m_refInputDomain = domain; }
    const CDcInputDomain& GetDcDomain() const { return m_dcDomain; }
    void SetDcDomain(const CDcInputDomain& domain) { m_dcDomain = domain; }

    // The channel slot of an input: a jack 0-31 its own, DC input 42+k the slot of
    // jack 24+k, any other value -1.
    static int GetAmpChannelIndex(AmpInput::AmpInputType input);

    void Serialize(CArchive& ar) override;

    bool operator==(const CAmpHardwareInfo& other) const;
    bool operator!=(const CAmpHardwareInfo& other) const { return !(*this == other); }

private:
    int m_nAmplifierType = 0;
    double m_gains[kSlotCount];
    double m_dMaxHighCut = kDefaultMaxHighCut;
    double m_dMinLowCut = kDefaultMinLowCut;
    bool m_bActRefCanUseCommon = true;
    CAmpInputDomain m_inputDomain;
    CAmpInputDomain m_refInputDomain;
    CDcInputDomain m_dcDomain;
};
