// The folders of the source tree are layers; a file may include headers of its own layer and
// of the layers below it, never of one above or beside it. The build's -z defs catches calls
// that cross upwards; this catches the includes (inline code and types link without a call).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// What each layer may include, besides itself. The libraries of platform/ (the decoding, AMR
// and Windows Media layers) are self-contained: they see nothing of the program. common/ holds
// header-only helpers (RAII for third-party handles, byte order) that every layer, the
// self-contained ones included, may use; it includes nothing of the program. desktop/ holds the
// window's ways to the user and the desktop, shared by the Options sheet and the window.
// messages/ words what the engine reports, for the window and kestrune-cli alike.
const std::map<std::string, std::set<std::string>>& AllowedBelow() {
    static const std::set<std::string> core = {"common", "audio", "readers", "writers", "engine"};
    auto with = [](std::set<std::string> layers, std::initializer_list<std::string> more) {
        layers.insert(more);
        return layers;
    };
    static const std::map<std::string, std::set<std::string>> table = {
        {"common", {}},
        {"audio", {"common"}},
        {"platform/bass", {"common"}},
        {"platform/amr", {"common"}},
        {"platform/wmvcore", {"common"}},
        {"readers", {"common", "audio", "platform/bass", "platform/amr", "platform/wmvcore"}},
        {"writers", {"common", "audio", "platform/amr", "platform/wmvcore"}},
        {"engine", {"common", "audio", "readers", "writers"}},
        {"messages", core},
        {"settings", core},
        {"desktop", {}},
        {"settings/options", with(core, {"settings", "desktop"})},
        {"app", with(core, {"messages", "settings", "settings/options", "desktop"})},
        {"cli", with(core, {"messages", "settings"})},
    };
    return table;
}

// The layer a source path (relative to the tree) belongs to: the longest matching folder.
std::string LayerOf(const std::string& relative) {
    std::string best;
    for (const auto& [layer, below] : AllowedBelow()) {
        if (relative.compare(0, layer.size() + 1, layer + "/") == 0 && layer.size() > best.size())
            best = layer;
    }
    return best;
}

struct Violation {
    std::string file;
    std::string header;
};

// Every quoted include in the layered folders of root that reaches outside what its layer
// may see.
std::vector<Violation> FindUpwardIncludes(const fs::path& root) {
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<Violation> found;
    for (const auto& [layer, below] : AllowedBelow()) {
        const fs::path folder = root / layer;
        if (!fs::is_directory(folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp"))
                continue;
            const std::string relative = fs::relative(entry.path(), root).generic_string();
            if (LayerOf(relative) != layer)
                continue;  // a sub-layer's file is checked as its own
            std::ifstream in(entry.path());
            std::string line;
            std::smatch match;
            while (std::getline(in, line)) {
                if (!std::regex_search(line, match, include))
                    continue;
                const std::string header = match[1];
                const std::string target = LayerOf(header);
                if (target.empty() || target == layer || below.count(target))
                    continue;
                found.push_back({relative, header});
            }
        }
    }
    return found;
}

TEST(Layering, NoFileIncludesAHeaderOfALayerAboveOrBesideIt) {
    const auto violations = FindUpwardIncludes(KESTRUNE_SOURCE_DIR);
    for (const auto& v : violations)
        ADD_FAILURE() << v.file << " includes \"" << v.header << "\"";
    EXPECT_TRUE(violations.empty());
}

// The check itself must catch what it exists for: a reader that reaches into the engine,
// a writer that reaches into the readers, and the decoding layer reaching into its users.
TEST(Layering, CatchesAReaderIncludingTheEngine) {
    kestrune::test::TempDir tree;
    const fs::path root = tree.path();
    auto write = [&](const std::string& relative, const std::string& text) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
    };
    write("readers/fine.cpp", "#include \"audio/audio_reader.h\"\n#include \"readers/fine.h\"\n");
    write("readers/upward.cpp",
          "#include <vector>\n  #  include \"engine/conversion_session.h\"\n");
    write("writers/beside.h", "#include \"readers/source_type.h\"\n");
    write("platform/bass/layer.cpp", "#include \"readers/aiff_reader.h\"\n");
    write("app/main.cpp", "#include \"engine/conversion_session.h\"\n");
    write("platform/bass/handles.cpp", "#include \"common/ffmpeg_handles.h\"\n");
    write("common/glue.h", "#include \"audio/tag_set.h\"\n");

    const auto violations = FindUpwardIncludes(root);
    std::set<std::string> files;
    for (const auto& v : violations)
        files.insert(v.file + " -> " + v.header);
    EXPECT_EQ(files, (std::set<std::string>{
                         "readers/upward.cpp -> engine/conversion_session.h",
                         "writers/beside.h -> readers/source_type.h",
                         "platform/bass/layer.cpp -> readers/aiff_reader.h",
                         "common/glue.h -> audio/tag_set.h",
                     }));
}

}  // namespace
