// The layer's entry points: channel and plug-in tables, data delivery, fonts and tags.

#include "platform/bass/bass.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/bass/layer_decoders.h"

namespace kestrune::bass {
namespace {

struct DlCloser {
    void operator()(void* h) const { dlclose(h); }
};

struct Plugin {
    std::string path;
    std::unique_ptr<void, DlCloser> library;
    KestruneBassOpenFn open = nullptr;
};

enum class ChannelKind { Stream, Music, Midi };

struct Channel {
    ChannelKind kind = ChannelKind::Stream;
    std::string path;
    // Keeps the plug-in loaded while its decoder lives (declared first: destroyed last).
    std::shared_ptr<Plugin> plugin;
    std::unique_ptr<Decoder> decoder;
    DecoderFormat format;
    uint64_t frameBytes = 0;
    uint64_t lengthBytes = 0;
    uint64_t position = 0;
    bool ended = false;
    std::mutex mutex;  // one caller decodes a channel at a time
};

// The library's own state: set up once by the program and shared by every reader.
struct Layer {
    std::mutex mutex;
    bool initialised = false;
    DWORD nextHandle = 1;
    std::map<DWORD, std::shared_ptr<Channel>> channels;
    std::vector<std::pair<HPLUGIN, std::shared_ptr<Plugin>>> plugins;
    HPLUGIN nextPlugin = 1;
    std::map<HSOUNDFONT, std::string> fonts;
    HSOUNDFONT nextFont = 1;
    std::vector<std::string> defaultFonts;
};

Layer& TheLayer() {
    static Layer layer;
    return layer;
}

std::shared_ptr<Channel> Find(DWORD handle) {
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    const auto it = layer.channels.find(handle);
    return it == layer.channels.end() ? nullptr : it->second;
}

DWORD Register(std::shared_ptr<Channel> channel) {
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    const DWORD handle = layer.nextHandle++;
    if (layer.nextHandle == 0)
        layer.nextHandle = 1;
    layer.channels.emplace(handle, std::move(channel));
    return handle;
}

bool Initialised() {
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    return layer.initialised;
}

DWORD Adopt(ChannelKind kind, const std::string& path, std::unique_ptr<Decoder> decoder,
            std::shared_ptr<Plugin> plugin) {
    const DecoderFormat& f = decoder->format;
    if (f.rate == 0 || f.channels == 0 || (f.bits != 8 && f.bits != 16 && f.bits != 32))
        return 0;
    auto channel = std::make_shared<Channel>();
    channel->kind = kind;
    channel->path = path;
    channel->plugin = std::move(plugin);
    channel->format = f;
    channel->frameBytes = static_cast<uint64_t>(f.channels) * (f.bits / 8);
    channel->lengthBytes = f.frames * channel->frameBytes;
    channel->decoder = std::move(decoder);
    return Register(std::move(channel));
}

bool FreeChannel(DWORD handle, bool music) {
    std::shared_ptr<Channel> gone;
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    const auto it = layer.channels.find(handle);
    if (it == layer.channels.end() || (it->second->kind == ChannelKind::Music) != music)
        return false;
    gone = std::move(it->second);  // released after the lock, unless a reader still holds it
    layer.channels.erase(it);
    return true;
}

const char* PathArg(BOOL mem, const void* file) {
    // Only files are opened; memory sources are not supported by this layer.
    return (mem || !file) ? nullptr : static_cast<const char*>(file);
}

}  // namespace
}  // namespace kestrune::bass

using namespace kestrune::bass;

extern "C" {

DWORD BASS_GetVersion(void) {
    return (static_cast<DWORD>(BASSVERSION) << 16) | 0x0011;
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
    // There is no playback: the update period has nothing to drive.
    return option == BASS_CONFIG_UPDATEPERIOD && value <= 100;
}

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid) {
    (void)freq, (void)flags, (void)win, (void)clsid;
    if (device != 0)
        return FALSE;  // decoding only: the "no sound" device is all there is
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    layer.initialised = true;
    return TRUE;
}

BOOL BASS_Free(void) {
    Layer& layer = TheLayer();
    std::map<DWORD, std::shared_ptr<Channel>> gone;
    std::lock_guard lock(layer.mutex);
    if (!layer.initialised)
        return FALSE;
    gone.swap(layer.channels);
    layer.fonts.clear();
    layer.defaultFonts.clear();
    layer.initialised = false;
    return TRUE;
}

HPLUGIN BASS_PluginLoad(const char* file, DWORD flags) {
    (void)flags;
    if (!file || !*file)
        return 0;
    Layer& layer = TheLayer();
    {
        std::lock_guard lock(layer.mutex);
        for (const auto& [handle, plugin] : layer.plugins)
            if (plugin->path == file)
                return handle;
    }
    auto plugin = std::make_shared<Plugin>();
    plugin->path = file;
    plugin->library.reset(dlopen(file, RTLD_NOW | RTLD_LOCAL));
    if (!plugin->library)
        return 0;
    plugin->open = reinterpret_cast<KestruneBassOpenFn>(
        dlsym(plugin->library.get(), KESTRUNE_BASS_PLUGIN_ENTRY));
    if (!plugin->open)
        return 0;
    std::lock_guard lock(layer.mutex);
    const HPLUGIN handle = layer.nextPlugin++;
    layer.plugins.emplace_back(handle, std::move(plugin));
    return handle;
}

BOOL BASS_PluginFree(HPLUGIN handle) {
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    if (handle == 0) {
        layer.plugins.clear();
        return TRUE;
    }
    const auto it = std::find_if(layer.plugins.begin(), layer.plugins.end(),
                                 [&](const auto& p) { return p.first == handle; });
    if (it == layer.plugins.end())
        return FALSE;
    layer.plugins.erase(it);
    return TRUE;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    const char* path = PathArg(mem, file);
    if (!path || offset != 0 || length != 0 || !Initialised())
        return 0;
    // The wide forms are the samples of a source of more than 16 bits, from its own decoder.
    const bool wide = (flags & (BASS_SAMPLE_FLOAT | BASS_SAMPLE_INT32)) != 0;
    const auto widened = [&](Decoder& d) {
        return !wide || d.SetWideOutput((flags & BASS_SAMPLE_FLOAT) != 0);
    };
    if (auto d = OpenWavDecoder(path))
        return widened(*d) ? Adopt(ChannelKind::Stream, path, std::move(d), {}) : 0;
    std::vector<std::shared_ptr<Plugin>> plugins;
    {
        Layer& layer = TheLayer();
        std::lock_guard lock(layer.mutex);
        for (const auto& p : layer.plugins)
            plugins.push_back(p.second);
    }
    // Plug-ins recognise their formats by content; MPEG sync is the weakest test, so it
    // comes last.
    for (auto& plugin : plugins) {
        std::unique_ptr<Decoder> d(plugin->open(path));
        if (d)
            return widened(*d) ? Adopt(ChannelKind::Stream, path, std::move(d), plugin) : 0;
    }
    if (auto d = OpenMpegDecoder(path))
        return widened(*d) ? Adopt(ChannelKind::Stream, path, std::move(d), {}) : 0;
    return 0;
}

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq) {
    (void)flags;
    const char* path = PathArg(mem, file);
    if (!path || offset != 0 || length != 0 || !Initialised())
        return 0;
    auto d = OpenMusicDecoder(path, freq ? freq : 44100);
    return d ? Adopt(ChannelKind::Music, path, std::move(d), {}) : 0;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    return FreeChannel(handle, false);
}

BOOL BASS_MusicFree(HMUSIC handle) {
    return FreeChannel(handle, true);
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    const auto c = Find(handle);
    if (!c || mode != BASS_POS_BYTE)
        return ~QWORD{0};
    return c->lengthBytes;
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    const auto c = Find(handle);
    if (!c)
        return -1.0;
    return static_cast<double>(pos) / static_cast<double>(c->frameBytes * c->format.rate);
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    const auto c = Find(handle);
    if (!c || !info)
        return FALSE;
    const DecoderFormat& f = c->format;
    info->freq = f.rate;
    info->chans = f.channels;
    info->flags = f.bits == 8    ? BASS_SAMPLE_8BITS
                  : f.bits == 32 ? (f.floating ? BASS_SAMPLE_FLOAT : BASS_SAMPLE_INT32)
                                 : 0;
    info->origres = f.sourceBits | (f.sourceFloat ? BASS_ORIGRES_FLOAT : 0);
    return TRUE;
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    const auto c = Find(handle);
    // Tracker music is loaded whole: it has no file position.
    if (!c || c->kind == ChannelKind::Music || mode != BASS_FILEPOS_END)
        return ~QWORD{0};
    return c->format.fileBytes < 0 ? ~QWORD{0} : static_cast<QWORD>(c->format.fileBytes);
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    const auto c = Find(handle);
    if (!c || !buffer)
        return 0xFFFFFFFFu;
    std::lock_guard lock(c->mutex);
    if (c->position >= c->lengthBytes)
        return 0xFFFFFFFFu;
    uint64_t want = std::min<uint64_t>(length, c->lengthBytes - c->position);
    want -= want % c->frameBytes;
    if (want == 0)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    uint64_t got = 0;
    while (got < want && !c->ended) {
        const long n = c->decoder->Decode(out + got, want - got);
        if (n < 0 && got == 0)
            return 0xFFFFFFFFu;
        if (n <= 0) {
            c->ended = true;
            break;
        }
        got += static_cast<uint64_t>(n);
    }
    if (got == 0) {
        // The source ended before its announced length (for music, the library's estimate):
        // that is where it ends. An estimate never makes silence.
        c->lengthBytes = c->position;
        return 0xFFFFFFFFu;
    }
    c->position += got;
    return static_cast<DWORD>(got);
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
    const auto c = Find(handle);
    if (!c || mode != BASS_POS_BYTE)
        return ~QWORD{0};
    std::lock_guard lock(c->mutex);
    return c->position;
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
    const auto c = Find(handle);
    if (!c || c->kind != ChannelKind::Stream || mode != BASS_POS_BYTE)
        return FALSE;
    std::lock_guard lock(c->mutex);
    // Only a stream not yet read moves, and only to a whole frame inside it.
    if (c->position != 0 || c->ended || pos % c->frameBytes != 0 || pos >= c->lengthBytes)
        return FALSE;
    if (!c->decoder->Seek(pos / c->frameBytes))
        return FALSE;
    c->position = pos;
    return TRUE;
}

HSOUNDFONT BASS_MIDI_FontInit(const void* file, DWORD flags) {
    (void)flags;
    const char* path = static_cast<const char*>(file);
    if (!path || !Initialised() || !IsSoundFont(path))
        return 0;
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    const HSOUNDFONT font = layer.nextFont++;
    layer.fonts.emplace(font, path);
    return font;
}

BOOL BASS_MIDI_StreamSetFonts(HSTREAM handle, const BASS_MIDI_FONT* fonts, DWORD count) {
    if (handle != 0 || (!fonts && count))
        return FALSE;  // only the default font set is kept
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    std::vector<std::string> paths;
    for (DWORD i = 0; i < count; ++i) {
        const auto it = layer.fonts.find(fonts[i].font);
        if (it == layer.fonts.end())
            return FALSE;
        paths.push_back(it->second);
    }
    layer.defaultFonts = std::move(paths);
    return TRUE;
}

HSTREAM BASS_MIDI_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                   DWORD flags, DWORD freq) {
    (void)flags;
    const char* path = PathArg(mem, file);
    if (!path || offset != 0 || length != 0 || !Initialised())
        return 0;
    std::vector<std::string> fonts;
    {
        Layer& layer = TheLayer();
        std::lock_guard lock(layer.mutex);
        fonts = layer.defaultFonts;
    }
    auto d = OpenMidiDecoder(path, freq ? freq : 44100, fonts);
    return d ? Adopt(ChannelKind::Midi, path, std::move(d), {}) : 0;
}

const char* TAGS_Read(DWORD handle, const char* fmt) {
    thread_local std::string text;
    text.clear();
    const auto c = Find(handle);
    if (c && fmt)
        text = FormatTags(c->path, fmt);
    return text.c_str();
}

}  // extern "C"
