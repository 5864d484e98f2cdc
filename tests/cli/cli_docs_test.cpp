// The manual page and the bash completion made from the option table: every option that a
// command's --help shows is in both, and the page is well-formed roff whatever the help texts
// hold.
#include "cli/cli_docs.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace wtk::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The long options in the option column of a command's help ("  -r, --rate K   ...",
// "      --site TEXT  ...").
std::set<std::string> HelpOptions(Verb verb) {
    std::set<std::string> names;
    for (const std::string& line : Lines(HelpText(verb))) {
        size_t at = std::string::npos;
        if (line.starts_with("      --")) at = 8;
        if (line.size() > 8 && line.starts_with("  -") && line.compare(4, 4, ", --") == 0) at = 8;
        if (at == std::string::npos) continue;
        const size_t end = line.find_first_of(" [=", at);
        names.insert(line.substr(at, end - at));
    }
    return names;
}

TEST(CliDocs, NameEveryOptionThatTheHelpShows) {
    const std::string page = ManPage("9.9.9", "/usr/share/doc/wavtokeb-cli");
    const std::string completion = BashCompletion();
    const std::vector<std::string> completionLines = Lines(completion);
    size_t options = 0;
    for (const VerbDoc& v : VerbDocs()) {
        // The completion's list of this command's options.
        std::string offered;
        const std::string head = "        " + v.Name + ") options='";
        for (const std::string& line : completionLines) {
            if (line.starts_with(head)) {
                offered = " " +
                          line.substr(head.size(), line.find('\'', head.size()) - head.size()) +
                          " ";
            }
        }
        ASSERT_FALSE(offered.empty()) << v.Name;
        EXPECT_NE(page.find(".B wavtokeb\\-cli " + RoffText(v.Name)), std::string::npos) << v.Name;
        const std::set<std::string> names = HelpOptions(v.verb);
        EXPECT_GE(names.size(), 4u) << v.Name;  // help, version, quiet and more
        for (const std::string& name : names) {
            ++options;
            EXPECT_NE(page.find("\\fB" + RoffText("--" + name) + "\\fR"), std::string::npos)
                << "--" << name << " is missing from the manual page";
            EXPECT_NE(offered.find(" --" + name + " "), std::string::npos)
                << "--" << name << " is not completed for " << v.Name;
        }
    }
    EXPECT_GT(options, 30u);
    EXPECT_NE(page.find("wavtokeb\\-cli 9.9.9"), std::string::npos);
    EXPECT_NE(page.find("/usr/share/doc/wavtokeb\\-cli/README.md"), std::string::npos);
}

// Every line that starts with a control character is one of the requests the page uses, so no
// help text can turn into a request or vanish as one; fonts are switched back on every line.
TEST(CliDocs, ManPageIsPlainRoff) {
    const std::set<std::string> requests = {".TH", ".SH", ".TP", ".PP", ".B", ".BR",
                                            ".br", ".nf", ".fi", ".nh", ".ad"};
    for (const std::string& line : Lines(ManPage("1.0", "/doc"))) {
        if (line.starts_with(".") || line.starts_with("'")) {
            EXPECT_TRUE(requests.contains(line.substr(0, line.find(' ')))) << line;
        }
        size_t bold = 0, back = 0;
        for (size_t at = line.find("\\f"); at != std::string::npos; at = line.find("\\f", at + 1)) {
            if (line.compare(at, 3, "\\fR") == 0) {
                ++back;
            } else {
                ++bold;
            }
        }
        EXPECT_EQ(bold, back) << line;
    }
}

TEST(CliDocs, RoffTextEscapes) {
    const struct {
        const char* text;
        const char* roff;
    } cases[] = {
        {"--jobs N", "\\-\\-jobs N"},
        {"a\\b", "a\\eb"},
        {".wav files", "\\&.wav files"},
        {"'quoted' text", "\\&'quoted' text"},
        {"one\n.two\n'three", "one\n\\&.two\n\\&'three"},
        {"names ending in .wav", "names ending in .wav"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RoffText(c.text), c.roff) << c.text;
}

}  // namespace
}  // namespace wtk::cli
