// Contrast by relative luminance, and accents made readable on the background they stand on.
#include "ui_common/colour_contrast.h"
#include "ui_common/symbol_icon.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(ColourContrastTest, RatiosFollowRelativeLuminance)
{
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::white, Qt::black), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(QColor(10, 132, 255), QColor(10, 132, 255)), 1.0);
    EXPECT_NEAR(contrastRatio(QColor(0, 122, 255), Qt::white), 4.02, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(118, 118, 118), Qt::white), 4.54, 0.01);
    EXPECT_NEAR(relativeLuminance(QColor(0, 0, 255)), 0.0722, 1e-9);
    EXPECT_EQ(composited(QColor(0, 0, 255), 0.5, Qt::white).rgb(), qRgb(128, 128, 255));
}

TEST(ColourContrastTest, AnAccentIsLightenedOnDarkAndDarkenedOnLightJustEnough)
{
    const QColor darkBlue(21, 83, 158); // a desktop's dark accent
    const QColor nearBlack(30, 30, 32);
    const QColor lighter = readableOn(darkBlue, nearBlack, 3.0);
    EXPECT_GE(contrastRatio(lighter, nearBlack), 3.0);
    EXPECT_LT(contrastRatio(lighter, nearBlack), 3.05);
    EXPECT_GT(relativeLuminance(lighter), relativeLuminance(darkBlue));
    EXPECT_GT(lighter.blue(), lighter.red());
    EXPECT_GT(lighter.blue(), lighter.green());

    const QColor green(52, 199, 89);
    const QColor darker = readableOn(green, Qt::white, 3.0);
    EXPECT_GE(contrastRatio(darker, Qt::white), 3.0);
    EXPECT_LT(contrastRatio(darker, Qt::white), 3.05);
    EXPECT_GT(darker.green(), darker.red());

    // Already readable: unchanged, alpha kept.
    QColor seeThrough(10, 132, 255, 100);
    EXPECT_EQ(readableOn(seeThrough, nearBlack, 3.0), seeThrough);
    EXPECT_EQ(readableOn(QColor(0, 0, 255, 100), nearBlack, 3.0).alpha(), 100);
    // Beyond reach (21:1 exceeds any pair): the far end, the best there is.
    EXPECT_EQ(readableOn(darkBlue, nearBlack, 30.0), QColor(Qt::white));
}

// Regression: folder symbols in a desktop's dark-blue accent vanished on a dark list.
TEST(ColourContrastTest, AccentSymbolsStandOutOnADarkList)
{
    installIconThemeFallback();
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    QApplication::setPalette(dark);
    const QImage drawn = tintedSymbolIcon(QStringLiteral("folder.fill"), QPalette::Highlight)
                             .pixmap(16)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor pixel = drawn.pixelColor(x, y);
            if (pixel.alpha() < 255)
                continue;
            ++opaque;
            EXPECT_GE(contrastRatio(pixel, QColor(30, 30, 32)), 3.0) << x << "," << y;
        }
    }
    EXPECT_GT(opaque, 20);
    QApplication::setPalette(before);
}

} // namespace
} // namespace qb
