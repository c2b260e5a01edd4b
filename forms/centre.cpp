#include "forms/centre.h"

void CentreOnScreen(const platform::Form& form) {
    const float left = (platform::ScreenWidth() - platform::FormWidth(form)) / 2.0f;
    const float top = (platform::ScreenHeight() - platform::FormHeight(form)) / 2.0f;
    platform::MoveForm(form, left, top);
}
