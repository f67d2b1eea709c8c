// Every fixed message the programs print, in one place. They are the
// programs' interface as much as their exit statuses: scripts match them, so
// each is written exactly as ever, lower case, trailing space and bell
// included. What a failure was about comes after them in a diagnostic line
// of its own (cli.hpp).
#pragma once

#include "formats/picture.hpp"

// The usage lines, for a command line without two names: each ends with a
// line feed and a bell.
inline constexpr const char* kEncscreenUsage = "Usage: encscreen <>.bmp <>.scn \n\a";
inline constexpr const char* kEncspriteUsage = "Usage: encsprite <>.bmp <>.txt \n\a";
inline constexpr const char* kDecscreenUsage = "Usage: decscreen <>.scn <>.bmp \n\a";

// The input picture (encscreen and encsprite).
inline constexpr const char* kBmpNotOpened = "bmpfile was not opened\n";
inline constexpr const char* kNot24Bit = "the file is not 24bit bmp \n";
inline constexpr const char* kBadSize = "the picture width and height must be multiples of 8 up to 65528\n";
inline constexpr const char* kBmpTruncated = "bmpfile is truncated\n";
inline constexpr const char* kPngDamaged = "pngfile is damaged\n";

// The screen file: encscreen's output, decscreen's input.
inline constexpr const char* kScnNotOpened = "scnfile was not opened\n";
inline constexpr const char* kScnNotWritten = "scnfile was not written\n";
inline constexpr const char* kScnTruncated = "scnfile is truncated\n";
inline constexpr const char* kScnNotScreen = "scnfile is not a screen file\n";

// encsprite's listing.
inline constexpr const char* kSprNotOpened = "sprfile was not opened\n";
inline constexpr const char* kSprNotWritten = "sprfile was not written\n";
inline constexpr const char* kSheetNotSprites = "the sheet is not a whole number of sprites\n";
// Warnings on standard error; the conversion goes on. printf formats: the
// input's name, then the colours and the pixels (and "s" for more than one).
inline constexpr const char* kColoursMerged =
    "encsprite: warning: %s has %u screen colours where four fit: %llu pixel%s show another colour\n";
// The input's name: a screen file has no room for the mask.
inline constexpr const char* kScreenNoMask =
    "encsprite: warning: %s has transparent pixels, and a screen file holds no mask: they are coded 0\n";

// decscreen's picture.
inline constexpr const char* kBmpNotWritten = "bmpfile was not written\n";
inline constexpr const char* kBmpTooLarge = "the picture is too large for a bmp file\n";

// Any program.
inline constexpr const char* kNoMemory = "not enough memory\n";

// The message for a picture that cannot be read, and whether it goes to
// standard error (the picture's own faults) or with the messages about files
// (its absence).
struct ErrorMessage {
    const char* text;
    bool to_stderr;
};

constexpr ErrorMessage picture_error_message(PictureError e)
{
    switch (e) {
    case PictureError::ok:
        break;
    case PictureError::cannot_open:
        return {kBmpNotOpened, false};
    case PictureError::not_24bit:
        return {kNot24Bit, true};
    case PictureError::bad_size:
        return {kBadSize, true};
    case PictureError::truncated:
        return {kBmpTruncated, true};
    case PictureError::png_damaged:
        return {kPngDamaged, true};
    }
    return {"", false};
}
