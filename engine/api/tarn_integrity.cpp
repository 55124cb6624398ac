// The C functions for a task's integrity: its block list and its size limit, and the making
// of a block list for a published file.
#include <cstring>
#include <mutex>
#include <string>

#include "engine/transfer/block_list.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "quillgate/tarn.h"
#include "tarn_task.h"

namespace {

constexpr size_t kMaxText = 4096;

std::string Text(const char* text) {
    return text ? std::string(text, strnlen(text, kMaxText)) : "";
}

// Sets where the task's next block list comes from; false for a digest that is not one.
int32_t SetList(TarnTask* task, std::string TarnTask::*where, const char* place,
                const char* sha256) {
    if (!task) return 0;
    const std::string digest = Text(sha256);
    engine::Sha256Digest ignored;
    if (!digest.empty() && !engine::ParseSha256Hex(digest, ignored)) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->blockListFile.clear();
    task->blockListUrl.clear();
    task->*where = Text(place);
    task->blockListSha256 = digest;
    return 1;
}

}  // namespace

extern "C" {

int32_t TarnSetBlockList(TarnTask* task, const char* fileName, const char* sha256) {
    return SetList(task, &TarnTask::blockListFile, fileName, sha256);
}

int32_t TarnSetBlockListUrl(TarnTask* task, const char* url, const char* sha256) {
    return SetList(task, &TarnTask::blockListUrl, url, sha256);
}

int32_t TarnSetSizeLimit(TarnTask* task, int64_t bytes) {
    if (!task || bytes < 0) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->sizeLimit = bytes;
    return 1;
}

int32_t TarnMakeBlockList(const char* fileName, const char* listName) {
    std::string native;
    engine::BlockList list;
    std::string error;
    if (!fileName || !listName || !*listName || !platform::NativePath(Text(fileName), native) ||
        !engine::DescribeFile(native, list, error)) {
        return 0;
    }
    return platform::WriteFileReplacing(Text(listName), engine::SerializeBlockList(list)).ok() ? 1
                                                                                               : 0;
}

}  // extern "C"
