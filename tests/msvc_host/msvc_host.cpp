// A second, independent host of Kelvo.flt: built by clang for the 32-bit Microsoft C++ ABI,
// without a C runtime, it loads the module as a host built by that compiler does and calls the
// exports and every operation of the class descriptor and the filter through that compiler's
// tables: answers, the settings block, both dialogs, a frame rendered through its own bitmap
// and window (and one stopped midway), and both ways of destroying a filter. Exits 0 when every
// check passed. KELVO_MSVC_HOST_GOLDEN names the frame file the native build writes.
#include "tests/msvc_host/host_bitmap.h"
#include "tests/msvc_host/host_interface.h"
#include "tests/msvc_host/report.h"
#include "tests/msvc_host/win32_imports.h"

namespace {

constexpr int BLOCK_SIZE = 1084;
constexpr int SOURCE_OFFSET = 4;       // int32: 1001 material effects, 1002 object
constexpr int OUTPUT_NAME_OFFSET = 8;  // char[256]
constexpr int METHOD_OFFSET = 264;     // int32: 1023 uniform, 1024 nearest
constexpr int PALETTE_OFFSET = 268;    // 256 x red, green, blue
constexpr int RANGES_OFFSET = 1036;    // 16 x first, last, dither
constexpr int RENDERED_FRAME = 7;
constexpr int STOPPED_FRAME = 8;
constexpr int STOP_AT_ROW = 5;
constexpr int FILE_CAPACITY = 65536;

// Reads the stack pointer where the call stands; inlined, so it sees the caller's frame.
__attribute__((always_inline)) inline unsigned StackPointer() {
    unsigned value;
    __asm__ volatile("movl %%esp, %0" : "=r"(value) : : "memory");
    return value;
}

void CheckStackKept(unsigned before, unsigned after, const char* call) {
    Check(before == after, "%s left the stack pointer moved by %d bytes", call,
          static_cast<int>(after - before));
}

}  // namespace

// Makes `call` between two readings of the stack pointer, which must agree: a member operation
// pops exactly its arguments and an export leaves them to its caller, as this compiler's
// callers expect. (A value and a void form.)
#define BALANCED(call)                                       \
    __extension__({                                          \
        const unsigned stackBefore_ = StackPointer();        \
        auto result_ = (call);                               \
        CheckStackKept(stackBefore_, StackPointer(), #call); \
        result_;                                             \
    })
#define BALANCED_VOID(call)                                  \
    do {                                                     \
        const unsigned stackBefore_ = StackPointer();        \
        call;                                                \
        CheckStackKept(stackBefore_, StackPointer(), #call); \
    } while (0)

namespace {

bool SameText(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

const char* Shown(const char* text) {
    return text != nullptr ? text : "(null)";
}

void Format(char* out, const char* format, ...) {
    __builtin_va_list arguments;
    __builtin_va_start(arguments, format);
    wvsprintfA(out, format, arguments);
    __builtin_va_end(arguments);
}

// 0 when the file cannot be read or is larger than `capacity`.
int ReadWholeFile(const char* path, unsigned char* data, DWORD capacity, DWORD& size) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == InvalidHandle()) {
        return 0;
    }
    const BOOL read = ReadFile(file, data, capacity, &size, nullptr);
    DWORD more = 0;
    unsigned char probe;
    const BOOL atEnd = ReadFile(file, &probe, 1, &more, nullptr) && more == 0;
    CloseHandle(file);
    return read && atEnd ? 1 : 0;
}

unsigned Le16(const unsigned char* bytes) {
    return bytes[0] | unsigned{bytes[1]} << 8;
}

// The palette indices of an 8-bit, one-plane RLE PCX file of the frame's size, or 0.
int DecodePcxIndices(const unsigned char* file, DWORD size, unsigned char* indices) {
    if (size < 128 + 769 || file[0] != 0x0A || file[2] != 1 || file[3] != 8 || file[65] != 1 ||
        Le16(file + 8) + 1 != FRAME_WIDTH || Le16(file + 10) + 1 != FRAME_HEIGHT) {
        return 0;
    }
    const unsigned lineBytes = Le16(file + 66);
    if (lineBytes < FRAME_WIDTH || lineBytes > 64) {
        return 0;
    }
    unsigned char line[64];
    DWORD at = 128;
    const DWORD end = size - 769;
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        unsigned filled = 0;
        while (filled < lineBytes) {
            if (at >= end) {
                return 0;
            }
            unsigned run = 1;
            unsigned char value = file[at++];
            if (value >= 0xC0) {
                run = value & 0x3Fu;
                if (at >= end || run > lineBytes - filled) {
                    return 0;
                }
                value = file[at++];
            }
            for (; run > 0; --run) {
                line[filled++] = value;
            }
        }
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            indices[y * FRAME_WIDTH + x] = line[x];
        }
    }
    return at == end && file[end] == 0x0C ? 1 : 0;
}

// ---- the host window: progress and the abort poll

struct RenderWatch {
    int stopAtRow = -1;
    int progressMessages = 0;
    int abortPolls = 0;
    int faults = 0;  // a message out of order or with the wrong parameters
};
constinit RenderWatch watch;

LRESULT __stdcall HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case MSG_RENDER_PROGRESS:
            if (static_cast<int>(wParam) != watch.progressMessages || lParam != FRAME_HEIGHT - 1 ||
                watch.abortPolls != watch.progressMessages) {
                ++watch.faults;
            }
            ++watch.progressMessages;
            return 0;
        case MSG_RENDER_CHECK_ABORT: {
            auto* abort = reinterpret_cast<int*>(lParam);
            if (wParam != 0 || abort == nullptr || *abort != 0 ||
                watch.abortPolls + 1 != watch.progressMessages) {
                ++watch.faults;
            }
            ++watch.abortPolls;
            if (abort != nullptr && watch.progressMessages - 1 == watch.stopAtRow) {
                *abort = 1;
            }
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateHostWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvoMsvcHostWindow";
    if (RegisterClassA(&windowClass) == 0) {
        return nullptr;
    }
    return CreateWindowExA(0, windowClass.lpszClassName, "Kelvo MSVC-ABI host", 0, 0, 0, 64, 64,
                           nullptr, nullptr, windowClass.hInstance, nullptr);
}

// ---- the modal dialogs: a timer closes whichever the module opened, and says which

const char* const DIALOG_CAPTIONS[] = {"About Kelvo Rendering Filter",
                                       "Kelvo Palette Renderer Control"};
const char* closedDialog = nullptr;
int timerTicks = 0;

void __stdcall CloseOpenDialog(HWND, UINT, UINT timer, DWORD) {
    for (const char* caption : DIALOG_CAPTIONS) {
        HWND dialog = FindWindowA("#32770", caption);
        if (dialog != nullptr && IsWindowVisible(dialog)) {
            closedDialog = caption;
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            KillTimer(nullptr, timer);
            return;
        }
    }
    if (++timerTicks > 1500) {  // 30 s: no dialog came; let ctest's timeout report it
        KillTimer(nullptr, timer);
    }
}

// ---- the checks, in the order a host meets the module

struct Exports {
    LibDescriptionFunction libDescription;
    LibNumberClassesFunction libNumberClasses;
    LibClassDescFunction libClassDesc;
    LibVersionFunction libVersion;
};

int FindExports(HINSTANCE module, Exports& exports) {
    exports.libDescription =
        reinterpret_cast<LibDescriptionFunction>(GetProcAddress(module, "LibDescription"));
    exports.libNumberClasses =
        reinterpret_cast<LibNumberClassesFunction>(GetProcAddress(module, "LibNumberClasses"));
    exports.libClassDesc =
        reinterpret_cast<LibClassDescFunction>(GetProcAddress(module, "LibClassDesc"));
    exports.libVersion = reinterpret_cast<LibVersionFunction>(GetProcAddress(module, "LibVersion"));
    return Check(exports.libDescription != nullptr && exports.libNumberClasses != nullptr &&
                     exports.libClassDesc != nullptr && exports.libVersion != nullptr,
                 "Kelvo.flt lacks one of its four exports");
}

ClassDesc* CheckExports(const Exports& exports) {
    const char* description = BALANCED(exports.libDescription());
    Check(SameText(description, "Kelvo Renderer"), "LibDescription gave '%s'", Shown(description));
    const int classes = BALANCED(exports.libNumberClasses());
    Check(classes == 1, "LibNumberClasses gave %d", classes);
    const ULONG version = BALANCED(exports.libVersion());
    Check(version == 0x07D00500, "LibVersion gave 0x%x", version);
    ClassDesc* descriptor = BALANCED(exports.libClassDesc(0));
    ClassDesc* again = BALANCED(exports.libClassDesc(0));
    ClassDesc* second = BALANCED(exports.libClassDesc(1));
    ClassDesc* negative = BALANCED(exports.libClassDesc(-1));
    Check(descriptor != nullptr && again == descriptor, "LibClassDesc(0) is not one object");
    Check(second == nullptr && negative == nullptr, "LibClassDesc(1) or (-1) is not null");
    return descriptor;
}

void CheckDescriptor(ClassDesc& descriptor) {
    constexpr int WORD_IGNORED = 0x5A5A;
    Check(BALANCED(descriptor.Slot0()) == 1, "descriptor slot 0 is not 1");
    Check(BALANCED(descriptor.Slot2(WORD_IGNORED)) == 0, "descriptor slot 2 is not 0");
    Check(BALANCED(descriptor.Slot3(WORD_IGNORED)) == 0, "descriptor slot 3 is not 0");
    const char* name = BALANCED(descriptor.ClassNameText());
    Check(SameText(name, "Kelvo Renderer"), "ClassNameText gave '%s'", Shown(name));
    const ULONG superClass = BALANCED(descriptor.SuperClassIdentifier());
    Check(superClass == 0x0E00, "SuperClassIdentifier gave 0x%x", superClass);
    const ClassIdentifierRecord identifier = BALANCED(descriptor.ClassIdentifier());
    Check(identifier.partA == 0x130079D8 && identifier.partB == 0x05A618A8,
          "ClassIdentifier gave 0x%x, 0x%x", identifier.partA, identifier.partB);
    const char* category = BALANCED(descriptor.CategoryText());
    Check(SameText(category, "Image Filter"), "CategoryText gave '%s'", Shown(category));
    Check(BALANCED(descriptor.Slot8(WORD_IGNORED)) == 1, "descriptor slot 8 is not 1");
    Check(BALANCED(descriptor.Slot9()) == 0, "descriptor slot 9 is not 0");
    BALANCED_VOID(descriptor.Slot10(WORD_IGNORED));
    BALANCED_VOID(descriptor.Slot11(WORD_IGNORED));
    Check(BALANCED(descriptor.Slot12()) == 0, "descriptor slot 12 is not 0");
    Check(BALANCED(descriptor.Slot13(WORD_IGNORED)) == nullptr, "descriptor slot 13 is not null");
    Check(BALANCED(descriptor.Slot14(WORD_IGNORED)) == nullptr, "descriptor slot 14 is not null");
}

int Le32(const unsigned char* bytes) {
    return static_cast<int>(bytes[0] | unsigned{bytes[1]} << 8 | unsigned{bytes[2]} << 16 |
                            unsigned{bytes[3]} << 24);
}

void PutLe32(unsigned char* bytes, int value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(static_cast<unsigned>(value) >> (8 * i));
    }
}

bool SameBytes(const unsigned char* a, const unsigned char* b, int size) {
    for (int i = 0; i < size; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// The answers, the settings block and the inherited operations. Leaves the block of a fresh
// filter in `block`.
void CheckFilterAnswers(ImageFilter& filter, HWND window, HostBitmap& bitmap,
                        unsigned char (&block)[BLOCK_SIZE]) {
    const char* description = BALANCED(filter.DescriptionText());
    Check(SameText(description, "Kelvo Palette Renderer"), "DescriptionText gave '%s'",
          Shown(description));
    const char* author = BALANCED(filter.AuthorText());
    const char* copyright = BALANCED(filter.CopyrightText());
    Check(author != nullptr && *author != '\0', "AuthorText is empty");
    Check(copyright != nullptr && *copyright != '\0', "CopyrightText is empty");
    const unsigned version = BALANCED(filter.FilterVersion());
    Check(version == 101, "FilterVersion gave %u", version);
    const DWORD capabilities = BALANCED(filter.CapabilityMask());
    Check(capabilities == 6, "CapabilityMask gave %u", capabilities);
    const DWORD blockSize = BALANCED(filter.ConfigBlockSize());
    Check(blockSize == BLOCK_SIZE, "ConfigBlockSize gave %u", blockSize);

    Check(BALANCED(filter.SaveConfigBlock(block)) == 1, "SaveConfigBlock refused");
    Check(BALANCED(filter.SaveConfigBlock(nullptr)) == 0, "SaveConfigBlock took null");
    Check(Le32(block) == 101 && Le32(block + SOURCE_OFFSET) == 1001 &&
              SameText(reinterpret_cast<const char*>(block + OUTPUT_NAME_OFFSET), "kelv.pcx") &&
              Le32(block + METHOD_OFFSET) == 1023,
          "a fresh filter's block does not hold the defaults");
    Check(BALANCED(filter.RequiredChannels()) == CHANNEL_MATERIAL_EFFECTS,
          "RequiredChannels is not 2 for the material-effects source");
    struct SourceCase {
        int tag;
        int source;
        int loaded;
        DWORD channel;
    };
    const SourceCase cases[] = {
        {100, 1002, 0, CHANNEL_MATERIAL_EFFECTS},  // refused: the settings stay
        {101, 1002, 1, CHANNEL_OBJECT},
        {101, 7, 1, CHANNEL_OBJECT},
    };
    for (const SourceCase& c : cases) {
        unsigned char changed[BLOCK_SIZE];
        unsigned char saved[BLOCK_SIZE];
        __builtin_memcpy(changed, block, BLOCK_SIZE);
        PutLe32(changed, c.tag);
        PutLe32(changed + SOURCE_OFFSET, c.source);
        const int loaded = BALANCED(filter.LoadConfigBlock(changed));
        const DWORD channel = BALANCED(filter.RequiredChannels());
        Check(loaded == c.loaded && channel == c.channel,
              "block tagged %d with source %d: LoadConfigBlock gave %d, RequiredChannels %u", c.tag,
              c.source, loaded, channel);
        BALANCED(filter.SaveConfigBlock(saved));
        Check(SameBytes(saved, c.loaded ? changed : block, BLOCK_SIZE),
              "block tagged %d with source %d does not save back as loaded", c.tag, c.source);
    }
    Check(BALANCED(filter.LoadConfigBlock(block)) == 1, "a saved block does not load again");

    // Answers that tell each inherited operation from its neighbours.
    const int maximum = BALANCED(filter.Max());
    const int byFraction = BALANCED(filter.Lerp(0, 100, 0.25f));
    const int byLevel = BALANCED(filter.Lerp(0, 65535, 32768));
    Check(maximum == 65535, "Max gave %d", maximum);
    Check(byFraction == 25, "Lerp (0, 100, 0.25f) gave %d", byFraction);
    Check(byLevel == 32768, "Lerp (0, 65535, 32768) gave %d", byLevel);
    Bitmap* preview = &bitmap;
    Check(BALANCED(filter.CreatePreview(window, &preview)) == 0, "CreatePreview did not refuse");
    Check(BALANCED(filter.DlgHandle()) == nullptr && BALANCED(filter.IsInteractive()) == 0,
          "a fresh filter has a dialog");
    BALANCED_VOID(filter.MakeDlgInteractive(window));
    Check(BALANCED(filter.DlgHandle()) == window && BALANCED(filter.IsInteractive()) == 1,
          "MakeDlgInteractive did not keep the window");
    BALANCED_VOID(filter.MakeDlgInteractive(nullptr));
    Check(BALANCED(filter.CreateNode(window)) == 0 && BALANCED(filter.Node()) == nullptr,
          "the filter made a node");
    BALANCED_VOID(filter.FilterUpdate());
    BALANCED_VOID(filter.SetForeground(&bitmap));
    BALANCED_VOID(filter.SetMask(&bitmap));
}

void CheckDialogs(ImageFilter& filter, HWND window) {
    struct DialogCase {
        const char* caption;
        int result;  // after Escape
    };
    const DialogCase cases[] = {{DIALOG_CAPTIONS[0], 1}, {DIALOG_CAPTIONS[1], 0}};
    for (int i = 0; i < 2; ++i) {
        closedDialog = nullptr;
        timerTicks = 0;
        SetTimer(nullptr, 0, 20, CloseOpenDialog);
        const int result = i == 0 ? BALANCED(filter.ShowAboutBox(window))
                                  : BALANCED(filter.ShowControlDialog(window));
        Check(closedDialog == cases[i].caption && result == cases[i].result,
              "expected '%s' closing with %d; '%s' closed with %d", cases[i].caption,
              cases[i].result, Shown(closedDialog), result);
    }
}

unsigned char fileBytes[FILE_CAPACITY];
unsigned char goldenBytes[FILE_CAPACITY];
BMM_Color_64 original[FRAME_HEIGHT][FRAME_WIDTH];
BMM_Color_64 rendered[FRAME_HEIGHT][FRAME_WIDTH];
unsigned char indices[FRAME_HEIGHT * FRAME_WIDTH];

bool SamePixel(const BMM_Color_64& a, const BMM_Color_64& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

void CompareWithGolden(const char* path, DWORD size) {
    char goldenPath[512];
    DWORD goldenSize = 0;
    const DWORD length =
        GetEnvironmentVariableA("KELVO_MSVC_HOST_GOLDEN", goldenPath, sizeof goldenPath);
    if (!Check(length > 0 && length < sizeof goldenPath &&
                   ReadWholeFile(goldenPath, goldenBytes, FILE_CAPACITY, goldenSize),
               "cannot read the native build's frame file (KELVO_MSVC_HOST_GOLDEN)")) {
        return;
    }
    DWORD differs = 0;
    while (differs < size && differs < goldenSize && fileBytes[differs] == goldenBytes[differs]) {
        ++differs;
    }
    Check(differs == size && size == goldenSize,
          "%s (%u bytes) differs from the native build's %s (%u bytes) at byte %u", path, size,
          goldenPath, goldenSize, differs);
}

// One frame rendered to the end through the host's bitmap and window, then one stopped at a
// row; both must be what the native build does with the same frame.
void CheckRender(ImageFilter& filter, HWND window, HostBitmap& bitmap,
                 const unsigned char (&defaults)[BLOCK_SIZE], const char* directory) {
    unsigned char block[BLOCK_SIZE];
    __builtin_memcpy(block, defaults, BLOCK_SIZE);
    PutLe32(block + SOURCE_OFFSET, 1002);
    PutLe32(block + METHOD_OFFSET, 1023);
    for (int k = 0; k < 16; ++k) {
        block[RANGES_OFFSET + 3 * k] = static_cast<unsigned char>(16 * k);
        block[RANGES_OFFSET + 3 * k + 1] = static_cast<unsigned char>(16 * k + 15);
        block[RANGES_OFFSET + 3 * k + 2] = static_cast<unsigned char>(k % 2);
    }
    Format(reinterpret_cast<char*>(block + OUTPUT_NAME_OFFSET), "%s\\frame.pcx", directory);
    char path[300];
    char stoppedPath[300];
    Format(path, "%s\\frame%04d.pcx", directory, RENDERED_FRAME);
    Format(stoppedPath, "%s\\frame%04d.pcx", directory, STOPPED_FRAME);
    DeleteFileA(path);
    DeleteFileA(stoppedPath);
    Check(BALANCED(filter.LoadConfigBlock(block)) == 1, "the render's block was refused");

    ImageFilterInfo info = {RENDERED_FRAME};
    bitmap.Fill();
    __builtin_memcpy(original, bitmap.pixels, sizeof original);
    BALANCED_VOID(filter.SetSource(&bitmap));
    BALANCED_VOID(filter.SetFilterInfo(&info));
    watch = RenderWatch{};
    Check(BALANCED(filter.RenderFrame(window)) == 1, "RenderFrame did not give 1");
    Check(watch.progressMessages == FRAME_HEIGHT && watch.abortPolls == FRAME_HEIGHT &&
              watch.faults == 0,
          "%d progress messages and %d abort polls for %d rows, %d out of order",
          watch.progressMessages, watch.abortPolls, FRAME_HEIGHT, watch.faults);
    Check(bitmap.channelAsked == CHANNEL_OBJECT && bitmap.rowReads == FRAME_HEIGHT &&
              bitmap.pixelReads == FRAME_WIDTH * FRAME_HEIGHT &&
              bitmap.pixelWrites == FRAME_WIDTH * FRAME_HEIGHT && !bitmap.outsideFrame,
          "the bitmap saw channel %u, %d row reads, %d pixel reads, %d pixel writes%s",
          bitmap.channelAsked, bitmap.rowReads, bitmap.pixelReads, bitmap.pixelWrites,
          bitmap.outsideFrame ? ", and calls outside the frame" : "");

    DWORD size = 0;
    if (Check(ReadWholeFile(path, fileBytes, FILE_CAPACITY, size), "%s was not written", path)) {
        CompareWithGolden(path, size);
        // Every pixel now holds its index's palette colour, times 256, and its own alpha.
        int wrongPixels = 0;
        if (Check(DecodePcxIndices(fileBytes, size, indices), "%s does not decode", path)) {
            for (int y = 0; y < FRAME_HEIGHT; ++y) {
                for (int x = 0; x < FRAME_WIDTH; ++x) {
                    const unsigned char* colour =
                        block + PALETTE_OFFSET + 3 * indices[y * FRAME_WIDTH + x];
                    const BMM_Color_64 expected = {
                        static_cast<WORD>(colour[0] << 8), static_cast<WORD>(colour[1] << 8),
                        static_cast<WORD>(colour[2] << 8), original[y][x].a};
                    wrongPixels += SamePixel(bitmap.pixels[y][x], expected) ? 0 : 1;
                }
            }
        }
        Check(wrongPixels == 0, "%d pixels of the bitmap differ from the file's colours",
              wrongPixels);
        DeleteFileA(path);
    }
    __builtin_memcpy(rendered, bitmap.pixels, sizeof rendered);

    // Stopped at the poll of a row: the rows before it are rendered, the others untouched,
    // and no file is written.
    info.frameNumber = STOPPED_FRAME;
    bitmap.Fill();
    watch = RenderWatch{};
    watch.stopAtRow = STOP_AT_ROW;
    Check(BALANCED(filter.RenderFrame(window)) == 1, "a stopped RenderFrame did not give 1");
    Check(watch.progressMessages == STOP_AT_ROW + 1 && watch.faults == 0 &&
              bitmap.rowReads == STOP_AT_ROW,
          "stopped at row %d: %d progress messages, %d row reads", STOP_AT_ROW,
          watch.progressMessages, bitmap.rowReads);
    int wrongPixels = 0;
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            const BMM_Color_64& expected = y < STOP_AT_ROW ? rendered[y][x] : original[y][x];
            wrongPixels += SamePixel(bitmap.pixels[y][x], expected) ? 0 : 1;
        }
    }
    Check(wrongPixels == 0, "stopped at row %d: %d pixels wrong", STOP_AT_ROW, wrongPixels);
    Check(GetFileAttributesA(stoppedPath) == INVALID_FILE_ATTRIBUTES, "a stopped render wrote %s",
          stoppedPath);
    DeleteFileA(stoppedPath);
    BALANCED_VOID(filter.SetSource(nullptr));
    BALANCED_VOID(filter.SetFilterInfo(nullptr));
}

// Both ways a host built by this compiler destroys a filter, through the one destructor slot:
// `delete` (bit 0 set: the module frees the memory) and an explicit destructor call (bit 0
// clear: the memory stays for the host to free, from the C runtime's heap the module uses).
void CheckDestroy(ImageFilter* deleted, ImageFilter* destroyed) {
    HINSTANCE runtime = GetModuleHandleA("msvcrt.dll");
    using HeapHandleFunction = HANDLE(__cdecl*)();
    using FreeFunction = void(__cdecl*)(void*);
    auto heapHandle =
        reinterpret_cast<HeapHandleFunction>(GetProcAddress(runtime, "_get_heap_handle"));
    auto freeMemory = reinterpret_cast<FreeFunction>(GetProcAddress(runtime, "free"));
    if (!Check(heapHandle != nullptr && freeMemory != nullptr,
               "the module's C runtime (msvcrt.dll) is not loaded")) {
        return;
    }
    HANDLE heap = heapHandle();
    Check(HeapValidate(heap, 0, deleted) && HeapValidate(heap, 0, destroyed),
          "filters are not blocks of the C runtime's heap");
    BALANCED_VOID(delete deleted);
    Check(!HeapValidate(heap, 0, deleted), "delete left the filter's memory allocated");
    BALANCED_VOID(destroyed->~ImageFilter());
    Check(HeapValidate(heap, 0, destroyed), "destroying without bit 0 freed the memory");
    freeMemory(destroyed);
    Check(!HeapValidate(heap, 0, destroyed), "the host could not free a destroyed filter");
}

// A fresh directory in the prefix's temporary folder, or 0.
int MakeWorkDirectory(char (&directory)[300]) {
    char temp[260];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return 0;
    }
    // Left behind by a run that crashed, it is used again: the render deletes its files first.
    Format(directory, "%skelvo-msvc-host-%u", temp, GetCurrentProcessId());
    const DWORD attributes = GetFileAttributesA(directory);
    return CreateDirectoryA(directory, nullptr) || (attributes != INVALID_FILE_ATTRIBUTES &&
                                                    (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
               ? 1
               : 0;
}

[[noreturn]] void Finish() {
    Say("%d checks, %d failed", CheckCount(), FailedCheckCount());
    ExitProcess(FailedCheckCount() == 0 ? 0 : 1);
}

}  // namespace

// Constant-initialised: no C runtime runs constructors of globals here.
constinit HostBitmap bitmap;

extern "C" [[noreturn]] void __cdecl HostMain() {
    HINSTANCE module = LoadLibraryA("Kelvo.flt");
    Exports exports;
    if (!Check(module != nullptr, "LoadLibraryA cannot load Kelvo.flt") ||
        !FindExports(module, exports)) {
        Finish();
    }
    ClassDesc* descriptor = CheckExports(exports);
    if (descriptor == nullptr) {
        Finish();
    }
    CheckDescriptor(*descriptor);
    ImageFilter* filter = BALANCED(descriptor->CreateFilter(0));
    ImageFilter* second = BALANCED(descriptor->CreateFilter(1));
    HWND window = CreateHostWindow();
    char directory[300];
    if (!Check(filter != nullptr && second != nullptr, "CreateFilter gave null") ||
        !Check(window != nullptr, "cannot create the host window") ||
        !Check(MakeWorkDirectory(directory), "cannot make a temporary directory")) {
        Finish();
    }
    Say("Kelvo.flt loaded; exports and class descriptor answered");
    unsigned char defaults[BLOCK_SIZE];
    CheckFilterAnswers(*filter, window, bitmap, defaults);
    Say("filter answers, settings block and inherited operations checked");
    CheckDialogs(*filter, window);
    Say("About box and control dialog opened and closed");
    CheckRender(*filter, window, bitmap, defaults, directory);
    Say("frame %d rendered, frame %d stopped at row %d", RENDERED_FRAME, STOPPED_FRAME,
        STOP_AT_ROW);
    RemoveDirectoryA(directory);
    CheckDestroy(filter, second);
    Say("filters destroyed through the destructor slot");
    DestroyWindow(window);
    Check(FreeLibrary(module) != 0, "FreeLibrary failed");
    Finish();
}
