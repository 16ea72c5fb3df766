#pragma once

#include <string>

#include "engine/convert_settings.h"
#include "settings/settings_store.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// What SaveSettings writes; a mask is a sum of these.
constexpr int kSaveFolder = 4;          // "Folder"
constexpr int kSaveOptions = 8;         // every other option, the per-format values and the tag
constexpr int kSaveFormatAndPage = 16;  // "OutputFormat" and "OptStartPageIndex"
constexpr int kSaveWindow = 32;         // the window's size and the list's columns

// The defaults that hang on the documents folder: "Specific folder" there when it is known,
// else "Same as source file" with no folder.
void ApplyDocumentsFolderDefaults(ConvertSettings& settings, const std::string& documentsFolder);

// The user's documents folder, created when missing; empty when it cannot be had.
std::string FindDocumentsFolder();

// Reads the "Options" group (values that are absent keep what the records hold), the
// per-format values into the catalogue rows and, when present, the tag options; then
// rebuilds the extension filter. Always true.
bool LoadSettings(SettingsStore& store, ConvertSettings& settings, TagOptions& tags,
                  OutputCatalogue& catalogue);

// Writes the groups named by mask. False only for a mask of 0.
bool SaveSettings(SettingsStore& store, int mask, const ConvertSettings& settings,
                  const TagOptions& tags, const OutputCatalogue& catalogue);

// False when the "ID3" group does not exist (the record is then left alone). Texts that are
// absent or empty load as empty.
bool LoadTagOptions(SettingsStore& store, TagOptions& tags);
// False when the store cannot be written.
bool SaveTagOptions(SettingsStore& store, const TagOptions& tags);

// True on the program's first start, and marks it as done ("FirstRun" becomes 0). A store
// that cannot be written counts as a first start every time.
bool CheckFirstRun(SettingsStore& store);

}  // namespace kestrune
