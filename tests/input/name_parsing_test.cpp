#include "input/name_parsing.h"

#include <gtest/gtest.h>

#include "base/calendar.h"
#include "base/sample_rate.h"
#include "input/name_pattern.h"
#include "recording_host.h"

namespace wtk {
namespace {

class NameParsing : public ::testing::Test {
protected:
    NameParsing() { Rate.KsamplesPerSecEditChange("576"); }

    // Parses a record for path as the selection does (date box ticked).
    WavFileRec Parse(const std::string& path, const std::string& site = "NewFileName") {
        WavFileRec rec;
        rec.NameWithPath = path;
        PutFileStartTimeInWavFileRec(rec, Scrapbook, Rate, host);
        ApplyIdentityRule(rec, site);
        return rec;
    }

    SampleRate Rate;
    bool Scrapbook = false;
    test::RecordingHost host;
};

TEST(MinuteNumbers, CountFromTheDateEpochInTheGregorianCalendar) {
    EXPECT_EQ(EncodeMinuteNumber(1899, 12, 30, 0, 0), 0);
    EXPECT_EQ(EncodeMinuteNumber(1899, 12, 29, 0, 0), -1440);
    EXPECT_EQ(EncodeMinuteNumber(2000, 1, 1, 0, 0), 52597440);
    EXPECT_EQ(EncodeMinuteNumber(2015, 1, 1, 0, 0), 60487200);
    EXPECT_EQ(EncodeMinuteNumber(2024, 2, 29, 23, 59), 65306879);
    EXPECT_EQ(EncodeMinuteNumber(1, 1, 1, 0, 0), -998773920);
    EXPECT_EQ(EncodeMinuteNumber(5983, 1, 1, 0, 0), 2147453280);
    EXPECT_FALSE(EncodeMinuteNumber(9999, 12, 31, 0, 0));  // beyond the 32-bit minute range
    EXPECT_FALSE(EncodeMinuteNumber(2023, 2, 29, 0, 0));
    EXPECT_FALSE(EncodeMinuteNumber(1900, 2, 29, 0, 0));
    EXPECT_TRUE(EncodeMinuteNumber(2000, 2, 29, 0, 0));
    EXPECT_FALSE(EncodeMinuteNumber(2023, 4, 31, 0, 0));
    EXPECT_FALSE(EncodeMinuteNumber(2023, 0, 1, 0, 0));
    EXPECT_FALSE(EncodeMinuteNumber(2023, 1, 0, 0, 0));
    EXPECT_FALSE(EncodeMinuteNumber(2023, 1, 1, 24, 0));
    EXPECT_FALSE(EncodeMinuteNumber(2023, 1, 1, 0, 60));
    EXPECT_FALSE(EncodeMinuteNumber(0, 1, 1, 0, 0));
}

TEST_F(NameParsing, ReadsLocationAndNamedMinute) {
    const WavFileRec r = Parse("/data/site/LOC1.20230517143000.wav");
    EXPECT_EQ(r.IdentityName, "LOC1");
    EXPECT_EQ(r.OriginalShortNameMinusSuffix, "LOC1.20230517143000");
    EXPECT_EQ(r.DateString, "2023 05 17");
    EXPECT_EQ(r.Start.Mn, 64891590);
    EXPECT_EQ(r.Start.Second, 0);
    EXPECT_EQ(r.Start.TimeInMinuteNear2MHz, 0);
    EXPECT_EQ(r.Start.NofNear2MHzToEndOfMinute, 138239996);
    EXPECT_TRUE(r.DateFound);
    EXPECT_TRUE(host.textLog.empty());

    // Seconds digits are never read; neither are the century digits.
    EXPECT_EQ(Parse("LOC1.20230517143059.wav").Start.Mn, 64891590);
    const WavFileRec c = Parse("LOC1.19990517143000.wav");
    EXPECT_EQ(c.Start.Mn, 104864550);
    EXPECT_EQ(c.DateString, "2099 05 17");

    // A recorder's own naming: serial, two-digit year.
    const WavFileRec rec = Parse("/rec/67416073.210610033655.wav");
    EXPECT_EQ(rec.Start.Mn, 63874296);  // 2021-06-10 03:36
    EXPECT_EQ(rec.IdentityName, "67416073");
    EXPECT_EQ(rec.DateString, "2021 06 10");
}

TEST_F(NameParsing, MinuteLengthFollowsTheRate) {
    Rate.KsamplesPerSecEditChange("384");
    EXPECT_EQ(Parse("LOC1.20230517143000.wav").Start.NofNear2MHzToEndOfMinute, 92159997);
    Rate.KsamplesPerSecEditChange("500");
    EXPECT_EQ(Parse("LOC1.20230517143000.wav").Start.NofNear2MHzToEndOfMinute, 120000000);
}

TEST_F(NameParsing, ImpossibleDatesBlankTheStartWithTheFieldsInTheProgressText) {
    const WavFileRec r = Parse("LOC1.20231317143000.wav");
    EXPECT_EQ(r.Start.Mn, 0);
    EXPECT_FALSE(r.DateFound);
    EXPECT_EQ(r.DateString, "");
    EXPECT_EQ(r.IdentityName, "LOC1");  // the identity does not depend on the date
    EXPECT_EQ(host.Text(Label::ProgressLbl),
              "Date/time conversion failed (D2) 2023  13  17  14  30  0");

    EXPECT_FALSE(Parse("LOC1.20230229143000.wav").DateFound);
    EXPECT_TRUE(Parse("LOC1.20240229143000.wav").DateFound);
    EXPECT_FALSE(Parse("LOC1.20230517243000.wav").DateFound);
    EXPECT_FALSE(Parse("LOC1.20230517146000.wav").DateFound);
    EXPECT_FALSE(Parse("LOC1.20230500143000.wav").DateFound);
}

TEST_F(NameParsing, FieldsMustBeNonNegativeIntegers) {
    const WavFileRec s = Parse("/x/Station_20230517.wav");
    EXPECT_EQ(s.IdentityName, "Station");  // no ".": the last 9 characters go
    EXPECT_FALSE(s.DateFound);
    EXPECT_EQ(s.Start.Mn, 0);
    EXPECT_EQ(host.Text(Label::ProgressLbl),
              "Date/time conversion failed (D2) 20io  n_  20  23  05  0");

    EXPECT_FALSE(Parse("LOC1.2023-517143000.wav").DateFound);
    EXPECT_FALSE(Parse("LOC1.2023 517143000.wav").DateFound);
    EXPECT_FALSE(Parse("LOC1.20230517 43000.wav").DateFound);
    // An explicit plus sign is an integer like any other.
    EXPECT_EQ(Parse("LOC1.2023+517143000.wav").Start.Mn, 64891590);
}

TEST_F(NameParsing, ShortNamesAreBlankedButStillGetAnIdentity) {
    WavFileRec rec;
    rec.NameWithPath = "/d/LOC1.202305.wav";  // 15 characters: long enough to be read
    rec.Start = {5, 7, 9, 11, 13};
    PutFileStartTimeInWavFileRec(rec, false, Rate, host);
    EXPECT_FALSE(rec.DateFound);
    EXPECT_EQ(rec.Start.Mn, 0);
    EXPECT_EQ(rec.Start.Second, 0);
    EXPECT_EQ(rec.Start.FractionUs, 0);
    EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz, 0);
    EXPECT_EQ(rec.Start.NofNear2MHzToEndOfMinute, 11);  // blanking leaves it alone
    EXPECT_EQ(host.Text(Label::ProgressLbl),
              "Date/time conversion failed (D2) 20LO  OC  1.  20  23  0");

    const WavFileRec r = Parse("/d/LOC.202305.wav");  // 14 characters: nothing extracted
    EXPECT_FALSE(r.DateFound);
    EXPECT_EQ(host.Text(Label::ProgressLbl), "Date/time conversion failed (D2)           0");
    EXPECT_EQ(r.IdentityName, "LOC");

    EXPECT_EQ(Parse("AB12.wav", "Bay").IdentityName, "Bay ");
    EXPECT_EQ(Parse("AB12.wav", "").IdentityName, "No Name ");
    EXPECT_EQ(Parse("ABCDEFGHI.wav", "").IdentityName, "No Name ");  // 9 characters
    EXPECT_EQ(Parse("ABCDEFGHIJ.wav", "").IdentityName, "A");        // 10 characters
    const WavFileRec tiny = Parse("/d/.wav", "");
    EXPECT_EQ(tiny.OriginalShortNameMinusSuffix, "");
    EXPECT_EQ(tiny.IdentityName, "No Name ");
    EXPECT_EQ(Parse("/d/wav", "S").OriginalShortNameMinusSuffix, "");
    EXPECT_EQ(Parse("/a.b/c.d.e.wav").IdentityName, "c");  // only the file name counts
}

TEST_F(NameParsing, ScrapbookBlanksEveryStartSilently) {
    Scrapbook = true;
    const WavFileRec r = Parse("LOC1.20230517143000.wav");
    EXPECT_FALSE(r.DateFound);
    EXPECT_EQ(r.Start.Mn, 0);
    EXPECT_EQ(r.DateString, "");
    EXPECT_EQ(r.IdentityName, "LOC1");
    Parse("x.wav");
    // Nor do the names recorders write give a scrapbook dates or their identities.
    WavFileRec sm4;
    sm4.NameWithPath = "/d/SM4_20210610_034730.wav";
    DateAndIdentityFromName(sm4, true, false, Rate, host, "NewFileName");
    EXPECT_FALSE(sm4.DateFound);
    EXPECT_EQ(sm4.Start.Mn, 0);
    EXPECT_EQ(sm4.IdentityName, "SM4_202106");
    EXPECT_TRUE(host.textLog.empty());
}

TEST_F(NameParsing, CountsCharactersNotBytes) {
    // "é" takes two bytes: counting bytes would shift every field by one.
    const WavFileRec r = Parse(
        "M\xC3\xB8n.202305171430\xC3\xA9"
        "0.wav");
    EXPECT_TRUE(r.DateFound);
    EXPECT_EQ(r.Start.Mn, 64891590);
    EXPECT_EQ(r.IdentityName, "M\xC3\xB8n");
    // Nine characters in ten bytes: still short enough for the site-name fallback.
    EXPECT_EQ(Parse("ABCDEFGH\xC3\xA9.wav", "Bay").IdentityName, "Bay ");
    // The extension is four characters, whatever their bytes.
    EXPECT_EQ(Parse("x.w\xC3\xA4v", "Bay").OriginalShortNameMinusSuffix, "x");
    // An invalid byte counts as one character and is kept as it is.
    const WavFileRec bad = Parse(
        "AB\xFF"
        "CDEFGHIJ.wav",
        "");
    EXPECT_EQ(bad.IdentityName, "AB");
    EXPECT_EQ(bad.OriginalShortNameMinusSuffix,
              "AB\xFF"
              "CDEFGHIJ");
}

}  // namespace
}  // namespace wtk

namespace wtk {
struct FormCase {
    const char* path;
    const char* start;  // "" for no date
    const char* identity;
};

// Where the built-in form gives no date, the names many recorders write do; the built-in form
// keeps every date it gives (its seconds now give the exact start, not the placement).
TEST_F(NameParsing, RecordersNameFormsWhereTheBuiltInFormGivesNoDate) {
    const FormCase cases[] = {
        {"/d/LOC1.20230517143059.wav", "2023-05-17T14:30:59.000000", "LOC1"},
        {"/d/LOC1.202305171430xx.wav", "2023-05-17T14:30:00.000000", "LOC1"},
        {"/d/LOC1.20230517143060.wav", "2023-05-17T14:30:00.000000", "LOC1"},
        {"/d/5987.210610033655.wav", "2021-06-10T03:36:55.000000", "5987"},
        {"/d/SM4_20210610_034730.wav", "2021-06-10T03:47:30.000000", "SM4"},
        {"/d/NRS_11_20200101_120000_x.wav", "2020-01-01T12:00:00.000000", "NRS_11"},
        {"/d/glider_20200101_120000_20200101_120500.wav", "2020-01-01T12:00:00.000000", "glider"},
        {"/data/moth7/20220607_023200.WAV", "2022-06-07T02:32:00.000000", "moth7"},
        {"/data/moth7/20220607_023200_part2.wav", "2022-06-07T02:32:00.000000", "moth7"},
        // Without a folder in the path, the built-in identity rule.
        {"20220607_023200.WAV", "2022-06-07T02:32:00.000000", "202206"},
        // Not the forms: no date, the built-in identity rule.
        {"/d/SM4_20210610_034760.wav", "", "SM4_202106"},
        {"/d/SM4_20210610_0347301.wav", "", "SM4_2021061"},
        {"/d/SM4_2021061_034730.wav", "", "SM4_20210"},
        {"/d/_20210610_034730.wav", "", "_202106"},
        {"/d/SM4_18991230_000000.wav", "", "SM4_189912"},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.path);
        WavFileRec rec;
        rec.NameWithPath = c.path;
        host.texts.clear();
        DateAndIdentityFromName(rec, false, false, Rate, host, "NewFileName");
        EXPECT_EQ(rec.IdentityName, c.identity);
        EXPECT_EQ(rec.DateFound, c.start[0] != '\0');
        EXPECT_EQ(rec.DateFound ? IsoMicroseconds(rec.StartTime.Microseconds) : "", c.start);
        EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz, 0);  // placed at the start of its minute
        EXPECT_EQ(host.Text(Label::DateFailureFile), rec.DateFound ? "" : c.path);
        // Quiet: the failure is not shown (the file has a time of its own).
        host.texts.clear();
        DateAndIdentityFromName(rec, false, true, Rate, host, "NewFileName");
        EXPECT_EQ(host.Text(Label::DateFailureFile), "");
    }
}

namespace {

struct PatternCase {
    const char* pattern;
    const char* path;
    int32_t start;  // 0: no date
    const char* identity;
    const char* dateString;
};

TEST_F(NameParsing, PatternsDateOtherRecordersNames) {
    const PatternCase cases[] = {
        {"{location}_%Y%m%d_%H%M%S*", "/d/PAM_20210610_033655_123.wav", 63874296, "PAM",
         "2021 06 10"},
        {"{location}_%Y%m%d_%H%M%S*", "/d/PAM_A_20210610_033655.wav", 63874296, "PAM_A",
         "2021 06 10"},
        {"{location}_%Y-%m-%d_%H-%M-%S", "/d/channelA_2021-10-11_13-11-09.wav", 64051991,
         "channelA", "2021 10 11"},
        {"%Y%m%d_%H%M%S", "/data/site7/20190527_190000.wav", 62802420, "site7", "2019 05 27"},
        {"%Y%m%d_%H%M%S", "/data/site7/20190527_190059.WAV", 62802420, "site7", "2019 05 27"},
        {"{location}.%y%m%d%H%M%S", "/d/67416073.210610033655.wav", 63874296, "67416073",
         "2021 06 10"},
        {"*_%Y%m%d_%H%M", "/d/x_y_20210610_0336.wav", 63874296, "d", "2021 06 10"},
        {"100%%_%Y%m%d_%H%M", "/d/100%_20210610_0336.wav", 63874296, "d", "2021 06 10"},
        {"{location}-%Y%m%d-%H%M", "/d/Größe-20210610-0336.wav", 63874296, "Größe", "2021 06 10"},
        // No match, or no possible date: no date, the built-in identity rule for {location}.
        {"{location}_%Y%m%d_%H%M%S*", "/d/PAM_2021061_033655.wav", 0, "PAM_20210", ""},
        {"{location}_%Y%m%d_%H%M%S*", "/d/_20210610_033655.wav", 0, "_202106", ""},
        {"%Y%m%d_%H%M%S", "/d/2021061a_033655.wav", 0, "d", ""},
        {"%Y%m%d_%H%M%S", "20190527_190000.wav", 62802420, "201905", "2019 05 27"},
        // Minute numbers of 0 or less (1899-12-30 00:00 and before) mean "no date".
        {"{location}_%Y%m%d_%H%M", "/d/PAM_01060610_0336.wav", 0, "PAM", ""},
        {"{location}_%Y%m%d_%H%M", "/d/PAM_18991230_0000.wav", 0, "PAM", ""},
        {"{location}_%Y%m%d_%H%M", "/d/PAM_18991230_0001.wav", 1, "PAM", "1899 12 30"},
        {"{location}_%Y%m%d_%H%M%S", "/d/PAM_20211310_033655.wav", 0, "PAM", ""},
    };
    for (const PatternCase& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " " + c.path);
        auto parsed = NameDatePattern::Parse(c.pattern);
        ASSERT_TRUE(std::holds_alternative<NameDatePattern>(parsed));
        WavFileRec rec;
        rec.NameWithPath = c.path;
        host.texts.clear();
        ApplyNameDatePattern(rec, std::get<NameDatePattern>(parsed), false, Rate, host,
                             "NewFileName");
        EXPECT_EQ(rec.Start.Mn, c.start);
        EXPECT_EQ(rec.DateFound, c.start != 0);
        EXPECT_EQ(rec.IdentityName, c.identity);
        EXPECT_EQ(rec.DateString, c.dateString);
        EXPECT_EQ(rec.Start.Second, 0);
        // A name without a date is reported with the file's path.
        EXPECT_EQ(host.Text(Label::DateFailureFile), c.start != 0 ? "" : c.path);
    }
    // The fields of a matching name that gives no possible date.
    EXPECT_EQ(host.Text(Label::ProgressLbl),
              "Date/time conversion failed (D2) 2021  13  10  03  36  0");
}

TEST(NameDatePattern, RefusesPatternsThatCannotGiveADate) {
    const std::pair<const char*, const char*> cases[] = {
        {"%Y%m%d_%H%q", "\"%q\" is no field"},
        {"%Y%m%d_%H%M%", "\"%\" is no field"},
        {"{loc}_%Y%m%d_%H%M", "\"{loc}\" is no field"},
        {"{location_%Y%m%d_%H%M", "\"{location_%Y%m%d_%H%M\" is no field"},
        {"{location}{location}%Y%m%d%H%M", "{location} appears twice"},
        {"%Y%m%d_%H%M_%m", "%m appears twice"},
        {"%Y%y%m%d%H%M", "%Y and %y both give the year"},
        {"%m%d_%H%M", "the year (%Y or %y) is missing"},
        {"%Y%m_%H%M", "the day (%d) is missing"},
        {"*", "the year (%Y or %y) is missing"},
    };
    for (const auto& [pattern, reason] : cases) {
        auto parsed = NameDatePattern::Parse(pattern);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << pattern;
        EXPECT_EQ(std::get<std::string>(parsed),
                  "Name-date pattern \"" + std::string(pattern) + "\": " + reason +
                      (std::string(reason).find("no field") != std::string::npos
                           ? "; the fields are %Y %y %m %d %H %M %S {location} * and %%"
                           : ""))
            << pattern;
    }
}

}  // namespace
}  // namespace wtk
