#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_reader.h"

struct OggVorbis_File;

namespace kestrune {

// The mix of a six-channel Vorbis frame (front left, centre, front right, rear left, rear
// right, LFE) into stereo: centre and LFE go to both sides at 0.707.
void MixVorbisSixChannels(const int16_t* frame, int16_t& left, int16_t& right);

// Ogg Vorbis sources through libvorbisfile, with the Vorbis comments as tags.
class OggVorbisReader : public AudioReader {
public:
    OggVorbisReader();
    ~OggVorbisReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    int64_t GetPosition() override;
    int ReadTags(TagSet& tags) override;

    const std::vector<std::string>& Comments() const { return comments_; }
    const std::string& Vendor() const { return vendor_; }
    int Version() const { return version_; }

private:
    std::unique_ptr<OggVorbis_File> file_;
    bool open_ = false;
    std::vector<std::string> comments_;
    std::string vendor_;
    int version_ = -1;
    int16_t buffer_[2048];  // 4096 bytes of interleaved PCM
};

}  // namespace kestrune
