#include "ui/DialogUnits.h"

#include <QFont>
#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;

TEST(DialogUnits, BaseUnitsAreTheFontsAverageCharacterWidthAndHeight)
{
    for (const char* family : {"DejaVu Sans", "Liberation Sans", "Noto Sans"}) {
        for (int points : {8, 11}) {
            const QFont font(QString::fromLatin1(family), points);
            const QFontMetricsF metrics(font);
            const double alphabet
                = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
            const CDialogUnits units(font);
            SCOPED_TRACE(std::string(family) + " " + std::to_string(points));
            EXPECT_EQ(units.BaseWidth(), std::round(alphabet / 52));
            EXPECT_EQ(units.BaseHeight(), std::ceil(metrics.height()));
            // Four units across are one average character, eight down one line.
            EXPECT_EQ(units.X(4), units.BaseWidth());
            EXPECT_EQ(units.Y(8), units.BaseHeight());
        }
    }
}

TEST(DialogUnits, RectanglesMapTheirEdgesSoNeighboursStillTouch)
{
    // At 6 by 13 (the template font's units) three units across are 4.5 pixels: mapped sizes
    // alone would leave gaps or overlaps between controls that touch in the template.
    const CDialogUnits units(6, 13);
    EXPECT_EQ(units.Rect(7, 7, 53, 57), QRect(QPoint(11, 11), QPoint(89, 103)));
    for (int left = 0; left < 20; ++left) {
        const QRect first = units.Rect(left, left, 3, 3);
        const QRect second = units.Rect(left + 3, left + 3, 5, 5);
        EXPECT_EQ(second.left(), first.right() + 1) << left;
        EXPECT_EQ(second.top(), first.bottom() + 1) << left;
    }
    EXPECT_EQ(units.Size(331, 172), QSize(497, 280));
}

TEST(DialogUnits, WideningMakesRoomWhereverTheSpanStartsAndNeverNarrows)
{
    for (int pixels : {1, 37, 129, 250}) {
        for (int room : {5, 13, 54, 93}) {
            CDialogUnits units(6, 13);
            units.WidenToFit(pixels, room);
            EXPECT_GE(units.BaseWidth(), 6.0);
            for (int left = 0; left < 40; ++left)
                EXPECT_GE(units.X(left + room) - units.X(left), pixels)
                    << pixels << " px in " << room << " units from " << left;
        }
    }
    CDialogUnits wide(9, 18);
    wide.WidenToFit(10, 20);
    EXPECT_EQ(wide.BaseWidth(), 9.0);
}
