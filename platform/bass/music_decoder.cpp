#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "platform/bass/layer_decoders.h"

namespace kestrune::bass {

namespace {

struct ModuleDeleter {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDeleter>;

class MusicDecoder : public Decoder {
public:
    explicit MusicDecoder(ModulePtr module) : module_(std::move(module)) {}

    long Decode(void* buffer, size_t bytes) override {
        const size_t frames = bytes / 4;
        if (frames == 0)
            return 0;
        const size_t got =
            openmpt_module_read_interleaved_stereo(module_.get(), static_cast<int32_t>(format.rate),
                                                   frames, static_cast<int16_t*>(buffer));
        return static_cast<long>(got * 4);
    }

private:
    ModulePtr module_;
};

// Loader warnings of damaged modules are not the user's business here.
void Quiet(const char*, void*) {}

}  // namespace

std::unique_ptr<Decoder> OpenMusicDecoder(const std::string& path, uint32_t rate) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty())
        return nullptr;
    int error = 0;
    ModulePtr module(openmpt_module_create_from_memory2(
        data.data(), data.size(), Quiet, nullptr, nullptr, nullptr, &error, nullptr, nullptr));
    if (!module)
        return nullptr;
    // Play the song once through, even when its patterns jump back to the start.
    openmpt_module_set_repeat_count(module.get(), 0);
    openmpt_module_ctl_set_text(module.get(), "play.at_end", "stop");
    // No dither: the same module always renders to the same samples.
    openmpt_module_ctl_set_integer(module.get(), "dither", 0);
    const double seconds = openmpt_module_get_duration_seconds(module.get());
    if (!(seconds > 0) || !std::isfinite(seconds))
        return nullptr;
    auto decoder = std::make_unique<MusicDecoder>(std::move(module));
    decoder->format.rate = rate;
    decoder->format.channels = 2;
    decoder->format.bits = 16;
    decoder->format.frames = static_cast<uint64_t>(std::llround(seconds * rate));
    decoder->format.fileBytes = static_cast<int64_t>(data.size());
    return decoder;
}

}  // namespace kestrune::bass
