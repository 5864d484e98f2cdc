// The format check of a listing and the rate taken from the headers, on headers read from
// crafted bytes: which files are named, which rate the window may offer and what --rate header
// takes or refuses.
#include "input/format_check.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "riff_bytes.h"

namespace wtk {
namespace {

using test::Bytes;
using test::Fmt;
using test::Riff;

// A header of one of these kinds.
enum class Kind { Fit, Float, NoFmt };

WavHeader HeaderOf(Kind kind, uint32_t rate) {
    const Bytes samples(200, 0);
    switch (kind) {
        case Kind::Fit:
            return ReadWavHeader(
                Riff({{"fmt ", Fmt(kWavFormatPcm, 1, rate, 16)}, {"data", samples}}));
        case Kind::Float:
            return ReadWavHeader(
                Riff({{"fmt ", Fmt(kWavFormatFloat, 1, rate, 32)}, {"data", samples}}));
        case Kind::NoFmt:
            break;
    }
    return ReadWavHeader(Riff({{"LIST", Bytes(20, 'i')}, {"data", samples}}));
}

struct File {
    Kind kind;
    uint32_t rate;
};

struct Case {
    const char* what;
    std::vector<File> files;  // named a.wav, b.wav, ...
    // Against a batch at 576 k samples/s, without --to-16-bit or --channel: files not converted
    // as they are (unreadable, or needing a choice), and fit files at another rate.
    size_t unfit, otherRate;
    uint32_t commonRate;
    std::variant<int32_t, std::string> headerRate;
};

TEST(FormatCheck, FindingsAndTheRateTheHeadersGive) {
    const std::string notWhole = " is no whole number of k samples/s in 1 ... 2000";
    const Case cases[] = {
        {"headers that agree on another rate",
         {{Kind::Fit, 384000}, {Kind::Fit, 384000}},
         0,
         2,
         384000,
         384},
        {"headers that disagree",
         {{Kind::Fit, 384000}, {Kind::Fit, 576000}},
         0,
         1,
         0,
         "the headers give different rates: 384000 samples/s in a.wav, 576000 samples/s in "
         "b.wav"},
        {"an unreadable header gives no rate",
         {{Kind::NoFmt, 0}, {Kind::Fit, 384000}, {Kind::NoFmt, 0}},
         0,
         1,
         384000,
         384},
        {"an unfit header gives no rate",
         {{Kind::Float, 48000}, {Kind::Fit, 500000}},
         1,
         1,
         500000,
         500},
        {"no fit header",
         {{Kind::Float, 576000}, {Kind::NoFmt, 0}},
         1,
         0,
         0,
         "no file has a 16-bit PCM mono header to take the rate from"},
        {"a rate of no whole k",
         {{Kind::Fit, 44100}},
         0,
         1,
         44100,
         "the header rate 44100 samples/s of a.wav" + notWhole},
        {"the highest rate", {{Kind::Fit, 2000000}}, 0, 1, 2000000, 2000},
        {"above the highest rate",
         {{Kind::Fit, 2001000}},
         0,
         1,
         2001000,
         "the header rate 2001000 samples/s of a.wav" + notWhole},
        {"the lowest rate", {{Kind::Fit, 1000}}, 0, 1, 1000, 1},
        {"below the lowest rate",
         {{Kind::Fit, 999}},
         0,
         1,
         999,
         "the header rate 999 samples/s of a.wav" + notWhole},
        {"the batch's rate", {{Kind::Fit, 576000}}, 0, 0, 576000, 576},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WavFileRecTable recs;
        std::vector<WavHeader> headers;
        std::vector<std::string> names;
        for (const File& f : c.files) {
            WavFileRec rec;
            rec.NameWithPath = std::string(1, static_cast<char>('a' + recs.size())) + ".wav";
            rec.Header = HeaderOf(f.kind, f.rate);
            headers.push_back(rec.Header);
            names.push_back(rec.NameWithPath);
            recs.push_back(rec);
        }
        recs.push_back(BlankWavFileRec);  // a file not opened when it was listed
        const FormatFindings found = CheckFormats(recs, 576000);
        EXPECT_EQ(found.Unfit.size() + found.NeedsChoice.size(), c.unfit);
        EXPECT_EQ(found.OtherRate.size(), c.otherRate);
        EXPECT_EQ(found.CommonRate, c.commonRate);
        EXPECT_EQ(RateFromHeaders(headers, names), c.headerRate);
    }
}

}  // namespace
}  // namespace wtk
