// The host's side of the plug-in interface, declared as a host built with the 32-bit Microsoft
// C++ compiler declares it, and compiled by clang for that compiler's ABI. Written from the
// description of the interface, not from the module's headers: this host checks the module's
// tables instead of repeating them.
#pragma once

typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef unsigned long ULONG;
typedef struct HWND__* HWND;

struct BMM_Color_64 {
    WORD r;
    WORD g;
    WORD b;
    WORD a;
};

struct ImageFilterInfo {
    int frameNumber;
};

struct ClassIdentifierRecord {
    ULONG partA;
    ULONG partB;
};

constexpr ULONG CHANNEL_MATERIAL_EFFECTS = 2;  // one byte per pixel
constexpr ULONG CHANNEL_OBJECT = 4;            // one 16-bit value per pixel
constexpr unsigned int MSG_RENDER_PROGRESS = 0x420;
constexpr unsigned int MSG_RENDER_CHECK_ABORT = 0x421;

// The frame bitmap, implemented by the host. It has no virtual destructor: filters never
// delete it.
class Bitmap {
public:
    virtual WORD Width() = 0;
    virtual WORD Height() = 0;
    virtual void* GetChannelData(ULONG channelCode, ULONG& type) = 0;
    virtual int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) = 0;
    virtual int PutPixels(int x, int y, int count, BMM_Color_64* pixels) = 0;

protected:
    ~Bitmap() = default;
};

// A filter, implemented by the module. The host deletes it through its virtual destructor,
// which this compiler lays out as one slot, the "scalar deleting destructor" with a flag.
class ImageFilter {
public:
    virtual ~ImageFilter() = 0;
    virtual const char* DescriptionText() = 0;
    virtual const char* AuthorText() = 0;
    virtual const char* CopyrightText() = 0;
    virtual unsigned int FilterVersion() = 0;
    virtual DWORD CapabilityMask() = 0;
    virtual int ShowAboutBox(HWND parent) = 0;
    virtual int ShowControlDialog(HWND parent) = 0;
    virtual void SetSource(Bitmap* bitmap) = 0;
    virtual void SetForeground(Bitmap* bitmap) = 0;
    virtual void SetMask(Bitmap* bitmap) = 0;
    virtual void SetFilterInfo(ImageFilterInfo* info) = 0;
    virtual int RenderFrame(HWND hostWindow) = 0;
    virtual int Max() = 0;
    // This compiler groups virtual overloads and lays them out in the reverse of their
    // declaration order: declared int first, the table has Lerp (int, int, float) first.
    virtual int Lerp(int a, int b, int l) = 0;
    virtual int Lerp(int a, int b, float l) = 0;
    virtual DWORD ConfigBlockSize() = 0;
    virtual int LoadConfigBlock(void* block) = 0;
    virtual int SaveConfigBlock(void* block) = 0;
    virtual int CreatePreview(HWND parent, Bitmap** preview) = 0;
    virtual DWORD RequiredChannels() = 0;
    virtual HWND DlgHandle() = 0;
    virtual void MakeDlgInteractive(HWND dialog) = 0;
    virtual int IsInteractive() = 0;
    virtual int CreateNode(HWND parent) = 0;
    virtual void* Node() = 0;
    virtual void FilterUpdate() = 0;
};

// The class descriptor, implemented by the module. Its operations without a name of their own
// are named by their slot; they give fixed answers, and the one-argument ones ignore the word.
class ClassDesc {
public:
    virtual int Slot0() = 0;
    virtual ImageFilter* CreateFilter(int loading) = 0;
    virtual int Slot2(int word) = 0;
    virtual int Slot3(int word) = 0;
    virtual const char* ClassNameText() = 0;
    virtual ULONG SuperClassIdentifier() = 0;
    // Returned by value: this compiler passes the record's address after `this`.
    virtual ClassIdentifierRecord ClassIdentifier() = 0;
    virtual const char* CategoryText() = 0;
    virtual int Slot8(int word) = 0;
    virtual int Slot9() = 0;
    virtual void Slot10(int word) = 0;
    virtual void Slot11(int word) = 0;
    virtual int Slot12() = 0;
    virtual void* Slot13(int word) = 0;
    virtual void* Slot14(int word) = 0;

protected:
    ~ClassDesc() = default;
};

// A spinner control as the host hands it out; the module's dialog calls it.
class ISpinnerControl {
public:
    virtual int GetIntValue() = 0;
    virtual void SetIntValue(int value, int notify) = 0;
    virtual void SetValueRange(int minimum, int maximum, int flag) = 0;
    virtual void AttachEdit(HWND edit, int type) = 0;

protected:
    ~ISpinnerControl() = default;
};

// The module's exports: plain functions with this compiler's default convention.
typedef const char* (*LibDescriptionFunction)();
typedef int (*LibNumberClassesFunction)();
typedef ClassDesc* (*LibClassDescFunction)(int index);
typedef ULONG (*LibVersionFunction)();

// Every layout this host relies on, computed by the compiler for the layout check.
static_assert(sizeof(BMM_Color_64) == 8 && sizeof(ImageFilterInfo) == 4 &&
              sizeof(ClassIdentifierRecord) == 8);
