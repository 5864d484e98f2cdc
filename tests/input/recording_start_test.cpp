#include "input/recording_start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "riff_bytes.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::Bytes;
using test::Chunk;
using test::Put16;
using test::Put32;
using test::PutText;
using test::Riff;

namespace fs = std::filesystem;
using namespace std::string_literals;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Guano(const std::string& timestampLine) {
    return Text("GUANO|Version: 1.0\nMake: Maker\n" + timestampLine + "\n");
}

// wamd sub-chunks {u16 id, u32 length, bytes}; declared overrides the last one's length.
Bytes Wamd(const std::vector<std::pair<uint16_t, std::string>>& fields,
           std::optional<uint32_t> declared = {}) {
    Bytes b;
    for (size_t i = 0; i < fields.size(); ++i) {
        Put16(b, fields[i].first);
        const bool last = i + 1 == fields.size();
        Put32(b, last && declared ? *declared : static_cast<uint32_t>(fields[i].second.size()));
        PutText(b, fields[i].second);
    }
    return b;
}

Bytes InfoList(const std::vector<Chunk>& items) {
    Bytes b = Text("INFO");
    const Bytes rest = test::Chunks(items);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

// A bext body of the version-1 size with the three time fields; shorter bodies are cut.
Bytes Bext(const std::string& date, const std::string& time, uint64_t reference,
           size_t size = 602) {
    Bytes b(602, 0);
    std::copy(date.begin(), date.end(), b.begin() + 320);
    std::copy(time.begin(), time.end(), b.begin() + 330);
    for (int i = 0; i < 8; ++i) b[338 + i] = static_cast<uint8_t>(reference >> (8 * i));
    b.resize(size);
    return b;
}

const Bytes kPcm384 = test::Fmt(1, 1, 384000, 16);
const Bytes kSamples(200, 0);

std::string Shown(const std::optional<RecordingStart>& start) {
    if (!start) return "";
    return FormatRecordingStart(*start) + " " + std::string(TimeSourceText(start->Source));
}

struct Row {
    const char* what;
    std::function<std::optional<RecordingStart>()> read;
    const char* expected;  // "" for no time
};

void Check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Shown(row.read()), row.expected);
    }
}

TEST(RecordingStart, TextSources) {
    auto guano = [](std::string text) { return [t = Text(text)] { return ParseGuanoChunk(t); }; };
    auto guanoLine = [](std::string line) {
        return [b = Guano(line)] { return ParseGuanoChunk(b); };
    };
    auto wamd = [](Bytes b) { return [b] { return ParseWamdChunk(b); }; };
    auto comment = [](std::string c) { return [c] { return ParseAudioMothComment(c); }; };
    auto info = [](Bytes b) { return [b] { return ParseInfoList(b); }; };
    const std::string moth = " by AudioMoth 24A04F085FDF2793 at medium gain.";
    Check({
        {"guan, Z and milliseconds", guanoLine("Timestamp: 2021-06-10T03:36:55.250Z"),
         "2021-06-10T03:36:55.250000Z guan"},
        {"guan, local time stands", guanoLine("Timestamp: 2021-06-10T03:36:55"),
         "2021-06-10T03:36:55.000000 guan"},
        {"guan, +02:00 to UTC", guanoLine("Timestamp:2021-06-10T03:36:55+02:00"),
         "2021-06-10T01:36:55.000000Z guan"},
        {"guan, -03:30 into the next day and year",
         guanoLine("Timestamp: 2021-12-31T22:00:00.000001-03:30"),
         "2022-01-01T01:30:00.000001Z guan"},
        {"guan, +0530 and a blank for T", guanoLine("Timestamp: 2020-02-29 12:00:00+0530"),
         "2020-02-29T06:30:00.000000Z guan"},
        {"guan, nanoseconds cut to microseconds",
         guanoLine("Timestamp: 2021-06-10T03:36:55.123456789Z"),
         "2021-06-10T03:36:55.123456Z guan"},
        {"guan, CRLF lines, BOM, NUL padding, Latin-1 elsewhere",
         guano("\xEF\xBB\xBFGUANO|Version: 1.0\r\nNote: caf\xE9\r\nTimestamp: "
               "2021-06-10T03:36:55Z\0\0\0"s),
         "2021-06-10T03:36:55.000000Z guan"},
        {"guan, first Timestamp counts",
         guano("GUANO|Version: 1.0\nWA|Timestamp: 1999-01-01T00:00:00\nTimestamp: "
               "2021-06-10T03:36:55\nTimestamp: 2000-01-01T00:00:00\n"),
         "2021-06-10T03:36:55.000000 guan"},
        {"guan without its version line", guano("Timestamp: 2021-06-10T03:36:55Z\n"), ""},
        {"guan, empty Timestamp", guanoLine("Timestamp:"), ""},
        {"guan, no Timestamp", guano("GUANO|Version: 1.0\nMake: x\n"), ""},
        {"guan, month 13", guanoLine("Timestamp: 2021-13-10T03:36:55"), ""},
        {"guan, 29 February 2021", guanoLine("Timestamp: 2021-02-29T03:36:55"), ""},
        {"guan, hour 24", guanoLine("Timestamp: 2021-06-10T24:00:00"), ""},
        {"guan, second 60", guanoLine("Timestamp: 2021-06-10T03:36:60"), ""},
        {"guan, zone +24:00", guanoLine("Timestamp: 2021-06-10T03:36:55+24:00"), ""},
        {"guan, zone +02:60", guanoLine("Timestamp: 2021-06-10T03:36:55+02:60"), ""},
        {"guan, zone letter", guanoLine("Timestamp: 2021-06-10T03:36:55 PST"), ""},
        {"guan, ten fraction digits", guanoLine("Timestamp: 2021-06-10T03:36:55.1234567891"), ""},
        {"guan, no seconds", guanoLine("Timestamp: 2021-06-10T03:36"), ""},
        {"guan, year 0", guanoLine("Timestamp: 0000-06-10T03:36:00"), ""},
        {"guan, bytes that are not UTF-8", guanoLine("Timestamp: 2021-06-10T03:36:55\xFF"), ""},
        {"guan, digits that are not ASCII",
         guanoLine("Timestamp: \xEF\xBC\x92\xEF\xBC\x90\xEF\xBC\x92\xEF\xBC\x91-06-10T03:36:55"),
         ""},

        {"wamd after other fields",
         wamd(Wamd({{0, "\x01\x00"}, {1, "SM4"}, {5, "2021-06-10 03:47:30"}})),
         "2021-06-10T03:47:30.000000 wamd"},
        {"wamd, milliseconds and zone, NUL padded",
         wamd(Wamd({{5, std::string("2021-06-10 03:47:30.500-04:00\0\0", 31)}})),
         "2021-06-10T07:47:30.500000Z wamd"},
        {"wamd, length past the chunk", wamd(Wamd({{5, "2021-06-10 03:47:30"}}, 40)), ""},
        {"wamd, an earlier field past the chunk",
         wamd(Wamd({{1, "SM4"}, {5, "2021-06-10 03:47:30"}}, 1000)), ""},
        {"wamd, no time field", wamd(Wamd({{1, "SM4"}})), ""},
        {"wamd, field cut in its header", wamd(Bytes{5, 0, 19}), ""},
        {"wamd, 31 June", wamd(Wamd({{5, "2021-06-31 03:47:30"}})), ""},

        {"icmt UTC", comment("Recorded at 02:32:00 07/06/2022 (UTC)" + moth),
         "2022-06-07T02:32:00.000000Z icmt"},
        {"icmt UTC+1", comment("Recorded at 02:32:00 07/06/2022 (UTC+1)" + moth),
         "2022-06-07T01:32:00.000000Z icmt"},
        {"icmt UTC-3:30", comment("Recorded at 22:32:00 07/06/2022 (UTC-3:30)" + moth),
         "2022-06-08T02:02:00.000000Z icmt"},
        {"icmt UTC+10, NUL padded",
         comment(std::string("Recorded at 10:00:00 01/01/2022 (UTC+10)\0\0", 42)),
         "2022-01-01T00:00:00.000000Z icmt"},
        {"icmt, zone of 24 hours", comment("Recorded at 02:32:00 07/06/2022 (UTC+24)" + moth), ""},
        {"icmt, zone Z", comment("Recorded at 02:32:00 07/06/2022 (UTCZ)" + moth), ""},
        {"icmt, day 31 of June", comment("Recorded at 02:32:00 31/06/2022 (UTC)" + moth), ""},
        {"icmt, no zone", comment("Recorded at 02:32:00 07/06/2022 by AudioMoth"), ""},
        {"icmt, another comment", comment("Deployed at the harbour"), ""},
        {"INFO list, ICMT after an odd item",
         info(InfoList({{"INAM", Text("abc")},
                        {"ICMT", Text("Recorded at 02:32:00 07/06/2022 (UTC)" + moth)}})),
         "2022-06-07T02:32:00.000000Z icmt"},
        {"INFO list, ICMT past the list",
         info(InfoList({{"ICMT", Text("Recorded at 02:32:00 07/06/2022 (UTC)"), 500}})), ""},
        {"another list form", info([] {
             Bytes b = InfoList({{"ICMT", Text("Recorded at 02:32:00 07/06/2022 (UTC)")}});
             std::copy_n("adtl", 4, b.begin());
             return b;
         }()),
         ""},
    });
}

TEST(RecordingStart, BroadcastExtension) {
    auto bext = [](Bytes b, uint32_t rate) {
        return [b, rate] { return ParseBextChunk(b, rate); };
    };
    const uint64_t threeHoursAndAHalfSecond = (3 * 3600) * 384000ULL + 192000;
    Check({
        {"OriginationTime without TimeReference", bext(Bext("2021-06-10", "03:47:30", 0), 384000),
         "2021-06-10T03:47:30.000000 bext"},
        {"TimeReference places the start to the microsecond",
         bext(Bext("2021-06-10", "03:47:30", threeHoursAndAHalfSecond), 384000),
         "2021-06-10T03:00:00.500000 bext"},
        {"TimeReference rounded to the nearest microsecond",
         bext(Bext("2021-06-10", "", 1), 3000000), "2021-06-10T00:00:00.000000 bext"},
        {"TimeReference rounded up to the nearest microsecond",
         bext(Bext("2021-06-10", "", 2), 3000000), "2021-06-10T00:00:00.000001 bext"},
        {"TimeReference without a rate", bext(Bext("2021-06-10", "03:47:30", 12345), 0),
         "2021-06-10T03:47:30.000000 bext"},
        {"TimeReference beyond the day",
         bext(Bext("2021-06-10", "03:47:30", 86400ULL * 384000), 384000),
         "2021-06-10T03:47:30.000000 bext"},
        {"TimeReference of 2^64-1", bext(Bext("2021-06-10", "03:47:30", ~0ULL), 4294967295u),
         "2021-06-10T03:47:30.000000 bext"},
        {"other separators", bext(Bext("2021_06.10", "03 47-30", 0), 0),
         "2021-06-10T03:47:30.000000 bext"},
        {"no TimeReference in a short body", bext(Bext("2021-06-10", "03:47:30", 5, 338), 1),
         "2021-06-10T03:47:30.000000 bext"},
        {"cut before OriginationTime ends", bext(Bext("2021-06-10", "03:47:30", 0, 337), 0), ""},
        {"no OriginationTime, no TimeReference", bext(Bext("2021-06-10", "", 0), 384000), ""},
        {"no OriginationDate", bext(Bext("", "03:47:30", 0), 384000), ""},
        {"garbage date", bext(Bext("2021-0x-10", "03:47:30", 0), 384000), ""},
        {"hour 25", bext(Bext("2021-06-10", "25:47:30", 0), 384000), ""},
    });
}

TEST(RecordingStart, CalendarAndText) {
    EXPECT_EQ(EncodeMicroseconds(1899, 12, 30, 0, 0, 0), 0);
    EXPECT_EQ(EncodeMicroseconds(1900, 1, 1, 0, 1, 0, 5),
              2 * 86400 * kMicrosecondsPerSecond + kMicrosecondsPerMinute + 5);
    EXPECT_FALSE(EncodeMicroseconds(1900, 2, 29, 0, 0, 0));
    EXPECT_TRUE(EncodeMicroseconds(2000, 2, 29, 0, 0, 0));
    EXPECT_FALSE(EncodeMicroseconds(10000, 1, 1, 0, 0, 0));
    EXPECT_FALSE(EncodeMicroseconds(2021, 1, 1, 0, 0, 0, 1000000));
    // Before the epoch the fields still count forwards.
    EXPECT_EQ(FormatRecordingStart({-500000, false, TimeSource::None}),
              "1899-12-29T23:59:59.500000");
    const auto iso = ParseIso8601(" 2021-06-10T03:36:55.25+01:00 ");
    ASSERT_TRUE(iso);
    EXPECT_EQ(FormatRecordingStart(*iso), "2021-06-10T02:36:55.250000Z");
    EXPECT_EQ(TimeSourceText(TimeSource::LogXml), "log.xml");
}

// A SoundTrap log reduced to what matters: the stream configurations and their events.
std::string SoundTrapLog(const std::string& cfgs, const std::string& events) {
    return "<ST>\r\n<EVENT>\n<START STATE=\"REOPEN\" />\n</EVENT>\n" + cfgs + events + "</ST>\r\n";
}
const std::string kWavCfg =
    "<CFG ID=\"4\" FTYPE=\"wav\" CODEC=\"3\">\n<SRC ID=\"3\" />\n<FS> 96000 </FS>\n"
    "<SUFFIX> wav </SUFFIX>\n</CFG>\n";
const std::string kDwvCfg =
    "<CFG ID=\"12\" FTYPE=\"wav\" CODEC=\"11\">\n<SUFFIX> dwv </SUFFIX>\n</CFG>\n";
std::string Event(const std::string& id, const std::string& attribute) {
    return "<PROC_EVENT ID=\"" + id + "\">\r\n<WavFileHandler " + attribute +
           "/>\r\n</PROC_EVENT>\r\n";
}
const std::string kWavStart = Event("4", "SamplingStartTimeUTC=\"2021-06-10T03:36:54\"");
const std::string kDwvStart = Event("12", "SamplingStartTimeUTC=\"2021-06-10T03:36:55\"");

TEST(RecordingStart, SoundTrapLogs) {
    auto log = [](std::string text) { return [text] { return ParseSoundTrapLog(text); }; };
    const std::string local = Event("4", "SamplingStartTimeLocal=\"2021-06-10T05:36:54\"");
    Check({
        {"the wav stream, not the dwv stream",
         log(SoundTrapLog(kWavCfg + kDwvCfg, kDwvStart + local + kWavStart)),
         "2021-06-10T03:36:54.000000Z log.xml"},
        {"events before the configurations", log(SoundTrapLog("", kDwvStart + kWavStart) + kWavCfg),
         "2021-06-10T03:36:54.000000Z log.xml"},
        {"single quotes, blanks around =, fraction",
         log(SoundTrapLog(kWavCfg, Event("4", "SamplingStartTimeUTC = '2021-06-10T03:36:54.5'"))),
         "2021-06-10T03:36:54.500000Z log.xml"},
        {"only the dwv stream", log(SoundTrapLog(kDwvCfg, kDwvStart)), ""},
        {"a wav suffix outside FTYPE wav",
         log(SoundTrapLog("<CFG ID=\"4\" FTYPE=\"txt\">\n<SUFFIX> wav </SUFFIX>\n</CFG>\n",
                          kWavStart)),
         ""},
        {"a commented-out configuration",
         log(SoundTrapLog("<!-- " + kWavCfg + " -->" + kDwvCfg, kDwvStart + kWavStart)), ""},
        {"no start event for the stream", log(SoundTrapLog(kWavCfg + kDwvCfg, kDwvStart + local)),
         ""},
        {"a start that is no date",
         log(SoundTrapLog(kWavCfg, Event("4", "SamplingStartTimeUTC=\"2021-06-10T03:61:54\""))),
         ""},
        {"cut inside the start", log([] {
             const std::string text = SoundTrapLog(kWavCfg, kWavStart);
             return text.substr(0, text.find("03:36"));
         }()),
         ""},
        {"unclosed attribute quote",
         log(SoundTrapLog(kWavCfg, Event("4", "SamplingStartTimeUTC=\"2021-06-10T03:36:54"))), ""},
        {"not XML", log("\xFF\xFE<<<>>>\"'"), ""},
    });
}

// The three real logs of one recorder: each recording starts at the wav stream's time, a second
// before the dwv stream (and the name) in the first two.
TEST(RecordingStart, RealSoundTrapLogs) {
    const fs::path folder = fs::path(WTK_CORPUS_DIR) / "soundtrap";
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
    const std::pair<const char*, const char*> logs[] = {
        {"67416073.210610033655.log.xml", "2021-06-10T03:36:54.000000Z log.xml"},
        {"67416073.210610034155.log.xml", "2021-06-10T03:41:54.000000Z log.xml"},
        {"67416073.210610034655.log.xml", "2021-06-10T03:46:55.000000Z log.xml"},
    };
    for (const auto& [name, expected] : logs) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Shown(ParseSoundTrapLog(test::ReadFileText((folder / name).string()))), expected);
    }
    // Beside a recording of its name (the log is linked, not copied).
    test::TempDir dir;
    test::WriteFileBytes(dir / "67416073.210610033655.wav",
                         Riff({{"fmt ", kPcm384}, {"data", kSamples}}));
    fs::create_symlink(folder / logs[0].first, dir.path() / logs[0].first);
    EXPECT_EQ(Shown(ReadRecordingStart(dir / "67416073.210610033655.wav")), logs[0].second);
}

TEST(RecordingStart, ChunksOfAFile) {
    const Bytes guan = Guano("Timestamp: 2021-06-10T03:36:55.250Z");
    const Bytes wamd = Wamd({{5, "2021-06-10 03:47:30"}});
    const Bytes moth =
        InfoList({{"ICMT", Text("Recorded at 02:32:00 07/06/2022 (UTC) by AudioMoth")}});
    const Bytes bext = Bext("2021-06-10", "09:00:00", 384000ULL * 3600);
    auto file = [](Bytes b) { return [b] { return ReadWavStart(b); }; };
    Bytes big(kMaxStartChunkBytes + 1, ' ');
    std::copy(guan.begin(), guan.end(), big.begin());
    Bytes largest(kMaxStartChunkBytes, '\0');
    std::copy(guan.begin(), guan.end(), largest.begin());
    std::vector<Chunk> many;
    for (int i = 0; i < 1100; ++i) many.push_back({"JUNK", {}});
    many.push_back({"guan", guan});
    Check({
        {"wamd after data", file(Riff({{"fmt ", kPcm384}, {"data", kSamples}, {"wamd", wamd}})),
         "2021-06-10T03:47:30.000000 wamd"},
        {"guan before wamd and bext, wherever they are",
         file(Riff({{"bext", bext},
                    {"wamd", wamd},
                    {"fmt ", kPcm384},
                    {"data", kSamples},
                    {"guan", guan}})),
         "2021-06-10T03:36:55.250000Z guan"},
        {"icmt before bext", file(Riff({{"bext", bext}, {"LIST", moth}, {"data", kSamples}})),
         "2022-06-07T02:32:00.000000Z icmt"},
        {"bext with the fmt chunk's rate",
         file(Riff({{"fmt ", kPcm384}, {"bext", bext}, {"data", kSamples}})),
         "2021-06-10T01:00:00.000000 bext"},
        {"bext without a fmt chunk", file(Riff({{"bext", bext}, {"data", kSamples}})),
         "2021-06-10T09:00:00.000000 bext"},
        {"a broken or empty guan gives way to the next",
         file(Riff({{"guan", Text("GUANO|Version: 1.0\nTimestamp: soon\n")},
                    {"guan", {}},
                    {"guan", guan},
                    {"data", kSamples}})),
         "2021-06-10T03:36:55.250000Z guan"},
        {"an odd chunk without its pad byte before",
         file(Riff({{"note", Bytes(5, 'n'), {}, false}, {"data", kSamples}, {"wamd", wamd}})),
         "2021-06-10T03:47:30.000000 wamd"},
        {"guan past the file's end",
         file(Riff({{"data", kSamples}, {"guan", guan, static_cast<uint32_t>(guan.size() + 2)}})),
         ""},
        {"guan of the largest size read", file(Riff({{"data", kSamples}, {"guan", largest}})),
         "2021-06-10T03:36:55.250000Z guan"},
        {"guan too big to read", file(Riff({{"data", kSamples}, {"guan", big}})), ""},
        {"after a data chunk that runs to the end",
         file(Riff({{"data", kSamples, 0xFFFFFFFFu}, {"guan", guan}})), ""},
        {"after the walk's last chunk", file(Riff(many)), ""},
        {"no RIFF/WAVE", file([&] {
             Bytes b = Riff({{"guan", guan}});
             std::copy_n("RIFX", 4, b.begin());
             return b;
         }()),
         ""},
        {"nothing but a header", file(Bytes(12, 0)), ""},
    });
}

TEST(RecordingStart, SidecarBesideTheFile) {
    test::TempDir dir;
    const std::string log = SoundTrapLog(kWavCfg + kDwvCfg, kDwvStart + kWavStart);
    const Bytes plain = Riff({{"fmt ", kPcm384}, {"data", kSamples}});
    const Bytes withBext =
        Riff({{"fmt ", kPcm384}, {"bext", Bext("2021-06-10", "09:00:00", 0)}, {"data", kSamples}});
    const Bytes withGuan = Riff(
        {{"fmt ", kPcm384}, {"data", kSamples}, {"guan", Guano("Timestamp: 2021-06-10T03:36:55")}});
    auto write = [&](const std::string& name, const Bytes& wav, const std::string& sidecar) {
        test::WriteFileBytes(dir / name, wav);
        if (!sidecar.empty())
            test::WriteFileBytes(dir / SoundTrapLogPath(name),
                                 Bytes(sidecar.begin(), sidecar.end()));
        return dir / name;
    };
    auto start = [](std::string path) { return [path] { return ReadRecordingStart(path); }; };
    const std::string fifo = write("fifo.wav", plain, "");
    ASSERT_EQ(::mkfifo((dir / "fifo.log.xml").c_str(), 0600), 0);
    std::string huge = log;
    huge.resize(kMaxSoundTrapLogBytes + 1, ' ');
    Check({
        {"the sidecar", start(write("a.210610033655.wav", plain, log)),
         "2021-06-10T03:36:54.000000Z log.xml"},
        {"the sidecar of a .WAV", start(write("B.WAV", plain, log)),
         "2021-06-10T03:36:54.000000Z log.xml"},
        {"the sidecar before bext", start(write("c.wav", withBext, log)),
         "2021-06-10T03:36:54.000000Z log.xml"},
        {"guan before the sidecar", start(write("d.wav", withGuan, log)),
         "2021-06-10T03:36:55.000000 guan"},
        {"bext without a sidecar", start(write("e.wav", withBext, "")),
         "2021-06-10T09:00:00.000000 bext"},
        {"neither", start(write("f.wav", plain, "")), ""},
        {"a sidecar too big to read", start(write("g.wav", plain, huge)), ""},
        {"a FIFO for a sidecar", start(fifo), ""},
        {"no such file", start(dir / "missing.wav"), ""},
        {"a folder for a file", start(dir.path().string()), ""},
    });
    EXPECT_EQ(SoundTrapLogPath("/x/5987.210610033655.Wav"), "/x/5987.210610033655.log.xml");
    EXPECT_EQ(SoundTrapLogPath("/x/name.flac"), "/x/name.log.xml");
    EXPECT_EQ(SoundTrapLogPath("/x/name.mp3"), "");
}

}  // namespace
}  // namespace wtk
