// The pictures, the window icon and the cursor as drawn from their SVG sources: their sizes in
// logical and device pixels, their sharpness on a dense screen, and the cursor's fingertip.
#include "ui/artwork.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cmath>

namespace tessel::testing {
namespace {

struct PictureSize {
    const char* name;
    int width, height;  // logical pixels
};

const PictureSize kPictureSizes[] = {
    {"banner.svg", 420, 28},   {"message_banner.svg", 238, 35},
    {"break.svg", 127, 33},    {"join.svg", 127, 33},
    {"help.svg", 91, 39},      {"exit.svg", 91, 39},
    {"open_file.svg", 23, 26}, {"open_folder.svg", 26, 30},
    {"hand.svg", 32, 32},      {"tessel.svg", 32, 32},
};

// The mean square of the change from one pixel to the next, over all pixels and channels: an
// edge blurred over several pixels changes a little at each of them, a sharp one much at one,
// which counts for more once squared.
double EdgeStrength(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    double sum = 0;
    for (int y = 0; y + 1 < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        const uchar* below = image.constScanLine(y + 1);
        for (int x = 0; x + 1 < image.width(); ++x) {
            for (int channel = 0; channel < 4; ++channel) {
                const int here = row[4 * x + channel];
                const int across = row[4 * (x + 1) + channel] - here;
                const int down = below[4 * x + channel] - here;
                sum += across * across + down * down;
            }
        }
    }
    return sum / (static_cast<double>(image.width()) * image.height() * 4);
}

TEST(ArtworkTest, EveryPictureKeepsItsLogicalSizeAtEveryPixelRatio) {
    for (const auto& picture : kPictureSizes) {
        for (const qreal ratio : {1.0, 1.25, 2.0, 3.0}) {
            const QPixmap pixmap = ui::RenderPicture(picture.name, ratio);
            ASSERT_FALSE(pixmap.isNull()) << picture.name;
            EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), ratio) << picture.name;
            EXPECT_EQ(pixmap.width(), static_cast<int>(std::ceil(picture.width * ratio)))
                << picture.name << " at " << ratio;
            EXPECT_EQ(pixmap.height(), static_cast<int>(std::ceil(picture.height * ratio)))
                << picture.name << " at " << ratio;
        }
    }
    EXPECT_TRUE(ui::RenderPicture("no_such_picture.svg", 1).isNull());
}

TEST(ArtworkTest, AtRatioTwoEveryPictureIsDrawnAnewNotEnlarged) {
    // Twice the pixels each way, with edges sharper than the picture drawn for a ratio of 1 and
    // then enlarged, which is what a dense screen would otherwise show.
    for (const auto& picture : kPictureSizes) {
        const QPixmap sharp = ui::RenderPicture(picture.name, 2);
        ASSERT_EQ(sharp.size(), QSize(2 * picture.width, 2 * picture.height)) << picture.name;
        EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(picture.width, picture.height));
        const QImage enlarged =
            ui::RenderPicture(picture.name, 1)
                .toImage()
                .scaled(sharp.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_GT(EdgeStrength(sharp.toImage()), 1.5 * EdgeStrength(enlarged)) << picture.name;
    }
}

TEST(ArtworkTest, TheWindowIconComesAtTheUsualSizes) {
    const QIcon icon = ui::WindowIcon();
    ASSERT_FALSE(icon.isNull());
    QList<QSize> expected;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) expected << QSize(size, size);
    EXPECT_EQ(icon.availableSizes(), expected);
    // Drawn at each size, not scaled from one: the largest has detail the 32 pixel one lacks.
    const QImage large = icon.pixmap(QSize(256, 256)).toImage();
    const QImage enlarged = icon.pixmap(QSize(32, 32))
                                .toImage()
                                .scaled(256, 256, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GT(EdgeStrength(large), 1.5 * EdgeStrength(enlarged));
}

TEST(ArtworkTest, TheHandPointsWithItsFingertipAtTheHotSpot) {
    for (const qreal ratio : {1.0, 2.0}) {
        const QCursor cursor = ui::HandCursor(ratio);
        EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1)) << "in logical pixels at " << ratio;
        EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32) * ratio);
        EXPECT_DOUBLE_EQ(cursor.pixmap().devicePixelRatio(), ratio);
    }
    // The fingertip's outline covers the hot spot's pixel; the row above it is empty, so the
    // finger ends right there.
    const QImage hand = ui::RenderPicture("hand.svg", 1).toImage();
    EXPECT_GT(qAlpha(hand.pixel(12, 1)), 128);
    for (int x = 0; x < hand.width(); ++x) EXPECT_EQ(qAlpha(hand.pixel(x, 0)), 0) << x;
}

TEST(ArtworkTest, PicturesAreDrawnAgainWhenTheirWindowMovesToADenserScreen) {
    QList<QScreen*> screens = QGuiApplication::screens();
    std::sort(screens.begin(), screens.end(), [](const QScreen* a, const QScreen* b) {
        return a->devicePixelRatio() < b->devicePixelRatio();
    });
    if (screens.size() < 2 ||
        screens.front()->devicePixelRatio() == screens.back()->devicePixelRatio()) {
        GTEST_SKIP() << "needs screens of two densities: ui_pictures_across_screens gives them";
    }
    QScreen* const plain = screens.front();
    QScreen* const dense = screens.back();
    QWidget window;
    auto* label = new QLabel(&window);
    auto* button = new QPushButton(&window);
    ui::ShowPicture(*label, "break.svg");
    ui::ShowPicture(*button, "open_file.svg");
    ui::ShowHandCursor(*label);
    window.move(plain->geometry().topLeft() + QPoint(20, 20));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.screen(), plain);
    EXPECT_DOUBLE_EQ(label->pixmap().devicePixelRatio(), plain->devicePixelRatio());

    window.move(dense->geometry().topLeft() + QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.screen() == dense; }));
    const qreal ratio = dense->devicePixelRatio();
    EXPECT_DOUBLE_EQ(label->pixmap().devicePixelRatio(), ratio);
    EXPECT_EQ(label->pixmap().size(), QSize(127, 33) * ratio);
    EXPECT_EQ(button->icon().pixmap(button->iconSize(), ratio).size(), QSize(23, 26) * ratio);
    EXPECT_DOUBLE_EQ(label->cursor().pixmap().devicePixelRatio(), ratio);
}

}  // namespace
}  // namespace tessel::testing
