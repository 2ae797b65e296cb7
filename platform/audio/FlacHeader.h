#pragma once
// A FLAC file whose encoder could not finish (its last writes failed) still says "0
// samples" and no checksum in its STREAMINFO: this counts the samples of the frames it
// holds, and their MD5, and writes them in.

// `fd` is the file, open for reading and writing; false when it is no FLAC file
// libFLAC can decode or the header cannot be written.
bool CompleteFlacHeader(int fd);
