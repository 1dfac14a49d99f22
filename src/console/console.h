// Console: every text the program shows goes through myprintf, which writes
// to messagestream, or (errors and warnings) through warn and fatal, which
// write to errorstream; nothing is written to a null stream (quiet mode).
// The one interactive input is a single raw key, read by getch at the
// overwrite prompt. A failure that ends the run goes through fatal: one
// message, the cleanup that keeps a failed run from destroying anything,
// exit status 1.
#pragma once

#include <cstdint>
#include <cstdio>

// Where messages go: standard output (standard error when the archive
// itself goes to standard output), or null in quiet mode. Where errors and
// warnings go: standard error, or null in quiet mode. Set by the driver only.
extern FILE *messagestream;
extern FILE *errorstream;

// printf to messagestream; returns 0 and prints nothing when it is null.
// Callers print a literal percent sign by passing 37 to a "%c" conversion.
int myprintf(const char *f, ...) __attribute__((format(printf, 1, 2)));
// printf to errorstream, after whatever messagestream holds, so that the
// two read in order where they meet (a terminal, 2>&1).
int warn(const char *f, ...) __attribute__((format(printf, 1, 2)));

// What getch returns when no byte can be read (end of input, read error,
// closed descriptor): Escape, which the overwrite prompt takes as a refusal,
// so a prompt on a closed or exhausted input never waits forever.
constexpr int getchnokey = 27;

// Reads one byte from descriptor 0 with the terminal in raw mode (no line
// editing, no echo, no signal keys) and restores the terminal afterwards.
// The byte comes back as a signed char widened to int (0x80..0xFF give
// -128..-1); a line feed comes back as a carriage return (13).
int getch();

// Run by fatal before the process exits; the archive layer sets it while a
// temporary archive exists, so that a failed run leaves no trace.
extern void (*fatalcleanup)();

// Prints one message through warn, runs fatalcleanup, exits with status 1.
[[noreturn]] void fatal(const char *f, ...) __attribute__((format(printf, 1, 2)));
