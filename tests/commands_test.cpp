// The panel's commands: which action each id reaches, the menu bar and its contents, hiding and
// showing it with the caption, and the two help dialogs.

#include "app/dialog_resources.h"
#include "app/menu_resource.h"
#include "midi/midi_messages.h"
#include "platform/resources.h"
#include "res/resource_ids.h"
#include "tests/panel_fixture.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

std::string ItemText(const CMenu& menu, UINT idOrPosition, UINT flags)
{
    char text[128] = "";
    menu.GetMenuString(idOrPosition, text, sizeof text, flags);
    return text;
}

bool Checked(const CMenu& menu, UINT id) { return (menu.GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED) != 0; }

// Everything a command could change, to see that some change nothing.
struct PanelState {
    UINT program;
    int style;
    int keyOffset;
    int device;
    HMIDIOUT port;
    bool menuBar;
    CRect window;
    size_t dialogs;
    size_t messages;
    size_t calls;
    bool ended;
    bool operator==(const PanelState&) const = default;
};

class CommandTest : public PanelTest {
protected:
    PanelState State()
    {
        CRect window;
        Panel().GetWindowRect(&window);
        return {Panel().m_nProgram,
                Panel().m_nStyle,
                Panel().m_nKeyOffset,
                Panel().m_nDevice,
                Panel().m_hMidiOut,
                Panel().GetMenu() != nullptr,
                window,
                host.templateDialogs.size(),
                midi.AllMessages().size(),
                midi.Calls().size(),
                Panel().HasEnded()};
    }
    // Lets the knob's posted command run, as the message loop would after the current message.
    void Settle() { WindowManager::Instance().ProcessPosted(); }
    void CommandAndSettle(UINT id, WORD code = 0)
    {
        Command(id, code);
        Settle();
    }
    CMenu& Bar() { return Panel().m_menu; }
};

// ---- Dispatch ------------------------------------------------------------------------------------

TEST_F(CommandTest, EveryRangeReachesItsAction)
{
    StartAndForget();
    CommandAndSettle(ID_DEVICE_FIRST + 1);
    EXPECT_EQ(Panel().m_nDevice, 1);
    EXPECT_EQ(midi.DeviceOf(midi.LastHandle()), 1);

    CommandAndSettle(ID_PROGRAM_FIRST + 100);
    EXPECT_EQ(Panel().m_nProgram, 100u);
    CommandAndSettle(ID_PERCUSSION_MAP);
    EXPECT_EQ(Panel().m_nProgram, 128u);

    CommandAndSettle(ID_STYLE_FIRST + 5);
    EXPECT_EQ(Panel().m_nStyle, 5);
    CommandAndSettle(IDC_STYLE_FIRST + 3);
    EXPECT_EQ(Panel().m_nStyle, 3);

    CommandAndSettle(ID_KEY_UP);
    EXPECT_EQ(Panel().m_nKeyOffset, 1);
    CommandAndSettle(ID_KEY_DOWN);
    CommandAndSettle(ID_KEY_DOWN);
    EXPECT_EQ(Panel().m_nKeyOffset, -1);
    CommandAndSettle(IDC_KEY_FIRST);
    EXPECT_EQ(Panel().m_nKeyOffset, -7);
    CommandAndSettle(IDC_KEY_LAST);
    EXPECT_EQ(Panel().m_nKeyOffset, 4);

    CommandAndSettle(ID_KEYBOARD_MAPPING);
    CommandAndSettle(ID_APP_ABOUT);
    EXPECT_EQ(host.templateDialogs, (std::vector<UINT>{IDD_KEYBOARD_MAPPING, IDD_ABOUT}));

    CommandAndSettle(IDC_PROGRAM_UP);
    EXPECT_EQ(Panel().m_nProgram, 0u);
    CommandAndSettle(IDC_PROGRAM_DOWN);
    EXPECT_EQ(Panel().m_nProgram, 128u);
    EXPECT_FALSE(Panel().HasEnded());
}

TEST_F(CommandTest, IdsWithoutAnActionChangeNothing)
{
    StartAndForget();
    CommandAndSettle(ID_PROGRAM_FIRST + 7);
    CommandAndSettle(ID_STYLE_FIRST + 1);
    midi.ClearLog();
    const PanelState before = State();
    for (const UINT id : {32907u, 32916u, IDC_LED, 1026u, 1027u, 32919u, 57663u, 57665u, 99u, 149u}) {
        SCOPED_TRACE(id);
        CommandAndSettle(id);
        CommandAndSettle(id, BN_DOUBLECLICKED);
        EXPECT_EQ(State(), before);
    }
    // The Power, Menu and help buttons act on their click alone, never on a double-click.
    for (const UINT id : {IDC_POWER, IDC_MENU, IDC_HOTKEY, IDC_ABOUT}) {
        SCOPED_TRACE(id);
        CommandAndSettle(id, BN_DOUBLECLICKED);
        EXPECT_EQ(State(), before);
    }
}

TEST_F(CommandTest, TheNotificationCodeDoesNotMatterToTheRanges)
{
    StartAndForget();
    CommandAndSettle(IDC_PROGRAM_UP, BN_DOUBLECLICKED);
    EXPECT_EQ(Panel().m_nProgram, 1u);
    CommandAndSettle(ID_STYLE_FIRST + 4, BN_DOUBLECLICKED);
    EXPECT_EQ(Panel().m_nStyle, 4);
    CommandAndSettle(IDC_KEY_FIRST + 2, BN_DOUBLECLICKED);
    EXPECT_EQ(Panel().m_nKeyOffset, -5);
}

TEST_F(CommandTest, ADoubleClickStepsTheProgramTwiceButTogglesTheMenuBarOnce)
{
    StartAndForget();
    const CPoint up = Centre(Panel().m_btnProgramUp);
    host.Click(Top(), up);
    host.Advance(100);
    host.Click(Top(), up);
    EXPECT_EQ(Panel().m_nProgram, 2u);

    host.Advance(1000);
    const CPoint menu = Centre(Panel().m_btnMenu);
    host.Click(Top(), menu);
    ASSERT_EQ(Panel().GetMenu(), nullptr);
    // The first click moved the window; the button sits at the same client place.
    host.Advance(100);
    host.Click(Top(), menu);
    EXPECT_EQ(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 0); // the light follows the menu bar
}

TEST_F(CommandTest, StyleButtonsAndBackingItemsReachTheSameStyle)
{
    StartAndForget();
    struct Outcome {
        int style;
        std::array<bool, 8> checked;
        std::array<int, 8> lit;
        bool timer;
        std::uint64_t wait;
        bool operator==(const Outcome&) const = default;
    };
    const auto outcome = [&] {
        Outcome o{Panel().m_nStyle, {}, {}, host.TimerRunning(Top(), 0), 0};
        for (int s = 0; s < 8; ++s) {
            o.checked[s] = Checked(Bar(), ID_STYLE_FIRST + s);
            o.lit[s] = Panel().m_btnStyle[s].m_bOn;
        }
        if (o.timer)
            o.wait = host.TimerDue(Top(), 0) - host.Now();
        return o;
    };
    for (int s = 0; s < 8; ++s) {
        SCOPED_TRACE(s);
        host.Click(Top(), Centre(Panel().m_btnStyle[s]));
        const Outcome byButton = outcome();
        EXPECT_EQ(byButton.style, s);
        host.Advance(1000);
        ClickOn(Panel().m_btnStyle[0]);
        CommandAndSettle(ID_STYLE_FIRST + s);
        EXPECT_EQ(outcome(), byButton);
        CommandAndSettle(ID_STYLE_FIRST);
    }
}

TEST_F(CommandTest, ProgramButtonsWrapBetweenZeroAndThePercussionMap)
{
    StartAndForget();
    ClickOn(Panel().m_btnProgramDown);
    EXPECT_EQ(Panel().m_nProgram, 128u);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 128:  Percussion Map");
    ClickOn(Panel().m_btnProgramUp);
    EXPECT_EQ(Panel().m_nProgram, 0u);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 0:  Acoustic grand piano");

    CommandAndSettle(ID_PROGRAM_FIRST + 77);
    for (CRackButton* button : {&Panel().m_btnProgramUp, &Panel().m_btnProgramDown}) {
        std::vector<UINT> seen;
        for (int step = 0; step < 129; ++step) {
            ClickOn(*button);
            seen.push_back(Panel().m_nProgram);
            ASSERT_EQ(Panel().m_knob.m_nPosition, static_cast<int>(Panel().m_nProgram));
        }
        EXPECT_EQ(Panel().m_nProgram, 77u);
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()); // every choice once
    }
}

// ---- Menu resource 128 -------------------------------------------------------------------------------

// clang-format off
const char* const kGroupTitles[16] = {
    "Piano", "Chromatic Percussion", "Organ", "Guitar", "Bass", "Strings", "Ensemble", "Brass",
    "Reed", "Pipe", "Synth Lead", "Synth Pad", "Synth Effect", "Ethnic", "Percussive", "Sound Effects",
};
const char* const kProgramNames[128] = {
    "Acoustic grand piano", "Bright acoustic piano", "Electric", "Honky-tonk piano",
    "Rhodes piano", "Chorused piano", "Harpsichord", "Clavinet",
    "Celesta", "Glockenspiel", "Music box", "Vibraphone", "Marimba", "Xylophone", "Tubular bells", "Dulcimer",
    "Hammond organ", "Percussive organ", "Rock organ", "Church organ",
    "Reed organ", "Accordion", "Harmonica", "Tango accordion",
    "Acoustic guitar (nylon)", "Acoustic guitar (steel)", "Electric guitar (jazz)", "Electric guitar (clean)",
    "Electric guitar (muted)", "Overdriven guitar", "Distortion guitar", "Guitar harmonics",
    "Acoustic bass", "Electric bass (finger)", "Electric bass (pick)", "Fretless bass",
    "Slap bass 1", "Slap bass 2", "Synth bass 1", "Synth bass 2",
    "Violin", "Viola", "Cello", "Contrabass", "Tremolo strings", "Pizzicato bass", "Orchestral harp", "Timpani",
    "String ensemble 1", "String ensemble 2", "Synth. ensemble 1", "Synth. ensemble 2",
    "Choir Aahs", "Voice Oohs", "Synth voice", "Orchestra hit",
    "Trumpet", "Trombone", "Tuba", "Muted trumpet", "French horn", "Brass section", "Synth. brass 1", "Synth. brass 2",
    "Soprano sax", "Alto sax", "Tenor sax", "Baritone sax", "Oboe", "English horn", "Bassoon", "Clarinet",
    "Piccolo", "Flute", "Recorder", "Pan flute", "Bottle blow", "Shakuhachi", "Whistle", "Ocarina",
    "Lead 1 (square)", "Lead 2 (sawtooth)", "Lead 3 (calliope lead)", "Lead 4 (chiff lead)",
    "Lead 5 (charang)", "Lead 6 (voice)", "Lead 7 (fifths)", "Lead 8 (brass + lead)",
    "Pad 1 (new age)", "Pad 2 (warm)", "Pad 3 (polysynth)", "Pad 4 (choir)",
    "Pad 5 (bowed)", "Pad 6 (metallic)", "Pad 7 (halo)", "Pad 8 (sweep)",
    "FX 1 (rain)", "FX 2 (sound track)", "FX 3 (crystal)", "FX 4 (atmosphere)",
    "FX 5 (brightness)", "FX 6 (golblins)", "FX 7 (echoes)", "FX 8 (sci-fi)",
    "Sitar", "Banjo", "Shamisen", "Koto", "Kalimba", "Bag Pipe", "Fiddle", "Shanai",
    "Tinkle Bell", "Agogo", "Steel Drums", "Wood block", "Taiko Drum", "Melodic Tom", "Synth Drum", "Reverse Cymbal",
    "Guitar fret noise", "Breath noise", "Seashore", "Bird tweet",
    "Telephone ring", "Helicopter", "Applause", "Gunshot",
};
// clang-format on

struct Entry {
    UINT id;
    const char* text;
};

void ExpectItems(const CMenu& popup, std::initializer_list<Entry> entries)
{
    ASSERT_EQ(popup.GetMenuItemCount(), static_cast<int>(entries.size()));
    int position = 0;
    for (const Entry& entry : entries) {
        EXPECT_EQ(popup.GetMenuItemID(position), entry.id) << position;
        EXPECT_EQ(ItemText(popup, static_cast<UINT>(position), MF_BYPOSITION), entry.text) << position;
        ++position;
    }
}

int CountMarks(const CMenu& menu)
{
    int marks = 0;
    for (const CMenu::Item& item : menu.Items()) {
        marks += item.checked ? 1 : 0;
        if (item.popup)
            marks += CountMarks(*item.popup);
    }
    return marks;
}

TEST(MenuResourceTest, FivePopupsWithEveryItemAndNoMarks)
{
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(MainMenuResource()));
    ASSERT_EQ(menu.GetMenuItemCount(), 5);
    const char* const titles[5] = {"Play &Thru", "&Instrument", "&Backing", "&Key", "&Help"};
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(ItemText(menu, static_cast<UINT>(p), MF_BYPOSITION), titles[p]);
        ASSERT_NE(menu.GetSubMenu(p), nullptr);
    }
    EXPECT_EQ(CountMarks(menu), 0);

    ExpectItems(*menu.GetSubMenu(0), {{ID_MIDI_MAPPER, "&Midi Mapper"}});
    ExpectItems(*menu.GetSubMenu(2), {{32908, "&None"},
                                      {32909, "&Waltz"},
                                      {32910, "&Rock"},
                                      {32911, "&March"},
                                      {32912, "&Cha-Cha"},
                                      {32913, "R&umba"},
                                      {32914, "&Tango"},
                                      {32915, "&Disco"}});
    ExpectItems(*menu.GetSubMenu(3), {{32917, "Key &Up \tF12"}, {32918, "Key &Down \tF11"}});
    ExpectItems(*menu.GetSubMenu(4), {{57664, "&About Varnek"}, {32906, "&Keyboard Mapping"}});

    const CMenu& instruments = *menu.GetSubMenu(1);
    ASSERT_EQ(instruments.GetMenuItemCount(), 17);
    for (int g = 0; g < 16; ++g) {
        SCOPED_TRACE(kGroupTitles[g]);
        EXPECT_EQ(ItemText(instruments, static_cast<UINT>(g), MF_BYPOSITION), kGroupTitles[g]);
        const CMenu* group = instruments.GetSubMenu(g);
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(group->GetMenuItemCount(), 8);
        for (int k = 0; k < 8; ++k) {
            const int program = 8 * g + k;
            EXPECT_EQ(group->GetMenuItemID(k), ID_PROGRAM_FIRST + static_cast<UINT>(program));
            EXPECT_EQ(ItemText(*group, static_cast<UINT>(k), MF_BYPOSITION), kProgramNames[program]);
        }
    }
    EXPECT_EQ(instruments.GetSubMenu(16), nullptr);
    EXPECT_EQ(instruments.GetMenuItemID(16), ID_PERCUSSION_MAP);
    EXPECT_EQ(ItemText(instruments, 16, MF_BYPOSITION), "Percussion Map");
}

// ---- Hiding and showing the menu bar ------------------------------------------------------------------

TEST_F(CommandTest, TheMenuButtonHidesAndShowsMenuBarAndCaptionWithoutMovingTheRack)
{
    StartAndForget();
    CRect shown;
    Panel().GetWindowRect(&shown);
    ASSERT_EQ(shown, CRect(209, 244, 815, 484));
    CPoint rack(0, 0);
    Panel().ClientToScreen(&rack);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 1);

    ClickOn(Panel().m_btnMenu);
    CRect bare;
    Panel().GetWindowRect(&bare);
    EXPECT_EQ(bare, CRect(212, 285, 812, 485));
    EXPECT_EQ(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().GetStyle() & (WS_CAPTION | DS_MODALFRAME | DS_3DLOOK), 0u);
    EXPECT_EQ(Panel().GetExStyle() & WS_EX_DLGMODALFRAME, 0u);
    CPoint bareRack(0, 0);
    Panel().ClientToScreen(&bareRack);
    EXPECT_EQ(bareRack, rack);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 0);

    // The menu keeps its marks while hidden.
    CommandAndSettle(ID_PROGRAM_FIRST + 40);
    EXPECT_TRUE(Checked(Bar(), ID_PROGRAM_FIRST + 40));

    ClickOn(Panel().m_btnMenu);
    CRect again;
    Panel().GetWindowRect(&again);
    EXPECT_EQ(again, shown);
    EXPECT_EQ(Panel().GetMenu(), &Panel().m_menu);
    EXPECT_EQ(Panel().GetStyle() & (WS_CAPTION | DS_MODALFRAME | DS_3DLOOK),
              WS_CAPTION | DS_MODALFRAME | DS_3DLOOK);
    EXPECT_EQ(Panel().GetExStyle() & WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME);
    CRect client;
    Panel().GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 600, 200));
    CPoint shownRack(0, 0);
    Panel().ClientToScreen(&shownRack);
    EXPECT_EQ(shownRack, rack);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 1);
    EXPECT_TRUE(Checked(Bar(), ID_PROGRAM_FIRST + 40));
}

// ---- Help dialogs ------------------------------------------------------------------------------------

TEST_F(CommandTest, EachHelpDialogOpensFromItsButtonAndItsMenuItemOwnedByThePanel)
{
    StartAndForget();
    ClickOn(Panel().m_btnHotKey);
    CommandAndSettle(ID_KEYBOARD_MAPPING);
    ClickOn(Panel().m_btnAbout);
    CommandAndSettle(ID_APP_ABOUT);
    EXPECT_EQ(host.templateDialogs,
              (std::vector<UINT>{IDD_KEYBOARD_MAPPING, IDD_KEYBOARD_MAPPING, IDD_ABOUT, IDD_ABOUT}));
    for (CWnd* owner : host.templateDialogOwners)
        EXPECT_EQ(owner, Top());
    EXPECT_FALSE(Panel().HasEnded());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandTest, TheBackingPlaysOnWhileAHelpDialogIsOpen)
{
    StartAndForget();
    CommandAndSettle(ID_STYLE_FIRST + 2); // Rock, 300 ms
    std::size_t during = 0;
    host.onTemplateDialog = [&](const DialogTemplate&) {
        const std::size_t before = Sent().size();
        host.Advance(900);
        during = Sent().size() - before;
    };
    ClickOn(Panel().m_btnHotKey);
    EXPECT_GT(during, 0u);
}

TEST(HelpDialogTest, KeyboardMappingIsAKeyboardOfRaisedCentredLabelsWithTheSpaceBarAsItsButton)
{
    const DialogTemplate& d = g_dlgKeyboardMapping;
    EXPECT_EQ(d.id, IDD_KEYBOARD_MAPPING);
    EXPECT_STREQ(d.caption, "Keyboard Mapping");
    EXPECT_EQ(CRect(d.x, d.y, d.cx, d.cy), CRect(0, 0, 329, 146));
    EXPECT_EQ(d.style & (WS_SYSMENU | DS_MODALFRAME | WS_CAPTION), WS_SYSMENU | DS_MODALFRAME | WS_CAPTION);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_STREQ(d.typeface, "MS Sans Serif");

    std::vector<const DialogControl*> labels;
    const DialogControl* button = nullptr;
    for (const DialogControl& c : d.controls) {
        if (c.kind == DialogControlKind::Static)
            labels.push_back(&c);
        else if (c.kind == DialogControlKind::Button && button == nullptr)
            button = &c;
        else
            ADD_FAILURE() << "unexpected control " << c.text;
    }
    ASSERT_EQ(labels.size(), 70u);
    const auto area = [](const DialogControl& c) { return CRect(c.x, c.y, c.x + c.cx, c.y + c.cy); };
    for (const DialogControl* label : labels) {
        SCOPED_TRACE(label->text);
        EXPECT_EQ(label->style & (SS_CENTER | WS_VISIBLE), SS_CENTER | WS_VISIBLE);
        EXPECT_EQ(label->exStyle & WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME);
        // Key caps lie inside the dialog and never on one another or on the space bar.
        EXPECT_EQ(area(*label).Intersect(CRect(0, 0, d.cx, d.cy)), area(*label));
        for (const DialogControl* other : labels) {
            if (other != label) {
                EXPECT_TRUE(area(*label).Intersect(area(*other)).IsRectEmpty()) << other->text;
            }
        }
        if (button != nullptr) {
            EXPECT_TRUE(area(*label).Intersect(area(*button)).IsRectEmpty());
        }
    }
    // A few caps, with the notes they name.
    for (const char* cap : {"Esc", "F1\nF", "F11\nK-Dn", "F12\nK-Up", "Back\nSpace", "Enter", "?\nE", "Ctrl"})
        EXPECT_NE(std::find_if(labels.begin(), labels.end(),
                               [&](const DialogControl* c) { return std::string(c->text) == cap; }),
                  labels.end())
            << cap;
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->id, IDOK);
    EXPECT_STREQ(button->text, "Space  (Exit)");
    EXPECT_EQ(CRect(button->x, button->y, button->cx, button->cy), CRect(92, 119, 147, 20));
    EXPECT_EQ(button->style & (BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE),
              BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE);
}

TEST(HelpDialogTest, AboutShowsTheLogoTheVersionAndOk)
{
    const DialogTemplate& d = g_dlgAbout;
    EXPECT_EQ(d.id, IDD_ABOUT);
    EXPECT_STREQ(d.caption, "About Varnek");
    EXPECT_EQ(CRect(d.x, d.y, d.cx, d.cy), CRect(34, 22, 144, 75));
    EXPECT_EQ(d.style & (WS_SYSMENU | DS_MODALFRAME | WS_CAPTION), WS_SYSMENU | DS_MODALFRAME | WS_CAPTION);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_STREQ(d.typeface, "Helv");
    ASSERT_EQ(d.controls.size(), 3u);

    const DialogControl& logo = d.controls[0];
    EXPECT_EQ(logo.kind, DialogControlKind::Picture);
    EXPECT_EQ(CPoint(logo.x, logo.y), CPoint(56, 7));
    EXPECT_FALSE(FindResourceBytes(ResourceKind::Bitmap, logo.text).empty());
    EXPECT_FALSE(FindResourceBytes(ResourceKind::Bitmap, MAKEINTRESOURCE(IDB_LOGO)).empty());

    const DialogControl& version = d.controls[1];
    EXPECT_EQ(version.kind, DialogControlKind::Static);
    EXPECT_STREQ(version.text, "Varnek Version 1.0");
    EXPECT_EQ(CRect(version.x, version.y, version.cx, version.cy), CRect(0, 23, 144, 8));
    EXPECT_EQ(version.style & SS_CENTER, SS_CENTER);

    const DialogControl& ok = d.controls[2];
    EXPECT_EQ(ok.kind, DialogControlKind::Button);
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_STREQ(ok.text, "OK");
    EXPECT_EQ(CRect(ok.x, ok.y, ok.cx, ok.cy), CRect(56, 53, 32, 14));
    EXPECT_EQ(ok.style & (BS_DEFPUSHBUTTON | WS_TABSTOP), BS_DEFPUSHBUTTON | WS_TABSTOP);
}

} // namespace
