#include "synth/tk1_sketch.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/calendar.h"
#include "output/amplitude_scale.h"

namespace wtk::synth {

TK1Sketch::TK1Sketch(const std::string& path, int32_t startMin)
    : path_(path), startMin_(startMin), minute_(startMin) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) throw std::runtime_error("cannot create " + path);
    std::vector<uint8_t> header(tk1::kHeaderBytes);
    tk1::Header h;
    h.StartMin = static_cast<uint32_t>(startMin);
    h.DeadBandSetting = 20;
    h.MinAnyIPI = 8;
    h.MaxStartIPI = 90;
    tk1::PutCreationFields(header, h);
    buffer_ = header;
    Put(tk1::LeadRecord());
    Put(tk1::EncodeMinute({0, 64}));
}

TK1Sketch::~TK1Sketch() {
    if (file_ != nullptr) std::fclose(file_);
}

void TK1Sketch::Put(const tk1::Record& r) {
    buffer_.insert(buffer_.end(), r.begin(), r.end());
    if (buffer_.size() >= (1u << 20)) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            throw std::runtime_error("cannot write " + path_);
        }
        buffer_.clear();
    }
}

void TK1Sketch::Click(int64_t minute, const tk1::Click& click) {
    while (minute_ < minute) {
        Put(tk1::EncodeMinute({0, 64}));
        ++minute_;
    }
    Put(tk1::EncodeClick(click));
}

void TK1Sketch::Finish(int64_t lastMinute) {
    while (minute_ < lastMinute) {
        Put(tk1::EncodeMinute({0, 64}));
        ++minute_;
    }
    Put(tk1::EndRecord());
    const bool wrote = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    // The counts: the header's first 1024 bytes are written again.
    const int32_t counted = static_cast<int32_t>(minute_ - startMin_ + 1);
    std::vector<uint8_t> header(tk1::kHeaderBytes);
    bool read = std::fflush(file_) == 0;
    std::FILE* in = read ? std::fopen(path_.c_str(), "rb") : nullptr;
    read = in != nullptr && std::fread(header.data(), 1, header.size(), in) == header.size();
    if (in != nullptr) std::fclose(in);
    tk1::PutFinalisationFields(header, startMin_ + counted, startMin_, counted);
    const bool patched = read && std::fseek(file_, 0, SEEK_SET) == 0 &&
                         std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!wrote || !patched || !closed) throw std::runtime_error("cannot write " + path_);
}

void WriteSketchSideFiles(const std::string& tk1Path, const std::vector<tk1::RecordingRow>& rows) {
    const std::string stem = tk1Path.substr(0, tk1Path.size() - 4);
    std::string table = std::string(tk1::kRecordingsHeading) + "\r\n";
    std::string linkage;
    for (const tk1::RecordingRow& row : rows) {
        table += tk1::EncodeRecordingRow(row) + "\r\n";
        linkage += tk1::EncodeLinkageLine(
            static_cast<int32_t>(FloorDivide(row.PlacedUs, kMicrosecondsPerMinute).Quotient),
            row.Path);
    }
    for (const auto& [name, text] :
         {std::pair{stem + ".recordings.csv", table}, std::pair{stem + ".txt", linkage}}) {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        const bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f == nullptr || std::fclose(f) != 0 || !ok) {
            throw std::runtime_error("cannot write " + name);
        }
    }
}

namespace {

// The largest amplitude byte whose linear value is at most linear.
uint8_t CodeOfLinear(int32_t linear) {
    int32_t code = 0;
    while (code < 255 && tk1::LinearAmplitude(static_cast<uint8_t>(code + 1)) <= linear) ++code;
    return static_cast<uint8_t>(code);
}

}  // namespace

tk1::Click SketchClick(int64_t timeInMinuteUs, double khz, int cycles, int pmax, int spread) {
    tk1::Click c;
    c.ClkTime5MuSecs = static_cast<int32_t>(timeInMinuteUs / tk1::kMicrosecondsPerTimeUnit);
    const int ipi = std::clamp(static_cast<int>(std::lround(4000 / khz)), 1, 254);
    c.Ncyc = static_cast<uint8_t>(std::clamp(cycles, 0, 255));
    c.PkAtPosn = static_cast<uint8_t>(std::min(cycles / 2, 15));
    c.IPIrangeCode = static_cast<uint8_t>(std::clamp(spread, 0, 15));
    c.IPIpreMax = c.IPIPostMax = c.IPIPost1 = c.IPIPost2 = static_cast<uint8_t>(ipi);
    c.Pmax = static_cast<uint8_t>(std::clamp(pmax, 0, 255));
    // A tone's peaks around its largest are nearly as high: nine tenths of it.
    c.PkMinus1 = c.PkPlus1 = CodeOfLinear(tk1::LinearAmplitude(c.Pmax) * 9 / 10);
    c.IPIbefore = 255;
    c.DurationLow = static_cast<uint8_t>(std::min(cycles * ipi, 255));
    c.PreLastIPI = static_cast<uint8_t>(ipi & 0xFE);
    return c;
}

}  // namespace wtk::synth
