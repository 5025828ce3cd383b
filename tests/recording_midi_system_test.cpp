#include "tests/recording_midi_system.h"

#include <gtest/gtest.h>

TEST(RecordingMidiSystem, OpenFailuresRunOutAfterTheirCount)
{
    RecordingMidiSystem system({"Port"});
    system.FailOpens(0, 2);
    system.FailOpens(-1);
    std::uintptr_t handle = 0;
    EXPECT_FALSE(system.Open(0, handle));
    EXPECT_FALSE(system.Open(0, handle));
    EXPECT_TRUE(system.Open(0, handle));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(system.Open(-1, handle));
    EXPECT_FALSE(system.Open(1, handle)); // no such device
    EXPECT_EQ(system.Calls().size(), 9u);
}

TEST(RecordingMidiSystem, KeepsMessagesOfClosedHandlesAndCountsRefusedSends)
{
    RecordingMidiSystem system;
    std::uintptr_t handle = 0;
    ASSERT_TRUE(system.Open(-1, handle));
    EXPECT_TRUE(system.Send(handle, 0x90));
    EXPECT_TRUE(system.Close(handle));
    EXPECT_FALSE(system.Send(handle, 0x91));
    EXPECT_FALSE(system.Close(handle));
    EXPECT_EQ(system.Messages(handle), std::vector<DWORD>{0x90});
    EXPECT_EQ(system.RejectedSends(), 1);
    EXPECT_EQ(system.Calls(), (std::vector<std::string>{"open -1", "close 1", "close 1"}));

    system.ClearLog();
    EXPECT_TRUE(system.Calls().empty());
    EXPECT_TRUE(system.AllMessages().empty());
}
