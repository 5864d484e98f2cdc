#include "settings/settings_form.h"

#include <cassert>
#include <cmath>
#include <stdexcept>

#include "base/numbers.h"
#include "base/sample_rate.h"
#include "settings/sensitivity.h"

namespace wtk {

namespace {

constexpr const char* kStrongHint = "Shorter clicks logged above SPL shown";

// Setting-variable table order first (the order ApplySettings converts), then the rest.
// clang-format off
const std::vector<ControlDef> kControls = {
    {"MinNcycFedit", ControlKind::DigitEdit, 3, "Min nCyc", "5", {},
     "Minimum number of cycles of a weak click", "Min nCyc"},
    {"NoisyMinsEdit", ControlKind::DigitEdit, 3, "NoisyMins", "1", {},
     "Noisy minutes in a row before the sensitivity is lowered", "NoisyMins"},
    {"QuietMinsEdit", ControlKind::DigitEdit, 3, "QuietMins", "1", {},
     "Quiet minutes in a row before the sensitivity is raised", "QuietMins"},
    {"NoisyLevelEdit", ControlKind::DigitEdit, 3, "NoisyLevel", "1", {},
     "Clicks per minute, in units of 256, at which a minute counts as noisy", "NoisyLevel"},
    {"QuietLevelEdit", ControlKind::DigitEdit, 3, "QuietLevel", "1", {},
     "Clicks per minute, in units of 256, at which a minute counts as quiet", "QuietLevel"},
    {"TooQuietCountEdit", ControlKind::DigitEdit, 3, "Too quiet", "1", {},
     "Fewer clicks than this in a minute raise the sensitivity at once", "Too quiet"},
    {"AmpStepEdit", ControlKind::DigitEdit, 3, "AmpStep", "5", {},
     "Step by which the minimum click amplitude changes per adjustment", "AmpStep"},
    {"GainPerCentChangeEdit", ControlKind::DigitEdit, 3, "Gain%change", "30", {},
     "Percentage by which the scale factor changes per adjustment", "Gain%change"},
    {"FixedScalerEdit", ControlKind::TextEdit, 0, "", "0.001", {},
     "Start value of the amplitude scale factor", "Scale factor Start"},
    {"MaxAmpScalerValueEdit", ControlKind::TextEdit, 0, "", "0.005", {},
     "Upper bound of the amplitude scale factor", "Scale factor Max"},
    {"MinAmpScalerValueEdit", ControlKind::TextEdit, 0, "", "0.00005", {},
     "Lower bound of the amplitude scale factor", "Scale factor Min"},
    {"Strong1Edit", ControlKind::DigitEdit, 3, "Max 1 Bias", "1", {},
     kStrongHint, "Max 1 Bias"},
    {"Strong2Edit", ControlKind::DigitEdit, 3, "Max 2 Bias", "1", {},
     kStrongHint, "Max 2 Bias"},
    {"Strong3Edit", ControlKind::DigitEdit, 3, "Max 3 Bias", "1", {},
     kStrongHint, "Max 3 Bias"},
    {"Strong4Edit", ControlKind::DigitEdit, 3, "Max 4 Bias", "1", {},
     kStrongHint, "Max 4 Bias"},
    {"ZmaxStartEditFS", ControlKind::DigitEdit, 3, "Stmax", "220", {},
     "Largest IPI (250 ns units, kHz = 4000 / value) that may start a click", "Stmax"},
    {"ZminStartEditFS", ControlKind::DigitEdit, 3, "Stmin", "18", {},
     "Smallest IPI (250 ns units) of any peak in a click and of a click start", "Stmin"},
    {"ExcludedMaxIPIEdit", ControlKind::DigitEdit, 3, "ExcludedMaxIPI", "0", {},
     "Upper bound (exclusive) of the IPI band whose clicks are dropped", "ExcludedMaxIPI"},
    {"ExcludedMinIPIEdit", ControlKind::DigitEdit, 3, "ExcludedMinIPI", "255", {},
     "Lower bound (exclusive) of the IPI band whose clicks are dropped", "ExcludedMinIPI"},
    {"DeadbandEdit", ControlKind::DigitEdit, 3, "Deadband", "1", {},
     "Detection threshold on the band-pass filtered signal", "Deadband"},
    {"UseToughAmpDrop", ControlKind::CheckBox, 0, "use 1/4 ADF below", "1", {},
     "The amplitude-drop filter ends a click only at a drop below a quarter instead of a half",
     "use 1/4 ADF below"},
    {"MaxSPLforAmpDropTestEdit", ControlKind::DigitEdit, 3, "", "1", {},
     "The amplitude-drop filter applies only while the click maximum is below this level",
     "Level beside \"use 1/4 ADF below\""},
    {"MaxSPLforBWtestEdit", ControlKind::DigitEdit, 3, "Use BW filter below", "1", {},
     "Recorded in the file header only", "Use BW filter below"},
    {"FBWaddonEdit", ControlKind::DigitEdit, 3, "BW tolerance", "1", {},
     "Recorded in the file header only", "BW tolerance"},
    {"MaxSPLforReversalTestEdit", ControlKind::DigitEdit, 3, "Reversal test below", "1", {},
     "The reversal test for clicks of 9 or more cycles applies only below this level",
     "Reversal test below"},
    {"GainControlGroup", ControlKind::RadioGroup, 0, " method ", "0", {"gain", "level", "none"},
     "Whether the automatic adjustment changes the gain, the level or nothing", "method", true, 3},
    // Not converted by ApplySettings.
    {"MakeIPIexportFile", ControlKind::CheckBox, 0, "create text file of IPI and Amplitudes", "0",
     {},
     "Write every peak's IPI, amplitude and time to a text file",
     "create text file of IPI and Amplitudes"},
    {"IPIFileLineLimitEdit", ControlKind::DigitEdit, 8, "File line limit", "10000", {},
     "Maximum number of data lines in the IPI text file", "File line limit"},
    {"HighPassFilterCombo", ControlKind::ComboBox, 0, "Filter ", "3",
     {"120kHz", "80kHz", "40kHz", "20kHz"},
     "Only its index is recorded in the file header", "Filter", false},
    {"MinsOnOffFcombo", ControlKind::ComboBox, 0, "Continuous logging?", "0",
     {"continuous", "1min in 2", "1min in 5", "1min in 10"},
     "Not used", "Continuous logging?", false},
    {"FilterSonars", ControlKind::CheckBox, 0, "Filter out boat sonars", "0", {},
     "Not used: real-time sonar detection is not enabled", "Filter out boat sonars"},
};
// clang-format on

const std::vector<std::string> kNotes = {
    "NB: This app does NOT create the file that would have been created from an T-KEB in the "
    "same location and time.  This is because the time resolution of the ",
    "source ",
    "data - the .wav file - is generally lower than the 1MHz sampling rate of the KEB.  ",
    "",
    "In the KEB the samples from the Analogue-to-Digital-Converter are upsampled to give a 4MHz "
    "virtual rate and the amplitude and timing of peaks are derived from ",
    "that. ",
    "To mimic a KEB here the data are 'upsampled' but this introduces noise because the source "
    "sampling rate is too low. ",
    "",
    "Various features of the KEB process perform poorly or are not enabled or are impossible:",
    "The frequencies are correct only if the sampling rate of the sources was 500k/s",
    "The real time sonar detection algorithm",
    "The capture of raw data is not enabled.",
    "Minutes OFF between minutes ON",
    "Angle recording and switching; Temperature recording",
};

size_t IndexOf(std::string_view name) {
    for (size_t i = 0; i < kControls.size(); ++i) {
        if (name == kControls[i].Name) return i;
    }
    throw std::out_of_range("unknown settings control: " + std::string(name));
}

}  // namespace

const char* const SettingsForm::kNormalHint =
    "  these are the standard, general purpose settings, which include adaption to noisy "
    "periods.";
const char* const SettingsForm::kSevereHint =
    " useful in shallow water with heavy wave action, especially for NBHF species as this "
    "strongly filters out weak broadband clicks and adapts rapidly to noise.";
const char* const SettingsForm::kMinimalHint =
    " useful for quiet deep water locations.  Sensitivity to broadband clicks is increased. "
    "Results are not directly comparable with other settings.";

const std::vector<PresetDef>& SettingsForm::Presets() {
    // clang-format off
    static const std::vector<PresetDef> presets = {
        {"DefaultSettingsBtn", "normal operation", kNormalHint, {
           {"HighPassFilterCombo", "2"}, {"Strong1Edit", "25"}, {"Strong2Edit", "40"},
           {"Strong3Edit", "60"}, {"Strong4Edit", "100"}, {"ExcludedMinIPIEdit", "255"},
           {"ExcludedMaxIPIEdit", "0"}, {"DeadbandEdit", "10"}, {"TooQuietCountEdit", "20"},
           {"UseToughAmpDrop", "1"}, {"MaxSPLforAmpDropTestEdit", "50"},
           {"MaxSPLforBWtestEdit", "30"}, {"FBWaddonEdit", "3"},
           {"MaxSPLforReversalTestEdit", "50"}, {"FilterSonars", "1"}, {"GainControlGroup", "0"},
           {"NoisyMinsEdit", "3"}, {"QuietMinsEdit", "2"}, {"NoisyLevelEdit", "24"},
           {"QuietLevelEdit", "8"}, {"AmpStepEdit", "5"}, {"MinsOnOffFcombo", "0"},
           {"GainPerCentChangeEdit", "30"}, {"MinAmpScalerValueEdit", "0.00005"},
           {"MaxAmpScalerValueEdit", "0.005"}, {"FixedScalerEdit", "0.001"}
        }},
        // Leaves MinsOnOffFcombo as it is.
        {"SevereNoiseSettingsBtn", "severe noise", kSevereHint, {
           {"HighPassFilterCombo", "1"}, {"Strong1Edit", "40"}, {"Strong2Edit", "80"},
           {"Strong3Edit", "120"}, {"Strong4Edit", "200"}, {"ExcludedMinIPIEdit", "255"},
           {"ExcludedMaxIPIEdit", "0"}, {"DeadbandEdit", "20"}, {"TooQuietCountEdit", "20"},
           {"UseToughAmpDrop", "0"}, {"MaxSPLforAmpDropTestEdit", "60"},
           {"MaxSPLforBWtestEdit", "40"}, {"FBWaddonEdit", "2"},
           {"MaxSPLforReversalTestEdit", "50"}, {"FilterSonars", "1"}, {"GainControlGroup", "0"},
           {"NoisyMinsEdit", "3"}, {"QuietMinsEdit", "4"}, {"NoisyLevelEdit", "16"},
           {"QuietLevelEdit", "3"}, {"AmpStepEdit", "10"}, {"GainPerCentChangeEdit", "50"},
           {"MinAmpScalerValueEdit", "0.00005"}, {"MaxAmpScalerValueEdit", "0.005"},
           {"FixedScalerEdit", "0.001"}
        }},
        {"MinimalNoiseSettingsBtn", "minimal noise", kMinimalHint, {
           {"HighPassFilterCombo", "3"}, {"Strong1Edit", "20"}, {"Strong2Edit", "30"},
           {"Strong3Edit", "60"}, {"Strong4Edit", "100"}, {"ExcludedMinIPIEdit", "255"},
           {"ExcludedMaxIPIEdit", "0"}, {"DeadbandEdit", "5"}, {"TooQuietCountEdit", "20"},
           {"UseToughAmpDrop", "1"}, {"MaxSPLforAmpDropTestEdit", "1"},
           {"MaxSPLforBWtestEdit", "1"}, {"FBWaddonEdit", "3"}, {"MaxSPLforReversalTestEdit", "1"},
           {"FilterSonars", "0"}, {"GainControlGroup", "0"}, {"NoisyMinsEdit", "3"},
           {"QuietMinsEdit", "3"}, {"NoisyLevelEdit", "16"}, {"QuietLevelEdit", "8"},
           {"AmpStepEdit", "3"}, {"MinsOnOffFcombo", "0"}, {"GainPerCentChangeEdit", "30"},
           {"MinAmpScalerValueEdit", "0.00005"}, {"MaxAmpScalerValueEdit", "0.005"},
           {"FixedScalerEdit", "0.001"}
        }},
    };
    // clang-format on
    return presets;
}

SettingsForm::SettingsForm() {
    values_.reserve(kControls.size());
    for (const ControlDef& def : kControls) values_.emplace_back(def.FormValue);
}

const std::vector<ControlDef>& SettingsForm::Controls() {
    return kControls;
}

const ControlDef* SettingsForm::Find(std::string_view name) {
    for (const ControlDef& def : kControls) {
        if (name == def.Name) return &def;
    }
    return nullptr;
}

const std::string& SettingsForm::Get(std::string_view name) const {
    return values_[IndexOf(name)];
}

void SettingsForm::Set(std::string_view name, std::string value) {
    values_[IndexOf(name)] = std::move(value);
}

bool SettingsForm::Accepts(const ControlDef& def, std::string_view value) {
    switch (def.Kind) {
        case ControlKind::DigitEdit:
            if (value.size() > static_cast<size_t>(def.MaxLength)) return false;
            for (char c : value) {
                if (c < '0' || c > '9') return false;
            }
            return true;
        case ControlKind::TextEdit:
            return true;
        case ControlKind::CheckBox:
            return value == "0" || value == "1";
        case ControlKind::RadioGroup:
        case ControlKind::ComboBox:
            // The index as the model writes it: plain decimal digits, no sign, no leading zero.
            for (size_t i = 0; i < def.Items.size(); ++i) {
                if (value == std::to_string(i)) return true;
            }
            return false;
    }
    return false;
}

void SettingsForm::LoadPreset(const PresetDef& preset) {
    for (const auto& [name, text] : preset.Values) Set(name, text);
}

void SettingsForm::DefaultSettingsBtnClick() {
    LoadPreset(Presets()[0]);
}
void SettingsForm::SevereNoiseSettingsBtnClick() {
    LoadPreset(Presets()[1]);
}
void SettingsForm::MinimalNoiseSettingsBtnClick() {
    LoadPreset(Presets()[2]);
}

const std::vector<std::string>& SettingsForm::NotesLines() {
    return kNotes;
}

namespace {

// The typed text as a message shows it: quoted, on one line, at most about 40 bytes.
std::string Quoted(std::string_view text) {
    constexpr size_t kMaxShown = 40;
    std::string shown;
    bool cut = false;
    if (text.size() > kMaxShown) {
        size_t end = kMaxShown;
        // Do not split a UTF-8 sequence: back up over continuation bytes.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        text = text.substr(0, end);
        cut = true;
    }
    shown.reserve(text.size() + 5);
    shown += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        shown += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    if (cut) shown += "...";
    shown += '"';
    return shown;
}

constexpr double kMaxScalerMagnitude = 1000;  // far beyond any useful gain; keeps the filter
                                              // and the minute-record byte arithmetic finite

// Converts the controls one by one; the first failure is kept and stops the chain.
class Converter {
public:
    explicit Converter(const SettingsForm& form) : form_(form) {}

    std::optional<std::string> Error;

    bool Int(const char* name, int32_t& out) {
        const std::optional<int32_t> v = ParseInt(name);
        if (!v) return false;
        out = *v;
        return true;
    }

    bool Byte(const char* name, uint8_t& out) {
        const std::optional<int32_t> v = ParseInt(name);
        if (!v) return false;
        if (*v < 0 || *v > 255) return Fail(name, RangeText(*v, 0, 255));
        out = static_cast<uint8_t>(*v);
        return true;
    }

    // A count in units of 256 clicks, stored as clicks.
    bool Times256(const char* name, int32_t& out) {
        const std::optional<int32_t> v = ParseInt(name);
        if (!v) return false;
        const int64_t clicks = int64_t{*v} * 256;
        if (clicks > INT32_MAX || clicks < INT32_MIN) return Fail(name, RangeText(*v, 0, 255));
        out = static_cast<int32_t>(clicks);
        return true;
    }

    bool Real(const char* name, float& out) {
        const std::string& text = form_.Get(name);
        const std::optional<float> v = ParseFloat32(text);
        if (!v) {
            return Fail(name, Quoted(text) + " is not a decimal number (such as 0.001)");
        }
        if (std::fabs(*v) > kMaxScalerMagnitude) {
            return Fail(name, Quoted(text) + " is too large (at most 1000 either side of 0)");
        }
        out = *v;
        return true;
    }

    bool Check(const char* name, bool& out) {
        const std::string& text = form_.Get(name);
        if (text != "0" && text != "1") {
            return Fail(name, Quoted(text) + " is not a check box state (0 or 1)");
        }
        out = text == "1";
        return true;
    }

    bool Gain(const char* name, tGainType& out) {
        const std::string& text = form_.Get(name);
        const std::optional<int32_t> v = ParseInt32(text);
        if (!v || *v < 0 || *v > 2) {
            return Fail(name, Quoted(text) + " is not one of 0 (gain), 1 (level), 2 (none)");
        }
        out = static_cast<tGainType>(*v);
        return true;
    }

    static std::string RangeText(int64_t v, int lo, int hi) {
        return std::to_string(v) + " is not in the range " + std::to_string(lo) + " to " +
               std::to_string(hi);
    }

    static std::string Message(const char* name, const std::string& what) {
        const ControlDef* def = SettingsForm::Find(name);
        assert(def != nullptr);
        return std::string(def->FieldName) + ": " + what;
    }

private:
    std::optional<int32_t> ParseInt(const char* name) {
        const std::string& text = form_.Get(name);
        std::optional<int32_t> v = ParseInt32(text);
        if (!v) Fail(name, Quoted(text) + " is not a whole number (-2147483648 to 2147483647)");
        return v;
    }

    bool Fail(const char* name, const std::string& what) {
        Error = Message(name, what);
        return false;
    }

    const SettingsForm& form_;
};

// The largest Stmin whose half-tick count Round(Stmin / IPIscaler) still fits a byte.
int32_t LargestMinAnyIPI(double scaler) {
    int32_t m = 255;
    while (m > 0 && RoundHalfEven(m / scaler) > 255) --m;
    return m;
}

}  // namespace

std::optional<std::string> ApplySettings(const SettingsForm& form, const SampleRate& rate,
                                         DetectorSettings& s, Sensitivity& sens) {
    Converter c(form);
    // Each variable takes its value as soon as its control converts; the first failure stops.
    const bool converted =
        c.Byte("MinNcycFedit", s.FixedCycLimit) &&
        c.Byte("NoisyMinsEdit", s.NofNoisyMinsForAction) &&
        c.Byte("QuietMinsEdit", s.NofQuietMinsForAction) &&
        c.Times256("NoisyLevelEdit", s.NoisyLevelClkCount) &&
        c.Times256("QuietLevelEdit", s.QuietLevelClkCount) &&
        c.Int("TooQuietCountEdit", s.TooQuietCount) && c.Byte("AmpStepEdit", s.AmpStep) &&
        c.Int("GainPerCentChangeEdit", s.GainPercentChange) &&
        c.Real("FixedScalerEdit", s.FixedAmpScaler) &&
        c.Real("MaxAmpScalerValueEdit", s.MaxAmpScalerValue) &&
        c.Real("MinAmpScalerValueEdit", s.MinAmpScalerValue) &&
        c.Byte("Strong1Edit", s.WorkingStrongLimit1) &&
        c.Byte("Strong2Edit", s.WorkingStrongLimit2) &&
        c.Byte("Strong3Edit", s.WorkingStrongLimit3) &&
        c.Byte("Strong4Edit", s.WorkingStrongLimit4) && c.Byte("ZmaxStartEditFS", s.MaxStartIPI) &&
        c.Byte("ZminStartEditFS", s.MinAnyIPI) && c.Byte("ExcludedMaxIPIEdit", s.ExcludedMaxIPI) &&
        c.Byte("ExcludedMinIPIEdit", s.ExcludedMinIPI) &&
        c.Int("DeadbandEdit", s.DeadBandSetting) &&
        c.Check("UseToughAmpDrop", s.UsingToughAmpDrop) &&
        c.Byte("MaxSPLforAmpDropTestEdit", s.MaxSPLforAmpDropTest) &&
        c.Byte("MaxSPLforBWtestEdit", s.UserMaxSPLforBWtest) && c.Byte("FBWaddonEdit", s.BwAddon) &&
        c.Byte("MaxSPLforReversalTestEdit", s.MaxSPLforReversalTest) &&
        c.Gain("GainControlGroup", s.GainType);
    if (!converted) return c.Error;

    // The TK1 header holds these in one byte each.
    constexpr const char* kHeaderByte = " (the TK1 file header holds it in one byte)";
    if (s.DeadBandSetting < 0 || s.DeadBandSetting > 255) {
        return Converter::Message("DeadbandEdit",
                                  Converter::RangeText(s.DeadBandSetting, 0, 255) + kHeaderByte);
    }
    const std::pair<const char*, int32_t> levels[] = {{"NoisyLevelEdit", s.NoisyLevelClkCount},
                                                      {"QuietLevelEdit", s.QuietLevelClkCount}};
    for (const auto& [name, clicks] : levels) {
        if (clicks < 0 || clicks > 255 * 256) {
            return Converter::Message(name,
                                      Converter::RangeText(clicks / 256, 0, 255) + kHeaderByte);
        }
    }

    // Stmin in the peak finder's half ticks must fit a byte; at high rates it may not.
    const double scaler = rate.IPIscaler;
    const std::string ksps = std::to_string(rate.SamplesPerSec / 1000) + " k samples/s";
    if (!(scaler > 0) || !std::isfinite(scaler)) {
        return Converter::Message("ZminStartEditFS", "cannot be set without a valid sample rate");
    }
    const int64_t rescaled = RoundHalfEven(s.MinAnyIPI / scaler);
    if (rescaled > 255) {
        return Converter::Message("ZminStartEditFS",
                                  Converter::RangeText(s.MinAnyIPI, 0, LargestMinAnyIPI(scaler)) +
                                      " at " + ksps +
                                      " (the peak finder counts it in half ticks, at most 255)");
    }

    sens.CurrentAmpScaler = s.FixedAmpScaler;
    sens.ReviseFilterScale();
    sens.AdjustedDeadBand = s.DeadBandSetting;
    sens.DeadBandPlusUplift = 0;
    assert(rescaled >= 0 && rescaled <= 255);
    sens.RescaledMinAnyIPI = static_cast<uint8_t>(rescaled);
    return std::nullopt;
}

}  // namespace wtk
