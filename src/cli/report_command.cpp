#include "cli/report_command.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "base/utf8.h"
#include "cli/presence_verbs.h"
#include "input/dir_search.h"
#include "presence/location_clicks.h"
#include "presence/report.h"

namespace wtk::cli {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

int Refuse(const std::string& text) {
    std::fprintf(stderr, "%s\n", UsageLine({text, kReport}).c_str());
    return kExitRefused;
}

}  // namespace

int RunReport(const CommandLine& c) {
    if (c.out.empty()) return Refuse("report needs -o FILE (--out FILE)");
    if (c.latitude.has_value() != c.longitude.has_value()) {
        return Refuse("--lat and --lon are given together");
    }
    for (const std::string& p : c.operands) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0) return Refuse(p + " does not exist");
    }
    // The report never takes the place of the data it reports on.
    if (EndsWithIgnoringCase(c.out, ".TK1")) {
        return Refuse("-o " + c.out +
                      " is a TK1 file name: give the report a name of its own, "
                      "e.g. report.html");
    }
    // A folder that is not there refuses the report before the inputs are read, not after.
    if (const std::string folder(DirectoryPart(c.out)); !folder.empty()) {
        struct stat dir {};
        if (::stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
            return Refuse("-o " + c.out + ": the folder " + folder + " does not exist");
        }
    }
    struct stat st {};
    if (::stat(c.out.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Refuse("-o " + c.out + " is a directory: give a file name");
        for (const std::string& p : c.operands) {
            struct stat input {};
            if (::stat(p.c_str(), &input) == 0 && input.st_dev == st.st_dev &&
                input.st_ino == st.st_ino) {
                return Refuse("-o " + c.out + " is one of the files to report on");
            }
        }
        if (!c.overwrite) {
            std::fprintf(stderr,
                         "wavtokeb-cli: %s is there already: nothing written (--overwrite "
                         "replaces it)\n",
                         PrintableName(c.out).c_str());
            return kExitRefused;
        }
    }

    presence::ReportOptions options;
    options.UtcOffsetMinutes = c.utcOffsetMinutes;
    options.Latitude = c.latitude;
    options.Longitude = c.longitude;
    options.Trains = TrainOptionsOf(c);
    options.MinQuality =
        presence::ParseQuality(c.minQuality).value_or(presence::TrainQuality::Moderate);
    std::vector<presence::LocationReport> locations;
    try {
        locations = presence::GatherReport(c.operands, options);
    } catch (const presence::InputError& e) {
        std::fprintf(stderr, "wavtokeb-cli: %s; nothing written\n",
                     PrintableName(e.what()).c_str());
        return kExitFailed;
    }
    if (!c.quiet) {
        for (const presence::LocationReport& l : locations) {
            for (const std::string& w : l.Warnings) {
                std::fprintf(stderr, "wavtokeb-cli: %s: %s\n", PrintableName(l.Location).c_str(),
                             PrintableName(w).c_str());
            }
        }
    }
    const std::string html = presence::ReportHtml(locations, options);
    if (const auto why = presence::WriteReportFile(c.out, html, c.overwrite)) {
        std::fprintf(stderr, "wavtokeb-cli: cannot write %s: %s\n", PrintableName(c.out).c_str(),
                     why->c_str());
        return kExitFailed;
    }
    std::printf("%s\n", PrintableName(c.out).c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "wavtokeb-cli: Failed to write to standard output\n");
        return kExitFailed;
    }
    return kExitDone;
}

}  // namespace wtk::cli
