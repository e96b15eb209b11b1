#pragma once
// The three standard streams of a program that may be started with any of
// them closed.

namespace tarvik {

// Gives each closed standard stream (0, 1, 2) to the null device. Called
// first thing in a program, before anything else is opened: a closed
// standard output would otherwise go to the next file opened, and what the
// program prints would be written there, a serial line among them.
void EnsureStandardStreams();

}  // namespace tarvik
