// SPDX-License-Identifier: GPL-2.0-or-later
// Drawing in a program that has not made its graphics application: library calls fail
// with a clear error rather than make one on whatever thread they run, and a worker
// thread can never make it. (This test program's main makes none; see lumivox_tests.)

#include "render/render_helpers.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"

#include <QtCore/QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

namespace lumivox {
namespace {

// The tests that need no application come before the one that makes it; run alone (as
// ctest runs them) each has a process of its own.
class RenderWithoutApplication : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(LoadMenuTemplate(test::BundledTemplate("classic.ini"), menuTemplate, &error)) << error;
        // A plain bitmap: the test pictures of the other rendering tests draw with Qt.
        thumbnail.Create(104, 78, 32, false);
        albums = {{"Summer", true, &thumbnail}, {"Empty", false, nullptr}};
    }
    MenuTemplate menuTemplate;
    PicBitmap thumbnail;
    std::vector<MenuAlbum> albums;
};

TEST_F(RenderWithoutApplication, DrawingCallsFailWithTheMessage)
{
    if (QCoreApplication::instance())
        GTEST_SKIP() << "an earlier test of this process made the application";
    ASSERT_FALSE(HasGuiApplication());
    QImage target(704, 480, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    const QImage before = target.copy();
    std::string error;
    EXPECT_FALSE(DrawMenuPage(target, target.rect(), menuTemplate, {}, albums, 0, &error));
    EXPECT_EQ(error, kMsgNoGuiApplication);
    EXPECT_TRUE(target == before) << "a failed drawing changed its target";

    for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
        PicBitmap frame;
        error.clear();
        EXPECT_FALSE(RenderMenuFrame(menuTemplate, {}, albums, 0, norm, frame, &error)) << TvNormName(norm);
        EXPECT_EQ(error, kMsgNoGuiApplication);
        // The frame is black and of the norm's size, so a caller that goes on has a frame.
        const QImage image = ToQImage(frame);
        ASSERT_EQ(image.size(), QSize(704, norm == TvNorm::Pal ? 576 : 480));
        EXPECT_EQ(test::CountNotColour(image, image.rect(), qRgb(0, 0, 0)), 0);
    }
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "a drawing call made the application";
}

TEST_F(RenderWithoutApplication, AWorkerThreadNeverMakesTheApplication)
{
    if (QCoreApplication::instance())
        GTEST_SKIP() << "an earlier test of this process made the application";
    bool made = true;
    std::string error;
    std::thread worker([&] {
        made = EnsureGuiApplication(GuiPlatform::Offscreen);
        QImage target(704, 480, QImage::Format_RGB32);
        DrawMenuPage(target, target.rect(), menuTemplate, {}, albums, 0, &error);
    });
    worker.join();
    EXPECT_FALSE(made);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_FALSE(HasGuiApplication());
    EXPECT_EQ(error, kMsgNoGuiApplication);
}

TEST_F(RenderWithoutApplication, OnceTheMainThreadMadeItWorkersDraw)
{
    ASSERT_TRUE(EnsureGuiApplication(GuiPlatform::Offscreen));
    ASSERT_TRUE(HasGuiApplication());
    QCoreApplication* application = QCoreApplication::instance();
    ASSERT_NE(application, nullptr);
    EXPECT_TRUE(EnsureGuiApplication(GuiPlatform::Offscreen)) << "a second call";
    EXPECT_EQ(QCoreApplication::instance(), application);

    PicBitmap onMain;
    std::string error;
    ASSERT_TRUE(RenderMenuFrame(menuTemplate, {}, albums, 0, TvNorm::Ntsc, onMain, &error)) << error;
    PicBitmap onWorker;
    bool drawn = false;
    bool found = false;
    std::thread worker([&] {
        found = EnsureGuiApplication();
        drawn = RenderMenuFrame(menuTemplate, {}, albums, 0, TvNorm::Ntsc, onWorker, &error);
    });
    worker.join();
    EXPECT_TRUE(found);
    ASSERT_TRUE(drawn) << error;
    EXPECT_TRUE(ToQImage(onMain) == ToQImage(onWorker)) << "the worker's frame differs from the main thread's";
    EXPECT_EQ(QCoreApplication::instance(), application);
}

} // namespace
} // namespace lumivox
