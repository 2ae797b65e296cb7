// The main window as built: every control against the layout, the start-up sequence
// with and without engines, the read-me, the version block and the error display.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <map>

#include "WindowFixture.h"
#include "platform/Apartment.h"
#include "support/qt/DesktopSeams.h"
#include "support/Errors.h"
#include "support/qt/urllabel.h"

namespace {

const QString kProductTitle = QStringLiteral(PARLEN_MAKER_SITE " - Parlen Maker");

// The window's layout at 96 dpi, written out here on its own: parent, left, top,
// width, height (0: a label that fits its caption), caption, tab index (-1: none),
// shown, enabled.
struct Row {
    const char* name;
    const char* parent;
    int left, top, width, height;
    const char* caption;
    int tab;
    bool shown;
    bool enabled;
};
const Row kLayout[] = {
    {"pcMain", "FormMain", 8, 8, 673, 433, "", 0, true, true},
    {"gbHelpInfo", "tsMainHelp", 8, 8, 161, 385, "Info", 0, true, true},
    {"tpUrlUpdate", "gbHelpInfo", 8, 24, 0, 0, "Update...", -1, true, true},
    {"gbHelpReadme", "tsMainHelp", 176, 8, 481, 385, "Readme", 1, true, true},
    {"mmHelpReadme", "gbHelpReadme", 8, 16, 465, 361, "", 0, true, true},
    {"gbEditText", "tsMainEdit", 8, 8, 393, 385, "Text", 0, true, true},
    {"mmEditText", "gbEditText", 8, 16, 377, 329, "", 0, true, true},
    {"btTextClear", "gbEditText", 8, 352, 75, 25, "Clear", 1, true, true},
    {"btTextLoad", "gbEditText", 88, 352, 75, 25, "Load...", 2, true, true},
    {"btTextSave", "gbEditText", 168, 352, 75, 25, "Save...", 3, true, true},
    {"gbEditVoice", "tsMainEdit", 408, 8, 249, 225, "Voice", 1, true, true},
    {"cbVoiceEngines", "gbEditVoice", 8, 16, 233, 21, "", 0, true, true},
    {"lbVoicePitch", "gbEditVoice", 8, 48, 0, 0, "Pitch", -1, true, true},
    {"lbVoiceSpeed", "gbEditVoice", 88, 48, 0, 0, "Speed", -1, true, true},
    {"lbVoiceVolume", "gbEditVoice", 168, 48, 0, 0, "Volume", -1, true, true},
    {"tbVoicePitch", "gbEditVoice", 8, 64, 33, 97, "", 1, true, true},
    {"tbVoiceSpeed", "gbEditVoice", 88, 64, 33, 97, "", 2, true, true},
    {"tbVoiceVolume", "gbEditVoice", 168, 64, 33, 97, "", 3, true, true},
    {"lbPitchMin", "gbEditVoice", 40, 68, 0, 0, "0", -1, true, true},
    {"lbPitchPos", "gbEditVoice", 40, 104, 0, 0, "???", -1, true, true},
    {"lbPitchMax", "gbEditVoice", 40, 144, 0, 0, "100", -1, true, true},
    {"lbSpeedMin", "gbEditVoice", 120, 68, 0, 0, "0", -1, true, true},
    {"lbSpeedPos", "gbEditVoice", 120, 104, 0, 0, "???", -1, true, true},
    {"lbSpeedMax", "gbEditVoice", 120, 144, 0, 0, "100", -1, true, true},
    {"lbVolumeMin", "gbEditVoice", 200, 68, 0, 0, "0", -1, true, true},
    {"lbVolumePos", "gbEditVoice", 200, 104, 0, 0, "???", -1, true, true},
    {"lbVolumeMax", "gbEditVoice", 200, 144, 0, 0, "100", -1, true, true},
    {"btVoiceTest", "gbEditVoice", 8, 192, 75, 25, "Test", 4, true, true},
    {"btVoiceLoad", "gbEditVoice", 88, 192, 75, 25, "Load...", 5, true, true},
    {"btVoiceSave", "gbEditVoice", 168, 192, 75, 25, "Save...", 6, true, true},
    {"btVoiceLexicon", "gbEditVoice", 168, 164, 75, 25, "Lexicon...", 7, true, true},
    {"gbEditConverter", "tsMainEdit", 408, 248, 249, 145, "Converter", 2, true, true},
    {"pbConverter", "gbEditConverter", 8, 16, 233, 17, "", 0, false, true},
    {"lbConverterPos", "gbEditConverter", 8, 40, 0, 0, "0 / 0", -1, false, true},
    {"btConverterSpeak", "gbEditConverter", 8, 112, 75, 25, "Speak", 1, true, true},
    {"btConverterPause", "gbEditConverter", 8, 112, 75, 25, "Pause", 2, true, true},
    {"btConverterStop", "gbEditConverter", 88, 112, 75, 25, "Stop", 3, true, false},
    {"btConverterSave", "gbEditConverter", 168, 112, 75, 25, "Save...", 4, true, true},
    {"btConverterCancel", "gbEditConverter", 168, 112, 75, 25, "Cancel", 5, true, true},
    {"sbMain", "FormMain", 0, 447, 688, 19, "", -1, true, true},
};

QString CaptionOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
    if (auto* s = qobject_cast<QStatusBar*>(w)) return s->currentMessage();
    return {};
}

class Window : public WindowFixture {
  protected:
    // Builds and shows the window without the start-up sequence's engine phrase
    // mattering; start-up itself is checked below.
    void Create() { form = std::make_unique<TFormMain>(); }
    void Show() {
        form->show();
        WaitFor(nullptr, 30);
    }
    void CreateWithBlock() {
        Create();
        form->tpVersionInfo->SetFileName(ProgramPath());
    }
    template <class T = QWidget>
    T* Find(const char* name) {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
};

TEST_F(Window, EveryControlSitsWhereTheLayoutPutsIt) {
    service.modes.clear();  // no engine: nothing changes the controls at start-up
    CreateWithBlock();
    for (const Row& row : kLayout) {
        SCOPED_TRACE(row.name);
        QWidget* w = Find(row.name);
        ASSERT_NE(nullptr, w);
        ASSERT_NE(nullptr, w->parentWidget());
        EXPECT_EQ(QString::fromLatin1(row.parent), w->parentWidget()->objectName());
        EXPECT_EQ(QPoint(row.left, row.top), w->pos());
        if (row.width > 0) {
            EXPECT_EQ(QSize(row.width, row.height), w->size());
        } else {
            // Labels fit their caption from their left and top edge.
            EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(CaptionOf(w)));
            EXPECT_GE(w->height(), w->fontMetrics().height());
        }
        EXPECT_EQ(QString::fromLatin1(row.caption), CaptionOf(w));
        EXPECT_EQ(row.shown, !w->isHidden());
        EXPECT_EQ(row.enabled, w->isEnabled());
    }
}

TEST_F(Window, PagesWindowAndControlSettings) {
    CreateWithBlock();
    Show();
    EXPECT_EQ(QSize(688, 466), form->size());
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    const QPoint centre = form->screen()->availableGeometry().center();
    EXPECT_LE((form->frameGeometry().center() - centre).manhattanLength(), 2);

    auto* pages = Find<QTabWidget>("pcMain");
    ASSERT_EQ(2, pages->count());
    EXPECT_EQ(Find("tsMainHelp"), pages->widget(0));
    EXPECT_EQ(Find("tsMainEdit"), pages->widget(1));
    EXPECT_EQ("Help", pages->tabText(0));
    EXPECT_EQ("Edit", pages->tabText(1));
    EXPECT_EQ(0, pages->currentIndex());

    auto* readme = Find<QPlainTextEdit>("mmHelpReadme");
    EXPECT_TRUE(readme->isReadOnly());
    EXPECT_EQ(QPlainTextEdit::NoWrap, readme->lineWrapMode());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, readme->horizontalScrollBarPolicy());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, readme->verticalScrollBarPolicy());
    auto* text = Find<QPlainTextEdit>("mmEditText");
    EXPECT_FALSE(text->isReadOnly());
    EXPECT_EQ(QPlainTextEdit::WidgetWidth, text->lineWrapMode());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, text->verticalScrollBarPolicy());
    EXPECT_TRUE(text->tabChangesFocus());
    EXPECT_FALSE(Find<QComboBox>("cbVoiceEngines")->isEditable());

    const struct {
        const char* name;
        int step;
    } bars[] = {{"tbVoicePitch", 12}, {"tbVoiceSpeed", 20}, {"tbVoiceVolume", 1}};
    for (const auto& b : bars) {
        SCOPED_TRACE(b.name);
        auto* bar = Find<QSlider>(b.name);
        EXPECT_EQ(Qt::Vertical, bar->orientation());
        EXPECT_TRUE(bar->invertedAppearance());  // minimum at the top
        EXPECT_TRUE(bar->invertedControls());
        EXPECT_EQ(QSlider::TicksRight, bar->tickPosition());
        EXPECT_EQ(2, bar->pageStep());
        EXPECT_EQ(b.step, bar->singleStep());
        EXPECT_EQ(bar->maximum() - bar->minimum(), bar->tickInterval());  // both ends only
        EXPECT_TRUE(bar->focusPolicy() & Qt::TabFocus);
    }
    auto* link = Find<QLabel>("tpUrlUpdate");
    EXPECT_TRUE(link->font().bold());
    EXPECT_TRUE(link->font().underline());
}

TEST_F(Window, BarsAreZeroToTenUntilAnEngineIsApplied) {
    service.modes.clear();
    CreateWithBlock();
    Show();
    for (const char* name : {"tbVoicePitch", "tbVoiceSpeed", "tbVoiceVolume"}) {
        auto* bar = Find<QSlider>(name);
        EXPECT_EQ(0, bar->minimum()) << name;
        EXPECT_EQ(10, bar->maximum()) << name;
        EXPECT_EQ(0, bar->value()) << name;
    }
}

TEST_F(Window, TabOrderCountsWithinEachParent) {
    CreateWithBlock();
    Show();
    // The focus chain, in order, from the window round to itself.
    std::vector<QWidget*> chain;
    for (QWidget* w = form->nextInFocusChain(); w != form.get(); w = w->nextInFocusChain())
        chain.push_back(w);
    std::map<QString, std::vector<std::pair<int, QString>>> expected;
    for (const Row& row : kLayout)
        if (row.tab >= 0) expected[row.parent].push_back({row.tab, row.name});
    for (auto& [parent, rows] : expected) {
        SCOPED_TRACE(parent.toStdString());
        std::sort(rows.begin(), rows.end());
        QStringList want, got;
        for (auto& r : rows) want << r.second;
        for (QWidget* w : chain)
            if (w->parentWidget() && w->parentWidget()->objectName() == parent &&
                want.contains(w->objectName()))
                got << w->objectName();
        EXPECT_EQ(want, got);
    }
}

TEST_F(Window, SharedPlacesShowSpeakAndSaveOnTop) {
    service.FailAt("Enum.Select", E_FAIL, 0);  // no speech event will come
    CreateWithBlock();
    Show();
    auto* group = Find("gbEditConverter");
    EXPECT_EQ(Find("btConverterSpeak"), group->childAt(QPoint(8 + 37, 112 + 12)));
    EXPECT_EQ(Find("btConverterSave"), group->childAt(QPoint(168 + 37, 112 + 12)));
    EXPECT_FALSE(Find("btConverterPause")->isHidden());
    EXPECT_FALSE(Find("btConverterCancel")->isHidden());
}

TEST_F(Window, StartUpTakesTheCaptionFromTheVersionBlockAndSpeaksTheFirstEngine) {
    CreateWithBlock();
    Show();
    const QString caption = kProductTitle + " 2004.05";
    EXPECT_EQ(caption, form->windowTitle());
    EXPECT_EQ(caption, QGuiApplication::applicationDisplayName());
    auto* engines = Find<QComboBox>("cbVoiceEngines");
    ASSERT_EQ(2, engines->count());
    EXPECT_EQ("Fake Alpha", engines->itemText(0));
    EXPECT_EQ("Fake Beta", engines->itemText(1));
    EXPECT_EQ(0, engines->currentIndex());
    EXPECT_TRUE(form->fwMSpeech->Selected());
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
    // "1 2 3" handed over once, with its line break.
    EXPECT_EQ(1u, SpokenTexts().size());
    EXPECT_EQ(1, TestPhrases());
    EXPECT_EQ(0, ui.beeps);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(Find("tsMainHelp"), Find<QTabWidget>("pcMain")->currentWidget());
    EXPECT_EQ(soGeneral, form->fwMSpeech->Output());
    EXPECT_EQ(soFile, form->fwMSpeechSave->Output());
    EXPECT_EQ("Garrow Speech 1.1.0", form->fwMSpeech->Version());
    EXPECT_EQ("Garrow Speech 1.1.0", form->fwMSpeechSave->Version());
}

TEST_F(Window, StartUpWithoutEnginesLocksVoiceAndConverter) {
    service.modes.clear();
    CreateWithBlock();
    Show();
    EXPECT_EQ("Init failed: No Text-to-Speech Engine found. Please read Help!!",
              Find<QStatusBar>("sbMain")->currentMessage());
    EXPECT_EQ(1, ui.beeps);
    EXPECT_TRUE(ui.boxes.empty());
    for (const char* name : {"gbEditVoice", "gbEditConverter", "cbVoiceEngines", "tbVoicePitch",
                             "btVoiceTest", "btConverterSpeak", "btConverterSave"})
        EXPECT_FALSE(Find(name)->isEnabled()) << name;
    for (const char* name : {"gbEditText", "mmEditText", "btTextLoad", "btTextSave", "btTextClear"})
        EXPECT_TRUE(Find(name)->isEnabled()) << name;
    EXPECT_EQ(0, Find<QComboBox>("cbVoiceEngines")->count());
    EXPECT_EQ(0, Find<QTabWidget>("pcMain")->currentIndex());

    // The text group still loads and saves.
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/in.txt", "one\r\ntwo");
    ui.answers = {dir + "/in.txt", dir + "/out.txt"};
    Find<QPushButton>("btTextLoad")->click();
    EXPECT_EQ("one\ntwo", Find<QPlainTextEdit>("mmEditText")->toPlainText());
    Find<QPushButton>("btTextSave")->click();
    EXPECT_EQ("one\r\ntwo", ReadFileBytes(dir + "/out.txt"));
}

// Puts the program folder's read-me back as it was (the tests share the folder with
// the program).
class ReadmeKeeper {
  public:
    explicit ReadmeKeeper(QString path) : path_(std::move(path)), had_(QFile::exists(path_)) {
        if (had_) saved_ = ReadFileBytes(path_);
    }
    ~ReadmeKeeper() {
        QFile::remove(path_);
        if (had_) WriteFileBytes(path_, saved_);
    }

  private:
    QString path_;
    bool had_;
    std::string saved_;
};

TEST_F(Window, ReadmeComesFromTheProgramFolderWhenPresent) {
    const QString path = TFormMain::ReadmePath();
    EXPECT_EQ(QDir(QCoreApplication::applicationDirPath()).filePath("readme.txt"), path);
    ReadmeKeeper keep(path);
    QFile::remove(path);
    CreateWithBlock();
    Show();
    EXPECT_EQ("", Find<QPlainTextEdit>("mmHelpReadme")->toPlainText());
    EXPECT_TRUE(ui.boxes.empty());
    form.reset();

    WriteFileBytes(path, "Read me\nsecond line\r\n");
    // Started from another working directory, the folder is still the program's.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    CreateWithBlock();
    Show();
    QDir::setCurrent(cwd);
    EXPECT_EQ("Read me\nsecond line\n", Find<QPlainTextEdit>("mmHelpReadme")->toPlainText());
    EXPECT_TRUE(ui.boxes.empty());
}

// Started through a link in another folder, the program still reads the read-me
// beside its real executable. The test runs itself again through such a link.
TEST(ReadmePath, FollowsALinkToTheProgram) {
    if (qEnvironmentVariableIsSet("PARLEN_PRINT_README_PATH")) {
        std::printf("readme=%s\n", TFormMain::ReadmePath().toLocal8Bit().constData());
        return;
    }
    const QString link = ScratchDir() + "/linked-program";
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), link));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PARLEN_PRINT_README_PATH", "1");
    child.setProcessEnvironment(env);
    child.start(link, {"--gtest_filter=ReadmePath.FollowsALinkToTheProgram"});
    ASSERT_TRUE(child.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    const QString expected =
        "readme=" + QDir(QCoreApplication::applicationDirPath()).filePath("readme.txt");
    EXPECT_TRUE(out.contains(expected)) << out.toStdString();
}

TEST_F(Window, MissingVersionBlockShowsTheReadersErrorAndStopsTheStartUp) {
    Create();
    form->tpVersionInfo->SetFileName(QCoreApplication::applicationFilePath().toStdString());
    Show();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ(kProductTitle, ui.boxes[0].title);
    EXPECT_EQ("File does not contain version info.", ui.boxes[0].text);
    EXPECT_EQ(kProductTitle, form->windowTitle());
    EXPECT_EQ(kProductTitle, QGuiApplication::applicationDisplayName());
    EXPECT_EQ(0, Find<QComboBox>("cbVoiceEngines")->count());
    EXPECT_TRUE(SpokenTexts().empty());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Window, ErrorsOfHandlersReachTheBoxWithTheCurrentTitle) {
    // The first engine cannot be attached: nothing is shown at start-up.
    service.FailAt("Enum.Select", E_FAIL, 0);
    CreateWithBlock();
    Show();
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(form->fwMSpeech->Selected());
    EXPECT_TRUE(Find("gbEditVoice")->isEnabled());
    EXPECT_EQ(2, Find<QComboBox>("cbVoiceEngines")->count());

    Find<QPushButton>("btVoiceTest")->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Speech Engine not selected.", ui.boxes[0].text);
    EXPECT_EQ(kProductTitle + " 2004.05", ui.boxes[0].title);
    ASSERT_EQ(1, form->fwMSpeech->Text().LineCount());
    EXPECT_EQ("1 2 3", form->fwMSpeech->Text().LineAt(0));

    const QString missing = ScratchDir() + "/none.txt";
    ui.answers = {missing};
    Find<QPushButton>("btTextLoad")->click();
    ASSERT_EQ(2u, ui.boxes.size());
    EXPECT_EQ("Cannot open file " + missing + ".", ui.boxes[1].text);
}

TEST_F(Window, ErrorsOfNotificationsReachTheBox) {
    CreateWithBlock();
    Show();
    ASSERT_TRUE(form->fwMSpeech->Selected());
    form->fwMSpeech->OnStart = [](void*) { throw EMSpeechException("Audio went away!"); };
    FakeCentral* central = LastCentral();
    ASSERT_NE(nullptr, central);
    ASSERT_TRUE(Apartment::Post([central] { central->FireAudioStart(); }));
    ASSERT_TRUE(Apartment::Post([] { throw EOleSysError("Catastrophic failure", -1); }));
    WaitFor([&] { return ui.boxes.size() >= 2; }, 2000);
    ASSERT_EQ(2u, ui.boxes.size());
    EXPECT_EQ("Audio went away!", ui.boxes[0].text);  // ends below ".": nothing added
    EXPECT_EQ("Catastrophic failure.", ui.boxes[1].text);
    EXPECT_EQ(kProductTitle + " 2004.05", ui.boxes[1].title);
}

TEST_F(Window, ScreenshotsOfBothPages) {
    CreateWithBlock();
    Show();
    const QString dir = QString::fromLocal8Bit(qgetenv("PARLEN_BIN_DIR")) + "/../screenshots";
    QDir().mkpath(dir);
    auto* pages = Find<QTabWidget>("pcMain");
    pages->setCurrentIndex(0);
    QImage help = form->grab().toImage();
    pages->setCurrentIndex(1);
    QImage edit = form->grab().toImage();
    EXPECT_EQ(QSize(688, 466), help.size() / help.devicePixelRatio());
    EXPECT_NE(help, edit);
    EXPECT_TRUE(help.save(dir + "/help-page.png"));
    EXPECT_TRUE(edit.save(dir + "/edit-page.png"));
}

TEST(ErrorBox, AFullStopIsAddedAfterCharactersAboveIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Cannot open file a.txt", "Cannot open file a.txt."},
        {"Done.", "Done."},
        {"Really!", "Really!"},          // '!' lies below '.'
        {"(see above)", "(see above)"},  // so does ')'
        {"ends in a blank ", "ends in a blank "},
        {"Ends in a slash/", "Ends in a slash/."},  // '/' lies just above
        {"Version 2", "Version 2."},
        {"caf\xc3\xa9", "caf\xc3\xa9."},  // a byte above 127 counts as above
    };
    for (const auto& [message, shown] : cases) EXPECT_EQ(shown, ErrorBoxText(message)) << message;
}

// The Help page's link as the window sets it up: blue, lit red under the pointer, blue
// again soon after the pointer leaves, opening the update page, beeping when it cannot.
TEST_F(Window, UpdateLinkLightsUpOpensTheUpdatePageAndBeepsWhenItCannot) {
    CreateWithBlock();
    Show();
    auto* link = Find<TUrlLabel>("tpUrlUpdate");
    ASSERT_NE(nullptr, link);
    ASSERT_TRUE(link->isVisible());
    EXPECT_EQ(PARLEN_UPDATE_URL, link->URL());
    EXPECT_EQ(clBlue, link->FontColor());
    EXPECT_EQ(Qt::PointingHandCursor, link->cursor().shape());

    QPoint pointer;
    std::vector<QString> opened;
    bool openWorks = true;
    SetPointerPositionHook([&] { return pointer; });
    SetOpenUrlHook([&](const QString& url) {
        opened.push_back(url);
        return openWorks;
    });
    auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPoint local(5, 5);
        pointer = link->mapToGlobal(local);
        QMouseEvent event(type, QPointF(local), QPointF(pointer), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(link, &event);
    };
    auto click = [&] {
        send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    };

    send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(clRed, link->FontColor());
    pointer = link->mapToGlobal(QPoint(-40, -40));
    EXPECT_TRUE(WaitFor([&] { return link->FontColor() == clBlue; }, 2000));

    click();
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(PARLEN_UPDATE_URL, opened[0]);
    WaitFor(nullptr, 30);
    EXPECT_EQ(0, ui.beeps);

    openWorks = false;
    click();
    EXPECT_TRUE(WaitFor([&] { return ui.beeps == 1; }, 2000));
    EXPECT_EQ(2u, opened.size());
    EXPECT_TRUE(ui.boxes.empty()) << "a failed open only beeps";
    pointer = link->mapToGlobal(QPoint(-40, -40));
    EXPECT_TRUE(WaitFor([&] { return link->FontColor() == clBlue; }, 2000))
        << "and the link returns to its colour";
    SetPointerPositionHook({});
    SetOpenUrlHook({});
}

}  // namespace
