// The Win32 functions the test host calls, declared here: it is built without a C runtime and
// without the platform's headers. tests/msvc_host/*.def name the same functions.
#pragma once

typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HWND__* HWND;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef int BOOL;
typedef UINT WPARAM;
typedef long LPARAM;
typedef long LRESULT;
typedef LRESULT(__stdcall* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(__stdcall* TIMERPROC)(HWND, UINT, UINT, DWORD);
typedef int(__cdecl* FARPROC)();

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HANDLE hIcon;
    HANDLE hCursor;
    HANDLE hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD INVALID_FILE_ATTRIBUTES = static_cast<DWORD>(-1);
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr UINT WM_COMMAND = 0x0111;
constexpr WPARAM IDCANCEL = 2;
inline HANDLE InvalidHandle() {
    return reinterpret_cast<HANDLE>(-1);
}

extern "C" {

// kernel32
HINSTANCE __stdcall LoadLibraryA(const char* name);
FARPROC __stdcall GetProcAddress(HINSTANCE module, const char* name);
BOOL __stdcall FreeLibrary(HINSTANCE module);
HINSTANCE __stdcall GetModuleHandleA(const char* name);
HANDLE __stdcall GetStdHandle(DWORD which);
BOOL __stdcall WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written,
                         void* overlapped);
BOOL __stdcall ReadFile(HANDLE file, void* data, DWORD size, DWORD* read, void* overlapped);
HANDLE __stdcall CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                             DWORD disposition, DWORD flags, HANDLE pattern);
BOOL __stdcall CloseHandle(HANDLE handle);
BOOL __stdcall DeleteFileA(const char* name);
DWORD __stdcall GetFileAttributesA(const char* name);
DWORD __stdcall GetTempPathA(DWORD size, char* path);
BOOL __stdcall CreateDirectoryA(const char* name, void* security);
BOOL __stdcall RemoveDirectoryA(const char* name);
DWORD __stdcall GetCurrentProcessId();
DWORD __stdcall GetEnvironmentVariableA(const char* name, char* value, DWORD size);
BOOL __stdcall HeapValidate(HANDLE heap, DWORD flags, const void* block);
[[noreturn]] void __stdcall ExitProcess(UINT code);

// user32
unsigned short __stdcall RegisterClassA(const WNDCLASSA* windowClass);
HWND __stdcall CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style,
                               int x, int y, int width, int height, HWND parent, HANDLE menu,
                               HINSTANCE instance, void* parameter);
BOOL __stdcall DestroyWindow(HWND window);
LRESULT __stdcall DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND __stdcall FindWindowA(const char* className, const char* title);
BOOL __stdcall IsWindowVisible(HWND window);
BOOL __stdcall PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
UINT __stdcall SetTimer(HWND window, UINT id, UINT milliseconds, TIMERPROC procedure);
BOOL __stdcall KillTimer(HWND window, UINT id);
int __stdcall wvsprintfA(char* out, const char* format, __builtin_va_list arguments);

}  // extern "C"
