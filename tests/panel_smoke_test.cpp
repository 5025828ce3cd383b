#include "tests/panel_fixture.h"

#include "midi/midi_messages.h"

TEST_F(PanelTest, StartsWithTheMapperProgramZeroAndNoBacking)
{
    Start();
    const std::vector<DWORD> expected = {ProgramChangeMessage(0, 0), ProgramChangeMessage(1, 0),
                                         ProgramChangeMessage(0, 0), ProgramChangeMessage(1, 0)};
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 0:  Acoustic grand piano");
    CRect client;
    Panel().GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 600, 200));
}
