#include "block_lists.h"

#include <cstdio>

#include "common/cli.h"
#include "engine/transfer/block_list.h"
#include "platform/file_system.h"

namespace qgpatch {

const char kBlocksHelp[] =
    "  qgpatch blocks FILE... [-o LIST]\n"
    "      the block list of each FILE (SHA-256 of every 256 KiB block and of the whole\n"
    "      file) written beside it as FILE.blocks, or to LIST for a single FILE; prints the\n"
    "      list's own SHA-256, which a downloader may be given to check it (qg-get takes\n"
    "      it with the list)\n";

bool IsBlocksCommand(const std::string& command) { return command == "blocks"; }

int RunBlocksCommand(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size()) return cli::Usage("-o needs a value");
            output = args[++i];
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty() || (!output.empty() && files.size() != 1))
        return cli::Usage("blocks needs FILE... (or one FILE with -o LIST)");
    for (const std::string& file : files) {
        engine::BlockList list;
        std::string error;
        if (!engine::DescribeFile(file, list, error)) {
            std::fprintf(stderr, "qgpatch: %s: %s\n", file.c_str(), error.c_str());
            return 1;
        }
        const std::string bytes = engine::SerializeBlockList(list);
        const std::string target = output.empty() ? file + ".blocks" : output;
        if (const platform::SysStatus s = platform::WriteNativeFileReplacing(target, bytes); !s) {
            std::fprintf(stderr, "qgpatch: cannot write %s\n", target.c_str());
            return 1;
        }
        std::printf("%s: %lld blocks, file sha256 %s, list sha256 %s\n", target.c_str(),
                    static_cast<long long>(list.BlockCount()), engine::HexOf(list.whole).c_str(),
                    engine::HexOf(engine::Sha256Of(bytes)).c_str());
    }
    return 0;
}

}  // namespace qgpatch
