// FLAC files through libFLAC.

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "common/no_coverage.h"
#include "platform/bass/decoder.h"
#include "platform/bass/plugins/plugin_support.h"

namespace {

using kestrune::bass::Decoder;

struct FlacDeleter {
    void operator()(FLAC__StreamDecoder* d) const {
        FLAC__stream_decoder_finish(d);
        FLAC__stream_decoder_delete(d);
    }
};

class FlacDecoder : public Decoder {
public:
    bool Open(const char* path) {
        decoder_.reset(FLAC__stream_decoder_new());
        if (!decoder_)
            return false;
        FLAC__stream_decoder_set_md5_checking(decoder_.get(), false);
        if (FLAC__stream_decoder_init_file(decoder_.get(), path, &Write, &Metadata, &Error, this) !=
            FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return false;
        if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || !haveInfo_)
            return false;
        if (format.frames == 0) {
            // No length in the stream header: count the samples once.
            while (Step() > 0) {
                format.frames += pending_.Size() / format.channels;
                pending_.Clear();
            }
            // Seeking hands the first frame over: it stays pending.
            pending_.Clear();
            if (!FLAC__stream_decoder_seek_absolute(decoder_.get(), 0))
                return false;
        }
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        format.fileBytes = ec ? -1 : static_cast<int64_t>(size);
        return format.frames > 0;
    }

    long Decode(void* buffer, size_t bytes) override {
        if (wide_)
            return widePending_.Decode(buffer, bytes, format.channels, [this] { return Step(); });
        return pending_.Decode(buffer, bytes, format.channels, [this] { return Step(); });
    }

    // libFLAC hands the frame holding the target over while seeking, from the target on: it
    // is what the first Decode delivers.
    bool Seek(uint64_t frame) override {
        pending_.Clear();
        widePending_.Clear();
        FLAC__StreamDecoder* d = decoder_.get();
        if (FLAC__stream_decoder_seek_absolute(d, frame))
            return true;
        // Back to the start, for a read from there (reading the header again keeps the width
        // asked for).
        const uint32_t bits = format.bits;
        if (!FLAC__stream_decoder_reset(d) ||
            !FLAC__stream_decoder_process_until_end_of_metadata(d))
            broken_ = true;
        format.bits = bits;
        return false;
    }

    bool SetWideOutput(bool floating) override {
        if (floating)
            return false;
        wide_ = true;
        format.bits = 32;
        // A stream counted at opening holds its first frame in 16 bits: it is decoded again.
        if (pending_.Size() > 0) {
            pending_.Clear();
            if (!FLAC__stream_decoder_seek_absolute(decoder_.get(), 0)) {
                wide_ = false;
                format.bits = 16;
                return false;
            }
        }
        return true;
    }

private:
    // Decodes one more frame: 1, or 0 at the end of the stream, or -1 once the decoder has
    // failed. libFLAC reports success for every call after it aborted (a frame whose channel
    // count is not the stream's), so its state is what tells.
    int Step() {
        if (broken_)
            return -1;
        FLAC__StreamDecoder* d = decoder_.get();
        if (FLAC__stream_decoder_get_state(d) == FLAC__STREAM_DECODER_END_OF_STREAM)
            return 0;
        if (!FLAC__stream_decoder_process_single(d))
            return -1;
        switch (FLAC__stream_decoder_get_state(d)) {
            case FLAC__STREAM_DECODER_SEARCH_FOR_METADATA:
            case FLAC__STREAM_DECODER_READ_METADATA:
            case FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC:
            case FLAC__STREAM_DECODER_READ_FRAME:
                return 1;
            case FLAC__STREAM_DECODER_END_OF_STREAM:
                return (wide_ ? widePending_.Size() : pending_.Size()) == 0 ? 0 : 1;
            default:
                return -1;
        }
    }

    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*,
                                                const FLAC__Frame* frame,
                                                const FLAC__int32* const samples[], void* self) {
        auto* d = static_cast<FlacDecoder*>(self);
        const unsigned channels = frame->header.channels;
        if (channels != d->format.channels)
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        const unsigned frames = frame->header.blocksize;
        if (d->wide_) {
            InterleaveWide(samples, channels, frames,
                           32 - static_cast<int>(frame->header.bits_per_sample),
                           d->widePending_.Extend(static_cast<size_t>(frames) * channels));
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        }
        const int shift = static_cast<int>(frame->header.bits_per_sample) - 16;
        Interleave(samples, channels, frames, shift,
                   d->pending_.Extend(static_cast<size_t>(frames) * channels));
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    // The planar samples of a frame as interleaved 16-bit ones.
    KESTRUNE_NO_COVERAGE static void Interleave(const FLAC__int32* const samples[],
                                                unsigned channels, unsigned frames, int shift,
                                                int16_t* out) {
        for (unsigned c = 0; c < channels; ++c) {
            const FLAC__int32* in = samples[c];
            int16_t* o = out + c;
            if (shift >= 0)
                for (unsigned i = 0; i < frames; ++i, o += channels)
                    *o = static_cast<int16_t>(in[i] >> shift);
            else
                for (unsigned i = 0; i < frames; ++i, o += channels)
                    *o = static_cast<int16_t>(in[i] * (1 << -shift));
        }
    }

    // The planar samples of a frame as interleaved 32-bit ones, full scale at 2^31: each moves
    // up by the bits its depth leaves free.
    KESTRUNE_NO_COVERAGE static void InterleaveWide(const FLAC__int32* const samples[],
                                                    unsigned channels, unsigned frames, int up,
                                                    int32_t* out) {
        for (unsigned c = 0; c < channels; ++c) {
            const FLAC__int32* in = samples[c];
            int32_t* o = out + c;
            for (unsigned i = 0; i < frames; ++i, o += channels)
                *o = static_cast<int32_t>(static_cast<uint32_t>(in[i]) << up);
        }
    }

    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
        auto* d = static_cast<FlacDecoder*>(self);
        if (m->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        d->format.rate = m->data.stream_info.sample_rate;
        d->format.channels = m->data.stream_info.channels;
        d->format.bits = 16;
        d->format.sourceBits = m->data.stream_info.bits_per_sample;
        d->format.frames = m->data.stream_info.total_samples;
        d->haveInfo_ = d->format.rate > 0 && d->format.channels > 0;
    }

    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
        // A damaged frame is skipped; libFLAC resynchronises on the next one.
    }

    std::unique_ptr<FLAC__StreamDecoder, FlacDeleter> decoder_;
    kestrune::bass::PendingPcm pending_;
    kestrune::bass::PendingSamples<int32_t> widePending_;
    bool wide_ = false;
    bool haveInfo_ = false;
    bool broken_ = false;  // a failed seek could not go back to the start
};

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    if (!kestrune::bass::StartsWithStreamMarker(path, "fLaC"))
        return nullptr;
    auto decoder = std::make_unique<FlacDecoder>();
    return decoder->Open(path) ? decoder.release() : nullptr;
}
