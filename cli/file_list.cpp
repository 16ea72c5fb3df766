#include "cli/file_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestrune::cli {

bool ReadFileList(const std::string& from, bool nulSeparated, std::vector<std::string>& files,
                  std::string& error) {
    using FileCloser = int (*)(FILE*);
    std::unique_ptr<FILE, FileCloser> owned(nullptr, &std::fclose);
    FILE* in = stdin;
    if (from != "-") {
        owned.reset(std::fopen(from.c_str(), "rb"));
        if (!owned) {
            error = "cannot read the list " + from + ": " + std::strerror(errno);
            return false;
        }
        in = owned.get();
    }
    const char separator = nulSeparated ? '\0' : '\n';
    std::string entry;
    for (int c; (c = getc(in)) != EOF;) {
        if (static_cast<char>(c) != separator) {
            entry += static_cast<char>(c);
            continue;
        }
        if (!entry.empty())
            files.push_back(std::move(entry));
        entry.clear();
    }
    if (std::ferror(in)) {
        error = "cannot read the list " + from + ": " + std::strerror(errno);
        return false;
    }
    if (!entry.empty())
        files.push_back(std::move(entry));
    return true;
}

}  // namespace kestrune::cli
