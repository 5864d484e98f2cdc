#include "synth/archive_formats.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "base/calendar.h"
#include "input/wav_header.h"

namespace wtk::synth {
namespace {

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An open file descriptor, closed on leaving.
struct Fd {
    int fd = -1;
    explicit Fd(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

std::vector<uint8_t> ReadBytes(int fd, int64_t offset, size_t n) {
    std::vector<uint8_t> b(n);
    if (n > 0 && ::pread(fd, b.data(), n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n))
        throw std::runtime_error("cannot read the WAV file");
    return b;
}

// The harp chunk's body: the recording's fields, then one entry per raw file.
std::vector<uint8_t> HarpBody(const std::vector<RawFileSpec>& raws,
                              const std::vector<int64_t>& samples, int64_t dataOffset,
                              int32_t sampleRate) {
    std::vector<uint8_t> b(56 + 32 * raws.size(), 0);
    b[0] = 1;                              // version
    std::memcpy(&b[1], "V2.10     ", 10);  // firmware
    std::memcpy(&b[11], "SYNT", 4);        // instrument
    std::memcpy(&b[15], "TEST", 4);        // site
    std::memcpy(&b[19], "SYNTHXWV", 8);    // experiment
    b[27] = 1;                             // disk sequence number
    std::memcpy(&b[28], "00000001", 8);    // disk serial number
    b[36] = static_cast<uint8_t>(raws.size());
    b[37] = static_cast<uint8_t>(raws.size() >> 8);
    int64_t at = dataOffset;
    for (size_t i = 0; i < raws.size(); ++i) {
        uint8_t* e = &b[56 + 32 * i];
        const int64_t us = raws[i].StartUtcMicroseconds;
        const FloorDivision day = FloorDivide(us, int64_t{kSecondsPerDay} * 1'000'000);
        const CivilDate date = CivilFromDayNumber(day.Quotient);
        const int64_t ms = day.Remainder / 1000;
        if (date.Year < 2000 || date.Year > 2255 || us % 1000 != 0)
            throw std::invalid_argument("a raw file's start is no millisecond of 2000 ... 2255");
        e[0] = static_cast<uint8_t>(date.Year - 2000);
        e[1] = static_cast<uint8_t>(date.Month);
        e[2] = static_cast<uint8_t>(date.Day);
        e[3] = static_cast<uint8_t>(ms / 3'600'000);
        e[4] = static_cast<uint8_t>(ms / 60'000 % 60);
        e[5] = static_cast<uint8_t>(ms / 1000 % 60);
        e[6] = static_cast<uint8_t>(ms % 1000);
        e[7] = static_cast<uint8_t>(ms % 1000 >> 8);
        const int64_t bytes = 2 * samples[i];
        PutU32(e + 8, static_cast<uint32_t>(at));
        PutU32(e + 12, static_cast<uint32_t>(bytes));
        PutU32(e + 16, static_cast<uint32_t>(bytes / 512));  // blocks written
        PutU32(e + 20, static_cast<uint32_t>(sampleRate));
        e[24] = 1;  // gain
        at += bytes;
    }
    return b;
}

}  // namespace

XwavResult WriteXwav(const std::string& path, const std::vector<RawFileSpec>& raws) {
    if (raws.empty() || raws.size() > 65535)
        throw std::invalid_argument("an XWAV file holds 1 ... 65535 raw files");
    std::vector<int64_t> samples;
    for (const RawFileSpec& r : raws) {
        if (r.Spec.SampleRate != raws.front().Spec.SampleRate)
            throw std::invalid_argument("raw files of different rates");
        samples.push_back(SampleCount(r.Spec));
    }
    // RIFF header 12, fmt chunk 24, harp chunk 8 + body, data chunk header 8.
    const int64_t dataOffset = 12 + 24 + 8 + 56 + 32 * static_cast<int64_t>(raws.size()) + 8;
    const int32_t rate = raws.front().Spec.SampleRate;
    const std::vector<uint8_t> harp = HarpBody(raws, samples, dataOffset, rate);
    // Each raw file's samples are written as a recording of their own, then gathered.
    XwavResult result;
    result.DataOffset = dataOffset;
    std::vector<std::string> parts;
    int64_t dataBytes = 0;
    for (size_t i = 0; i < raws.size(); ++i) {
        parts.push_back(path + ".raw" + std::to_string(i + 1) + ".tmp");
        result.Raws.push_back(WriteWav(parts.back(), raws[i].Spec));
        dataBytes += 2 * result.Raws.back().Samples;
    }
    const std::array<uint8_t, kWavHeaderBytes> plain = WavHeader(rate, 0);
    std::vector<uint8_t> head(plain.begin(), plain.begin() + 36);  // RIFF header and fmt chunk
    const uint8_t harpHeader[8] = {'h', 'a', 'r', 'p', 0, 0, 0, 0};
    head.insert(head.end(), harpHeader, harpHeader + 8);
    PutU32(&head[head.size() - 4], static_cast<uint32_t>(harp.size()));
    head.insert(head.end(), harp.begin(), harp.end());
    const uint8_t dataHeader[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    head.insert(head.end(), dataHeader, dataHeader + 8);
    PutU32(&head[head.size() - 4], static_cast<uint32_t>(dataBytes));
    PutU32(&head[4], static_cast<uint32_t>(static_cast<int64_t>(head.size()) - 8 + dataBytes));
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr && std::fwrite(head.data(), 1, head.size(), out) == head.size();
    std::vector<uint8_t> buf(1 << 16);
    for (const std::string& part : parts) {
        std::FILE* in = std::fopen(part.c_str(), "rb");
        ok = ok && in != nullptr && std::fseek(in, kWavHeaderBytes, SEEK_SET) == 0;
        for (size_t n; ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0;)
            ok = std::fwrite(buf.data(), 1, n, out) == n;
        if (in != nullptr) std::fclose(in);
        std::remove(part.c_str());
    }
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::remove(path.c_str());
        throw std::runtime_error("cannot write " + path);
    }
    return result;
}

void WavToFlac(const std::string& wavPath, const std::string& flacPath, bool keepChunks,
               int compressionLevel) {
    const Fd wav(wavPath);
    if (wav.fd < 0) throw std::runtime_error("cannot open " + wavPath);
    const int64_t size = static_cast<int64_t>(std::filesystem::file_size(wavPath));
    const wtk::WavHeader h = ReadWavHeaderOfFd(wav.fd, size);
    const int bits = h.BitsPerSample;
    if (!h.FmtFound || !h.DataFound || h.FormatTag != kWavFormatPcm ||
        (bits != 8 && bits != 16 && bits != 24) || h.Channels < 1 || h.Channels > 8)
        throw std::runtime_error(wavPath + " is no WAV file of 8-, 16- or 24-bit PCM");
    const int bytes = bits / 8;
    const int64_t frameBytes = int64_t{bytes} * h.Channels;
    const int64_t end = h.DataSizeValid ? h.DataOffset + h.DataSize : size;
    const int64_t frames = (end - h.DataOffset) / frameBytes;

    // The WAV file's header and chunks as the encoder keeps them.
    std::vector<std::vector<uint8_t>> kept;
    if (keepChunks) {
        kept.push_back(ReadBytes(wav.fd, 0, 12));
        WalkRiffChunks(ReadAtFd(wav.fd), size, [&](const RiffChunkHeader& c) {
            const bool data = std::memcmp(c.Id.data(), "data", 4) == 0;
            const int64_t length = data ? 8 : c.NextOffset - (c.BodyOffset - 8);
            kept.push_back(ReadBytes(wav.fd, c.BodyOffset - 8, static_cast<size_t>(length)));
            return c.Complete;
        });
    }
    std::vector<FLAC__StreamMetadata*> blocks;
    auto freeBlocks = [&] {
        for (FLAC__StreamMetadata* b : blocks) FLAC__metadata_object_delete(b);
    };
    for (std::vector<uint8_t>& k : kept) {
        FLAC__StreamMetadata* b = FLAC__metadata_object_new(FLAC__METADATA_TYPE_APPLICATION);
        std::memcpy(b->data.application.id, "riff", 4);
        FLAC__metadata_object_application_set_data(b, k.data(), static_cast<unsigned>(k.size()),
                                                   true);
        blocks.push_back(b);
    }
    FLAC__StreamEncoder* enc = FLAC__stream_encoder_new();
    bool ok = enc != nullptr;
    if (ok) {
        FLAC__stream_encoder_set_channels(enc, h.Channels);
        FLAC__stream_encoder_set_bits_per_sample(enc, static_cast<unsigned>(bits));
        FLAC__stream_encoder_set_sample_rate(enc, h.SampleRate);
        FLAC__stream_encoder_set_streamable_subset(enc, false);
        FLAC__stream_encoder_set_compression_level(enc, static_cast<unsigned>(compressionLevel));
        FLAC__stream_encoder_set_total_samples_estimate(enc, static_cast<uint64_t>(frames));
        if (!blocks.empty()) {
            FLAC__stream_encoder_set_metadata(enc, blocks.data(),
                                              static_cast<unsigned>(blocks.size()));
        }
        ok = FLAC__stream_encoder_init_file(enc, flacPath.c_str(), nullptr, nullptr) ==
             FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    }
    constexpr int64_t kFrames = 4096;
    std::vector<FLAC__int32> values(static_cast<size_t>(kFrames * h.Channels));
    for (int64_t done = 0; ok && done < frames;) {
        const int64_t n = std::min(kFrames, frames - done);
        const std::vector<uint8_t> raw = ReadBytes(wav.fd, h.DataOffset + done * frameBytes,
                                                   static_cast<size_t>(n * frameBytes));
        for (int64_t i = 0; i < n * h.Channels; ++i) {
            const uint8_t* p = raw.data() + i * bytes;
            int32_t v = 0;
            if (bytes == 1) {
                v = int32_t{p[0]} - 128;
            } else {
                // Little-endian, sign from the top byte.
                uint32_t u = 0;
                for (int k = bytes - 1; k >= 0; --k) u = (u << 8) | p[k];
                v = static_cast<int32_t>(u << (32 - 8 * bytes)) >> (32 - 8 * bytes);
            }
            values[static_cast<size_t>(i)] = v;
        }
        ok = FLAC__stream_encoder_process_interleaved(enc, values.data(), static_cast<unsigned>(n));
        done += n;
    }
    if (enc != nullptr) {
        ok = FLAC__stream_encoder_finish(enc) && ok;
        FLAC__stream_encoder_delete(enc);
    }
    freeBlocks();
    if (!ok) {
        std::remove(flacPath.c_str());
        throw std::runtime_error("cannot encode " + flacPath);
    }
}

}  // namespace wtk::synth
