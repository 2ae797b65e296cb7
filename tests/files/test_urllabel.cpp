#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/qt/DesktopSeams.h"
#include "support/qt/urllabel.h"

namespace fs = std::filesystem;

namespace {

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } while (t.elapsed() < ms);
}

class UrlLabelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_urllabel";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
    void SetUp() override {
        SetBeepHook([this] { ++beeps_; });
        SetOpenUrlHook([this](const QString& url) {
            opened_.push_back(url);
            return openSucceeds_;
        });
        SetPointerPositionHook([this] { return pointer_; });
        // The window's instance: blue, bold and underlined.
        label_ = std::make_unique<TUrlLabel>();
        QFont f = label_->font();
        f.setBold(true);
        label_->setFont(f);
        label_->SetFontColor(clBlue);
        label_->SetCaption("Update...");
        label_->SetURL("https://example.org/update");
        label_->setGeometry(100, 100, 54, 13);
        label_->show();
        label_->Loaded();
    }
    void TearDown() override {
        label_.reset();
        SetBeepHook({});
        SetOpenUrlHook({});
        SetPointerPositionHook({});
    }
    // Puts the pointer at a point of the label (or outside it) and moves it there.
    void MoveTo(QPoint local) {
        pointer_ = label_->mapToGlobal(local);
        QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(pointer_), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label_.get(), &move);
    }
    void Leave() { pointer_ = label_->mapToGlobal(QPoint(-50, -50)); }
    int Timers() const { return static_cast<int>(label_->findChildren<QTimer*>().size()); }

    std::unique_ptr<TUrlLabel> label_;
    QPoint pointer_{0, 0};
    int beeps_ = 0;
    bool openSucceeds_ = true;
    std::vector<QString> opened_;
};

TEST_F(UrlLabelTest, DefaultsAndShownText) {
    TUrlLabel fresh;
    EXPECT_EQ(clRed, fresh.HighlightColor());
    EXPECT_EQ(255u, fresh.HighlightColor());
    EXPECT_EQ(clBlack, fresh.VisitedColor());
    EXPECT_FALSE(fresh.UseVisitedColor());
    EXPECT_TRUE(fresh.UnderlineURL());
    EXPECT_TRUE(fresh.font().underline());
    EXPECT_EQ(Qt::PointingHandCursor, fresh.cursor().shape());
    EXPECT_EQ(TUrlLabel::kNoSavedColor, fresh.SavedColor());
    EXPECT_EQ(nullptr, fresh.HoverTimer());

    fresh.SetURL("https://example.org/");
    EXPECT_EQ("https://example.org/", fresh.text()) << "an empty caption shows the address";
    fresh.SetCaption("Link");
    EXPECT_EQ("Link", fresh.text());
    fresh.SetURL("https://other.example/");
    EXPECT_EQ("Link", fresh.text());
    fresh.SetCaption("");
    EXPECT_EQ("https://other.example/", fresh.text());

    // The underline switch leaves the other style bits alone.
    EXPECT_TRUE(label_->font().bold());
    label_->SetUnderlineURL(false);
    EXPECT_FALSE(label_->font().underline());
    EXPECT_TRUE(label_->font().bold());
    label_->SetUnderlineURL(true);
    EXPECT_TRUE(label_->UnderlineURL());
}

TEST_F(UrlLabelTest, ColourValuesMapToQtColours) {
    EXPECT_EQ(QColor(255, 0, 0), ColorToQColor(clRed));
    EXPECT_EQ(QColor(0, 0, 255), ColorToQColor(clBlue));
    EXPECT_EQ(0x00563412u, QColorToColor(QColor(0x12, 0x34, 0x56)));
    EXPECT_EQ(clBlue, label_->FontColor());
    // clNone takes the font's current colour and forgets the saved one.
    label_->SetHighlightColor(clNone);
    EXPECT_EQ(clBlue, label_->HighlightColor());
    label_->SetVisitedColor(0x123456);
    EXPECT_EQ(0x123456u, label_->VisitedColor());
    EXPECT_EQ(TUrlLabel::kNoSavedColor, label_->SavedColor());
}

TEST_F(UrlLabelTest, LightsUpAtOnceAndReturnsSoonAfterThePointerLeaves) {
    MoveTo(QPoint(10, 5));
    EXPECT_EQ(clRed, label_->FontColor()) << "lit within one move";
    ASSERT_NE(nullptr, label_->HoverTimer());
    EXPECT_EQ(100, label_->HoverTimer()->interval());
    EXPECT_EQ(clBlue, label_->SavedColor());
    QTimer* first = label_->HoverTimer();
    MoveTo(QPoint(30, 8));
    MoveTo(QPoint(1, 1));
    EXPECT_EQ(first, label_->HoverTimer());
    EXPECT_EQ(1, Timers()) << "moves while lit create no second timer";

    Pump(250);
    EXPECT_EQ(clRed, label_->FontColor()) << "stays lit while the pointer is inside";

    // The first tick after the pointer left restores the colour, however late a loaded
    // machine runs it.
    int ticks = 0;
    QObject::connect(label_->HoverTimer(), &QTimer::timeout, [&] { ++ticks; });
    Leave();
    QElapsedTimer t;
    t.start();
    while (label_->FontColor() != clBlue && t.elapsed() < 10000) Pump(5);
    EXPECT_EQ(clBlue, label_->FontColor());
    EXPECT_EQ(1, ticks) << "the colour came back on another tick than the first";
    EXPECT_EQ(nullptr, label_->HoverTimer());
    Pump(20);
    EXPECT_EQ(0, Timers()) << "the timer is freed";

    // A move outside the rectangle does not light it; the next move inside does.
    MoveTo(QPoint(60, 5));
    EXPECT_EQ(clBlue, label_->FontColor());
    MoveTo(QPoint(2, 2));
    EXPECT_EQ(clRed, label_->FontColor());
}

TEST_F(UrlLabelTest, ClickOpensTheAddressThenReportsThenTakesTheVisitedColour) {
    std::vector<std::string> order;
    QObject::connect(label_.get(), &TUrlLabel::clicked, [&] {
        order.push_back(opened_.empty() ? "clicked first" : "clicked after open");
    });
    label_->SetUseVisitedColor(true);
    label_->SetVisitedColor(clPurple);
    MoveTo(QPoint(5, 5));
    // A real press and release inside the label.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(pointer_), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(label_.get(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(pointer_),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(label_.get(), &release);
    ASSERT_EQ(1u, opened_.size());
    EXPECT_EQ("https://example.org/update", opened_[0]);
    EXPECT_EQ(std::vector<std::string>{"clicked after open"}, order);
    EXPECT_EQ(clPurple, label_->SavedColor());
    EXPECT_EQ(clRed, label_->FontColor()) << "still lit";
    Leave();
    Pump(250);
    EXPECT_EQ(clPurple, label_->FontColor()) << "visited, not back to blue";
    EXPECT_EQ(0, beeps_);
}

TEST_F(UrlLabelTest, WithoutVisitedColourTheLabelReturnsToItsColour) {
    MoveTo(QPoint(5, 5));
    label_->Click();
    Leave();
    Pump(250);
    EXPECT_EQ(clBlue, label_->FontColor());
}

TEST_F(UrlLabelTest, FailedOpenOnlyBeepsAndLongAddressesAreCut) {
    openSucceeds_ = false;
    label_->SetURL("https://example.org/" + std::string(2000, 'a'));
    label_->Click();
    ASSERT_EQ(1u, opened_.size());
    EXPECT_EQ(1023, opened_[0].size());
    EXPECT_TRUE(opened_[0].startsWith("https://example.org/aaa"));
    EXPECT_EQ(0, beeps_) << "the outcome arrives later";
    Pump(20);
    EXPECT_EQ(1, beeps_);
    EXPECT_EQ(clBlue, label_->FontColor());
    EXPECT_EQ("Update...", label_->text());

    // Without an address a click opens nothing but is still reported.
    int clicks = 0;
    QObject::connect(label_.get(), &TUrlLabel::clicked, [&] { ++clicks; });
    label_->SetURL("");
    label_->Click();
    Pump(20);
    EXPECT_EQ(1u, opened_.size());
    EXPECT_EQ(1, clicks);
    EXPECT_EQ(1, beeps_);
}

// The real handler path, with a stand-in "xdg-open" first on the search path.
class DefaultHandlerTest : public UrlLabelTest {
  protected:
    void SetUp() override {
        UrlLabelTest::SetUp();
        SetOpenUrlHook({});
        std::string pattern = (fs::temp_directory_path() / "parlen-open-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        dir_ = pattern;
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(dir_.string()) + ":" + oldPath_);
    }
    void TearDown() override {
        qputenv("PATH", oldPath_);
        fs::remove_all(dir_);
        UrlLabelTest::TearDown();
    }
    void Handler(const std::string& body) {
        const fs::path script = dir_ / "xdg-open";
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    // The outcome reported for url, or -1 when none arrived in time; afterCall runs as
    // soon as the call has returned.
    int Outcome(const QString& url, const std::function<void()>& afterCall = {}) {
        int result = -1;
        OpenUrlWithDefaultHandler(url, [&](bool ok) { result = ok ? 1 : 0; });
        if (afterCall) afterCall();
        QElapsedTimer t;
        t.start();
        while (result < 0 && t.elapsed() < 20000) Pump(10);
        return result;
    }
    fs::path dir_;
    QByteArray oldPath_;
};

TEST_F(DefaultHandlerTest, ReportsTheHandlersRealOutcomeWithoutBlocking) {
    // The handler succeeds only once the call has returned: a call that waited for it
    // would see it give up and fail.
    const std::string release = (dir_ / "release").string();
    Handler("echo \"$1\" > \"" + (dir_ / "got").string() + "\"; i=0; while [ ! -e \"" + release +
            "\" ] && [ $i -lt 500 ]; do sleep 0.02; i=$((i + 1)); done; [ -e \"" + release +
            "\" ]");
    EXPECT_EQ(1, Outcome("https://example.org/a b", [&] { std::ofstream{release}; }))
        << "the call waited for the handler";
    std::ifstream got(dir_ / "got");
    std::string line;
    std::getline(got, line);
    EXPECT_EQ("https://example.org/a b", line);

    Handler("exit 3");
    EXPECT_EQ(0, Outcome("https://example.org/"));

    fs::remove(dir_ / "xdg-open");
    qputenv("PATH", QByteArray::fromStdString(dir_.string()));
    EXPECT_EQ(0, Outcome("https://example.org/")) << "no handler at all";

    // Through the label: a failing handler ends in one beep.
    Handler("exit 1");
    qputenv("PATH", QByteArray::fromStdString(dir_.string()) + ":" + oldPath_);
    label_->Click();
    QElapsedTimer t;
    t.start();
    while (beeps_ == 0 && t.elapsed() < 10000) Pump(10);
    EXPECT_EQ(1, beeps_);
}

}  // namespace
