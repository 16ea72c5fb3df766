#pragma once

#include <array>
#include <string>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"

namespace kestrune {

// Writes the PCM it receives as it is, interleaved, without any header.
class RawPcmWriter : public AudioWriter {
public:
    ~RawPcmWriter() override;
    void SetPath(const std::string& path) override { path_ = path; }
    void SetChannels(int count) override { channels_ = count; }
    // Creates the file exclusively, readable by its owner only.
    int Open() override;
    int Write(const int16_t* left, const int16_t* right, int frames) override;
    void Close() override;

private:
    bool WriteAll(const void* data, size_t bytes);

    std::string path_;
    int fd_ = -1;
    int channels_ = 0;
    std::array<int16_t, 2 * kBlockFrames> staging_{};
};

// A temporary file name that names nothing yet: folder (the system's temporary folder when
// empty), prefix, process id, thread id, milliseconds, a random number, a counter, suffix.
std::string MakeTempFileName(const std::string& folder, const std::string& prefix,
                             const std::string& suffix);

}  // namespace kestrune
