#include "base/host.h"

namespace wtk {

bool FailsConversion(EventKind kind) {
    switch (kind) {
        case EventKind::NoFilesListed:
        case EventKind::OutOfMemory:
        case EventKind::WavNotOpened:
        case EventKind::WavReadFailed:
        case EventKind::RecordingChanged:
        case EventKind::TK1Failure:
        case EventKind::LinkageFailure:
        case EventKind::IpiExportFailure:
        case EventKind::RecordingsTableFailure:
        case EventKind::ReplaceFailed:
        case EventKind::InternalError:
            return true;
        default:
            return false;
    }
}

bool RefusesConversion(EventKind kind) {
    return kind == EventKind::SettingsRefused || kind == EventKind::DestinationCancelled ||
           kind == EventKind::OutputsRefused;
}

void Host::Report(const Event& event) {
    switch (event.Kind) {
        case EventKind::ListingStopped:
        case EventKind::ConversionStopped:
            SetText(Label::BigLbl, event.Text);
            break;
        case EventKind::DateNotFound:
            SetText(Label::ProgressLbl, event.Text);
            SetText(Label::DateFailureFile, event.File);
            break;
        case EventKind::CenturyIgnored:
            AppendNote(Memo::FilesMemo, event.Text);
            break;
        case EventKind::RecordingChanged:
        case EventKind::EarlierFileKept:
        case EventKind::OutputRemoved:
        case EventKind::StreamLongerThanHeader:
            AppendNote(Memo::DataMemo, event.Text);
            break;
        default:
            ShowMessage(event.Text);
            break;
    }
}

}  // namespace wtk
