#pragma once

#include <memory>
#include <string>

#include "settings/settings_store.h"

class QSettings;

namespace kestrune {

// The store as an INI file through QSettings. The default one is the user's own
// (organisation "Kestrune", application "Kestrune 4"); another file can be named instead.
class IniSettingsStore : public SettingsStore {
public:
    IniSettingsStore();
    explicit IniSettingsStore(const std::string& iniPath);
    ~IniSettingsStore() override;
    IniSettingsStore(const IniSettingsStore&) = delete;
    IniSettingsStore& operator=(const IniSettingsStore&) = delete;

    std::string FileName() const;

    bool HasGroup(const std::string& group) override;
    std::optional<int64_t> ReadInt(const std::string& group, const std::string& name) override;
    std::optional<std::string> ReadText(const std::string& group, const std::string& name) override;
    void WriteInt(const std::string& group, const std::string& name, int64_t value) override;
    void WriteText(const std::string& group, const std::string& name,
                   const std::string& value) override;
    void RemoveValue(const std::string& group, const std::string& name) override;
    void RemoveGroup(const std::string& group) override;
    bool IsWritable() override;
    bool Sync() override;

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kestrune
