#include "presence/location_clicks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <variant>

#include "base/calendar.h"
#include "base/utf8.h"
#include "output/click_sources.h"
#include "output/tk1_codec.h"

namespace wtk::presence {

namespace {

using tk1::kHeaderBytes;
using tk1::kRecordBytes;

std::string ByteAt(int64_t offset) {
    return "byte " + std::to_string(offset);
}

// A file read from start to end in blocks of whole records.
class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile() { Close(); }

    // Opens path; its size when opened is the size read. Throws InputError.
    void Open(const std::string& path) {
        Close();
        path_ = path;
        errno = 0;
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) Fail("", std::strerror(errno != 0 ? errno : EIO));
        if (!S_ISREG(st.st_mode)) Fail("", "is no regular file");
        size_ = st.st_size;
        at_ = 0;
        have_ = used_ = 0;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int64_t Size() const { return size_; }
    int64_t Offset() const { return at_; }

    // The next n bytes (n at most kBlock), or nullptr at the end of the size when opened.
    // Throws InputError for a read error or a file that became shorter.
    const uint8_t* Next(size_t n) {
        if (at_ + static_cast<int64_t>(n) > size_) return nullptr;
        if (have_ - used_ < n) {
            std::memmove(buf_.data(), buf_.data() + used_, have_ - used_);
            have_ -= used_;
            used_ = 0;
            const auto want = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(buf_.size() - have_), size_ - at_ - have_));
            size_t got = 0;
            while (got < want) {
                const ssize_t r = ::read(fd_, buf_.data() + have_ + got, want - got);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0)
                    Fail(ByteAt(at_ + static_cast<int64_t>(have_ + got)), std::strerror(errno));
                if (r == 0) {
                    Fail(ByteAt(at_ + static_cast<int64_t>(have_ + got)),
                         "the file ended before the size it had when it was opened");
                }
                got += static_cast<size_t>(r);
            }
            have_ += got;
        }
        const uint8_t* p = buf_.data() + used_;
        used_ += n;
        at_ += static_cast<int64_t>(n);
        return p;
    }

    [[noreturn]] void Fail(const std::string& place, const std::string& what) const {
        throw InputError(PrintableName(path_), place, what);
    }

private:
    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t at_ = 0;
    std::array<uint8_t, 1 << 16> buf_{};
    size_t have_ = 0, used_ = 0;
};

// The header of a TK1 file, checked for what every TK1 header holds.
tk1::Header ReadHeader(RecordFile& f) {
    if (f.Size() < kHeaderBytes) {
        f.Fail("", "is too short for a TK1 file (" + std::to_string(f.Size()) + " bytes)");
    }
    const uint8_t* h = f.Next(kHeaderBytes);
    const std::span<const uint8_t> header(h, kHeaderBytes);
    if (!tk1::HasTK1Constants(header)) {
        f.Fail("", "is not a TK1 file: " + tk1::ConstantsMismatchText(header));
    }
    return tk1::DecodeHeader(std::span<const uint8_t, kHeaderBytes>(h, kHeaderBytes));
}

// What one TK1 file of the location holds, once checked.
struct FileInfo {
    std::string Path;
    tk1::Header Header;
    int64_t CountedMinutes = 0;
    std::optional<std::vector<tk1::RecordingRow>> Rows;
    std::optional<std::vector<tk1::LinkageLine>> Lines;
    size_t FirstRecording = 0;  // its recordings' first index among the location's
};

// Walks the whole body and refuses a file that does not have the shape of a finished one.
void CheckBody(RecordFile& f, FileInfo& info) {
    tk1::BodyWalk walk(info.Header.StartMin);
    int64_t records = (f.Size() - kHeaderBytes) / kRecordBytes;
    for (; records > 0; --records) {
        const int64_t offset = f.Offset();
        const uint8_t* r = f.Next(kRecordBytes);
        const tk1::RecordView v = walk.Next(r);
        if (walk.LeadBad()) f.Fail(ByteAt(offset), "no lead minute record where the body begins");
        if (v.AfterEnd) f.Fail(ByteAt(offset), "data after the end record");
        if (v.Kind == tk1::RecordKind::Click &&
            tk1::BigEndian(r, 3) >= static_cast<uint32_t>(tk1::kTimeUnitsPerMinute)) {
            f.Fail(ByteAt(offset), "a click time beyond the end of its minute");
        }
    }
    const int64_t tail = (f.Size() - kHeaderBytes) % kRecordBytes;
    if (tail != 0) {
        f.Fail(ByteAt(f.Size() - tail),
               "a partial record of " + std::to_string(tail) + " bytes at the end");
    }
    if (!walk.EndSeen()) f.Fail(ByteAt(f.Size()), "no end record (the file was not finalised)");
    if (info.Header.MinuteCount != walk.CountedMinutes()) {
        f.Fail(ByteAt(tk1::hdrMinuteCount),
               "the header counts " + std::to_string(info.Header.MinuteCount) +
                   " minute records, the file holds " + std::to_string(walk.CountedMinutes()));
    }
    info.CountedMinutes = walk.CountedMinutes();
}

std::optional<std::string> ReadText(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw InputError(PrintableName(path), "", std::strerror(errno));
    std::string text;
    char buf[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw InputError(PrintableName(path), "", std::strerror(EIO));
    return text;
}

// The side files beside a TK1 file: its recordings table, else its linkage file.
void ReadSideFiles(FileInfo& info) {
    const std::string stem(Utf8DropRight(info.Path, 4));
    const std::string tablePath = stem + ".recordings.csv";
    if (const std::optional<std::string> text = ReadText(tablePath)) {
        auto parsed = tk1::DecodeRecordingsTable(*text);
        if (const std::string* error = std::get_if<std::string>(&parsed)) {
            throw InputError(PrintableName(tablePath), "", *error);
        }
        info.Rows = std::move(std::get<std::vector<tk1::RecordingRow>>(parsed));
    }
    const std::string linkagePath = stem + ".txt";
    if (const std::optional<std::string> text = ReadText(linkagePath)) {
        tk1::LinkageText linkage = tk1::DecodeLinkage(*text);
        if (!linkage.BadLines.empty()) {
            throw InputError(PrintableName(linkagePath),
                             "line " + std::to_string(linkage.BadLines.front()),
                             "no source linkage line (minute, tab, path)");
        }
        if (info.Rows && info.Rows->size() != linkage.Lines.size()) {
            throw InputError(PrintableName(tablePath), "",
                             "it has " + std::to_string(info.Rows->size()) + " rows for the " +
                                 std::to_string(linkage.Lines.size()) +
                                 " recordings of the source linkage file");
        }
        info.Lines = std::move(linkage.Lines);
    }
}

}  // namespace

InputError::InputError(std::string path, std::string place, const std::string& what)
    : std::runtime_error(path + ": " + (place.empty() ? "" : place + ": ") + what),
      path_(std::move(path)),
      place_(std::move(place)) {}

std::string LocationOfTK1Name(const std::string& path) {
    std::string name(FileNamePart(path));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    // " yyyy mm dd": the date string of the name, as its recordings' names gave it.
    const size_t n = name.size();
    if (n > 11 && name[n - 11] == ' ' && name[n - 6] == ' ' && name[n - 3] == ' ') {
        name.erase(n - 11);
    }
    return name;
}

std::vector<LocationFiles> GatherLocations(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const std::string& p : paths) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (!fs::exists(st)) {
            throw InputError(
                PrintableName(p), "",
                ec && ec != std::errc::no_such_file_or_directory ? ec.message() : "does not exist");
        }
        if (!fs::is_directory(st)) {
            files.push_back(p);
            continue;
        }
        size_t found = 0;
        fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
            for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::error_code fileEc;
            if (ext == ".tk1" && it->is_regular_file(fileEc) && name[0] != '.') {
                files.push_back(it->path().string());
                ++found;
            }
        }
        if (ec) throw InputError(PrintableName(p), "", ec.message());
        if (found == 0) throw InputError(PrintableName(p), "", "holds no TK1 files");
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    std::map<std::string, LocationFiles> byName;
    for (const std::string& f : files) {
        LocationFiles& l = byName[LocationOfTK1Name(f)];
        l.Location = LocationOfTK1Name(f);
        l.Tk1Paths.push_back(f);
    }
    std::vector<LocationFiles> out;
    for (auto& [name, l] : byName) out.push_back(std::move(l));
    return out;
}

struct LocationReader::Impl {
    std::string Location;
    std::vector<FileInfo> Files;
    std::vector<RecordingSpan> Recordings;
    std::vector<std::pair<int64_t, int64_t>> Effort;
    std::vector<std::string> Warnings;

    // The walk through the files.
    size_t File = 0;
    bool Opened = false;
    RecordFile Reader;
    std::optional<tk1::BodyWalk> Walk;
    std::optional<tk1::ClickSources> Sources;
    int64_t RecordsLeft = 0;
    // The clicks of one minute, once the minute is complete.
    int64_t HeldMinute = 0;
    std::vector<tk1::Click> Held;
    std::vector<int32_t> HeldTimes;
    std::vector<TimedClick> Ready;
    size_t ReadyAt = 0;

    void Start(size_t file) {
        File = file;
        Opened = false;
        Held.clear();
        HeldTimes.clear();
        Ready.clear();
        ReadyAt = 0;
    }

    // The clicks of the held minute, timed.
    void Release() {
        Ready.clear();
        ReadyAt = 0;
        if (Held.empty()) return;
        const FileInfo& info = Files[File];
        std::vector<tk1::ClickSource> sources;
        if (Sources) sources = Sources->Minute(HeldMinute, HeldTimes);
        for (size_t i = 0; i < Held.size(); ++i) {
            TimedClick c;
            c.Fields = Held[i];
            if (Sources && sources[i].Recording != tk1::ClickSource::kNone) {
                c.TimeUs = sources[i].TimeUs;
                c.Recording = static_cast<int32_t>(info.FirstRecording + sources[i].Recording);
            } else {
                c.TimeUs = HeldMinute * kMicrosecondsPerMinute +
                           int64_t{Held[i].ClkTime5MuSecs} * tk1::kMicrosecondsPerTimeUnit;
            }
            Ready.push_back(c);
        }
        Held.clear();
        HeldTimes.clear();
    }

    // Reads on until a minute's clicks are ready; false at the end of every file.
    bool Fill() {
        while (ReadyAt >= Ready.size()) {
            if (File >= Files.size()) return false;
            FileInfo& info = Files[File];
            if (!Opened) {
                Reader.Open(info.Path);
                ReadHeader(Reader);
                Walk.emplace(info.Header.StartMin);
                Sources.reset();
                if (info.Rows) {
                    Sources.emplace(*info.Rows);
                } else if (info.Lines) {
                    Sources.emplace(*info.Lines);
                }
                RecordsLeft = (Reader.Size() - kHeaderBytes) / kRecordBytes;
                Opened = true;
            }
            if (RecordsLeft == 0) {
                Release();
                Reader.Close();
                ++File;
                Opened = false;
                continue;
            }
            --RecordsLeft;
            const uint8_t* r = Reader.Next(kRecordBytes);
            if (r == nullptr) Reader.Fail(ByteAt(Reader.Offset()), "the file became shorter");
            const tk1::RecordView v = Walk->Next(r);
            if (v.AfterEnd) continue;
            if (v.Kind == tk1::RecordKind::Click) {
                if (Held.empty()) HeldMinute = v.Minute;
                const tk1::Click c = tk1::DecodeClick(r);
                Held.push_back(c);
                HeldTimes.push_back(c.ClkTime5MuSecs);
            } else if (!Held.empty()) {
                Release();
            }
        }
        return true;
    }
};

LocationReader::LocationReader(LocationFiles files) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.Location = std::move(files.Location);
    for (const std::string& path : files.Tk1Paths) {
        FileInfo info;
        info.Path = path;
        RecordFile f;
        f.Open(path);
        info.Header = ReadHeader(f);
        CheckBody(f, info);
        ReadSideFiles(info);
        d.Files.push_back(std::move(info));
    }
    std::stable_sort(d.Files.begin(), d.Files.end(), [](const FileInfo& a, const FileInfo& b) {
        return a.Header.StartMin < b.Header.StartMin;
    });
    bool minuteClock = false;
    for (FileInfo& info : d.Files) {
        info.FirstRecording = d.Recordings.size();
        const int64_t fileStart = int64_t{info.Header.StartMin} * kMicrosecondsPerMinute;
        const int64_t fileEnd = fileStart + info.CountedMinutes * kMicrosecondsPerMinute;
        if (info.Rows) {
            const std::vector<tk1::RecordingRow>& rows = *info.Rows;
            for (size_t i = 0; i < rows.size(); ++i) {
                const tk1::RecordingRow& row = rows[i];
                RecordingSpan span;
                span.Path = row.Path;
                span.StartUs = row.StartUs.value_or(row.PlacedUs);
                span.Zoned = row.Zoned;
                // A recording of unknown length lasts until the next one is placed.
                const int64_t length =
                    row.RateHz > 0 && row.Samples > 0
                        ? static_cast<int64_t>(static_cast<__int128>(row.Samples) *
                                               kMicrosecondsPerSecond / row.RateHz)
                        : (i + 1 < rows.size() ? rows[i + 1].PlacedUs : fileEnd) - row.PlacedUs;
                span.EndUs = span.StartUs + std::max<int64_t>(0, length);
                d.Recordings.push_back(span);
                d.Effort.emplace_back(span.StartUs, span.EndUs);
            }
        } else {
            minuteClock = true;
            if (info.Lines) {
                for (const tk1::LinkageLine& line : *info.Lines) {
                    RecordingSpan span;
                    span.Path = line.Path;
                    span.StartUs = int64_t{line.Minute} * kMicrosecondsPerMinute;
                    d.Recordings.push_back(span);
                }
                for (size_t i = info.FirstRecording; i < d.Recordings.size(); ++i) {
                    d.Recordings[i].EndUs =
                        i + 1 < d.Recordings.size() ? d.Recordings[i + 1].StartUs : fileEnd;
                }
            }
            d.Effort.emplace_back(fileStart, fileEnd);
        }
    }
    if (minuteClock) {
        d.Warnings.push_back(
            d.Location +
            ": no recordings table beside its TK1 file: times are minute-exact only (the TK1 "
            "minute clock), and every minute of the file counts as recorded");
    }
    d.Start(0);
}

LocationReader::~LocationReader() = default;

const std::string& LocationReader::Location() const {
    return impl_->Location;
}
const std::vector<RecordingSpan>& LocationReader::Recordings() const {
    return impl_->Recordings;
}
const std::vector<std::pair<int64_t, int64_t>>& LocationReader::Effort() const {
    return impl_->Effort;
}
const std::vector<std::string>& LocationReader::Warnings() const {
    return impl_->Warnings;
}

bool LocationReader::Next(TimedClick& click) {
    if (!impl_->Fill()) return false;
    click = impl_->Ready[impl_->ReadyAt++];
    return true;
}

void LocationReader::Rewind() {
    impl_->Reader.Close();
    impl_->Start(0);
}

void TrainIndex::Add(const Train& train) {
    const TrainLabel label{train.Number, train.Class, train.Quality, train.Encounter};
    for (const ChainKey key : train.Chains) {
        const auto at = std::upper_bound(
            byChain_.begin(), byChain_.end(), key,
            [](ChainKey k, const std::pair<ChainKey, TrainLabel>& e) { return k < e.first; });
        byChain_.insert(at, {key, label});
    }
}

const TrainLabel* TrainIndex::Find(ChainKey chain) const {
    const auto at = std::lower_bound(
        byChain_.begin(), byChain_.end(), chain,
        [](const std::pair<ChainKey, TrainLabel>& e, ChainKey k) { return e.first < k; });
    return at != byChain_.end() && at->first == chain ? &at->second : nullptr;
}

void FindTrains(LocationReader& reader, const TrainOptions& options, TrainQuality encounterQuality,
                const std::function<void(const Train&)>& onTrain) {
    reader.Rewind();
    TrainDetector detector(options);
    EncounterGrouper encounters(options, encounterQuality);
    Train train;
    auto drain = [&] {
        while (detector.NextTrain(train)) {
            encounters.Assign(train);
            onTrain(train);
        }
    };
    TimedClick click;
    while (reader.Next(click)) {
        detector.Feed(click);
        drain();
    }
    detector.Finish();
    drain();
}

struct ClickLabeller::Impl {
    Impl(LocationReader& reader, const TrainOptions& options, const TrainIndex& trains)
        : Reader(reader), Trains(trains), Detector(options, true) {}

    LocationReader& Reader;
    const TrainIndex& Trains;
    TrainDetector Detector;
    // The clicks fed whose chain is not settled yet, from sequence First.
    std::deque<std::pair<TimedClick, std::optional<ChainKey>>> Waiting;
    uint64_t First = 0;
    bool Finished = false;

    void Drain() {
        Train discarded;
        while (Detector.NextTrain(discarded)) {
        }
        uint64_t sequence = 0;
        ChainKey chain = kNoChain;
        while (Detector.NextSettled(sequence, chain)) Waiting[sequence - First].second = chain;
    }
};

ClickLabeller::ClickLabeller(LocationReader& reader, const TrainOptions& options,
                             const TrainIndex& trains)
    : impl_(std::make_unique<Impl>(reader, options, trains)) {
    reader.Rewind();
}

ClickLabeller::~ClickLabeller() = default;

bool ClickLabeller::Next(TimedClick& click, const TrainLabel*& label) {
    Impl& d = *impl_;
    while (d.Waiting.empty() || !d.Waiting.front().second) {
        if (d.Finished) return false;
        TimedClick next;
        if (d.Reader.Next(next)) {
            d.Waiting.emplace_back(next, std::nullopt);
            d.Detector.Feed(next);
        } else {
            d.Detector.Finish();
            d.Finished = true;
        }
        d.Drain();
    }
    click = d.Waiting.front().first;
    label = d.Trains.Find(*d.Waiting.front().second);
    d.Waiting.pop_front();
    ++d.First;
    return true;
}

void LabelClicks(LocationReader& reader, const TrainOptions& options, const TrainIndex& trains,
                 const std::function<void(const TimedClick&, const TrainLabel*)>& onClick) {
    ClickLabeller labeller(reader, options, trains);
    TimedClick click;
    const TrainLabel* label = nullptr;
    while (labeller.Next(click, label)) onClick(click, label);
}

}  // namespace wtk::presence
