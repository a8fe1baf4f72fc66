#pragma once

#include "runtime/Recorder.h"
#include "support/RecordedCalls.h"
#include "runtime/Runtime.h"
#include "shell/Imagetypes.h"
#include "shell/MenuBar1.h"
#include "window/Window1.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

// Builds the main window the way start-up does, without the event loop, and
// takes it down again afterwards. Framework calls are recorded.
struct MainWindow : ::testing::Test, RecordedCalls {
    Ref<Window1> window;

    void SetUp() override
    {
        RuntimeAttachRecorder([this](RecordedCall const& call) { calls.push_back(call); });
        RuntimeInitFrameworkClasses();
        Imagetypes::Initialize_();
        window = Window1::Window1_();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window->widget()));
    }

    void TearDown() override
    {
        window = nullptr;
        RuntimeReleaseFrameworkGlobals();
        MenuBar1::implicitInstance_Exit_();
        for (auto release : { Imagetypes::pPng_Exit_, Imagetypes::pJpeg_Exit_, Imagetypes::pImageTiff_Exit_, Imagetypes::pImagePict_Exit_,
                 Imagetypes::pImageGif_Exit_, Imagetypes::pImageXBmp_Exit_, Imagetypes::pImageXTarga_Exit_ })
            release();
        RuntimeAttachRecorder({});
    }

    QWidget* widgetOf(char const* control) const { return window->ControlByName_(control)->widget(); }
    QWidget* content() const { return window->contentWidget(); }
};
