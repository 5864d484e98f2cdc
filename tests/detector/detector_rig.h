// A detector wired to a recording host and a TK1 writer whose buffer the tests read back.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "detector/click_detector.h"
#include "output/tk1_writer.h"
#include "recording_host.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"
#include "settings_fixtures.h"

namespace wtk::test {

class DetectorRig : public ::testing::Test {
public:
    DetectorSettings s = NormalOperationSettings();
    Sensitivity sens;  // DeadBandPlusUplift 0
    RecordingHost host;
    TK1Writer writer{host};
    ClickDetector det{s, sens, writer, host};

    void SetUp() override {
        writer.AllocateOutBuf();
        det.ClickSelSM(255, 0, 0, true);
    }

    void Pk(int ipi, int amp, int32_t t) {
        det.ClickSelSM(static_cast<uint8_t>(ipi), static_cast<uint8_t>(amp), t, false);
    }

    // A click: a peak after an overlong interval, then one peak per IPI, 20 units apart from
    // t0. With no click open, the first of these peaks opens one.
    void Train(int32_t t0, const std::vector<int>& ipis, const std::vector<int>& amps,
               int leadAmp = 0) {
        ASSERT_EQ(ipis.size(), amps.size());
        Pk(255, leadAmp, t0 - 500);
        for (size_t i = 0; i < ipis.size(); ++i) Pk(ipis[i], amps[i], t0 + 20 * int32_t(i));
    }
    void Train(int32_t t0, int ipi, const std::vector<int>& amps, int leadAmp = 0) {
        Train(t0, std::vector<int>(amps.size(), ipi), amps, leadAmp);
    }
    // An interval below MinAnyIPI ends the open click and opens none.
    void EndClick(int32_t t) { Pk(10, 0, t); }

    size_t NofRecords() const { return size_t(writer.OutBufPtr) / 16; }
    std::array<uint8_t, 16> Record(size_t k) const {
        std::array<uint8_t, 16> r{};
        for (size_t i = 0; i < 16; ++i) r[i] = writer.OutBuf.at(16 * k + i);
        return r;
    }
    std::array<uint8_t, 16> LastRecord() const { return Record(NofRecords() - 1); }
    static int32_t TimeOf(const std::array<uint8_t, 16>& r) {
        return (int32_t{r[0]} << 16) | (int32_t{r[1]} << 8) | r[2];
    }
};

}  // namespace wtk::test
