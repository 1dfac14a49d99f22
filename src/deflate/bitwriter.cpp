// The bit writer's state. fputbits itself is inline in deflate.h: it runs for
// every code and every extra-bits field of every pass, so it must cost no
// call. Deflate packs fields least significant bit first, so pending bits sit
// at the bottom of zipdat and each completed byte leaves from there at once;
// the archive ring is the stream's only buffer.
#include "deflate/deflate.h"

// Between calls at most 7 bits are pending, and the bits above them are zero:
// a field is simply OR-ed in at position zipbit. The entry writer resets both
// to 0 after the local header, and pads to a byte boundary at the end of the
// entry's data, so no bits ever carry over from one entry or pass to the next.
uint32_t zipdat = 0;
int32_t zipbit = 0;
