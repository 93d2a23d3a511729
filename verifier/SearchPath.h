#pragma once
// LD_LIBRARY_PATH as the verifier's helper may use it. The loader takes an
// empty entry, and any relative one, against the current directory, which
// is never a place for a module: such entries are dropped before the helper
// starts (its own libraries are found along the same path) and before it
// looks for the module.
#include <string>
#include <string_view>
#include <vector>

namespace hakop::verifier {

// The absolute entries of a library path, in order. The loader separates
// entries with ':' and ';'.
inline std::vector<std::string> absoluteEntries(std::string_view path)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(":;", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view entry = path.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/')
            entries.emplace_back(entry);
        start = end + 1;
    }
    return entries;
}

// The same path with only its absolute entries, ':'-separated.
inline std::string cleanLibraryPath(std::string_view path)
{
    std::string clean;
    for (const std::string& entry : absoluteEntries(path)) {
        if (!clean.empty())
            clean += ':';
        clean += entry;
    }
    return clean;
}

} // namespace hakop::verifier
