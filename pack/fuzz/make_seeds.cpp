// Writes seed inputs for the fuzz corpus: small packs built with the library, in the
// compact form of fuzz_read_pack.h. Usage: axp_fuzz_seed OUTPUT_DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/pack_file.h"
#include "fuzz_read_pack.h"
#include "memory_file_system.h"

namespace {

using namespace AXP;

void AddEncoded(PackFile& p, const std::string& name, const std::string& text, uint8_t type) {
    std::vector<uint8_t> buf(text.begin(), text.end());
    uint32_t len = static_cast<uint32_t>(buf.size());
    if (type != 0) {
        ICompress* c = GetCompressManager().GetByType(type);
        buf.resize(c->GetMaxCompressedSize(len) + 1);
        c->Compress(buf.data(), static_cast<uint32_t>(buf.size()), len);
    }
    p.AddFile(buf.data(), len, name, true, false, type, static_cast<uint32_t>(text.size()));
}

void AddList(PackFile& p, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string list = std::to_string(entries.size()) + "\r\n";
    for (const auto& [name, text] : entries) {
        char tail[40];
        std::snprintf(tail, sizeof(tail), "|%08X|%08X\r\n", static_cast<unsigned>(text.size()),
                      Crc(text.data(), text.size()));
        list += name + tail;
    }
    p.AddFile(list.data(), static_cast<uint32_t>(list.size()), "(list)", true, false, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"a", "hello\r\nworld\r\n"},
        {"b", std::string(300, 'b') + "\nline two\n"},
        {"c", "lzma lzma lzma lzma lzma lzma lzma lzma lzma"},
        {"data/a.txt", ""},
        {"\xCA\xFD\xBE\xDD/x.txt", "gbk"},
    };
    for (int variant = 0; variant < 5; ++variant) {
        axp_fuzz::MemoryFileSystem fs;
        PackFile p(&fs);
        p.Create("/seed.pak");
        for (size_t i = 0; i < entries.size(); ++i) {
            const uint8_t type = static_cast<uint8_t>((i + variant) % 4);
            AddEncoded(p, entries[i].first, entries[i].second, type);
        }
        if (variant >= 1) AddList(p, entries);
        if (variant == 3) p.RemoveFile("b", false);
        if (variant == 4) {
            p.RemoveFile("a", false);
            AddEncoded(p, "a", "short", 0);
        }
        p.Close();
        auto compact = axp_fuzz::CompactPack(*fs.Get("/seed.pak"));
        std::ofstream(out + "/seed" + std::to_string(variant), std::ios::binary)
            .write(reinterpret_cast<const char*>(compact.data()),
                   static_cast<std::streamsize>(compact.size()));
    }
    return 0;
}
