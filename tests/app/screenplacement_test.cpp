#include "app/screenplacement.h"

#include <gtest/gtest.h>

using namespace tarnwick::app;

namespace {

std::string text(const ScreenRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

} // namespace

TEST(ScreenPlacement, WholeWindowWithFrameOnTheAvailableArea)
{
    const FrameMargins openbox{1, 12, 1, 3};
    const ScreenRect half{0, 0, 800, 500}; // 1600x1000 at 200%
    const struct {
        const char* name;
        ScreenRect wanted;
        FrameMargins frame;
        ScreenRect available;
        int minWidth, minHeight;
        ScreenRect placed;
    } cases[] = {
        {"fits as it is", {100, 80, 600, 300}, openbox, half, 1, 1, {100, 80, 600, 300}},
        {"saved on a larger screen", {40, 30, 2360, 1280}, openbox, half, 1, 1, {1, 12, 798, 485}},
        {"client at the top edge puts the title bar above it",
         {0, 0, 640, 420},
         openbox,
         half,
         1,
         1,
         {1, 12, 640, 420}},
        {"past the right and bottom edges moves back whole",
         {500, 300, 400, 250},
         openbox,
         half,
         1,
         1,
         {399, 247, 400, 250}},
        {"left of the screen", {-900, 100, 300, 200}, openbox, half, 1, 1, {1, 100, 300, 200}},
        {"panel above the available area", {10, 0, 300, 200}, openbox, {0, 28, 800, 472}, 1, 1, {10, 40, 300, 200}},
        {"least size larger than the area keeps the top-left corner",
         {300, 200, 700, 600},
         openbox,
         half,
         900,
         560,
         {1, 12, 900, 560}},
        {"second screen to the right", {1700, 50, 600, 400}, {}, {1600, 0, 1920, 1050}, 1, 1, {1700, 50, 600, 400}},
        {"no frame known", {-5, -5, 100, 100}, {}, half, 1, 1, {0, 0, 100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text(placeOnScreen(c.wanted, c.frame, c.available, c.minWidth, c.minHeight)), text(c.placed));
    }
}

TEST(ScreenPlacement, ScreenHoldingMostOfTheWindow)
{
    const std::vector<ScreenRect> two = {{0, 0, 1600, 1000}, {1600, 0, 1920, 1080}};
    const struct {
        const char* name;
        std::vector<ScreenRect> screens;
        ScreenRect window;
        std::size_t screen;
    } cases[] = {
        {"on the primary", two, {100, 100, 800, 600}, 0},
        {"on the second", two, {1700, 100, 800, 600}, 1},
        {"straddling, more on the second", two, {1500, 100, 800, 600}, 1},
        {"on a screen that is gone", two, {4000, 2000, 800, 600}, 0},
        {"no screens", {}, {0, 0, 10, 10}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(screenFor(c.screens, c.window), c.screen);
    }
}
