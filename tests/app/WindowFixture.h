#pragma once
// A main window over the recording speech service, shown offscreen and active.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "AppTestSupport.h"
#include "FakeSpeechService.h"
#include "speech/mSpeech.h"
#include "support/qt/VersionInfo.h"

inline FakeMode NamedMode(const std::string& name) {
    FakeMode m;
    m.name = name;
    return m;
}

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
        if (service.modes.empty())
            service.modes = {NamedMode("Fake Alpha"), NamedMode("Fake Beta")};
    }
    void TearDown() override { form.reset(); }

    void Start() {
        form = std::make_unique<TFormMain>();
        form->tpVersionInfo->SetFileName(ProgramPath());
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        WaitFor(nullptr, 20);
    }
    void ShowEditPage() {
        form->pcMain->setCurrentWidget(form->tsMainEdit);
        WaitFor(nullptr, 20);
    }

    // Log entries of the service containing text.
    std::vector<std::string> Logged(const std::string& text) const {
        std::vector<std::string> out;
        for (const auto& e : service.log)
            if (e.find(text) != std::string::npos) out.push_back(e);
        return out;
    }
    // Index of the first log entry containing text, or -1.
    int LogIndex(const std::string& text) const {
        for (size_t i = 0; i < service.log.size(); ++i)
            if (service.log[i].find(text) != std::string::npos) return int(i);
        return -1;
    }
    // Index of the last log entry containing text, or -1.
    int LastLogIndex(const std::string& text) const {
        for (size_t i = service.log.size(); i-- > 0;)
            if (service.log[i].find(text) != std::string::npos) return int(i);
        return -1;
    }
    // Texts handed to the engine objects still alive, in order.
    std::vector<std::string> SpokenTexts() const {
        std::vector<std::string> all;
        for (int id = 1; id <= service.CentralCount(); ++id)
            if (FakeCentral* c = service.Central(id))
                for (const auto& t : c->texts) all.push_back(t);
        return all;
    }
    // Test phrases handed over so far, also to engine objects released since: the
    // phrase is the only 8-byte text ("1 2 3", CR LF, NUL) these tests speak.
    int TestPhrases() const { return int(Logged(".TextData(0,0,8,").size()); }
    // The engine object attached last (the one the latest selection made).
    FakeCentral* LastCentral() const { return service.Central(service.CentralCount()); }

    UiRecorder ui;
    FakeSpeechService service;
    std::unique_ptr<TFormMain> form;
};
