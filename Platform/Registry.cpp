#include "Platform/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The largest value the store reads back; registry values are small.
constexpr size_t kMaxValueBytes = 16 * 1024 * 1024;

std::mutex g_appMutex;
CString g_appKey;
CString g_appProfile;

int Retry(auto call) {
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

// Key and value names may hold any character but "\"; file names may not hold
// "/" nor be "." or "..": escape what a folder cannot take as %XX.
std::string Escape(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c == '/' || c == '%' || c < 0x20 || (out.empty() && c == '.')) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() ? std::string("%00") : out;
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd =
        Retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd >= 0) {
        Retry([&] { return ::fsync(fd); });
        ::close(fd);
    }
}
}  // namespace

CString CRegistryKey::GetRoot() {
    if (const char* root = std::getenv("EEGFILE_REGISTRY_ROOT"); root && *root)
        return root;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        return CString(xdg) + "/EegFile/registry";
    }
    const char* home = std::getenv("HOME");
    return CString(home && *home ? home : "/tmp") + "/.config/EegFile/registry";
}

BOOL CRegistryKey::Open(const char* keyPath, bool create) {
    Close();
    std::string folder = GetRoot().str();
    if (create) {
        // The root's own parents may be missing on a fresh machine.
        for (size_t p = folder.find('/', 1); p != std::string::npos; p = folder.find('/', p + 1)) {
            MakeFolder(folder.substr(0, p));
        }
        if (!MakeFolder(folder))
            return FALSE;
    }
    const std::string path = keyPath ? keyPath : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            folder += "/" + Escape(path.substr(start, end - start));
            if (create && !MakeFolder(folder))
                return FALSE;
        }
        start = end + 1;
    }
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return FALSE;
    m_folder = folder;
    return TRUE;
}

std::string CRegistryKey::ValuePath(const char* name) const {
    return m_folder + "/" + Escape(name ? name : "") + ".value";
}

BOOL CRegistryKey::QueryValue(const char* name, DWORD& type, std::vector<BYTE>& data) const {
    if (!IsOpen())
        return FALSE;
    const std::string path = ValuePath(name);
    const int fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return FALSE;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 4 &&
              static_cast<size_t>(st.st_size) <= kMaxValueBytes + 4;
    std::vector<BYTE> bytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        ok = got == bytes.size();
    }
    ::close(fd);
    if (!ok)
        return FALSE;
    type = static_cast<DWORD>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                              static_cast<DWORD>(bytes[3]) << 24);
    data.assign(bytes.begin() + 4, bytes.end());
    return TRUE;
}

BOOL CRegistryKey::SetValue(const char* name, DWORD type, const void* data, size_t size) {
    if (!IsOpen() || size > kMaxValueBytes)
        return FALSE;
    const std::string path = ValuePath(name);
    const std::string temp = path + ".new." + std::to_string(::getpid());
    const int fd =
        Retry([&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd < 0)
        return FALSE;
    const BYTE header[4] = {static_cast<BYTE>(type), static_cast<BYTE>(type >> 8),
                            static_cast<BYTE>(type >> 16), static_cast<BYTE>(type >> 24)};
    bool ok = WriteAll(fd, header, 4) && WriteAll(fd, data, size) &&
              Retry([&] { return ::fsync(fd); }) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok ? TRUE : FALSE;
}

BOOL CRegistryKey::DeleteValue(const char* name) {
    return IsOpen() && ::unlink(ValuePath(name).c_str()) == 0 ? TRUE : FALSE;
}

void CRegistryKey::Flush() const {
    if (IsOpen())
        SyncFolder(m_folder);
}

void SetAppRegistryKey(const char* registryKey, const char* profileName) {
    std::lock_guard lock(g_appMutex);
    g_appKey = registryKey ? registryKey : "";
    g_appProfile = profileName ? profileName : "";
}

BOOL GetAppRegistryPath(CString& path) {
    std::lock_guard lock(g_appMutex);
    if (g_appKey.IsEmpty() && g_appProfile.IsEmpty())
        return FALSE;
    path = "Software\\";
    if (!g_appKey.IsEmpty())
        path += g_appKey + "\\";
    path += g_appProfile;
    return TRUE;
}
