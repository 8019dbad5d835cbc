// The status line's choice of text: which save outcome counts, and which reason comes first.
#include "view/status_line.h"

#include <gtest/gtest.h>

#include "protocol/reply_decoder.h"

namespace zrv {
namespace {

// The window cannot easily order a refusal after a later save; here it can.
TEST(StatusLine, AnEarlierSavesLateRefusalDoesNotSpeakForTheLatestOne) {
  StatusLine line;
  const std::uint32_t first = line.SaveSent();
  const std::uint32_t second = line.SaveSent();
  EXPECT_NE(first, second);
  line.SaveWritten(first, false);
  EXPECT_EQ(line.Text(), kSettingsSaveSentText);
  line.Acknowledged();
  EXPECT_EQ(line.Text(), kSettingsSavedText);
}

TEST(StatusLine, NoAccessComesBeforeNoAnswerWhichComesBeforeTheSave) {
  StatusLine line;
  line.SaveNotSent();
  EXPECT_TRUE(line.WatchExpired(true));
  EXPECT_EQ(line.Text(), kNoAnswerText);
  EXPECT_FALSE(line.WatchExpired(true));  // stays, and says it did not change

  line.SetNoAccess("/dev/hidraw7");
  EXPECT_EQ(line.Text(),
            "Driver found, but /dev/hidraw7 cannot be opened for read/write: install the udev rule (see README)");
  line.SetNoAccess({});
  EXPECT_EQ(line.Text(), kNoAnswerText);

  EXPECT_TRUE(line.ReplyArrived());
  EXPECT_EQ(line.Text(), kSettingsNotSavedText);
  EXPECT_FALSE(line.ReplyArrived());
  // Not connected: a shown reason goes, and silence counts for nothing.
  line.WatchExpired(true);
  EXPECT_EQ(line.Text(), kNoAnswerText);
  EXPECT_TRUE(line.WatchExpired(false));
  EXPECT_FALSE(line.WatchExpired(false));
  EXPECT_EQ(line.Text(), kSettingsNotSavedText);
  // A rebuilt connection starts without the reason.
  line.WatchExpired(true);
  line.ConnectionRebuilt();
  EXPECT_EQ(line.Text(), kSettingsNotSavedText);
}

// A note (where a recording or a capture went) and a save outcome share the line: the latest
// event shows, a stray acknowledgement after a failed save does not push a note aside, and the
// reasons why nothing works still come first.
TEST(StatusLine, TheLatestOfANoteAndASaveOutcomeShows) {
  StatusLine line;
  line.Note("Fault captured to ~/captures/a.csv");
  EXPECT_EQ(line.Text(), "Fault captured to ~/captures/a.csv");
  line.SaveSent();
  EXPECT_EQ(line.Text(), kSettingsSaveSentText);
  line.Note("Recording stopped: disk full");
  line.Acknowledged();
  EXPECT_EQ(line.Text(), kSettingsSavedText);
  line.SaveNotSent();
  line.Note("Recording to ~/x.csv");
  line.Acknowledged();  // after a failed save: not "saved", and the note stays
  EXPECT_EQ(line.Text(), "Recording to ~/x.csv");
  line.WatchExpired(true);
  EXPECT_EQ(line.Text(), kNoAnswerText);
}

}  // namespace
}  // namespace zrv
