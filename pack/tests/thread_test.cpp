// Several threads reading one pack opened read-only (label "threads": runs under TSan).
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <string>
#include <thread>

#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

class ThreadedReadTest : public axp_test::TempDirTest {};

TEST_F(ThreadedReadTest, ConstModeReadersShareOnePack) {
    const std::string path = Path("t.pak");
    std::vector<std::vector<uint8_t>> contents;
    {
        PackFile p;
        ASSERT_TRUE(p.Create(path));
        for (int i = 0; i < 40; ++i) {
            const uint8_t type = static_cast<uint8_t>(i % 4);
            auto in = axp_test::TextBytes(i == 3 ? kPreloadLimit + 500 : 1000 + 997 * i,
                                          static_cast<uint32_t>(i));
            contents.push_back(in);
            std::vector<uint8_t> buf(in);
            uint32_t len = static_cast<uint32_t>(in.size());
            if (type != 0) {
                ICompress* c = GetCompressManager().GetByType(type);
                buf.resize(c->GetMaxCompressedSize(len));
                ASSERT_TRUE(c->Compress(buf.data(), static_cast<uint32_t>(buf.size()), len));
            }
            ASSERT_TRUE(p.AddFile(buf.data(), len,
                                  axp_test::Numbered("f", static_cast<uint64_t>(i)), true, false,
                                  type, static_cast<uint32_t>(in.size())));
        }
        ASSERT_TRUE(p.Close());
    }
    PackFile p;
    ASSERT_TRUE(p.Open(path, true));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (int i = t; i < 40; i += 1) {
                    const std::string name =
                        axp_test::Numbered("f", static_cast<uint64_t>((i + round) % 40));
                    const auto& expect = contents[(i + round) % 40];
                    IStream* s = p.OpenFile(name);
                    if (s == nullptr) {
                        ++failures;
                        continue;
                    }
                    // Read in two halves to mix positions across threads.
                    std::vector<uint8_t> got(s->GetSize());
                    const uint32_t half = static_cast<uint32_t>(got.size() / 2);
                    s->Seek(half);
                    uint32_t n =
                        s->Read(got.data() + half, static_cast<uint32_t>(got.size()) - half);
                    s->Seek(0);
                    n += s->Read(got.data(), half);
                    if (n != got.size() || got != expect) ++failures;
                    if (s->GetCrc() != Crc(expect.data(), expect.size())) ++failures;
                    s->Release();
                    // The whole entry at once: decoded into this buffer outside the lock.
                    std::vector<uint8_t> whole(expect.size());
                    if (!p.ReadFileData(name, true, whole.data(),
                                        static_cast<uint32_t>(whole.size())) ||
                        whole != expect) {
                        ++failures;
                    }
                    if (!p.Exists(name) || p.GetFileSize(name, false) != expect.size()) ++failures;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// Each thread fails its own operation, waits until the other has failed too, then reads
// the last error: it must be its own, and the main thread's error stays untouched.
TEST_F(ThreadedReadTest, ConcurrentFailuresEachReadTheirOwnError) {
    SetLastError(kErrZip, "main thread");
    struct Seen {
        uint32_t code = 0;
        std::string text;
    } missing, corrupt;
    const std::string missingPath = Path("missing.pak");
    const std::string corruptPath = Path("corrupt.pak");
    {
        PackFile p;
        ASSERT_TRUE(p.Create(corruptPath));
        ASSERT_TRUE(p.Close());
    }
    {
        // A bad magic.
        FILE* f = std::fopen(corruptPath.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fputs("XXXX", f);
        std::fclose(f);
    }
    std::barrier bothFailed(2);
    std::thread a([&] {
        PackFile p;
        EXPECT_FALSE(p.Open(missingPath, true));
        bothFailed.arrive_and_wait();
        missing = {GetLastErrorCode(), GetLastErrorText()};
    });
    std::thread b([&] {
        PackFile p;
        EXPECT_FALSE(p.Open(corruptPath, true));
        bothFailed.arrive_and_wait();
        corrupt = {GetLastErrorCode(), GetLastErrorText()};
    });
    a.join();
    b.join();
    EXPECT_EQ(missing.code, uint32_t{kErrOpen});
    EXPECT_NE(missing.text.find("errno=2"), std::string::npos) << missing.text;  // ENOENT
    EXPECT_EQ(corrupt.code, uint32_t{kErrCorrupt});
    EXPECT_EQ(corrupt.text, "");
    EXPECT_EQ(GetLastErrorCode(), uint32_t{kErrZip});
    EXPECT_EQ(GetLastErrorText(), "main thread");
}

}  // namespace
}  // namespace AXP
