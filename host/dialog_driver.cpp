#include "host/dialog_driver.h"

// Each keystroke changes the box's text, and the box tells its dialog.
void typeInto(HWND dialog, int id, const std::string& text)
{
    SetDlgItemTextA(dialog, id, "");
    for (size_t typed = 1; typed <= text.size(); ++typed)
        SetDlgItemTextA(dialog, id, text.substr(0, typed).c_str());
}

void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void setChecked(HWND dialog, int id, bool checked)
{
    if ((IsDlgButtonChecked(dialog, id) == BST_CHECKED) != checked)
        click(dialog, id);
}

std::string controlText(HWND dialog, int id)
{
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
