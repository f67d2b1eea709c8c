// The steps every program's main shares; see cli.hpp.
#include "cli/cli.hpp"

#include "cli/quoting.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "io/files.hpp"
#include "formats/screen.hpp"

#ifdef _WIN32
#include <io.h>
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

// A diagnostic holds a file name, which may be 日本.bmp: a console window
// shows UTF-8 bytes in its code page, garbled, so a console gets the line in
// UTF-16; a file or pipe gets the UTF-8 bytes, with CR LF like the messages.
void print_line(const std::string& line)
{
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0);
        std::wstring wide(size_t(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), wide.data(), n);
        DWORD written = 0;
        std::fflush(stderr);
        WriteConsoleW(h, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    std::fputs(line.c_str(), stderr);
}

#else

char** utf8_arguments(int, char** argv, Utf8Arguments&) { return argv; }

// A reader that goes away (`encsprite big.bmp - | head`) would kill the
// program with SIGPIPE, silently and with status 141, which is neither
// program's failure status; ignored, the write fails with EPIPE instead and
// the program says its output was not written.
void write_errors_instead_of_signals() { std::signal(SIGPIPE, SIG_IGN); }

void print_line(const std::string& line) { std::fputs(line.c_str(), stderr); }

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
    std::fputs(kNoMemory, stderr);
    return run.face->failure;
}

// A usage error: what was wrong on standard error, then the usage message as
// ever, on standard output.
int usage_error(const ProgramFace& face, const std::string& what)
{
    print_line(std::string(face.name) + ": " + what + "\n");
    std::fputs(face.usage, stdout);
    return face.failure;
}

// --help and --version: their text on standard output, with the success
// status only where it got there. `encsprite --help >/dev/full` must not say
// that it printed its help; a stdio stream keeps the text until the flush,
// so the flush tells.
int print_text(const ProgramFace& face, const std::string& text)
{
    errno = 0;
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return face.success;
    print_line(std::string(face.name) + ": standard output: " + system_reason(errno) + "\n");
    return face.failure;
}

// Reads the options and the two names. Nothing when the program is to
// convert; otherwise the exit status of a command line that asked for no
// conversion or was wrong.
std::optional<int> read_command_line(int argc, char** argv, Run& run)
{
    const ProgramFace& face = *run.face;
    const CommandLine line = parse_command_line(face.program, argc, argv);
    switch (line.asks) {
    case CommandLine::convert:
        break;
    case CommandLine::help:
        return print_text(face, std::string(face.help_head) + "\nOptions:\n" + options_help(face.program) + "\n" +
                                    face.help_tail);
    case CommandLine::version:
        return print_text(face, std::string(face.name) + " " + VORNE_VERSION + "\n");
    case CommandLine::wrong:
        return usage_error(face, line.error);
    }
    if (line.names.size() != 2) {
        // A third name is most likely a glob that matched one file too many,
        // and that file must not be overwritten.
        const std::string help = "try '" + std::string(face.name) + " --help'";
        const size_t n = line.names.size();
        return usage_error(face, n == 0   ? help
                                 : n == 1 ? "one name given, two needed; " + help
                                          : std::to_string(n) + " names given, two needed; " + help);
    }
    run.options = line.options;
    run.input = line.names[0];
    run.output = line.names[1];
    return std::nullopt;
}

} // namespace

std::string shown_name(const char* name, bool output)
{
    if (is_standard_stream_name(name))
        return output ? "standard output" : "standard input";
    return quoted(name, false);
}

namespace {

// The guard's reason, where the output is the input, or holds what it must
// not replace. The input is never replaced, whatever the options: its
// conversion would be all that is left of it. Only a regular file counts:
// a terminal or a pipe can be read from and written to at once.
std::string kept_because(Run& run)
{
    const FileId out = file_id(run.output, true);
    if (out.regular && same_file(out, file_id(run.input, false)))
        return "it is the input";
    if (run.options.force || run.keep == 0)
        return {};
    const FileKind kind = kind_of_file(run.output);
    if (kind == FileKind::picture && (run.keep & kKeepPictures)) {
        // A preview of the program's own is read whole to prove it (a few
        // bytes decide that it is a picture). Where nothing has touched the
        // file since it was proved, it is not read again.
        const bool own = run.own_picture && (same_contents(out, run.own_seen) || run.own_picture(run.output));
        run.own_seen = own ? out : FileId{};
        if (!own)
            return "it holds a picture, left alone; --force replaces it";
    }
    if (kind == FileKind::screen && (run.keep & kKeepScreens))
        return "it holds a screen, left alone; --force replaces it";
    return {};
}

} // namespace

namespace {

int run_steps(int argc, ArgChar** argv, Run& run, int (*convert)(Run& run))
{
    try {
        Utf8Arguments utf8;
        char** args = utf8_arguments(argc, argv, utf8);

        // 1. The options and the two names: the input and the output,
        // either of them "-".
        if (const std::optional<int> status = read_command_line(argc, args, run))
            return *status;
        run.say = writes_to_standard_output(run.output) ? stderr : stdout;

        // 2. The program's own steps.
        return convert(run);
    } catch (const std::bad_alloc&) {
        return out_of_memory(run);
    }
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
    const int status = run_steps(argc, argv, run, convert);
    // The browser page runs the programs again and again in one process.
    release_reserve();
    return status;
}

std::string system_reason(int error)
{
    const char* text = error ? std::strerror(error) : nullptr;
    return text ? text : "an error the system did not name";
}

int fail(const Run& run, const char* message, bool to_stderr, const char* name, const std::string& reason)
{
    std::fputs(message, to_stderr ? stderr : run.say);
    if (name && !reason.empty()) {
        std::fflush(run.say);
        print_line(std::string(run.face->name) + ": " + name + ": " + reason + "\n");
    }
    return run.face->failure;
}

ReadOptions reading(Run& run)
{
    ReadOptions r = reading_options(run.options);
    r.report = &run.report;
    return r;
}

int picture_failed(const Run& run, PictureError e)
{
    const PictureReport& r = run.report;
    const ErrorMessage m = picture_error_message(e);
    const std::string name = shown_name(run.input, false);
    std::string why;
    switch (e) {
    case PictureError::ok:
        break;
    case PictureError::cannot_open:
        why = system_reason(r.error);
        break;
    case PictureError::not_24bit: {
        const std::span<const uint8_t> head(r.head.data(), r.head_size);
        const uint64_t has = r.size != kUnknownSize ? r.size : r.got;
        if (r.head_size >= 2 && r.head[0] == 'B' && r.head[1] == 'M' && has < 54 && (has < 26 || r.head[14] != 12))
            why = "the file has only " + std::to_string(has) + " bytes, too few for a BMP's headers";
        else
            why = "it is " + describe_head(head) + ": convert it to PNG or to a 24-bit BMP";
        break;
    }
    case PictureError::bad_size:
        why = "the picture is " + std::to_string(r.width) + "x" + std::to_string(r.height);
        if (r.width > 0 && r.height > 0 && r.width <= kMaxScreenSide && r.height <= kMaxScreenSide &&
            (run.face->program & (kEncscreenBit | kEncspriteBit)))
            why += "; --pad makes it " + std::to_string((r.width + 7) / 8 * 8) + "x" +
                   std::to_string((r.height + 7) / 8 * 8) +
                   " by repeating its last column and line, --fit 256x192 scales it to a screen size";
        else if (r.width > kMaxScreenSide || r.height > kMaxScreenSide)
            why += ", larger than a screen can be";
        break;
    case PictureError::truncated:
        if (r.size != kUnknownSize)
            why = "the file has " + std::to_string(r.size) + " bytes; the picture needs " + std::to_string(r.needed);
        else
            why = "the data ended after " + std::to_string(r.got) + " bytes; the picture needs " +
                  std::to_string(r.needed);
        break;
    case PictureError::png_damaged:
        why = r.size != kUnknownSize ? "the PNG data is broken or cut short (the file has " +
                                           std::to_string(r.size) + " bytes)"
                                     : "the PNG data is broken or cut short";
        break;
    }
    return fail(run, m.text, m.to_stderr, name.c_str(), why);
}

bool guard_output(Run& run, unsigned keep)
{
    run.keep = keep;
    if (const std::string why = kept_because(run); !why.empty()) {
        fail(run, run.face->not_opened, false, shown_name(run.output, true).c_str(), why);
        return false;
    }
    return true;
}

bool create_output(Run& run, OutputMode mode)
{
    std::string why = kept_because(run);
    if (why.empty()) {
        if (open_output(run.output, mode, run.out))
            return true;
        why = system_reason(run.out.error);
    }
    fail(run, run.face->not_opened, false, shown_name(run.output, true).c_str(), why);
    return false;
}

int finish_run(Run& run, bool written)
{
    const int write_error = written ? 0 : errno;
    // Checked again right before the rename: a picture that appeared there
    // during the conversion is kept too.
    std::string why = run.out.temp.empty() ? std::string() : kept_because(run);
    if (why.empty() && written && finish_output(run.out))
        return run.face->success;
    if (why.empty())
        why = system_reason(written ? run.out.error : write_error);
    discard_output(run.out);
    return fail(run, run.face->not_written, false, shown_name(run.output, true).c_str(), why);
}

namespace {

// The extensions of the picture formats a user names files with.
constexpr const char* kPictureExtensions[] = {".png", ".bmp", ".jpg", ".jpeg", ".gif", ".webp", ".tif", ".tiff"};

// The format a picture's name says, for the formats decscreen does not write
// (JPEG, GIF, WebP, TIFF); null for any other name.
const char* other_picture_format(const char* name)
{
    static constexpr struct {
        const char* extension;
        const char* format;
    } kOthers[] = {{".jpg", "JPEG"},  {".jpeg", "JPEG"}, {".gif", "GIF"},
                   {".webp", "WebP"}, {".tif", "TIFF"},   {".tiff", "TIFF"}};
    for (const auto& o : kOthers)
        if (has_extension(name, o.extension))
            return o.format;
    return nullptr;
}

bool has_picture_name(const char* name)
{
    for (const char* e : kPictureExtensions)
        if (has_extension(name, e))
            return true;
    return false;
}

// True where the output's name is the name of a file: not "-", nor a device,
// pipe or folder that is there, whose name says nothing of a format.
bool names_a_file(const char* name)
{
    if (!*name || is_standard_stream_name(name))
        return false;
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path_from_utf8(name), ec);
    return !std::filesystem::exists(st) || std::filesystem::is_regular_file(st);
}

// What a regular file holds. Anything else is not opened at all: opening a
// named pipe, even without waiting, would let its writer start into a pipe
// that is closed again at once, and the input's data would be lost.
FileKind kind_of_regular_file(const char* name)
{
    std::error_code ec;
    return *name && !is_standard_stream_name(name) &&
                   std::filesystem::is_regular_file(path_from_utf8(name), ec)
               ? kind_of_file(name)
               : FileKind::other;
}

bool refuse_output(Run& run, const std::string& why)
{
    fail(run, run.face->not_opened, false, shown_name(run.output, true).c_str(), why);
    return false;
}

} // namespace

bool check_names(Run& run, Writes what)
{
    // A command line typed the wrong way round: the program would read the
    // output and fail, after the guard had said only that the output holds a
    // picture (or a screen), which is true but not the point.
    const bool encoder = what != Writes::picture;
    const FileKind input = kind_of_regular_file(run.input);
    const bool swapped =
        encoder ? input == FileKind::screen &&
                      (has_picture_name(run.output) || kind_of_regular_file(run.output) == FileKind::picture)
                : input == FileKind::picture &&
                      (has_extension(run.output, ".scn") || kind_of_regular_file(run.output) == FileKind::screen);
    if (swapped)
        return refuse_output(run, "the names are the wrong way round: " + shown_name(run.input, false) +
                                      (encoder ? " is a screen file; the picture comes first, then the "
                                               : " is a picture; the screen comes first, then the picture") +
                                      (what == Writes::screen ? "screen" : what == Writes::listing ? "listing" : ""));

    // A missing folder, named, before anything is converted; the system's
    // "No such file or directory" would not say which part of the name is
    // missing.
    if (!is_standard_stream_name(run.output)) {
        const std::filesystem::path folder = path_from_utf8(run.output).parent_path();
        std::error_code ec;
        if (!folder.empty() && std::filesystem::status(folder, ec).type() == std::filesystem::file_type::not_found) {
            const std::u8string utf8 = folder.u8string();
            return refuse_output(run, "the folder " +
                                          quoted(std::string_view(reinterpret_cast<const char*>(utf8.data()),
                                                                  utf8.size()),
                                                 true) +
                                          " does not exist");
        }
    }
    return true;
}

bool check_output_name(Run& run, Writes what)
{
    if (run.options.force || !names_a_file(run.output))
        return true;
    // An encoder's output is a screen file or a listing whatever its name:
    // under a picture's name every picture viewer fails on it. decscreen
    // writes a BMP, or a PNG for .png, never the format another name says.
    if (what == Writes::picture) {
        if (const char* format = other_picture_format(run.output))
            return refuse_output(run, std::string("it would be a BMP under a ") + format +
                                          "'s name: name it .bmp, or .png for a PNG; --force writes the BMP all "
                                          "the same");
    } else if (has_picture_name(run.output)) {
        return refuse_output(run, what == Writes::screen
                                      ? "it would be a screen file under a picture's name: name it .scn, or --force "
                                        "writes it all the same"
                                      : "it would be a listing under a picture's name: name it .asm, or --force "
                                        "writes it all the same");
    }
    return true;
}
