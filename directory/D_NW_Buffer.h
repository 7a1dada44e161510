// A library buffer owned by the routine that allocated it: freed however the scope is left.
#pragma once

#include <cstddef>

#include "directory/NETWIN32.h"

namespace vestrel {

class LibraryBuffer {
 public:
  explicit LibraryBuffer(std::size_t size) {
    code_ = DSBufferAlloc(size, &buffer_);
    if (code_ != 0) buffer_ = nullptr;
  }
  // Allocates and prepares the buffer for an operation (DSBufferInit); Code() is the first
  // failing call's code.
  LibraryBuffer(NWDSContextHandle context, std::size_t size, nuint32 operation) : LibraryBuffer(size) {
    if (code_ == 0) code_ = DSBufferInit(context, operation, buffer_);
  }
  ~LibraryBuffer() {
    if (buffer_ != nullptr) DSBufferFree(buffer_);
  }
  LibraryBuffer(const LibraryBuffer&) = delete;
  LibraryBuffer& operator=(const LibraryBuffer&) = delete;

  NWRCODE Code() const { return code_; }
  Buf_T* Get() const { return buffer_; }

 private:
  Buf_T* buffer_ = nullptr;
  NWRCODE code_ = 0;
};

}  // namespace vestrel
