// One use of the Windows Imaging Component: COM started on this thread and the imaging factory.
#pragma once

#include <windows.h>

#include <wincodec.h>

#include <string>

// Owns one reference to a COM object and releases it.
template <typename Interface>
class ComReference {
public:
    ComReference() = default;
    ~ComReference() { Reset(); }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;

    Interface* Get() const { return object_; }
    Interface* operator->() const { return object_; }
    // For the out-parameter of a creating call; drops what was held before.
    Interface** Receive() {
        Reset();
        return &object_;
    }
    void Reset() {
        if (object_ != nullptr) {
            object_->Release();
            object_ = nullptr;
        }
    }

private:
    Interface* object_ = nullptr;
};

class WicSession {
public:
    // Starts COM on the calling thread (or joins the apartment it is already in) and creates
    // the imaging factory; Factory() is null when either failed, with the reason in Error().
    WicSession();
    ~WicSession();
    WicSession(const WicSession&) = delete;
    WicSession& operator=(const WicSession&) = delete;

    IWICImagingFactory* Factory() const { return factory_.Get(); }
    const std::string& Error() const { return error_; }

private:
    bool comStarted_ = false;
    ComReference<IWICImagingFactory> factory_;
    std::string error_;
};

// The reason behind a failed imaging call in words ("the image data is damaged or cut
// short"); codes without a known meaning are given as "imaging error 0x...".
std::string DescribeWicFailure(HRESULT result);
