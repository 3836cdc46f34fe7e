#include "app/RawSaver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "protocol/KXProtocol.h"

RawSaver::~RawSaver() {
  std::string ignored;
  Stop(ignored);
}

bool RawSaver::Start(KXProtocol& protocol, const std::string& path, std::string& error) {
  std::string ignored;
  Stop(ignored);
  std::lock_guard<std::mutex> lock(fileMutex);
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  source = &protocol;
  written.store(0);
  protocol.SetRawObserver([this](const uint8_t* data, uint32_t size) { spool.Append(data, size); });
  return true;
}

bool RawSaver::Active() {
  std::lock_guard<std::mutex> lock(fileMutex);
  return fd >= 0;
}

bool RawSaver::WriteOut(std::string& error) {
  spool.TakeInto(writing);
  size_t done = 0;
  while (done < writing.size()) {
    const ssize_t n = ::write(fd, writing.data() + done, writing.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::strerror(errno) : "no progress";
      return false;
    }
    done += static_cast<size_t>(n);
    written.fetch_add(static_cast<uint64_t>(n));
  }
  return true;
}

void RawSaver::CloseFile() {
  if (source) source->SetRawObserver(nullptr);
  source = nullptr;
  if (fd >= 0) ::close(fd);
  fd = -1;
  spool.Clear();
}

bool RawSaver::Flush(std::string& error) {
  std::lock_guard<std::mutex> lock(fileMutex);
  if (fd < 0 || WriteOut(error)) return true;
  CloseFile();
  return false;
}

bool RawSaver::Stop(std::string& error) {
  std::lock_guard<std::mutex> lock(fileMutex);
  if (fd < 0) return true;
  // No byte arrives after the observer is gone; what came before is written.
  if (source) source->SetRawObserver(nullptr);
  bool ok = WriteOut(error);
  if (::close(fd) != 0 && ok) {
    error = std::strerror(errno);
    ok = false;
  }
  fd = -1;
  CloseFile();
  return ok;
}
