#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

// The groups of the per-user store.
inline constexpr const char* kOptionsGroup = "Options";
inline constexpr const char* kTagOptionsGroup = "Options/ID3";

// A per-user store of named numbers and texts in groups. Failures are silent by design: a
// missing value reads as absent, a write that cannot land is lost (Sync tells).
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // True when the group holds at least one value or subgroup.
    virtual bool HasGroup(const std::string& group) = 0;
    // Absent, or not a decimal number: nullopt.
    virtual std::optional<int64_t> ReadInt(const std::string& group, const std::string& name) = 0;
    virtual std::optional<std::string> ReadText(const std::string& group,
                                                const std::string& name) = 0;
    virtual void WriteInt(const std::string& group, const std::string& name, int64_t value) = 0;
    virtual void WriteText(const std::string& group, const std::string& name,
                           const std::string& value) = 0;
    virtual void RemoveValue(const std::string& group, const std::string& name) = 0;
    // Removes the group with its values and subgroups.
    virtual void RemoveGroup(const std::string& group) = 0;
    // False when writes cannot reach the backing store at all.
    virtual bool IsWritable() = 0;
    // Pushes pending writes out; false when that failed.
    virtual bool Sync() = 0;
};

}  // namespace kestrune
