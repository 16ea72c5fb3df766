#include "writers/matroska_fields.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/ffmpeg_handles.h"

namespace kestrune {

namespace {

// Copies every stream of in (audio, and attachments such as a cover) with its tags into out, and
// the file's tags with the fields set among them (where the writer put the others); the packets
// follow as they are.
bool CopyStreams(AVFormatContext* in, AVFormatContext* out,
                 const std::map<std::string, std::string>& fields) {
    if (av_dict_copy(&out->metadata, in->metadata, 0) < 0)
        return false;
    for (const auto& [key, value] : fields)
        if (av_dict_set(&out->metadata, key.c_str(), value.c_str(), 0) < 0)
            return false;
    bool audio = false;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* from = in->streams[i];
        AVStream* to = avformat_new_stream(out, nullptr);
        if (!to || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0 ||
            av_dict_copy(&to->metadata, from->metadata, 0) < 0)
            return false;
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        to->disposition = from->disposition;
        // The muxer writes the track's length itself; a track's own value of a field would
        // hide the file's.
        av_dict_set(&to->metadata, "DURATION", nullptr, 0);
        for (const auto& field : fields)
            av_dict_set(&to->metadata, field.first.c_str(), nullptr, 0);
        audio = audio || from->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    return audio;
}

bool Remux(const std::string& path, const std::string& copy,
           const std::map<std::string, std::string>& fields) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return false;
    const ffmpeg::InputFormatPtr in(opened);
    if (avformat_find_stream_info(in.get(), nullptr) < 0)
        return false;
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, "matroska", copy.c_str()) < 0 || !made)
        return false;
    const ffmpeg::OutputFormatPtr out(made);
    if (!CopyStreams(in.get(), out.get(), fields) ||
        avio_open(&out->pb, copy.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(out.get(), nullptr) < 0)
        return false;
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return false;
    int read = 0;
    while ((read = av_read_frame(in.get(), packet.get())) >= 0) {
        const unsigned s = static_cast<unsigned>(packet->stream_index);
        if (s >= out->nb_streams) {
            av_packet_unref(packet.get());
            continue;
        }
        av_packet_rescale_ts(packet.get(), in->streams[s]->time_base, out->streams[s]->time_base);
        packet->pos = -1;
        if (av_interleaved_write_frame(out.get(), packet.get()) < 0)
            return false;
    }
    return read == AVERROR_EOF && av_write_trailer(out.get()) >= 0;
}

}  // namespace

bool SetMatroskaFields(const std::string& path, const std::map<std::string, std::string>& fields) {
    // The copy comes back into the file itself rather than taking its name: whoever holds the
    // file open (the output's claim on its name) keeps holding it.
    const std::string copy = path + ".tags";
    bool ok = Remux(path, copy, fields);
    if (ok) {
        std::ifstream from(copy, std::ios::binary);
        std::ofstream to(path, std::ios::binary | std::ios::trunc);
        to << from.rdbuf();
        ok = from.good() && to.good();
        to.close();
        ok = ok && to.good();
    }
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    return ok;
}

}  // namespace kestrune
