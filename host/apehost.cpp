// apehost: a stand-in for the AVS host. It loads a .ape as the host does
// and drives its effect: frames, the dialog, clicks and presets.
#include "host/dialog_driver.h"
#include "host/plugin_loader.h"
#include "host/record_command.h"
#include "platform/native/native_host.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kUsage[] =
    "usage: apehost info PATH.ape\n"
    "       apehost dialog PATH.ape\n"
    "       apehost help PATH.ape\n"
    "       apehost record PATH.ape --out FILE [--size WxH] [--fps N] [--host-fps N]\n"
    "                      [--seconds S] [--raw] [--virtual-clock] [--quiet] [--segment-size BYTES]\n";

void sayWhy(const std::string& reason) { std::fprintf(stderr, "apehost: %s\n", reason.c_str()); }

// A new effect's dialog, with no parent; null once it has said why not.
HWND openDialog(const char* path, LoadedPlugin& plugin, std::unique_ptr<EffectBase>& effect)
{
    std::string error;
    effect = loadEffect(path, plugin, error);
    HWND dialog = effect ? effect->createConfigDialog(plugin.module(), nullptr) : nullptr;
    if (!dialog)
        sayWhy(effect ? "the plug-in gave no dialog" : error);
    return dialog;
}

int info(const char* path)
{
    LoadedPlugin plugin;
    std::string error;
    std::unique_ptr<EffectBase> effect = loadEffect(path, plugin, error);
    if (!effect) {
        sayWhy(error);
        return 1;
    }
    std::printf("identifier:  \"%s\"\n", plugin.identifier());
    std::printf("module name: \"%s\"\n", plugin.moduleName().c_str());
    std::printf("description: \"%s\"\n", effect->getDescription());
    unsigned char preset[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const int saved = effect->savePresetData(preset);
    std::printf("preset:      %d bytes:", saved);
    for (int i = 0; i < saved && i < 8; ++i)
        std::printf(" %02X", preset[i]);
    std::printf("\n");
    // Read back what was saved, as the host does when it loads a preset.
    effect->loadPresetData(preset, saved);
    return 0;
}

int dialog(const char* path)
{
    LoadedPlugin plugin;
    std::unique_ptr<EffectBase> effect;
    HWND dialog = openDialog(path, plugin, effect);
    if (!dialog)
        return 1;
    RECT frame {};
    NativeGetDialogUnitRect(dialog, &frame);
    std::printf("dialog %d: %ld x %ld dialog units, style 0x%08lX\n", IDD_CONFIG,
                static_cast<long>(frame.right - frame.left), static_cast<long>(frame.bottom - frame.top),
                static_cast<unsigned long>(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE))));
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        char className[32] = {};
        char text[256] = {};
        GetClassNameA(control, className, sizeof className);
        GetWindowTextA(control, text, sizeof text);
        RECT rect {};
        NativeGetDialogUnitRect(control, &rect);
        const auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
        std::printf("  id %5d  %-7s x %3ld  y %3ld  w %3ld  h %3ld  style 0x%08lX  \"%s\"", GetDlgCtrlID(control),
                    className, static_cast<long>(rect.left), static_cast<long>(rect.top),
                    static_cast<long>(rect.right - rect.left), static_cast<long>(rect.bottom - rect.top),
                    static_cast<unsigned long>(style), text);
        if (std::strcmp(className, "Button") == 0 && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
            std::printf("  [%s]", SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "x" : " ");
        std::printf("\n");
    }
    DestroyWindow(dialog);
    return 0;
}

int printHelpBox(void*, HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    std::printf("[message box \"%s\", type 0x%X]\n%s", caption, type, text);
    return IDOK;
}

int help(const char* path)
{
    LoadedPlugin plugin;
    std::unique_ptr<EffectBase> effect;
    HWND dialog = openDialog(path, plugin, effect);
    if (!dialog)
        return 1;
    NativeSetMessageBoxSink(printHelpBox, nullptr);
    click(dialog, IDC_README);
    NativeSetMessageBoxSink(nullptr, nullptr);
    DestroyWindow(dialog);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "info")
        return info(argv[2]);
    if (command == "dialog")
        return dialog(argv[2]);
    if (command == "help")
        return help(argv[2]);
    if (command == "record") {
        RecordOptions options;
        std::string error;
        if (!parseRecordOptions(argc - 2, argv + 2, options, error)) {
            std::fprintf(stderr, "apehost: %s\n%s", error.c_str(), kUsage);
            return 2;
        }
        return runRecord(options);
    }
    std::fputs(kUsage, stderr);
    return 2;
}
