// The settings dialogs as a person meets them: the toolkit's own file dialog, driven
// through the modal window on top while the voice panel's handlers run.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "ModalDriver.h"
#include "WindowFixture.h"

namespace {

QLineEdit* NameEdit(QWidget* dialog) {
    return dialog->findChild<QLineEdit*>("fileNameEdit");
}

// Types a name into the dialog and presses Enter.
void Choose(QWidget* dialog, const QString& name) {
    QLineEdit* edit = NameEdit(dialog);
    ASSERT_NE(nullptr, edit);
    edit->setText(name);
    QTest::keyClick(edit, Qt::Key_Return);
}

void Press(QWidget* box, QMessageBox::StandardButton which) {
    auto* message = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(nullptr, message);
    ASSERT_NE(nullptr, message->button(which));
    message->button(which)->click();
}

void ExpectSettingsDialog(QWidget* top, const QString& title, QFileDialog::AcceptMode mode) {
    auto* dialog = qobject_cast<QFileDialog*>(top);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(title, dialog->windowTitle());
    EXPECT_EQ(QStringList{"Settings Files (.cfg) (*.cfg)"}, dialog->nameFilters());
    EXPECT_EQ("cfg", dialog->defaultSuffix());
    EXPECT_EQ(mode, dialog->acceptMode());
    EXPECT_TRUE(dialog->isSizeGripEnabled());
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
}

class Dialogs : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Start();
        ShowEditPage();
        TFileDialog::SetExecuteHook({});  // the real dialogs from here on
        if (FakeCentral* c = LastCentral()) c->FireAudioStop();
        dir = ScratchDir();
    }
    void Run(QPushButton* button) {
        button->click();
        EXPECT_TRUE(driver.Done()) << "a dialog step did not run";
    }

    ModalDriver driver;
    QString dir;
};

TEST_F(Dialogs, SaveAppendsTheExtensionAndAsksBeforeReplacing) {
    form->tbVoicePitch->setValue(60);
    driver.Then("QFileDialog", [&](QWidget* top) {
        ExpectSettingsDialog(top, "Save Settings to File...", QFileDialog::AcceptSave);
        EXPECT_EQ("", NameEdit(top)->text());  // nothing chosen in it yet
        Choose(top, dir + "/voice");
    });
    Run(form->btVoiceSave);
    const std::string first = ReadFileBytes(dir + "/voice.cfg");
    EXPECT_NE(std::string::npos, first.find("\r\nPitch=60\r\n")) << first;
    EXPECT_EQ(dir + "/voice.cfg", form->DlgSaveSettings->FileName());

    // The dialog offers that name again; taking it asks first, and "No" keeps the
    // dialog open and the file as it was.
    form->tbVoicePitch->setValue(70);
    driver.Then("QFileDialog", [&](QWidget* top) {
        EXPECT_EQ("voice.cfg", NameEdit(top)->text());
        EXPECT_EQ(QDir(dir), qobject_cast<QFileDialog*>(top)->directory());
        QTest::keyClick(NameEdit(top), Qt::Key_Return);
    });
    driver.Then("QMessageBox", [&](QWidget* box) {
        EXPECT_TRUE(qobject_cast<QMessageBox*>(box)->text().startsWith("voice.cfg already exists"))
            << qobject_cast<QMessageBox*>(box)->text().toStdString();
        Press(box, QMessageBox::No);
    });
    driver.Then("QFileDialog", [&](QWidget* top) {
        EXPECT_EQ(first, ReadFileBytes(dir + "/voice.cfg"));
        QTest::keyClick(NameEdit(top), Qt::Key_Return);
    });
    driver.Then("QMessageBox", [&](QWidget* box) { Press(box, QMessageBox::Yes); });
    Run(form->btVoiceSave);
    EXPECT_NE(std::string::npos, ReadFileBytes(dir + "/voice.cfg").find("\r\nPitch=70\r\n"));

    // Cancelling writes nothing.
    form->tbVoicePitch->setValue(80);
    driver.Then("QFileDialog", [&](QWidget* top) { qobject_cast<QDialog*>(top)->reject(); });
    Run(form->btVoiceSave);
    EXPECT_NE(std::string::npos, ReadFileBytes(dir + "/voice.cfg").find("\r\nPitch=70\r\n"));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Dialogs, SaveIntoAMissingFolderSaysSoAndStaysOpen) {
    driver.Then("QFileDialog", [&](QWidget* top) { Choose(top, dir + "/missing/v"); });
    driver.Then("QMessageBox", [&](QWidget* box) {
        EXPECT_EQ(dir + "/missing/v.cfg\nPath does not exist.\nCheck the path and try again.",
                  qobject_cast<QMessageBox*>(box)->text());
        Press(box, QMessageBox::Ok);
    });
    driver.Then("QFileDialog", [&](QWidget* top) { Choose(top, dir + "/v"); });
    Run(form->btVoiceSave);
    EXPECT_TRUE(QFile::exists(dir + "/v.cfg"));
    EXPECT_FALSE(QFile::exists(dir + "/missing"));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Dialogs, LoadWantsAnExistingFileAndEachDialogOffersItsOwnLastName) {
    WriteFileBytes(dir + "/beta.cfg", "[Voice]\r\nEngine=Fake Beta\r\nPitch=120\r\n");
    driver.Then("QFileDialog", [&](QWidget* top) {
        ExpectSettingsDialog(top, "Load Settings from File...", QFileDialog::AcceptOpen);
        EXPECT_EQ(QFileDialog::ExistingFile, qobject_cast<QFileDialog*>(top)->fileMode());
        Choose(top, dir + "/none");
    });
    driver.Then("QMessageBox", [&](QWidget* box) {
        EXPECT_TRUE(qobject_cast<QMessageBox*>(box)->text().startsWith("none.cfg\n"))
            << qobject_cast<QMessageBox*>(box)->text().toStdString();
        Press(box, QMessageBox::Ok);
    });
    driver.Then("QFileDialog", [&](QWidget* top) { Choose(top, dir + "/no/such/beta"); });
    driver.Then("QMessageBox", [&](QWidget* box) { Press(box, QMessageBox::Ok); });
    driver.Then("QFileDialog", [&](QWidget* top) { Choose(top, dir + "/beta"); });
    Run(form->btVoiceLoad);
    EXPECT_EQ("Fake Beta", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(120, form->tbVoicePitch->value());
    if (FakeCentral* c = LastCentral()) c->FireAudioStop();

    // The load dialog offers beta.cfg; the save dialog, never used, offers nothing.
    driver.Then("QFileDialog", [&](QWidget* top) {
        EXPECT_EQ("beta.cfg", NameEdit(top)->text());
        EXPECT_EQ(QDir(dir), qobject_cast<QFileDialog*>(top)->directory());
        qobject_cast<QDialog*>(top)->reject();
    });
    Run(form->btVoiceLoad);
    driver.Then("QFileDialog", [&](QWidget* top) {
        EXPECT_EQ("Save Settings to File...", top->windowTitle());
        EXPECT_EQ("", NameEdit(top)->text());
        qobject_cast<QDialog*>(top)->reject();
    });
    Run(form->btVoiceSave);
    EXPECT_EQ(120, form->tbVoicePitch->value());
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
