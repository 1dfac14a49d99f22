// ZIP archive output: the archive file (a temporary file beside the target,
// renamed over it when complete), the record layouts with the header patch
// and the central directory, and stored entries.
//
// The archive is written through a bytesink over the temporary file, so the
// position can move back to patch a local header after its data, or to
// overwrite an entry. What an entry's data are, and how they were
// compressed, is the caller's business: this layer writes records around
// them. It prints nothing and never ends the process; every operation that
// can fail says so, and the caller reports it.
#pragma once

#include "zipout/archivefile.h"
#include "zipout/records.h"
#include "zipout/stored.h"
