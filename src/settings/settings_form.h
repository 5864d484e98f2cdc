// The settings window's controls as a plain model: control name -> text or state, starting from
// the window definition's values. The window maps its widgets onto this model, the command-line
// tool sets it by name, and ApplySettings reads it. Check boxes hold "0" or "1"; the radio group
// and the drop-down lists hold their selected index as text.
//
// Every text the window shows (captions, item texts, hints, headings, the notes box, the preset
// buttons) lives here as data, so the window only lays widgets out and maps them onto the model.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/detector_settings.h"

namespace wtk {

struct SampleRate;
struct Sensitivity;

enum class ControlKind {
    DigitEdit,   // digits only, up to MaxLength characters (possibly empty)
    TextEdit,    // free text (the three scale factors)
    CheckBox,    // "0" or "1"
    RadioGroup,  // selected item index
    ComboBox,    // selected item index (the window shows these disabled)
};

struct ControlDef {
    const char* Name;  // e.g. "MinNcycFedit"
    ControlKind Kind;
    int MaxLength;                   // DigitEdit only
    const char* Caption;             // label shown beside the control (may be empty, see below)
    const char* FormValue;           // text or state before any preset
    std::vector<const char*> Items;  // RadioGroup / ComboBox item texts
    const char* Hint = "";           // tooltip ("" for none)
    const char* FieldName = "";      // how messages name the field
    bool Enabled = true;             // the two drop-down lists are shown disabled
    int Columns = 1;                 // RadioGroup: item columns
};
// Controls with an empty Caption share a row label: MaxSPLforAmpDropTestEdit sits on the row of
// the UseToughAmpDrop check box; the three scale factors sit under SettingsTexts::kScaleFactor
// with the column heads SettingsTexts::kScaleFactorHeads (Min, Start, Max from left to right).

// Fixed texts of the settings window.
namespace SettingsTexts {
inline constexpr const char* kWindowCaption = "Settings for virtual T-KEB";
inline constexpr const char* kAdvancedHeading = "Advanced settings: ";  // italic
inline constexpr const char* kClickLimitLabel = "Limit on clicks/m fixed at  65536";
inline constexpr const char* kShowSettingsFor = "Show settings for:";  // above the presets
inline constexpr const char* kAutoSensitivityHeading = "Automatic sensitivity adjustment:";
inline constexpr const char* kHideLabel = "Hide";  // lower right; SetFormHideLblClick hides
inline constexpr const char* kScaleFactor = "Scale factor";
inline constexpr const char* kScaleFactorHeads = "Min               Start          Max";
// Caption of the main window's ViewSettingsLbl while the settings window is hidden (FormHide
// sets it) and while it is shown.
inline constexpr const char* kViewSettingsWhenHidden = "4.    Click to show advanced settings";
inline constexpr const char* kViewSettingsWhenShown = "4.    Click to hide advanced settings";
}  // namespace SettingsTexts

class SettingsForm;

// One preset button: the controls it fills and the text it puts there. A control not listed
// keeps its text.
struct PresetDef {
    const char* ButtonName;  // e.g. "DefaultSettingsBtn"
    const char* Caption;     // "normal operation"
    const char* Hint;
    std::vector<std::pair<const char*, const char*>> Values;  // control name -> text
};

class SettingsForm {
public:
    SettingsForm();  // every control at its form value

    // All controls, in the order of the setting-variable table followed by the rest.
    static const std::vector<ControlDef>& Controls();
    static const ControlDef* Find(std::string_view name);

    const std::string& Get(std::string_view name) const;  // unknown name: throws std::out_of_range
    void Set(std::string_view name, std::string value);   // no validation (the window's job);
                                                          // unknown name: throws std::out_of_range
    // Validation as the window's widget accepts input: digit edits take digits only up to their
    // length, check boxes 0/1, indexes within the item list; free edits take anything.
    static bool Accepts(const ControlDef& def, std::string_view value);

    // Preset buttons: fill controls only (nothing is applied).
    void DefaultSettingsBtnClick();       // "normal operation"
    void SevereNoiseSettingsBtnClick();   // "severe noise"
    void MinimalNoiseSettingsBtnClick();  // "minimal noise"

    // The three presets in the order of their buttons: normal operation, severe noise, minimal
    // noise.
    static const std::vector<PresetDef>& Presets();
    void LoadPreset(const PresetDef& preset);

    // Hints of the preset buttons and the notes box lines.
    static const char* const kNormalHint;
    static const char* const kSevereHint;
    static const char* const kMinimalHint;
    static const std::vector<std::string>& NotesLines();

private:
    std::vector<std::string> values_;  // parallel to Controls()
};

// Convert the controls in table order into the setting variables, assigning each as soon as it
// has converted; on the first failure stop and return a message that names the control's
// field and what it accepts (the variables before it keep their new values, the rest their
// previous ones). After all conversions refuse a Deadband, NoisyLevel or QuietLevel outside
// 0..255, and a Stmin that exceeds 255 half ticks at the current sample rate (or a rate without
// valid tables). Only when all of that holds set the derived values: CurrentAmpScaler :=
// FixedAmpScaler (and ReviseFilterScale), AdjustedDeadBand := DeadBandSetting,
// DeadBandPlusUplift := 0, RescaledMinAnyIPI := Round(MinAnyIPI / IPIscaler).
std::optional<std::string> ApplySettings(const SettingsForm& form, const SampleRate& rate,
                                         DetectorSettings& settings, Sensitivity& sens);

}  // namespace wtk
