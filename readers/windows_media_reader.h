#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "platform/wmvcore/wmvcore.h"

namespace kestrune {

// Reads the first audio stream of a Windows Media file (WMA, WMV, ASF) through the runtime.
// Length and position are in 100-nanosecond units.
class WindowsMediaReader : public AudioReader {
public:
    // The runtime's reader factory; the runtime must stay loaded while the reader lives. Null
    // makes every Open fail.
    explicit WindowsMediaReader(wm::CreateSyncReaderFn createSyncReader);
    ~WindowsMediaReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    int HasAudioStream() override { return audioFound ? 1 : 0; }
    int ReadTags(TagSet& tags) override;

private:
    bool ReadAttributes();

    wm::CreateSyncReaderFn createSyncReader;
    std::unique_ptr<wm::WmSyncReader> reader;
    bool isOpen = false;
    bool audioFound = true;
    uint16_t audioStream = 0;

    wm::WmBuffer sample;   // the last decoded sample, interleaved
    size_t readIndex = 0;  // in samples
    int framesLeft = 0;

    std::string title, author, description, album, genre, year, copyright, composer;
    int32_t trackNumber = 0;
};

}  // namespace kestrune
