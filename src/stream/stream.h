// Byte streams: the rewindable input that the encoder and the stored-entry
// writer read, and the rewindable output they write.
//
// Both the compressor and the archive writer overwrite what they wrote: a
// compression pass that is not kept is overwritten by the next one from the
// same position, and a local header is patched once its entry's data are
// known. So output goes to a bytesink, addressed by position, which can move
// back; and input comes from a bytesource, which can start again from its
// first byte. A sink either keeps its bytes in memory (an entry coded away
// from the archive, by a worker or a trial) or hands them to a file through a
// write-behind ring (the archive itself, or a temporary file).
//
// Neither side ends the process: a sink remembers its first failure and goes
// on accepting bytes, and its owner asks for failed() at the points where it
// can stop cleanly; a source answers false when it cannot deliver.
#pragma once

#include "stream/bytesink.h"
#include "stream/bytesource.h"
