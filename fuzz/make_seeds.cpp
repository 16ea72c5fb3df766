// Writes small valid files of every kind the fuzz targets read, one folder per target: a
// starting point that the fuzzer mutates. Short and low-rate, so that each run stays quick.
//   kestrune_fuzz_seeds OUTDIR

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "writers/amr_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 8000;

std::vector<int16_t> Tone(int frames, int channels) {
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[static_cast<size_t>(i) * channels + c] =
                static_cast<int16_t>(12000 * std::sin(0.05 * i * (c + 1)));
    return pcm;
}

// One file through libsndfile; false when it cannot write that combination.
bool WriteSndfile(const fs::path& path, int format, int channels, int frames,
                  const std::vector<std::pair<int, const char*>>& strings = {}) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    for (const auto& [kind, text] : strings)
        sf_set_string(f, kind, text);
    const std::vector<int16_t> pcm = Tone(frames, channels);
    sf_writef_short(f, pcm.data(), frames);
    sf_close(f);
    return true;
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

std::string Be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string Le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

// An ID3v2.3 tag with a title and an artist.
std::string Id3Tag() {
    auto frame = [](const char* id, const std::string& text) {
        const std::string body = std::string(1, '\0') + text;  // ISO-8859-1
        return std::string(id) + Be32(static_cast<uint32_t>(body.size())) + std::string(2, '\0') +
               body;
    };
    const std::string frames = frame("TIT2", "Seed title") + frame("TPE1", "Seed artist") +
                               frame("TALB", "Seed album") + frame("TRCK", "3");
    const auto n = static_cast<uint32_t>(frames.size());
    std::string size = {static_cast<char>((n >> 21) & 0x7f), static_cast<char>((n >> 14) & 0x7f),
                        static_cast<char>((n >> 7) & 0x7f), static_cast<char>(n & 0x7f)};
    return std::string("ID3\x03\x00\x00", 6) + size + frames;
}

// The AIFF file with an "ID3 " chunk appended and the FORM size made to match.
void AddId3Chunk(const fs::path& aiff, const fs::path& out) {
    std::string bytes = Slurp(aiff);
    if (bytes.size() < 12)
        return;
    std::string tag = Id3Tag();
    if (tag.size() & 1)
        tag += '\0';
    bytes += "ID3 " + Be32(static_cast<uint32_t>(tag.size())) + tag;
    bytes.replace(4, 4, Be32(static_cast<uint32_t>(bytes.size() - 8)));
    Spit(out, bytes);
}

// A RIFF/WAVE file with a DISP chunk (the fall-back title) and a LIST/INFO chunk.
void WavWithDispAndInfo(const fs::path& out) {
    const std::string fmt = "fmt " + Le32(16) + std::string("\x01\x00\x01\x00", 4) + Le32(kRate) +
                            Le32(kRate * 2) + std::string("\x02\x00\x10\x00", 4);
    const std::string disp = "DISP" + Le32(4 + 10) + Le32(1) + std::string("Disp title", 10);
    auto item = [](const char* id, const std::string& text) {
        std::string t = text + '\0';
        if (t.size() & 1)
            t += '\0';
        return std::string(id) + Le32(static_cast<uint32_t>(text.size() + 1)) + t;
    };
    const std::string info = "INFO" + item("INAM", "Info name") + item("IART", "Info artist") +
                             item("ICMT", "Info comment") + item("ICRD", "2001");
    const std::string list = "LIST" + Le32(static_cast<uint32_t>(info.size())) + info;
    std::string data(400, '\0');
    const std::string body = "WAVE" + fmt + disp + list + "data" + Le32(400) + data;
    Spit(out, "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body);
}

// Standard MIDI files: a delta time as a variable-length number, events, and the chunks.
std::string VarLen(uint32_t v) {
    std::string out(1, static_cast<char>(v & 0x7f));
    while (v >>= 7)
        out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    return out;
}

std::string Track(const std::string& events) {
    return "MTrk" + Be32(static_cast<uint32_t>(events.size())) + events;
}

std::string Smf(int format, int division, const std::vector<std::string>& tracks) {
    std::string header = "MThd" + Be32(6);
    header += {static_cast<char>(0),
               static_cast<char>(format),
               static_cast<char>(0),
               static_cast<char>(tracks.size()),
               static_cast<char>(division >> 8),
               static_cast<char>(division & 0xff)};
    for (const std::string& t : tracks)
        header += Track(t);
    return header;
}

void WriteMidiSeeds(const fs::path& dir) {
    const std::string end = VarLen(0) + std::string("\xFF\x2F\x00", 3);
    const std::string tempo = VarLen(0) + std::string("\xFF\x51\x03\x07\xA1\x20", 6);
    const std::string tempo2 = VarLen(96) + std::string("\xFF\x51\x03\x03\xD0\x90", 6);
    // Notes with running status, a program change, pitch bend and a sysex message.
    const std::string notes =
        VarLen(0) + std::string("\xC0\x05", 2) + VarLen(0) + std::string("\x90\x3C\x64", 3) +
        VarLen(48) + std::string("\x40\x64", 2) + VarLen(48) + std::string("\x80\x3C\x00", 3) +
        VarLen(0) + std::string("\xE0\x00\x40", 3) + VarLen(10) +
        std::string("\xF0\x05\x7E\x7F\x09\x01\xF7", 7) + VarLen(20) +
        std::string("\x80\x40\x00", 3);
    const std::string text = VarLen(0) + std::string("\xFF\x03\x04Seed", 7);
    Spit(dir / "format0.mid", Smf(0, 96, {text + tempo + notes + tempo2 + end}));
    Spit(dir / "format1.mid", Smf(1, 480, {tempo + tempo2 + end, notes + end, notes + end}));
    // Time-code division: 25 frames per second, 40 ticks per frame.
    Spit(dir / "smpte.mid", Smf(0, (static_cast<uint8_t>(-25) << 8) | 40, {notes + end}));
    const std::string smf = Smf(0, 96, {tempo + notes + end});
    std::string riff = "RMID" + std::string("data") + Le32(static_cast<uint32_t>(smf.size())) + smf;
    if (smf.size() & 1)
        riff += '\0';
    Spit(dir / "wrapped.rmi", "RIFF" + Le32(static_cast<uint32_t>(riff.size())) + riff);
}

void WriteAmr(const fs::path& path, bool narrowBand) {
    kestrune::AmrWriter writer;
    writer.SetPath(path.string());
    writer.SetEncoderOptions(kestrune::AmrOptions(narrowBand ? 1 : 0, 0, 7, 8));
    if (!writer.Open()) {
        std::fprintf(stderr, "no AMR encoder for %s\n", path.c_str());
        return;
    }
    const int frames = narrowBand ? 1600 : 3200;
    const std::vector<int16_t> pcm = Tone(frames, 1);
    writer.Write(pcm.data(), nullptr, frames);
    writer.Close();
}

}  // namespace

// Cue sheets: one image with a pregap, one file per track, and the same text in UTF-16 and
// Windows-1252.
void WriteCueSeeds(const fs::path& dir) {
    const std::string image =
        "REM GENRE Jazz\r\nREM DATE 1959\r\nREM DISCNUMBER 1\r\nREM COMMENT \"seed\"\r\n"
        "PERFORMER \"Quartet\"\r\nTITLE \"Album\"\r\nFILE \"image.flac\" WAVE\r\n"
        "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    ISRC USABC1234567\r\n"
        "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n"
        "    SONGWRITER \"Someone\"\r\n    PREGAP 00:02:00\r\n    INDEX 00 04:10:50\r\n"
        "    INDEX 01 04:12:00\r\n    POSTGAP 00:01:00\r\n";
    std::ofstream(dir / "image.cue", std::ios::binary) << image;
    std::ofstream(dir / "tracks.cue", std::ios::binary)
        << "FILE \"01.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"02.wav\" WAVE\n"
           "TRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:01:74\nTRACK 03 MODE1/2352\n"
           "INDEX 01 10:00:00\n";
    std::string utf16 = "\xFF\xFE";
    for (const char c : image)
        utf16 += std::string{c, '\0'};
    std::ofstream(dir / "utf16.cue", std::ios::binary) << utf16;
    // A FLAC file's start with a CUESHEET block of two tracks and the lead-out.
    auto be = [](uint64_t v, int bytes) {
        std::string out;
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return out;
    };
    std::string cue(128, '\0');
    cue += be(88200, 8) + '\x80' + std::string(258, '\0') + '\x03';
    const uint64_t starts[] = {0, 44100 * 3, 44100 * 5};
    for (int i = 0; i < 3; ++i) {
        cue += be(starts[i], 8) + static_cast<char>(i == 2 ? 170 : i + 1) + std::string(26, '\0');
        cue += i == 2 ? std::string(1, '\0') : '\x01' + be(0, 8) + '\x01' + std::string(3, '\0');
    }
    std::ofstream(dir / "block.flac", std::ios::binary) << "fLaC" + std::string(1, '\0') +
                                                               be(34, 3) + std::string(34, '\0') +
                                                               '\x85' + be(cue.size(), 3) + cue;
    std::ofstream(dir / "cp1252.cue", std::ios::binary)
        << "TITLE \"Caf\xE9 \x93quoted\x94\"\nFILE \"a b.wv\" WAVE\nTRACK 1 AUDIO\n"
           "INDEX 1 0:0:0\n";
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* dir : {"aiff", "au", "amr", "wav", "midi", "stream", "cue"})
        fs::create_directories(out / dir);

    struct Kind {
        const char* name;
        int subtype;
        bool stereo;
    };
    const Kind aiffKinds[] = {
        {"s8", SF_FORMAT_PCM_S8, true},      {"u8", SF_FORMAT_PCM_U8, true},
        {"s16", SF_FORMAT_PCM_16, true},     {"s24", SF_FORMAT_PCM_24, true},
        {"s32", SF_FORMAT_PCM_32, true},     {"float", SF_FORMAT_FLOAT, true},
        {"double", SF_FORMAT_DOUBLE, false}, {"ulaw", SF_FORMAT_ULAW, true},
        {"alaw", SF_FORMAT_ALAW, false},     {"ima4", SF_FORMAT_IMA_ADPCM, true},
        {"gsm", SF_FORMAT_GSM610, false},    {"dwvw12", SF_FORMAT_DWVW_12, false},
        {"dwvw16", SF_FORMAT_DWVW_16, true}, {"dwvw24", SF_FORMAT_DWVW_24, false}};
    for (const Kind& k : aiffKinds)
        WriteSndfile(out / "aiff" / (std::string(k.name) + ".aiff"), SF_FORMAT_AIFF | k.subtype,
                     k.stereo ? 2 : 1, 800);
    WriteSndfile(out / "aiff" / "sowt.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE,
                 2, 800);
    AddId3Chunk(out / "aiff" / "s16.aiff", out / "aiff" / "id3.aiff");

    const Kind auKinds[] = {
        {"s8", SF_FORMAT_PCM_S8, true},       {"s16", SF_FORMAT_PCM_16, true},
        {"s24", SF_FORMAT_PCM_24, false},     {"s32", SF_FORMAT_PCM_32, true},
        {"float", SF_FORMAT_FLOAT, true},     {"double", SF_FORMAT_DOUBLE, false},
        {"ulaw", SF_FORMAT_ULAW, true},       {"alaw", SF_FORMAT_ALAW, false},
        {"g721", SF_FORMAT_G721_32, false},   {"g723_24", SF_FORMAT_G723_24, false},
        {"g723_40", SF_FORMAT_G723_40, false}};
    for (const Kind& k : auKinds) {
        WriteSndfile(out / "au" / (std::string(k.name) + ".au"), SF_FORMAT_AU | k.subtype,
                     k.stereo ? 2 : 1, 800);
        WriteSndfile(out / "au" / (std::string(k.name) + "_le.au"),
                     SF_FORMAT_AU | k.subtype | SF_ENDIAN_LITTLE, k.stereo ? 2 : 1, 400);
    }

    WriteAmr(out / "amr" / "narrow.amr", true);
    WriteAmr(out / "amr" / "wide.amr", false);

    const std::vector<std::pair<int, const char*>> tags = {
        {SF_STR_TITLE, "Seed title"}, {SF_STR_ARTIST, "Seed artist"},
        {SF_STR_ALBUM, "Seed album"}, {SF_STR_COMMENT, "Seed comment"},
        {SF_STR_DATE, "1999"},        {SF_STR_GENRE, "Rock"},
        {SF_STR_TRACKNUMBER, "7"},    {SF_STR_COPYRIGHT, "(c) nobody"}};
    WriteSndfile(out / "wav" / "info.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 200, tags);
    WavWithDispAndInfo(out / "wav" / "disp.wav");

    // The decoding layer's streams: WAV in its forms, FLAC, MPEG audio, and the plug-ins'.
    WriteSndfile(out / "stream" / "s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 800, tags);
    WriteSndfile(out / "stream" / "u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 800);
    WriteSndfile(out / "stream" / "float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 800);
    WriteSndfile(out / "stream" / "ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, 800);
    WriteSndfile(out / "stream" / "rf64.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 1, 800);
    WriteSndfile(out / "stream" / "s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 800, tags);
    WriteSndfile(out / "stream" / "s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 800);
    if (!WriteSndfile(out / "stream" / "layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1,
                      4000, tags))
        std::fprintf(stderr, "libsndfile writes no MPEG audio here\n");

    WriteMidiSeeds(out / "midi");
    WriteCueSeeds(out / "cue");
    return 0;
}
