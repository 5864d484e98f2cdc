#include "settings/settings_form.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "base/sample_rate.h"
#include "settings/sensitivity.h"

namespace wtk {
namespace {

// The state right after program start: the "normal operation" preset applied at 576 k/s.
struct Started {
    SampleRate rate;
    SettingsForm form;
    DetectorSettings s;
    Sensitivity sens;

    explicit Started(const char* ksps = "576") {
        EXPECT_TRUE(rate.KsamplesPerSecEditChange(ksps));
        form.DefaultSettingsBtnClick();
        EXPECT_EQ(ApplySettings(form, rate, s, sens), std::nullopt);
    }
    std::optional<std::string> Apply() { return ApplySettings(form, rate, s, sens); }
};

TEST(ApplySettings, NormalOperationAtStart) {
    Started st;
    const DetectorSettings& s = st.s;
    EXPECT_EQ(s.FixedCycLimit, 5);
    EXPECT_EQ(s.WorkingStrongLimit1, 25);
    EXPECT_EQ(s.WorkingStrongLimit2, 40);
    EXPECT_EQ(s.WorkingStrongLimit3, 60);
    EXPECT_EQ(s.WorkingStrongLimit4, 100);
    EXPECT_EQ(s.MaxStartIPI, 220);
    EXPECT_EQ(s.MinAnyIPI, 18);
    EXPECT_EQ(s.ExcludedMinIPI, 255);
    EXPECT_EQ(s.ExcludedMaxIPI, 0);
    EXPECT_EQ(s.DeadBandSetting, 10);
    EXPECT_TRUE(s.UsingToughAmpDrop);
    EXPECT_EQ(s.MaxSPLforAmpDropTest, 50);
    EXPECT_EQ(s.UserMaxSPLforBWtest, 30);
    EXPECT_EQ(s.BwAddon, 3);
    EXPECT_EQ(s.MaxSPLforReversalTest, 50);
    EXPECT_EQ(s.NofNoisyMinsForAction, 3);
    EXPECT_EQ(s.NofQuietMinsForAction, 2);
    EXPECT_EQ(s.NoisyLevelClkCount, 6144);
    EXPECT_EQ(s.QuietLevelClkCount, 2048);
    EXPECT_EQ(s.TooQuietCount, 20);
    EXPECT_EQ(s.AmpStep, 5);
    EXPECT_EQ(s.GainPercentChange, 30);
    EXPECT_EQ(s.GainType, tGainType::tgGain);
    EXPECT_EQ(s.FixedAmpScaler, 0.001f);
    EXPECT_EQ(s.MinAmpScalerValue, 0.00005f);
    EXPECT_EQ(s.MaxAmpScalerValue, 0.005f);
    // Derived values.
    EXPECT_EQ(st.sens.CurrentAmpScaler, 0.001f);
    EXPECT_EQ(st.sens.MinuteScalerX2560, 3);
    EXPECT_EQ(st.sens.Coeff[9], static_cast<float>(511 * double{0.001f}));
    EXPECT_EQ(st.sens.AdjustedDeadBand, 10);
    EXPECT_EQ(st.sens.DeadBandPlusUplift, 0);
    EXPECT_EQ(st.sens.RescaledMinAnyIPI, 21);  // Round(18 / 0.86805558)
    // Controls no preset touches keep their form values.
    EXPECT_EQ(st.form.Get("IPIFileLineLimitEdit"), "10000");
    EXPECT_EQ(st.form.Get("MakeIPIexportFile"), "0");
    EXPECT_EQ(st.form.Get("HighPassFilterCombo"), "2");
}

TEST(ApplySettings, SevereNoiseKeepsTheUntouchedControls) {
    Started st;
    st.form.SevereNoiseSettingsBtnClick();
    ASSERT_EQ(st.Apply(), std::nullopt);
    EXPECT_EQ(st.s.WorkingStrongLimit1, 40);
    EXPECT_EQ(st.s.WorkingStrongLimit2, 80);
    EXPECT_EQ(st.s.WorkingStrongLimit3, 120);
    EXPECT_EQ(st.s.WorkingStrongLimit4, 200);
    EXPECT_EQ(st.s.DeadBandSetting, 20);
    EXPECT_FALSE(st.s.UsingToughAmpDrop);
    EXPECT_EQ(st.s.GainPercentChange, 50);
    EXPECT_EQ(st.s.NoisyLevelClkCount, 16 * 256);
    EXPECT_EQ(st.s.QuietLevelClkCount, 3 * 256);
    EXPECT_EQ(st.s.AmpStep, 10);
    EXPECT_EQ(st.s.FixedCycLimit, 5);
    EXPECT_EQ(st.s.MaxStartIPI, 220);
    EXPECT_EQ(st.s.MinAnyIPI, 18);
    EXPECT_EQ(st.sens.AdjustedDeadBand, 20);
    EXPECT_EQ(st.form.Get("HighPassFilterCombo"), "1");
}

TEST(Presets, FillOnlyTheirControls) {
    SettingsForm f;
    f.Set("MinsOnOffFcombo", "2");
    f.Set("MinNcycFedit", "7");
    f.Set("IPIFileLineLimitEdit", "123");
    f.SevereNoiseSettingsBtnClick();
    EXPECT_EQ(f.Get("MinsOnOffFcombo"), "2");
    f.MinimalNoiseSettingsBtnClick();
    EXPECT_EQ(f.Get("MinsOnOffFcombo"), "0");
    EXPECT_EQ(f.Get("DeadbandEdit"), "5");
    EXPECT_EQ(f.Get("AmpStepEdit"), "3");
    EXPECT_EQ(f.Get("FilterSonars"), "0");
    EXPECT_EQ(f.Get("HighPassFilterCombo"), "3");
    f.Set("MinsOnOffFcombo", "3");
    f.DefaultSettingsBtnClick();
    EXPECT_EQ(f.Get("MinsOnOffFcombo"), "0");
    EXPECT_EQ(f.Get("MinNcycFedit"), "7");
    EXPECT_EQ(f.Get("IPIFileLineLimitEdit"), "123");
    EXPECT_EQ(f.Get("ZminStartEditFS"), "18");

    const auto& p = SettingsForm::Presets();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].Hint, SettingsForm::kNormalHint);
    EXPECT_EQ(std::string(p[1].Hint).substr(0, 17), " useful in shallo");
    EXPECT_EQ(std::string(p[0].Hint).substr(0, 8), "  these ");
}

TEST(ApplySettings, StopsAtTheFirstBadControlKeepingTheRest) {
    Started st;
    const Sensitivity before = st.sens;
    st.form.SevereNoiseSettingsBtnClick();
    st.form.Set("MinNcycFedit", "7");
    st.form.Set("FixedScalerEdit", "0.002");
    st.form.Set("MaxAmpScalerValueEdit", "0.004");
    st.form.Set("MinAmpScalerValueEdit", "0.0001");
    st.form.Set("Strong1Edit", "300");
    st.form.Set("GainControlGroup", "2");
    const auto err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find("Max 1 Bias"), std::string::npos) << *err;
    EXPECT_NE(err->find("300"), std::string::npos) << *err;
    // Min nCyc .. Gain%change and the scale factors: new values.
    EXPECT_EQ(st.s.FixedCycLimit, 7);
    EXPECT_EQ(st.s.NofQuietMinsForAction, 4);
    EXPECT_EQ(st.s.NoisyLevelClkCount, 16 * 256);
    EXPECT_EQ(st.s.AmpStep, 10);
    EXPECT_EQ(st.s.GainPercentChange, 50);
    EXPECT_EQ(st.s.FixedAmpScaler, 0.002f);
    EXPECT_EQ(st.s.MaxAmpScalerValue, 0.004f);
    EXPECT_EQ(st.s.MinAmpScalerValue, 0.0001f);
    // The strong limits and everything after: previous values.
    EXPECT_EQ(st.s.WorkingStrongLimit1, 25);
    EXPECT_EQ(st.s.WorkingStrongLimit2, 40);
    EXPECT_EQ(st.s.DeadBandSetting, 10);
    EXPECT_TRUE(st.s.UsingToughAmpDrop);
    EXPECT_EQ(st.s.MaxSPLforAmpDropTest, 50);
    EXPECT_EQ(st.s.GainType, tGainType::tgGain);
    // No derived value is touched.
    EXPECT_EQ(st.sens.CurrentAmpScaler, before.CurrentAmpScaler);
    EXPECT_EQ(st.sens.MinuteScalerX2560, before.MinuteScalerX2560);
    EXPECT_EQ(st.sens.AdjustedDeadBand, before.AdjustedDeadBand);
}

TEST(ApplySettings, ConversionErrorsNameTheField) {
    struct Case {
        const char* control;
        const char* text;
        const char* field;
    };
    const Case cases[] = {
        {"MinNcycFedit", "", "Min nCyc"},
        {"TooQuietCountEdit", "2147483648", "Too quiet"},
        {"GainPerCentChangeEdit", " 30", "Gain%change"},
        {"FixedScalerEdit", "0,001", "Scale factor Start"},
        {"MaxAmpScalerValueEdit", "inf", "Scale factor Max"},
        {"MinAmpScalerValueEdit", "1e30", "Scale factor Min"},
        {"MaxSPLforAmpDropTestEdit", "256", "Level beside \"use 1/4 ADF below\": 256"},
        {"AmpStepEdit", "-1", "AmpStep"},
        {"UseToughAmpDrop", "yes", "use 1/4 ADF below"},
        {"GainControlGroup", "3", "method"},
        {"NoisyLevelEdit", "9000000", "NoisyLevel"},  // x 256 leaves 32 bits
    };
    for (const Case& c : cases) {
        Started st;
        st.form.Set("GainControlGroup", "2");  // the last control converted
        st.form.Set(c.control, c.text);
        const auto err = st.Apply();
        ASSERT_TRUE(err.has_value()) << c.control;
        EXPECT_EQ(err->rfind(c.field, 0), 0u) << *err;
        EXPECT_EQ(err->find('\n'), std::string::npos);
        EXPECT_EQ(st.s.GainType, tGainType::tgGain) << c.control;  // not reached
    }
    // A typed text is shown on one line.
    Started st;
    st.form.Set("DeadbandEdit", "1\r\n2");
    const auto err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->find_first_of("\r\n"), std::string::npos) << *err;
}

TEST(ApplySettings, ScaleFactorsAndLevelsDerive) {
    Started st;
    st.form.Set("FixedScalerEdit", "0.2");  // 512 capped
    st.form.Set("NoisyLevelEdit", "24");
    st.form.Set("QuietLevelEdit", "0");
    st.form.Set("MaxAmpScalerValueEdit", "+5E-3");
    st.form.Set("MinAmpScalerValueEdit", ".00005");
    ASSERT_EQ(st.Apply(), std::nullopt);
    EXPECT_EQ(st.sens.MinuteScalerX2560, 255);
    EXPECT_EQ(st.sens.CurrentAmpScaler, 0.2f);
    EXPECT_EQ(st.s.NoisyLevelClkCount, 6144);
    EXPECT_EQ(st.s.QuietLevelClkCount, 0);
    EXPECT_EQ(st.s.MaxAmpScalerValue, 0.005f);
    EXPECT_EQ(st.s.MinAmpScalerValue, 0.00005f);
    st.form.Set("FixedScalerEdit", "0.001");
    ASSERT_EQ(st.Apply(), std::nullopt);
    EXPECT_EQ(st.sens.MinuteScalerX2560, 3);
}

TEST(ApplySettings, HeaderByteRangesAreCheckedAfterAllConversions) {
    Started st;
    st.sens.AdjustedDeadBand = 77;
    st.sens.DeadBandPlusUplift = 9;
    st.form.Set("DeadbandEdit", "300");
    st.form.Set("NoisyLevelEdit", "256");
    st.form.Set("GainControlGroup", "1");
    auto err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("Deadband: 300", 0), 0u) << *err;
    EXPECT_EQ(st.s.GainType, tGainType::tgThreshold);  // the last conversion ran
    EXPECT_EQ(st.s.DeadBandSetting, 300);
    EXPECT_EQ(st.sens.AdjustedDeadBand, 77);  // derived values untouched
    EXPECT_EQ(st.sens.DeadBandPlusUplift, 9);

    st.form.Set("DeadbandEdit", "-1");  // only the model can hold a sign
    err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("Deadband: -1", 0), 0u) << *err;

    st.form.Set("DeadbandEdit", "255");
    err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("NoisyLevel: 256", 0), 0u) << *err;

    st.form.Set("NoisyLevelEdit", "255");
    st.form.Set("QuietLevelEdit", "-2");
    err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("QuietLevel: -2", 0), 0u) << *err;

    st.form.Set("QuietLevelEdit", "255");
    EXPECT_EQ(st.Apply(), std::nullopt);
    EXPECT_EQ(st.sens.AdjustedDeadBand, 255);
    EXPECT_EQ(st.sens.DeadBandPlusUplift, 0);
}

TEST(ApplySettings, StminMustFitHalfTicksAtTheRate) {
    Started st("2000");  // IPIscaler 0.25
    EXPECT_EQ(st.sens.RescaledMinAnyIPI, 72);
    st.form.Set("ZminStartEditFS", "64");  // 256 half ticks
    auto err = st.Apply();
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("Stmin: 64", 0), 0u) << *err;
    EXPECT_NE(err->find("0 to 63"), std::string::npos) << *err;
    EXPECT_NE(err->find("2000 k samples/s"), std::string::npos) << *err;
    EXPECT_EQ(st.sens.RescaledMinAnyIPI, 72);
    st.form.Set("ZminStartEditFS", "63");
    ASSERT_EQ(st.Apply(), std::nullopt);
    EXPECT_EQ(st.sens.RescaledMinAnyIPI, 252);

    // Tables never computed: refused, not divided by zero.
    SampleRate none;
    SettingsForm f;
    DetectorSettings s;
    Sensitivity sens;
    err = ApplySettings(f, none, s, sens);
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->rfind("Stmin", 0), 0u) << *err;
}

TEST(SettingsForm, AcceptsWhatTheWidgetsAccept) {
    const ControlDef& ncyc = *SettingsForm::Find("MinNcycFedit");
    EXPECT_TRUE(SettingsForm::Accepts(ncyc, ""));
    EXPECT_TRUE(SettingsForm::Accepts(ncyc, "999"));
    EXPECT_FALSE(SettingsForm::Accepts(ncyc, "1000"));
    EXPECT_FALSE(SettingsForm::Accepts(ncyc, "-1"));
    EXPECT_FALSE(SettingsForm::Accepts(ncyc, "+1"));
    EXPECT_FALSE(SettingsForm::Accepts(ncyc, "1 "));
    const ControlDef& lines = *SettingsForm::Find("IPIFileLineLimitEdit");
    EXPECT_TRUE(SettingsForm::Accepts(lines, "99999999"));
    EXPECT_FALSE(SettingsForm::Accepts(lines, "100000000"));
    const ControlDef& tough = *SettingsForm::Find("UseToughAmpDrop");
    EXPECT_TRUE(SettingsForm::Accepts(tough, "0"));
    EXPECT_TRUE(SettingsForm::Accepts(tough, "1"));
    EXPECT_FALSE(SettingsForm::Accepts(tough, "2"));
    EXPECT_FALSE(SettingsForm::Accepts(tough, ""));
    const ControlDef& method = *SettingsForm::Find("GainControlGroup");
    EXPECT_TRUE(SettingsForm::Accepts(method, "2"));
    EXPECT_FALSE(SettingsForm::Accepts(method, "3"));
    EXPECT_FALSE(SettingsForm::Accepts(method, "-1"));
    EXPECT_FALSE(SettingsForm::Accepts(method, "01"));
    const ControlDef& filter = *SettingsForm::Find("HighPassFilterCombo");
    EXPECT_TRUE(SettingsForm::Accepts(filter, "3"));
    EXPECT_FALSE(SettingsForm::Accepts(filter, "4"));
    const ControlDef& start = *SettingsForm::Find("FixedScalerEdit");
    EXPECT_TRUE(SettingsForm::Accepts(start, "not a number"));
    EXPECT_TRUE(SettingsForm::Accepts(start, ""));
}

TEST(SettingsForm, ControlsAndPresetsAreConsistent) {
    std::set<std::string> names;
    SettingsForm f;
    for (const ControlDef& def : SettingsForm::Controls()) {
        EXPECT_TRUE(names.insert(def.Name).second) << "duplicate " << def.Name;
        EXPECT_TRUE(SettingsForm::Accepts(def, def.FormValue)) << def.Name;
        EXPECT_EQ(f.Get(def.Name), def.FormValue);
        EXPECT_NE(std::string(def.FieldName), "") << def.Name;
    }
    for (const PresetDef& p : SettingsForm::Presets()) {
        std::set<std::string> inPreset;
        for (const auto& [name, text] : p.Values) {
            const ControlDef* def = SettingsForm::Find(name);
            ASSERT_NE(def, nullptr) << p.Caption << ": " << name;
            EXPECT_TRUE(SettingsForm::Accepts(*def, text)) << p.Caption << ": " << name;
            EXPECT_TRUE(inPreset.insert(name).second) << p.Caption << ": twice " << name;
        }
        for (const char* untouched : {"MinNcycFedit", "ZmaxStartEditFS", "ZminStartEditFS",
                                      "MakeIPIexportFile", "IPIFileLineLimitEdit"}) {
            EXPECT_EQ(inPreset.count(untouched), 0u) << p.Caption << ": " << untouched;
        }
    }
    EXPECT_EQ(SettingsForm::Find("NoSuchEdit"), nullptr);
    EXPECT_THROW(f.Get("NoSuchEdit"), std::out_of_range);
    EXPECT_THROW(f.Set("NoSuchEdit", "1"), std::out_of_range);

    const auto& notes = SettingsForm::NotesLines();
    ASSERT_EQ(notes.size(), 14u);
    EXPECT_TRUE(notes[0].ends_with("resolution of the "));
    EXPECT_EQ(notes[1], "source ");
    EXPECT_TRUE(notes[3].empty() && notes[7].empty());
}

}  // namespace
}  // namespace wtk
