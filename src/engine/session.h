// The converter's whole state for one run of a front end (window, command-line tool or test):
// the two windows' controls as models, the setting variables, the engine's objects and the
// selected WAV file table, with the handlers of the main window's commands. Everything runs on
// the caller's thread; long commands call Host::ProcessMessages at the fixed points (after each
// listed file, after each converted file, at each minute end), where STOP can be pressed.
#pragma once

#include <cstdint>
#include <string>

#include "detector/click_detector.h"
#include "engine/host.h"
#include "engine/main_controls.h"
#include "engine/sample_processor.h"
#include "engine/sample_rate.h"
#include "engine/sensitivity.h"
#include "input/wav_file_rec.h"
#include "output/side_files.h"
#include "output/tk1_writer.h"
#include "settings/detector_settings.h"
#include "settings/settings_form.h"

namespace wtk {

class Session {
public:
    explicit Session(Host& host);
    ~Session();  // closes whatever is open (FormDestroy)
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Start-up after the front end has set the controls: the sample-rate tables for the rate
    // text, then the settings window's creation ("normal operation" preset, ApplySettings).
    void Start();

    // Main window commands.
    void KsamplesPerSecEditChange();  // reads Controls.KsamplesPerSecEdit
    void SelectBatchBtnClick();
    void ConvertBatchBtnClick();
    void MakeScrapbookBtnClick();
    void StopBtnClick() { STOP = true; }
    void FormDestroy();

    // How the last conversion command ended.
    enum class Outcome {
        Done,     // converted (possibly stopped by the user)
        Refused,  // refused before anything was written (settings, rate, no files, cancelled)
        Failed,   // ended on an error message (file could not be opened, write failed ...)
    };
    Outcome LastOutcome = Outcome::Done;

    // Window models.
    MainControls Controls;
    SettingsForm SetFm;

    // Engine state.
    SampleRate Rate;
    DetectorSettings Settings;
    Sensitivity Sens;
    TK1Writer Writer;
    IpiExportFile IpiExport;
    ClickDetector Detector;
    SampleProcessor Processor;

    // Selection.
    WavFileRecTable WavFileRecs;
    int32_t NofWAVfilesFound = 0;

    // Flags.
    bool Busy = false;
    bool STOP = false;
    bool Scrapbook = false;
    bool ExportIPIandAmpsToText = false;
    bool WavFileOpen = false;
    std::string FPfilePath;

private:
    Host& host_;
};

}  // namespace wtk
