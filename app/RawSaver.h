#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/RawSpool.h"

class KXProtocol;

// 文件 → 保存原始数据: every byte the port receives, unchanged, into a file
// (the format of `lds-record --raw`, which a replay plays back). The serial
// I/O thread only appends to a buffer; the worker writes it out on its pass,
// so neither the port nor the window waits on the disk.
class RawSaver {
 public:
  ~RawSaver();
  // Creates (or empties) the file and starts taking the protocol's bytes.
  bool Start(KXProtocol& protocol, const std::string& path, std::string& error);
  // Writes what has arrived. False, with the reason, on the first failure:
  // the saving has then stopped and what was written stays in the file.
  bool Flush(std::string& error);
  // Writes the rest and closes; false with the reason if that failed.
  bool Stop(std::string& error);
  bool Active();
  // Bytes written to the file since it was started.
  uint64_t Written() const { return written.load(); }

 private:
  bool WriteOut(std::string& error);  // caller holds fileMutex
  void CloseFile();

  KXProtocol* source = nullptr;
  RawSpool spool;                // filled by the I/O thread
  std::vector<uint8_t> writing;  // taken out of the spool to be written
  std::mutex fileMutex;
  int fd = -1;
  std::atomic<uint64_t> written{0};
};
