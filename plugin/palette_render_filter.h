// The filter object the host creates, configures, stores and renders through.
#pragma once

#include "hostapi/host_api.h"
#include "plugin/settings.h"

class PaletteRenderFilter : public ImageFilter {
public:
    PaletteRenderFilter();
    // Not virtual: the host destroys filters through Destroy. A derived class that is
    // destroyed that way overrides Destroy.
    ~PaletteRenderFilter();

    // In the order of the host's table of virtual operations.
    // Frees with the operator delete that matches CreateFilter's operator new.
    void* Destroy(unsigned int flags) override;
    const char* DescriptionText() override;
    const char* AuthorText() override;
    const char* CopyrightText() override;
    unsigned int FilterVersion() override;
    DWORD CapabilityMask() override;
    int ShowAboutBox(HWND parent) override;
    int ShowControlDialog(HWND parent) override;
    int RenderFrame(HWND hostWindow) override;
    DWORD ConfigBlockSize() override;
    int LoadConfigBlock(void* block) override;
    int SaveConfigBlock(void* block) override;
    DWORD RequiredChannels() override;

    // The control dialog's procedure and its file choosers (Windows only). They read and write
    // `settings` in place; none of them is a virtual operation.
    INT_PTR ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    int ChooseOutputFile(HWND dialog);
    int ChoosePaletteFile(HWND dialog);

    PaletteRenderSettings settings;
};

// The base part is followed by the settings block and nothing else (but tail padding).
static_assert(sizeof(PaletteRenderFilter) ==
              (sizeof(ImageFilter) + sizeof(PaletteRenderSettings) + alignof(ImageFilter) - 1) /
                  alignof(ImageFilter) * alignof(ImageFilter));

constexpr unsigned int FILTER_VERSION = 101;
constexpr DWORD FILTER_CAPABILITIES = 6;
