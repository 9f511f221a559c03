#include "platform/win32/win32_settings_store.h"

#include <vector>

#include "platform/win32/win32_common.h"
#include "platform/win32/win32_text.h"
#include "tempikon_version.h"

namespace tempikon::win32 {

namespace {

// The registry's transactions (Vista and later) make a save all-or-nothing;
// looked up at run time, and the save falls back to plain writes without them.
struct Transactions {
    using Create = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPGUID, DWORD, DWORD, DWORD, DWORD,
                                   LPWSTR);
    using Commit = BOOL(WINAPI*)(HANDLE);
    using CreateKey = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                       const LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD, HANDLE, PVOID);
    Create create = nullptr;
    Commit commit = nullptr;
    CreateKey createKey = nullptr;

    Transactions() {
        HMODULE ktm = LoadLibraryW(L"ktmw32.dll");
        HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
        if (!ktm || !advapi) return;
        create = reinterpret_cast<Create>(
            reinterpret_cast<void*>(GetProcAddress(ktm, "CreateTransaction")));
        commit = reinterpret_cast<Commit>(
            reinterpret_cast<void*>(GetProcAddress(ktm, "CommitTransaction")));
        createKey = reinterpret_cast<CreateKey>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegCreateKeyTransactedW")));
    }
    bool available() const { return create && commit && createKey; }
};

LSTATUS setText(HKEY key, const std::wstring& name, const std::wstring& value) {
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

struct Write {
    std::wstring key;
    std::wstring name;
    std::wstring value;
};

LSTATUS writeTransacted(const std::vector<Write>& writes) {
    static const Transactions tx;
    if (!tx.available()) return ERROR_CALL_NOT_IMPLEMENTED;
    HANDLE transaction = tx.create(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    if (transaction == INVALID_HANDLE_VALUE || !transaction) return ERROR_CALL_NOT_IMPLEMENTED;
    LSTATUS rc = ERROR_SUCCESS;
    for (const Write& w : writes) {
        HKEY key = nullptr;
        rc = tx.createKey(HKEY_CURRENT_USER, w.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr, transaction, nullptr);
        if (rc != ERROR_SUCCESS) break;
        rc = setText(key, w.name, w.value);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) break;
    }
    // Without the commit nothing of it reaches the registry.
    if (rc == ERROR_SUCCESS && !tx.commit(transaction)) rc = static_cast<LSTATUS>(GetLastError());
    CloseHandle(transaction);
    return rc;
}

LSTATUS writePlain(const std::vector<Write>& writes) {
    for (const Write& w : writes) {
        HKEY key = nullptr;
        LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, w.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) return rc;
        rc = setText(key, w.name, w.value);
        if (rc == ERROR_SUCCESS) rc = RegFlushKey(key);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::wstring Win32SettingsStore::keyPath(const std::string& app, const std::string& section) {
    return L"Software\\" + widen(version::kProductName) + L"\\" + widen(app) + L"\\" +
           widen(section);
}

std::string Win32SettingsStore::readText(const std::string& app, const std::string& section,
                                         const std::string& key, const std::string& defaultValue) {
    auto it = pending_.find({app, section, key});
    if (it != pending_.end()) return it->second;
    const std::wstring path = keyPath(app, section);
    const std::wstring name = widen(key);
    // Text only; a value of another type, as anything missing, gives the default.
    const DWORD types = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD bytes = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), types, nullptr, nullptr,
                         &bytes) != ERROR_SUCCESS)
            return defaultValue;
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LSTATUS rc = RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), types,
                                        nullptr, value.data(), &bytes);
        if (rc == ERROR_MORE_DATA) continue;  // it grew in between
        if (rc != ERROR_SUCCESS) return defaultValue;
        value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
        return narrow(value);
    }
    return defaultValue;
}

std::map<std::string, std::string> Win32SettingsStore::readSection(const std::string& app,
                                                                   const std::string& section) {
    std::map<std::string, std::string> texts;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath(app, section).c_str(), 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        // All values through one open key; a value that grew in between
        // starts the reading again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            texts.clear();
            DWORD longestName = 0, longestData = 0;
            if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring name(longestName + 1, L'\0');
            std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
            LSTATUS rc = ERROR_SUCCESS;
            for (DWORD index = 0;; ++index) {
                DWORD nameSize = static_cast<DWORD>(name.size());
                DWORD type = 0;
                DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
                rc = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data.data()), &bytes);
                if (rc != ERROR_SUCCESS) break;
                // Text only, as readText takes it.
                if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
                const std::wstring value(data.data(),
                                         wcsnlen(data.data(), bytes / sizeof(wchar_t)));
                texts[narrow(std::wstring(name.data(), nameSize))] = narrow(value);
            }
            if (rc != ERROR_MORE_DATA) break;
        }
        RegCloseKey(key);
    }
    for (const auto& [address, value] : pending_) {
        if (std::get<0>(address) == app && std::get<1>(address) == section)
            texts[std::get<2>(address)] = value;
    }
    return texts;
}

void Win32SettingsStore::writeText(const std::string& app, const std::string& section,
                                   const std::string& key, const std::string& value) {
    pending_[{app, section, key}] = value;
}

platform::StoreResult Win32SettingsStore::commit() {
    if (pending_.empty()) return {};
    std::vector<Write> writes;
    for (const auto& [address, value] : pending_) {
        const auto& [app, section, key] = address;
        writes.push_back({keyPath(app, section), widen(key), widen(value)});
    }
    LSTATUS rc = writeTransacted(writes);
    if (rc == ERROR_CALL_NOT_IMPLEMENTED || rc == ERROR_NOT_SUPPORTED) rc = writePlain(writes);
    if (rc != ERROR_SUCCESS) return {false, systemMessage(static_cast<unsigned long>(rc))};
    pending_.clear();
    return {};
}

char Win32SettingsStore::decimalSeparator() const {
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) > 0 &&
        separator[0] == L',')
        return ',';
    return '.';
}

}  // namespace tempikon::win32

namespace tempikon::win32 {

std::string Win32SettingsStore::locationOf(const std::string& app) const {
    return "HKEY_CURRENT_USER\\Software\\" + std::string(version::kProductName) + "\\" + app;
}

std::optional<std::string> Win32SettingsStore::unreadableReason(const std::string& app) const {
    // A key that is there but may not be read hides the configuration; an
    // absent one means "not configured".
    const std::wstring path = L"Software\\" + widen(version::kProductName) + L"\\" + widen(app);
    HKEY key = nullptr;
    const LSTATUS rc = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
        return std::nullopt;
    }
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return std::nullopt;
    return systemMessage(static_cast<unsigned long>(rc));
}

}  // namespace tempikon::win32
