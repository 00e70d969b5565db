#pragma once

// The rules by which the polling timers enable and disable the start buttons
// and the fields, as pure functions of which fields hold text.

// Which of the fields that the rules test hold text. S is the start number,
// T the index title, F a search or a replacement text.
struct FieldTexts
{
    bool Text1 = false;
    bool Combo1 = false;
    bool Text2 = false;
    bool Text9 = false;
    bool Text3 = false;
    bool Text4 = false;
    bool S() const { return Text2; }
    bool T() const { return Text9; }
    bool F() const { return Text3 || Text4; }
};

struct ButtonStates
{
    bool Command1 = false;
    bool Command2 = false;
    bool Command3 = false;
};

// A field's state after a tick. A field that was disabled during the tick
// loses the keyboard focus, even when it ends the tick enabled.
struct FieldState
{
    bool enabled = true;
    bool losesFocus = false;
};

struct FieldStates
{
    FieldState Text1, Combo1, Text2, Text9, Text3, Text4;
};

// Timer4: each start button is enabled while its operation's field is filled.
ButtonStates button_states(const FieldTexts &texts);

// Timer5: filling one operation's fields takes the other operations' fields
// out of use. A field that holds text is never disabled and never loses the
// focus by a tick, so that the user can always empty it again.
FieldStates field_states(const FieldTexts &texts);
