// Names and values in diagnostics, quoted where a terminal would act on
// them; see quoting.hpp.
#include "cli/quoting.hpp"

#include <cstdint>

namespace {

// The length of the UTF-8 sequence of a character a terminal shows as it is
// at the start of `s`, or 0 where the first byte must be escaped: a control
// character (C0, DEL, C1), or a byte that starts no valid sequence (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut
// short).
size_t printable_length(std::string_view s)
{
    const auto b = [&](size_t i) { return i < s.size() ? uint8_t(s[i]) : 0; };
    const auto follows = [&](size_t i, uint8_t lo, uint8_t hi) { return b(i) >= lo && b(i) <= hi; };
    const uint8_t c = b(0);
    if (c >= 0x20 && c < 0x7F)
        return 1;
    if (c == 0xC2) // U+0080 to U+00BF: the C1 controls end at U+009F
        return follows(1, 0xA0, 0xBF) ? 2 : 0;
    if (c > 0xC2 && c <= 0xDF)
        return follows(1, 0x80, 0xBF) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const uint8_t lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const uint8_t lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

} // namespace

// `s` for a diagnostic. A name a user typed, or a file's name a glob found,
// goes to a terminal: raw, ESC [2J would clear the screen and a line feed
// would forge a line. Where `always` is false, a string a terminal shows as
// it is stays as it is, spaces and all. Otherwise, and always for an empty
// one, it is written as the shell would read it back: in single quotes, a
// quote as '\'', and every byte a terminal would act on as $'\ooo' (or
// $'\n' and the like), as GNU tools quote names.
std::string quoted(std::string_view s, bool always)
{
    bool plain = !s.empty();
    for (size_t i = 0, n = 0; plain && i < s.size(); i += n)
        plain = (n = printable_length(s.substr(i))) > 0;
    if (plain && !always)
        return std::string(s);
    std::string q = "'";
    bool escaping = false; // inside $'...'
    for (size_t i = 0; i < s.size();) {
        const size_t n = printable_length(s.substr(i));
        if (n == 0) {
            if (!escaping)
                q += "'$'";
            escaping = true;
            static constexpr char kLetters[] = "abtnvfr"; // \a is 7 ... \r is 13
            const uint8_t c = uint8_t(s[i++]);
            q += '\\';
            if (c >= 7 && c <= 13)
                q += kLetters[c - 7];
            else
                q += {char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)), char('0' + (c & 7))};
            continue;
        }
        if (s[i] == '\'') {
            q += escaping ? "\\'" : "'\\''";
        } else {
            if (escaping)
                q += "''";
            escaping = false;
            q.append(s.substr(i, n));
        }
        i += n;
    }
    return q + "'";
}
