#include "cli/listings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "base/calendar.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "dump/tk1_dump.h"
#include "input/start_times.h"
#include "input/wav_header.h"
#include "session/progress.h"

namespace wtk::cli {
namespace {

void PutLine(std::FILE* out, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fwrite("\r\n", 1, 2, out);
}

const char* KindText(ControlKind kind) {
    switch (kind) {
        case ControlKind::DigitEdit:
            return "digit edit";
        case ControlKind::TextEdit:
            return "text edit";
        case ControlKind::CheckBox:
            return "check box";
        case ControlKind::RadioGroup:
            return "radio group";
        case ControlKind::ComboBox:
            return "drop-down list";
    }
    return "";
}

// Seconds of the samples the converter reads from a listed recording, to the millisecond.
std::string DurationSeconds(const WavFileRec& rec, int32_t samplesPerSec) {
    char buf[40];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, AudioSeconds(2 * SamplesOf(rec), samplesPerSec),
                      std::chars_format::fixed, 3);
    return std::string(buf, res.ptr);
}

}  // namespace

std::string ControlText(const ControlDef& def) {
    std::string text = def.Name;
    if (def.FieldName[0] != '\0') text += std::string(" (\"") + def.FieldName + "\")";
    return text;
}

std::string AcceptedText(const ControlDef& def) {
    switch (def.Kind) {
        case ControlKind::DigitEdit:
            return "digits only, at most " + std::to_string(def.MaxLength) + " characters";
        case ControlKind::CheckBox:
            return "0 or 1";
        case ControlKind::RadioGroup:
        case ControlKind::ComboBox: {
            std::string text = "0 ... " + std::to_string(def.Items.size() - 1) + " (";
            for (size_t i = 0; i < def.Items.size(); ++i) {
                if (i > 0) text += ", ";
                text += def.Items[i];
            }
            return text + ")";
        }
        case ControlKind::TextEdit:
            break;
    }
    return "a decimal number";
}

void WriteSettings(const SettingsForm& form, bool csv, std::FILE* out) {
    using Row = std::array<std::string, 5>;
    std::vector<Row> rows = {{"name", "caption", "kind", "accepts", "value"}};
    for (const ControlDef& def : SettingsForm::Controls()) {
        rows.push_back(
            {def.Name, def.FieldName, KindText(def.Kind), AcceptedText(def), form.Get(def.Name)});
    }
    if (csv) {
        for (const Row& row : rows) {
            std::string line;
            for (const std::string& cell : row) {
                if (!line.empty() || &cell != &row[0]) line += ',';
                line += CsvField(cell);
            }
            PutLine(out, line);
        }
        return;
    }
    std::array<size_t, 5> width{};
    for (const Row& row : rows) {
        for (size_t k = 0; k < row.size(); ++k) {
            width[k] = std::max(width[k], static_cast<size_t>(Utf8Length(row[k])));
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (size_t k = 0; k + 1 < row.size(); ++k) {
            line += row[k] + std::string(width[k] + 2 - Utf8Length(row[k]), ' ');
        }
        PutLine(out, line + row.back());
    }
}

void WriteFileListCsv(const WavFileRecTable& recs, int32_t count, int32_t samplesPerSec,
                      std::FILE* out) {
    PutLine(out, "start,time_source,duration_s,location,group,path");
    const size_t n = std::min(recs.size(), static_cast<size_t>(std::max(count, 0)));
    int32_t group = 0;
    const WavFileRec* previous = nullptr;
    for (size_t i = 0; i < n; ++i) {
        const WavFileRec& rec = recs[i];
        if (rec.NameWithPath.empty()) continue;  // not opened when it was listed
        // The TK1 files as the conversion makes them: a new one where the identity changes.
        if (previous == nullptr || CompareUtf16(rec.IdentityName, previous->IdentityName) != 0) {
            ++group;
        }
        previous = &rec;
        const bool dated = rec.Start.Mn != 0 && rec.StartTime.Source != TimeSource::None;
        PutLine(out, (dated ? StartTimeText(rec.StartTime) : std::string()) + "," +
                         std::string(TimeSourceText(rec.StartTime.Source)) + "," +
                         DurationSeconds(rec, samplesPerSec) + "," +
                         CsvField(PrintableName(rec.IdentityName)) + "," + std::to_string(group) +
                         "," + CsvField(PrintableName(rec.NameWithPath)));
    }
}

}  // namespace wtk::cli
