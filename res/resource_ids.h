#pragma once
// Ids of the program's resources, controls and commands.

#include "platform/win_types.h"

// Dialogs, menu, icons, cursors, bitmaps.
constexpr UINT IDD_PANEL = 102;
constexpr UINT IDD_KEYBOARD_MAPPING = 106;
constexpr UINT IDD_ABOUT = 130;
constexpr UINT IDR_MAINMENU = 128;
constexpr int IDI_PROGRAM = 128;
constexpr int IDI_PANEL = 155;
constexpr int IDC_DRAG = 137;
constexpr int IDC_HAND_OPEN = 138;
constexpr int IDC_HAND_PRESS = 144;
constexpr int IDB_LOGO = 153;

// Panel controls.
constexpr UINT IDC_POWER = 1000;
constexpr UINT IDC_MENU = 1001;
constexpr UINT IDC_HOTKEY = 1002;
constexpr UINT IDC_ABOUT = 1003;
constexpr UINT IDC_KEY_FIRST = 1004; // chord key lamps 1004..1015
constexpr UINT IDC_KEY_C = 1011;
constexpr UINT IDC_KEY_LAST = 1015;
constexpr UINT IDC_STYLE_FIRST = 1016; // backing style buttons 1016..1023
constexpr UINT IDC_STYLE_LAST = 1023;
constexpr UINT IDC_PROGRAM_DOWN = 1024;
constexpr UINT IDC_PROGRAM_UP = 1025;
constexpr UINT IDC_LED = 1028;
constexpr UINT IDC_PIANO_FIRST = 100; // key windows 100..147
constexpr UINT IDC_KNOB = 148;

// Menu commands.
constexpr UINT ID_MIDI_MAPPER = 32768;
constexpr UINT ID_DEVICE_FIRST = 32769; // devices 0..7
constexpr UINT ID_DEVICE_LAST = 32776;
constexpr UINT ID_PROGRAM_FIRST = 32777; // programs 0..127
constexpr UINT ID_PERCUSSION_MAP = 32905;
constexpr UINT ID_KEYBOARD_MAPPING = 32906;
constexpr UINT ID_STYLE_FIRST = 32908; // styles None..Disco
constexpr UINT ID_STYLE_LAST = 32915;
constexpr UINT ID_KEY_UP = 32917;
constexpr UINT ID_KEY_DOWN = 32918;
constexpr UINT ID_APP_ABOUT = 57664;
