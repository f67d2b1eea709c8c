// The command line every program shares: two file names, or a single request
// for help or for the version.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The entry point takes the arguments as the system gives them: UTF-16 on
// Windows, where a narrow argv holds only the names of the system's code page,
// bytes elsewhere.
#ifdef _WIN32
#define VORNE_MAIN wmain
using ArgChar = wchar_t;
#else
#ifndef VORNE_MAIN // the browser page's module names each program's own
#define VORNE_MAIN main
#endif
using ArgChar = char;
#endif

// The arguments in UTF-8; `keep` holds their storage. Elsewhere than on
// Windows, argv itself.
struct Utf8Arguments {
    std::vector<std::string> text;
    std::vector<char*> argv;
};
char** utf8_arguments(int argc, ArgChar** argv, Utf8Arguments& keep);
