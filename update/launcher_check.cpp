#include "update/launcher_check.h"

#include <elf.h>

#include <cstdint>
#include <cstring>

#include "platform/process_output.h"

namespace {

#if defined(__x86_64__)
constexpr uint16_t kHostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kHostMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr uint16_t kHostMachine = EM_386;
#elif defined(__arm__)
constexpr uint16_t kHostMachine = EM_ARM;
#else
constexpr uint16_t kHostMachine = EM_NONE;  // unknown here: the trial run decides
#endif

using Header = std::conditional_t<sizeof(void*) == 8, Elf64_Ehdr, Elf32_Ehdr>;
constexpr unsigned char kHostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kHostData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

// True when a table of `count` entries of `size` bytes at `offset` ends within the file.
bool TableFits(uint64_t offset, uint64_t count, uint64_t size, uint64_t fileSize) {
    if (count == 0) return true;
    return offset <= fileSize && count * size <= fileSize - offset;
}

}  // namespace

bool IsNativeExecutableImage(std::string_view image) {
    if (image.size() < sizeof(Header)) return false;
    Header h;
    std::memcpy(&h, image.data(), sizeof(h));
    if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0) return false;
    if (h.e_ident[EI_CLASS] != kHostClass || h.e_ident[EI_DATA] != kHostData) return false;
    if (h.e_type != ET_EXEC && h.e_type != ET_DYN) return false;
    if (kHostMachine != EM_NONE && h.e_machine != kHostMachine) return false;
    if (h.e_phnum == 0) return false;  // nothing the system could load
    return TableFits(h.e_phoff, h.e_phnum, h.e_phentsize, image.size()) &&
           TableFits(h.e_shoff, h.e_shnum, h.e_shentsize, image.size());
}

bool AskLauncherVersion(const std::string& path, std::string& version,
                        const std::string& workingDir) {
    int exitCode = -1;
    if (platform::RunForOutput(path, {"--version"}, kLauncherVersionTimeoutMs, 4096, version,
                               exitCode, workingDir) != platform::RunOutcome::Exited ||
        exitCode != 0)
        return false;
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
        version.pop_back();
    return !version.empty() && version.find('\n') == std::string::npos;
}
