// AXP::IStream: one pack entry read as decoded bytes, with a position, line
// reading and a cached content CRC. Streams are made only by IPakFile::OpenFile.
//
// Ownership: the pack owns every stream it hands out; give it back with Release(), or it
// is destroyed when the pack closes (a pointer kept past Close dangles).
// Thread safety: a stream is used by one thread at a time; different streams of one pack
// opened read-only may be used by different threads at once.
// Failure: reads return 0 bytes and set the library's last error; the position is unchanged.
#pragma once

#include <cstdint>

namespace AXP {

class IStream {
  public:
    // Copies min(count, size - position) decoded bytes; 0 for a null buffer, a count of 0,
    // a position at or past the end, or an error.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    // Reads the next line: the bytes up to the next LF, without the LF and without a CR
    // directly before it. `capacity` is the size of `buffer` including the terminating NUL:
    // at most capacity - 1 bytes of the line are taken (a longer line is cut there and the
    // position stays inside it). `buffer` may be null (the line is skipped over, still
    // bounded by capacity - 1 bytes). Returns the length stored; the buffer is
    // NUL-terminated when capacity > 0.
    virtual uint32_t ReadLine(char* buffer, uint32_t capacity) = 0;
    // Moves past the next LF, or to the end.
    virtual void SkipLine() = 0;
    // Sets the position (not bounded: a position past the end reads 0 bytes); returns it.
    virtual uint32_t Seek(uint32_t position) = 0;
    virtual uint32_t Tell() const = 0;
    virtual bool IsEof() const = 0;
    // The decoded size of the entry.
    virtual uint32_t GetSize() const = 0;
    // CRC (axp/crc.h) of the whole decoded content, computed once and cached; the position
    // is kept. 0xFFFFFFFF when the content cannot be read (the last error is set).
    virtual uint32_t GetCrc() = 0;
    // Gives the stream back to its pack, which destroys it. The pointer is invalid after.
    virtual void Release() = 0;

  protected:
    virtual ~IStream() = default;
};

}  // namespace AXP
