// Works a dialog the way a person would: typing into boxes a key at a
// time, ticking check boxes and clicking buttons.
#pragma once

#include "platform/win32.h"

#include <string>

void typeInto(HWND dialog, int id, const std::string& text);
void click(HWND dialog, int id);
void setChecked(HWND dialog, int id, bool checked);
std::string controlText(HWND dialog, int id);
