// A small file-backed stand-in for the Windows registry. A key is a folder under
// the registry root, a value a file holding its type and bytes. The root is
// EEGFILE_REGISTRY_ROOT when set, else $XDG_CONFIG_HOME/EegFile/registry, else
// ~/.config/EegFile/registry. Values are replaced atomically (write beside,
// fsync, rename), so a reader in another process sees the old value or the new
// one, never a torn one; the last writer wins.
#pragma once

#include <string>
#include <vector>

#include "Platform/String.h"
#include "Platform/Types.h"

enum RegistryValueType : DWORD {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() = default;

    // The folder of the whole store.
    static CString GetRoot();

    // Opens a key below the root by its path with "\" between components
    // ("Software\\App\\Profile\\Name"). With create, missing keys are made.
    // Returns FALSE when the key does not exist (or cannot be made).
    BOOL Open(const char* keyPath, bool create);
    void Close() { m_folder.clear(); }
    BOOL IsOpen() const { return !m_folder.empty(); }

    // FALSE when the value does not exist or cannot be read.
    BOOL QueryValue(const char* name, DWORD& type, std::vector<BYTE>& data) const;
    // FALSE when the value cannot be written.
    BOOL SetValue(const char* name, DWORD type, const void* data, size_t size);
    BOOL DeleteValue(const char* name);

    // Makes the key's changes durable (fsync of its folder), as RegFlushKey does.
    void Flush() const;

private:
    std::string ValuePath(const char* name) const;

    std::string m_folder;
};

// The host application's registry key and profile name, set by the host once.
// Empty texts (the default) mean the application has none.
void SetAppRegistryKey(const char* registryKey, const char* profileName);
// "Software\\<key>\\<profile>" (or "Software\\<profile>" without a key); FALSE
// when the host set neither, in which case the library uses no key at all.
BOOL GetAppRegistryPath(CString& path);
