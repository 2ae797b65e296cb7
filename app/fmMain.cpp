// The window's construction from its layout, the start-up sequence and the plumbing
// that runs every handler under the error guard.
#include "app/fmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>

#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/TextBox.h"
#include "app/TextLayoutRunner.h"
#include "app/fmMainAccessibility.h"
#include "platform/service/TTSEngine.h"
#include "speech/mSpeech.h"
#include "support/qt/ComboBoxStrings.h"
#include "support/qt/DesktopSeams.h"
#include "support/qt/MemoStrings.h"
#include "support/qt/TextCodec.h"
#include "support/qt/VersionInfo.h"
#include "support/qt/urllabel.h"

namespace {
const char* const kProductTitle = PARLEN_MAKER_SITE " - Parlen Maker";
const char* const kNoEngineText = "Init failed: No Text-to-Speech Engine found. Please read Help!!";

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, int left, int top) {
    return Place(new QPushButton(QString::fromLatin1(caption), parent), name, left, top, 75, 25);
}

// Labels fit their caption, growing from their left and top edges.
QLabel* Label(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* caption, int left, int top,
                 int width, int height) {
    return Place(new QGroupBox(QString::fromLatin1(caption), parent), name, left, top, width,
                 height);
}
}  // namespace

TFormMain::TFormMain(QWidget* parent)
    // Customised title bar: system menu, minimise and close, no maximise.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("FormMain");
    setWindowTitle(QString::fromLatin1(kProductTitle));
    setFixedSize(688, 466);

    pcMain = Place(new QTabWidget(this), "pcMain", 8, 8, 673, 433);
    BuildHelpPage();
    BuildEditPage();
    pcMain->setCurrentWidget(tsMainHelp);

    sbMain = Place(new QStatusBar(this), "sbMain", 0, 447, 688, 19);
    sbMain->setSizeGripEnabled(false);

    BuildComponents();
    ConnectHandlers();
    DescribeControlsForAccessibility(*this);
}

TFormMain::~TFormMain() {
    SetLexiconDialogHost(nullptr);
    // The components go before the controls their events touch; detach the events
    // first so that nothing arriving while they release their engines reaches us.
    for (TMSpeech* speech : {fwMSpeechSave, fwMSpeech}) {
        speech->OnStart = nullptr;
        speech->OnStop = nullptr;
        speech->OnVisual = nullptr;
    }
    delete fwMSpeechSave;
    delete fwMSpeech;
}

void TFormMain::BuildHelpPage() {
    tsMainHelp = new QWidget();
    tsMainHelp->setObjectName("tsMainHelp");
    pcMain->addTab(tsMainHelp, "Help");

    gbHelpInfo = Group(tsMainHelp, "gbHelpInfo", "Info", 8, 8, 161, 385);
    tpUrlUpdate = Place(new TUrlLabel(gbHelpInfo), "tpUrlUpdate", 8, 24, 54, 13);
    QFont linkFont = tpUrlUpdate->font();
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    tpUrlUpdate->setFont(linkFont);
    tpUrlUpdate->SetFontColor(0x00FF0000);  // blue
    tpUrlUpdate->SetCaption("Update...");
    tpUrlUpdate->SetURL(PARLEN_UPDATE_URL);
    tpUrlUpdate->Loaded();
    tpUrlUpdate->adjustSize();

    gbHelpReadme = Group(tsMainHelp, "gbHelpReadme", "Readme", 176, 8, 481, 385);
    mmHelpReadme = Place(new QPlainTextEdit(gbHelpReadme), "mmHelpReadme", 8, 16, 465, 361);
    mmHelpReadme->setReadOnly(true);
    mmHelpReadme->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmHelpReadme->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmHelpReadme->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmHelpReadme->setTabChangesFocus(true);
}

void TFormMain::BuildEditPage() {
    tsMainEdit = new QWidget();
    tsMainEdit->setObjectName("tsMainEdit");
    pcMain->addTab(tsMainEdit, "Edit");
    BuildTextGroup();
    BuildVoiceGroup();
    BuildConverterGroup();
}

void TFormMain::BuildTextGroup() {
    gbEditText = Group(tsMainEdit, "gbEditText", "Text", 8, 8, 393, 385);
    // Created in tab order: the focus chain follows creation.
    mmEditText = Place(new TTextBox(gbEditText), "mmEditText", 8, 16, 377, 329);
    mmEditText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mmEditText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    mmEditText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmEditText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmEditText->setTabChangesFocus(true);
    btTextClear = Button(gbEditText, "btTextClear", "Clear", 8, 352);
    btTextLoad = Button(gbEditText, "btTextLoad", "Load...", 88, 352);
    btTextSave = Button(gbEditText, "btTextSave", "Save...", 168, 352);
    setTabOrder(mmEditText, btTextClear);
    setTabOrder(btTextClear, btTextLoad);
    setTabOrder(btTextLoad, btTextSave);
}

QSlider* TFormMain::MakeTrackBar(const char* name, int left, int top, int singleStep) {
    auto* bar = Place(new QSlider(Qt::Vertical, gbEditVoice), name, left, top, 33, 97);
    // Minimum at the top, next to the minimum label; keys move the way the bar looks.
    bar->setInvertedAppearance(true);
    bar->setInvertedControls(true);
    bar->setTickPosition(QSlider::TicksRight);
    bar->setPageStep(2);
    bar->setSingleStep(singleStep);
    bar->setFocusPolicy(Qt::StrongFocus);
    bar->setRange(0, 10);
    bar->setTickInterval(10);
    bar->setValue(0);
    bar->installEventFilter(this);
    return bar;
}

void TFormMain::BuildVoiceGroup() {
    gbEditVoice = Group(tsMainEdit, "gbEditVoice", "Voice", 408, 8, 249, 225);
    cbVoiceEngines = Place(new QComboBox(gbEditVoice), "cbVoiceEngines", 8, 16, 233, 21);
    cbVoiceEngines->setEditable(false);
    cbVoiceEngines->setInsertPolicy(QComboBox::InsertAtBottom);
    lbVoicePitch = Label(gbEditVoice, "lbVoicePitch", "Pitch", 8, 48);
    lbVoiceSpeed = Label(gbEditVoice, "lbVoiceSpeed", "Speed", 88, 48);
    lbVoiceVolume = Label(gbEditVoice, "lbVoiceVolume", "Volume", 168, 48);
    tbVoicePitch = MakeTrackBar("tbVoicePitch", 8, 64, 12);
    tbVoiceSpeed = MakeTrackBar("tbVoiceSpeed", 88, 64, 20);
    tbVoiceVolume = MakeTrackBar("tbVoiceVolume", 168, 64, 1);
    lbPitchMin = Label(gbEditVoice, "lbPitchMin", "0", 40, 68);
    lbPitchPos = Label(gbEditVoice, "lbPitchPos", "???", 40, 104);
    lbPitchMax = Label(gbEditVoice, "lbPitchMax", "100", 40, 144);
    lbSpeedMin = Label(gbEditVoice, "lbSpeedMin", "0", 120, 68);
    lbSpeedPos = Label(gbEditVoice, "lbSpeedPos", "???", 120, 104);
    lbSpeedMax = Label(gbEditVoice, "lbSpeedMax", "100", 120, 144);
    lbVolumeMin = Label(gbEditVoice, "lbVolumeMin", "0", 200, 68);
    lbVolumePos = Label(gbEditVoice, "lbVolumePos", "???", 200, 104);
    lbVolumeMax = Label(gbEditVoice, "lbVolumeMax", "100", 200, 144);
    btVoiceTest = Button(gbEditVoice, "btVoiceTest", "Test", 8, 192);
    btVoiceLoad = Button(gbEditVoice, "btVoiceLoad", "Load...", 88, 192);
    btVoiceSave = Button(gbEditVoice, "btVoiceSave", "Save...", 168, 192);
    setTabOrder(cbVoiceEngines, tbVoicePitch);
    setTabOrder(tbVoicePitch, tbVoiceSpeed);
    setTabOrder(tbVoiceSpeed, tbVoiceVolume);
    setTabOrder(tbVoiceVolume, btVoiceTest);
    setTabOrder(btVoiceTest, btVoiceLoad);
    setTabOrder(btVoiceLoad, btVoiceSave);
    // After the panel's own controls, in the room beside the volume bar.
    btVoiceLexicon = Button(gbEditVoice, "btVoiceLexicon", "Lexicon...", 168, 164);
    btVoiceLexicon->setFixedHeight(25);
    setTabOrder(btVoiceSave, btVoiceLexicon);
}

void TFormMain::BuildConverterGroup() {
    gbEditConverter = Group(tsMainEdit, "gbEditConverter", "Converter", 408, 248, 249, 145);
    pbConverter = Place(new QProgressBar(gbEditConverter), "pbConverter", 8, 16, 233, 17);
    pbConverter->setRange(0, 100);
    pbConverter->setTextVisible(false);
    pbConverter->hide();
    lbConverterPos = Label(gbEditConverter, "lbConverterPos", "0 / 0", 8, 40);
    lbConverterPos->hide();
    lbConverterChapter = Place(new QLabel(gbEditConverter), "lbConverterChapter", 8, 60, 233, 40);
    lbConverterChapter->setWordWrap(true);
    lbConverterChapter->hide();
    btConverterSpeak = Button(gbEditConverter, "btConverterSpeak", "Speak", 8, 112);
    btConverterPause = Button(gbEditConverter, "btConverterPause", "Pause", 8, 112);
    btConverterStop = Button(gbEditConverter, "btConverterStop", "Stop", 88, 112);
    btConverterStop->setEnabled(false);
    btConverterSave = Button(gbEditConverter, "btConverterSave", "Save...", 168, 112);
    btConverterCancel = Button(gbEditConverter, "btConverterCancel", "Cancel", 168, 112);
    // Both buttons of a shared place start visible; "Speak" and "Save..." lie on top.
    btConverterSpeak->raise();
    btConverterSave->raise();
    setTabOrder(btConverterSpeak, btConverterPause);
    setTabOrder(btConverterPause, btConverterStop);
    setTabOrder(btConverterStop, btConverterSave);
    setTabOrder(btConverterSave, btConverterCancel);
}

void TFormMain::BuildComponents() {
    // Plain text stays first and the default; documents are imported.
    DlgLoadText = new TFileDialog(
        TFileDialog::dkOpen, "Load Text from File...",
        {{"Text Files (.txt)", "*.txt", "txt"},
         {"Documents", "*.epub *.pdf *.docx *.odt *.html *.htm *.xhtml *.md", "epub"},
         {"EPUB Books (.epub)", "*.epub", "epub"},
         {"PDF Documents (.pdf)", "*.pdf", "pdf"},
         {"Word Documents (.docx)", "*.docx", "docx"},
         {"OpenDocument Texts (.odt)", "*.odt", "odt"},
         {"Web Pages (.html, .htm, .xhtml)", "*.html *.htm *.xhtml", "html"},
         {"Markdown Texts (.md)", "*.md *.markdown", "md"}},
        this);
    DlgLoadText->setObjectName("DlgLoadText");
    DlgSaveText = new TFileDialog(TFileDialog::dkSave, "Save Text to File...", "Text Files (.txt)",
                                  "*.txt", "txt", this);
    DlgSaveText->setObjectName("DlgSaveText");
    tpVersionInfo = new TVersionInfo(this);
    tpVersionInfo->setObjectName("tpVersionInfo");
    fwMSpeech = new TMSpeech(&components_);
    fwMSpeech->SetName("fwMSpeech");
    fwMSpeech->SetOutput(soGeneral);
    fwMSpeech->SetVersion(kMSpeechVersion);
    DlgLoadSettings = new TFileDialog(TFileDialog::dkOpen, "Load Settings from File...",
                                      "Settings Files (.cfg)", "*.cfg", "cfg", this);
    DlgLoadSettings->setObjectName("DlgLoadSettings");
    DlgSaveSettings = new TFileDialog(TFileDialog::dkSave, "Save Settings to File...",
                                      "Settings Files (.cfg)", "*.cfg", "cfg", this);
    DlgSaveSettings->setObjectName("DlgSaveSettings");
    // The file's extension names the format it is written in; WAV stays the default. An
    // EPUB is a read-along book made from a WAV render.
    DlgSaveAudio = new TFileDialog(TFileDialog::dkSave, "Save Audio to File...",
                                   {{"Audio Files (.wav)", "*.wav", "wav"},
                                    {"MP3 Audio (.mp3)", "*.mp3", "mp3"},
                                    {"Ogg Vorbis Audio (.ogg)", "*.ogg *.oga", "ogg"},
                                    {"Opus Audio (.opus)", "*.opus", "opus"},
                                    {"FLAC Audio (.flac)", "*.flac", "flac"},
                                    {"M4B Audiobook (.m4b)", "*.m4b", "m4b"},
                                    {"EPUB 3 Read-Along Book (.epub)", "*.epub", "epub"}},
                                   this);
    DlgSaveAudio->setObjectName("DlgSaveAudio");
    fwMSpeechSave = new TMSpeech(&components_);
    fwMSpeechSave->SetName("fwMSpeechSave");
    fwMSpeechSave->SetOutput(soFile);
    fwMSpeechSave->SetVersion(kMSpeechVersion);
    BuildChapterList();
}

void TFormMain::ConnectHandlers() {
    ErrorGuard::InstallForNotifications();
    ConnectVoiceHandlers();
    ConnectConverterHandlers();
    ConnectDocumentHandlers();
}

QString TFormMain::ReadmePath() {
    // applicationDirPath follows /proc/self/exe, so a link to the program still
    // finds the read-me beside the real executable.
    return QDir(QCoreApplication::applicationDirPath()).filePath("readme.txt");
}

void TFormMain::FormShow() {
    const std::string caption =
        tpVersionInfo->ProductName() + " " + tpVersionInfo->ProductVersion();
    // The title first: a window titled other than the application is labelled with both.
    QGuiApplication::setApplicationDisplayName(DecodeText(caption));
    setWindowTitle(DecodeText(caption));

    try {
        TMemoStrings readme(mmHelpReadme);
        readme.LoadTextFile(EncodeText(ReadmePath()));
    } catch (...) {
        // The read-me is optional: without it the box stays empty.
    }

    TComboBoxStrings engines(cbVoiceEngines);
    engines.CopyLines(fwMSpeech->Engines());
    if (engines.LineCount() > 0) {
        cbVoiceEngines->setCurrentIndex(0);
        cbVoiceEnginesChange();
    } else {
        gbEditVoice->setEnabled(false);
        gbEditConverter->setEnabled(false);
        sbMain->showMessage(QString::fromLatin1(kNoEngineText));
        DefaultBeep();
    }
}

void TFormMain::CenterOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TFormMain::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted()) return;
    // Speech or a conversion still waiting for the text's layout would start on a
    // window that is gone.
    if (textLayout_) textLayout_->DropWaiting();
    emit Closed();
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Centred before the start-up runs, so that an error box it opens sits over the
    // window where it will stay.
    CenterOnScreen();
    ErrorGuard::Run([this] { FormShow(); });
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        auto* bar = qobject_cast<QSlider*>(watched);
        if (bar == tbVoicePitch || bar == tbVoiceSpeed || bar == tbVoiceVolume) {
            // Only focus moving to another control is an exit; the window losing
            // activation or a popup opening is not.
            switch (static_cast<QFocusEvent*>(event)->reason()) {
                case Qt::TabFocusReason:
                case Qt::BacktabFocusReason:
                case Qt::MouseFocusReason:
                case Qt::ShortcutFocusReason:
                case Qt::OtherFocusReason:
                    ErrorGuard::Run([this, bar] { BarExit(bar); });
                    break;
                default:
                    break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
