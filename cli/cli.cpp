#include "common/cli.hpp"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

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

#else

char** utf8_arguments(int, char** argv, Utf8Arguments&) { return argv; }

#endif
