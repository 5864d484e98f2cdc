// Documents made from the command line's own tables, so that they say what --help says: the
// manual page wavtokeb-cli.1 and the bash completion script. A build tool (cli_docs_main.cpp)
// writes them; they are installed with the tool.
#pragma once

#include <string>
#include <string_view>

namespace wtk::cli {

// The manual page in roff (man macros). docDir is where the README is installed.
std::string ManPage(std::string_view version, std::string_view docDir);

// A bash completion script for wavtokeb-cli: the commands, each command's options, the values
// of the options that take a folder, a file, a preset, a time source, a rate or a settings
// control, and the operands (files and folders; TK1 files for dump).
std::string BashCompletion();

// text as roff body text: backslashes and minus signs escaped, and a line that would begin
// with a control character ('.' or '\'') guarded.
std::string RoffText(std::string_view text);

}  // namespace wtk::cli
