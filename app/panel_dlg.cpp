#include "app/panel_dlg.h"

#include "app/dialog_resources.h"
#include "app/menu_resource.h"
#include "platform/midi_in.h"
#include "res/resource_ids.h"

namespace {
constexpr int kSystemIconSize = 32;

// Where each rack button sits and which images it shows: on up, on pressed, off up,
// off pressed (null where none is given), whether it starts lit, and the name a screen reader
// gives it: the label engraved beside it.
struct ButtonPlace {
    UINT id;
    int x, y;
    const char* onUp;
    const char* onDown;
    const char* offUp;
    const char* offDown;
    int initiallyOn;
    const char* label;
};

// clang-format off
constexpr ButtonPlace kFrontButtons[] = {
    {IDC_POWER,        36,  53, "RED_ON_U",   "RED_ON_D",   "ALL_OFF_U", "ALL_OFF_D", 1, "POWER"},
    {IDC_MENU,        537,  32, "GREEN_ON_U", "GREEN_ON_D", "ALL_OFF_U", "ALL_OFF_D", 1, "MENU"},
    {IDC_HOTKEY,      537,  53, "NORMAL_U",   "NORMAL_D",   nullptr,     nullptr,     1, "HOT-KEY"},
    {IDC_ABOUT,       537,  74, "NORMAL_U",   "NORMAL_D",   nullptr,     nullptr,     1, "ABOUT"},
    {IDC_PROGRAM_DOWN, 274, 81, "PROGRAM_U",  "PROGRAM_D",  nullptr,     nullptr,     1, "Program down"},
    {IDC_PROGRAM_UP,  319,  81, "PROGRAM_U",  "PROGRAM_D",  nullptr,     nullptr,     1, "Program up"},
};

// The chord key lamps, F to E, all at y = 122; C starts lit.
constexpr int kKeyLampX[CPanelDlg::kKeyLampCount] = {23, 35, 45, 55, 65, 75, 87, 103, 115, 125, 135, 147};
constexpr int kKeyLampY = 122;

// The backing style buttons: None, Waltz, Rock, March on the left, Cha-Cha, Rumba, Tango,
// Disco on the right; None starts lit.
constexpr CPoint kStyleButton[CPanelDlg::kStyleCount] = {
    {174, 64}, {158, 80}, {158, 96}, {174, 112}, {396, 64}, {412, 80}, {412, 96}, {396, 112},
};
constexpr const char* kStyleLabel[CPanelDlg::kStyleCount] = {
    "NONE", "WALTZ", "ROCK", "MARCH", "CHA-CHA", "RUMBA", "TANGO", "DISCO",
};
// clang-format on

constexpr CPoint kLedPlace{200, 24};
constexpr int kKeyTop = 128;
constexpr CPoint kKnobCreatedAt{299, 89};
constexpr CPoint kKnobCentre{297, 87};
constexpr int kKnobRadius = 13;

// Within an octave starting at F, the black keys are F#, G#, A#, C# and D#.
constexpr bool IsBlackKey(int index)
{
    const int n = index % 12;
    return n == 1 || n == 3 || n == 5 || n == 8 || n == 10;
}

// White keys stand side by side every 20 pixels from x = 20; a black key sits 13 pixels
// right of the white key below it.
constexpr int KeyLeft(int index)
{
    const int n = index % 12;
    const int octave = index / 12;
    return IsBlackKey(index) ? 20 * (7 * octave + n / 2) + 33 : 20 * (7 * octave + (n + 1) / 2 + 1);
}
} // namespace

CPanelDlg::CPanelDlg() : CDialog(g_dlgPanel, nullptr)
{
    m_hIcon = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCE(IDI_PANEL));
}

CPanelDlg::~CPanelDlg()
{
    midiInListen(nullptr);
    DestroyWindow();
}

// ---- Set-up --------------------------------------------------------------------------------

BOOL CPanelDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_dibRack.LoadFromResource(AfxGetResourceHandle(), "RACK");
    ModifyStyle(WS_MAXIMIZEBOX, 0);

    // The client area is exactly the rack, under the menu bar attached below.
    const FrameInsets frame = InsetsFor(true, true);
    SetWindowPos(nullptr, 0, 0, m_dibRack.m_info.bmWidth + frame.left + frame.right,
                 m_dibRack.m_info.bmHeight + frame.top + frame.bottom, SWP_NOMOVE | SWP_NOZORDER);
    CentreOnWorkArea();

    m_menu.LoadMenu(MainMenuResource());
    SetMenu(&m_menu);
    PlaceButtons();
    m_led.Place(kLedPlace.x, kLedPlace.y, IDC_LED, this, "LED");
    CreateKeys();
    FillPlayThruMenu();

    m_nDevice = -1;
    m_nProgram = 0;
    m_nStep = 0;
    m_nStyle = 0;
    m_nKeyOffset = 0;

    m_knob.Create(nullptr, "Program", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                  CRect(kKnobCreatedAt.x, kKnobCreatedAt.y, 0, 0), this, IDC_KNOB);
    m_knob.SetGeometry(kKnobCentre.x, kKnobCentre.y, kKnobRadius, static_cast<int>(m_nProgram));

    ApplySettings();
    // A MIDI controller plays through the output just opened, as the keys play.
    midiInListen(this);
    return TRUE;
}

void CPanelDlg::CentreOnWorkArea()
{
    // On the part of the screen that windows may take: a taskbar or a dock beside it does not
    // push the window off its middle.
    CRect window;
    GetWindowRect(&window);
    const CRect work = GetWorkArea();
    int left = (work.left + work.right) / 2 - window.Width() / 2;
    int top = (work.top + work.bottom) / 2 - window.Height() / 2;
    if (left < work.left)
        left = work.left;
    else if (left + window.Width() > work.right)
        left = work.right - window.Width();
    if (top < work.top)
        top = work.top;
    else if (top + window.Height() > work.bottom)
        top = work.bottom - window.Height();
    SetWindowPos(nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CPanelDlg::PlaceButtons()
{
    const auto place = [this](CRackButton& button, const ButtonPlace& p) {
        button.Place(p.x, p.y, p.id, this, p.onUp, p.onDown, p.offUp, p.offDown, p.initiallyOn);
        button.Describe(p.label, AccessibleRole::Button, false);
    };
    CRackButton* const front[] = {&m_btnPower, &m_btnMenu,        &m_btnHotKey,
                                  &m_btnAbout, &m_btnProgramDown, &m_btnProgramUp};
    for (size_t i = 0; i < std::size(front); ++i)
        place(*front[i], kFrontButtons[i]);
    for (int i = 0; i < kKeyLampCount; ++i) {
        const UINT id = IDC_KEY_FIRST + static_cast<UINT>(i);
        m_btnKeyLed[i].Place(kKeyLampX[i], kKeyLampY, id, this, "YELLOW_ON", nullptr, "YELLOW_OFF", nullptr,
                             id == IDC_KEY_C ? 1 : 0);
        // Named by the note written above it, which is its window text.
        m_btnKeyLed[i].Describe(nullptr, AccessibleRole::RadioButton, true, "Chord key");
    }
    for (int s = 0; s < kStyleCount; ++s) {
        m_btnStyle[s].Place(kStyleButton[s].x, kStyleButton[s].y, IDC_STYLE_FIRST + static_cast<UINT>(s),
                            this, "GREEN_ON_U", "GREEN_ON_D", "ALL_OFF_U", "ALL_OFF_D", s == 0 ? 1 : 0);
        m_btnStyle[s].Describe(kStyleLabel[s], AccessibleRole::Button, true, "Backing");
    }
}

void CPanelDlg::CreateKeys()
{
    constexpr DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    // Black keys first: siblings created earlier lie above, so the black keys cover the
    // white keys they overlap and take the mouse there.
    for (const bool black : {true, false}) {
        for (int i = 0; i < kKeyCount; ++i) {
            if (IsBlackKey(i) != black)
                continue;
            CPianoKey& key = m_keys[i];
            key.m_bWhite = black ? FALSE : TRUE;
            key.m_pKeyboard = &midiHeldKeys();
            key.Create(nullptr, black ? "Black Note" : "White Note", style, CRect(KeyLeft(i), kKeyTop, 0, 0),
                       this, IDC_PIANO_FIRST + static_cast<UINT>(i));
            key.m_nNote = 29 + i;
        }
    }
}

void CPanelDlg::ApplySettings()
{
    OnPlayThru(static_cast<UINT>(static_cast<int>(ID_DEVICE_FIRST) + m_nDevice));
    OnInstrument(ID_PROGRAM_FIRST + m_nProgram);
    OnBackingStyle(ID_STYLE_FIRST + static_cast<UINT>(m_nStyle));
}

// ---- Painting ------------------------------------------------------------------------------

void CPanelDlg::OnPaint()
{
    CPaintDC dc(this);
    if (IsIconic()) {
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        CRect client;
        GetClientRect(&client);
        const int x = (client.Width() - kSystemIconSize + 1) / 2;
        const int y = (client.Height() - kSystemIconSize + 1) / 2;
        DrawIcon(dc, x, y, m_hIcon);
        return;
    }
    m_dibRack.Draw(dc, nullptr, nullptr, TRUE, nullptr, FALSE);
}

HICON CPanelDlg::OnQueryDragIcon() { return m_hIcon; }

// ---- Ending --------------------------------------------------------------------------------

void CPanelDlg::OnPower()
{
    CloseMidiOut();
    EndDialog(1);
}

void CPanelDlg::OnClose()
{
    CloseMidiOut();
    // The dialog's own handling turns the close request into Cancel, which ends the panel.
    Default();
}

BOOL CPanelDlg::OnCmdMsg(UINT id, int code)
{
    // The click handlers of the panel's own buttons.
    if (code == BN_CLICKED) {
        switch (id) {
        case IDC_POWER:
            OnPower();
            return TRUE;
        case IDC_HOTKEY:
            ShowKeyboardMapping();
            return TRUE;
        case IDC_ABOUT:
            ShowAbout();
            return TRUE;
        case IDC_MENU:
            ToggleMenuBar();
            return TRUE;
        default:
            break;
        }
    }
    return CDialog::OnCmdMsg(id, code);
}

// ---- Dragging the bare panel ---------------------------------------------------------------

void CPanelDlg::OnLButtonDown(UINT flags, CPoint point)
{
    Default();
    if (GetMenu() != nullptr)
        return;
    m_ptDragAnchor = point;
    SetCapture();
    ::SetCursor(LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(IDC_DRAG)));
}

void CPanelDlg::OnMouseMove(UINT flags, CPoint point)
{
    if ((flags & MK_LBUTTON) && m_ptDragAnchor.x != -1 && GetMenu() == nullptr) {
        const int dx = point.x - m_ptDragAnchor.x;
        const int dy = point.y - m_ptDragAnchor.y;
        if (std::abs(dx) + std::abs(dy) > 0) {
            // The window follows the pointer, so the pointer stays at the anchor.
            CRect window;
            GetWindowRect(&window);
            SetWindowPos(nullptr, window.left + dx, window.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
    }
    Default();
}

void CPanelDlg::OnLButtonUp(UINT flags, CPoint point)
{
    if (flags == 0) {
        // The mouse lets go of every key it holds; a key the computer keyboard or a MIDI
        // controller holds too sounds on until that lets go.
        for (int k = 0; k < kKeyCount; ++k)
            if (m_keys[k].m_bDown)
                m_keys[k].NoteOff(HeldKeys::Source::Mouse());
        ReleaseCapture();
        m_ptDragAnchor.x = -1;
    }
    Default();
}

void CPanelDlg::OnActivate(UINT state, CWnd* other, BOOL minimized)
{
    if (state == 0)
        ReleaseKeyboardKeys();
    Default();
}

void CPanelDlg::OnKillFocus(CWnd* newWindow)
{
    ReleaseKeyboardKeys();
    Default();
}
