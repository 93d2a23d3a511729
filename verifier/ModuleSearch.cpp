#include "ModuleSearch.h"

#include "SearchPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace hakop::verifier {

namespace {

std::string errorText(int error)
{
    return std::generic_category().message(error);
}

// The cache entries the loader takes on this architecture (glibc's
// _DL_CACHEDEFAULT_ID); elsewhere any entry for the C library will do.
bool cacheFlagsFit(std::int32_t flags)
{
#if defined(__x86_64__) && defined(__LP64__)
    return flags == 0x0303;
#elif defined(__aarch64__)
    return flags == 0x0a03;
#else
    return (flags & 0xff) == 0x03;
#endif
}

template <typename T>
bool readAt(const std::string& data, std::size_t offset, T& value)
{
    if (offset > data.size() || data.size() - offset < sizeof value)
        return false;
    std::memcpy(&value, data.data() + offset, sizeof value);
    return true;
}

std::string stringAt(const std::string& data, std::uint32_t offset)
{
    if (offset >= data.size())
        return {};
    const auto end = data.find('\0', offset);
    if (end == std::string::npos)
        return {};
    return data.substr(offset, end - offset);
}

enum class Look { Absent, Present, Unusable };

// One place: is 'path' there, and can the loader read it?
Look look(const std::string& path, std::string& why)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Look::Absent;
        why = "cannot tell whether " + path + " is there: " + errorText(errno);
        return Look::Unusable;
    }
    if (!S_ISREG(st.st_mode)) {
        why = path + " is not a file";
        return Look::Unusable;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = path + " cannot be read: " + errorText(errno);
        return Look::Unusable;
    }
    close(fd);
    return Look::Present;
}

ModuleLookup found(const std::string& path)
{
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr)
        return {ModuleLookup::Outcome::Unusable, {}, path + " cannot be resolved: " + errorText(errno)};
    return {ModuleLookup::Outcome::Found, real, {}};
}

} // namespace

SearchPlaces loaderPlaces()
{
    SearchPlaces places;
    if (const char* path = std::getenv("LD_LIBRARY_PATH"))
        places.folders = absoluteEntries(path);
    places.cache = "/etc/ld.so.cache";
    const std::string arch = HAKOP_LIBRARY_ARCHITECTURE;
    if (!arch.empty())
        places.defaults = {"/lib/" + arch, "/usr/lib/" + arch};
    places.defaults.emplace_back("/lib");
    places.defaults.emplace_back("/usr/lib");
    return places;
}

ModuleLookup findModule(const std::string& name, const SearchPlaces& places)
{
    std::string why;
    auto inFolders = [&](const std::vector<std::string>& folders, ModuleLookup& result) {
        for (const std::string& folder : folders) {
            std::string path = folder;
            if (path.back() != '/')
                path += '/';
            path += name;
            switch (look(path, why)) {
            case Look::Absent: continue;
            case Look::Present: result = found(path); return true;
            case Look::Unusable: result = {ModuleLookup::Outcome::Unusable, path, why}; return true;
            }
        }
        return false;
    };

    ModuleLookup result;
    if (inFolders(places.folders, result))
        return result;
    if (!places.cache.empty()) {
        // A stale entry (its file gone) sends the loader on to the default folders.
        const std::string listed = cacheEntry(places.cache, name);
        if (!listed.empty()) {
            switch (look(listed, why)) {
            case Look::Absent: break;
            case Look::Present: return found(listed);
            case Look::Unusable: return {ModuleLookup::Outcome::Unusable, listed, why};
            }
        }
    }
    if (inFolders(places.defaults, result))
        return result;
    return {};
}

std::string unsafeBecause(const std::string& path, uid_t user)
{
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr)
        return path + " cannot be resolved: " + errorText(errno);
    std::string place = real;
    for (;;) {
        struct stat st {};
        if (stat(place.c_str(), &st) != 0)
            return place + " cannot be examined: " + errorText(errno);
        if (st.st_uid != 0 && st.st_uid != user)
            return place + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return place + " may be written by others than its owner and root";
        if (place == "/")
            return {};
        const auto slash = place.rfind('/');
        place = slash == 0 ? std::string("/") : place.substr(0, slash);
    }
}

std::string cacheEntry(const std::string& cacheFile, const std::string& name)
{
    std::ifstream in(cacheFile, std::ios::binary);
    if (!in)
        return {};
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // glibc's format: "glibc-ld.so.cache1.1", the entry count, then entries
    // of {flags, key offset, value offset, os version, hwcap}; the offsets
    // count from the start of that header. An old-format cache carries the
    // new one after its own entries.
    static constexpr char oldMagic[] = "ld.so-1.7.0";
    static constexpr char newMagic[] = "glibc-ld.so.cache1.1";
    std::size_t base = 0;
    if (data.compare(0, sizeof oldMagic - 1, oldMagic) == 0) {
        std::uint32_t oldCount = 0;
        if (!readAt(data, 12, oldCount) || oldCount > data.size() / 12)
            return {};
        base = (16 + std::size_t{oldCount} * 12 + 7) & ~std::size_t{7};
    }
    if (data.compare(base, sizeof newMagic - 1, newMagic) != 0)
        return {};
    std::uint32_t count = 0;
    if (!readAt(data, base + 20, count))
        return {};
    constexpr std::size_t header = 48;
    constexpr std::size_t entrySize = 24;
    std::string fallback; // an entry for a hardware-specific subfolder
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = base + header + std::size_t{i} * entrySize;
        std::int32_t flags = 0;
        std::uint32_t key = 0;
        std::uint32_t value = 0;
        std::uint64_t hwcap = 0;
        if (!readAt(data, at, flags) || !readAt(data, at + 4, key) || !readAt(data, at + 8, value)
            || !readAt(data, at + 16, hwcap))
            return {};
        if (!cacheFlagsFit(flags) || stringAt(data, static_cast<std::uint32_t>(base + key)) != name)
            continue;
        std::string path = stringAt(data, static_cast<std::uint32_t>(base + value));
        if (path.empty() || path.front() != '/')
            continue;
        if (hwcap == 0)
            return path;
        if (fallback.empty())
            fallback = path;
    }
    return fallback;
}

} // namespace hakop::verifier
