#pragma once
// Descriptors of the Linux serial layer.

namespace tarvik::commos {

// The descriptor moved above the standard streams (0 to 2) when it is one of
// their numbers, so that nothing a program prints can reach it even if the
// program was started with a stream closed; the new one is close-on-exec.
// Takes a failed open's -1 through unchanged, and returns -1 when the move
// fails, with the original closed.
int KeepAboveStandardStreams(int fd);

}  // namespace tarvik::commos
