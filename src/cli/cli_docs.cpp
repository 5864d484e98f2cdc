#include "cli/cli_docs.h"

#include <map>
#include <set>
#include <vector>

#include "cli/command_line.h"

namespace wtk::cli {
namespace {

// What an option's value is, for the completion: a folder, a file, a word from a fixed list,
// a settings control, or free text (nothing offered).
std::string ValueCompletion(const OptionDoc& o) {
    static const std::map<std::string, std::string> kWords = {
        {"preset", "normal severe minimal"},
        {"time-source", "auto name file"},
        {"per", "minute hour day"},
        {"min-quality", "low moderate high"},
    };
    if (o.ValueName == "DIR") return "dirs";
    if (o.ValueName == "FILE" || o.ValueName == "PATH") return "files";
    if (o.ValueName == "CONTROL=TEXT") return "controls";
    if (const auto it = kWords.find(o.Long); it != kWords.end()) return "words " + it->second;
    return "none";
}

std::string Join(const std::vector<std::string>& words, std::string_view between) {
    std::string text;
    for (const std::string& w : words) {
        if (!text.empty()) text += between;
        text += w;
    }
    return text;
}

// "\fB\-r\fR, \fB\-\-rate\fR \fIK\fR" and the like.
std::string OptionHead(const OptionDoc& o) {
    std::string head;
    if (o.Short != 0) head += std::string("\\fB\\-") + o.Short + "\\fR, ";
    head += "\\fB" + RoffText("--" + o.Long) + "\\fR";
    if (!o.ValueName.empty()) {
        head += o.ValueOptional ? "[=\\fI" + RoffText(o.ValueName) + "\\fR]"
                                : " \\fI" + RoffText(o.ValueName) + "\\fR";
    }
    return head;
}

std::string VerbsTaking(unsigned verbs) {
    std::vector<std::string> names;
    for (const VerbDoc& v : VerbDocs()) {
        if ((verbs & v.verb) != 0) names.push_back(v.Name);
    }
    return Join(names, ", ");
}

// The general help as man page paragraphs, without its usage line and its table of commands
// (the COMMANDS section shows them). Lines indented by two blanks (examples) stay as they are;
// other lines are filled, and a line ending in a full stop ends its paragraph.
std::string HelpParagraphs() {
    const std::string help = HelpText(kNoVerb);
    std::string out;
    enum { kNone, kFilled, kExamples, kTable } state = kNone;
    size_t pos = help.find('\n') + 1;  // after the usage line
    while (pos < help.size()) {
        size_t end = help.find('\n', pos);
        if (end == std::string::npos) end = help.size();
        const std::string line = help.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) {
            if (state == kExamples) out += ".fi\n";
            state = kNone;
        } else if (state == kTable || line.starts_with("  wavtokeb-cli ")) {
            state = kTable;
        } else if (line.starts_with("  ")) {
            if (state != kExamples) out += ".PP\n.nf\n";
            out += RoffText(line.substr(2)) + "\n";
            state = kExamples;
        } else {
            if (state == kExamples) out += ".fi\n";
            if (state != kFilled) out += ".PP\n";
            out += RoffText(line) + "\n";
            state = line.ends_with('.') ? kNone : kFilled;
        }
    }
    if (state == kExamples) out += ".fi\n";
    return out;
}

}  // namespace

std::string RoffText(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (const char ch : text) {
        if (lineStart && (ch == '.' || ch == '\'')) out += "\\&";
        if (ch == '\\') {
            out += "\\e";
        } else if (ch == '-') {
            out += "\\-";
        } else {
            out += ch;
        }
        lineStart = ch == '\n';
    }
    return out;
}

std::string ManPage(std::string_view version, std::string_view docDir) {
    const std::vector<VerbDoc> verbs = VerbDocs();
    std::string page;
    page += ".TH WAVTOKEB\\-CLI 1 \"\" \"wavtokeb\\-cli " + RoffText(version) +
            "\" \"User Commands\"\n.nh\n.ad l\n";
    page +=
        ".SH NAME\nwavtokeb\\-cli \\- convert PCM .wav recordings of underwater sound into TK1 "
        "click\\-data files\n";
    page += ".SH SYNOPSIS\n";
    for (const VerbDoc& v : verbs) {
        page += ".B wavtokeb\\-cli " + RoffText(v.Name) + "\n[\\fIoptions\\fR]";
        if (!v.Operands.empty()) page += " \\fI" + RoffText(v.Operands) + "\\fR";
        page += "\n.br\n";
    }
    page += ".B wavtokeb\\-cli\n[\\fIcommand\\fR] \\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
    page += ".SH DESCRIPTION\n" + HelpParagraphs() + ".PP\n" +
            RoffText(
                "Every file is high-pass filtered, up-sampled four times through a band-pass "
                "filter whose gain is an automatic sensitivity, reduced to positive peaks and fed "
                "to a click detector; accepted clicks become 16-byte records, minute by minute. "
                "Options default to the window's state after start-up with the \"normal "
                "operation\" preset.\n");
    page += ".SH COMMANDS\n";
    for (const VerbDoc& v : verbs) {
        page += ".TP\n\\fB" + RoffText(v.Name) + "\\fR";
        if (!v.Operands.empty()) page += " \\fI" + RoffText(v.Operands) + "\\fR";
        page += "\n" + RoffText(v.Summary) + "\n";
    }
    // Notes that several commands share are shown once, after the commands.
    std::set<std::string> notesShown;
    for (const VerbDoc& v : verbs) {
        if (v.Notes.empty() || !notesShown.insert(v.Notes).second) continue;
        std::vector<std::string> sharing;
        for (const VerbDoc& w : verbs) {
            if (w.Notes == v.Notes) sharing.push_back("\\fB" + RoffText(w.Name) + "\\fR");
        }
        page += ".PP\n" + Join(sharing, ", ") + ": " + RoffText(v.Notes) + "\n";
    }
    page += ".SH OPTIONS\n";
    for (const OptionDoc& o : OptionDocs()) {
        page += ".TP\n" + OptionHead(o) + "\n" + RoffText(o.Help) + ".\n";
        page += "(" + RoffText(VerbsTaking(o.Verbs)) + ")\n";
    }
    page += ".SH EXAMPLES\n.nf\n" +
            RoffText(
                "wavtokeb-cli convert -o /data/tk1 /data/archive\n"
                "wavtokeb-cli convert --jobs 4 --minutes minutes.txt -o /data/tk1 /data/archive\n"
                "wavtokeb-cli list --locations /data/archive\n"
                "wavtokeb-cli dump --csv \"/data/tk1/NewFileNameREEF 2024 06 11.TK1\"\n") +
            ".fi\n";
    page += ".SH FILES\n.TP\n" + RoffText(std::string(docDir) + "/README.md") + "\n" +
            RoffText(
                "The user's guide: the window, every option in context, what is read from a "
                "file, running one location per task on a cluster (Slurm, GNU parallel), speed.\n");
    page += ".SH SEE ALSO\n.BR wavtokeb (1)\n";
    return page;
}

std::string BashCompletion() {
    const std::vector<VerbDoc> verbs = VerbDocs();
    const std::vector<OptionDoc> options = OptionDocs();
    std::vector<std::string> verbNames;
    for (const VerbDoc& v : verbs) verbNames.push_back(v.Name);

    std::string script =
        "# bash completion for wavtokeb-cli, made from its option table\n"
        "_wavtokeb_cli() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    # \"--name=value\" comes split at the \"=\"\n"
        "    local valueGiven=\n"
        "    if [[ $cur == = ]]; then\n"
        "        cur= valueGiven=1\n"
        "    elif [[ $prev == = ]] && ((COMP_CWORD > 2)); then\n"
        "        prev=${COMP_WORDS[COMP_CWORD-2]} valueGiven=1\n"
        "    fi\n"
        "    COMPREPLY=()\n"
        "    if ((COMP_CWORD == 1)); then\n"
        "        COMPREPLY=($(compgen -W '" +
        Join(verbNames, " ") +
        " help --help --version' -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    local verb=${COMP_WORDS[1]} options operands\n"
        "    case $verb in\n";
    for (const VerbDoc& v : verbs) {
        std::vector<std::string> names;
        std::set<std::string> seen;
        for (const OptionDoc& o : options) {
            if ((o.Verbs & v.verb) == 0) continue;
            if (seen.insert(o.Long).second) names.push_back("--" + o.Long);
            if (o.Short != 0 && seen.insert(std::string(1, o.Short)).second) {
                names.push_back(std::string("-") + o.Short);
            }
        }
        const std::string operands = v.Operands.empty()             ? "none"
                                     : v.Operands.ends_with(".TK1") ? "tk1"
                                                                    : "paths";
        script += "        " + v.Name + ") options='" + Join(names, " ") +
                  "' operands=" + operands + " ;;\n";
    }
    script +=
        "        help)\n"
        "            ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W '" +
        Join(verbNames, " ") +
        "' -- \"$cur\"))\n"
        "            return ;;\n"
        "        *) return ;;\n"
        "    esac\n"
        "    local i\n"
        "    for ((i = 2; i < COMP_CWORD; i++)); do\n"
        "        [[ ${COMP_WORDS[i]} == -- ]] && { _wavtokeb_cli_operands $operands; return; }\n"
        "    done\n"
        "    case $prev in\n";
    // The value after an option that takes one (each name once; its value is the same
    // whichever command takes it).
    std::set<std::string> valued;
    for (const OptionDoc& o : options) {
        if (o.ValueName.empty() || o.ValueOptional || !valued.insert(o.Long).second) continue;
        std::string pattern = "--" + o.Long;
        if (o.Short != 0) pattern += std::string("|-") + o.Short;
        script +=
            "        " + pattern + ") _wavtokeb_cli_value " + ValueCompletion(o) + "; return ;;\n";
    }
    script +=
        "    esac\n"
        "    [[ $valueGiven ]] && return\n"
        "    if [[ $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        "    else\n"
        "        _wavtokeb_cli_operands $operands\n"
        "    fi\n"
        "}\n"
        "\n"
        "_wavtokeb_cli_value() {\n"
        "    local kind=$1\n"
        "    shift\n"
        "    case $kind in\n"
        "        dirs) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "
        "\"$cur\") ;;\n"
        "        files) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "
        "\"$cur\") ;;\n"
        "        words) COMPREPLY=($(compgen -W \"$*\" -- \"$cur\")) ;;\n"
        "        controls)\n"
        "            # the names that \"settings --csv\" lists, each followed by \"=\"\n"
        "            local names\n"
        "            names=$(\"${COMP_WORDS[0]}\" settings --csv 2>/dev/null | "
        "sed -n '2,$s/,.*/=/p')\n"
        "            compopt -o nospace 2>/dev/null\n"
        "            COMPREPLY=($(compgen -W \"$names\" -- \"$cur\")) ;;\n"
        "    esac\n"
        "}\n"
        "\n"
        "_wavtokeb_cli_operands() {\n"
        "    case $1 in\n"
        "        paths) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "
        "\"$cur\") ;;\n"
        "        tk1)\n"
        "            compopt -o filenames 2>/dev/null\n"
        "            mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n"
        "            local f\n"
        "            while IFS= read -r f; do\n"
        "                [[ ${f,,} == *.tk1 ]] && COMPREPLY+=(\"$f\")\n"
        "            done < <(compgen -f -- \"$cur\")\n"
        "            ;;\n"
        "    esac\n"
        "}\n"
        "\n"
        "complete -F _wavtokeb_cli wavtokeb-cli\n";
    return script;
}

}  // namespace wtk::cli
