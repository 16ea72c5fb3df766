#include "settings/ini_settings_store.h"

#include <QSettings>
#include <QStringList>

namespace kestrune {

namespace {

QString Key(const std::string& group, const std::string& name) {
    return QString::fromStdString(group + "/" + name);
}

}  // namespace

IniSettingsStore::IniSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Kestrune"),
                                            QStringLiteral("Kestrune 4"))) {
    // Only the user's own file counts; a system-wide one must not leak in.
    settings_->setFallbacksEnabled(false);
}

IniSettingsStore::IniSettingsStore(const std::string& iniPath)
    : settings_(
          std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat)) {
    settings_->setFallbacksEnabled(false);
}

IniSettingsStore::~IniSettingsStore() = default;

std::string IniSettingsStore::FileName() const {
    return settings_->fileName().toStdString();
}

bool IniSettingsStore::HasGroup(const std::string& group) {
    settings_->beginGroup(QString::fromStdString(group));
    const bool has = !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
    settings_->endGroup();
    return has;
}

std::optional<int64_t> IniSettingsStore::ReadInt(const std::string& group,
                                                 const std::string& name) {
    const QVariant value = settings_->value(Key(group, name));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<std::string> IniSettingsStore::ReadText(const std::string& group,
                                                      const std::string& name) {
    const QVariant value = settings_->value(Key(group, name));
    if (!value.isValid())
        return std::nullopt;
    // An INI line edited by hand with unquoted commas comes back as a list.
    if (value.metaType().id() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return value.toString().toStdString();
}

void IniSettingsStore::WriteInt(const std::string& group, const std::string& name, int64_t value) {
    settings_->setValue(Key(group, name), static_cast<qlonglong>(value));
}

void IniSettingsStore::WriteText(const std::string& group, const std::string& name,
                                 const std::string& value) {
    settings_->setValue(Key(group, name), QString::fromStdString(value));
}

void IniSettingsStore::RemoveValue(const std::string& group, const std::string& name) {
    settings_->remove(Key(group, name));
}

void IniSettingsStore::RemoveGroup(const std::string& group) {
    settings_->remove(QString::fromStdString(group));
}

bool IniSettingsStore::IsWritable() {
    return settings_->isWritable();
}

bool IniSettingsStore::Sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

}  // namespace kestrune
