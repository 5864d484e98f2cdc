// wavtokeb-cli-docs: writes a document made from the command line's tables to a file, at
// build time.
//   wavtokeb-cli-docs man VERSION DOCDIR OUT      the manual page wavtokeb-cli.1
//   wavtokeb-cli-docs bash-completion OUT         the bash completion script
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/cli_docs.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    const char* out = nullptr;
    if (what == "man" && argc == 5) {
        text = wtk::cli::ManPage(argv[2], argv[3]);
        out = argv[4];
    } else if (what == "bash-completion" && argc == 3) {
        text = wtk::cli::BashCompletion();
        out = argv[2];
    } else {
        std::fprintf(stderr,
                     "usage: wavtokeb-cli-docs man VERSION DOCDIR OUT\n"
                     "       wavtokeb-cli-docs bash-completion OUT\n");
        return 2;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "wavtokeb-cli-docs: cannot write %s\n", out);
        return 1;
    }
    return 0;
}
