/* winhost: a stand-in for the AVS host on Windows. It loads a .ape with
   LoadLibrary, registers it through its one export and works its effects
   through the raw slot table, the way the Microsoft-built host does. It
   gives the configuration dialog a real top-level window as parent, types
   into it and clicks it, renders the built-in animation in real time and
   prints what it saw as "key: value" lines. */
#include "host/windows/heap_blocks.h"
#include "host/windows/hostile_host.h"
#include "host/windows/message_boxes.h"
#include "host/windows/stand_in_host.h"
#include "resources/resource.h"

#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char usage[] =
    "usage: winhost info PATH.ape\n"
    "       winhost abi PATH.ape\n"
    "       winhost presets PATH.ape\n"
    "       winhost dialog PATH.ape\n"
    "       winhost record PATH.ape --out FILE [--raw] [--fps N] [--size WxH] [--seconds S]\n"
    "                      [--host-fps N] [--then-fps N] [--end stop|delete|resize|none] [--frames]\n"
    "                      [--until-ended] [--until-mb N]\n"
    "       winhost lifetime PATH.ape --cycles N [--out FILE]\n"
    "       winhost show PATH.ape [--hold MS]\n"
    "       winhost hostile PATH.ape --out FILE --case delete-in-box|timer-host|stop-after-end|host-lock\n";

/* ---- commands ---- */

static int info(const char* path)
{
    Plugin plugin;
    char* identifierAgain = NULL;
    CreateEffectFunction factoryAgain = NULL;
    char name[256];
    Effect* made;
    Effect* effect;

    loadPlugin(path, &plugin);
    printf("registered: %d\n", plugin.registered);
    printQuoted("identifier", plugin.identifier);
    plugin.retr((HINSTANCE)plugin.module, &identifierAgain, &factoryAgain);
    printf("same identifier: %d\n", identifierAgain == plugin.identifier);
    printf("same factory: %d\n", factoryAgain == plugin.factory);

    memset(name, 0x7E, sizeof name);
    made = plugin.factory(name);
    printf("factory with buffer returned: %s\n", made ? "an effect" : "null");
    name[sizeof name - 1] = '\0';
    printQuoted("module name", name);

    effect = newEffect(&plugin);
    printQuoted("description", effect->table->getDescription(effect));
    printf("same description: %d\n", effect->table->getDescription(effect) == effect->table->getDescription(effect));
    deleteEffect(effect);
    FreeLibrary(plugin.module);
    return 0;
}

/* Every slot once through a call that checks the stack, as a Microsoft-built
   caller would leave it; then the deleting destructor without bit 0. */
static int abi(const char* path)
{
    Plugin plugin;
    Effect* effect;
    unsigned char preset[8] = {0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0};
    unsigned framebuffer[16 * 8];
    unsigned output[16 * 8];
    HWND host = createHostWindow();
    unsigned args[6];
    unsigned result;
    int imbalance;

    loadPlugin(path, &plugin);
    effect = newEffect(&plugin);
    memset(framebuffer, 0, sizeof framebuffer);

    args[0] = 0; args[1] = 1; args[2] = (unsigned)framebuffer; args[3] = (unsigned)output; args[4] = 16; args[5] = 8;
    result = callSlotChecked(effect, 1, args, 6, &imbalance);
    printf("slot 2 renderFrame: result %u, stack %d\n", result, imbalance);

    args[0] = (unsigned)plugin.module; args[1] = (unsigned)host;
    result = callSlotChecked(effect, 2, args, 2, &imbalance);
    printf("slot 3 createConfigDialog: %s, stack %d\n", result && IsWindow((HWND)result) ? "window" : "none",
           imbalance);
    if (result)
        DestroyWindow((HWND)result);

    result = callSlotChecked(effect, 3, args, 0, &imbalance);
    printf("slot 4 getDescription: %s, stack %d\n",
           result && strcmp((const char*)result, "Quorvane / AVI output ") == 0 ? "module name" : "other", imbalance);

    args[0] = (unsigned)preset; args[1] = 4;
    callSlotChecked(effect, 4, args, 2, &imbalance);
    printf("slot 5 loadPresetData: stack %d\n", imbalance);

    memset(preset, 0, sizeof preset);
    args[0] = (unsigned)preset;
    result = callSlotChecked(effect, 5, args, 1, &imbalance);
    printf("slot 6 savePresetData: result %u, bytes %02X %02X %02X %02X, stack %d\n", result, preset[0], preset[1],
           preset[2], preset[3], imbalance);

    args[0] = 1;
    result = callSlotChecked(effect, 0, args, 1, &imbalance);
    printf("slot 1 deleting destructor (flags 1): returned %s, stack %d\n",
           result == (unsigned)effect ? "the object" : "other", imbalance);

    /* Without bit 0 the object is destroyed but its memory stays the caller's
       to reclaim; the host never does this, but the table allows it. */
    effect = newEffect(&plugin);
    args[0] = 0;
    result = callSlotChecked(effect, 0, args, 1, &imbalance);
    printf("slot 1 deleting destructor (flags 0): returned %s, stack %d\n",
           result == (unsigned)effect ? "the object" : "other", imbalance);

    DestroyWindow(host);
    FreeLibrary(plugin.module);
    return 0;
}

static void printPreset(const char* key, Effect* effect)
{
    unsigned char bytes[8];
    int count, i;
    memset(bytes, 0xEE, sizeof bytes);
    count = effect->table->savePresetData(effect, bytes);
    printf("%s: %d bytes:", key, count);
    for (i = 0; i < 8; ++i)
        printf(" %02X", bytes[i]);
    printf("\n");
}

static int presets(const char* path)
{
    Plugin plugin;
    Effect* effect;
    Effect* other;
    unsigned char eight[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    unsigned char three[3] = {0xA1, 0xA2, 0xA3};

    loadPlugin(path, &plugin);
    effect = newEffect(&plugin);
    printPreset("fresh", effect);
    effect->table->loadPresetData(effect, eight, 8);
    printPreset("after loading 8 bytes", effect);
    effect->table->loadPresetData(effect, three, 3);
    printPreset("after loading 3 bytes", effect);
    effect->table->loadPresetData(effect, eight + 4, 4);
    printPreset("after loading 4 bytes", effect);

    /* What one effect saved, another loads, as the host does with a preset. */
    other = newEffect(&plugin);
    {
        unsigned char saved[4];
        int count = effect->table->savePresetData(effect, saved);
        other->table->loadPresetData(other, saved, count);
    }
    printPreset("copied into a second effect", other);
    deleteEffect(other);
    deleteEffect(effect);
    FreeLibrary(plugin.module);
    return 0;
}

/* What a fresh dialog shows: where it is, its style, its controls and their texts. */
static void printDialog(HWND dialog, HWND host)
{
    HWND control;
    int count = 0;

    printf("dialog parent is host: %d\n", GetParent(dialog) == host);
    printf("dialog style: 0x%08lX\n", (unsigned long)GetWindowLongA(dialog, GWL_STYLE));
    for (control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT))
        ++count;
    printf("controls: %d\n", count);
    printControlText("filename", dialog, IDC_FILENAME);
    printControlText("framerate", dialog, IDC_FRAMERATE);
    printf("raw: %d\n", IsDlgButtonChecked(dialog, IDC_RAWMODE) == BST_CHECKED);
    printControlText("save", dialog, IDC_SAVE);
    printControlText("status", dialog, IDC_STATUS);
}

/* Typed values reach the effect: each fresh dialog shows what was typed
   into the last one. Closes `dialog`. */
static void typeAndReopen(const Plugin* plugin, Effect* effect, HWND host, HWND dialog)
{
    char longName[160];

    SetDlgItemTextA(dialog, IDC_FRAMERATE, "30fps");
    memset(longName, 'n', sizeof longName - 1);
    longName[sizeof longName - 1] = '\0';
    memcpy(longName, "C:\\", 3);
    SetDlgItemTextA(dialog, IDC_FILENAME, longName);
    clickButton(dialog, IDC_RAWMODE);
    closeDialog(dialog);
    dialog = openDialog(plugin, effect, host);
    printControlText("framerate after typing 30fps", dialog, IDC_FRAMERATE);
    printControlText("filename after typing 159 characters", dialog, IDC_FILENAME);
    printf("raw after ticking: %d\n", IsDlgButtonChecked(dialog, IDC_RAWMODE) == BST_CHECKED);
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "abc");
    closeDialog(dialog);
    dialog = openDialog(plugin, effect, host);
    printControlText("framerate after typing abc", dialog, IDC_FRAMERATE);
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "-5");
    closeDialog(dialog);
    dialog = openDialog(plugin, effect, host);
    printControlText("framerate after typing -5", dialog, IDC_FRAMERATE);
    closeDialog(dialog);
}

static int dialogCommand(const char* path)
{
    Plugin plugin;
    Effect* effect;
    HWND host, dialog;
    char moduleName[MAX_PATH] = "";
    int boxesBefore;

    loadPlugin(path, &plugin);
    host = createHostWindow();
    startAnsweringBoxes();
    effect = newEffect(&plugin);
    GetModuleFileNameA(plugin.module, moduleName, sizeof moduleName);
    printQuoted("module path", moduleName);

    dialog = openDialog(&plugin, effect, host);
    printDialog(dialog, host);
    boxesBefore = capturedBoxCount();
    clickButton(dialog, IDC_README);
    idle(50);
    printBoxes(boxesBefore);
    typeAndReopen(&plugin, effect, host, dialog);

    stopAnsweringBoxes();
    deleteEffect(effect);
    DestroyWindow(host);
    FreeLibrary(plugin.module);
    return 0;
}

typedef struct RecordOptions {
    const char* out;
    int raw;
    const char* fps;
    int width, height;
    double seconds;
    int hostFps;
    const char* end;
    const char* thenFps;
    int frames;
    int untilEnded; /* leave the loop early once the recording ended by itself */
    long untilMb;   /* leave it once the status shows this many megabytes, as a user watching it would */
} RecordOptions;

static int parseRecordOptions(int argc, char** argv, RecordOptions* options)
{
    int i;
    memset(options, 0, sizeof *options);
    options->fps = "25";
    options->width = 160;
    options->height = 120;
    options->seconds = 2.0;
    options->hostFps = 60;
    options->end = "stop";
    for (i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(arg, "--raw") == 0) {
            options->raw = 1;
        } else if (strcmp(arg, "--frames") == 0) {
            options->frames = 1;
        } else if (strcmp(arg, "--until-ended") == 0) {
            options->untilEnded = 1;
        } else if (!value) {
            return 0;
        } else if (strcmp(arg, "--out") == 0) {
            options->out = argv[++i];
        } else if (strcmp(arg, "--fps") == 0) {
            options->fps = argv[++i];
        } else if (strcmp(arg, "--size") == 0) {
            if (sscanf(argv[++i], "%dx%d", &options->width, &options->height) != 2 || options->width <= 0 ||
                options->height <= 0 || options->width > 4096 || options->height > 4096)
                return 0;
        } else if (strcmp(arg, "--seconds") == 0) {
            options->seconds = atof(argv[++i]);
        } else if (strcmp(arg, "--host-fps") == 0) {
            options->hostFps = atoi(argv[++i]);
        } else if (strcmp(arg, "--end") == 0) {
            options->end = argv[++i];
        } else if (strcmp(arg, "--until-mb") == 0) {
            options->untilMb = atol(argv[++i]);
        } else if (strcmp(arg, "--then-fps") == 0) {
            options->thenFps = argv[++i];
        } else {
            return 0;
        }
    }
    return options->out != NULL;
}


static int recordingEnded(HWND dialog)
{
    char caption[32] = "";
    GetDlgItemTextA(dialog, IDC_SAVE, caption, sizeof caption);
    return strcmp(caption, "STOP") != 0;
}

/* The megabytes on the status label's last line. */
static long statusMegabytes(HWND dialog)
{
    char text[64] = "";
    const char* last;
    GetDlgItemTextA(dialog, IDC_STATUS, text, sizeof text);
    last = strrchr(text, '\n');
    return atol(last ? last + 1 : text);
}

/* Types the file name and rate and ticks RAW, as the user does before Save. */
static void typeSettings(HWND dialog, const RecordOptions* options)
{
    SetDlgItemTextA(dialog, IDC_FILENAME, options->out);
    SetDlgItemTextA(dialog, IDC_FRAMERATE, options->fps);
    if (options->raw)
        clickButton(dialog, IDC_RAWMODE);
    printControlText("filename", dialog, IDC_FILENAME);
    printf("raw: %d\n", IsDlgButtonChecked(dialog, IDC_RAWMODE) == BST_CHECKED);
}

/* Clicks Save and prints when, what the button says afterwards and the
   boxes it raised; whether the recording started. */
static int clickSave(HWND dialog)
{
    DWORD before, after;
    char caption[32] = "";
    int boxesBefore;

    boxesBefore = capturedBoxCount();
    before = timeGetTime();
    clickButton(dialog, IDC_SAVE);
    after = timeGetTime();
    idle(20);
    printf("save clicked: %lu %lu\n", (unsigned long)before, (unsigned long)after);
    GetDlgItemTextA(dialog, IDC_SAVE, caption, sizeof caption);
    printQuoted("caption after save", caption);
    printBoxes(boxesBefore);
    return strcmp(caption, "STOP") == 0;
}

/* Renders in real time at the host's rate for the recording's seconds, or
   until the recording ends or reaches the megabytes asked for. */
static void renderForTheSeconds(Renderer* renderer, Effect* effect, HWND dialog, const RecordOptions* options)
{
    DWORD duration = (DWORD)(options->seconds * 1000);
    const char* thenFps = options->thenFps;
    DWORD period = options->hostFps > 0 ? 1000u / (DWORD)options->hostFps : 0;
    DWORD start = timeGetTime();

    while (timeGetTime() - start < duration) {
        DWORD frameStart = timeGetTime();
        /* Halfway through, the user types a new frame rate. */
        if (thenFps && frameStart - start >= duration / 2) {
            SetDlgItemTextA(dialog, IDC_FRAMERATE, thenFps);
            thenFps = NULL;
        }
        renderNext(renderer, effect, options->frames);
        pumpMessages();
        if (options->untilEnded && recordingEnded(dialog))
            break;
        if (options->untilMb > 0 && statusMegabytes(dialog) >= options->untilMb)
            break;
        while (timeGetTime() - frameStart < period)
            Sleep(1);
    }
}

/* Ends the recording the way --end asks: STOP, a frame of another size, or
   the host deleting the effect while it records and its dialog is open.
   Returns the effect, or NULL once it is deleted. */
static Effect* endRecording(Renderer* renderer, Effect* effect, HWND dialog, const RecordOptions* options)
{
    if (strcmp(options->end, "stop") == 0) {
        commandButton(dialog, IDC_SAVE);
        printControlText("caption after stop", dialog, IDC_SAVE);
        /* Frames after STOP reach no file. */
        renderNext(renderer, effect, 0);
        renderNext(renderer, effect, 0);
        printControlText("status after stop", dialog, IDC_STATUS);
    } else if (strcmp(options->end, "resize") == 0) {
        Renderer smaller;
        makeRenderer(&smaller, options->width / 2, options->height / 2);
        smaller.number = renderer->number;
        renderNext(&smaller, effect, 0);
        renderer->altered += smaller.altered;
        freeRenderer(&smaller);
        printControlText("caption after resize", dialog, IDC_SAVE);
    } else if (strcmp(options->end, "delete") == 0) {
        deleteEffect(effect);
        printf("deleted while recording\n");
        idle(20);
        return NULL;
    }
    return effect;
}

static int record(const char* path, const RecordOptions* options)
{
    Plugin plugin;
    Effect* effect;
    HWND host, dialog;
    Renderer renderer;
    int started, boxesBefore;

    loadPlugin(path, &plugin);
    host = createHostWindow();
    startAnsweringBoxes();
    effect = newEffect(&plugin);
    dialog = openDialog(&plugin, effect, host);
    makeRenderer(&renderer, options->width, options->height);

    /* The effect learns the frame size from the frames it sees. */
    renderNext(&renderer, effect, 0);
    typeSettings(dialog, options);
    started = clickSave(dialog);
    boxesBefore = capturedBoxCount();
    if (started) {
        renderForTheSeconds(&renderer, effect, dialog, options);
        printControlText("status", dialog, IDC_STATUS);
        printControlText("caption at end", dialog, IDC_SAVE);
        printf("frames rendered: %u\n", renderer.number);
        effect = endRecording(&renderer, effect, dialog, options);
    }
    idle(20);
    printBoxes(boxesBefore);
    printf("picture altered: %d\n", renderer.altered);
    closeDialog(dialog);
    if (effect)
        deleteEffect(effect);
    stopAnsweringBoxes();
    freeRenderer(&renderer);
    DestroyWindow(host);
    FreeLibrary(plugin.module);
    return 0;
}

/* One effect's whole life: presets, the dialog, frames and, given a file,
   a recording cut short by deleting the effect. */
static void lifeCycle(const Plugin* plugin, HWND host, const char* out)
{
    Effect* effect = newEffect(plugin);
    unsigned char preset[4] = {1, 2, 3, 4};
    Renderer renderer;
    HWND dialog;
    int i;

    effect->table->loadPresetData(effect, preset, 4);
    effect->table->savePresetData(effect, preset);
    effect->table->getDescription(effect);
    makeRenderer(&renderer, 64, 48);
    dialog = openDialog(plugin, effect, host);
    renderNext(&renderer, effect, 0);
    if (out) {
        SetDlgItemTextA(dialog, IDC_FILENAME, out);
        SetDlgItemTextA(dialog, IDC_FRAMERATE, "1000");
        clickButton(dialog, IDC_SAVE);
        for (i = 0; i < 4; ++i) {
            Sleep(2);
            renderNext(&renderer, effect, 0);
        }
    }
    closeDialog(dialog);
    deleteEffect(effect);
    freeRenderer(&renderer);
}

static int lifetime(const char* path, int cycles, const char* out)
{
    Plugin plugin;
    HWND host;
    unsigned long long before, after;
    int i;

    loadPlugin(path, &plugin);
    host = createHostWindow();
    startAnsweringBoxes();
    /* The first lives warm up what the system keeps for good: classes, fonts, caches. */
    for (i = 0; i < 3; ++i)
        lifeCycle(&plugin, host, out);
    before = heapInUse();
    for (i = 0; i < cycles; ++i)
        lifeCycle(&plugin, host, out);
    after = heapInUse();
    printf("cycles: %d\n", cycles);
    printf("heap before: %llu\n", before);
    printf("heap after: %llu\n", after);
    printBoxes(0);
    stopAnsweringBoxes();
    DestroyWindow(host);
    FreeLibrary(plugin.module);
    return 0;
}

/* Shows the dialog in a host window sized to fit it and says where it is. */
static int show(const char* path, DWORD hold)
{
    Plugin plugin;
    Effect* effect;
    HWND host, dialog;
    RECT dialogRect, frame;

    loadPlugin(path, &plugin);
    host = createHostWindow();
    effect = newEffect(&plugin);
    dialog = openDialog(&plugin, effect, host);
    GetWindowRect(dialog, &dialogRect);
    frame = dialogRect;
    OffsetRect(&frame, -frame.left, -frame.top);
    AdjustWindowRectEx(&frame, (DWORD)GetWindowLongA(host, GWL_STYLE), FALSE, 0);
    SetWindowPos(host, NULL, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    /* The picture shows the dialog at rest, with no box selected. */
    SetFocus(host);
    idle(200);
    GetWindowRect(dialog, &dialogRect);
    printf("dialog rect: %ld %ld %ld %ld\n", (long)dialogRect.left, (long)dialogRect.top,
           (long)(dialogRect.right - dialogRect.left), (long)(dialogRect.bottom - dialogRect.top));
    printf("ready\n");
    fflush(stdout);
    idle(hold);
    closeDialog(dialog);
    deleteEffect(effect);
    DestroyWindow(host);
    FreeLibrary(plugin.module);
    return 0;
}

int main(int argc, char** argv)
{
    const char* command;
    const char* path;
    int result = 2;

    if (argc < 3) {
        fputs(usage, stderr);
        return 2;
    }
    command = argv[1];
    path = argv[2];
    timeBeginPeriod(1);
    if (strcmp(command, "info") == 0) {
        result = info(path);
    } else if (strcmp(command, "abi") == 0) {
        result = abi(path);
    } else if (strcmp(command, "presets") == 0) {
        result = presets(path);
    } else if (strcmp(command, "dialog") == 0) {
        result = dialogCommand(path);
    } else if (strcmp(command, "record") == 0) {
        RecordOptions options;
        if (parseRecordOptions(argc - 3, argv + 3, &options))
            result = record(path, &options);
        else
            fputs(usage, stderr);
    } else if (strcmp(command, "lifetime") == 0) {
        int cycles = argc > 4 && strcmp(argv[3], "--cycles") == 0 ? atoi(argv[4]) : 0;
        const char* out = argc > 6 && strcmp(argv[5], "--out") == 0 ? argv[6] : NULL;
        if (cycles > 0)
            result = lifetime(path, cycles, out);
        else
            fputs(usage, stderr);
    } else if (strcmp(command, "show") == 0) {
        DWORD hold = argc > 4 && strcmp(argv[3], "--hold") == 0 ? (DWORD)atoi(argv[4]) : 3000;
        result = show(path, hold);
    } else if (strcmp(command, "hostile") == 0) {
        result = hostile(path, argc - 3, argv + 3);
        if (result < 0) {
            fputs(usage, stderr);
            result = 2;
        }
    } else {
        fputs(usage, stderr);
    }
    timeEndPeriod(1);
    printf("done\n");
    fflush(stdout);
    return result;
}
