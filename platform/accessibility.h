#pragma once
// What a screen reader is told of one of our windows: the kind of control it is, its state and,
// for a control that stands for a number, the number and its range. Plain types, so that the
// program's controls describe themselves without knowing the desktop.

enum class AccessibleRole { Panel, Button, RadioButton, Dial, Label };

struct AccessibleState {
    bool pressed = false;
    bool checkable = false;
    bool checked = false;

    bool operator==(const AccessibleState&) const = default;
};

struct AccessibleValue {
    int current = 0;
    int minimum = 0;
    int maximum = 0;

    bool operator==(const AccessibleValue&) const = default;
};
