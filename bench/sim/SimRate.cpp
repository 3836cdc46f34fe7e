// Measures how closely lds-sim keeps its pace: runs it for a few seconds per
// setting, reads everything as a host would, and compares the packet rate and
// the device timestamps with the wall clock.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/KXPacket.h"
#include "sim/SimPacer.h"

extern char** environ;

namespace {

struct Setting {
  std::vector<std::string> args;
  double pps;
  int baud;
};

bool Measure(const Setting& s, double seconds) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  std::vector<std::string> all = {LDS_SIM_EXE};
  all.insert(all.end(), s.args.begin(), s.args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, LDS_SIM_EXE, &fa, nullptr, argv.data(), environ) != 0) return false;
  close(out[1]);
  std::string path;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') path += c;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  if (write(fd, kx::kCmdEnable, 5) != 5) return false;

  std::vector<uint8_t> bytes;
  auto t0 = std::chrono::steady_clock::now();
  std::chrono::duration<double> elapsed{};
  while ((elapsed = std::chrono::steady_clock::now() - t0).count() < seconds) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) bytes.insert(bytes.end(), buf, buf + n);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(fd);
  close(out[0]);

  size_t packets = (bytes.size() - 2) / kx::kPacketSize;
  const uint8_t* first = bytes.data() + 2;
  const uint8_t* last = first + (packets - 1) * kx::kPacketSize;
  double tsSpan = static_cast<uint16_t>(kx::ReadU16(last + kx::kOffTimestamp) - kx::ReadU16(first + kx::kOffTimestamp));
  double expected = 1e9 / sim::LinePacer::PacketPeriodNs(s.pps, s.baud);
  std::string name;
  for (auto& a : s.args) name += a + " ";
  std::printf("%-28s expected %7.2f packets/s, measured %7.2f; device time %6.0f ms over %6.0f ms of reading\n",
              name.empty() ? "(defaults)" : name.c_str(), expected, packets / elapsed.count(), tsSpan,
              elapsed.count() * 1000);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  const Setting settings[] = {{{}, 4500, 230400},
                              {{"--baud", "115200"}, 4500, 115200},
                              {{"--pps", "max"}, 0, 230400},
                              {{"--pps", "max", "--baud", "460800"}, 0, 460800},
                              {{"--rps", "6", "--pps", "2000"}, 2000, 230400}};
  for (const Setting& s : settings)
    if (!Measure(s, seconds)) return 1;
  return 0;
}
