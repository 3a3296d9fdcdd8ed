#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>

#include "app/shell/about_dialog.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/genmsg_dialog.h"
#include "app/shell/main_window.h"
#include "app/shell/scripted_prompts.h"

namespace {

TEST(GenMsgDialog, CountsDownFromThirtyAndClosesItself) {
    GenMsgDialog dialog(u"New drive E:\\ attached.");
    dialog.show();
    EXPECT_EQ(dialog.objectName(), "dialog150");
    EXPECT_EQ(dialog.findChild<QPlainTextEdit*>("id1064")->toPlainText(),
              "New drive E:\\ attached.");
    EXPECT_EQ(dialog.okText(), "OK(30)");
    EXPECT_TRUE(dialog.timer().isActive());
    EXPECT_EQ(dialog.timer().interval(), 1000);
    for (int expected = 29; expected >= 0; --expected) {
        dialog.onTimer();
        ASSERT_EQ(dialog.okText(), QString("OK(%1)").arg(expected));
        ASSERT_TRUE(dialog.isVisible());
    }
    dialog.onTimer();  // the tick that finds "OK(0)"
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_FALSE(dialog.timer().isActive());
}

TEST(GenMsgDialog, OkAndEscapeEndIt) {
    for (int command : {1, 2}) {
        GenMsgDialog dialog(u"text");
        dialog.show();
        dialog.onTimer();
        EXPECT_EQ(dialog.onCommand(command, 0), 1);
        EXPECT_EQ(dialog.result(), command);
        EXPECT_FALSE(dialog.timer().isActive());
    }
    GenMsgDialog dialog(u"text");
    EXPECT_EQ(dialog.onCommand(1064, 0), 0);
    dialog.reject();
    EXPECT_EQ(dialog.result(), 2);
}

TEST(GenMsgDialog, OpensThroughPrompts) {
    ScriptedPrompts prompts;
    prompts.queueDialogHandler([](QDialog& dialog) {
        auto& message = static_cast<GenMsgDialog&>(dialog);
        for (int i = 0; i < 31; ++i) message.onTimer();
        return message.result();
    });
    EXPECT_EQ(GenMsg(nullptr, u"hello"), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog150");
}

TEST(AboutDialog, ShowsVersionLinksAndCloses) {
    AboutDialog about;
    EXPECT_EQ(about.objectName(), "dialog106");
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains("Version 1.0.1.320"));
    EXPECT_TRUE(texts.contains("Follow Us On Social Media"));
    for (int id : {1, 1004, 1017, 1025, 1038, 1039}) {
        EXPECT_NE(about.findChild<QAbstractButton*>(QString("id%1").arg(id)), nullptr) << id;
    }
    about.show();
    EXPECT_EQ(about.onCommand(1017, 0), 0);
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(about.onCommand(2, 0), 1);
    EXPECT_EQ(about.result(), 2);
    about.show();
    about.findChild<QAbstractButton*>("id1")->click();
    EXPECT_EQ(about.result(), 1);
}

TEST(Artwork, EveryPictureIsDrawnSharpAtEachScale) {
    const int ids[] = {130, 134,  175,  177,  234,  235,  236,  1,
                       3,   1004, 1005, 1026, 1033, 1035, 1045, 1069};
    for (qreal ratio : {1.0, 2.0}) {
        for (int id : ids) {
            const QPixmap picture = artwork::pixmap(id, ratio);
            ASSERT_FALSE(picture.isNull()) << id;
            EXPECT_EQ(picture.size(), artwork::naturalSize(id) * ratio) << id;
            EXPECT_EQ(picture.devicePixelRatio(), ratio) << id;
            const QImage image = picture.toImage();
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 128;
            }
            EXPECT_GT(opaque, image.width() * image.height() / 3) << id << " at " << ratio;
        }
    }
    EXPECT_EQ(artwork::naturalSize(175), QSize(149, 31));
    EXPECT_EQ(artwork::naturalSize(134), QSize(32, 34));
}

TEST(MainWindow, ServesAboutAndExit) {
    ScriptedPrompts prompts;
    MainWindow window;
    EXPECT_EQ(window.objectName(), "ORVANE");
    EXPECT_EQ(window.windowTitle(), "Orvane");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.onCommand(104, 0), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog106");
    EXPECT_TRUE(prompts.questions()[0].hasOwner);
    EXPECT_EQ(window.onCommand(32785, 0), 0);  // everything else: default processing
}

}  // namespace
