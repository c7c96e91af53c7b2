// One use of the Windows Imaging Component: COM started on this thread and the imaging factory.
#include "kelvo/imageio/wic_session_win32.h"

#include <cstdio>

WicSession::WicSession() {
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A thread already in the multithreaded apartment can use the factory as it is.
    comStarted_ = SUCCEEDED(started);
    if (FAILED(started) && started != RPC_E_CHANGED_MODE) {
        error_ = "cannot start COM for the imaging component: " + DescribeWicFailure(started);
        return;
    }
    const HRESULT created =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(factory_.Receive()));
    if (FAILED(created)) {
        factory_.Reset();
        error_ = "the Windows Imaging Component is not available: " + DescribeWicFailure(created);
    }
}

WicSession::~WicSession() {
    // The factory goes before COM does.
    factory_.Reset();
    if (comStarted_) {
        CoUninitialize();
    }
}

std::string DescribeWicFailure(HRESULT result) {
    switch (result) {
        case WINCODEC_ERR_BADHEADER:
        case WINCODEC_ERR_BADIMAGE:
        case WINCODEC_ERR_BADSTREAMDATA:
        case WINCODEC_ERR_STREAMREAD:
        case WINCODEC_ERR_STREAMNOTAVAILABLE:
        case HRESULT_FROM_WIN32(ERROR_HANDLE_EOF):
        case E_FAIL:
            return "the image data is damaged or cut short";
        case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
        case WINCODEC_ERR_COMPONENTNOTFOUND:
            return "the Windows Imaging Component has no codec for it";
        case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT:
        case WINCODEC_ERR_UNSUPPORTEDOPERATION:
            return "the Windows Imaging Component does not support this pixel layout";
        case E_OUTOFMEMORY:
            return "out of memory";
        default:
            break;
    }
    char code[48];
    std::snprintf(code, sizeof code, "imaging error 0x%08lX",
                  static_cast<unsigned long>(static_cast<ULONG>(result)));
    return code;
}
