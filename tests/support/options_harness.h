#pragma once
// Drives the Options sheet in-process on the offscreen platform: a QApplication with HOME and
// the configuration folder in a temporary folder, stand-ins for message boxes, dialogs, the
// desktop and the Windows Media runtime, and a store in a temporary file.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "desktop/prompter.h"
#include "settings/ini_settings_store.h"
#include "settings/options/opt_page.h"
#include "settings/options/opt_sheet.h"
#include "settings/options/wma_format_source.h"
#include "settings/settings_persistence.h"
#include "tests/support/test_support.h"

// Texts in failure messages as text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace kestrune::test {

using namespace Qt::StringLiterals;

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<TempDir>();
        setenv("HOME", home_->path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", home_->File("config").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "options_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        home_.reset();
    }

private:
    std::unique_ptr<TempDir> home_;
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Message boxes: recorded, answered with `answer` when it is one of the buttons offered.
class FakePrompter : public Prompter {
public:
    struct Shown {
        QString text;
        Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    QMessageBox::StandardButton Show(QWidget*, const QString& text, Icon icon,
                                     QMessageBox::StandardButtons buttons) override {
        shown.push_back({text, icon, buttons});
        return buttons.testFlag(answer) ? answer : QMessageBox::Ok;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown)
            texts << s.text;
        return texts;
    }
    // The text of the last box, and forgets them all.
    QString TakeLast() {
        const QString last = shown.empty() ? QString() : shown.back().text;
        shown.clear();
        return last;
    }
    std::vector<Shown> shown;
    QMessageBox::StandardButton answer = QMessageBox::No;
};

class FakeDialogs : public FileDialogs {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString&, const QStringList&) override {
        return {};
    }
    QString SaveFile(QWidget*, const QString&, const QString&, const QStringList&) override {
        return {};
    }
    QString ChooseFolder(QWidget*, const QString& caption, const QString& folder) override {
        captions << caption;
        folders << folder;
        return chosenFolder;
    }
    QString chosenFolder;
    QStringList captions, folders;
};

class FakeDesktop : public Desktop {
public:
    bool OpenUrl(const QUrl& url) override {
        opened << url;
        return true;
    }
    bool ShowInFileManager(const QString&) override { return true; }
    QList<QUrl> opened;
};

// A runtime that loads or not, with a list of (rate, bit rate, channels) formats.
class FakeWmaSource : public WmaFormatSource {
public:
    bool RuntimeLoaded() const override { return loaded; }
    bool LoadRuntime() override {
        ++loadCalls;
        loaded = loadable;
        return loaded;
    }
    void BuildFormatList() override {
        ++buildCalls;
        list.clear();
        for (const auto& [rate, bitRate, channels] : formats) {
            WmaCodecFormat f;
            f.mediaType.waveFormat.samplesPerSec = static_cast<uint32_t>(rate);
            f.mediaType.waveFormat.channels = static_cast<uint16_t>(channels);
            f.bitRate = bitRate;
            list.push_back(f);
        }
    }
    const WmaCodecList& FormatList() const override { return list; }

    bool loaded = false;
    bool loadable = true;
    int loadCalls = 0;
    int buildCalls = 0;
    std::vector<std::tuple<int, int, int>> formats;
    WmaCodecList list;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Everything ShowOptions is given, over a store in a temporary folder.
struct OptionsHarness {
    OptionsHarness() : iniPath(dir.File("kestrune.ini")) { Reload(); }

    // A fresh model read from the store, as the program has it after starting.
    void Reload() {
        store = std::make_unique<IniSettingsStore>(iniPath);
        settings = ConvertSettings{};
        tags = TagOptions{};
        catalogue.clear();
        BuildOutputCatalogue(catalogue);
        ApplyDocumentsFolderDefaults(settings, dir.File("docs"));
        LoadSettings(*store, settings, tags, catalogue);
    }

    // Shows the sheet and runs script on it inside its modal loop; a sheet the script leaves
    // open is cancelled. Returns what ShowOptions returns.
    bool Show(const std::function<void(COptSheet&)>& script) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            COptSheet* sheet = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<COptSheet*>(w); s && s->isVisible())
                    sheet = s;
            if (!sheet) {
                ADD_FAILURE() << "the Options sheet is not showing";
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* d = qobject_cast<QDialog*>(w))
                        d->reject();
                return;
            }
            ran = true;
            script(*sheet);
            if (sheet->isVisible())
                sheet->reject();
        });
        const bool confirmed =
            ShowOptions(nullptr, settings, tags, catalogue, *store,
                        windowsMedia ? *windowsMedia : wma, prompter, dialogs, desktop);
        EXPECT_TRUE(ran);
        return confirmed;
    }

    OutputFormatEntry& Format(FormatId id) { return *FindOutputFormat(catalogue, id); }

    TempDir dir;
    std::string iniPath;
    std::unique_ptr<IniSettingsStore> store;
    ConvertSettings settings;
    TagOptions tags;
    OutputCatalogue catalogue;
    FakePrompter prompter;
    FakeDialogs dialogs;
    FakeDesktop desktop;
    FakeWmaSource wma;
    WmaFormatSource* windowsMedia = nullptr;  // another runtime in place of wma
};

// The sheet's page list.
inline QListWidget* Titles(COptSheet& sheet) {
    return sheet.findChild<QListWidget*>(u"pages"_s);
}

inline QStringList TitleTexts(COptSheet& sheet) {
    QStringList texts;
    QListWidget* list = Titles(sheet);
    for (int i = 0; list && i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// Picks a page in the list by its title, as a user would; returns the page now active.
inline COptPage* Go(COptSheet& sheet, QStringView title) {
    QListWidget* list = Titles(sheet);
    const QList<QListWidgetItem*> found = list->findItems(title.toString(), Qt::MatchExactly);
    EXPECT_EQ(found.size(), 1) << title.toString().toStdString();
    if (!found.isEmpty())
        list->setCurrentItem(found.first());
    return sheet.ActivePage();
}

// The control of type W with that object name on a page.
template <class W>
W* Control(QWidget* page, QStringView name) {
    W* w = page->findChild<W*>(name.toString());
    if (!w)
        ADD_FAILURE() << "no control named \"" << name.toString().toStdString() << "\"";
    return w;
}

inline QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// Chooses the item with that text as a user would.
inline void Choose(QComboBox* list, QStringView text) {
    const int index = list->findText(text.toString());
    ASSERT_GE(index, 0) << text.toString().toStdString();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

inline void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    button->click();
}

// A message box shown, the sheet still open on the same page, and the focus on control.
inline void ExpectRefused(COptSheet& sheet, FakePrompter& prompter, QStringView message, int page,
                          QWidget* control) {
    ASSERT_FALSE(prompter.shown.empty()) << "expected " << message.toString().toStdString();
    EXPECT_EQ(prompter.shown.back().text, message.toString());
    EXPECT_EQ(prompter.shown.back().icon, Prompter::Icon::Warning);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.ActivePageIndex(), page);
    EXPECT_EQ(Titles(sheet)->currentRow(), page);
    EXPECT_EQ(sheet.focusWidget(), control);
    prompter.shown.clear();
}

}  // namespace kestrune::test
