// The click detector: a state machine fed peak by peak (interval since the previous peak in
// 250 ns units, compressed amplitude, time in 500 ns units since the minute began). It
// assembles runs of peaks with a steady period into clicks, measures and tests them, and stores
// each accepted click as a 16-byte record through the TK1 writer.
#pragma once

#include <array>
#include <cstdint>

namespace wtk {

class Host;
class TK1Writer;
class IpiExportFile;
struct DetectorSettings;
struct Sensitivity;

// A peak as the click detector takes it (see ClickDetector::ClickSelSM).
struct DetectorPeak {
    uint8_t NewTrueIPI;
    uint8_t NewAmp;
    int32_t TimeTrue2Mhz;
};

enum class NextStateKind : uint8_t {
    sReset,
    sWaitForPeak,
    sNewPk0,
    sNewPk1,
    sStartNewClick,
    sTestDiff,
    sSetStrongLimit,
    sTestBandwidth,
    sWriteClick,
    sUpdateCycs,
    sMoveMaxPosn,
    sUpdatePeaks,
    sTestStrongLimit,
    sTestSonarFilter,
    sInitialiseClick,
};

// The machine's state between peaks.
struct ClickMachineState {
    NextStateKind NextState = NextStateKind::sReset;
    // peak history
    uint8_t IPI = 0, LastIPI = 0, PreLastIPI = 0;
    uint8_t Amp = 0, SMLastAmp = 0, PreLastAmp = 0;
    uint8_t IPIdiff = 0;
    bool IPIokAsStart = false;
    // the click in progress
    uint8_t Ncyc = 0, Pmax = 0, PkAtPosn = 0, PkMinus1 = 0, PkPlus1 = 0;
    uint8_t IPIpreMax = 0, IPIPostMax = 0, IPIPost1 = 0, IPIPost2 = 0;
    uint8_t PksSinceMax = 0, IPIbefore = 0;
    int32_t MaxPeakTime = 0;
    uint8_t ClkMinIPI = 0, ClkMaxIPI = 0;
    int32_t Durationto16Cyc = 0;
    bool AmpRising = false;
    uint8_t AmpReversalCount = 0;
    uint8_t CycLimit = 0;
    int32_t ClkTime5MuSecs = 0;
    uint8_t ClkIPIrange = 0;
    // echo filter (survives clicks and minutes)
    int32_t ReverbFilterAmp = 0;
    int32_t LastAmpSeqFilterTime = 0;
    // sonar bands (nothing fills them in this system)
    uint8_t SonarMinIPI = 0, SonarMaxIPI = 0, Snr2MinIPI = 0, Snr2MaxIPI = 0;

    bool operator==(const ClickMachineState&) const = default;
};

// The machine state is public so that tests can inspect it.
class ClickDetector : public ClickMachineState {
public:
    // settings: the applied setting variables; sens: read for DeadBandPlusUplift.
    ClickDetector(const DetectorSettings& settings, const Sensitivity& sens, TK1Writer& writer,
                  Host& host);

    // Peak export: non-null while IPI export is requested for the batch.
    void SetIpiExport(IpiExportFile* exportFile) { ipiExport_ = exportFile; }

    // One peak, or with InitialiseMinute the minute-end reset (the other values ignored).
    void ClickSelSM(uint8_t NewTrueIPI, uint8_t NewAmp, int32_t TimeTrue2Mhz,
                    bool InitialiseMinute);
    // count peaks in order: the same as one ClickSelSM call for each, without a call per
    // peak.
    void ClickSelSMPeaks(const DetectorPeak* peaks, int32_t count);

    // Before samples that do not follow on from the last ones (a new TK1 file, or a recording
    // after minutes in which nothing was recorded): the minute-end reset, which drops a click
    // in progress, and the echo filter back to its start-up values, so that it passes every
    // click until one has set it. Its times count from the start of a minute, so a click from
    // before the break would make the first clicks after it look like its echoes. The click
    // count of the minute starts again from 0.
    void ResetAfterBreak();

    int32_t ClicksThisMin = 0;  // accepted clicks of the current minute

private:
    // The handlers. They run on a copy of the state, local to one call, which the compiler
    // may keep in registers across the peaks of the call (members would be loaded and stored
    // at every peak); the copy is stored back before each record is written and at the end.
    class Machine;

    // Store the accepted click whose values the state holds.
    void StoreClick();

    // The minimum cycles of a click by its maximum amplitude (louder clicks may be shorter),
    // made again at the start of a call when the settings it comes from have changed.
    void FollowCycLimitSettings();
    std::array<uint8_t, 256> cycLimitByPmax_{};
    std::array<uint8_t, 5> cycLimitKey_{};  // FixedCycLimit, WorkingStrongLimit1..4
    bool cycLimitsMade_ = false;

    const DetectorSettings& s_;
    const Sensitivity& sens_;
    TK1Writer& writer_;
    Host& host_;
    IpiExportFile* ipiExport_ = nullptr;
};

}  // namespace wtk
