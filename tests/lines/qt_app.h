#pragma once
// One offscreen QApplication for the whole test program.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "lines-tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};
