#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_writer.h"
#include "common/ffmpeg_handles.h"

namespace kestrune {

// What a catalogue row tells the FFmpeg writer: the muxer and the codec (in the catalogue's
// codec numbering).
struct FFmpegEncoderOptions : EncoderOptions {
    std::string containerShortName;
    int codecId = 0;
    // The rate of the source before it was resampled for the encoder, where the container
    // records it (the Opus header); 0 when unknown.
    int sourceSampleRate = 0;
};

// FFmpeg's name of the codec a catalogue codec id is written with ("mp3", "opus"), or null for
// an id the writer does not know.
const char* FFmpegCodecName(int codecId);

// Writes every catalogue row that names a container: encodes with libavcodec (narrow-band
// AMR with opencore-amrnb) and muxes with libavformat. The muxer writes the nine texts of the
// tags; Ogg and Matroska files also get the rest of the set from it (Ogg as Vorbis comments,
// pictures included; Matroska as tags and cover attachments), and MP3 and FLAC files leave
// room in their header for what WriteTagsToFile adds once they are whole.
class FFmpegWriter : public AudioWriter {
public:
    FFmpegWriter();
    ~FFmpegWriter() override;

    void SetTags(const TagSet& tags) override;
    void SetPath(const std::string& path) override;
    void SetSampleRate(int rate) override;
    void SetChannels(int count) override;
    // bit/s; for G.726 bits per sample.
    void SetBitRate(int rate) override;
    void SetEncoderOptions(const EncoderOptions& options) override;
    // Takes wide blocks where the encoder keeps more than 16 bits: integers for FLAC, ALAC and
    // PCM of 24 and 32 bits, floats for float PCM and the encoders that work in floats.
    WideInput TakeWideInput(SampleFormat offered, SampleDepth depth) override;
    int Open() override;
    int Write(const int16_t* left, const int16_t* right, int frames) override;
    int WriteS32(const int32_t* left, const int32_t* right, int frames) override;
    int WriteF32(const float* left, const float* right, int frames) override;
    void Close() override;
    bool Completed() const override { return completed_; }

    // True once a packet, the header or the trailer could not be written: the file is not
    // usable and the caller should delete it.
    bool Failed() const { return failed_; }
    // Frames per encoder call on the frame path (0 on the PCM path or when closed).
    int FrameSize() const;
    // Frames waiting in the frame buffer for a whole frame.
    int PendingFrames() const { return fill_; }
    // The bit rate the encoder was opened with (the nearest it accepts to the asked one).
    int64_t EncoderBitRate() const;
    // Frames the encoder puts before the first frame of the input (0 when it says none).
    int EncoderDelay() const;

private:
    struct AmrCloser {
        void operator()(void* state) const;
    };
    template <typename In>
    using ConvertFn = void (*)(const In* left, const In* right, int channels, int frames,
                               AVFrame* frame, int offset);

    bool OpenEncoder();
    bool OpenAmrEncoder();
    bool AddMetadata();
    bool AddVorbisCommentsBeyondNine(AVDictionary** target);
    bool AddMatroskaTagsBeyondNine();
    bool SendFrame(AVFrame* frame);
    bool DrainPackets();
    bool EncodeAmrFrame();
    bool WritePacket(AVPacket* packet, AVRational from);
    template <typename In>
    int WriteBlock(const In* left, const In* right, int frames, ConvertFn<In> convert);
    template <typename In>
    bool WriteFramePath(const In* left, const In* right, int frames, ConvertFn<In> convert);
    template <typename In>
    bool WritePcmPath(const In* left, const In* right, int frames, ConvertFn<In> convert);
    bool WriteAmrPath(const int16_t* left, int frames);
    void Finish();
    void Release();

    // configuration
    std::string container_;
    int codecId_ = 0;
    int sourceRate_ = 0;
    std::string path_;
    int sampleRate_ = 0;
    int channels_ = 0;
    int bitRate_ = 0;
    TagSet tags_;
    int track_ = 0;
    size_t tagRoom_ = 0;  // bytes left free in the header's tag

    // open state
    ffmpeg::OutputFormatPtr format_;
    ffmpeg::CodecContextPtr codec_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    std::unique_ptr<void, AmrCloser> amr_;
    AVStream* stream_ = nullptr;
    WideInput wide_;  // what TakeWideInput agreed to
    ConvertFn<int16_t> convert_ = nullptr;
    ConvertFn<int32_t> convertS32_ = nullptr;
    ConvertFn<float> convertF32_ = nullptr;
    enum class Path { None, Frame, Pcm, Amr } pathKind_ = Path::None;
    int frameSize_ = 0;    // frames per encoder call (frame and AMR paths)
    int chunkFrames_ = 0;  // frames per packet on the PCM path
    int fill_ = 0;         // frames waiting in frame_ (or in the AMR buffer)
    int64_t nextPts_ = 0;  // in samples, for the next frame sent
    int amrMode_ = 0;
    std::unique_ptr<int16_t[]> amrInput_;
    std::unique_ptr<uint8_t[]> amrOutput_;
    bool fileOpened_ = false;
    bool headerWritten_ = false;
    bool failed_ = false;
    bool completed_ = false;
};

}  // namespace kestrune
