#!/usr/bin/env python3
"""Writes the hostile files of this folder: each is a few bytes that once made Kestrune write
or allocate far beyond what it holds. They are kept as files (tests read them as a user's
files) and this script says how each is made. Run it in this folder to make them anew."""
import math
import struct


def ext80(value):
    """An 80-bit IEEE extended number, as AIFF stores its sample rate."""
    mantissa, exponent = math.frexp(value)
    return struct.pack('>HQ', exponent + 16382, int(mantissa * (1 << 64)))


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


# A standard MIDI file at the slowest tempo (16.7 s a quarter) with one tick a quarter, whose
# only track ends after the longest delta time there is: its tempo map lasts 4.5e9 seconds.
track = b'\x00\xff\x51\x03\xff\xff\xff' + b'\xff\xff\xff\x7f' + b'\xff\x2f\x00'
write('midi_endless.mid',
      b'MThd' + struct.pack('>IHHH', 6, 0, 1, 1) + b'MTrk' + struct.pack('>I', len(track)) + track)


# A Scream Tracker 3 module: a few rows of nothing, then two hundred times a pattern at the
# slowest speed and tempo (20 s a row). The song lasts 70 hours, all of them silent.
def s3m_pattern(rows):
    data = b''
    for row in range(64):
        for channel, effect, parameter in rows.get(row, []):
            data += bytes([0x80 | channel, effect, parameter])
        data += b'\0'
    return struct.pack('<H', len(data) + 2) + data


def s3m(orders, patterns):
    header = b'hostile'.ljust(28, b'\0') + bytes([0x1A, 16, 0, 0])
    header += struct.pack('<HHHHHH', len(orders), 0, len(patterns), 0, 0x1320, 2)
    header += b'SCRM' + bytes([64, 6, 125, 0xB0, 0, 0]) + b'\0' * 8 + b'\0\0'
    header += bytes([0, 1] + [255] * 30)
    body = bytearray(header + bytes(orders))
    pointers_at = len(body)
    body += b'\0\0' * len(patterns)
    for index, pattern in enumerate(patterns):
        while len(body) % 16:
            body += b'\0'
        body[pointers_at + 2 * index:pointers_at + 2 * index + 2] = struct.pack('<H', len(body) // 16)
        body += pattern
    return bytes(body)


quick = s3m_pattern({0: [(0, 1, 6)]})                  # A06: speed 6
slowest = s3m_pattern({0: [(0, 1, 255), (1, 20, 0x20)]})  # A255 and T32
write('tracker_seventy_hours.s3m', s3m([0, 9] + [1] * 200, [quick, slowest]))

# 64 frames of 16-bit mono said to be sampled once a second: an AIFF (read by Kestrune's own
# reader), a WAV (read by the decoding layer) and a CAF (read by FFmpeg).
frames = b''.join(struct.pack('>h', 1000 * (i % 7 - 3)) for i in range(64))
comm = struct.pack('>hIh', 1, 64, 16) + ext80(1.0)
aiff = b'AIFF' + b'COMM' + struct.pack('>I', len(comm)) + comm
aiff += b'SSND' + struct.pack('>III', 8 + len(frames), 0, 0) + frames
write('aiff_one_hertz.aiff', b'FORM' + struct.pack('>I', len(aiff)) + aiff)

le_frames = b''.join(struct.pack('<h', 1000 * (i % 7 - 3)) for i in range(64))
fmt = struct.pack('<HHIIHH', 1, 1, 1, 2, 2, 16)
wav = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt
wav += b'data' + struct.pack('<I', len(le_frames)) + le_frames
write('wav_one_hertz.wav', b'RIFF' + struct.pack('<I', len(wav)) + wav)

desc = struct.pack('>d4sIIIII', 1.0, b'lpcm', 0, 2, 1, 1, 16)
caf = b'caff' + struct.pack('>HH', 1, 0)
caf += b'desc' + struct.pack('>q', len(desc)) + desc
caf += b'data' + struct.pack('>qI', 4 + len(frames), 0) + frames
write('caf_one_hertz.caf', caf)

# A WAV whose LIST/INFO chunk and its one item say they are nearly 2 GiB long: FFmpeg's
# RIFF INFO reader allocates (and clears) the item's whole size before reading it.
fmt = struct.pack('<HHIIHH', 1, 1, 8000, 16000, 2, 16)
info = b'INFO' + b'INAM' + struct.pack('<I', 0x7FFFFFF0) + b'abcd'
wav = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt
wav += b'LIST' + struct.pack('<I', 0x7FFFFFFC) + info
write('wav_info_two_gigabytes.wav', b'RIFF' + struct.pack('<I', len(wav)) + wav)

# A RIFF-wrapped MIDI file whose first chunk says it is 0xFFFFFFF8 bytes long: with the eight
# bytes of its header the step to the next chunk wrapped around to zero, and the search for
# the song never ended.
write('midi_riff_chunk_loop.rmi',
      b'RIFF' + struct.pack('<I', 12) + b'RMID' + b'JUNK' + struct.pack('<I', 0xFFFFFFF8))


# A FLAC stream whose header says mono and whose frames after the first are stereo. libFLAC
# stops at the second frame and from then on reports every further step as a success without
# decoding anything: reading it never ended, and not even Ctrl+C stopped it.
def crc(data, width, poly):
    top, mask, value = 1 << (width - 1), (1 << width) - 1, 0
    for byte in data:
        value ^= byte << (width - 8)
        for _ in range(8):
            value = ((value << 1) ^ poly) if value & top else value << 1
            value &= mask
    return value


def flac_frame(number, *channels):
    # 192 samples at 44.1 kHz of 16 bits, each channel one CONSTANT subframe.
    header = bytes([0xFF, 0xF8, 0x19, (len(channels) - 1) << 4 | 0x08, number])
    frame = header + bytes([crc(header, 8, 0x07)])
    for value in channels:
        frame += b'\0' + struct.pack('>h', value)
    return frame + struct.pack('>H', crc(frame, 16, 0x8005))


blocks, block = 4, 192
streaminfo = struct.pack('>HH', block, block) + b'\0' * 6
streaminfo += struct.pack('>Q', (44100 << 44) | (0 << 41) | (15 << 36) | (blocks * block))
streaminfo += b'\0' * 16
write('flac_mono_header_stereo_frames.flac',
      b'fLaC' + bytes([0x80, 0, 0, len(streaminfo)]) + streaminfo + flac_frame(0, 1000) +
      b''.join(flac_frame(n, 1000, -1000) for n in range(1, blocks)))


# Tags whose picture says it is nearly 2 GiB long, in files of a few hundred bytes, after a
# title: the picture is left out, the title kept and the audio converted. A FLAC stream (the
# frames above) whose PICTURE block claims the image...
comment = struct.pack('<I', 0) + struct.pack('<I', 1)
comment += struct.pack('<I', len(b'TITLE=Survivor')) + b'TITLE=Survivor'
picture = struct.pack('>II', 3, 10) + b'image/jpeg' + struct.pack('>I', 0) + b'\0' * 16
picture += struct.pack('>I', 0x7FFFFFF0) + b'\xff\xd8\xff\xe0'
write('flac_picture_two_gigabytes.flac',
      b'fLaC' + bytes([0x00, 0, 0, len(streaminfo)]) + streaminfo +
      bytes([0x04]) + struct.pack('>I', len(comment))[1:] + comment +
      bytes([0x86]) + struct.pack('>I', len(picture))[1:] + picture +
      flac_frame(0, 1000) + b''.join(flac_frame(n, 1000) for n in range(1, blocks)))

# ... and an MP3 (three silent frames of MPEG 2.5 layer III, 8 kHz mono) whose ID3v2.3 APIC
# frame does, within a tag of honest size.
title = b'TIT2' + struct.pack('>I', 9) + b'\0\0' + b'\0Survivor'
apic = b'\0' + b'image/jpeg\0' + b'\x03' + b'\0' + b'\xff\xd8'
frames = title + b'APIC' + struct.pack('>I', 0x7FFFFFF0) + b'\0\0' + apic
id3 = b'ID3\x03\x00\x00' + bytes([(len(frames) >> s) & 0x7F for s in (21, 14, 7, 0)])
mpeg = b'\xff\xe3\x18\xc0' + b'\0' * 68
write('mp3_picture_two_gigabytes.mp3', id3 + frames + mpeg * 3)
