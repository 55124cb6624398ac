// The engine's FTP source: one control connection per source URL and a passive data
// connection per transfer, on sockets with time-outs. Results are numbers in the style of
// HTTP status codes, so that an FTP source is handled like an HTTP one:
//
//   Probe: 200 usable, 206 usable and able to resume at an offset; 400 no login,
//          401 TYPE A, 402 PASV, 403 data socket, 404 data connect, 405 LIST,
//          407 SIZE, 408 TYPE I
//   Open:  200 the data connection delivers the file from the offset; 400 no login or
//          no data connection, 401 TYPE I, PASV or REST refused, 403 RETR refused
//
// A refused reply ends the step and keeps the control connection for the next attempt; a
// reply that breaks off, runs out of time or past the reply limits closes it (the
// conversation is out of step), and the next step logs in again. The data connection
// always goes to the control connection's address: a passive reply naming another host
// is not followed (that would let a server aim the client at a third machine).
//
// Not thread safe: a source belongs to the task thread that uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ftp_protocol.h"
#include "platform/tcp_socket.h"

namespace engine {

struct FtpTimeouts {
    uint32_t connectMs = 15000;
    uint32_t replyMs = 30000;  // for each whole reply, however many lines it has
    uint32_t dataMs = 30000;   // for each receive on the data connection
};

inline constexpr const char* kAnonymousPassword = "anonymous@";

class FtpSource {
  public:
    explicit FtpSource(std::string url, FtpTimeouts timeouts = {});

    // Every wait of this source (connect, reply, data) ends at once when `interrupt` fires;
    // the step then fails as on a broken connection. Set before the first step.
    void SetInterrupt(platform::SocketInterrupt* interrupt);

    // Logs in to `url`'s server: 0, or -1 (the control connection is then closed).
    int Connect(const std::string& url);
    int Probe(int64_t& size);
    int Open(int64_t offset);

    // Reads the next bytes of an opened transfer: a count, 0 at the end of the file (the
    // data connection is then closed), -1 on failure or time-out (closed as well).
    int64_t Read(char* data, size_t size);
    // Ends an open transfer and reads the server's reply to it.
    void CloseData();
    void Close();

    bool dataOpen() const { return data_.IsOpen(); }
    // The offset the next Read delivers from.
    int64_t position() const { return position_; }

  private:
    enum class Reply { Complete, Pending, Failed };

    bool EnsureConnected();
    // Sends one command line and reads its reply: the code, or -1 (control closed).
    int Command(const std::string& line);
    int ReadReply();
    // Works through the bytes received so far.
    Reply TakeReply();
    // One receive on the control connection into the pending bytes.
    bool ReceiveControl(uint32_t timeoutMs);
    bool OpenPassiveData(int& failure, int socketFailure, int connectFailure);
    bool ReadListing(std::string& listing, bool& replyOk);

    const uint32_t id_;
    std::string url_;
    FtpTimeouts timeouts_;
    platform::TcpSocket control_;
    platform::TcpSocket data_;
    std::string connectedUrl_;
    std::string path_;
    std::string pending_;  // control bytes received and not yet read as a reply
    FtpReplyParser parser_;
    bool transferReplyPending_ = false;
    int64_t position_ = -1;
};

}  // namespace engine
