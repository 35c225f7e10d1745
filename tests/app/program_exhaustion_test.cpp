// The window program's whole life when memory runs out at any point: start-up,
// the window and its panes, the start-up paste, repairs of a growing text and
// the shut-down, swept over every allocation the life makes. Every run ends
// by itself without a crash, returns every heap and block, and never shows
// a text that is not the repair of the left pane.
#include "tests/app/program_driver.h"
#include "tests/exhaustion.h"

namespace {

// Greek capitals, a decomposed letter and Latin look-alikes, in pieces.
const std::u16string PASTED = u"\u0391\u0392\u0393 \u0438\u0306";

std::vector<ProgramDriver::Step> growing_text()
{
    return {
        [](HWND source, HWND) { ProgramDriver::type(source, u"\u039A"); },
        [](HWND source, HWND) { ProgramDriver::paste(source); },
        [](HWND source, HWND) { ProgramDriver::type(source, u"\u0138\u1D0F\u0299"); },
    };
}

const std::u16string FINAL_LEFT = PASTED + u"\u039A" + PASTED + u"\u0138\u1D0F\u0299";

// One life: it ends, leaves no heap, block or window behind, and has shown
// only repairs of the left pane (the driver checks that throughout).
ProgramLife one_life()
{
    ProgramDriver driver;
    ProgramLife life = driver.run(growing_text());
    const HeapUsage left = heap_usage();
    EXPECT_EQ(left.heaps, 0) << "heaps not destroyed";
    EXPECT_EQ(left.blocks, 0) << "blocks not returned";
    EXPECT_FALSE(life.window && IsWindow(life.window)) << "the window outlived the program";
    return life;
}

class ProgramExhaustion : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(put_on_clipboard(PASTED)); }
};

TEST_F(ProgramExhaustion, WithoutRefusalsTheLifeShowsEveryRepair)
{
    ProgramLife life = one_life();
    ASSERT_TRUE(life.window_opened);
    EXPECT_TRUE(life.closed);
    EXPECT_TRUE(life.last.left == FINAL_LEFT) << "the script's input did not all arrive";
    EXPECT_TRUE(life.last.right == model_pass(FINAL_LEFT));
    EXPECT_TRUE(life.last.title == MARKED_TITLE);
}

TEST_F(ProgramExhaustion, EveryRefusedAllocationEndsCleanlyAndShowsNoWrongRepair)
{
    sweep_both_ways("program exhaustion", [] { one_life(); });
}

}  // namespace
