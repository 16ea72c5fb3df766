#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/output_claim.h"
#include "engine/output_path.h"
#include "messages/item_texts.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class OutputPathTest : public testing::Test {
protected:
    void SetUp() override {
        BuildOutputCatalogue(catalogue);
        documents = Path("Documents");
        settings.destOutputFolderOpt = DestOutputFolder::kSameAsSource;
        settings.outputFiles2MyDocuments = false;
    }

    std::string Path(const std::string& rel) const { return dir.File(rel); }
    // The temporary folder as "Keep original directory tree" recreates it: no leading "/".
    std::string Tree() const { return dir.path().string().substr(1); }

    // Makes a file (and its folders) holding its own name, so a test can tell it is intact.
    std::string MakeFile(const std::string& rel) {
        const std::string path = Path(rel);
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << rel;
        return path;
    }

    const OutputFormatEntry& Format(const std::string& extension) const {
        for (const OutputFormatEntry& row : catalogue)
            if (extension == row.extension)
                return row;
        throw std::runtime_error("no row " + extension);
    }

    // The name, or the message the file list shows instead.
    bool Prepare(const std::string& source, const std::string& extension,
                 OutputClaim* claim = nullptr) {
        Failure failure;
        return Named(PrepareOutputPath(source, Format(extension), settings, documents, output,
                                       failure, claim),
                     failure);
    }
    // What a dry run names.
    bool Plan(const std::string& source, const std::string& extension) {
        Failure failure;
        return Named(PlanOutputPath(source, Format(extension), settings, documents, planned, output,
                                    failure),
                     failure);
    }
    bool Named(Naming named, const Failure& failure) {
        if (named == Naming::kNamed)
            return true;
        ItemOutcome outcome;
        outcome.end = named == Naming::kSkipped ? ItemEnd::kSkipped : ItemEnd::kFailed;
        outcome.failure = failure;
        message = OutputText(outcome);
        return false;
    }
    // Every entry below the temporary folder with its size, to see that a plan touched nothing.
    std::string Snapshot() const {
        std::set<std::string> entries;
        for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
            std::error_code ec;
            const auto size = e.is_regular_file(ec) ? e.file_size(ec) : 0;
            entries.insert(e.path().string() + " " + std::to_string(size));
        }
        std::string all;
        for (const std::string& e : entries)
            all += e + "\n";
        return all;
    }

    test::TempDir dir;
    OutputCatalogue catalogue;
    ConvertSettings settings;
    std::string documents;  // the documents folder outputs fall back to
    PlannedNames planned;
    std::string output = "untouched";
    std::string message;
};

TEST_F(OutputPathTest, FileExistsSeesFilesFoldersAndDanglingLinks) {
    MakeFile("f");
    fs::create_directory(Path("d"));
    fs::create_symlink(Path("nowhere"), Path("dangling"));
    EXPECT_TRUE(FileExists(Path("f")));
    EXPECT_TRUE(FileExists(Path("d")));
    EXPECT_TRUE(FileExists(Path("dangling")));
    EXPECT_FALSE(FileExists(Path("nowhere")));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(OutputPathTest, EnsureFolderCreatesFromTheRootDown) {
    EXPECT_TRUE(EnsureFolder(Path("a/b/c")));
    EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
    EXPECT_TRUE(EnsureFolder(Path("a/b/c")));  // already there
    EXPECT_TRUE(EnsureFolder(Path("x//y/")));
    EXPECT_TRUE(fs::is_directory(Path("x/y")));
    MakeFile("plain");
    EXPECT_FALSE(EnsureFolder(Path("plain")));
    EXPECT_FALSE(EnsureFolder(Path("plain/sub")));
    EXPECT_TRUE(fs::is_regular_file(Path("plain")));
    EXPECT_FALSE(EnsureFolder(""));
}

struct NamingCase {
    const char* name;
    DestOutputFolder destination;
    const char* folder;  // below the temporary folder; "" for none
    bool createDirs;
    TargetExists policy;
    std::vector<const char*> existing;  // files made first; a trailing "/" makes a folder
    const char* source;
    const char* extension;
    const char* expected;  // "@" stands for the temporary folder's own tree
};

class NamingTest : public OutputPathTest, public testing::WithParamInterface<NamingCase> {
protected:
    // Makes the case's files and settings; the source's path.
    std::string Arrange(const NamingCase& c) {
        const std::string source = MakeFile(c.source);
        for (const char* e : c.existing) {
            if (std::string(e).ends_with("/"))
                fs::create_directories(Path(e));
            else
                MakeFile(e);
        }
        settings.destOutputFolderOpt = c.destination;
        settings.destSpecifiedFolder = *c.folder ? Path(c.folder) : "";
        settings.createDirs = c.createDirs;
        settings.targetExistsOpt = c.policy;
        return source;
    }
    std::string Expected(const NamingCase& c) const {
        std::string expected = c.expected;
        if (const size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, Tree());
        return Path(expected);
    }
};

TEST_P(NamingTest, OutputPathFollowsTheSettings) {
    const NamingCase& c = GetParam();
    const std::string source = Arrange(c);
    ASSERT_TRUE(Prepare(source, c.extension)) << message;
    EXPECT_EQ(output, Expected(c));
    EXPECT_FALSE(FileExists(output));  // claimed, then given back for the writer
    EXPECT_EQ(ReadAll(source), c.source);
    EXPECT_FALSE(fs::exists(documents));
}

// A dry run names the same file, and neither makes the missing folders nor claims the name.
TEST_P(NamingTest, PlanNamesTheSameAndTouchesNothing) {
    const NamingCase& c = GetParam();
    const std::string source = Arrange(c);
    const std::string before = Snapshot();
    ASSERT_TRUE(Plan(source, c.extension)) << message;
    EXPECT_EQ(output, Expected(c));
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(planned, PlannedNames{Expected(c)});
}

constexpr DestOutputFolder kSame = DestOutputFolder::kSameAsSource;
constexpr DestOutputFolder kSpecific = DestOutputFolder::kSpecificFolder;

INSTANTIATE_TEST_SUITE_P(
    Examples, NamingTest,
    testing::Values(NamingCase{"SameAsSource",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Music/pop/track01.ogg"},
                    NamingCase{"SpecificFolder",
                               kSpecific,
                               "Output",
                               0,
                               TargetExists::kRename,
                               {},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Output/track01.ogg"},
                    NamingCase{"KeepTree",
                               kSpecific,
                               "Output",
                               1,
                               TargetExists::kRename,
                               {},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Output/@/Music/pop/track01.ogg"},
                    NamingCase{"RenameAfterTwo",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {"Music/pop/track01.ogg", "Music/pop/track01_1.ogg"},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Music/pop/track01_2.ogg"},
                    NamingCase{"NoExtension",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {},
                               "a/noext",
                               "mp3",
                               "a/noext.mp3"},
                    NamingCase{"SameFormatRenames",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {},
                               "Music/pop/track01.mp3",
                               "mp3",
                               "Music/pop/track01_1.mp3"},
                    NamingCase{"KeepTreeNeedsSpecificFolder",
                               kSame,
                               "Output",
                               1,
                               TargetExists::kRename,
                               {},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Music/pop/track01.ogg"},
                    NamingCase{"HiddenFileKeepsItsName",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {},
                               "a/.profile",
                               "ogg",
                               "a/.profile.ogg"},
                    NamingCase{"DotInFolderOnly",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {},
                               "a.b/noext",
                               "ogg",
                               "a.b/noext.ogg"},
                    NamingCase{"MissingNestedFolderIsMade",
                               kSpecific,
                               "Out/deep/er/",
                               0,
                               TargetExists::kRename,
                               {},
                               "Music/track01.wav",
                               "ogg",
                               "Out/deep/er/track01.ogg"},
                    NamingCase{"FolderNamedLikeTargetRenames",
                               kSame,
                               "",
                               0,
                               TargetExists::kRename,
                               {"Music/pop/track01.ogg/"},
                               "Music/pop/track01.mp3",
                               "ogg",
                               "Music/pop/track01_1.ogg"},
                    NamingCase{"OverwriteNothingThere",
                               kSpecific,
                               "Output",
                               0,
                               TargetExists::kOverwrite,
                               {},
                               "Music/pop/track01.mp3",
                               "mp3",
                               "Output/track01.mp3"}),
    [](const testing::TestParamInfo<NamingCase>& test) { return test.param.name; });

TEST_F(OutputPathTest, KeepTreeOfAnAbsoluteSourceGoesBelowTheFolder) {
    // The source needs not exist for naming; only the output folder is made.
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("out");
    settings.createDirs = true;
    ASSERT_TRUE(Prepare("/home/ann/Music/pop/track01.mp3", "ogg")) << message;
    EXPECT_EQ(output, Path("out/home/ann/Music/pop/track01.ogg"));
    // Doubled slashes and "." or ".." parts are tidied, never climbing out of the folder.
    ASSERT_TRUE(Prepare("//home/ann/./x/../Music//pop/track01.mp3", "ogg")) << message;
    EXPECT_EQ(output, Path("out/home/ann/Music/pop/track01.ogg"));
    ASSERT_TRUE(Prepare("/../../etc/a.mp3", "ogg")) << message;
    EXPECT_EQ(output, Path("out/etc/a.ogg"));
}

struct FailureCase {
    const char* name;
    DestOutputFolder destination;
    const char* folder;
    bool createDirs;
    TargetExists policy;
    std::vector<const char*> existing;
    const char* source;
    const char* extension;
    // "{tmp}" stands for the temporary folder, "{tree}" for its own tree, "{long}" for a name
    // that is too long once the extension is added.
    const char* message;
    bool fallsBack;        // whether the documents folder is the way out
    const char* fallback;  // the output there
};

const std::string kLongName(253, 'n');

class FailureTest : public OutputPathTest, public testing::WithParamInterface<FailureCase> {
protected:
    std::string Expand(std::string text) const {
        const std::pair<std::string, std::string> tokens[] = {
            {"{tmp}", dir.path().string()}, {"{tree}", Tree()}, {"{long}", kLongName}};
        for (const auto& [token, value] : tokens)
            for (size_t at; (at = text.find(token)) != std::string::npos;)
                text.replace(at, token.size(), value);
        return text;
    }
    void Arrange(const FailureCase& c) {
        for (const char* e : c.existing) {
            if (std::string(e).ends_with("/"))
                fs::create_directories(Expand(Path(e)));
            else
                MakeFile(e);
        }
        settings.destOutputFolderOpt = c.destination;
        settings.destSpecifiedFolder = *c.folder ? Expand(Path(c.folder)) : "";
        settings.createDirs = c.createDirs;
        settings.targetExistsOpt = c.policy;
    }
};

TEST_P(FailureTest, MessageWithoutFallback) {
    const FailureCase& c = GetParam();
    const std::string source = MakeFile(Expand(c.source));
    Arrange(c);
    settings.outputFiles2MyDocuments = false;
    EXPECT_FALSE(Prepare(source, c.extension));
    EXPECT_EQ(message, Expand(c.message));
    EXPECT_EQ(output, "untouched");
    EXPECT_EQ(ReadAll(source), Expand(c.source));
    EXPECT_FALSE(fs::exists(documents));
}

TEST_P(FailureTest, FallbackToDocumentsOnlyWhereAllowed) {
    const FailureCase& c = GetParam();
    const std::string source = MakeFile(Expand(c.source));
    Arrange(c);
    settings.outputFiles2MyDocuments = true;
    if (!c.fallsBack) {
        EXPECT_FALSE(Prepare(source, c.extension));
        EXPECT_EQ(message, Expand(c.message));
        EXPECT_FALSE(fs::exists(documents));
        return;
    }
    if (*c.fallback) {
        ASSERT_TRUE(Prepare(source, c.extension)) << message;
        EXPECT_EQ(output, Expand(Path(c.fallback)));
    } else {
        // The documents folder fails too: the last attempt's message, after one try only.
        EXPECT_FALSE(Prepare(source, c.extension));
        EXPECT_EQ(message, Expand("Failed to create file \"{tmp}/Documents/{long}.ogg\""));
        EXPECT_EQ(output, "untouched");
    }
    EXPECT_EQ(ReadAll(source), Expand(c.source));
}

// Whatever the real naming answers, with and without the fall-back, the plan answers the same
// beforehand, and leaves the folder as it found it.
TEST_P(FailureTest, PlanAnswersAsTheRealNamingDoes) {
    const FailureCase& c = GetParam();
    const std::string source = MakeFile(Expand(c.source));
    Arrange(c);
    for (bool fallback : {false, true}) {
        SCOPED_TRACE(fallback ? "with the fall-back" : "without the fall-back");
        settings.outputFiles2MyDocuments = fallback;
        const std::string before = Snapshot();
        output = message = "untouched";
        const bool planOk = Plan(source, c.extension);
        const std::string planOutput = output, planMessage = message;
        EXPECT_EQ(Snapshot(), before);
        output = message = "untouched";
        EXPECT_EQ(Prepare(source, c.extension), planOk);
        EXPECT_EQ(planOutput, output);
        if (!planOk) {
            EXPECT_EQ(planMessage, message);
        }
    }
}

// A list planned in order names its files as a run that writes each output before naming the
// next one: renamed, skipped or overwritten by a later file of the same list.
TEST_F(OutputPathTest, PlanOfAListFollowsTheRunOrder) {
    const std::vector<std::string> sources = {MakeFile("x/a.mp3"), MakeFile("y/a.wav"),
                                              MakeFile("x/b.mp3"), MakeFile("z/a.flac")};
    MakeFile("Output/b.ogg");
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("Output");
    for (TargetExists policy :
         {TargetExists::kRename, TargetExists::kSkip, TargetExists::kOverwrite}) {
        settings.targetExistsOpt = policy;
        planned.clear();
        std::vector<std::string> plan, run;
        for (const std::string& s : sources) {
            output.clear();
            plan.push_back(Plan(s, "ogg") ? output : message);
        }
        // The run: each output written before the next file is named; then the files it made
        // are removed again for the next policy.
        std::vector<std::string> made;
        for (const std::string& s : sources) {
            if (Prepare(s, "ogg")) {
                std::ofstream(output) << "out";
                made.push_back(output);
                run.push_back(output);
            } else {
                run.push_back(message);
            }
        }
        EXPECT_EQ(plan, run) << "policy " << static_cast<int>(policy);
        for (const std::string& m : made)
            if (m != Path("Output/b.ogg"))
                fs::remove(m);
        std::ofstream(Path("Output/b.ogg")) << "Output/b.ogg";
    }
}

const char kSameMessage[] =
    "Target file name is same as original file that can't be overwritten. Please output files "
    "to a custom folder.";

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureTest,
    testing::Values(FailureCase{"Skip",
                                kSame,
                                "",
                                0,
                                TargetExists::kSkip,
                                {"Music/track01.ogg"},
                                "Music/track01.mp3",
                                "ogg",
                                "Target exists and skipped",
                                false,
                                ""},
                    FailureCase{"SkipSameFormat",
                                kSame,
                                "",
                                0,
                                TargetExists::kSkip,
                                {},
                                "Music/track01.mp3",
                                "mp3",
                                "Target exists and skipped",
                                false,
                                ""},
                    FailureCase{"SkipFolderNamedLikeTarget",
                                kSame,
                                "",
                                0,
                                TargetExists::kSkip,
                                {"Music/track01.ogg/"},
                                "Music/track01.mp3",
                                "ogg",
                                "Target exists and skipped",
                                false,
                                ""},
                    FailureCase{"OverwriteSource",
                                kSame,
                                "",
                                0,
                                TargetExists::kOverwrite,
                                {},
                                "Music/track01.mp3",
                                "mp3",
                                kSameMessage,
                                false,
                                ""},
                    FailureCase{"EmptyFolder",
                                kSpecific,
                                "",
                                0,
                                TargetExists::kRename,
                                {},
                                "Music/track01.mp3",
                                "ogg",
                                "Failed to create folder \"\"",
                                true,
                                "Documents/track01.ogg"},
                    FailureCase{"FolderBelowAFile",
                                kSpecific,
                                "plain/out",
                                0,
                                TargetExists::kRename,
                                {"plain"},
                                "Music/track01.mp3",
                                "ogg",
                                "Failed to create folder \"{tmp}/plain/out\"",
                                true,
                                "Documents/track01.ogg"},
                    FailureCase{"TreeBelowAFile",
                                kSpecific,
                                "Output",
                                1,
                                TargetExists::kRename,
                                {"Output/tmp"},
                                "Music/pop/track01.mp3",
                                "ogg",
                                "Failed to create folder \"{tmp}/Output/{tree}/Music/pop/\"",
                                true,
                                "Documents/{tree}/Music/pop/track01.ogg"},
                    FailureCase{"OverwriteFolderNamedLikeTarget",
                                kSpecific,
                                "Output",
                                0,
                                TargetExists::kOverwrite,
                                {"Output/track01.ogg/"},
                                "Music/track01.mp3",
                                "ogg",
                                "Failed to create file \"{tmp}/Output/track01.ogg\"",
                                true,
                                "Documents/track01.ogg"},
                    FailureCase{"NameTooLong",
                                kSame,
                                "",
                                0,
                                TargetExists::kRename,
                                {},
                                "Music/{long}",
                                "ogg",
                                "Failed to create file \"{tmp}/Music/{long}.ogg\"",
                                true,
                                ""}),
    [](const testing::TestParamInfo<FailureCase>& test) { return test.param.name; });

TEST_F(OutputPathTest, SourceFolderGoneFallsBackWithoutTree) {
    // Same as source with the tree option set: the documents fall-back does not recreate it.
    settings.createDirs = true;
    settings.outputFiles2MyDocuments = false;
    const std::string source = Path("gone/track01.mp3");
    EXPECT_FALSE(Prepare(source, "ogg"));
    EXPECT_EQ(message, "Failed to create file \"" + Path("gone/track01.ogg") + "\"");
    settings.outputFiles2MyDocuments = true;
    ASSERT_TRUE(Prepare(source, "ogg")) << message;
    EXPECT_EQ(output, Path("Documents/track01.ogg"));
}

TEST_F(OutputPathTest, UnusableDocumentsFolderGivesTheLastMessage) {
    MakeFile("plain");
    documents = Path("plain/Documents");
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("plain/out");
    settings.outputFiles2MyDocuments = true;
    EXPECT_FALSE(Prepare(MakeFile("Music/track01.mp3"), "ogg"));
    EXPECT_EQ(message, "Failed to create folder \"" + Path("plain/Documents") + "\"");
}

TEST_F(OutputPathTest, UnknownDocumentsFolderKeepsTheFirstMessage) {
    MakeFile("plain");
    documents = "";
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("plain/out");
    settings.outputFiles2MyDocuments = true;
    EXPECT_FALSE(Prepare(MakeFile("Music/track01.mp3"), "ogg"));
    EXPECT_EQ(message, "Failed to create folder \"" + Path("plain/out") + "\"");
    EXPECT_EQ(output, "untouched");
}

TEST_F(OutputPathTest, OverwriteRemovesADifferentTargetAtOnce) {
    const std::string source = MakeFile("Music/track01.mp3");
    const std::string old = MakeFile("Output/track01.ogg");
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("Output");
    settings.targetExistsOpt = TargetExists::kOverwrite;
    // Claimed for a run: the old file stays until its replacement is under way, so a run
    // cancelled before then leaves it; from then on a failure leaves no file of that name.
    OutputClaim claim;
    ASSERT_TRUE(Prepare(source, "ogg", &claim)) << message;
    EXPECT_EQ(output, old);
    EXPECT_EQ(ReadAll(old), "Output/track01.ogg");
    claim.RemoveReplaced();
    EXPECT_FALSE(FileExists(old));
    claim.Release();
    MakeFile("Output/track01.ogg");
    // Named alone, the old file goes at once.
    ASSERT_TRUE(Prepare(source, "ogg")) << message;
    EXPECT_EQ(output, old);
    EXPECT_FALSE(FileExists(old));
    EXPECT_EQ(ReadAll(source), "Music/track01.mp3");
}

TEST_F(OutputPathTest, NamesDifferingOnlyInCaseAreDifferentFiles) {
    const std::string source = MakeFile("s/TRACK.MP3");
    const std::string other = MakeFile("s/TRACK.mp3");
    settings.targetExistsOpt = TargetExists::kOverwrite;
    ASSERT_TRUE(Prepare(source, "mp3")) << message;
    EXPECT_EQ(output, other);
    EXPECT_FALSE(FileExists(other));
    EXPECT_EQ(ReadAll(source), "s/TRACK.MP3");
}

// Every way the target can name the source file: the source is refused, never removed.
struct SpellingCase {
    const char* name;
    const char* sourceAs;  // how the source is given, below the temporary folder
    const char* folder;    // the specific folder
    const char* link;      // "symlink" or "hardlink": Output/track01.mp3 made as such a link
};

class SourceSpellingTest : public OutputPathTest,
                           public testing::WithParamInterface<SpellingCase> {};

TEST_P(SourceSpellingTest, SourceIsNeverOverwritten) {
    const SpellingCase& c = GetParam();
    const std::string real = MakeFile("Music/pop/track01.mp3");
    fs::create_directory_symlink(Path("Music/pop"), Path("link"));
    fs::create_directories(Path("Output"));
    if (std::string(c.link) == "symlink")
        fs::create_symlink(real, Path("Output/track01.mp3"));
    if (std::string(c.link) == "hardlink")
        fs::create_hard_link(real, Path("Output/track01.mp3"));
    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path(c.folder);
    settings.targetExistsOpt = TargetExists::kOverwrite;
    settings.outputFiles2MyDocuments = true;

    EXPECT_FALSE(Plan(Path(c.sourceAs), "mp3"));
    EXPECT_EQ(message, kSameMessage);
    EXPECT_FALSE(Prepare(Path(c.sourceAs), "mp3"));
    EXPECT_EQ(message, kSameMessage);
    EXPECT_EQ(ReadAll(real), "Music/pop/track01.mp3");
    EXPECT_FALSE(fs::exists(documents));
    if (*c.link) {
        EXPECT_TRUE(FileExists(Path("Output/track01.mp3")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, SourceSpellingTest,
    testing::Values(
        SpellingCase{"ThroughLinkedFolder", "link/track01.mp3", "Music/pop", ""},
        SpellingCase{"FolderThroughLink", "Music/pop/track01.mp3", "link", ""},
        SpellingCase{"DotAndDoubleSlash", "Music/./pop//track01.mp3", "Music//pop/.", ""},
        SpellingCase{"DotDot", "Music/pop/../pop/track01.mp3", "Music/pop/", ""},
        SpellingCase{"TargetIsSymlink", "Music/pop/track01.mp3", "Output", "symlink"},
        SpellingCase{"TargetIsHardLink", "Music/pop/track01.mp3", "Output", "hardlink"}),
    [](const testing::TestParamInfo<SpellingCase>& test) { return test.param.name; });

TEST_F(OutputPathTest, PathThatIsNotUtf8IsRefused) {
    const std::string source = MakeFile("a/bad\xFF.mp3");
    EXPECT_FALSE(Prepare(source, "ogg"));
    EXPECT_EQ(message, "Failed to create file \"" + Path("a/bad\uFFFD.ogg") + "\"");
    EXPECT_FALSE(fs::exists(Path("a/bad\xFF.ogg")));
    EXPECT_EQ(output, "untouched");

    settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    settings.destSpecifiedFolder = Path("out\xFE");
    EXPECT_FALSE(Prepare(MakeFile("a/good.mp3"), "ogg"));
    EXPECT_EQ(message, "Failed to create folder \"" + Path("out\uFFFD") + "\"");
    EXPECT_FALSE(fs::exists(Path("out\xFE")));
}

}  // namespace
}  // namespace kestrune
