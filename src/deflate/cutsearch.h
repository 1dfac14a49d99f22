// The search of block cuts by parsing again, for small inputs. A cut that
// pays shows only once each side is parsed for its own codes: the steps of
// one block's parse are tuned to that block's code, so that pricing a cut
// on them (as the partition does) misses most of what it saves. A class
// file's constant pool and its code want different codes, and on a few KB
// trials cost little.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate/coding.h"

// Tries cuts of every block of best at the fractions k / pieces of its
// bytes (k = 1 .. pieces - 1) by trials of passes passes over the layouts
// so cut, one trial per k and all blocks at once: blocks are independent
// (a block's parse and bits depend only on its bytes and its starting
// lengths). Each block takes the cut whose two sides code shortest when
// that saves more than a byte; the blocks so made are tried again, for at
// most levels rounds. Returns whether best changed.
bool searchcuts(const std::vector<encoder *> &encs, coding &best, const uint8_t *data, int64_t length,
                const encodeoptions &o, int32_t pieces, int32_t passes, int32_t levels, huffmanscratch &s,
                bool onecode);
