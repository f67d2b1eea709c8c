// The command-line face that the three programs share: the arguments, the
// standard streams, creating and finishing the output, the messages and the
// exit statuses. Each program's main describes itself in a ProgramFace and
// keeps only its own steps (reading its input, converting, writing); the
// library in common/ never prints, this module prints for the programs.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/output.hpp"
#include "common/picture.hpp"

// The entry point takes the arguments as the system gives them: UTF-16 on
// Windows, where a narrow argv holds only the names of the system's code page,
// bytes elsewhere. A build that links the three programs into one module (the
// browser page) names each entry point itself.
#ifdef _WIN32
#ifndef VORNE_MAIN
#define VORNE_MAIN wmain
#endif
using ArgChar = wchar_t;
#else
#ifndef VORNE_MAIN
#define VORNE_MAIN main
#endif
using ArgChar = char;
#endif

// What a program is, as its messages and statuses show it.
struct ProgramFace {
    const char* name;        // "encscreen"
    int success, failure;    // exit statuses: encscreen's are 1 and 0, the others' 0 and 1
    const char* usage;       // printed for a wrong command line
    const char* not_opened;  // the messages about the output: "scnfile was not opened\n"
    const char* not_written; // "scnfile was not written\n"
    OutputMode mode;         // the listing is text: CR LF on Windows
};

// One run of a program: its two file names and its output.
struct Run {
    const ProgramFace* face = nullptr;
    const char* input = nullptr;
    const char* output = nullptr;
    // Where messages about the files go: standard output as always, but
    // standard error when the output itself is standard output, so that no
    // message ends up in the data.
    std::FILE* say = stdout;
    Output out;
};

// The whole program: the arguments in UTF-8, a broken pipe made a write
// error, the command line checked (usage, --help, --version), then
// convert(run) with run's names set, and "not enough memory" where memory
// runs out anywhere. Returns the exit status.
int run_program(int argc, ArgChar** argv, const ProgramFace& face, int (*convert)(Run& run));

// Prints `message` (a whole line) where it belongs: standard error, or the
// stream for messages about files. Returns the failure status.
int fail(const Run& run, const char* message, bool to_stderr);

// The failure of reading a picture, in the encoders' words.
int picture_failed(const Run& run, PictureError e);

// Creates the output: false, with "<output> was not opened", when it cannot.
bool create_output(Run& run);

// Completes the output after the program wrote it (`written` false when a
// write failed): the success status, or "<output> was not written" and the
// failure status, the old file left as it was.
int finish_run(Run& run, bool written);

// The answer to a command line that asks for no conversion: the text to print
// on standard output, and whether the program ends with its success status.
struct Reply {
    std::string text;
    bool success = false;
};

// Nothing when argv holds exactly the two file names to convert. Otherwise
// the usage message (as success for -h and --help as the only argument, as
// failure for any other count of names: a third name is most likely a glob
// that matched one file too many, and that file must not be overwritten), or
// "<program> <version>" for --version.
std::optional<Reply> reply_without_converting(int argc, char** argv, const char* program, const char* usage);
