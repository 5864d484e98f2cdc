// The click-selection state machine. One call runs the machine from sWaitForPeak (or sReset)
// through the handlers of the chain until a handler chooses sWaitForPeak again. Every byte
// field is computed in int and stays inside 0..255 by construction; the asserts state why.
#include "detector/click_detector.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>

#include "base/host.h"
#include "output/side_files.h"
#include "output/tk1_writer.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"

namespace wtk {

namespace {

inline uint8_t ToByte(int v) {
    assert(v >= 0 && v <= 255);
    return static_cast<uint8_t>(v);
}

}  // namespace

using enum NextStateKind;

class ClickDetector::Machine : public ClickMachineState {
public:
    explicit Machine(ClickDetector& det)
        : ClickMachineState(det), s_(det.s_), sens_(det.sens_), det_(det) {}
    // The state back into the detector.
    void Save() { static_cast<ClickMachineState&>(det_) = *this; }

    // The machine for the peak in NewTrueIPI_, NewAmp_ and TimeTrue2Mhz_; with Export each
    // peak is written to the IPI export file.
    template <bool Export>
    void RunPeak();
    // One handler per state; each sets NextState.
    void Reset();
    void WaitForPeak();
    template <bool Export>
    void NewPk0();
    void NewPk1();
    void StartNewClick();
    void TestDiff();
    void SetStrongLimit();
    void TestBandwidth();
    void WriteClick();
    void UpdateCycs();
    void MoveMaxPosn();
    void UpdatePeaks();
    void TestStrongLimit();
    void TestSonarFilter();
    void InitialiseClick();
    void SetNewFilterAmp();

    // The peak of the current step.
    uint8_t NewTrueIPI_ = 0;
    uint8_t NewAmp_ = 0;
    int32_t TimeTrue2Mhz_ = 0;  // 500 ns units since the minute began

private:
    const DetectorSettings& s_;
    const Sensitivity& sens_;
    ClickDetector& det_;
};

ClickDetector::ClickDetector(const DetectorSettings& settings, const Sensitivity& sens,
                             TK1Writer& writer, Host& host)
    : s_(settings), sens_(sens), writer_(writer), host_(host) {}

void ClickDetector::FollowCycLimitSettings() {
    const std::array<uint8_t, 5> key{s_.FixedCycLimit, s_.WorkingStrongLimit1,
                                     s_.WorkingStrongLimit2, s_.WorkingStrongLimit3,
                                     s_.WorkingStrongLimit4};
    if (cycLimitsMade_ && key == cycLimitKey_) return;
    for (int pmax = 0; pmax < 256; ++pmax) {
        int limit = s_.FixedCycLimit;
        if (pmax > s_.WorkingStrongLimit4) {
            limit -= 4;
        } else if (pmax > s_.WorkingStrongLimit3) {
            limit -= 3;
        } else if (pmax > s_.WorkingStrongLimit2) {
            limit -= 2;
        } else if (pmax > s_.WorkingStrongLimit1) {
            limit -= 1;
        }
        // A FixedCycLimit below 4 gives 0, never negative.
        cycLimitByPmax_[static_cast<size_t>(pmax)] = ToByte(std::max(limit, 0));
    }
    cycLimitKey_ = key;
    cycLimitsMade_ = true;
}

template <bool Export>
[[gnu::always_inline]] inline void ClickDetector::Machine::RunPeak() {
    // The handlers run in the order their NextState choices give, written out as the paths
    // through the machine (flattened into the callers), so that no table dispatch stands
    // between two handlers. Every path ends in sWaitForPeak.
    WaitForPeak();
    NewPk0<Export>();
    if (NextState == sWaitForPeak) return;
    NewPk1();
    switch (NextState) {
        case sTestDiff:
            TestDiff();
            if (NextState == sUpdateCycs) {
                UpdateCycs();
                if (NextState == sMoveMaxPosn) {
                    MoveMaxPosn();
                } else if (NextState == sUpdatePeaks) {
                    UpdatePeaks();
                }
                return;
            }
            if (NextState == sWriteClick) {
                WriteClick();  // a click complete at 255 cycles
                break;
            }
            [[fallthrough]];  // the click ends: judged
        case sSetStrongLimit:
            SetStrongLimit();
            if (NextState != sTestStrongLimit) break;
            TestStrongLimit();
            if (NextState != sTestBandwidth) break;
            TestBandwidth();
            if (NextState != sTestSonarFilter) break;
            TestSonarFilter();
            if (NextState == sWriteClick) WriteClick();
            break;
        case sStartNewClick:
            break;
        default:
            return;  // sWaitForPeak
    }
    // Every judged or written click, and a first peak with a start interval, pass here.
    assert(NextState == sStartNewClick);
    StartNewClick();
    if (NextState == sInitialiseClick) InitialiseClick();
    assert(NextState == sWaitForPeak);
}

[[gnu::flatten]] void ClickDetector::ClickSelSM(uint8_t NewTrueIPI, uint8_t NewAmp,
                                                int32_t TimeTrue2Mhz, bool InitialiseMinute) {
    FollowCycLimitSettings();
    Machine m(*this);
    m.NewTrueIPI_ = NewTrueIPI;
    m.NewAmp_ = NewAmp;
    m.TimeTrue2Mhz_ = TimeTrue2Mhz;
    if (InitialiseMinute) {
        m.Reset();
    } else if (ipiExport_ != nullptr) {
        m.RunPeak<true>();
    } else {
        m.RunPeak<false>();
    }
    m.Save();
}

namespace {

template <bool Export, class M>
[[gnu::always_inline]] inline void RunPeaks(M& m, const DetectorPeak* peaks, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        m.NewTrueIPI_ = peaks[k].NewTrueIPI;
        m.NewAmp_ = peaks[k].NewAmp;
        m.TimeTrue2Mhz_ = peaks[k].TimeTrue2Mhz;
        m.template RunPeak<Export>();
    }
}

}  // namespace

[[gnu::flatten]] void ClickDetector::ClickSelSMPeaks(const DetectorPeak* peaks, int32_t count) {
    FollowCycLimitSettings();
    Machine m(*this);
    if (ipiExport_ != nullptr) {
        RunPeaks<true>(m, peaks, count);
    } else {
        RunPeaks<false>(m, peaks, count);
    }
    m.Save();
}

void ClickDetector::ResetAfterBreak() {
    ClickSelSM(255, 0, 0, true);
    ReverbFilterAmp = 0;
    LastAmpSeqFilterTime = 0;
    // The minute that was open ends here without a minute end of its own: its clicks are not
    // counted into the next one, whose sensitivity decision they would sway.
    ClicksThisMin = 0;
}

// Minute end: an open click is dropped unjudged; peak history and echo filter carry on.
void ClickDetector::Machine::Reset() {
    Ncyc = 0;
    SonarMinIPI = 255;
    SonarMaxIPI = 0;
    Snr2MinIPI = 255;
    Snr2MaxIPI = 0;
    NextState = sWaitForPeak;
}

void ClickDetector::Machine::WaitForPeak() {
    NextState = sNewPk0;
}

// Take the peak into the history and export it.
template <bool Export>
void ClickDetector::Machine::NewPk0() {
    PreLastIPI = LastIPI;
    LastIPI = IPI;
    IPI = NewTrueIPI_;
    PreLastAmp = SMLastAmp;
    SMLastAmp = Amp;
    Amp = NewAmp_;
    IPIokAsStart = IPI >= s_.MinAnyIPI && IPI < s_.MaxStartIPI;
    if constexpr (Export) det_.ipiExport_->WritePeak(IPI, Amp, TimeTrue2Mhz_);
    // An overlong interval neither starts nor ends a click.
    NextState = IPI < 255 ? sNewPk1 : sWaitForPeak;
}

void ClickDetector::Machine::NewPk1() {
    IPIdiff = ToByte(std::abs(int{IPI} - int{LastIPI}));
    if (Ncyc == 0 && IPIokAsStart) {
        NextState = sStartNewClick;
    } else if (Ncyc > 0 && IPI >= s_.MinAnyIPI) {
        NextState = sTestDiff;
    } else if (Ncyc > 0) {
        NextState = sSetStrongLimit;  // an interval too short for any click ends this one
    } else {
        NextState = sWaitForPeak;
    }
}

void ClickDetector::Machine::StartNewClick() {
    if (IPIokAsStart) {
        NextState = sInitialiseClick;
    } else {
        Ncyc = 0;
        NextState = sWaitForPeak;
    }
}

// The current peak opens a click; a louder previous peak counts as its maximum.
void ClickDetector::Machine::InitialiseClick() {
    MaxPeakTime = TimeTrue2Mhz_;
    Ncyc = 1;
    Durationto16Cyc = 0;
    ClkMinIPI = 255;
    ClkMaxIPI = 0;
    IPIPost1 = 0;
    IPIPost2 = 0;
    IPIbefore = PreLastIPI;
    if (IPI < 255 && SMLastAmp > Amp) {
        Pmax = SMLastAmp;
        PkMinus1 = PreLastAmp;
        PkPlus1 = Amp;
        AmpRising = false;
        AmpReversalCount = 1;
    } else {
        Pmax = Amp;
        PkMinus1 = SMLastAmp;
        PkPlus1 = 0;
        AmpRising = true;
        AmpReversalCount = 0;
    }
    PkAtPosn = 0;
    PksSinceMax = 0;
    IPIPostMax = IPI;
    IPIpreMax = IPI;
    NextState = sWaitForPeak;
}

// Does the current peak continue the click? A period jump or an amplitude drop ends it.
void ClickDetector::Machine::TestDiff() {
    const int diff = IPIdiff;
    const int lastIPI = LastIPI;
    bool ends = diff > lastIPI / 2;
    if (!ends && Amp < s_.WorkingStrongLimit3) ends = diff > lastIPI / 4;
    if (!ends && int{Pmax} < int{s_.MaxSPLforAmpDropTest} + int{sens_.DeadBandPlusUplift}) {
        // A quarter or a half of the last amplitude (a byte, so a shift divides it).
        ends = int{Amp} < (int{SMLastAmp} >> (s_.UsingToughAmpDrop ? 2 : 1));
    }
    if (ends) {
        NextState = sSetStrongLimit;
    } else if (Ncyc == 255) {
        // Complete at 255 cycles: stored without the judging tests, but with its own time.
        ClkTime5MuSecs = MaxPeakTime / 10;
        NextState = sWriteClick;
    } else {
        NextState = sUpdateCycs;
    }
}

// The current peak joins the click.
void ClickDetector::Machine::UpdateCycs() {
    assert(Ncyc < 255);  // TestDiff completes the click at 255
    Ncyc = ToByte(Ncyc + 1);
    if (Ncyc < 18) Durationto16Cyc += IPI;
    if (Ncyc < 29 && Amp < SMLastAmp && AmpRising) {
        // A turn needs a rise since the last turn, so cycles 2..28 add at most 14.
        AmpReversalCount = ToByte(AmpReversalCount + 1);
        assert(AmpReversalCount <= 15);
    }
    if (Ncyc > 1) {
        ClkMinIPI = std::min(ClkMinIPI, LastIPI);
        ClkMaxIPI = std::max(ClkMaxIPI, LastIPI);
    }
    AmpRising = Amp >= SMLastAmp;
    if (Amp > Pmax && Ncyc < 16) {
        NextState = sMoveMaxPosn;
    } else if (PksSinceMax < 4) {
        NextState = sUpdatePeaks;
    } else {
        NextState = sWaitForPeak;
    }
}

// A new maximum; its time is followed only during the first five cycles.
void ClickDetector::Machine::MoveMaxPosn() {
    if (Ncyc < 6) MaxPeakTime = TimeTrue2Mhz_;
    IPIpreMax = IPI;
    PkMinus1 = SMLastAmp;
    Pmax = Amp;
    assert(Ncyc < 16);
    PkAtPosn = Ncyc;  // 0..15, fits the high nibble of byte4
    PksSinceMax = 0;
    IPIPostMax = 0;
    PkPlus1 = 0;
    IPIPost1 = 0;
    IPIPost2 = 0;
    NextState = sWaitForPeak;
}

// The three intervals after the maximum; PksSinceMax runs 0, 1, 2, 4.
void ClickDetector::Machine::UpdatePeaks() {
    if (PksSinceMax == 0) {
        PkPlus1 = Amp;
        IPIPostMax = IPI;
        PksSinceMax = 1;
    } else if (PksSinceMax == 1) {
        IPIPost1 = IPI;
        PksSinceMax = 2;
    } else {
        IPIPost2 = IPI;
        PksSinceMax = 4;
    }
    NextState = sWaitForPeak;
}

// Judging starts: louder clicks may be shorter; too many amplitude turns drop the click.
void ClickDetector::Machine::SetStrongLimit() {
    CycLimit = det_.cycLimitByPmax_[Pmax];

    const int turns = AmpReversalCount;
    bool tooManyTurns = false;
    if (Ncyc <= 8) {
        // Turns allowed by cycle count; up to 4 cycles any number (there are at most 15).
        static constexpr uint8_t kMostTurns[9] = {255, 255, 255, 255, 255, 1, 2, 2, 3};
        tooManyTurns = turns > kMostTurns[Ncyc];
    } else {
        tooManyTurns = turns > Ncyc / 4 + 2 &&
                       int{Pmax} < int{s_.MaxSPLforReversalTest} + int{sens_.DeadBandPlusUplift};
    }
    if (tooManyTurns) {
        NextState = sStartNewClick;
        return;
    }
    ClkTime5MuSecs = MaxPeakTime / 10;
    NextState = sTestStrongLimit;
}

// Too short, or still rising at its last peak: dropped.
void ClickDetector::Machine::TestStrongLimit() {
    if (Ncyc < CycLimit || (PkAtPosn == Ncyc && Ncyc > 1)) {
        NextState = sStartNewClick;
    } else {
        NextState = sTestBandwidth;
    }
}

// Excluded IPI band, then the echo filter: a click soon after a loud one must be loud itself.
void ClickDetector::Machine::TestBandwidth() {
    if (s_.ExcludedMinIPI < IPIpreMax && IPIpreMax < s_.ExcludedMaxIPI) {
        NextState = sStartNewClick;
        return;
    }
    // Gap in 5 us units; minute-relative times, so it is negative after a minute end.
    const int64_t TimeSinceLast5musec = int64_t{ClkTime5MuSecs} - LastAmpSeqFilterTime;
    if (TimeSinceLast5musec <= 160) {
        int32_t TimeAdjustedThreshold = ReverbFilterAmp;
        if (TimeSinceLast5musec > 120) {
            TimeAdjustedThreshold = ReverbFilterAmp / 4;
        } else if (TimeSinceLast5musec > 80) {
            TimeAdjustedThreshold = ReverbFilterAmp / 2;
        }
        if (Pmax < TimeAdjustedThreshold) {
            NextState = sStartNewClick;
            return;
        }
    }
    SetNewFilterAmp();
    NextState = sTestSonarFilter;
}

void ClickDetector::Machine::SetNewFilterAmp() {
    ReverbFilterAmp = Pmax;
    LastAmpSeqFilterTime = ClkTime5MuSecs;
}

// Sonar bands stay empty in this system, so nothing is rejected here unless they are set.
void ClickDetector::Machine::TestSonarFilter() {
    if ((SonarMinIPI < IPIpreMax && IPIpreMax < SonarMaxIPI) ||
        (Snr2MinIPI < IPIpreMax && IPIpreMax < Snr2MaxIPI)) {
        NextState = sStartNewClick;
    } else {
        NextState = sWriteClick;
    }
}

// The click is accepted: store its record.
void ClickDetector::Machine::WriteClick() {
    ++det_.ClicksThisMin;
    Durationto16Cyc -= PreLastIPI;
    ClkIPIrange = ToByte(std::abs(int{ClkMaxIPI} - int{ClkMinIPI}));
    Save();
    det_.StoreClick();
    NextState = sStartNewClick;
}

// Kept out of line: the machine runs once per peak, this once per click.
[[gnu::noinline]] void ClickDetector::StoreClick() {
    if (Pmax == 0 && IPIPostMax == 0 && Ncyc == 0) {
        host_.ShowMessage("(Pmax or IPIpostMax or Ncyc) = 0 ");
    }
    // The slot first: nothing then has to be kept across the write of a full buffer.
    uint8_t* const slot = writer_.AppendRecord();  // writes the buffer out first when it is full
    tk1::Click c;
    c.ClkTime5MuSecs = ClkTime5MuSecs;
    c.Ncyc = Ncyc;
    c.PkAtPosn = PkAtPosn;
    c.IPIrangeCode = tk1::IPIrangeCode(ClkIPIrange);
    c.IPIpreMax = IPIpreMax;
    c.IPIPostMax = IPIPostMax;
    c.IPIPost1 = IPIPost1;
    c.IPIPost2 = IPIPost2;
    c.PkMinus1 = PkMinus1;
    c.Pmax = Pmax;
    c.PkPlus1 = PkPlus1;
    c.IPIbefore = IPIbefore;
    c.DurationHigh = tk1::DurationHigh(Durationto16Cyc);
    c.AmpReversalCount = AmpReversalCount;
    c.DurationLow = static_cast<uint8_t>(Durationto16Cyc);
    c.PreLastIPI = PreLastIPI;
    tk1::PutClick(slot, c);
}

}  // namespace wtk
