#pragma once

// Wide-band AMR storage files ("#!AMR-WB\n" followed by octet-aligned frames), read and written
// by path. Every handle is opaque; a null handle means failure.

#ifdef __cplusplus
extern "C" {
#endif

// Opens a wide-band file for decoding; null when it cannot be opened or lacks the magic.
void* amrwbdec_init(const char* path);
// Decodes the next frame: returns its sample count (320) and points *samples at them (valid
// until the next call), or 0 at the end of the file, or -1 on a damaged frame. *position is
// the file offset just after the frame.
int amrwbdec_decode(void* handle, short** samples, long* position);
void amrwbdec_quit(void* handle);

// Creates the output file and writes the magic; null when the file or the encoder cannot be
// made or mode is outside 0..8 (6.60 to 23.85 kbit/s).
void* amrwbenc_init(const char* path, int dtx, int mode);
// Encodes one frame of 320 samples and appends it; returns the bytes written, 0 on failure.
int amrwbenc_encode(void* handle, const short* frame);
// Finishes and closes the file.
void amrwbenc_quit(void* handle);

#ifdef __cplusplus
}
#endif
