// The settings window's controls as a plain model: control name -> text or state, starting from
// the window definition's values. The window maps its widgets onto this model, the command-line
// tool sets it by name, and ApplySettings reads it. Check boxes hold "0" or "1"; the radio group
// and the drop-down lists hold their selected index as text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/detector_settings.h"

namespace wtk {

struct SampleRate;
struct Sensitivity;

enum class ControlKind {
    DigitEdit,  // digits only, up to MaxLength characters (possibly empty)
    TextEdit,   // free text (the three scale factors)
    CheckBox,   // "0" or "1"
    RadioGroup, // selected item index
    ComboBox,   // selected item index (the window shows these disabled)
};

struct ControlDef {
    const char* Name;      // e.g. "MinNcycFedit"
    ControlKind Kind;
    int MaxLength;         // DigitEdit only
    const char* Caption;   // label shown beside the control (may be empty)
    const char* FormValue; // text or state before any preset
    std::vector<const char*> Items;  // RadioGroup / ComboBox item texts
};

class SettingsForm {
public:
    SettingsForm();  // every control at its form value

    // All controls, in the order of the setting-variable table followed by the rest.
    static const std::vector<ControlDef>& Controls();
    static const ControlDef* Find(std::string_view name);

    const std::string& Get(std::string_view name) const;  // unknown name: throws std::out_of_range
    void Set(std::string_view name, std::string value);   // no validation (the window's job)
    // Validation as the window's widget accepts input: digit edits take digits only up to their
    // length, check boxes 0/1, indexes within the item list; free edits take anything.
    static bool Accepts(const ControlDef& def, std::string_view value);

    // Preset buttons: fill controls only (nothing is applied).
    void DefaultSettingsBtnClick();       // "normal operation"
    void SevereNoiseSettingsBtnClick();   // "severe noise"
    void MinimalNoiseSettingsBtnClick();  // "minimal noise"

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
// caption and what it accepts (the variables before it keep their new values). Then refuse a
// Deadband, NoisyLevel or QuietLevel above 255. On success set the derived values:
// CurrentAmpScaler := FixedAmpScaler (and ReviseFilterScale), AdjustedDeadBand :=
// DeadBandSetting, DeadBandPlusUplift := 0, RescaledMinAnyIPI := Round(MinAnyIPI / IPIscaler).
std::optional<std::string> ApplySettings(const SettingsForm& form, const SampleRate& rate,
                                         DetectorSettings& settings, Sensitivity& sens);

}  // namespace wtk
