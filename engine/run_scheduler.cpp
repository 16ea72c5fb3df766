#include "engine/run_scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "audio/audio_writer.h"
#include "engine/conversion_session.h"
#include "engine/loudness_meter.h"
#include "engine/output_path.h"
#include "writers/tag_file_writer.h"

namespace kestrune {

namespace {

// What the sessions of a run report, passed on one call at a time with the run's progress
// added: every item ended counts whole, every item converting by its share.
class RunTracker : public RunObserver {
public:
    RunTracker(RunObserver& out, int itemCount)
        : out_(out), count_(std::max(itemCount, 1)), converting_(static_cast<size_t>(itemCount)) {}

    void RunStarted(int itemCount) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out_.RunStarted(itemCount);
    }
    void ItemStarted(int item, Pass pass) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out_.ItemStarted(item, pass);
    }
    void Progress(int item, Pass pass, double itemFraction, double) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pass == Pass::kConverting) {
            double& share = converting_[static_cast<size_t>(item)];
            running_ += itemFraction - share;
            share = itemFraction;
        }
        out_.Progress(item, pass, itemFraction, Fraction());
    }
    void ItemWaitsForAlbum(int item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out_.ItemWaitsForAlbum(item);
    }
    void ItemEnded(int item, const ItemOutcome& outcome) override {
        std::lock_guard<std::mutex> lock(mutex_);
        double& share = converting_[static_cast<size_t>(item)];
        running_ -= share;
        share = 0;
        ++ended_;
        out_.ItemEnded(item, outcome);
    }
    void RunEnded(const RunSummary& summary) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out_.RunEnded(summary);
    }
    bool CancelRequested() override { return out_.CancelRequested(); }

private:
    double Fraction() const { return std::clamp((ended_ + running_) / count_, 0.0, 1.0); }

    RunObserver& out_;
    std::mutex mutex_;
    const double count_;
    std::vector<double> converting_;
    double running_ = 0;
    int ended_ = 0;
};

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

ItemOutcome Ends(ItemEnd end, Failure failure = {}) {
    ItemOutcome outcome;
    outcome.end = end;
    outcome.failure = std::move(failure);
    return outcome;
}

ItemOutcome NamingOutcome(Naming named, const Failure& failure) {
    return named == Naming::kSkipped ? Ends(ItemEnd::kSkipped) : Ends(ItemEnd::kFailed, failure);
}

bool MissesSoundFont(const SessionConfig& config, const SourceFileEntry& item) {
    return item.sourceType == SourceType::kMidi && !config.soundFontLoaded;
}

// The output to show at the end of a run that was not cancelled: the first item's, in run
// order, that exists.
std::string OutputToShow(const SessionConfig& config, const std::vector<ItemOutcome>& outcomes) {
    if (!config.settings.browseOutputFolder)
        return {};
    for (const ItemOutcome& o : outcomes)
        if (o.end == ItemEnd::kConverted && Exists(o.outputPath))
            return o.outputPath;
    return {};
}

RunSummary RunMerge(SessionConfig& config, const RunRequest& request, RunTracker& tracker) {
    RunSummary summary;
    summary.mergePath = request.mergePath;
    const std::vector<SourceFileEntry>& items = request.items;
    int largestRate = 0, largestChannels = 0;
    SampleDepth widest;  // floats over any integers, else the most bits
    for (const SourceFileEntry& item : items) {
        largestRate = std::max(largestRate, item.sampleRate);
        largestChannels = std::max(largestChannels, std::min(item.sourceChannels, 2));
        if (item.depth.floating && !widest.floating)
            widest = item.depth;
        else if (item.depth.floating == widest.floating && item.depth.bits > widest.bits)
            widest = item.depth;
    }
    ConversionSession session(config, tracker);
    // The merged file is written under its partial name and gets its own only once whole: the
    // user chose the name, so a file there is replaced then. A device is written straight.
    const std::string target = ResolvedOutputPath(request.mergePath);
    const bool straight = IsSpecialFile(target);
    TagSet tags;
    const bool tagged =
        !items.empty() && session.ChooseMergeTags(request.format, items.front(), tags);
    // What the writer cannot write itself goes into the finished file (below).
    const bool writerTags =
        tagged && (request.format.getsTags || TagsGoIntoFinishedFile(request.format, tags));
    OutputClaim claim;
    std::unique_ptr<AudioWriter> writer;
    if (straight || claim.Hold(target) == OutputClaim::Take::kTaken) {
        writer = session.CreateMergeWriter(request.format, straight ? target : claim.PartialPath(),
                                           largestRate, largestChannels,
                                           writerTags ? &tags : nullptr, widest);
    }
    if (!writer) {
        summary.merge = RunSummary::Merge::kCreateFailed;
        tracker.RunEnded(summary);
        return summary;
    }
    const int count = static_cast<int>(items.size());
    tracker.RunStarted(count);
    std::vector<ItemOutcome> outcomes;
    bool cancelled = false;
    for (int i = 0; i < count && !cancelled; ++i) {
        const SourceFileEntry& item = items[static_cast<size_t>(i)];
        ItemOutcome outcome =
            MissesSoundFont(config, item)
                ? Ends(ItemEnd::kFailed, {FailureReason::kSoundFontMissing, {}})
                : session.ConvertItem(item, i, request.format, {}, writer.get(), request.mergePath);
        cancelled = outcome.end == ItemEnd::kCancelled || tracker.CancelRequested();
        outcomes.push_back(outcome);
        tracker.ItemEnded(i, outcome);
    }
    writer->Close();
    bool whole = writer->Completed();
    writer.reset();
    // The tags the writer could not write go into the file before it takes its name.
    if (!cancelled && whole && !straight && tagged && TagsGoIntoFinishedFile(request.format, tags))
        whole = WriteTagsToFile(claim.PartialPath(), request.format, tags);
    // Then its gain, measured on all of it: the merged file is an album of its own as well.
    LoudnessFigures figures;
    if (const LoudnessMeter* meter = session.MergeMeter(); !cancelled && whole && meter)
        figures = meter->Figures();
    const ReplayGainMode replayGain = config.settings.replayGain;
    if (figures.hasLoudness && replayGain != ReplayGainMode::kOff && !straight &&
        FinishedFileTakesFields(request.format)) {
        const bool opus = request.format.formatId == FormatId::kOpus;
        std::map<std::string, std::string> fields =
            LevelFields(opus, false, figures.loudness, figures.peak);
        if (replayGain == ReplayGainMode::kAlbum)
            fields.merge(LevelFields(opus, true, figures.loudness, figures.peak));
        whole = WriteFieldsToFile(claim.PartialPath(), request.format, fields);
        const double gain = GainToReference(opus, figures.loudness);
        figures.hasTrackGain = whole;
        figures.trackGain = gain;
        figures.hasAlbumGain = whole && replayGain == ReplayGainMode::kAlbum;
        figures.albumGain = gain;
        figures.albumPeak = figures.peak;
    }
    if (cancelled) {
        summary.cancelled = true;
    } else if (!whole || (!straight && !claim.Commit(true))) {
        // Nothing of a merge that could not be written to its end stays behind.
        summary.merge = RunSummary::Merge::kWriteFailed;
    } else {
        summary.merge = RunSummary::Merge::kWritten;
        summary.mergeLoudness = figures;
        summary.outputToShow = OutputToShow(config, outcomes);
    }
    claim.Release();  // a cancelled or failed merge leaves nothing
    tracker.RunEnded(summary);
    return summary;
}

// The albums of a run whose outputs get album gains: the items that share a source folder, each
// album's items in list order. Its outputs stay under their partial names until the last of
// them is converted; then the album is measured as a whole, tagged and committed together.
class Albums {
public:
    Albums(const std::vector<SourceFileEntry>& items, bool on)
        : of_(items.size()), held_(items.size()) {
        if (!on)
            return;
        std::map<std::string, size_t> byFolder;
        for (size_t i = 0; i < items.size(); ++i) {
            const std::string folder =
                std::filesystem::path(items[i].path).parent_path().lexically_normal().string();
            const auto [it, added] = byFolder.emplace(folder, members_.size());
            if (added)
                members_.emplace_back();
            of_[i] = it->second;
            members_[it->second].push_back(i);
        }
        left_.resize(members_.size());
        for (size_t a = 0; a < members_.size(); ++a)
            left_[a] = members_[a].size();
    }

    bool On() const { return !members_.empty(); }
    // Where item i's held-back output goes.
    OutputClaim* HeldFor(size_t i) { return On() ? &held_[i] : nullptr; }
    // Item i is over; true when it was the last of its album (the caller then finishes it).
    // Called under the run's lock.
    bool Ended(size_t i) { return On() && --left_[of_[i]] == 0; }
    const std::vector<size_t>& AlbumOf(size_t i) const { return members_[of_[i]]; }
    bool Held(size_t i) const { return held_[i].Held(); }
    // The item whose output, held for its album, is to take the name target; none when none is.
    std::optional<size_t> HolderOf(const std::string& target) const {
        for (size_t m = 0; m < held_.size(); ++m)
            if (held_[m].Held() && held_[m].Target() == target)
                return m;
        return std::nullopt;
    }
    // Hands item m's held output over to a later item that overwrites it: m leaves its album,
    // whose gain is then measured without it (its output is gone). Called under the run's lock
    // while m's album is not being finished.
    OutputClaim HandOver(size_t m) { return std::move(held_[m]); }

    // Tags and commits the held outputs of item i's album with the album's gain, or gives them
    // up when cancelling (their items are then cancelled). Returns the items that were held, in
    // list order; their outcomes are final now.
    std::vector<size_t> Finish(size_t i, const OutputFormatEntry& format, bool replace,
                               bool cancelling, std::vector<ItemOutcome>& outcomes) {
        std::vector<size_t> finished;
        const std::vector<size_t>& album = AlbumOf(i);
        bool cancelled = cancelling;
        for (size_t m : album)
            cancelled = cancelled || outcomes[m].end == ItemEnd::kCancelled;
        std::vector<const LoudnessMeter*> meters;
        double peak = 0;
        for (size_t m : album) {
            if (!held_[m].Held())
                continue;
            meters.push_back(outcomes[m].meter.get());
            peak = std::max(peak, outcomes[m].loudness.peak);
        }
        double lufs = 0;
        const bool measured = !cancelled && LoudnessMeter::AlbumLoudness(meters, lufs);
        const bool opus = format.formatId == FormatId::kOpus;
        for (size_t m : album) {
            if (!held_[m].Held())
                continue;
            finished.push_back(m);
            ItemOutcome& o = outcomes[m];
            o.meter.reset();
            if (cancelled) {
                held_[m].Release();
                o.end = ItemEnd::kCancelled;
                o.outputPath.clear();
                continue;
            }
            bool ok = true;
            // A silent track gets no album gain either.
            if (measured && o.loudness.hasLoudness && FinishedFileTakesFields(format)) {
                ok = WriteFieldsToFile(held_[m].PartialPath(), format,
                                       LevelFields(opus, true, lufs, peak));
                o.loudness.hasAlbumGain = ok;
                o.loudness.albumGain = GainToReference(opus, lufs);
                o.loudness.albumPeak = peak;
            }
            const std::string target = held_[m].Target();
            if (!ok || !held_[m].Commit(replace)) {
                held_[m].Release();
                o.end = ItemEnd::kFailed;
                o.failure = ok ? Failure{FailureReason::kCreateOutput, target}
                               : Failure{FailureReason::kWriteFailed, {}};
                o.outputPath.clear();
                o.loudness.hasAlbumGain = false;
            }
        }
        return finished;
    }

    // Gives up every output still held (an album the run did not finish): their items are
    // cancelled. Returns them in list order.
    std::vector<size_t> GiveUp(std::vector<ItemOutcome>& outcomes) {
        std::vector<size_t> given;
        for (size_t m = 0; m < held_.size(); ++m) {
            if (!held_[m].Held())
                continue;
            held_[m].Release();
            outcomes[m].end = ItemEnd::kCancelled;
            outcomes[m].outputPath.clear();
            outcomes[m].meter.reset();
            given.push_back(m);
        }
        return given;
    }

private:
    std::vector<size_t> of_;
    std::vector<std::vector<size_t>> members_;
    std::vector<size_t> left_;
    std::vector<OutputClaim> held_;
};

}  // namespace

RunNeeds CheckRunNeeds(SessionConfig& config, const std::vector<SourceFileEntry>& items,
                       const OutputFormatEntry& format) {
    RunNeeds needs;
    needs.windowsMediaOutput = IsWindowsMediaFormat(format.formatId) && !config.windowsMedia.Load();
    bool midi = false, windowsMedia = false;
    for (const SourceFileEntry& item : items) {
        midi = midi || item.sourceType == SourceType::kMidi;
        windowsMedia = windowsMedia || item.sourceType == SourceType::kWindowsMedia;
    }
    needs.soundFont = midi && !config.LoadSoundFont();
    needs.windowsMediaSources = windowsMedia && !config.windowsMedia.Load();
    return needs;
}

bool ProbeNeedsWindowsMedia(SessionConfig& config, const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (SourceTypeOf(path) == SourceType::kWindowsMedia)
            return !config.windowsMedia.Load();
    return false;
}

RunSummary RunConversion(SessionConfig& config, const RunRequest& request, RunObserver& observer) {
    const std::vector<SourceFileEntry>& items = request.items;
    const int count = static_cast<int>(items.size());
    RunTracker tracker(observer, count);
    if (!request.mergePath.empty())
        return RunMerge(config, request, tracker);
    tracker.RunStarted(count);

    // Every name is claimed in list order before anything is written: a held name looks taken
    // to the items after it, exactly as a finished output would in a one-at-a-time run.
    const ConvertSettings& settings = config.settings;
    const OutputFormatEntry& format = request.format;
    std::vector<OutputClaim> claims(items.size());
    std::vector<std::optional<ItemOutcome>> decided(items.size());
    std::vector<bool> deferred(items.size(), false);
    std::set<std::string> taken;
    for (size_t i = 0; i < items.size() && !tracker.CancelRequested(); ++i) {
        const SourceFileEntry& item = items[i];
        if (MissesSoundFont(config, item)) {
            decided[i] = Ends(ItemEnd::kFailed, {FailureReason::kSoundFontMissing, {}});
            continue;
        }
        // A name an earlier item overwrites waits until that one is done, and is claimed then.
        if (settings.targetExistsOpt == TargetExists::kOverwrite &&
            taken.count(FirstOutputPath(NamingPath(item), format, settings))) {
            deferred[i] = true;
            continue;
        }
        std::string path;
        Failure failure;
        const Naming named = PrepareOutputPath(NamingPath(item), format, settings,
                                               config.documentsFolder, path, failure, &claims[i]);
        if (named == Naming::kNamed)
            taken.insert(path);
        else
            decided[i] = NamingOutcome(named, failure);
    }

    // One worker takes the items in list order. Several take the longest first, so that no
    // long file is left running alone at the end; the deferred ones come last, in list order.
    const int workers = std::max(1, std::min(request.workers, count));
    std::vector<size_t> order;
    for (size_t i = 0; i < items.size(); ++i)
        if (workers == 1 || !deferred[i])
            order.push_back(i);
    if (workers > 1) {
        auto work = [&](size_t i) {
            return static_cast<double>(items[i].duration) * items[i].sampleRate *
                   std::max(1, std::min(items[i].sourceChannels, 2));
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return work(a) > work(b); });
        for (size_t i = 0; i < items.size(); ++i)
            if (deferred[i])
                order.push_back(i);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> done(items.size(), false);
    std::vector<ItemOutcome> outcomes(items.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> stopped{false};
    int finishing = 0;  // albums being tagged and committed now, outside the lock
    Albums albums(items, settings.replayGain == ReplayGainMode::kAlbum);
    const bool replace = settings.targetExistsOpt == TargetExists::kOverwrite;
    // The earlier items whose held outputs item i took over (their names being its own): they
    // are told with it, and cancelled with it, since their outputs are gone then.
    std::vector<std::vector<size_t>> tookOver(items.size());
    std::function<void(size_t, const ItemOutcome&)> tell = [&](size_t i, const ItemOutcome& o) {
        tracker.ItemEnded(static_cast<int>(i), o);
        for (size_t m : tookOver[i]) {
            ItemOutcome earlier = outcomes[m];
            if (o.end == ItemEnd::kCancelled) {
                earlier.end = ItemEnd::kCancelled;
                earlier.outputPath.clear();
                earlier.loudness = {};
            }
            tell(m, earlier);
        }
    };
    // Item i is over: reported now, or with the rest of its album once that is measured.
    auto ended = [&](size_t i, ItemOutcome outcome) {
        const bool held = albums.Held(i);
        if (!held)
            tell(i, outcome);
        bool albumDone = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            outcomes[i] = std::move(outcome);
            done[i] = true;
            albumDone = albums.Ended(i);
            // Told under the run's lock, so that the album's end, which another worker may
            // reach at once, is told after it.
            if (held && !albumDone)
                tracker.ItemWaitsForAlbum(static_cast<int>(i));
            finishing += albumDone ? 1 : 0;
        }
        changed.notify_all();
        if (!albumDone)
            return;
        // Every other item of the album is over: nothing else touches its outcomes now.
        for (size_t m : albums.Finish(i, format, replace, tracker.CancelRequested(), outcomes))
            tell(m, outcomes[m]);
        {
            std::lock_guard<std::mutex> lock(mutex);
            --finishing;
        }
        changed.notify_all();
    };
    auto earlierDone = [&](size_t i) {
        return std::all_of(done.begin(), done.begin() + static_cast<long>(i),
                           [](bool d) { return d; });
    };
    auto worker = [&] {
        ConversionSession session(config, tracker);
        for (size_t k = next++; k < order.size(); k = next++) {
            const size_t i = order[k];
            if (stopped || tracker.CancelRequested()) {
                stopped = true;
                break;
            }
            ItemOutcome outcome;
            if (decided[i]) {
                outcome = *decided[i];
            } else {
                OutputClaim claim = std::move(claims[i]);
                if (deferred[i]) {
                    // Once the items before it are done, and no album is being committed (its
                    // names are in the middle of becoming files).
                    std::unique_lock<std::mutex> lock(mutex);
                    while ((!earlierDone(i) || finishing > 0) && !tracker.CancelRequested())
                        changed.wait_for(lock, std::chrono::milliseconds(50));
                    if (tracker.CancelRequested()) {
                        stopped = true;
                        break;
                    }
                    // The name may still be held by an earlier output that waits for its album,
                    // which may be this item's own: that output would be overwritten by this
                    // one anyway, so this item takes its name over, and the earlier item is
                    // told with this one instead of with its album.
                    const std::optional<size_t> holder =
                        albums.HolderOf(FirstOutputPath(NamingPath(items[i]), format, settings));
                    if (holder) {
                        claim = albums.HandOver(*holder);
                        outcomes[*holder].meter.reset();
                        tookOver[i].push_back(*holder);
                    }
                    lock.unlock();
                    if (!holder) {
                        std::string path;
                        Failure failure;
                        const Naming named =
                            PrepareOutputPath(NamingPath(items[i]), format, settings,
                                              config.documentsFolder, path, failure, &claim);
                        if (named != Naming::kNamed)
                            decided[i] = NamingOutcome(named, failure);
                    }
                }
                outcome = decided[i] ? *decided[i]
                                     : session.ConvertItem(items[i], static_cast<int>(i), format,
                                                           std::move(claim), nullptr, {},
                                                           albums.HeldFor(i));
            }
            ended(i, std::move(outcome));
        }
    };
    if (workers == 1) {
        worker();
    } else {
        std::vector<std::thread> threads;
        for (int t = 0; t < workers; ++t)
            threads.emplace_back(worker);
        for (std::thread& t : threads)
            t.join();
    }
    // Names claimed for items that never ran are given back with their partial files, and so
    // are the outputs of albums that a cancel left unfinished.
    claims.clear();
    for (size_t m : albums.GiveUp(outcomes))
        tell(m, outcomes[m]);

    RunSummary summary;
    summary.cancelled = stopped || tracker.CancelRequested() ||
                        std::any_of(outcomes.begin(), outcomes.end(), [](const ItemOutcome& o) {
                            return o.end == ItemEnd::kCancelled;
                        });
    if (!summary.cancelled && count > 0) {
        std::vector<ItemOutcome> reached;
        for (size_t i = 0; i < items.size(); ++i)
            if (done[i])
                reached.push_back(outcomes[i]);
        summary.outputToShow = OutputToShow(config, reached);
    }
    tracker.RunEnded(summary);
    return summary;
}

}  // namespace kestrune
