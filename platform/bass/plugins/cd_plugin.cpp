// Audio CD tracks. A ".cda" file names the track (Track02.cda is track 2); the audio comes
// from the disc in the drive, or from the disc image that KESTRUNE_CD_IMAGE names (any
// image libcdio opens: .cue/.bin, .toc, .nrg).

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/bass/decoder.h"

namespace {

using kestrune::bass::Decoder;

struct CdioDeleter {
    void operator()(CdIo_t* c) const { cdio_destroy(c); }
};
struct DriveDeleter {
    void operator()(cdrom_drive_t* d) const { cdio_cddap_close_no_free_cdio(d); }
};
struct ParanoiaDeleter {
    void operator()(cdrom_paranoia_t* p) const { cdio_paranoia_free(p); }
};

// Track number of a ".cda" name, 0 when the path is not one.
int TrackOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.size() < 5)
        return 0;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext != ".cda")
        return 0;
    const std::string stem = name.substr(0, name.size() - 4);
    size_t end = stem.size();
    while (end > 0 && !std::isdigit(static_cast<unsigned char>(stem[end - 1])))
        --end;
    size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(stem[begin - 1])))
        --begin;
    if (begin == end || end - begin > 2)
        return 0;
    return std::atoi(stem.substr(begin, end - begin).c_str());
}

class CdDecoder : public Decoder {
public:
    bool Open(const char* path) {
        const int track = TrackOf(path);
        if (track < 1 || track > 99)
            return false;
        const char* image = std::getenv("KESTRUNE_CD_IMAGE");
        cdio_.reset(image && *image ? cdio_open(image, DRIVER_UNKNOWN)
                                    : cdio_open(nullptr, DRIVER_DEVICE));
        if (!cdio_)
            return false;
        drive_.reset(cdio_cddap_identify_cdio(cdio_.get(), CDDA_MESSAGE_FORGETIT, nullptr));
        if (!drive_ || cdio_cddap_open(drive_.get()) != 0)
            return false;
        const auto t = static_cast<track_t>(track);
        if (track > cdio_cddap_tracks(drive_.get()) || !cdio_cddap_track_audiop(drive_.get(), t))
            return false;
        const lsn_t first = cdio_cddap_track_firstsector(drive_.get(), t);
        const lsn_t last = cdio_cddap_track_lastsector(drive_.get(), t);
        if (first < 0 || last < first)
            return false;
        paranoia_.reset(cdio_paranoia_init(drive_.get()));
        if (!paranoia_)
            return false;
        cdio_paranoia_modeset(paranoia_.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
        cdio_paranoia_seek(paranoia_.get(), first, SEEK_SET);
        sectorsLeft_ = last - first + 1;
        format.rate = 44100;
        format.channels = 2;
        format.bits = 16;
        format.sourceBits = 16;
        format.frames = static_cast<uint64_t>(sectorsLeft_) * (CDIO_CD_FRAMESIZE_RAW / 4);
        // The track's audio is what is read from the disc: its size is the source size.
        format.fileBytes = static_cast<int64_t>(sectorsLeft_) * CDIO_CD_FRAMESIZE_RAW;
        return true;
    }

    long Decode(void* buffer, size_t bytes) override {
        auto* out = static_cast<unsigned char*>(buffer);
        bytes -= bytes % 4;
        size_t done = 0;
        while (done < bytes) {
            if (offset_ == CDIO_CD_FRAMESIZE_RAW) {
                if (sectorsLeft_ == 0)
                    break;
                const int16_t* data = cdio_paranoia_read(paranoia_.get(), nullptr);
                if (!data)
                    return done ? static_cast<long>(done) : -1;
                std::memcpy(sector_, data, CDIO_CD_FRAMESIZE_RAW);
                --sectorsLeft_;
                offset_ = 0;
            }
            const size_t n = std::min<size_t>(bytes - done, CDIO_CD_FRAMESIZE_RAW - offset_);
            std::memcpy(out + done, sector_ + offset_, n);
            offset_ += n;
            done += n;
        }
        return static_cast<long>(done);
    }

    // Released in this order: paranoia, drive, then the device itself.
    std::unique_ptr<CdIo_t, CdioDeleter> cdio_;
    std::unique_ptr<cdrom_drive_t, DriveDeleter> drive_;
    std::unique_ptr<cdrom_paranoia_t, ParanoiaDeleter> paranoia_;

private:
    unsigned char sector_[CDIO_CD_FRAMESIZE_RAW] = {};
    size_t offset_ = CDIO_CD_FRAMESIZE_RAW;
    lsn_t sectorsLeft_ = 0;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    auto decoder = std::make_unique<CdDecoder>();
    return decoder->Open(path) ? decoder.release() : nullptr;
}
