#include "block_lists.h"

#include <cstdio>

#include "common/cli.h"
#include "engine/transfer/block_list.h"
#include "platform/file_system.h"
#include "platform/native_path.h"

namespace qgpatch {

const char kBlocksHelp[] =
    "  qgpatch blocks FILE... [-o LIST]\n"
    "      the block list of each FILE (SHA-256 of every 256 KiB block and of the whole\n"
    "      file) written beside it as FILE.blocks, or to LIST for a single FILE; prints the\n"
    "      list's own SHA-256, which a downloader may be given to check it (qg-get takes\n"
    "      it with the list)\n";

bool WriteBlockList(const std::string& file, const std::string& target, BlockListFacts& facts) {
    engine::BlockList list;
    std::string error;
    if (!engine::DescribeFile(platform::ResolveUtf8Path(file), list, error)) {
        std::fprintf(stderr, "qgpatch: %s: %s\n", file.c_str(), error.c_str());
        return false;
    }
    const std::string bytes = engine::SerializeBlockList(list);
    if (!platform::WriteNativeFileReplacing(platform::ResolveUtf8Path(target), bytes)) {
        std::fprintf(stderr, "qgpatch: cannot write %s\n", target.c_str());
        return false;
    }
    facts.length = static_cast<uint64_t>(list.length);
    facts.blocks = list.BlockCount();
    facts.fileSha256 = engine::HexOf(list.whole);
    facts.listSha256 = engine::HexOf(engine::Sha256Of(bytes));
    return true;
}

int RunBlocks(const CommandLine& line) {
    const std::vector<std::string>& files = line.operands;
    const std::string output = line.Value("-o");
    if (files.empty() || (!output.empty() && files.size() != 1))
        return cli::Usage("blocks needs FILE... (or one FILE with -o LIST)");
    for (const std::string& file : files) {
        const std::string target = output.empty() ? file + ".blocks" : output;
        BlockListFacts facts;
        if (!WriteBlockList(file, target, facts)) return 1;
        std::printf("%s: %lld blocks, file sha256 %s, list sha256 %s\n", target.c_str(),
                    static_cast<long long>(facts.blocks), facts.fileSha256.c_str(),
                    facts.listSha256.c_str());
    }
    return 0;
}

}  // namespace qgpatch
