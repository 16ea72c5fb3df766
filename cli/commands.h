#pragma once

#include <string>
#include <vector>

namespace kestrune::cli {

// Quiets the libraries' own console output and starts the decoding layer.
bool InitEngineLibraries();
void FreeEngineLibraries();
int RunFormats(const std::vector<std::string>& args);
int RunProbe(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
// Says what was wrong with the command line in one line, with where to read more; returns 2.
int UsageError(const std::string& why);

}  // namespace kestrune::cli
