#pragma once

// Narrow-band AMR storage files ("#!AMR\n" followed by octet-aligned frames), read and written
// by path. Every handle is opaque; a null handle means failure.

#ifdef __cplusplus
extern "C" {
#endif

// Mode numbers of the narrow-band encoder, 4.75 to 12.2 kbit/s.
enum AmrnbMode {
    AMRNB_MR475 = 0,
    AMRNB_MR515,
    AMRNB_MR59,
    AMRNB_MR67,
    AMRNB_MR74,
    AMRNB_MR795,
    AMRNB_MR102,
    AMRNB_MR122
};

// Opens a narrow-band file for decoding; null when it cannot be opened or lacks the magic.
void* amrnbdec_init(const char* path);
// Decodes the next frame: returns its sample count (160) and points *samples at them (valid
// until the next call), or 0 at the end of the file, or -1 on a damaged frame. *position is
// the file offset just after the frame.
int amrnbdec_decode(void* handle, short** samples, long* position);
void amrnbdec_quit(void* handle);

// Creates the output file and writes the magic; null when the file or the encoder cannot be
// made or mode is not an AmrnbMode.
void* amrnbenc_init(const char* path, int dtx, enum AmrnbMode mode);
// Encodes one frame of 160 samples and appends it; returns the bytes written, 0 on failure.
int amrnbenc_encode(void* handle, const short* frame);
// Finishes and closes the file.
void amrnbenc_quit(void* handle);

#ifdef __cplusplus
}
#endif
