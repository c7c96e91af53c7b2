// Our own declarations of the rendering host's interface, as far as the filter uses it.
//
// The host is built with the 32-bit Microsoft C++ compiler, so every table of virtual operations
// here must come out as that compiler lays it out, although the module is built with g++:
// - no virtual destructor: g++ would give it two slots (complete, deleting) where the host's
//   compiler has one, which takes a flag. That slot is declared as an operation of its own
//   (ImageFilter::Destroy), and the other interfaces have none;
// - overloads: the host's compiler groups virtual overloads and lays them out in the reverse of
//   their declaration order, g++ in declaration order; they are declared here in table order;
// - member calls: g++ for 32-bit Windows passes `this` in ECX and lets the callee pop the
//   arguments (thiscall), as the host's compiler does;
// - records returned from a member: the host's compiler always returns them through a pointer
//   the caller passes, so those operations take that pointer explicitly.
// tests/msvc_host checks all of this against a host built for that compiler's ABI.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "hostapi/channels.h"

// Sent to the host window once per row, before the row: wParam = row, lParam = height - 1.
constexpr UINT MSG_RENDER_PROGRESS = 0x420;
// Sent once per row after the progress message: wParam = 0, lParam = address of an int32
// that the filter set to 0 and the host sets non-zero to stop the render.
constexpr UINT MSG_RENDER_CHECK_ABORT = 0x421;

// The host's identifier of the image-filter super-class.
constexpr ULONG IMAGE_FILTER_CLASS_ID = 0x0E00;

// One pixel: four unsigned 16-bit channels.
struct BMM_Color_64 {
    uint16_t r;
    uint16_t g;
    uint16_t b;
    uint16_t a;
};
static_assert(sizeof(BMM_Color_64) == 8);
static_assert(offsetof(BMM_Color_64, a) == 6);

// A frame bitmap owned by the host, with optional per-pixel identifier channels.
class Bitmap {
public:
    // 0 when the bitmap has no pixel storage.
    virtual WORD Width() = 0;
    virtual WORD Height() = 0;
    // Width x height channel values in row-major order, or null. `type` receives the host's
    // description of the values' type.
    virtual void* GetChannelData(ULONG channelCode, ULONG& type) = 0;
    // Fills `count` pixels of row y from column x; 1 on success.
    virtual int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) = 0;
    // Stores `count` pixels of row y from column x.
    virtual int PutPixels(int x, int y, int count, BMM_Color_64* pixels) = 0;

protected:
    ~Bitmap() = default;  // the host owns its bitmaps; filters never delete them
};

// What the host tells a filter about the frame being rendered.
struct ImageFilterInfo {
    int frameNumber;  // current frame, names the output file
};
static_assert(sizeof(ImageFilterInfo) == 4);

// Destroy's flag bit: free the object's memory after destroying it (the host's `delete`).
constexpr unsigned int DESTROY_FREE_MEMORY = 1;

// The base class of every image filter. The virtual operations are declared in the order of
// the host's table; the filter overrides some and inherits the rest.
class ImageFilter {
public:
    ImageFilter();

    // Slot 0, the host's destructor: destroys the object, and frees its memory when
    // DESTROY_FREE_MEMORY is set in `flags` (other bits are ignored). With the bit clear the
    // memory stays allocated from the C runtime's heap, for the host to free. Returns the
    // object's address. Everything that destroys a filter goes through here.
    virtual void* Destroy(unsigned int flags) = 0;
    virtual const char* DescriptionText() = 0;
    virtual const char* AuthorText() = 0;
    virtual const char* CopyrightText() = 0;
    virtual unsigned int FilterVersion() = 0;
    virtual DWORD CapabilityMask() = 0;
    virtual int ShowAboutBox(HWND parent) = 0;
    virtual int ShowControlDialog(HWND parent);
    virtual void SetSource(Bitmap* bitmap);
    virtual void SetForeground(Bitmap* bitmap);
    virtual void SetMask(Bitmap* bitmap);
    virtual void SetFilterInfo(ImageFilterInfo* info);
    virtual int RenderFrame(HWND hostWindow) = 0;
    virtual int Max();
    // In table order: float first (see the top of this file).
    virtual int Lerp(int a, int b, float l);
    virtual int Lerp(int a, int b, int l);
    virtual DWORD ConfigBlockSize();
    virtual int LoadConfigBlock(void* block);
    virtual int SaveConfigBlock(void* block);
    virtual int CreatePreview(HWND parent, Bitmap** preview);
    virtual DWORD RequiredChannels();
    virtual HWND DlgHandle();
    virtual void MakeDlgInteractive(HWND dialog);
    virtual int IsInteractive();
    virtual int CreateNode(HWND parent);
    virtual void* Node();
    virtual void FilterUpdate();

protected:
    // Not virtual, so that no destructor slot appears in the table; Destroy destroys.
    ~ImageFilter();

    Bitmap* sourceMap = nullptr;  // the frame to be filtered; null when absent
    Bitmap* foregroundMap = nullptr;
    Bitmap* maskMap = nullptr;
    ImageFilterInfo* filterInfo = nullptr;  // supplied by the host before it renders
    HWND dialogHandle = nullptr;
    void* node = nullptr;
};

// The two 32-bit words that identify a plug-in class to the host.
struct ClassIdentifierRecord {
    ULONG partA;
    ULONG partB;
};
static_assert(sizeof(ClassIdentifierRecord) == 8);
static_assert(offsetof(ClassIdentifierRecord, partB) == 4);

// What the host asks of a plug-in class: the class descriptor. The virtual operations are
// declared in the order of the host's table. Where an operation takes one word, the host
// passes one that the descriptors of image filters ignore.
class ClassDesc {
public:
    virtual int IsPublic() = 0;
    virtual ImageFilter* CreateFilter(int loading) = 0;
    virtual int BeginCreate(void* host) = 0;
    virtual int EndCreate(void* host) = 0;
    virtual const char* ClassNameText() = 0;
    virtual ULONG SuperClassIdentifier() = 0;
    // The host's compiler returns the record through `result`, which the caller passes; g++
    // would return it in EDX:EAX, so the pointer is explicit. Returns `result`.
    virtual ClassIdentifierRecord* ClassIdentifier(ClassIdentifierRecord* result) = 0;
    virtual const char* CategoryText() = 0;
    virtual int OkToCreate(void* host) = 0;
    virtual int HasClassParameters() = 0;
    virtual void EditClassParameters(HWND parent) = 0;
    virtual void ResetClassParameters(int fileReset) = 0;
    virtual int ActionTableCount() = 0;
    virtual void* ActionTable(int index) = 0;
    virtual void* Extension(int identifier) = 0;

protected:
    ~ClassDesc() = default;  // a module-wide object that lives as long as its module
};

// A spinner custom control ("SpinnerControl" window class), as the host hands it out.
class ISpinnerControl {
public:
    virtual int GetIntValue() = 0;
    virtual void SetIntValue(int value, int notify) = 0;
    virtual void SetValueRange(int minimum, int maximum, int flag) = 0;
    virtual void AttachEdit(HWND edit, int type) = 0;

protected:
    ~ISpinnerControl() = default;  // given back with ReleaseISpinner, never deleted
};

// Registers the host's custom control classes "CustEdit" and "SpinnerControl".
void InitCustomControls(HINSTANCE instance);
ISpinnerControl* GetISpinner(HWND spinner);
void ReleaseISpinner(ISpinnerControl* spinner);
// Centres `window` over `parent` (over the screen when there is no parent).
void CenterWindow(HWND window, HWND parent);

// The filter text of a file dialog, built by appending a description and then its pattern for
// each entry: every string NUL-terminated, the whole ended by an empty string.
class FilterList {
public:
    FilterList();
    // Adds one string; a string that would not fit is dropped, so the text stays well formed.
    void Append(const char* text);
    // The text in the form the file dialog's filter field expects.
    const char* Text() const { return text_; }

private:
    static constexpr size_t CAPACITY = 512;
    char text_[CAPACITY];
    size_t length_ = 0;  // bytes in use, without the final empty string's NUL
};
