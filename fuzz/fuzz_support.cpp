#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "audio/program_folder.h"
#include "audio/tag_set.h"
#include "readers/bass_reader.h"
#include "readers/ffmpeg_reader.h"

namespace kestrune::fuzz {

void InitLibraries() {
    InitFFmpegLogging();
    if (InitDecodingLayer(RunningProgramFolder()) != DecodingLayerStart::Ready)
        std::abort();
}

const std::string& InputFile(const uint8_t* data, size_t size, const std::string& extension) {
    // One file per extension and process, in the temporary folder (a memory one is best).
    static std::map<std::string, std::string> paths;
    std::string& path = paths[extension];
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrune-fuzz-" +
               std::to_string(getpid()) + extension;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

void ReadToEnd(AudioReader& reader) {
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    for (int64_t frames = 0; frames < kMostFrames;) {
        const int got = reader.Read(left.data(), right.data());
        if (got <= 0)
            break;
        frames += got;
    }
    TagSet tags;
    reader.ReadTags(tags);
}

}  // namespace kestrune::fuzz
