#include "input/recording_source.h"

#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include "input/flac_frames.h"
#include "input/sample_conversion.h"

namespace wtk {
namespace {

// Reads up to n bytes at offset; the count read (short only at the end of the file), -1 with
// errno when the first read fails (a later failure shows at the next call).
int64_t ReadAt(int fd, uint8_t* buf, int64_t n, int64_t offset) {
    int64_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, buf + got, static_cast<size_t>(n - got), offset + got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return got > 0 ? got : -1;
        }
        if (r == 0) break;
        got += r;
    }
    return got;
}

// Bytes of a WAV file: as they stand (16-bit samples of one channel), or frames whose channel
// is converted.
class WavSource final : public RecordingSource {
public:
    WavSource(int fd, const RecordingLayout& layout)
        : fd_(fd), layout_(layout), pos_(layout.Begin), end_(std::max(layout.End, layout.Begin)) {
        if (layout_.Read == RecordingLayout::Reading::Frames) {
            frameBytes_ = int64_t{layout_.Format.Channels} * layout_.Format.Bytes;
            scratch_.resize(static_cast<size_t>(std::max<int64_t>(kScratchBytes, frameBytes_)));
        }
    }

    int64_t Read(uint8_t* out, int64_t n) override {
        if (layout_.Read == RecordingLayout::Reading::Bytes16) {
            const int64_t want = std::max<int64_t>(0, std::min(2 * n, end_ - pos_));
            int64_t got = want > 0 ? ReadAt(fd_, out, want, pos_) : 0;
            if (got < 0) {
                Fail();
                got = 0;
            }
            pos_ += got;
            return got / 2;  // an odd last byte is no sample
        }
        int64_t samples = 0;
        const int64_t perChunk = static_cast<int64_t>(scratch_.size()) / frameBytes_;
        while (samples < n && pos_ < end_) {
            const int64_t frames = std::min({n - samples, perChunk, (end_ - pos_) / frameBytes_});
            if (frames <= 0) break;
            const int64_t got = ReadAt(fd_, scratch_.data(), frames * frameBytes_, pos_);
            if (got < 0) {
                Fail();
                break;
            }
            const int64_t whole = got / frameBytes_;
            ConvertFrames(scratch_.data(), whole, layout_.Format, layout_.Channel,
                          out + 2 * samples);
            samples += whole;
            pos_ += got;
            if (got < frames * frameBytes_) break;  // the file is shorter than it was
        }
        return samples;
    }

    bool AtEnd() const override { return pos_ >= end_ || failure_.has_value(); }
    int64_t Tell() const override { return pos_; }
    int64_t SamplesBefore(int64_t place) const override {
        return std::max<int64_t>(place - layout_.Begin, 0) / frameBytes_;
    }
    void Seek(int64_t place) override {
        pos_ = place;
        failure_.reset();  // read again, as a first read would be
    }
    const ReadFailure* Failure() const override { return failure_ ? &*failure_ : nullptr; }

private:
    static constexpr int64_t kScratchBytes = 64 * 1024;

    void Fail() {
        failure_ = ReadFailure{};
        failure_->Errno = errno != 0 ? errno : EIO;
    }

    int fd_;
    RecordingLayout layout_;
    int64_t pos_;
    int64_t end_;
    int64_t frameBytes_ = 2;
    std::vector<uint8_t> scratch_;
    std::optional<ReadFailure> failure_;
};

// A FLAC stream decoded frame by frame: the samples [Begin, End) of the chosen channel.
//
// libFLAC reads the metadata and finds the first frame. From there, where the stream is read
// from its start, the frames go to FlacFrameDecoder, which reads the file itself into a buffer of
// its own and is much quicker on the frames recorders write. The first frame it does not vouch
// for (damage, a cut, anything unusual), a frame that does not follow the one before, or a seek
// outside the frame in hand hands the stream to libFLAC, which was left at the first frame and so
// decodes the stream again from there, leaving out the samples already given: whatever the
// stream holds, the samples and failures are libFLAC's.
class FlacSource final : public RecordingSource {
public:
    FlacSource(int fd, int64_t fileSize, const RecordingLayout& layout, FlacDecoding decoding)
        : fd_(fd), size_(fileSize), layout_(layout), decoding_(decoding), bufStart_(layout.Begin) {}
    ~FlacSource() override {
        if (decoder_ != nullptr) FLAC__stream_decoder_delete(decoder_);
    }
    FlacSource(const FlacSource&) = delete;
    FlacSource& operator=(const FlacSource&) = delete;

    int64_t Read(uint8_t* out, int64_t n) override {
        int64_t got = 0;
        while (got < n) {
            const int64_t have = std::min<int64_t>(bufLen_ - bufPos_, Limit() - Tell());
            if (have > 0) {
                const int64_t k = std::min(n - got, have);
                std::memcpy(out + 2 * got, buf_.data() + 2 * bufPos_, static_cast<size_t>(2 * k));
                bufPos_ += k;
                got += k;
                continue;
            }
            if (Ended()) break;
            DecodeFrame();
        }
        return got;
    }

    bool AtEnd() const override {
        return Ended() && Tell() >= std::min(bufStart_ + bufLen_, Limit());
    }
    int64_t Tell() const override { return bufStart_ + bufPos_; }
    int64_t SamplesBefore(int64_t place) const override {
        return std::max<int64_t>(place - layout_.Begin, 0);
    }

    void Seek(int64_t place) override {
        if (place >= bufStart_ && place <= bufStart_ + bufLen_) {
            bufPos_ = place - bufStart_;
            return;
        }
        bufStart_ = place;
        bufPos_ = bufLen_ = 0;
        ended_ = layout_.End >= 0 && !layout_.ToStreamEnd && place >= layout_.End;
        if (ended_) return;
        if (decoder_ == nullptr) {
            if (!started_) Start();  // positioned at the place
            return;
        }
        if (fast_) HandOver();
        SeekDecoder(place);
    }

    const ReadFailure* Failure() const override { return failure_ ? &*failure_ : nullptr; }

private:
    // The first sample not to give: the layout's end (none for a whole stream), or a
    // failure's point.
    int64_t Limit() const {
        int64_t limit = layout_.End >= 0 && !layout_.ToStreamEnd ? layout_.End : INT64_MAX;
        if (failure_) limit = std::min(limit, failure_->StreamSample);
        return limit;
    }
    bool Ended() const { return ended_ || decoded_ >= Limit(); }

    void Fail(std::string what, int64_t at, int err = 0) {
        ended_ = true;
        if (failure_ && failure_->StreamSample <= at) return;  // the first one counts
        failure_ = ReadFailure{};
        failure_->Errno = err;
        failure_->What = std::move(what);
        failure_->Stream = true;
        failure_->StreamSample = at;
        failure_->StreamRate = layout_.StreamRate;
    }

    // The decoder, at the next sample to give; false (with a failure) when it cannot start.
    bool Start() {
        started_ = true;
        buf_.assign(2 * size_t{FLAC__MAX_BLOCK_SIZE}, 0);
        decoder_ = FLAC__stream_decoder_new();
        if (decoder_ == nullptr) {
            Fail("no memory for a decoder", Wanted());
            return false;
        }
        FLAC__stream_decoder_set_md5_checking(decoder_, false);
        FLAC__stream_decoder_set_metadata_ignore_all(decoder_);
        FLAC__stream_decoder_set_metadata_respond(decoder_, FLAC__METADATA_TYPE_STREAMINFO);
        if (FLAC__stream_decoder_init_stream(decoder_, &ReadCallback, &SeekCallback, &TellCallback,
                                             &LengthCallback, &EofCallback, &WriteCallback,
                                             &MetadataCallback, &ErrorCallback,
                                             this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_)) {
            Fail(readErrno_ != 0 ? std::string() : "it is no FLAC stream that can be decoded", 0,
                 readErrno_);
            FLAC__stream_decoder_delete(decoder_);
            decoder_ = nullptr;
            return false;
        }
        // Far into the stream (a raw file of an XWAV file) the decoder seeks; near its start the
        // samples before are decoded and left out.
        decoded_ = 0;
        if (Wanted() > int64_t{FLAC__MAX_BLOCK_SIZE}) return SeekDecoder(Wanted());
        if (!StartFast() && decoding_ == FlacDecoding::FastOnly) {
            Fail("the frame decoder does not take it", 0);
        }
        return true;
    }

    // The frames from here on to FlacFrameDecoder, where it takes the stream.
    bool StartFast() {
        if (decoding_ == FlacDecoding::LibFlacOnly || !info_ ||
            info_->Channels != layout_.Format.Channels ||
            info_->BitsPerSample != layout_.Format.Bits) {
            return false;
        }
        FLAC__uint64 at = 0;
        if (!FLAC__stream_decoder_get_decode_position(decoder_, &at)) return false;
        auto frames = std::make_unique<FlacFrameDecoder>(*info_);
        if (!frames->Takes()) return false;
        fast_ = std::move(frames);
        fastPos_ = static_cast<int64_t>(at);
        fastBuf_.assign(kFastBytes + FlacFrameDecoder::kPadding, 0);
        fastBegin_ = fastEnd_ = 0;
        fastEof_ = false;
        return true;
    }

    // From now on libFLAC decodes, from the first frame (decoded_ counts its frames again).
    void HandOver() {
        fast_.reset();
        fastBuf_ = {};
        decoded_ = 0;
    }

    // A frame FlacFrameDecoder does not give: libFLAC decodes from now on (false), or with
    // FastOnly the stream ends there (true).
    bool Refuse() {
        if (decoding_ != FlacDecoding::FastOnly) {
            HandOver();
            return false;
        }
        Fail("the frame decoder refuses a frame", decoded_);
        return true;
    }

    // The next frame by FlacFrameDecoder; false when it hands the stream to libFLAC instead.
    bool FastFrame() {
        for (;;) {
            const size_t n = fastEnd_ - fastBegin_;
            if (n == 0 && fastEof_) {
                // The stream ends after a whole frame: the end as libFLAC meets it.
                StreamEnded();
                return true;
            }
            size_t used = 0;
            const FlacFrameDecoder::Result r =
                n == 0 ? FlacFrameDecoder::Result::NeedMore
                       : fast_->Decode(fastBuf_.data() + fastBegin_, n, &used);
            if (r == FlacFrameDecoder::Result::Frame) {
                if (fast_->FirstSample() != decoded_ || used == 0 || used > n) return Refuse();
                fastBegin_ += used;
                GiveFrame(fast_->FirstSample(), fast_->BlockSize(),
                          fast_->Channel(layout_.Channel));
                return true;
            }
            if (r == FlacFrameDecoder::Result::Refused || fastEof_) return Refuse();
            // More bytes: the unread ones to the front, the buffer grown when one frame fills
            // it (up to a size no sound frame reaches).
            if (fastBegin_ > 0) {
                std::memmove(fastBuf_.data(), fastBuf_.data() + fastBegin_, n);
                fastBegin_ = 0;
                fastEnd_ = n;
            }
            const size_t room = fastBuf_.size() - FlacFrameDecoder::kPadding;
            if (fastEnd_ == room) {
                if (room >= kFastMaxBytes) return Refuse();
                fastBuf_.resize(2 * room + FlacFrameDecoder::kPadding);
            }
            // The file as long as it was when opened, as libFLAC reads it.
            const int64_t want = std::min<int64_t>(
                static_cast<int64_t>(fastBuf_.size() - FlacFrameDecoder::kPadding - fastEnd_),
                std::max<int64_t>(size_ - fastPos_, 0));
            const int64_t got =
                want > 0 ? ReadAt(fd_, fastBuf_.data() + fastEnd_, want, fastPos_) : 0;
            if (got < 0) {
                const int err = errno != 0 ? errno : EIO;
                Fail(std::string(), decoded_, err);
                return true;
            }
            fastPos_ += got;
            fastEnd_ += static_cast<size_t>(got);
            fastEof_ = got == 0;
        }
    }

    // The decoder moved to a sample, whose frame it then gives; false (with a failure) when it
    // cannot get there.
    bool SeekDecoder(int64_t place) {
        decoded_ = place;
        seeking_ = true;
        const bool ok = FLAC__stream_decoder_seek_absolute(decoder_, static_cast<uint64_t>(place));
        seeking_ = false;
        if (!ok) {
            FLAC__stream_decoder_flush(decoder_);
            Fail("it cannot be read from sample " + std::to_string(place), place);
        }
        return ok;
    }

    // The stream's sample that the next frame's samples are given from.
    int64_t Wanted() const { return bufStart_ + bufLen_; }

    void DecodeFrame() {
        if (decoder_ == nullptr) {
            if (started_ || !Start()) {
                ended_ = true;
                return;
            }
            if (bufPos_ < bufLen_) return;  // a decoder that starts with a seek gives its frame
        }
        if (fast_ && FastFrame()) return;
        const int64_t before = decoded_;
        const int64_t bytesBefore = pos_;
        if (!FLAC__stream_decoder_process_single(decoder_)) {
            Fail(readErrno_ != 0 ? std::string() : "the decoder stopped", decoded_, readErrno_);
            return;
        }
        if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM) {
            StreamEnded();
            return;
        }
        // A decoder that neither reads nor gives anything would never end.
        stalls_ = decoded_ == before && pos_ == bytesBefore ? stalls_ + 1 : 0;
        if (stalls_ > 16) Fail("the decoder makes no progress", decoded_);
    }

    void StreamEnded() {
        ended_ = true;
        if (layout_.End >= 0 && decoded_ < layout_.End) {
            Fail("the stream ends early, at sample " + std::to_string(decoded_) + " of " +
                     std::to_string(layout_.End),
                 decoded_);
        }
    }

    // The part of a frame of blocksize samples from start to give (data: the channel's samples).
    // A frame that ends before the samples wanted (one before the layout's first sample, or one
    // libFLAC decodes again after the hand-over) leaves the samples in hand as they are, so
    // that going back within them stays where it was.
    void GiveFrame(int64_t start, int64_t blocksize, const int32_t* data) {
        decoded_ = start + blocksize;
        if (start + blocksize <= Wanted()) return;
        const int64_t from = std::max<int64_t>(Wanted() - start, 0);
        const int64_t to = std::min<int64_t>(blocksize, Limit() - start);
        bufStart_ = start + from;
        bufPos_ = 0;
        bufLen_ = std::max<int64_t>(to - from, 0);
        IntsTo16(data + from, bufLen_, layout_.Format.Bits, buf_.data());
    }

    FLAC__StreamDecoderWriteStatus Write(const FLAC__Frame* frame, const FLAC__int32* const* data) {
        const int64_t start = frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER
                                  ? static_cast<int64_t>(frame->header.number.sample_number)
                                  : decoded_;
        const int64_t blocksize = frame->header.blocksize;
        if (start != decoded_) {
            Fail("samples " + std::to_string(decoded_) + " ... " + std::to_string(start - 1) +
                     " are missing",
                 decoded_);
        } else if (frame->header.channels != layout_.Format.Channels ||
                   frame->header.bits_per_sample != layout_.Format.Bits) {
            Fail("its format changes", decoded_);
        }
        if (ended_) return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        GiveFrame(start, blocksize, data[layout_.Channel]);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static std::string ErrorText(FLAC__StreamDecoderErrorStatus status) {
        switch (status) {
            case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC:
                return "it loses its frame sync (damaged or missing bytes)";
            case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER:
                return "a frame header is damaged";
            case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
                return "a frame's checksum does not match its samples";
            case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM:
                return "a frame is coded in a way this decoder cannot read";
            default:
                return "a metadata block is damaged";
        }
    }

    static FlacSource& Self(void* p) { return *static_cast<FlacSource*>(p); }

    static FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*,
                                                      FLAC__byte buffer[], size_t* bytes, void* p) {
        FlacSource& s = Self(p);
        if (*bytes == 0) return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
        const int64_t got = ReadAt(s.fd_, buffer, static_cast<int64_t>(*bytes), s.pos_);
        if (got < 0) {
            s.readErrno_ = errno != 0 ? errno : EIO;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        s.pos_ += got;
        *bytes = static_cast<size_t>(got);
        return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                        : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus SeekCallback(const FLAC__StreamDecoder*, FLAC__uint64 at,
                                                      void* p) {
        FlacSource& s = Self(p);
        if (at > static_cast<uint64_t>(s.size_)) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        s.pos_ = static_cast<int64_t>(at);
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus TellCallback(const FLAC__StreamDecoder*, FLAC__uint64* at,
                                                      void* p) {
        *at = static_cast<uint64_t>(Self(p).pos_);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus LengthCallback(const FLAC__StreamDecoder*,
                                                          FLAC__uint64* length, void* p) {
        *length = static_cast<uint64_t>(Self(p).size_);
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool EofCallback(const FLAC__StreamDecoder*, void* p) {
        return Self(p).pos_ >= Self(p).size_;
    }
    static FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder*,
                                                        const FLAC__Frame* frame,
                                                        const FLAC__int32* const buffer[],
                                                        void* p) {
        return Self(p).Write(frame, buffer);
    }
    static void MetadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m,
                                 void* p) {
        if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
        const FLAC__StreamMetadata_StreamInfo& si = m->data.stream_info;
        Self(p).info_ = FlacStreamInfo{si.min_blocksize, si.max_blocksize, si.sample_rate,
                                       si.channels, si.bits_per_sample};
    }
    static void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status,
                              void* p) {
        FlacSource& s = Self(p);
        // While seeking the decoder searches for frames and meets their edges on its way.
        if (!s.seeking_) s.Fail(ErrorText(status), s.decoded_);
    }

    // The frame decoder's buffer: first size, and the largest it grows to.
    static constexpr size_t kFastBytes = size_t{1} << 20;
    static constexpr size_t kFastMaxBytes = size_t{16} << 20;

    int fd_;
    int64_t size_;
    RecordingLayout layout_;
    FlacDecoding decoding_;
    FLAC__StreamDecoder* decoder_ = nullptr;
    std::optional<FlacStreamInfo> info_;  // the STREAMINFO libFLAC read
    // While FlacFrameDecoder decodes: the file's bytes [fastPos_ - (fastEnd_ - fastBegin_),
    // fastPos_) are fastBuf_[fastBegin_, fastEnd_); the end of the file was met (fastEof_).
    std::unique_ptr<FlacFrameDecoder> fast_;
    std::vector<uint8_t> fastBuf_;
    size_t fastBegin_ = 0;
    size_t fastEnd_ = 0;
    int64_t fastPos_ = 0;
    bool fastEof_ = false;
    bool started_ = false;
    bool seeking_ = false;
    bool ended_ = false;
    int readErrno_ = 0;
    int stalls_ = 0;
    int64_t pos_ = 0;           // the decoder's next byte
    int64_t decoded_ = 0;       // the stream's first sample not yet decoded
    std::vector<uint8_t> buf_;  // the samples of the last frame decoded, from bufStart_
    int64_t bufStart_ = 0;
    int64_t bufLen_ = 0;
    int64_t bufPos_ = 0;
    std::optional<ReadFailure> failure_;
};

}  // namespace

std::unique_ptr<RecordingSource> OpenRecordingSource(int fd, int64_t fileSize,
                                                     const RecordingLayout& layout,
                                                     FlacDecoding flac) {
    // Read once from start to end.
    const int64_t from = layout.Read == RecordingLayout::Reading::Flac ? 0 : layout.Begin;
    ::posix_fadvise(fd, static_cast<off_t>(from), 0, POSIX_FADV_SEQUENTIAL);
    if (layout.Read != RecordingLayout::Reading::Flac) {
        return std::make_unique<WavSource>(fd, layout);
    }
    return std::make_unique<FlacSource>(fd, fileSize, layout, flac);
}

std::string ReadFailureText(const std::string& name, const ReadFailure& failure) {
    if (failure.What.empty()) {
        return std::string(failure.Stream ? "Failed to read FLAC file "
                                          : "Failed to read wav file ") +
               name + ": " + std::strerror(failure.Errno != 0 ? failure.Errno : EIO);
    }
    std::string at = "sample " + std::to_string(failure.StreamSample);
    if (failure.StreamRate > 0) {
        char seconds[32];
        const auto r = std::to_chars(seconds, seconds + sizeof seconds,
                                     static_cast<double>(failure.StreamSample) / failure.StreamRate,
                                     std::chars_format::fixed, 3);
        at = std::string(seconds, r.ptr) + " s (" + at + ")";
    }
    return "Failed to decode " + name + " at " + at + ": " + failure.What +
           "; converted up to there";
}

}  // namespace wtk
