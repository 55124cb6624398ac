#include "fuzz_read_pack.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "axp/error.h"
#include "axp/format.h"
#include "axp/pack_file.h"
#include "memory_file_system.h"

namespace axp_fuzz {
namespace {

using namespace AXP;

constexpr uint32_t kMaxReadSize = 16u << 20;  // entries above this are not decoded
constexpr char kPath[] = "/fuzz.pak";

void ReadEntry(PackFile& pack, const std::string& name) {
    const uint32_t size = pack.GetFileSize(name, false);
    const uint32_t stored = pack.GetFileSize(name, true);
    (void)pack.GetCompressType(name);
    (void)pack.Exists(name);
    if (size > kMaxReadSize || stored > kMaxReadSize) return;
    if (IStream* s = pack.OpenFile(name)) {
        std::vector<uint8_t> buf(std::min<uint32_t>(s->GetSize(), kMaxReadSize) + 1);
        (void)s->Read(buf.data(), static_cast<uint32_t>(buf.size()));
        (void)s->Read(buf.data(), 1);
        s->Seek(s->GetSize() / 2);
        (void)s->Read(buf.data(), 17);
        s->Seek(0);
        char line[64];
        (void)s->ReadLine(line, sizeof(line));
        s->SkipLine();
        (void)s->ReadLine(nullptr, 10);
        (void)s->IsEof();
        (void)s->GetCrc();
        s->Seek(0xFFFFFFF0u);
        (void)s->Read(buf.data(), 100);
        (void)s->ReadLine(line, sizeof(line));
        s->Release();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::max(size, stored)) + 1);
    (void)pack.ReadFileData(name, false, buf.data(), stored);
    (void)pack.ReadFileData(name, false, buf.data(), stored + 1);
    (void)pack.ReadFileData(name, true, buf.data(), size);
}

std::vector<std::string> ListedNames(PackFile& pack) {
    std::vector<std::string> names;
    if (pack.GetFileSize("(list)", false) > kMaxReadSize) return names;
    IStream* list = pack.OpenFile("(list)");
    if (list == nullptr) return names;
    char line[1041];
    list->ReadLine(line, sizeof(line));
    while (!list->IsEof() && names.size() < 300) {
        const uint32_t n = list->ReadLine(line, sizeof(line));
        std::string text(line, n);
        names.push_back(text.substr(0, text.find('|')));
    }
    list->Release();
    return names;
}

}  // namespace

std::vector<uint8_t> ExpandToPack(const uint8_t* data, size_t size) {
    if (size >= kDataAreaOffset && std::memcmp(data, "AXPK", 4) == 0) {
        return std::vector<uint8_t>(data, data + size);
    }
    std::vector<uint8_t> pack(kDataAreaOffset, 0);
    size_t pos = std::min<size_t>(size, kHeaderSize);
    std::memcpy(pack.data(), data, pos);
    if (pos < size) {
        const uint32_t slots = data[pos++];
        for (uint32_t i = 0; i < slots && pos + 14 <= size; ++i, pos += 14) {
            const uint32_t index = (data[pos] | data[pos + 1] << 8) % kHashSlotCount;
            std::memcpy(pack.data() + kHashTableOffset + kHashSlotSize * index, data + pos + 2, 12);
        }
    }
    if (pos < size) {
        const uint32_t blocks = data[pos++];
        for (uint32_t i = 0; i < blocks && pos + 16 <= size; ++i, pos += 16) {
            std::memcpy(pack.data() + kBlockTableOffset + kBlockEntrySize * i, data + pos, 16);
        }
    }
    if (pos < size) pack.insert(pack.end(), data + pos, data + size);
    return pack;
}

std::vector<uint8_t> CompactPack(const std::vector<uint8_t>& pack) {
    std::vector<uint8_t> out(pack.begin(), pack.begin() + kHeaderSize);
    std::vector<uint8_t> slots;
    uint32_t count = 0;
    for (uint32_t i = 0; i < kHashSlotCount && count < 255; ++i) {
        const uint8_t* s = pack.data() + kHashTableOffset + kHashSlotSize * i;
        if (LoadU32(s + 8) & kSlotInUse) {
            slots.push_back(static_cast<uint8_t>(i));
            slots.push_back(static_cast<uint8_t>(i >> 8));
            slots.insert(slots.end(), s, s + 12);
            ++count;
        }
    }
    out.push_back(static_cast<uint8_t>(count));
    out.insert(out.end(), slots.begin(), slots.end());
    const uint32_t blocks = std::min<uint32_t>(LoadU32(pack.data() + 20), 255);
    out.push_back(static_cast<uint8_t>(blocks));
    const uint8_t* b = pack.data() + kBlockTableOffset;
    out.insert(out.end(), b, b + kBlockEntrySize * blocks);
    out.insert(out.end(), pack.begin() + kDataAreaOffset, pack.end());
    return out;
}

void ReadPackBytes(const uint8_t* data, size_t size) {
    MemoryFileSystem fs;
    fs.Put(kPath, ExpandToPack(data, size));
    std::vector<std::string> names;
    {
        PackFile pack(&fs);
        if (pack.Open(kPath, true)) {
            names = ListedNames(pack);
            for (const char* fixed : {"(list)", "a", "b", "c", "data/a.txt"})
                names.push_back(fixed);
            for (const auto& name : names) ReadEntry(pack, name);
            (void)pack.CheckConsistency(nullptr, nullptr, nullptr, nullptr);
            PackInfo info;
            (void)pack.GetInfo(info);
        }
    }
    // Writer: remove and add entries on the same bytes.
    PackFile pack(&fs);
    if (!pack.Open(kPath, false)) return;
    const uint8_t content[1024] = {1, 2, 3};
    int step = 0;
    for (const auto& name : names) {
        if (step++ > 8) break;
        (void)pack.RemoveFile(name, false);
        (void)pack.AddFile(content, 100 + 97 * step, name, true, false, 0, 0);
        ReadEntry(pack, name);
    }
    (void)pack.AddFile(content, sizeof(content), "new entry", true, false, 2, 5000);
    ReadEntry(pack, "new entry");
    (void)pack.Close();
    PackFile again(&fs);
    if (again.Open(kPath, true)) {
        for (const auto& name : names) ReadEntry(again, name);
    }
}

}  // namespace axp_fuzz
