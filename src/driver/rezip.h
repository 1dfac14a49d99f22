// -z: existing archives (and .gz files) made smaller in place. Every Deflate entry (and with
// -zs every stored one) is inflated, checked and coded again, and replaces
// the original only where it comes out smaller; everything else of the
// archive - entry order, names, times, attributes, extra fields, comments,
// entries of other methods - is kept as it was. The new archive is written
// beside the old one and renamed over it only when it is complete and
// smaller; an archive that cannot be made smaller is not touched at all.
#pragma once

#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/mappedfile.h"

// Rewrites every archive the names select (file specifications and "@"
// lists, as for a new archive); returns the exit status: 1 when any of them
// failed, each failure reported while the others are still processed.
int rezip(const runoptions &o, const std::vector<std::string> &names);

// -z on a .gz file (f, read from path): its one member's Deflate data coded
// again and put back only where smaller, every other byte of the file kept
// as it was. False, reported, when the file is refused or cannot be
// written.
bool regzip(const runoptions &o, const std::string &path, const mappedfile &f);
