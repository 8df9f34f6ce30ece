// Memory for the kernel checker with inaccessible pages around it (and, on
// request, between rows), so that a kernel reading or writing one word
// outside a frame's pixels faults at once instead of passing unnoticed.
// mmap/mprotect natively, VirtualAlloc/VirtualProtect on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

class GuardedPages {
 public:
  // `pages` accessible pages between two guard pages.
  explicit GuardedPages(size_t pages);
  ~GuardedPages();
  GuardedPages(const GuardedPages&) = delete;
  GuardedPages& operator=(const GuardedPages&) = delete;

  static size_t page_size();
  uint8_t* begin() const { return data_; }
  uint8_t* end() const { return data_ + bytes_; }
  size_t bytes() const { return bytes_; }
  // Makes accessible page `index` (0-based, counted from begin()) inaccessible.
  void protect_page(size_t index);

 private:
  uint8_t* base_ = nullptr;  // the leading guard page
  uint8_t* data_ = nullptr;
  size_t bytes_ = 0;
  size_t total_ = 0;
};

// Prints `what` if the process dies of an access fault, so that a crash
// names the case that caused it. Install once; update the text per case.
void install_fault_reporter();
void set_fault_context(const char* what);
