// Names and values as the diagnostics show them. A name a user typed, or a
// file's name a glob found, goes to a terminal: raw, ESC [2J would clear the
// screen and a line feed would forge a line. So what a terminal would act on
// or not show is written as the shell would read it back, the way GNU tools
// quote names: 'evil'$'\033''[2J.bmp', and '' for nothing.
#pragma once

#include <string>
#include <string_view>

// `s` for a diagnostic: as it is where a terminal shows it as it is (spaces,
// accents and all) and `always` is false; otherwise in the shell's quotes.
std::string quoted(std::string_view s, bool always);
