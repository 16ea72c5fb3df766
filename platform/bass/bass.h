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
#define BASS_MUSIC_RAMP 0x200
#define BASS_MUSIC_PRESCAN 0x20000
#define BASS_STREAM_DECODE 0x200000
#define BASS_MUSIC_DECODE BASS_STREAM_DECODE

#define BASS_POS_BYTE 0
#define BASS_FILEPOS_END 2

typedef struct BASS_CHANNELINFO {
    DWORD freq;   // sample rate of the delivered PCM
    DWORD chans;  // channels, interleaved
    DWORD flags;  // BASS_SAMPLE_8BITS: unsigned 8-bit samples, otherwise signed 16-bit
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
