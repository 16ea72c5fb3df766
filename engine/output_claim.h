#pragma once

#include <string>

namespace kestrune {

// An output's name, held while the output is being written. The data goes into a hidden
// partial file beside the target (".<name>.kestrune-part"), which the holder keeps locked for
// as long as it holds the name: other runs and other jobs see the name as taken, while a
// partial file that nobody holds any more (a run was killed) is taken over and emptied by the
// next claim of that name. Commit gives the finished file its name in one step, and only once
// its data is on disk; a claim given up removes its partial file. So no file ever carries an
// output's name while it is incomplete, whatever stops the run.
class OutputClaim {
public:
    enum class Take {
        kTaken,   // the name is now held by this claim
        kBusy,    // another claim holds it
        kFailed,  // its partial file cannot be made
    };

    OutputClaim() = default;
    ~OutputClaim();
    OutputClaim(OutputClaim&& other) noexcept;
    OutputClaim& operator=(OutputClaim&& other) noexcept;
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;

    // Holds target (giving up what this claim held before). A partial file that is the same
    // file as keep (the source being converted) is never taken over.
    Take Hold(const std::string& target, const std::string& keep = {});
    bool Held() const { return fd_ >= 0; }
    const std::string& Target() const { return target_; }
    // Where the output is written until Commit.
    const std::string& PartialPath() const { return partial_; }

    // Readies the partial file for a (new) attempt: empty, and the very file this claim locks
    // (a writer that failed to start may have removed it). False when the name was lost.
    bool Restart();

    // Flushes the partial file to disk, gives it the target's name and flushes the folder.
    // replace: a file of that name is replaced; otherwise a file that appeared there meanwhile
    // makes the commit fail. On success the claim holds nothing any more; on failure it still
    // holds the partial file.
    bool Commit(bool replace);

    // Gives the name up and removes the partial file.
    void Release();

    // Overwriting: the file that has the name now is to go once its replacement is under way
    // (RemoveReplaced), not when the name is claimed, so that a run cancelled before then
    // leaves it alone.
    void MarkReplacing() { replacing_ = fd_ >= 0; }
    // Removes the file of the held name when MarkReplacing asked for it (never a folder).
    void RemoveReplaced();

private:
    int fd_ = -1;
    bool replacing_ = false;
    std::string target_;
    std::string partial_;
};

// The partial file a claim on target writes: hidden, in target's folder.
std::string PartialPathOf(const std::string& target);

}  // namespace kestrune
