#include "ModuleSearch.h"

#include "SearchPath.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace hakop::verifier {

namespace {

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

// One place: the module opened there, or why not; NotFound when it is not there.
ModuleLookup lookAt(const std::string& path, uid_t user)
{
    TrustedOpen opened = openTrusted(path, user);
    ModuleLookup result;
    result.path = path;
    result.why = std::move(opened.why);
    result.file = std::move(opened.file);
    switch (opened.outcome) {
    case TrustedOpen::Outcome::Absent: result.outcome = ModuleLookup::Outcome::NotFound; break;
    case TrustedOpen::Outcome::Opened: result.outcome = ModuleLookup::Outcome::Found; break;
    case TrustedOpen::Outcome::Unusable: result.outcome = ModuleLookup::Outcome::Unusable; break;
    case TrustedOpen::Outcome::Untrusted: result.outcome = ModuleLookup::Outcome::Untrusted; break;
    }
    return result;
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

ModuleLookup findModule(const std::string& name, const SearchPlaces& places, uid_t user)
{
    if (name.find('/') != std::string::npos)
        return lookAt(name, user);
    auto inFolders = [&](const std::vector<std::string>& folders, ModuleLookup& result) {
        for (const std::string& folder : folders) {
            std::string path = folder;
            if (path.back() != '/')
                path += '/';
            path += name;
            result = lookAt(path, user);
            if (result.outcome != ModuleLookup::Outcome::NotFound)
                return true;
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
            result = lookAt(listed, user);
            if (result.outcome != ModuleLookup::Outcome::NotFound)
                return result;
        }
    }
    if (inFolders(places.defaults, result))
        return result;
    return {};
}

void* ModuleLookup::load(int flags, std::string& error) const
{
    const std::string opened = loaderPath(file);
    void* handle = dlopen(opened.c_str(), flags);
    if (handle != nullptr)
        return handle;
    const char* said = dlerror();
    error = said != nullptr ? said : "unknown error";
    for (auto at = error.find(opened); at != std::string::npos; at = error.find(opened, at + path.size()))
        error.replace(at, opened.size(), path);
    return nullptr;
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
