#include "inputrules.h"

ButtonStates button_states(const FieldTexts &texts)
{
    return {texts.S(), texts.T(), texts.F()};
}

FieldStates field_states(const FieldTexts &texts)
{
    FieldStates states;
    auto enable = [](FieldState &field) { field.enabled = true; };
    // Text in a field keeps it usable: otherwise two groups filled at once
    // (typed within one tick) would lock each other out for good.
    auto disable = [](FieldState &field, bool holdsText = false) {
        if (holdsText)
            return;
        field.enabled = false;
        field.losesFocus = true;
    };
    FieldStates &s = states;
    if (texts.S()) { // block A
        enable(s.Text1);
        enable(s.Combo1);
        disable(s.Text9, texts.Text9);
        disable(s.Text3, texts.Text3);
        disable(s.Text4, texts.Text4);
    } else {
        enable(s.Text9);
        enable(s.Text3);
        enable(s.Text4);
        disable(s.Text1, texts.Text1);
        disable(s.Combo1, texts.Combo1);
    }
    if (texts.T()) { // block B
        disable(s.Text2, texts.Text2);
        disable(s.Text3, texts.Text3);
        disable(s.Text4, texts.Text4);
    } else {
        enable(s.Text2);
        enable(s.Text3);
        enable(s.Text4);
    }
    if (texts.F()) { // block C
        disable(s.Text9, texts.Text9);
        disable(s.Text2, texts.Text2);
    } else {
        enable(s.Text9);
        enable(s.Text2);
    }
    return states;
}
