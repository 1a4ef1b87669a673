#include "app/circle_progress.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

namespace {

const QColor kBack(0x20, 0x40, 0x60);
const QColor kFore(0xE0, 0x30, 0x10);
const QColor kWhite(0xFF, 0xFF, 0xFF);

class CircleProgressTest : public ::testing::Test {
protected:
    QImage Paint(int width, int height, int min, int max, int value) {
        gauge_.setRange(min, max);
        gauge_.setValue(value);
        gauge_.resize(width, height);
        // A known backdrop shows where nothing was painted.
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Qt::black);
        gauge_.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }
    // The pixel at `radius` from the centre in the direction of `clockwiseFromBottom`
    // degrees, walking clockwise from the bottom as the gauge does.
    static QColor At(const QImage& image, double clockwiseFromBottom, double radius) {
        double a = (90.0 + clockwiseFromBottom) * M_PI / 180.0;  // y grows downwards
        double cx = image.width() / 2.0, cy = image.height() / 2.0;
        int x = static_cast<int>(std::lround(cx + radius * std::cos(a) - 0.5));
        int y = static_cast<int>(std::lround(cy + radius * std::sin(a) - 0.5));
        return image.pixelColor(x, y);
    }

    CCircleProgressUI gauge_;
    void SetUp() override {
        gauge_.SetBkColor(kBack);
        gauge_.SetForeColor(kFore);
    }
};

}  // namespace

TEST_F(CircleProgressTest, ClassNameAndSweep) {
    EXPECT_STREQ(CCircleProgressUI::GetClass(), "CircleProgress");
    gauge_.setRange(0, 100);
    gauge_.setValue(25);
    EXPECT_EQ(gauge_.SweepDegrees(), 90);
    gauge_.setValue(33);  // 118.8 degrees, truncated
    EXPECT_EQ(gauge_.SweepDegrees(), 118);
    gauge_.setRange(50, 50);
    EXPECT_EQ(gauge_.SweepDegrees(), 0) << "an empty range draws no sector";
}

TEST_F(CircleProgressTest, ValueZeroShowsOnlyTheBackgroundRing) {
    QImage img = Paint(100, 100, 0, 100, 0);
    for (double angle = 0; angle < 360; angle += 30) {
        EXPECT_EQ(At(img, angle, 45), kBack) << "ring at " << angle;
    }
    EXPECT_EQ(img.pixelColor(50, 50), kWhite);
    EXPECT_EQ(At(img, 0, 30), kWhite) << "centre is inset 10 pixels";
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::black)) << "corners outside the disc untouched";
}

TEST_F(CircleProgressTest, FullValueFillsTheWholeRing) {
    QImage img = Paint(100, 100, 0, 100, 100);
    for (double angle = 0; angle < 360; angle += 30) {
        EXPECT_EQ(At(img, angle, 45), kFore) << "ring at " << angle;
    }
    EXPECT_EQ(img.pixelColor(50, 50), kWhite);
    // value = max - min with a non-zero minimum is also a full ring.
    img = Paint(100, 100, 20, 70, 50);
    for (double angle = 0; angle < 360; angle += 45) EXPECT_EQ(At(img, angle, 45), kFore);
}

TEST_F(CircleProgressTest, QuarterRunsFromTheBottomTowardsTheLeft) {
    QImage img = Paint(120, 120, 0, 100, 25);
    // Inside the sector: between bottom and left.
    for (double angle : {10.0, 45.0, 80.0}) {
        EXPECT_EQ(At(img, angle, 55), kFore) << "clockwise " << angle;
    }
    // Outside it: right of the bottom, and past the left.
    for (double angle : {100.0, 180.0, 270.0, 350.0}) {
        EXPECT_EQ(At(img, angle, 55), kBack) << "clockwise " << angle;
    }
    // Screen check of "towards the left": lower-left filled, lower-right not.
    EXPECT_EQ(img.pixelColor(22, 98), kFore);
    EXPECT_EQ(img.pixelColor(98, 98), kBack);
    EXPECT_EQ(img.pixelColor(60, 60), kWhite);
}

TEST_F(CircleProgressTest, SmallGaugeIsAFullDiscWithoutCentre) {
    QImage img = Paint(20, 20, 0, 100, 0);
    EXPECT_EQ(img.pixelColor(10, 10), kBack);
    EXPECT_EQ(img.pixelColor(5, 10), kBack);
    img = Paint(40, 18, 0, 100, 100);
    EXPECT_EQ(img.pixelColor(20, 9), kFore) << "too flat for a centre";
}

TEST_F(CircleProgressTest, TextIsDrawnOverTheCentre) {
    gauge_.SetTextColor(QColor(0, 0, 0));
    gauge_.SetText(QStringLiteral("88%"));
    QImage img = Paint(100, 100, 0, 100, 88);
    int dark = 0;
    for (int y = 35; y < 65; ++y)
        for (int x = 30; x < 70; ++x)
            if (qGray(img.pixel(x, y)) < 128) ++dark;
    EXPECT_GT(dark, 10);
}
