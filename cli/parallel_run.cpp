#include "cli/parallel_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "engine/output_path.h"

namespace kestrune::cli {

namespace {

// What a worker's session shows: nothing but the final texts of each row, and Ctrl+C.
class WorkerHost : public ConversionHost {
public:
    explicit WorkerHost(std::atomic<bool>& cancel) : cancel_(cancel) {}
    bool CancelRequested() override { return cancel_.load(std::memory_order_relaxed); }
    void SetItemVolume(int, const std::string& text) override { volume = text; }
    void SetItemOutput(int, const std::string& text) override { output = text; }
    std::string volume, output;

private:
    std::atomic<bool>& cancel_;
};

struct Result {
    bool done = false;
    std::string output, volume;
    double seconds = 0;
};

}  // namespace

void ConvertListInParallel(
    ConversionSession& main, std::vector<SourceFileEntry*>& items, const OutputFormatEntry& format,
    int jobs, std::atomic<bool>& cancel,
    const std::function<void(int, const std::string&, const std::string&, double)>& report) {
    if (!main.PreRunChecks(items, format))
        return;
    const int count = static_cast<int>(items.size());
    std::vector<Result> results(items.size());

    // Claim every name in list order: a held name looks taken to the items after it, exactly
    // as a finished output would in a one-at-a-time run.
    const ConvertSettings& settings = main.config().settings;
    std::vector<OutputClaim> claims(items.size());
    std::vector<bool> deferred(items.size(), false);
    std::set<std::string> taken;
    for (size_t i = 0; i < items.size(); ++i) {
        SourceFileEntry& item = *items[i];
        item.outputPath.clear();
        if (item.sourceType == SourceType::kMidi && !main.SoundFontLoaded())
            continue;  // fails alone
        // An overwritten name already claimed by an earlier item waits until that one is done,
        // and is claimed then.
        if (settings.targetExistsOpt == TargetExists::kOverwrite &&
            taken.count(FirstOutputPath(item.path, format, settings))) {
            deferred[i] = true;
            continue;
        }
        std::string path, message;
        if (!PrepareOutputPath(item.path, format, settings, main.host(), path, message,
                               &claims[i])) {
            results[i] = {true, message, {}, 0};
            continue;
        }
        taken.insert(path);
        item.outputPath = path;
    }

    // Longest first, so that no long file is left running alone at the end.
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto work = [&](size_t i) {
        return static_cast<double>(items[i]->duration) * items[i]->sampleRate *
               std::max(1, std::min(items[i]->sourceChannels, 2));
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return work(a) > work(b); });

    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<size_t> next{0};
    auto convert = [&](size_t i) {
        const auto started = std::chrono::steady_clock::now();
        WorkerHost host(cancel);
        ConversionSession session = main.WorkerSession(host);
        session.ConvertItem(*items[i], static_cast<int>(i), static_cast<int>(i) + 1, count, format,
                            std::move(claims[i]));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::lock_guard<std::mutex> lock(mutex);
        results[i] = {true, host.output, host.volume, took.count()};
        changed.notify_all();
    };
    const int workers = std::max(1, std::min(jobs, count));
    int active = workers;
    auto worker = [&] {
        for (size_t i = next++; i < items.size(); i = next++) {
            if (results[i].done || deferred[i])
                continue;
            if (cancel.load())
                break;
            convert(i);
        }
        std::lock_guard<std::mutex> lock(mutex);
        --active;
        changed.notify_all();
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < workers; ++t)
        threads.emplace_back(worker);

    // Report in list order as results arrive; deferred items run here once the earlier ones
    // are all done, so the last writer of a name is the one a sequential run leaves.
    for (size_t i = 0; i < items.size(); ++i) {
        if (deferred[i]) {
            for (std::thread& t : threads)
                t.join();
            threads.clear();
            if (!cancel.load()) {
                convert(i);
            }
        }
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return results[i].done || (cancel.load() && active == 0); });
        if (!results[i].done)
            break;
        const Result r = results[i];
        lock.unlock();
        report(static_cast<int>(i), r.output, r.volume, r.seconds);
    }
    for (std::thread& t : threads)
        t.join();

    // Names claimed for items that never ran are given back.
    for (size_t i = 0; i < items.size(); ++i) {
        if (results[i].done)
            continue;
        claims[i].Release();
        items[i]->outputPath.clear();
    }
}

}  // namespace kestrune::cli
