// --dither: a search for the pixels and colours that look most like the
// picture from a normal viewing distance.
//
// What the eye sees of a screen from afar is the screen blurred: it averages
// neighbouring pixels, lightness over a pixel or two, colour over a few
// more. The search starts from an ordered dither (encode/dither.hpp's
// pattern, over the corners of the tetrahedron around each pixel's colour:
// quantize_tetrahedra_bgr) and improves it by small moves, each kept only
// where the blurred difference between screen and picture falls (a direct
// binary search), five sweeps over each band:
//
//   - a pixel's code: each of the other three codes is tried, the best kept;
//   - a symbol's colour: one attribute byte's red, green or blue one level
//     up or down, every pixel of that code changing with it.
//
// The difference: both pictures in linear light, turned into three opponent
// channels (lightness, red-green, blue-yellow: the transform of S-CIELAB,
// Zhang and Wandell 1997), each channel blurred by its own small Gaussian
// (the narrow part of the eye's response at 48 screen pixels per degree, a
// 256-pixel screen across about 5 degrees), squared and summed with weights
// that give each channel its share of CIEDE2000; plus a small share of the
// unblurred difference, which keeps a drawing's thin outlines where they
// are. The wide parts of the eye's colour response are left out on purpose:
// a search that may balance colour over twenty pixels makes symbol-sized
// blotches that the eye, closer up, does see.
//
// A move's change of the difference costs a few operations, not a blur of
// the picture: the search keeps the blurred error, the error convolved with
// the blur's autocorrelation (a Gaussian again), at every pixel of the band
// it searches; a pixel's move changes the difference by 2 d c + d^2 A(0),
// where d is its change of colour and c the kept value there, and a kept
// move adds d times the autocorrelation around it (at most 17 x 17 pixels).
//
// Bytes that agree everywhere: the kept values and every change of them are
// integers, so any order of adding them gives the same sums; a move's change
// of the difference is computed in double from integers, +, - and * alone
// (-ffp-contract=off); the kernels come from pinned arithmetic
// (colour/lab.hpp). Moves are tried in a fixed order, a fixed number of
// sweeps, and a move is kept only when it lowers the difference strictly
// (of equal ones, the first in that order).
//
// Order of the search. The picture is searched a symbol row (a band) at a
// time from the top: band k with band k-1 as the search left it and band k+1
// as the ordered dither starts it, so the result is the same whichever way
// the lines arrive. A file stored top line first keeps three bands (the one
// searched and its neighbours: about 500 bytes per pixel of width) besides
// the screen; a bottom-up BMP arrives bottom band first and is kept whole,
// three bytes a pixel, then searched from the top.
//
// Within a band the symbols are searched in three phases, the columns 0, 3,
// 6, ..., then 1, 4, 7, ..., then 2, 5, 8, ...: a symbol's moves read the
// kept values of its own pixels only and change them at most 8 pixels
// beyond, within its two neighbours, so the symbols of one phase neither
// read nor write what another of the phase writes. Threads may share out the
// symbols of a phase in any way and meet between phases: same bytes.
//
// Exact art stays exact: a symbol that the ordered dither codes as
// --perceptual does (at most four colours near screen levels) is frozen,
// neither its codes nor its colours move; a flat area of a screen colour is
// such art. Frozen symbols still count in their neighbours' difference.
//
// Speed: a move costs a few operations to try and 81 to 225 additions a
// channel to keep; a 256 x 192 picture takes some 40 ms on one core, and a
// band of 752 pixels or wider is shared over threads (see the phases above).
#pragma once

#include "encode/sprite_palette.hpp"
#include "formats/picture.hpp"
#include "formats/screen.hpp"

// encscreen --dither, on `threads` threads (the same bytes for any number).
PictureError load_screen_dither(const char* path, ScreenImage& s, const ReadOptions& opt = {}, unsigned threads = 1);

// encsprite --dither: the palette of encsprite --dither=ordered for the
// whole picture, and the search moving pixel codes only (the colours are
// every symbol's). The whole picture is kept, as for --dither=ordered.
PictureError load_sprites_dither(const char* path, SpritePicture& out, const ReadOptions& opt = {},
                                 unsigned threads = 1);
