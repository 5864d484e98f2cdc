#include "input/recording_layout.h"

#include <algorithm>

namespace wtk {
namespace {

// The samples of one channel that would fill the bytes from a first sample byte up to byte 100
// in a 16-bit file.
int64_t SkippedSamples(int64_t firstByte) {
    return firstByte < kSkippedHeaderBytes ? (kSkippedHeaderBytes - firstByte + 1) / 2 : 0;
}

bool Allowed(const FormatNeeds& needs, const ReadOptions& o, uint16_t channels) {
    return (!needs.SixteenBit || o.ToSixteenBit) && (!needs.Channel || o.Channel >= 1) &&
           o.Channel <= channels;
}

}  // namespace

std::optional<SampleFormat> SampleFormatOf(const WavHeader& h) {
    if (!h.FmtFound || h.Channels == 0) return std::nullopt;
    SampleFormat f;
    f.Channels = h.Channels;
    if (h.Flac) {
        if (h.BitsPerSample < 4 || h.BitsPerSample > 32) return std::nullopt;
        f.Bits = static_cast<uint8_t>(h.BitsPerSample);
        f.Bytes = static_cast<uint8_t>((h.BitsPerSample + 7) / 8);
        return f;
    }
    const uint16_t code = h.FormatTag == kWavFormatExtensible ? h.SubFormat : h.FormatTag;
    const uint16_t bits = h.BitsPerSample;
    if (code == kWavFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
        f.Coding = bits == 8 ? SampleCoding::UnsignedInt8 : SampleCoding::Int;
    } else if (code == kWavFormatFloat && (bits == 32 || bits == 64)) {
        f.Coding = SampleCoding::Float;
    } else {
        return std::nullopt;
    }
    f.Bits = static_cast<uint8_t>(bits);
    f.Bytes = static_cast<uint8_t>(bits / 8);
    // Frames of any other size than their samples take cannot be told apart; a 16-bit file of
    // one channel is read as its bytes stand, whatever its header says of them.
    const bool plain = f.Coding == SampleCoding::Int && bits == 16 && f.Channels == 1;
    if (!plain && h.BlockAlign != static_cast<uint32_t>(f.Channels) * f.Bytes) return std::nullopt;
    return f;
}

FormatNeeds NeedsOf(const SampleFormat& f) {
    return {!(f.Coding == SampleCoding::Int && f.Bits == 16), f.Channels > 1};
}

FormatFit ClassifyRecording(const WavHeader& h, const ReadOptions& o) {
    const WavFit plain = ClassifyWav(h);
    if (plain == WavFit::Unknown) return FormatFit::Unknown;
    if (h.TooManyChunks) return FormatFit::Unfit;  // where the samples are is not known
    const std::optional<SampleFormat> f = SampleFormatOf(h);
    if (!f) return FormatFit::Unfit;
    if (o.Channel > f->Channels) return FormatFit::FewerChannels;
    return Allowed(NeedsOf(*f), o, f->Channels) ? FormatFit::Fit : FormatFit::NeedsChoice;
}

int64_t RecordingLayout::Samples() const {
    switch (Read) {
        case Reading::Bytes16:
            return std::max<int64_t>(End - Begin, 0) / 2;
        case Reading::Frames:
            return std::max<int64_t>(End - Begin, 0) /
                   std::max<int64_t>(int64_t{Format.Channels} * Format.Bytes, 1);
        case Reading::Flac:
            return End < 0 ? 0 : std::max<int64_t>(End - Begin, 0);
    }
    return 0;
}

RecordingLayout LayoutOf(const WavHeader& h, const RawFile& raw, const ReadOptions& o) {
    RecordingLayout L;
    L.StreamRate = h.SampleRate;
    const std::optional<SampleFormat> f = SampleFormatOf(h);
    if (f) L.Format = *f;
    const int64_t frameBytes = std::max<int64_t>(int64_t{L.Format.Channels} * L.Format.Bytes, 1);
    // A FLAC stream without a STREAMINFO (read only with --ignore-headers) is bytes as any
    // file whose header tells nothing.
    if (h.Flac && f) {
        L.Read = RecordingLayout::Reading::Flac;
        L.Channel = o.Channel >= 1 && o.Channel <= L.Format.Channels
                        ? static_cast<uint16_t>(o.Channel - 1)
                        : 0;
        // Samples of the WAV file the stream was made from, counted from its data chunk.
        const int64_t from = raw.Number > 0 ? raw.ByteOffset : h.DataOffset;
        L.Begin = std::max<int64_t>(from - h.DataOffset, 0) / frameBytes + SkippedSamples(from);
        L.End =
            raw.Number > 0
                ? std::max<int64_t>(raw.ByteOffset + raw.ByteLength - h.DataOffset, 0) / frameBytes
                : (h.FlacSamples > 0 ? h.FlacSamples : -1);
        if (h.FlacSamples > 0) L.End = std::min(L.End, h.FlacSamples);
        if (L.End >= 0) L.End = std::max(L.End, L.Begin);
        L.ToStreamEnd = raw.Number == 0;
        return L;
    }
    if (!f || !(NeedsOf(*f).SixteenBit || NeedsOf(*f).Channel) ||
        !Allowed(NeedsOf(*f), o, f->Channels)) {
        L.Read = RecordingLayout::Reading::Bytes16;
        if (raw.Number > 0) {
            L.Begin = std::max(kSkippedHeaderBytes, raw.ByteOffset);
            L.End = std::max(L.Begin, std::min(raw.ByteOffset + raw.ByteLength, h.FileSize));
        } else {
            const SampleByteRange r = SampleBytes(h);
            L.Begin = r.Begin;
            L.End = r.End;
        }
        return L;
    }
    L.Read = RecordingLayout::Reading::Frames;
    L.Channel = o.Channel >= 1 ? static_cast<uint16_t>(o.Channel - 1) : 0;
    int64_t from = kSkippedHeaderBytes, to = h.FileSize;
    if (raw.Number > 0) {
        from = raw.ByteOffset;
        to = raw.ByteOffset + raw.ByteLength;
    } else if (h.DataFound) {
        from = h.DataOffset;
        if (h.DataSizeValid) to = h.DataOffset + h.DataSize;
    }
    to = std::min(to, h.FileSize);
    L.Begin = from + SkippedSamples(from) * frameBytes;
    L.End = L.Begin + std::max<int64_t>(to - L.Begin, 0) / frameBytes * frameBytes;
    return L;
}

}  // namespace wtk
