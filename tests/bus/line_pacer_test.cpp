#include <gtest/gtest.h>

#include "bus/line_pacer.h"

namespace zrv::bus {
namespace {

// At 9600 baud a character of 11 bits takes 1145.8 µs.
TEST(LinePacerTest, CharactersCrossOneByOneAtElevenBitsEach) {
  LinePacer pacer(9600);
  pacer.Queue(10, 1000);
  EXPECT_EQ(pacer.Take(1000 + 1145), 0u);
  EXPECT_EQ(pacer.NextDueUs(), 1000u + 1146u);
  EXPECT_EQ(pacer.Take(1000 + 1146), 1u);
  EXPECT_EQ(pacer.Take(1000 + 1146), 0u);  // taken once only
  EXPECT_EQ(pacer.Take(1000 + 5729), 3u);  // 4.999 characters by then
  EXPECT_EQ(pacer.Waiting(), 6u);
  EXPECT_EQ(pacer.Take(1000 + 1000000), 6u);  // never more than was queued
  EXPECT_EQ(pacer.Waiting(), 0u);
}

TEST(LinePacerTest, ABusyLineCarriesMoreAfterWhatItHasAndAnIdleOneStartsAfresh) {
  LinePacer pacer(115200);  // 95.49 µs a character
  pacer.Queue(8, 0);
  EXPECT_EQ(pacer.Take(300), 3u);
  pacer.Queue(8, 300);  // joins the spell: the ninth character is due after 8 more times
  EXPECT_EQ(pacer.Take(16 * 955 / 10 + 1), 13u);
  // Idle long after: the next character takes its own time from when it is queued.
  pacer.Queue(1, 1000000);
  EXPECT_EQ(pacer.Take(1000000 + 95), 0u);
  EXPECT_EQ(pacer.Take(1000000 + 96), 1u);
  // Queued back to back with the last spell's end: it cannot start before that end.
  pacer.Queue(2, 1000000 + 96);
  EXPECT_EQ(pacer.Take(1000000 + 96 + 190), 1u);
  EXPECT_EQ(pacer.Take(1000000 + 96 + 192), 1u);
}

}  // namespace
}  // namespace zrv::bus
