// The command-line face that the three programs share: the options and the
// two file names, the standard streams, creating and finishing the output,
// the messages, the diagnostics that say what and why, and the exit statuses.
// Each program's main describes itself in a ProgramFace and keeps only its
// own steps (reading its input, converting, writing); the libraries below it
// never print, this module prints for the programs.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "cli/messages.hpp"
#include "cli/options.hpp"
#include "formats/picture.hpp"
#include "formats/sniff.hpp"
#include "io/output.hpp"

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
    const char* usage;       // printed for a wrong command line (cli/messages.hpp)
    const char* not_opened;  // the messages about the output: "scnfile was not opened\n"
    const char* not_written; // "scnfile was not written\n"
    unsigned program;        // its bit in the table of options (cli/options.hpp)
    // --help: the usage and what the program does, then the table's options
    // for it under "Options:", then the rest.
    const char* help_head;
    const char* help_tail;
};

// One run of a program: its options, its two file names and its output.
struct Run {
    const ProgramFace* face = nullptr;
    Options options;
    const char* input = nullptr;
    const char* output = nullptr;
    // Where messages about the files go: standard output as always, but
    // standard error when the output itself is standard output, so that no
    // message ends up in the data.
    std::FILE* say = stdout;
    Output out;
    // The kinds of file that the output must not replace without --force
    // (KeptKinds): pictures always, screens for decscreen and the listing.
    unsigned keep = 0;
    // A picture the program wrote itself, which it replaces all the same
    // (decscreen's previews); null where there is none.
    bool (*own_picture)(const char* path) = nullptr;
    // The output as it was when own_picture last proved it the program's
    // own, so that the look again before the rename need not read it twice.
    FileId own_seen;
    PictureReport report; // what reading the picture found where it failed
};

// The whole program: the arguments in UTF-8, a broken pipe made a write
// error, the command line read (a usage error, --help, --version), then
// convert(run) with run's options and names set, and "not enough memory"
// where memory runs out anywhere. Returns the exit status.
int run_program(int argc, ArgChar** argv, const ProgramFace& face, int (*convert)(Run& run));

// Prints `message` (a whole line) where it belongs: standard error, or the
// stream for messages about files; then, where `reason` is given, the
// diagnostic line "PROG: NAME: REASON" on standard error. Returns the failure
// status.
int fail(const Run& run, const char* message, bool to_stderr, const char* name = nullptr,
         const std::string& reason = {});

// How the encoders read the picture: padded with --pad, its failures
// reported into run.report.
ReadOptions reading(Run& run);

// The failure of reading a picture, in the encoders' words, with what the
// reader found.
int picture_failed(const Run& run, PictureError e);

// The system's reason for an error number, in its own words.
std::string system_reason(int error);

// A file name as the diagnostics show it: "standard input" or "standard
// output" for "-"; otherwise as it is, unless it holds what a terminal would
// act on or not show (control characters, bytes that are not UTF-8) or
// nothing at all: then in the shell's quotes, the way GNU tools show such
// names, 'evil'$'\033''[2J.bmp' and '', which a user can paste back.
std::string shown_name(const char* name, bool output);

// What a program writes at its output, for the checks of the output's name.
enum class Writes {
    screen,  // a screen file
    listing, // an assembler listing
    picture, // a BMP, or a PNG for a name ending in .png
};

// Before the guard, --force or not: false, with the output's "was not
// opened" message and the reason, where the two names stand the wrong way
// round (a screen file given where the picture goes, or the other way) or
// the output's folder does not exist.
bool check_names(Run& run, Writes what);

// After the guard, without --force: false, with the output's "was not
// opened" message and the reason, where the output's name says a format the
// program does not write there (a screen file named .png, a BMP named .jpg).
bool check_output_name(Run& run, Writes what);

// What an existing output may hold that a conversion must not replace.
enum KeptKinds : unsigned {
    kKeepPictures = 1,
    kKeepScreens = 2,
};

// Sets the kinds of existing file that the output must not replace (see
// Run) and checks the output a first time, before anything is converted:
// false, with the output's "was not opened" message and the reason, where it
// holds one of them, or is the input itself (--force or not).
bool guard_output(Run& run, unsigned keep);

// Creates the output, binary or text (CR LF line endings on Windows): false,
// with "<output> was not opened" and the reason, when it cannot.
bool create_output(Run& run, OutputMode mode);

// Completes the output after the program wrote it (`written` false when a
// write failed): the success status, or "<output> was not written", the
// reason, and the failure status, the old file left as it was.
int finish_run(Run& run, bool written);
