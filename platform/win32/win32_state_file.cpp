#include "platform/win32/win32_state_file.h"

// Windows' own headers first, in their order.
#include "platform/win32/win32_common.h"
// clang-format off
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#include <algorithm>
#include <optional>

#include "platform/win32/win32_text.h"
#include "tempikon_version.h"

namespace tempikon::win32 {

namespace {

std::string Reason(const char* what, DWORD error) {
    return std::string(what) + ": " + systemMessage(error);
}

// The folder, made when missing; the reason when it cannot be.
std::optional<std::string> MakeFolder() {
    const std::wstring folder = widen(Win32StateFile::folder());
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return std::nullopt;
    return Reason("cannot create its folder", GetLastError());
}

// Writes all of text; the error when it could not.
DWORD WriteAll(HANDLE file, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        if (!WriteFile(file, text.data() + done, chunk, &put, nullptr)) return GetLastError();
        if (put == 0) return ERROR_DISK_FULL;
        done += put;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::string Win32StateFile::folder() {
    PWSTR path = nullptr;
    std::string base;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path)) && path)
        base = narrow(path);
    CoTaskMemFree(path);
    return base + "\\" + version::kProductName;
}

std::string Win32StateFile::location() const {
    return folder() + "\\" + name_;
}

platform::FileRead Win32StateFile::read(std::size_t maxBytes) {
    HANDLE file = CreateFileW(widen(location()).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
        return {false, {}, Reason("cannot be read", error)};
    }
    platform::FileRead result;
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        result = {false, {}, "not a regular file"};
    } else if (!GetFileSizeEx(file, &size) ||
               static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        result = {false, {}, "too large"};
    } else {
        char buffer[16384];
        DWORD n = 0;
        while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            result.text.append(buffer, n);
            if (result.text.size() > maxBytes) {
                result = {false, {}, "too large"};
                break;
            }
        }
    }
    CloseHandle(file);
    return result;
}

platform::StoreResult Win32StateFile::append(const std::string& text) {
    if (const auto why = MakeFolder()) return {false, *why};
    HANDLE file = CreateFileW(widen(location()).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {false, Reason("cannot open the file", GetLastError())};
    DWORD error = ERROR_SUCCESS;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return {false, "not a regular file"};
    }
    error = WriteAll(file, text);
    CloseHandle(file);
    if (error != ERROR_SUCCESS) return {false, Reason("cannot write the file", error)};
    return {};
}

platform::StoreResult Win32StateFile::replace(const std::string& text) {
    if (const auto why = MakeFolder()) return {false, *why};
    const std::wstring target = widen(location());
    const std::wstring temporary = target + L".saving";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {false, Reason("cannot create a file there", GetLastError())};
    DWORD error = WriteAll(file, text);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), target.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error != ERROR_SUCCESS) {
        DeleteFileW(temporary.c_str());
        return {false, Reason("cannot write the file", error)};
    }
    return {};
}

bool Win32StateFile::openFolder() {
    MakeFolder();
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", widen(folder()).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

}  // namespace tempikon::win32
