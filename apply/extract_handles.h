// Owners of the two handles a cabinet extraction holds: the decoder context
// and the descriptor of the opened cabinet. Each is released on every way
// out; the success path releases them itself to learn whether that worked,
// which is only logged.
#pragma once

#include <cstdint>

#include "apply/cab/fdi.h"
#include "platform/crt_io.h"

class FdiContext {
 public:
  explicit FdiContext(HFDI context) : m_Context(context) {}
  ~FdiContext() { Destroy(); }
  FdiContext(const FdiContext&) = delete;
  FdiContext& operator=(const FdiContext&) = delete;

  HFDI Get() const { return m_Context; }
  explicit operator bool() const { return m_Context != nullptr; }

  // FDIDestroy. True when it succeeded or nothing was held.
  bool Destroy() {
    if (m_Context == nullptr) return true;
    const HFDI context = m_Context;
    m_Context = nullptr;
    return FDIDestroy(context) != 0;
  }

 private:
  HFDI m_Context;
};

class CrtDescriptor {
 public:
  explicit CrtDescriptor(intptr_t fd) : m_Fd(fd) {}
  ~CrtDescriptor() { Close(); }
  CrtDescriptor(const CrtDescriptor&) = delete;
  CrtDescriptor& operator=(const CrtDescriptor&) = delete;

  intptr_t Get() const { return m_Fd; }
  explicit operator bool() const { return m_Fd != -1; }

  // _close. True when it succeeded or nothing was held.
  bool Close() {
    if (m_Fd == -1) return true;
    const intptr_t fd = m_Fd;
    m_Fd = -1;
    return plat::CrtClose(fd) == 0;
  }

 private:
  intptr_t m_Fd;
};
