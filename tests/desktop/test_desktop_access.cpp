// The window for a screen-reader user: every control reached through Qt's
// accessibility interfaces has a name (and the window's own controls a description),
// and the converter, the voice panel and its settings files work from the keyboard.
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <map>
#include <set>

#include "ModalDriver.h"
#include "WindowFixture.h"
#include "app/LexiconDialog.h"
#include "lexicon/Store.h"
#include "support/qt/urllabel.h"

namespace {

// The window's controls on each page, as laid out.
const std::vector<const char*> kHelpControls = {"gbHelpInfo", "tpUrlUpdate", "gbHelpReadme",
                                                "mmHelpReadme"};
const std::vector<const char*> kEditControls = {
    "gbEditText",       "mmEditText",       "btTextClear",     "btTextLoad",
    "btTextSave",       "gbEditVoice",      "cbVoiceEngines",  "lbVoicePitch",
    "lbVoiceSpeed",     "lbVoiceVolume",    "tbVoicePitch",    "tbVoiceSpeed",
    "tbVoiceVolume",    "lbPitchMin",       "lbPitchPos",      "lbPitchMax",
    "lbSpeedMin",       "lbSpeedPos",       "lbSpeedMax",      "lbVolumeMin",
    "lbVolumePos",      "lbVolumeMax",      "btVoiceTest",     "btVoiceLoad",
    "btVoiceSave",      "btVoiceLexicon",   "gbEditConverter", "pbConverter",
    "lbConverterPos",
    "btConverterSpeak", "btConverterPause", "btConverterStop", "btConverterSave",
    "btConverterCancel"};

class Access : public WindowFixture {
  protected:
    void SetUp() override {
        FakeMode wide = NamedMode("Fake Wide");
        wide.pitchMin = 20;
        wide.pitchMax = 300;
        wide.speedMin = 40;
        wide.speedMax = 600;
        service.modes = {NamedMode("Fake Alpha"), wide};
        WindowFixture::SetUp();
        Start();
        speaker = LastCentral();
        ASSERT_NE(nullptr, speaker);
        speaker->FireAudioStart();  // the start-up phrase runs through to idle
        speaker->FireAudioStop();
    }

    QWidget* Control(const char* name) const {
        return form->findChild<QWidget*>(QString::fromLatin1(name));
    }
    static QString Name(QObject* object) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
        return a ? a->text(QAccessible::Name) : QString();
    }
    static QString Description(QObject* object) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
        return a ? a->text(QAccessible::Description) : QString();
    }

    // Every interface below the window, as a screen reader walks it.
    static void Walk(QAccessibleInterface* node, std::vector<QAccessibleInterface*>& out,
                     int depth = 0) {
        ASSERT_LT(depth, 30) << "the tree does not end";
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            if (!child) continue;
            out.push_back(child);
            Walk(child, out, depth + 1);
        }
    }
    std::vector<QAccessibleInterface*> Tree() const {
        std::vector<QAccessibleInterface*> all;
        Walk(QAccessible::queryAccessibleInterface(form.get()), all);
        return all;
    }

    // The widget that has the keyboard focus.
    static QWidget* Focus() { return QApplication::focusWidget(); }
    static void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        ASSERT_NE(nullptr, Focus());
        QTest::keyClick(Focus(), key, mods);
        WaitFor(nullptr, 5);
    }
    // Tabs forward until the control has the focus; false when it never comes.
    static bool TabTo(QWidget* target) {
        for (int presses = 0; presses < 40; ++presses) {
            if (Focus() == target) return true;
            if (!Focus()) return false;
            QTest::keyClick(Focus(), Qt::Key_Tab);
            WaitFor(nullptr, 5);
        }
        return Focus() == target;
    }
    // Tabs to the button and presses it with the space bar.
    static void Operate(QWidget* button) {
        ASSERT_TRUE(TabTo(button)) << button->objectName().toStdString() << " not reachable";
        Press(Qt::Key_Space);
    }
    // From wherever the focus is to the Edit page, by keyboard.
    void KeyToEditPage() {
        if (!Focus()) form->pcMain->tabBar()->setFocus(Qt::TabFocusReason);
        if (form->pcMain->currentWidget() != form->tsMainEdit)
            Press(Qt::Key_Tab, Qt::ControlModifier);
        ASSERT_EQ(form->tsMainEdit, form->pcMain->currentWidget());
    }

    // How often the pitch tag went to the engine.
    size_t PitchTags(int pitch) const {
        return Logged("Inject(\\Pit=" + std::to_string(pitch) + "\\)").size();
    }

    FakeCentral* speaker = nullptr;
};

TEST_F(Access, EveryControlOfBothPagesIsNamedInTheTree) {
    for (const auto* page : {&kHelpControls, &kEditControls}) {
        form->pcMain->setCurrentIndex(page == &kHelpControls ? 0 : 1);
        WaitFor(nullptr, 10);
        std::set<QObject*> inTree;
        for (QAccessibleInterface* a : Tree()) {
            inTree.insert(a->object());
            // Whatever the reader reaches says what it is, the toolkit's own parts too.
            // Containers without a role of their own are passed through.
            if (a->state().invisible || a->role() == QAccessible::Client ||
                a->role() == QAccessible::LayeredPane)
                continue;
            EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
                << "unnamed " << a->role() << " "
                << (a->object() ? a->object()->objectName().toStdString() : "?");
        }
        for (const char* name : *page) {
            SCOPED_TRACE(name);
            QWidget* w = Control(name);
            ASSERT_NE(nullptr, w);
            EXPECT_FALSE(Name(w).trimmed().isEmpty());
            EXPECT_FALSE(Description(w).trimmed().isEmpty());
            // Shown controls are reachable from the window; hidden ones come with their state.
            if (w->isVisible()) {
                EXPECT_TRUE(inTree.count(w));
            }
        }
    }
    for (QWidget* w : {static_cast<QWidget*>(form->pcMain), static_cast<QWidget*>(form->sbMain)})
        EXPECT_FALSE(Name(w).isEmpty()) << w->objectName().toStdString();
    // The pages' tabs carry their captions.
    QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(form->pcMain->tabBar());
    ASSERT_NE(nullptr, tabs);
    QStringList tabNames;
    for (int i = 0; i < tabs->childCount(); ++i)
        if (tabs->child(i)->role() == QAccessible::PageTab)
            tabNames << tabs->child(i)->text(QAccessible::Name);
    EXPECT_EQ((QStringList{"Help", "Edit"}), tabNames);
}

TEST_F(Access, ButtonsThatShareACaptionAreToldApart) {
    // Three "Save..." and two "Load..." on one page: the reader must say which is which.
    std::map<QString, QString> names;
    for (QPushButton* b : form->tsMainEdit->findChildren<QPushButton*>()) {
        const QString name = Name(b);
        EXPECT_TRUE(name.startsWith(b->text().remove("..."))) << name.toStdString();
        EXPECT_TRUE(names.emplace(name, b->objectName()).second)
            << name.toStdString() << " names both " << names[name].toStdString() << " and "
            << b->objectName().toStdString();
    }
    EXPECT_EQ(12u, names.size());
    // The paired buttons say what they do and which one takes their place.
    EXPECT_TRUE(Description(form->btConverterSpeak).contains("Pause"));
    EXPECT_TRUE(Description(form->btConverterPause).contains("Speak"));
    EXPECT_TRUE(Description(form->btConverterSave).contains("Cancel"));
    EXPECT_TRUE(Description(form->btConverterSave).contains("WAV"));
}

TEST_F(Access, TrackBarsTellWhatTheySetAndTheirRangeAsTheEngineChanges) {
    struct Bar {
        QSlider* bar;
        const char* what;
    };
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        for (const Bar& b : {Bar{form->tbVoicePitch, "pitch"}, Bar{form->tbVoiceSpeed, "speed"},
                             Bar{form->tbVoiceVolume, "volume"}}) {
            const QString description = Description(b.bar);
            EXPECT_TRUE(description.contains(b.what)) << description.toStdString();
            EXPECT_TRUE(description.contains(QString("from %1 at the top to %2 at the bottom")
                                                 .arg(b.bar->minimum())
                                                 .arg(b.bar->maximum())))
                << description.toStdString();
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b.bar);
            ASSERT_NE(nullptr, a->valueInterface());
            EXPECT_EQ(b.bar->value(), a->valueInterface()->currentValue().toInt());
            EXPECT_EQ(b.bar->maximum(), a->valueInterface()->maximumValue().toInt());
        }
    };
    check("first engine");
    const int firstMax = form->tbVoicePitch->maximum();
    form->cbVoiceEngines->setCurrentIndex(1);
    form->cbVoiceEnginesChange();
    ASSERT_NE(firstMax, form->tbVoicePitch->maximum());  // the second engine's range differs
    check("second engine");
}

TEST_F(Access, TabWalksTheEditPageInLayoutOrder) {
    ShowEditPage();
    form->mmEditText->setFocus(Qt::TabFocusReason);
    std::vector<QString> got;
    for (int i = 0; i < 40 && (got.empty() || Focus() != form->mmEditText); ++i) {
        got.push_back(Focus()->objectName());
        Press(Qt::Key_Tab);
    }
    // Pause is hidden and Stop disabled while idle; Cancel lies beneath Save....
    const std::vector<QString> want = {
        "mmEditText",      "btTextClear",       "btTextLoad",         "btTextSave",
        "cbVoiceEngines",  "tbVoicePitch",      "tbVoiceSpeed",       "tbVoiceVolume",
        "btVoiceTest",     "btVoiceLoad",       "btVoiceSave",        "btVoiceLexicon",
        "btConverterSpeak", "btConverterSave",  "btConverterCancel",  "qt_tabwidget_tabbar"};
    EXPECT_EQ(want, got);
    // Shift+Tab walks back.
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form->pcMain->tabBar(), Focus());
}

// The lexicon dialog: Tab reaches every control, each with a name and description, and
// its buttons work from the keyboard.
TEST_F(Access, LexiconDialogWorksFromTheKeyboardWithNamedControls) {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    lexicon::Store::Instance().SetUserLexicons({});
    TLexiconDialog dialog(form.get(), "Fake Alpha", "en-us", nullptr);
    int edits = 0;
    dialog.editEntry = [&](lexicon::Scope&, lexicon::Entry& entry) {
        ++edits;
        entry = {"Tomato", false, false, "tomahto", "", ""};
        return true;
    };
    dialog.show();
    dialog.activateWindow();
    dialog.cbScope->setFocus(Qt::TabFocusReason);
    std::set<QWidget*> reached;
    for (int i = 0; i < 20 && reached.insert(Focus()).second; ++i) Press(Qt::Key_Tab);
    for (QWidget* w : std::initializer_list<QWidget*>{
             dialog.cbScope, dialog.tbEntries, dialog.btAdd, dialog.btEdit, dialog.btDelete,
             dialog.btTest, dialog.btImport, dialog.btExport, dialog.btClose}) {
        EXPECT_TRUE(reached.count(w)) << Name(w).toStdString();
        EXPECT_FALSE(Name(w).isEmpty() || Description(w).isEmpty()) << w->metaObject()->className();
    }
    Operate(dialog.btAdd);
    EXPECT_EQ(1, edits);
    EXPECT_EQ(1, dialog.tbEntries->rowCount());
    lexicon::Store::Instance().SetUserLexicons({});
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(Access, KeyboardAloneSpeaksPausesResumesAndStops) {
    KeyToEditPage();
    ASSERT_TRUE(TabTo(form->mmEditText));
    QTest::keyClicks(form->mmEditText, "keys only");
    Operate(form->btConverterSpeak);
    ASSERT_EQ(std::string("keys only\r\n\0", 12), speaker->texts.back());
    speaker->FireAudioStart();
    ASSERT_TRUE(form->btConverterSpeak->isHidden());

    Operate(form->btConverterPause);
    EXPECT_TRUE(form->fwMSpeech->Paused());
    Operate(form->btConverterSpeak);  // resumes
    EXPECT_EQ(1u, Logged("AudioResume").size());
    EXPECT_EQ(1, int(Logged(".TextData(").size()) - TestPhrases());  // no second hand-over
    speaker->FireAudioStart();

    const size_t resets = Logged("AudioReset").size();
    Operate(form->btConverterStop);
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    speaker->FireAudioStop();
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_FALSE(form->btConverterStop->isEnabled());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Access, KeyboardAloneSavesAudioAndCancels) {
    KeyToEditPage();
    form->mmEditText->setPlainText("into a file");
    const QString wav = ScratchDir() + "/keys.wav";
    ui.answers = {wav};
    const int before = service.CentralCount();
    Operate(form->btConverterSave);
    ASSERT_EQ(std::vector<QString>{"Save Audio to File..."}, ui.dialogTitles);
    ASSERT_GT(service.CentralCount(), before);
    FakeCentral* saver = LastCentral();
    ASSERT_EQ(std::string("into a file\r\n\0", 14), saver->texts.back());
    saver->FireAudioStart();
    ASSERT_FALSE(form->btConverterCancel->isHidden());
    ASSERT_TRUE(form->btConverterSave->isHidden());

    const size_t resets = Logged("AudioReset").size();
    Operate(form->btConverterCancel);
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    saver->FireAudioStop();
    EXPECT_FALSE(form->btConverterSave->isHidden());
    // The focus is still somewhere the keyboard can go on from.
    ASSERT_NE(nullptr, Focus());
    EXPECT_TRUE(TabTo(form->btConverterSpeak));
}

TEST_F(Access, KeyboardAloneChoosesAnEngineAndSavesAndLoadsSettings) {
    KeyToEditPage();
    ASSERT_TRUE(TabTo(form->cbVoiceEngines));
    Press(Qt::Key_Down);  // the next engine, applied as a pick
    ASSERT_EQ("Fake Wide", form->fwMSpeech->EngineInfo().ModeName);
    speaker = LastCentral();

    ASSERT_TRUE(TabTo(form->tbVoicePitch));
    const int pitch = form->tbVoicePitch->value();
    Press(Qt::Key_PageDown);
    ASSERT_NE(pitch, form->tbVoicePitch->value());
    const int chosen = form->tbVoicePitch->value();
    const QString cfg = ScratchDir() + "/keys.cfg";
    ui.answers = {cfg};
    const size_t tags = PitchTags(chosen);
    Operate(form->btVoiceSave);  // leaving the bar also hands the pitch to the engine
    ASSERT_EQ(std::vector<QString>{"Save Settings to File..."}, ui.dialogTitles);
    const std::string saved = ReadFileBytes(cfg);
    EXPECT_NE(std::string::npos, saved.find("Engine=Fake Wide"));
    EXPECT_NE(std::string::npos, saved.find("Pitch=" + std::to_string(chosen)));
    EXPECT_EQ(tags + 1, PitchTags(chosen));

    // Back by keyboard: another pitch, then the file restores the saved one.
    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    Press(Qt::Key_PageUp);
    Press(Qt::Key_PageUp);
    ASSERT_NE(chosen, form->tbVoicePitch->value());
    ui.answers = {cfg};
    Operate(form->btVoiceLoad);
    ASSERT_EQ(2u, ui.dialogTitles.size());
    EXPECT_EQ("Load Settings from File...", ui.dialogTitles[1]);
    EXPECT_EQ(chosen, form->tbVoicePitch->value());
    EXPECT_EQ(tags + 2, PitchTags(chosen));

    const int phrases = TestPhrases();
    Operate(form->btVoiceTest);
    EXPECT_EQ(phrases + 1, TestPhrases());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Access, KeyboardAloneClearsLoadsAndSavesText) {
    KeyToEditPage();
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/in.txt", "loaded by keys\r\n");
    ui.answers = {dir + "/in.txt"};
    Operate(form->btTextLoad);
    EXPECT_EQ("loaded by keys\n", form->mmEditText->toPlainText());
    ui.answers = {dir + "/out.txt"};
    Operate(form->btTextSave);
    EXPECT_EQ("loaded by keys\r\n", ReadFileBytes(dir + "/out.txt"));
    Operate(form->btTextClear);
    EXPECT_TRUE(form->mmEditText->toPlainText().isEmpty());
    EXPECT_EQ((std::vector<QString>{"Load Text from File...", "Save Text to File..."}),
              ui.dialogTitles);
}

// The toolkit's own dialogs, worked with the keys alone: the name typed into the field
// that has the focus when the dialog opens, Enter to confirm, Escape to cancel.
TEST_F(Access, KeyboardAloneWorksTheSettingsFileDialogs) {
    TFileDialog::SetExecuteHook({});
    ModalDriver driver;
    auto typeAndPress = [](const QString& name, Qt::Key key) {
        return [name, key](QWidget* top) {
            ASSERT_NE(nullptr, qobject_cast<QFileDialog*>(top));
            QWidget* field = top->focusWidget();
            ASSERT_NE(nullptr, field) << "nothing in the dialog takes the keys";
            QTest::keyClicks(field, name);
            QTest::keyClick(field, key);
        };
    };
    // A window manager gives the window the focus back when a dialog closes; without
    // one, the test does.
    auto backFromDialog = [&] {
        EXPECT_TRUE(driver.Done());
        form->activateWindow();
        WaitFor([] { return QApplication::focusWidget() != nullptr; }, 1000);
    };
    KeyToEditPage();
    ASSERT_TRUE(TabTo(form->tbVoicePitch));
    Press(Qt::Key_PageDown);
    const int chosen = form->tbVoicePitch->value();
    const QString cfg = ScratchDir() + "/by-keys";  // the dialog adds ".cfg"

    driver.Then("QFileDialog", typeAndPress(cfg, Qt::Key_Return));
    Operate(form->btVoiceSave);
    backFromDialog();
    const std::string saved = ReadFileBytes(cfg + ".cfg");
    EXPECT_NE(std::string::npos, saved.find("\r\nPitch=" + std::to_string(chosen) + "\r\n"))
        << saved;

    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    Press(Qt::Key_PageUp);
    Press(Qt::Key_PageUp);
    ASSERT_NE(chosen, form->tbVoicePitch->value());
    // The load dialog offers nothing yet: the whole name is typed.
    driver.Then("QFileDialog", typeAndPress(cfg + ".cfg", Qt::Key_Return));
    Operate(form->btVoiceLoad);
    backFromDialog();
    EXPECT_EQ(chosen, form->tbVoicePitch->value());

    // Escape leaves the file as it was.
    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    Press(Qt::Key_PageUp);
    driver.Then("QFileDialog", typeAndPress("", Qt::Key_Escape));
    Operate(form->btVoiceSave);
    backFromDialog();
    EXPECT_EQ(saved, ReadFileBytes(cfg + ".cfg"));
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
