// One file into the archive, with its console line.
#pragma once

#include <string>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "driver/inputfile.h"
#include "files/files.h"
#include "zipout/zipout.h"

// Writes the file f, open as in, at the archive's position under name:
// stored under the Uncompressed strategy, else deflated in passes (stored
// when it does not shrink). Returns its record for the central directory.
// A failure ends the run with its message (path names the input).
ziprecord compressfile(const runoptions &o, encoder &enc, archivefile &archive, inputfile &in,
                       const std::string &path, const std::string &name, const fileentry &f);

// Ends the run with the archive's error when its sink has failed.
void checkwritten(archivefile &archive);
