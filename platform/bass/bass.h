#pragma once

// The decoding layer: opens audio files, tracker music and MIDI files as decode-only
// channels and hands out their PCM. Every entry point has C linkage.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KESTRUNE_BASS_BUILD)
#define BASSAPI __attribute__((visibility("default")))
#else
#define BASSAPI
#endif

typedef int BOOL;
typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef DWORD HSTREAM;
typedef DWORD HMUSIC;
typedef DWORD HPLUGIN;
typedef DWORD HSOUNDFONT;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// The library version this layer implements: 2.4 in the high 16 bits.
#define BASSVERSION 0x204

#define BASS_CONFIG_UPDATEPERIOD 1

#define BASS_SAMPLE_8BITS 1
#define BASS_SAMPLE_FLOAT 256
// This layer's own, beside the library's 8-bit, 16-bit and float samples: signed 32-bit
// integers with full scale at 2^31, which keep every bit of a 24-bit or 32-bit source.
#define BASS_SAMPLE_INT32 0x40000000
#define BASS_ORIGRES_FLOAT 0x10000
#define BASS_MUSIC_RAMP 0x200
#define BASS_MUSIC_PRESCAN 0x20000
#define BASS_STREAM_DECODE 0x200000
#define BASS_MUSIC_DECODE BASS_STREAM_DECODE

#define BASS_POS_BYTE 0
#define BASS_FILEPOS_END 2

typedef struct BASS_CHANNELINFO {
    DWORD freq;   // sample rate of the delivered PCM
    DWORD chans;  // channels, interleaved
    // BASS_SAMPLE_8BITS: unsigned 8-bit samples; BASS_SAMPLE_FLOAT: floats; BASS_SAMPLE_INT32:
    // 32-bit integers; none of them: signed 16-bit
    DWORD flags;
    // Bits of the file's own samples (with BASS_ORIGRES_FLOAT for floats); 0 when unknown
    DWORD origres;
} BASS_CHANNELINFO;

typedef struct BASS_MIDI_FONT {
    HSOUNDFONT font;
    int preset;  // -1: every preset of the font
    int bank;
} BASS_MIDI_FONT;

BASSAPI DWORD BASS_GetVersion(void);
BASSAPI BOOL BASS_SetConfig(DWORD option, DWORD value);
BASSAPI BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
BASSAPI BOOL BASS_Free(void);
BASSAPI HPLUGIN BASS_PluginLoad(const char* file, DWORD flags);
BASSAPI BOOL BASS_PluginFree(HPLUGIN handle);

// flags: BASS_STREAM_DECODE, and BASS_SAMPLE_FLOAT or BASS_SAMPLE_INT32 for the samples of a
// source of more than 16 bits in that form (a source that has none is not opened then).
BASSAPI HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                      DWORD flags);
BASSAPI HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                              DWORD freq);
BASSAPI BOOL BASS_StreamFree(HSTREAM handle);
BASSAPI BOOL BASS_MusicFree(HMUSIC handle);

BASSAPI QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
BASSAPI double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
BASSAPI BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
BASSAPI QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
BASSAPI DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
BASSAPI QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
BASSAPI BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);

// MIDI
BASSAPI HSOUNDFONT BASS_MIDI_FontInit(const void* file, DWORD flags);
BASSAPI BOOL BASS_MIDI_StreamSetFonts(HSTREAM handle, const BASS_MIDI_FONT* fonts, DWORD count);
BASSAPI HSTREAM BASS_MIDI_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                           DWORD flags, DWORD freq);

// Tags: fmt holds %TRCK %TITL %ARTI %ALBM %GNRE %YEAR %CMNT %COMP %COPY fields. The text
// stays valid until the next call on the same thread; it is empty when the file has no tags.
BASSAPI const char* TAGS_Read(DWORD handle, const char* fmt);

#ifdef __cplusplus
}
#endif
