#include "engine/transfer/fetcher.h"

namespace engine::transfer {
namespace {

class RealEnv : public TransferEnv {
  public:
    TimePoint Now() override { return Clock::now(); }
    std::unique_ptr<Fetcher> NewFetcher(SourceKind kind) override {
        switch (kind) {
            case SourceKind::Ftp:
                return NewFtpFetcher();
            case SourceKind::Peer:
                return NewPeerFetcher();
            case SourceKind::Http:
                break;
        }
        return NewHttpFetcher();
    }
};

}  // namespace

TransferEnv& TransferEnv::Default() {
    static RealEnv env;
    return env;
}

}  // namespace engine::transfer
