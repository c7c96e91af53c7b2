// A file open for reading at any offset, with CreateFileW, ReadFile at an offset and
// GetFileSizeEx.
#include <windows.h>

#include <algorithm>

#include "kelvo/os/read_only_file.h"

namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string LastErrorText() {
    const DWORD code = GetLastError();
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// OpenEXR names its files in UTF-8 on Windows, and its readers opened them so.
std::wstring WidenUtf8(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    }
    return wide;
}

// ReadFile takes a DWORD count; reads are split well below it.
constexpr size_t READ_STEP_BYTES = size_t{1} << 30;

}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_ != -1) {
        CloseHandle(AsHandle(handle_));
    }
}

int ReadOnlyFile::Open(const std::string& path, std::string& error) {
    const HANDLE file =
        CreateFileW(WidenUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return 0;
    }
    if (handle_ != -1) {
        CloseHandle(AsHandle(handle_));
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return 1;
}

int ReadOnlyFile::Size(uint64_t& size, std::string& error) const {
    LARGE_INTEGER bytes{};
    if (!GetFileSizeEx(AsHandle(handle_), &bytes)) {
        error = LastErrorText();
        return 0;
    }
    size = static_cast<uint64_t>(bytes.QuadPart);
    return 1;
}

int64_t ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const {
    auto* at = static_cast<char*>(buffer);
    size_t got = 0;
    while (got < size) {
        const uint64_t from = offset + got;
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(from & 0xFFFFFFFFu);
        place.OffsetHigh = static_cast<DWORD>(from >> 32);
        const auto step = static_cast<DWORD>(std::min(size - got, READ_STEP_BYTES));
        DWORD read = 0;
        if (!ReadFile(AsHandle(handle_), at + got, step, &read, &place)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            error = LastErrorText();
            return -1;
        }
        if (read == 0) {
            break;
        }
        got += read;
    }
    return static_cast<int64_t>(got);
}
