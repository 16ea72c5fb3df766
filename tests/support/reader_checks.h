#pragma once

// Checks shared by the reader tests: draining a reader, and the independent decoders
// (libsndfile, sox) its output is compared with.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_reader.h"
#include "tests/support/test_support.h"

namespace kestrune::test {

// Everything a reader delivers, interleaved in pairs (or single samples for mono), and the
// frames each Read gave; a block over kBlockFrames fails the test.
struct Decoded {
    int channels = 0;
    std::vector<int16_t> samples;
    std::vector<int> blocks;
    size_t Frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};
Decoded Drain(AudioReader& reader);

// What an independent decoder gives, folded to at most two channels the way every reader
// folds them.
std::vector<int16_t> Fold(const std::vector<int16_t>& interleaved, int channels);

// Writes pcm with libsndfile in the given SF_FORMAT.
bool SndWrite(const std::string& path, int format, const Pcm& pcm);
// libsndfile's own 16-bit decode, or (for floating point) the exact values it stored turned
// into 16 bits by the truncating rule.
bool SndReadShort(const std::string& path, std::vector<int16_t>& out, int& channels, bool floating);
// sox's decode as 16-bit little-endian samples.
bool SoxReadShort(const std::string& path, std::vector<int16_t>& out);
// A file's bytes, written (true when all were) or read.
bool WriteBytes(const std::string& path, std::string_view bytes);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// A damaged copy of a good file, for the tests that a reader survives what it is given: every
// cutEvery-th round (round 0 the first) cuts the file short at a random length, the others
// overwrite `changes` random bytes at offsets in [from, from + span) (span 0: to the end).
struct Damage {
    int cutEvery;
    int changes;
    size_t from = 0;
    size_t span = 0;
};
std::vector<uint8_t> Damaged(const std::vector<uint8_t>& good, int round, const Damage& how,
                             Lcg& random);

}  // namespace kestrune::test
