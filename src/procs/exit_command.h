// The command line of a fetch exit, built from the cursor's script text:
// the program name with its database-type substitutions, and the
// parameters with "[name]" host variables replaced by collected values.
//
// Collected values never reach a shell as shell text: the command runs as
// a program with an argument vector, a value being (part of) one argument
// as it stands. Only when the operator's own text uses the shell (one of
// ";|<>&") is the line run by "sh -c", and then every value is quoted for
// the place it is put in, so that no value can start another command.
#pragma once

#include <string>
#include <vector>

#include "model/cursor.h"

namespace qvx {

struct CommandPiece {
    enum Kind { text, value, list } kind = text;
    std::string chars;               // text: the operator's characters; value: the value
    std::vector<std::string> items;  // list: the in-list's values
};

struct CommandLine {
    std::string program;             // the first word, after the substitutions
    std::string parameters;          // the rest as text, values inserted (for traces)
    std::vector<CommandPiece> pieces;  // the rest as written and inserted

    std::string text() const { return parameters.empty() ? program : program + " " + parameters; }
    // True when the operator's text needs the shell.
    bool needs_shell() const;
    // What to run: the program and its arguments, or "/bin/sh", "-c" and
    // the line with every value quoted.
    std::vector<std::string> words() const;
};

// The program name of a script text's first word with "zep##sql" and
// "###" replaced for the database type and version.
std::string exit_program_name(const std::string& first_word);

// Builds the command line from the cursor's script text; 0 good, 1 when a
// host variable cannot be resolved (fxr4020, fxr4015).
int formatCommand(curs& cursor, CommandLine& line);

// An in-list's text as it goes into a command line: without the
// parentheses, commas turned into blanks.
std::string in_list_words(const std::string& text);

// The text quoted for the shell as one word: in apostrophes, each
// apostrophe written as '\''.
std::string shell_quoted(const std::string& text);

} // namespace qvx
