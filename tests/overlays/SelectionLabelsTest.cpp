// Where the selector's texts go: their usual places around a rectangle in
// the open, and for rectangles of every size against every edge of one or
// two monitors, at scale 1 and 2, that each text lies wholly on a monitor,
// apart from the others, off the red outline and off the magnifier.

#include <gtest/gtest.h>

#include <QRegion>

#include "overlays/Magnifier.h"
#include "overlays/SelectionLabels.h"

using namespace velmora;

namespace {

QRect Box(const SelectionLabel& label, const LabelRoom& room) {
    return QRect(label.at, QSize(room.widthOf(label.text), room.lineHeight));
}

std::string Describe(const TRect& r) {
    return std::to_string(r.Left) + "," + std::to_string(r.Top) + " " +
           std::to_string(r.Right - r.Left) + "x" + std::to_string(r.Bottom - r.Top);
}

// Every text wholly on the monitors, none over another, the outline or the
// magnifier.
void ExpectReadable(const TRect& r, const LabelRoom& room,
                    const QString& hint = QStringLiteral("Enter - accept")) {
    const auto labels = SelectionLabels(r, hint, {}, room);
    QRegion shown;
    for (const QRect& m : room.monitors) shown += m;
    ASSERT_EQ(labels.size(), 7u);
    std::vector<QRect> boxes;
    for (const SelectionLabel& label : labels) boxes.push_back(Box(label, room));
    const QRect frame(r.Left - 2, r.Top - 2, r.Right - r.Left + 4, r.Bottom - r.Top + 4);
    const QRect inner(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const QRect& box = boxes[i];
        EXPECT_TRUE(QRegion(box).subtracted(shown).isEmpty())
            << Describe(r) << ": " << labels[i].text.toStdString() << " leaves the monitors";
        // On the outline is where the text covers the frame but not only
        // the inside.
        EXPECT_FALSE(box.intersects(frame) && !inner.contains(box))
            << Describe(r) << ": " << labels[i].text.toStdString() << " on the outline";
        EXPECT_FALSE(box.intersects(room.keepClear))
            << Describe(r) << ": " << labels[i].text.toStdString() << " under the magnifier";
        for (std::size_t j = i + 1; j < boxes.size(); ++j)
            EXPECT_FALSE(box.intersects(boxes[j]))
                << Describe(r) << ": " << labels[i].text.toStdString() << " over "
                << labels[j].text.toStdString();
    }
}

LabelRoom Room(std::vector<QRect> monitors, double scale) {
    LabelRoom room;
    room.monitors = std::move(monitors);
    room.scale = scale;
    const int perLetter = static_cast<int>(10 * scale);
    room.widthOf = [perLetter](const QString& text) {
        return perLetter * static_cast<int>(text.size());
    };
    room.lineHeight = static_cast<int>(24 * scale);
    return room;
}

TEST(SelectionLabelsTest, InTheOpenTheyKeepTheirPlacesAroundTheRectangle) {
    const LabelRoom room = Room({QRect(0, 0, 1280, 720)}, 1.0);
    const auto labels = SelectionLabels({101, 93, 429, 269}, QStringLiteral("hint"), {}, room);
    ASSERT_EQ(labels.size(), 7u);
    // midX = 265, midY = 181.
    const std::vector<std::pair<QPoint, QString>> expected{
        {{101, 23}, QStringLiteral("hint")},        {{51, 151}, QStringLiteral("Left")},
        {{51, 181}, QStringLiteral("101")},         {{431, 151}, QStringLiteral("Width")},
        {{431, 181}, QStringLiteral("328")},        {{215, 66}, QStringLiteral("Top=93")},
        {{215, 271}, QStringLiteral("Height=176")},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(labels[i].at, expected[i].first) << i;
        EXPECT_EQ(labels[i].text, expected[i].second) << i;
    }
    // Twice the distances on a screen at scale 2.
    const auto scaled =
        SelectionLabels({101, 93, 429, 269}, QString(), {}, Room({QRect(0, 0, 1280, 720)}, 2.0));
    EXPECT_EQ(scaled[3].at, QPoint(433, 121));
    // A longer word of another language moves the left labels out of the
    // rectangle.
    SelectionWords russian;
    russian.left = QStringLiteral("Слева");
    const auto moved = SelectionLabels({101, 93, 429, 269}, QString(), russian, room);
    EXPECT_EQ(moved[1].at, QPoint(49, 151));
    EXPECT_EQ(moved[2].at, QPoint(49, 181));
    EXPECT_EQ(moved[1].text, QStringLiteral("Слева"));

    EXPECT_EQ(HalfRoundedToEven(5), 2);  // 2.5
    EXPECT_EQ(HalfRoundedToEven(7), 4);  // 3.5
    EXPECT_EQ(HalfRoundedToEven(-5), -2);
}

TEST(SelectionLabelsTest, ASmallRectangleHasItsTextsApart) {
    // Where "Top=700" used to run into "Left" and "Width".
    const LabelRoom room = Room({QRect(0, 0, 1920, 1080)}, 1.0);
    ExpectReadable({600, 700, 616, 716}, room);
    const auto labels = SelectionLabels({600, 700, 616, 716}, QString(), {}, room);
    // Still on their sides: the left pair left, the width pair right, the
    // top above and the height below.
    EXPECT_LT(Box(labels[1], room).right(), 598);
    EXPECT_GE(labels[3].at.x(), 618);
    EXPECT_LT(Box(labels[5], room).bottom(), 698);
    EXPECT_GE(labels[6].at.y(), 718);
}

// Rectangles of many sizes against every edge and corner of the monitors,
// and across the line between two of them, with the magnifier at the
// dragged corner as while dragging.
void ExpectReadableEverywhere(const std::vector<QRect>& monitors, double scale) {
    const LabelRoom base = Room(monitors, scale);
    const std::vector<QSize> sizes{{16, 16},   {16, 64},  {64, 16}, {40, 40},
                                   {200, 120}, {640, 24}, {24, 480}};
    for (const QRect& m : monitors) {
        std::vector<QSize> all = sizes;
        all.push_back(m.size());
        all.push_back(m.size() - QSize(16, 16));
        for (const QSize& size : all)
            for (const int x : {m.left(), m.center().x(), m.right() + 1 - size.width()})
                for (const int y : {m.top(), m.center().y(), m.bottom() + 1 - size.height()}) {
                    const TRect r{x, y, x + size.width(), y + size.height()};
                    if (r.Right > m.right() + 1 || r.Bottom > m.bottom() + 1) continue;
                    LabelRoom room = base;
                    const QPoint corner(std::min(r.Right, m.right()),
                                        std::min(r.Bottom, m.bottom()));
                    room.keepClear = MagnifierRect(corner, m, qRound(scale));
                    ExpectReadable(r, room);
                }
    }
}

TEST(SelectionLabelsTest, AgainstEveryEdgeTheyStayOnTheMonitorApartAndOffTheOutline) {
    ExpectReadableEverywhere({QRect(0, 0, 1280, 720)}, 1.0);
    ExpectReadableEverywhere({QRect(0, 0, 1280, 720)}, 2.0);
}

TEST(SelectionLabelsTest, OnTwoMonitorsOfDifferentSizesNoneFallsBetweenThem) {
    // The right monitor is lower: below it lies screen no monitor shows.
    const std::vector<QRect> monitors{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 720)};
    ExpectReadableEverywhere(monitors, 1.0);
    ExpectReadableEverywhere(monitors, 2.0);
    // Across the line between them.
    const LabelRoom room = Room(monitors, 1.0);
    ExpectReadable({1800, 600, 2000, 700}, room);
    ExpectReadable({1912, 700, 1928, 716}, room);
}

TEST(SelectionLabelsTest, AHintLongerThanAMonitorGoesAcrossTwoThatMeet) {
    // The English hint at scale 2 on two monitors half as wide as a common one.
    const QString hint = QStringLiteral("Enter - record this area, arrows - move it, Esc - cancel");
    const std::vector<QRect> monitors{QRect(0, 0, 960, 1080), QRect(960, 0, 960, 1080)};
    LabelRoom room = Room(monitors, 2.0);
    ASSERT_GT(room.widthOf(hint), 960);
    for (const TRect& r : {TRect{1500, 300, 1908, 700}, TRect{100, 100, 116, 116},
                           TRect{1904, 1060, 1920, 1076}, TRect{800, 0, 1120, 400}}) {
        room.keepClear =
            MagnifierRect({r.Right, r.Bottom}, MonitorAt({r.Right - 1, r.Bottom - 1}, monitors), 2);
        ExpectReadable(r, room, hint);
    }
}

TEST(SelectionLabelsTest, TheHintStaysAboveTheMouseOnItsMonitor) {
    const LabelRoom room = Room({QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 720)}, 1.0);
    const QString hint = QStringLiteral("Enter - accept");  // 140 x 24
    EXPECT_EQ(HintLabel({300, 400}, hint, room).at, QPoint(300, 370));
    EXPECT_EQ(HintLabel({300, 400}, hint, Room({QRect(0, 0, 1920, 1080)}, 2.0)).at,
              QPoint(300, 340));
    // At the top of a monitor, and at the right end of the second one.
    EXPECT_EQ(HintLabel({2000, 5}, hint, room).at, QPoint(2000, 0));
    EXPECT_EQ(HintLabel({3190, 300}, hint, room).at, QPoint(3200 - 140, 270));
    // Near the right end of the first monitor the hint stays on it.
    EXPECT_EQ(HintLabel({1900, 300}, hint, room).at, QPoint(1920 - 140, 270));

    EXPECT_EQ(MonitorAt({2500, 100}, room.monitors), QRect(1920, 0, 1280, 720));
    // Below the smaller monitor: the nearest one.
    EXPECT_EQ(MonitorAt({3000, 1000}, room.monitors), QRect(1920, 0, 1280, 720));
    EXPECT_EQ(MonitorAt({1000, 1000}, room.monitors), QRect(0, 0, 1920, 1080));
}

}  // namespace
