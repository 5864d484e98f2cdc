#include "session/session.h"

#include <chrono>

#include "base/numbers.h"
#include "base/utf8.h"
#include "input/format_check.h"
#include "input/name_pattern.h"
#include "input/selection.h"

namespace wtk {
namespace {

// Characters of a scrapbook's name prefix: the position of the first space (counting from 1),
// at most 12; 0 when the name has no space.
size_t ScrapbookPrefixLength(std::string_view name) {
    const size_t space = name.find(' ');
    if (space == std::string_view::npos) return 0;
    const size_t position = Utf8Length(name.substr(0, space)) + 1;
    return position < 12 ? position : 12;
}

}  // namespace

void Session::OutcomeHost::Report(const Event& event) {
    if (FailsConversion(event.Kind)) Failed = true;
    if (RefusesConversion(event.Kind)) Refused = true;
    if (holding_) {
        held_.push_back({Held::What::Report, event, Label::BigLbl, Memo::FilesMemo, {}});
        return;
    }
    host_.Report(event);
}

void Session::OutcomeHost::SetText(Label which, const std::string& text) {
    if (holding_ && which == Label::StartTimeWarning) {
        held_.push_back({Held::What::Text, {}, which, Memo::FilesMemo, text});
        return;
    }
    host_.SetText(which, text);
}

void Session::OutcomeHost::AppendMemo(Memo which, const std::string& line) {
    if (holding_ && which == Memo::FilesMemo) {
        held_.push_back({Held::What::Memo, {}, Label::BigLbl, which, line});
        return;
    }
    host_.AppendMemo(which, line);
}

void Session::OutcomeHost::AppendNote(Memo which, const std::string& line) {
    if (holding_ && which == Memo::FilesMemo) {
        held_.push_back({Held::What::Note, {}, Label::BigLbl, which, line});
        return;
    }
    host_.AppendNote(which, line);
}

void Session::OutcomeHost::ShowListing() {
    holding_ = false;
    std::vector<Held> held = std::move(held_);
    held_.clear();
    for (const Held& h : held) {
        switch (h.Kind) {
            case Held::What::Report:
                host_.Report(h.Reported);
                break;
            case Held::What::Text:
                host_.SetText(h.Which, h.Line);
                break;
            case Held::What::Memo:
                host_.AppendMemo(h.In, h.Line);
                break;
            case Held::What::Note:
                host_.AppendNote(h.In, h.Line);
                break;
        }
    }
}

void Session::OutcomeHost::DropListing() {
    holding_ = false;
    held_.clear();
}

Session::Outcome Session::ReportedOutcome() const {
    if (host_.Refused) return Outcome::Refused;
    return host_.Failed ? Outcome::Failed : Outcome::Done;
}

void Session::EngineHost::ProcessMessages() {
    session_.Progress.MinuteEnded(session_.ProgressClock());
    session_.ReportProgress();
    host_.ProcessMessages();
}

Session::Session(Host& host)
    : host_(host),
      engineHost_(host_, *this),
      ProgressClock([] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }),
      Writer(host_),
      Detector(Settings, Sens, Writer, host_),
      Processor(rate_, Settings, Sens, Detector, Writer, Controls, engineHost_) {
    Processor.StopRequest = &STOP;
}

void Session::ReportProgress() {
    host_.ShowProgress(Progress.Progress());
}

Session::~Session() {
    Busy = false;  // nothing runs any more: close everything
    FormDestroy();
}

void Session::Start() {
    rate_.KsamplesPerSecEditChange(Controls.KsamplesPerSecEdit);
    SetFm.DefaultSettingsBtnClick();
    // Without a valid rate there is no IPIscaler to apply the settings with; a conversion
    // refuses the rate before it applies them again.
    if (!rate_.Valid) return;
    if (const auto error = ApplySettings(SetFm, rate_, Settings, Sens)) {
        host_.Report(Event(EventKind::SettingsRefused, *error));
    }
}

void Session::KsamplesPerSecEditChange() {
    // A running batch keeps the tables (and buffer sizes) of its start; the text is read
    // again when the next conversion starts.
    if (Busy) return;
    rate_.KsamplesPerSecEditChange(Controls.KsamplesPerSecEdit);
}

SelectionContext Session::MakeSelectionContext() {
    return SelectionContext{host_,
                            Controls,
                            rate_,
                            Scrapbook,
                            SettingsNow().IpiExport,
                            Busy,
                            STOP,
                            ExportIPIandAmpsToText,
                            WavFileRecs,
                            NofWAVfilesFound,
                            nullptr,
                            &NofInputsSkipped,
                            &Corrections};
}

void Session::SelectBatchBtnClick() {
    if (Busy) return;
    if (const auto refusal = CheckNameDatePattern()) {
        host_.Report(Event(EventKind::SettingsRefused, *refusal));
        return;
    }
    SelectionContext c = MakeSelectionContext();
    listedWith_ = ListingInputsNow();
    host_.HoldListing();
    ::wtk::SelectBatchBtnClick(c);
    if (!Busy && NofWAVfilesFound > 0) {
        ReportFormatFindings();
    } else {
        host_.ShowListing();
    }
}

void Session::DropPaths(const std::vector<std::string>& paths) {
    if (Busy) return;
    host_.HoldListing();
    SelectPaths(paths);
    if (!Busy && NofWAVfilesFound > 0) {
        ReportFormatFindings();
    } else {
        host_.ShowListing();
    }
}

Session::ListingInputs Session::ListingInputsNow() const {
    return {Controls.NameDatePatternEdit,
            Controls.KsamplesPerSecEdit,
            Controls.AddedSiteNameEdit,
            Controls.TimeSourceCombo,
            Controls.ExactStart,
            Controls.UseFileNameDateTimes,
            {Controls.ToSixteenBit, Controls.Channel}};
}

bool Session::SelectionOutdated() const {
    return NofWAVfilesFound > 0 && !(listedWith_ == ListingInputsNow());
}

void Session::RereadSelection() {
    if (Busy || CheckNameDatePattern()) return;
    if (!rate_.KsamplesPerSecEditChange(Controls.KsamplesPerSecEdit)) return;
    StringList paths;
    const auto n = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());
    for (size_t i = 0; i < n; ++i) {
        // A file of several raw files once.
        const WavFileRec& rec = WavFileRecs[i];
        if (!rec.NameWithPath.empty() && rec.Raw.Number <= 1) paths.push_back(rec.Path());
    }
    listedWith_ = ListingInputsNow();
    SelectionContext c = MakeSelectionContext();
    Busy = true;
    host_.AppendMemo(Memo::FilesMemo, FilesMemoHeader());
    ListWavFiles(c, paths);
}

std::optional<std::string> Session::CheckNameDatePattern() const {
    if (Controls.NameDatePatternEdit.empty()) return std::nullopt;
    auto parsed = NameDatePattern::Parse(Controls.NameDatePatternEdit);
    if (auto* refusal = std::get_if<std::string>(&parsed)) return *refusal;
    return std::nullopt;
}

namespace {

// "N files are not 16-bit PCM mono WAV and would give wrong clicks:" and their lines.
std::string UnfitText(const FormatFindings& f) {
    std::string text =
        FilesAre(f.Unfit.size()) + " not 16-bit PCM mono WAV and would give wrong clicks:\n";
    for (const std::string& line : NamedLines(f.Unfit, UnfitLine)) text += line + "\n";
    return text;
}

std::string FewerChannelsText(const FormatFindings& f, int channel) {
    std::string text = FilesHave(f.FewerChannels.size()) + " fewer channels than channel " +
                       std::to_string(channel) + " and cannot be converted:\n";
    for (const std::string& line : NamedLines(f.FewerChannels, FormatLine)) text += line + "\n";
    return text;
}

}  // namespace

bool Session::AskFormatChoices(bool reread) {
    const ReadOptions chosen{Controls.ToSixteenBit, Controls.Channel};
    const FormatFindings f = CheckFormats(WavFileRecs, rate_.SamplesPerSec, chosen);
    std::vector<const WavFileRec*> sixteen, channels;
    for (const WavFileRec* rec : f.NeedsChoice) {
        const FormatNeeds needs = NeedsOf(*SampleFormatOf(rec->Header));
        if (needs.SixteenBit && !chosen.ToSixteenBit) sixteen.push_back(rec);
        if (needs.Channel && chosen.Channel == 0) channels.push_back(rec);
    }
    bool declined = false;
    if (!sixteen.empty()) {
        std::string text = FilesHave(sixteen.size()) + " samples of other than 16 bits:\n";
        for (const std::string& line : NamedLines(sixteen, FormatLine)) text += line + "\n";
        if (host_.AskYesNo(text + "\nConvert their samples to 16 bits, as a 16-bit recorder of "
                                  "the same full scale would have written them?")) {
            Controls.ToSixteenBit = true;
        } else {
            declined = true;
        }
    }
    if (!channels.empty()) {
        std::string text = FilesHave(channels.size()) + " several channels:\n";
        for (const std::string& line : NamedLines(channels, FormatLine)) text += line + "\n";
        std::vector<std::string> choices;
        for (int k = 1; k <= f.FewestChannels; ++k)
            choices.push_back("Channel " + std::to_string(k));
        const std::optional<int> k =
            host_.AskChoice(text + "\nWhich channel should be converted?", choices);
        if (k && *k >= 0 && *k < static_cast<int>(choices.size())) {
            Controls.Channel = *k + 1;
        } else {
            declined = true;
        }
    }
    // The durations and layouts follow the choices.
    if (reread && !(ReadOptions{Controls.ToSixteenBit, Controls.Channel} == chosen)) {
        RereadSelection();
    }
    return !declined;
}

void Session::ReportFormatFindings() {
    AskAndReportFormats();
    // The list is shown once: as it was listed, or read again with the choices and the rate
    // the answers gave (its durations and start ticks follow them).
    if (SelectionOutdated()) {
        host_.DropListing();
        RereadSelection();
    } else {
        host_.ShowListing();
    }
}

void Session::AskAndReportFormats() {
    AskFormatChoices(false);
    const FormatFindings f =
        CheckFormats(WavFileRecs, rate_.SamplesPerSec, {Controls.ToSixteenBit, Controls.Channel});
    std::string text;
    if (!f.Unfit.empty()) text += UnfitText(f);
    if (!f.NeedsChoice.empty()) {
        if (!text.empty()) text += "\n";
        text += FilesAre(f.NeedsChoice.size()) +
                " not converted unless their samples are turned into 16-bit ones or a channel "
                "is chosen (the conversion asks again):\n";
        for (const std::string& line : NamedLines(f.NeedsChoice, FormatLine)) text += line + "\n";
    }
    if (!f.FewerChannels.empty()) {
        if (!text.empty()) text += "\n";
        text += FewerChannelsText(f, Controls.Channel);
    }
    if (!f.OtherRate.empty()) {
        if (!text.empty()) text += "\n";
        text += FilesAre(f.OtherRate.size()) + " not at the typed rate of " +
                std::to_string(rate_.SamplesPerSec / 1000) + " k samples/s:\n";
        for (const std::string& line : NamedLines(f.OtherRate, OtherRateLine)) text += line + "\n";
    }
    if (!f.SecondData.empty()) {
        if (!text.empty()) text += "\n";
        for (const std::string& line : NamedLines(f.SecondData, SecondDataLine))
            text += line + "\n";
    }
    if (text.empty()) return;
    const bool offer = f.CommonRate != 0 && f.CommonRate % 1000 == 0 &&
                       f.CommonRate / 1000 >= static_cast<uint32_t>(SampleRate::kMinKsps) &&
                       f.CommonRate / 1000 <= static_cast<uint32_t>(SampleRate::kMaxKsps) &&
                       !f.OtherRate.empty();
    if (!offer) {
        text.pop_back();
        host_.ShowMessage(text);
        return;
    }
    const std::string k = std::to_string(f.CommonRate / 1000);
    if (host_.AskYesNo(text + "\nTake " + k +
                       " k samples/s from the headers as the sample rate?")) {
        Controls.KsamplesPerSecEdit = k;
        KsamplesPerSecEditChange();
    }
}

bool Session::ConfirmUnfitFiles() {
    if (!AskFormatChoices()) return false;
    const FormatFindings f =
        CheckFormats(WavFileRecs, rate_.SamplesPerSec, {Controls.ToSixteenBit, Controls.Channel});
    if (!f.FewerChannels.empty()) {
        std::string text = FewerChannelsText(f, Controls.Channel);
        text.pop_back();
        host_.ShowMessage(text);
        return false;
    }
    if (f.Unfit.empty()) return true;
    return host_.AskYesNo(UnfitText(f) + "\nConvert them anyway?");
}

void Session::SelectPaths(const std::vector<std::string>& paths, const std::string* onlyLocation) {
    if (Busy) return;
    SelectionContext c = MakeSelectionContext();
    c.OnlyLocation = onlyLocation;
    listedWith_ = ListingInputsNow();
    ::wtk::SelectPaths(c, paths);
}

void Session::SelectRecords(WavFileRecTable recs) {
    if (Busy) return;
    listedWith_ = ListingInputsNow();
    WavFileRecs = std::move(recs);
    NofWAVfilesFound = static_cast<int32_t>(WavFileRecs.size());
    ExportIPIandAmpsToText = SettingsNow().IpiExport;
}

std::optional<std::string> Session::CheckSampleRate() {
    if (rate_.KsamplesPerSecEditChange(Controls.KsamplesPerSecEdit)) return std::nullopt;
    return "Sample rate k/s must be a whole number in the range " +
           std::to_string(SampleRate::kMinKsps) + " ... " + std::to_string(SampleRate::kMaxKsps) +
           ", not \"" + Controls.KsamplesPerSecEdit + "\"";
}

BatchSettings Session::SettingsNow() const {
    BatchSettings s;
    s.Site = Controls.AddedSiteNameEdit;
    s.LoggerText = Controls.LoggerNumberEdit;
    s.IpiExport = SetFm.Get("MakeIPIexportFile") == "1";
    s.IpiLineLimit = ParseInt32(SetFm.Get("IPIFileLineLimitEdit")).value_or(0);
    s.HighPassFilterIndex = ParseInt32(SetFm.Get("HighPassFilterCombo")).value_or(-1);
    s.SourceLinkage = Controls.MakeSourceLinkageFile;
    s.RecordingsTable = Controls.MakeRecordingsTable;
    s.Read = {Controls.ToSixteenBit, Controls.Channel};
    return s;
}

std::variant<BatchSettings, std::string> Session::ReadBatchSettings() {
    BatchSettings settings = SettingsNow();
    if (NofWAVfilesFound > 0) settings.IpiExport = ExportIPIandAmpsToText;
    if (auto error = CheckSampleRate()) return *error;
    if (auto error = ApplySettings(SetFm, rate_, Settings, Sens)) return *error;
    // The header stores the logger number unsigned: a negative one cannot be stored. Text that
    // is no number at all is stored as 9999 by the writer.
    if (const auto logger = ParseInt32(settings.LoggerText); logger && *logger < 0) {
        return "Logger ID number must not be negative: " + settings.LoggerText;
    }
    const std::string& limit = SetFm.Get("IPIFileLineLimitEdit");
    if (settings.IpiExport && !ParseInt32(limit)) {
        return "File line limit must be a whole number, not \"" + limit + "\"";
    }
    // The site name starts every TK1 file name: a separator would put the file outside the
    // destination folder, a control character would make a name no text output can show.
    const std::string& site = settings.Site;
    if (site.find_first_of("/\\") != std::string::npos || HasControlCharacter(site)) {
        return "Site name must not contain \"/\", \"\\\" or control characters: \"" +
               PrintableName(site) + "\"";
    }
    return settings;
}

BatchPlan Session::PlanBatch(BatchKind kind) {
    BatchPlan plan;
    plan.Kind = kind;
    if (Busy) return plan;
    host_.Clear();
    const bool scrapbook = kind == BatchKind::Scrapbook;
    if (!scrapbook) {
        Scrapbook = false;
        host_.HideSettingsWindow();
    }
    if (NofWAVfilesFound < 1) {
        host_.Report(Event(EventKind::NoFilesListed,
                           scrapbook ? "No WAV files found" : "No WAV files listed"));
        LastOutcome = ReportedOutcome();
        return plan;
    }
    if (SelectionOutdated()) RereadSelection();
    if (scrapbook) Scrapbook = true;
    auto settings = ReadBatchSettings();
    if (const auto* refusal = std::get_if<std::string>(&settings)) {
        host_.Report(Event(EventKind::SettingsRefused, *refusal));
        LastOutcome = ReportedOutcome();
        return plan;
    }
    plan.Settings = std::get<BatchSettings>(std::move(settings));
    plan.Ready = true;
    return plan;
}

void Session::RunPlan(BatchPlan plan) {
    if (!plan.Ready || Busy) return;
    Busy = true;
    plan_ = std::move(plan);
    if (plan_.Kind == BatchKind::Scrapbook) LayOutScrapbook();
    host_.AppendMemo(Memo::DataMemo, "TK1BriefName\tNofWavFiles\tcompression");
    host_.AppendMemo(Memo::DATA2Memo,
                     "MinsInThisTK1File\tClicksThisMin\tAdjustedDeadBand\tCurrentAmpScaler");
    Detector.ClicksThisMin = 0;
    ConvertBatch();
    Busy = false;
}

void Session::LayOutScrapbook() {
    // Every file starts a new minute of an artificial day, one after another, at the first
    // tick of its minute.
    std::string prefix;
    if (plan_.Settings.Site.empty() && !WavFileRecs.empty()) {
        const std::string& first = WavFileRecs[0].OriginalShortNameMinusSuffix;
        prefix = std::string(Utf8Left(first, ScrapbookPrefixLength(first)));
    }
    const auto n = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());
    for (size_t i = 0; i < n; ++i) {
        WavFileRec& rec = WavFileRecs[i];
        rec.Start.Mn = kScrapbookStartMin + static_cast<int32_t>(i);
        rec.Start.TimeInMinuteNear2MHz = 1;
        rec.OriginalShortNameMinusSuffix = prefix + " TK1 scrapbook";
    }
}

bool Session::Idle() const {
    return !Busy && !Writer.TK1Open && !WavFileOpen && !IpiExport.IPIExportFileOpen &&
           !Processor.BuffersAllocated() && Writer.OutBuf.empty();
}

void Session::Tune(const EngineOptions& options) {
    if (options.Threads) Processor.UseThreads(*options.Threads);
    if (options.PieceSamples > 0) Processor.SetPieceSamples(options.PieceSamples);
    if (options.NowMinute) Writer.NowMinute = options.NowMinute;
}

void Session::FormDestroy() {
    if (Busy) {
        // Called from inside a running command: end it after the current file instead of
        // pulling its files and buffers away.
        STOP = true;
        return;
    }
    Processor.ReleaseBuffers();
    Writer.ReleaseOutBuf();
    if (Writer.TK1Open) Writer.CloseUnfinished();
    CloseWavFile();
    Detector.SetIpiExport(nullptr);
    IpiExport.Discard();
}

}  // namespace wtk
