// MIDI files as the decoding layer opens them: the RIFF wrapper and the tempo map that gives
// the song its length. Rendering is the synthesiser library's and is left out: it costs a
// synthesiser per input and parses the song with the library's own reader.
#include "fuzz/fuzz_support.h"
#include "readers/bass_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".mid");
    kestrune::BassReader reader;
    if (reader.Open(path, 8000)) {
        (void)reader.GetDuration();
        (void)reader.GetBitRate();
    }
    reader.Close();
    return 0;
}
