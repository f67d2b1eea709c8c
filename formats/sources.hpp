// The kinds of output the encoders write a screen as, for the builds that
// take them as they are:
//
//   scn   the screen file (formats/scnfile.hpp)
//   asm   the listing (formats/listing.hpp): DEFW raster words under SPR:,
//         DEFB attribute bytes under ATTR:, for pasmo, z80asm, sjasmplus, GNU as
//   c     C: a source with the arrays, or (for a name ending in .h) the
//         header with their extern declarations; both with #defines of the sizes
//   sdas  SDCC's assembler (sdasz80): .area _CODE, .dw/.db, and the labels
//         _SPR:: and _ATTR::, global, under the names C links to
//   bin   the raster then the attributes, nothing else, for INCBIN/BINARY
//
// Every kind holds the same bytes in memory: the raster words little-endian
// (as DEFW puts them, the first byte pixels 4..7 of a word's eight), then four
// attribute bytes a symbol. The names are SPR and ATTR, or NAME_SPR and
// NAME_ATTR with a prefix NAME, in every kind.
//
// The C source (.c) defines
//     const unsigned char SPR[SPR_SIZE], ATTR[ATTR_SIZE];
// and the header (.h) declares them extern, so that the arrays are in one
// object however many files include the header; both carry the #defines
// (identical definitions of a macro may repeat in C), so the source compiles
// alone as well.
//
// The sizes, with the prefix before each name as before the labels:
//     SPR_WIDTH, SPR_HEIGHT  one sprite's pixels (the whole picture without
//                            a sheet of sprites)
//     SPR_COUNT              the number of sprites (1 without a sheet)
//     SPR_BYTES              one sprite's raster bytes: sprite i's raster is
//                            at SPR + i * SPR_BYTES
//     SPR_SIZE, ATTR_SIZE    all the raster bytes, all the attribute bytes
// as #defines in C, as "NAME = value" in SDCC's assembler and as EQU lines in
// the listing; the listing of a picture that is not cut into sprites has none,
// so that it stays what it has always been.
//
// A sprite picture with transparent pixels has a mask as well, after the
// attributes in every kind (so that the raster and the attributes lie where
// they lie without one, and a raw file of a picture without transparency is
// what it has always been): MASK (NAME_MASK), a word per raster word, in the
// raster's order and layout (sprite by sprite where the raster is), bits 11
// where the pixel is transparent and 00 where it is opaque. A routine draws
// a sprite over the screen's words as screen = (screen AND mask) OR raster;
// a transparent pixel's raster bits are 00. MASK_SIZE (NAME_MASK_SIZE),
// which equals SPR_SIZE, is given with the sizes (in the listing, where the
// sizes are). The raw file is raster, attributes, mask: the mask starts at
// SPR_SIZE + ATTR_SIZE. A screen file has no room for a mask.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "formats/listing.hpp"
#include "formats/screen.hpp"
#include "io/files.hpp"

enum class OutputKind { unset, scn, asm_listing, c, sdas, bin };

// The kind of "scn", "asm", "c", "sdas" or "bin"; unset for any other name.
OutputKind output_kind_named(std::string_view name);

// The names, as a usage error lists them: "scn, asm, c, sdas, bin".
inline constexpr const char* kOutputKindNames = "scn, asm, c, sdas, bin";

// Text kinds are written in text mode (CR LF on Windows), the others in binary.
inline bool is_text_kind(OutputKind k) { return k == OutputKind::asm_listing || k == OutputKind::c || k == OutputKind::sdas; }

// How the raster is cut: sprites of sprite_width x sprite_height pixels,
// the whole picture where they are 0.
struct SheetShape {
    uint32_t width = 0, height = 0;               // the picture's
    uint32_t sprite_width = 0, sprite_height = 0; // a sprite's, or 0
    bool mask = false;                            // a mask follows the attributes
};

// An output being written: the kind, and the text buffer of the source kinds.
struct DataWriter {
    OutputKind kind = OutputKind::asm_listing;
    bool header = false; // C: the header with the declarations
    std::FILE* out = nullptr;
    ListingWriter text;
    bool ok = true;
    WriteBack wb{};
    std::string names[3]; // SPR, ATTR and MASK with the prefix
    bool in_mask = false; // the mask's label (or array) has been begun
};

// Starts the output of a screen of the given shape: the screen file's
// header, the comment lines and sizes of a source, nothing for bin. False
// when a write fails.
bool begin_data(DataWriter& dw, std::FILE* out, OutputKind kind, bool c_header, const SheetShape& shape,
                std::string_view prefix);

// The next n raster words, in the order they go into memory.
void put_data_words(DataWriter& dw, const uint16_t* words, size_t n);

// Every symbol's four attribute bytes: symbol i's at attributes + i * stride.
void put_data_attributes(DataWriter& dw, const uint8_t* attributes, size_t symbols, size_t stride);

// After the attributes, the next n mask words, in the raster's order (begun
// with the label or array at the first). A screen file takes none.
void put_data_mask(DataWriter& dw, const uint16_t* words, size_t n);

// Writes what is left and flushes. False when any write or the flush failed.
bool end_data(DataWriter& dw);

// A whole screen in memory (encscreen's) as `kind`.
bool write_screen_as(std::FILE* out, const ScreenImage& s, OutputKind kind, bool c_header, std::string_view prefix);
