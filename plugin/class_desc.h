// The class descriptor through which the host discovers and creates palette render filters.
#pragma once

#include "hostapi/host_api.h"

// The class identifier of PaletteRenderFilter, as the host stores it in its files.
constexpr ULONG FILTER_CLASS_ID_A = 0x130079D8;
constexpr ULONG FILTER_CLASS_ID_B = 0x05A618A8;

class PaletteRenderClassDesc final : public ClassDesc {
public:
    // In the order of the host's table of virtual operations.
    int IsPublic() override;
    ImageFilter* CreateFilter(int loading) override;
    int BeginCreate(void* host) override;
    int EndCreate(void* host) override;
    const char* ClassNameText() override;
    ULONG SuperClassIdentifier() override;
    ClassIdentifierRecord* ClassIdentifier(ClassIdentifierRecord* result) override;
    const char* CategoryText() override;
    int OkToCreate(void* host) override;
    int HasClassParameters() override;
    void EditClassParameters(HWND parent) override;
    void ResetClassParameters(int fileReset) override;
    int ActionTableCount() override;
    void* ActionTable(int index) override;
    void* Extension(int identifier) override;
};

// The module's one descriptor; the host keeps it for the module's lifetime.
PaletteRenderClassDesc& TheClassDesc();
