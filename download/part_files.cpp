#include "download/part_files.h"

#include <string_view>
#include <vector>

#include "platform/file_system.h"

int RemoveStalePartFiles(const std::string& gbkDirectory) {
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(gbkDirectory, entries)) return 0;
    const std::string_view suffix = kDownloadPartSuffix;
    std::string prefix = gbkDirectory;
    if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
    int removed = 0;
    for (const platform::DirectoryEntry& entry : entries) {
        const std::string_view name = entry.gbkName;
        // The suffix alone is no part file of anything; a folder is never one.
        if (entry.isDirectory || name.size() <= suffix.size() ||
            name.substr(name.size() - suffix.size()) != suffix) {
            continue;
        }
        if (platform::DeleteFileAt(prefix + entry.gbkName)) ++removed;
    }
    return removed;
}
