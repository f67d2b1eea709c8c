// The steps every program's main shares; see cli.hpp.
#include "cli/cli.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

// The arguments in UTF-8; `keep` holds their storage. Elsewhere than on
// Windows, argv itself.
struct Utf8Arguments {
    std::vector<std::string> text;
    std::vector<char*> argv;
};

#ifdef _WIN32

char** utf8_arguments(int argc, wchar_t** argv, Utf8Arguments& keep)
{
    keep.text.assign(size_t(argc), std::string());
    for (int i = 0; i < argc; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        if (bytes > 1) {
            keep.text[size_t(i)].resize(size_t(bytes - 1));
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, keep.text[size_t(i)].data(), bytes, nullptr, nullptr);
        }
    }
    keep.argv.clear();
    for (std::string& s : keep.text)
        keep.argv.push_back(s.data());
    keep.argv.push_back(nullptr);
    return keep.argv.data();
}

void write_errors_instead_of_signals() {}

#else

char** utf8_arguments(int, char** argv, Utf8Arguments&) { return argv; }

// A reader that goes away (`encsprite big.bmp - | head`) would kill the
// program with SIGPIPE, silently and with status 141, which is neither
// program's failure status; ignored, the write fails with EPIPE instead and
// the program says its output was not written.
void write_errors_instead_of_signals() { std::signal(SIGPIPE, SIG_IGN); }

#endif

// Memory for the last words. Where memory runs out, a C++ program needs a
// little to throw std::bad_alloc; the C++ library keeps an emergency pool for
// that, but in a small enough address space even the pool could not be made
// at start, and the throw ends the program with abort(). So some memory is
// held from the start and freed when an allocation first fails: the one
// process-wide thing the programs keep, as the new-handler is process-wide.
void* g_reserve = nullptr;

void release_reserve()
{
    std::free(g_reserve);
    g_reserve = nullptr;
    std::set_new_handler(nullptr); // the next failure throws
}

int out_of_memory(Run& run)
{
    discard_output(run.out);
    std::fputs("not enough memory\n", stderr);
    return run.face->failure;
}

} // namespace

int run_program(int argc, ArgChar** argv, const ProgramFace& face, int (*convert)(Run& run))
{
    Run run;
    run.face = &face;
    g_reserve = std::malloc(64 << 10);
    if (!g_reserve)
        return out_of_memory(run);
    std::set_new_handler(release_reserve);
    write_errors_instead_of_signals();
    try {
        Utf8Arguments utf8;
        char** args = utf8_arguments(argc, argv, utf8);

        // 1. Arguments: the input and the output, either of them "-".
        if (const auto reply = reply_without_converting(argc, args, face.name, face.usage)) {
            std::fputs(reply->text.c_str(), stdout);
            return reply->success ? face.success : face.failure;
        }
        run.input = args[1];
        run.output = args[2];
        run.say = writes_to_standard_output(run.output) ? stderr : stdout;

        // 2. The program's own steps.
        return convert(run);
    } catch (const std::bad_alloc&) {
        return out_of_memory(run);
    }
}

int fail(const Run& run, const char* message, bool to_stderr)
{
    std::fputs(message, to_stderr ? stderr : run.say);
    return run.face->failure;
}

int picture_failed(const Run& run, PictureError e)
{
    const ErrorMessage m = picture_error_message(e);
    return fail(run, m.text, m.to_stderr);
}

bool create_output(Run& run)
{
    if (open_output(run.output, run.face->mode, run.out))
        return true;
    std::fputs(run.face->not_opened, run.say);
    return false;
}

int finish_run(Run& run, bool written)
{
    if (written && finish_output(run.out))
        return run.face->success;
    discard_output(run.out);
    std::fputs(run.face->not_written, run.say);
    return run.face->failure;
}

std::optional<Reply> reply_without_converting(int argc, char** argv, const char* program, const char* usage)
{
    if (argc == 3)
        return std::nullopt;
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))
        return Reply{usage, true};
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return Reply{std::string(program) + " " + VORNE_VERSION + "\n", true};
    return Reply{usage, false};
}
