// Dialog template 109 as compiled from the resource script, control by
// control against the table it was written from.
#include "platform/native/dialog_template.h"
#include "platform/native/resources.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

struct ExpectedControl {
    int id;
    const char* className;
    DWORD style;
    LONG x, y, w, h;
    const char* text;
};

constexpr DWORD kBase = WS_CHILD | WS_VISIBLE;
constexpr DWORD kEdit = kBase | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kLabel = kBase | WS_GROUP | SS_LEFT;
constexpr DWORD kPush = kBase | WS_TABSTOP | BS_PUSHBUTTON;

const ExpectedControl kControls[] = {
    {IDC_FILENAME, "Edit", kEdit, 6, 77, 206, 12, ""},
    {-1, "Static", kLabel, 7, 65, 29, 8, "Filename"},
    {IDC_SAVE, "Button", kPush, 90, 133, 49, 21, "Save"},
    {IDC_STATUS, "Static", kLabel, 92, 166, 81, 37, ""},
    {IDC_FRAMERATE, "Edit", kEdit, 6, 104, 28, 13, ""},
    {-1, "Static", kLabel, 8, 94, 34, 10, "Framerate"},
    {-1, "Static", kLabel, 46, 6, 144, 11, nullptr}, // the title and credit line
    {-1, "Static", kLabel, 102, 19, 18, 8, "V1.0"},
    {IDC_RAWMODE, "Button", kBase | WS_TABSTOP | BS_AUTOCHECKBOX, 68, 107, 11, 9, "Check1"},
    {-1, "Static", kLabel, 81, 108, 116, 8, "Fast RAW output (33% bigger file)"},
    {IDC_README, "Button", kPush, 91, 35, 43, 17, "help"},
};

std::vector<uint8_t> compiledResources()
{
    std::ifstream file(AVI_OUTPUT_RES, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(DialogTemplate, MatchesItsTableControlByControl)
{
    const std::vector<uint8_t> res = compiledResources();
    ASSERT_FALSE(res.empty());
    native::ResourceData resource;
    ASSERT_TRUE(native::findInResFile(res.data(), res.size(), native::kResourceTypeDialog,
                                      MAKEINTRESOURCEA(IDD_CONFIG), resource));
    EXPECT_EQ(resource.language, 0x0409) << "English (United States)";
    native::DialogTemplate dialog;
    ASSERT_TRUE(native::parseDialogTemplate(resource.bytes, resource.size, dialog));

    EXPECT_EQ(dialog.style, static_cast<DWORD>(WS_CHILD | DS_SETFONT)) << "hidden, no caption";
    EXPECT_EQ(dialog.rect.right - dialog.rect.left, 235);
    EXPECT_EQ(dialog.rect.bottom - dialog.rect.top, 213);
    EXPECT_EQ(dialog.fontPointSize, 8);
    EXPECT_EQ(dialog.fontName, "MS Sans Serif");
    EXPECT_TRUE(dialog.menu.empty());
    EXPECT_TRUE(dialog.title.empty());

    ASSERT_EQ(dialog.controls.size(), std::size(kControls));
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const native::ControlTemplate& control = dialog.controls[i];
        const ExpectedControl& expected = kControls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(control.id, expected.id);
        EXPECT_EQ(control.className, expected.className);
        EXPECT_EQ(control.style, expected.style);
        EXPECT_EQ(control.rect.left, expected.x);
        EXPECT_EQ(control.rect.top, expected.y);
        EXPECT_EQ(control.rect.right - control.rect.left, expected.w);
        EXPECT_EQ(control.rect.bottom - control.rect.top, expected.h);
        if (expected.text) {
            EXPECT_EQ(control.text, expected.text);
        } else {
            EXPECT_EQ(control.text.rfind("AVI output for AVS", 0), 0u) << control.text;
        }
    }
}

TEST(DialogTemplate, ACutOrForeignResourceFileIsRefused)
{
    const std::vector<uint8_t> res = compiledResources();
    native::ResourceData resource;
    ASSERT_TRUE(native::findInResFile(res.data(), res.size(), native::kResourceTypeDialog,
                                      MAKEINTRESOURCEA(IDD_CONFIG), resource));
    native::DialogTemplate dialog;
    for (size_t cut = 0; cut < resource.size; cut += 7)
        EXPECT_FALSE(native::parseDialogTemplate(resource.bytes, cut, dialog)) << "cut at " << cut;
    EXPECT_FALSE(native::findInResFile(res.data(), res.size(), native::kResourceTypeDialog, MAKEINTRESOURCEA(110),
                                       resource));
    for (size_t cut = 0; cut < res.size(); cut += 13)
        native::findInResFile(res.data(), cut, native::kResourceTypeDialog, MAKEINTRESOURCEA(IDD_CONFIG), resource);
    const uint8_t garbage[64] = {0xFF, 0xFF, 0xFF, 0xFF, 0x20};
    EXPECT_FALSE(native::findInResFile(garbage, sizeof garbage, native::kResourceTypeDialog,
                                       MAKEINTRESOURCEA(IDD_CONFIG), resource));
}
