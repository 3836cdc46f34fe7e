// lds-record as a user runs it: lds-sim on a pseudo-terminal, the recorder,
// and the files, pipes and FIFOs it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcl/io/pcd_io.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>

#include "sim/SimScene.h"
#include "tests/support/TextFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

constexpr char StatsHeader[] =
    "revolution,time_ms,duration_ms,speed_rpm,points,empty_points,min_mm,median_mm,max_mm,crc_errors,skipped_bytes";

class Road : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/lds-record-road-XXXXXX";
    dir = mkdtemp(name);
  }
  void TearDown() override {
    for (auto& sim : sims) sim->Signal(SIGTERM), sim->Wait(5s);
    umount2(P("small").c_str(), MNT_DETACH);
    fs::remove_all(dir);
  }
  std::string P(const std::string& name) const { return (dir / name).string(); }

  // Starts a simulator linked at DIR/NAME and returns the link.
  std::string StartSim(std::vector<std::string> extra, const std::string& name = "sim") {
    extra.insert(extra.begin(), {LDS_SIM_PATH, "--link", P(name)});
    sims.push_back(std::make_unique<ChildProcess>(extra));
    EXPECT_EQ(sims.back()->FirstLine().rfind("/dev/pts/", 0), 0u) << sims.back()->Err();
    return P(name);
  }
  std::unique_ptr<ChildProcess> Record(std::vector<std::string> args, long sizeLimit = 0, int stdoutFd = -1) {
    args.insert(args.begin(), LDS_RECORD_PATH);
    return std::make_unique<ChildProcess>(args, sizeLimit, stdoutFd);
  }
  // The sensor was stopped: the simulator, which rewrites its counters each
  // second, sends no more packets.
  bool SensorStopped() {
    std::this_thread::sleep_for(1200ms);
    const long before = Stat(P("sim.stats"), "packets");
    std::this_thread::sleep_for(1200ms);
    return before > 0 && Stat(P("sim.stats"), "packets") == before;
  }

  fs::path dir;
  std::vector<std::unique_ptr<ChildProcess>> sims;
};

TEST_F(Road, ThreeRevolutionsReachEveryFileAndReplayToTheSameRows) {
  const std::string port = StartSim({});
  auto record = Record({"--port", port, "--revolutions", "3", "--no-calib", "--csv", P("a.csv"), "--raw", P("a.raw"),
                        "--pcd", P("pcd"), "--stats", P("s.csv")});
  ASSERT_EQ(record->Wait(30s), 0) << record->Err();
  EXPECT_NE(record->Out().find("3 revolutions"), std::string::npos) << record->Out();

  // Three whole turns of 450 points: from just past 0 degrees to just before
  // 360, each point at the room's distance for its angle.
  const std::vector<std::string> rows = Lines(ReadFile(P("a.csv")));
  ASSERT_EQ(rows.size(), 1u + 3 * 450);
  EXPECT_EQ(rows[0], "angle,dist,intensity");
  const sim::SimScene scene;
  size_t onTarget = 0, turns = 0;
  std::vector<unsigned> distances[3];  // of each turn
  float first = -1, last = -1;
  for (size_t i = 1; i < rows.size(); ++i) {
    float angle = 0;
    unsigned dist = 0, intensity = 0;
    ASSERT_EQ(std::sscanf(rows[i].c_str(), "%f,%u,%u", &angle, &dist, &intensity), 3) << rows[i];
    if (first < 0) first = angle;
    if (angle < last - 180) ++turns;
    last = angle;
    distances[std::min<size_t>(turns, 2)].push_back(dist);
    onTarget += std::abs(dist - scene.TrueDistanceMm(angle)) <= 10;
  }
  EXPECT_LT(first, 1.0f);
  EXPECT_GT(last, 359.0f);
  EXPECT_EQ(turns, 2u);
  EXPECT_GT(onTarget, rows.size() * 95 / 100);

  // One PCD file per turn, each a whole turn inside the room.
  for (int n = 1; n <= 3; ++n) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(P("pcd/rev_00000" + std::to_string(n) + ".pcd"), cloud), 0);
    EXPECT_GE(cloud.size(), 440u);
    for (const auto& p : cloud) ASSERT_TRUE(std::hypot(p.x, p.y) > 0.2f && std::hypot(p.x, p.y) < 10.0f && p.z == 0);
  }
  EXPECT_FALSE(fs::exists(P("pcd/rev_000004.pcd")));

  // One statistics row per turn, agreeing with the turn's rows: 600 r/min, 450
  // points, none empty, the nearest, middle and farthest walls, no CRC errors.
  const std::vector<std::string> stats = Lines(ReadFile(P("s.csv")));
  ASSERT_EQ(stats.size(), 4u);
  EXPECT_EQ(stats[0], StatsHeader);
  for (size_t n = 1; n <= 3; ++n) {
    std::vector<unsigned>& d = distances[n - 1];
    std::sort(d.begin(), d.end());
    char row[100];
    std::snprintf(row, sizeof row, "%zu,T,D,600,%zu,0,%u,%u,%u,0,0", n, d.size(), d.front(), d[(d.size() - 1) / 2],
                  d.back());
    EXPECT_EQ(std::regex_replace(stats[n], std::regex("^(\\d+),\\d+,\\d+,"), "$1,T,D,"), row);
  }

  // Played back, the raw file gives the same turns, row for row and byte for byte.
  const std::string replay = StartSim({"--replay", P("a.raw"), "--wait-start"}, "replay");
  auto again = Record({"--port", replay, "--revolutions", "3", "--no-calib", "--csv", P("b.csv"), "--raw", P("b.raw")});
  ASSERT_EQ(again->Wait(30s), 0) << again->Err();
  EXPECT_EQ(ReadFile(P("b.csv")), ReadFile(P("a.csv")));
  EXPECT_EQ(ReadFile(P("b.raw")), ReadFile(P("a.raw")));
}

// Every packet corrupt or followed by junk, at the highest rate, with a
// standard output that nobody reads until the end: the decoder's reports are
// thinned out and never hold the port up, and the counts add up.
TEST_F(Road, ANoisyLineBehindAPausedStdoutIsRecordedWhole) {
  const std::string port = StartSim({"--baud", "460800", "--pps", "max", "--bad-crc-every", "2", "--garbage-every", "7",
                                     "--garbage-bytes", "5", "--stats-file", P("sim.stats")});
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  auto record = Record({"--port", port, "--baud", "460800", "--seconds", "2", "--csv", P("a.csv"), "--raw", P("a.raw")},
                       0, out[1]);
  close(out[1]);
  ASSERT_EQ(record->Wait(20s), 0) << record->Err();
  std::string text(1 << 20, '\0');
  text.resize(static_cast<size_t>(std::max<ssize_t>(0, read(out[0], text.data(), text.size()))));
  close(out[0]);
  sims.front()->Signal(SIGTERM);
  ASSERT_EQ(sims.front()->Wait(5s), 0);
  const long bad = Stat(P("sim.stats"), "bad_crc");
  ASSERT_GT(bad, 500);
  EXPECT_LE(Count(text, "CRC error found:"), 20u);
  EXPECT_NE(text.find("decoder report lines left out"), std::string::npos);
  EXPECT_NE(text.find(" " + std::to_string(bad) + " CRC errors"), std::string::npos) << text;
  EXPECT_EQ(static_cast<long>(ReadFile(P("a.raw")).size()), Stat(P("sim.stats"), "bytes"));
  EXPECT_EQ(static_cast<long>(Lines(ReadFile(P("a.csv"))).size()) - 1, Stat(P("sim.stats"), "points") - 12 * bad);
}

TEST_F(Road, AClosedPipeOrAHangUpEndsTheRecordingLikeCtrlC) {
  const std::string port = StartSim({"--stats-file", P("sim.stats")});
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  auto closedStdout = Record({"--port", port, "--csv", P("a.csv")}, 0, out[1]);
  close(out[1]);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(P("a.csv")).size() > 2000; }, 10s)) << closedStdout->Err();
  close(out[0]);
  EXPECT_EQ(closedStdout->Wait(10s), 1);
  EXPECT_NE(closedStdout->Err().find("standard output was closed; recording stopped"), std::string::npos);
  EXPECT_EQ(ReadFile(P("a.csv")).back(), '\n');
  EXPECT_TRUE(SensorStopped());

  ASSERT_EQ(mkfifo(P("fifo").c_str(), 0600), 0);
  const int reader = open(P("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  auto closedRaw = Record({"--port", port, "--raw", P("fifo"), "--csv", P("b.csv")});
  char buf[1000];
  ASSERT_TRUE(WaitFor([&] { return read(reader, buf, sizeof buf) > 0; }, 10s));
  close(reader);
  EXPECT_EQ(closedRaw->Wait(10s), 1);
  EXPECT_NE(closedRaw->Err().find("Broken pipe; recording stopped"), std::string::npos) << closedRaw->Err();
  EXPECT_EQ(ReadFile(P("b.csv")).back(), '\n');
  EXPECT_TRUE(SensorStopped());

  auto hangUp = Record({"--port", port, "--csv", P("c.csv")});
  ASSERT_TRUE(WaitFor([&] { return ReadFile(P("c.csv")).size() > 2000; }, 10s));
  hangUp->Signal(SIGHUP);
  EXPECT_EQ(hangUp->Wait(10s), 0) << hangUp->Err();
  EXPECT_NE(hangUp->Out().find(" points lost"), std::string::npos);
  EXPECT_TRUE(SensorStopped());
}

TEST_F(Road, ASlowRawReaderNeitherGrowsNorHoldsUpTheRecorder) {
  const std::string port = StartSim({"--baud", "460800", "--pps", "max"});
  ASSERT_EQ(mkfifo(P("slow").c_str(), 0600), 0);
  const int slow = open(P("slow").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  std::atomic<bool> reading{true};
  std::string got;
  std::thread reader([&] {  // 1,000 bytes a second
    for (char buf[100]; reading; std::this_thread::sleep_for(100ms)) {
      const ssize_t n = read(slow, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
  });
  auto record = Record({"--port", port, "--baud", "460800", "--seconds", "100", "--raw", P("slow")});
  EXPECT_EQ(record->Wait(40s), 1);
  reading = false;
  reader.join();
  close(slow);
  EXPECT_NE(record->Err().find("does not take the bytes as fast as they arrive"), std::string::npos) << record->Err();
  EXPECT_EQ(got.rfind("OKT,", 0), 0u);  // the acknowledgement, then the first packet

  // A reader that takes nothing at all: Ctrl-C still ends it, and says what was lost.
  ASSERT_EQ(mkfifo(P("stalled").c_str(), 0600), 0);
  const int stalled = open(P("stalled").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  fcntl(stalled, F_SETPIPE_SZ, 4096);  // full within a tenth of a second, however slow the start
  auto stuck = Record({"--port", port, "--baud", "460800", "--raw", P("stalled")});
  std::this_thread::sleep_for(2500ms);
  stuck->Signal(SIGINT);
  EXPECT_EQ(stuck->Wait(10s), 1);
  EXPECT_NE(stuck->Err().find("could not be written to the raw file"), std::string::npos) << stuck->Err();
  close(stalled);
}

// Earlier mends: a write error ends the recording and keeps what was
// written; a stalled recorder gets a backlog and loses nothing of it.
TEST_F(Road, WriteErrorsStopTheRecordingAndAStallLosesNothing) {
  std::string port = StartSim({"--baud", "460800", "--pps", "max"}, "first");
  auto full = Record({"--port", port, "--baud", "460800", "--csv", "/dev/full"});
  EXPECT_EQ(full->Wait(20s), 1);
  EXPECT_NE(full->Err().find("writing CSV file /dev/full failed: No space left on device"), std::string::npos);
  auto fullStats = Record({"--port", port, "--baud", "460800", "--stats", "/dev/full"});
  EXPECT_EQ(fullStats->Wait(20s), 1);
  EXPECT_NE(fullStats->Err().find("writing stats file /dev/full failed: No space left"), std::string::npos);
  auto capped = Record({"--port", port, "--baud", "460800", "--csv", P("capped.csv")}, 20000);
  EXPECT_EQ(capped->Wait(20s), 1);
  EXPECT_NE(capped->Err().find("File too large; recording stopped"), std::string::npos) << capped->Err();
  // The file is cut back after its last whole row.
  const std::string cappedRows = ReadFile(P("capped.csv"));
  EXPECT_GT(cappedRows.size(), 19950u);
  EXPECT_EQ(cappedRows.back(), '\n');
  // A full disk, where a small one can be mounted (as root).
  fs::create_directory(P("small"));
  if (mount("tmpfs", P("small").c_str(), "tmpfs", 0, "size=64k") == 0) {
    auto disk = Record({"--port", port, "--baud", "460800", "--csv", P("small/a.csv"), "--stats", P("small/s.csv")});
    EXPECT_EQ(disk->Wait(20s), 1);
    EXPECT_NE(disk->Err().find("No space left on device; recording stopped"), std::string::npos) << disk->Err();
    const std::string rows = ReadFile(P("small/a.csv")), stats = ReadFile(P("small/s.csv"));
    EXPECT_GT(rows.size(), 50000u);
    EXPECT_EQ(rows.back(), '\n');
    EXPECT_TRUE(stats.empty() || stats.back() == '\n') << stats;
  } else {
    std::printf("full disk not tried: cannot mount a tmpfs: %s\n", std::strerror(errno));
  }

  port = StartSim({"--baud", "460800", "--pps", "max", "--stats-file", P("sim.stats")});
  auto stalled = Record({"--port", port, "--baud", "460800", "--seconds", "1.5", "--csv", P("a.csv"), "--pcd", P("d")});
  ASSERT_TRUE(WaitFor([&] { return ReadFile(P("a.csv")).size() > 20000; }, 10s)) << stalled->Err();
  stalled->Signal(SIGSTOP);
  std::this_thread::sleep_for(400ms);
  stalled->Signal(SIGCONT);
  ASSERT_EQ(stalled->Wait(20s), 0) << stalled->Err();
  EXPECT_NE(stalled->Out().find(" 0 points lost"), std::string::npos) << stalled->Out();
  sims.back()->Signal(SIGTERM);
  ASSERT_EQ(sims.back()->Wait(5s), 0);
  const std::vector<std::string> rows = Lines(ReadFile(P("a.csv")));
  EXPECT_EQ(static_cast<long>(rows.size()) - 1, Stat(P("sim.stats"), "points"));
  // The backlog of a 400 ms stall holds four turns: each still gets its file.
  size_t turns = 0, files = 0;
  for (size_t i = 2; i < rows.size(); ++i) turns += std::stof(rows[i]) < std::stof(rows[i - 1]) - 180;
  for (const auto& entry : fs::directory_iterator(P("d"))) files += entry.is_regular_file();
  EXPECT_GE(turns, 15u);
  EXPECT_GE(files + 1, turns);  // the last turn may end after the recording
}

// One row per way of misusing the two programs: status, message, and files
// that must not appear (or must be kept as they were).
TEST_F(Road, MisuseGetsAClearMessageAndLeavesNothingBehind) {
  struct Row {
    const char* program;
    std::vector<std::string> args;  // "@name" is DIR/name
    int status;
    std::string message;
    std::vector<std::string> absent;
  };
  // One simulator's port held by a recorder; another free for a recorder
  // started with standard output and error closed. Both are checked below.
  StartSim({"--stats-file", P("held.stats")}, "held");
  StartSim({"--stats-file", P("free.stats")}, "free");
  auto holder = Record({"--port", P("held"), "--seconds", "3", "--csv", P("held.csv")});
  ASSERT_TRUE(WaitFor([&] { return ReadFile(P("held.csv")).size() > 1000; }, 10s)) << holder->Err();
  const Row rows[] = {
      {LDS_RECORD_PATH,
       {"--port", "@held", "--csv", "@y.csv"},
       1,
       "cannot open serial port " + P("held") + ": port in use (Device or resource busy)",
       {"y.csv"}},
      {"/bin/sh",
       {"-c", "exec \"$0\" \"$@\" >&- 2>&-", LDS_RECORD_PATH, "--port", "@free", "--seconds", "1", "--csv",
        "@closed.csv"},
       0,
       "",
       {}},
      {LDS_RECORD_PATH,
       {"--port", "/nonexistent", "--csv", "@x.csv", "--raw", "@x.raw", "--pcd", "@d"},
       1,
       "cannot open serial port /nonexistent: No such file or directory",
       {"x.csv", "x.raw", "d"}},
      {LDS_RECORD_PATH, {"--port", "p", "--csv", "@F", "--raw", "@F"}, 2, "--csv and --raw name the same file", {"F"}},
      {LDS_RECORD_PATH, {"--port", "p", "--pcd", "@F", "--raw", "@./F"}, 2, "name the same file", {"F"}},
      {LDS_RECORD_PATH, {"--port", "p", "--csv", "@F", "--stats", "@F"}, 2, "--csv and --stats name the same", {"F"}},
      {LDS_RECORD_PATH, {"--port", "p", "--csv", "@a", "--csv", "@b"}, 2, "option --csv given twice", {"a", "b"}},
      // Through a dangling link, and through a chain of them from another folder.
      {LDS_RECORD_PATH,
       {"--port", "p", "--csv", "@y.csv", "--stats", "@ylink.csv"},
       2,
       "--csv and --stats name the same file",
       {"y.csv"}},
      {LDS_RECORD_PATH,
       {"--port", "p", "--csv", "@y.csv", "--raw", "@sub/up"},
       2,
       "--csv and --raw name the same",
       {"y.csv"}},
      {LDS_RECORD_PATH, {"--port", "p", "--baud", "12345"}, 2, "--baud must be 115200, 230400 or 460800", {}},
      {LDS_RECORD_PATH, {"--port", "p", "--baud", "50"}, 2, "--baud must be", {}},
      {LDS_RECORD_PATH, {"--port", "tcp://robot", "--csv", "@x.csv"}, 2, "--port: no port after the host", {"x.csv"}},
      {LDS_RECORD_PATH,
       {"--port", "tcp://127.0.0.1:1", "--csv", "@x.csv"},
       1,
       "cannot connect to tcp://127.0.0.1:1: connection refused",
       {"x.csv"}},
      {LDS_RECORD_PATH, {"--port", "tcp://robot:0"}, 2, "the port must be a number from 1 to 65535, not \"0\"", {}},
      {LDS_SIM_PATH, {"--link", "@taken"}, 2, "taken already exists; not replacing it", {}},
      {LDS_SIM_PATH, {"--link", "@devlink"}, 2, "devlink already exists", {}},
      {LDS_SIM_PATH, {"--replay", "@dir"}, 1, "cannot read " + P("dir") + ": Is a directory", {}},
      {LDS_SIM_PATH, {"--stats-file", "@none/s"}, 1, "cannot write " + P("none/s") + ": No such file", {"none"}},
      {LDS_SIM_PATH, {"--device", "@taken", "--autostart"}, 2, P("taken") + " is not a terminal device", {}},
      {LDS_SIM_PATH, {"--link", "@a", "--link", "@b"}, 2, "option --link given twice", {"a", "b"}},
  };
  std::ofstream(P("taken")) << "keep";
  ASSERT_EQ(symlink("/dev/null", P("devlink").c_str()), 0);
  fs::create_directory(P("dir"));
  ASSERT_EQ(symlink("y.csv", P("ylink.csv").c_str()), 0);
  fs::create_directory(P("sub"));
  ASSERT_EQ(symlink("../ylink.csv", P("sub/up").c_str()), 0);
  for (const Row& row : rows) {
    std::vector<std::string> argv = {row.program};
    for (const std::string& a : row.args) argv.push_back(a[0] == '@' ? P(a.substr(1)) : a);
    ChildProcess child(argv);
    EXPECT_EQ(child.Wait(10s), row.status) << argv[1] << ' ' << argv[2] << ' ' << child.Err();
    EXPECT_NE(child.Err().find(row.message), std::string::npos) << child.Err();
    for (const std::string& name : row.absent) EXPECT_FALSE(fs::exists(P(name))) << name;
  }
  EXPECT_EQ(ReadFile(P("taken")), "keep");
  EXPECT_EQ(fs::read_symlink(P("devlink")), "/dev/null");
  // The holder kept every point, and so did the recorder without a console.
  EXPECT_EQ(holder->Wait(10s), 0) << holder->Err();
  EXPECT_NE(holder->Out().find(" 0 points lost"), std::string::npos) << holder->Out();
  for (auto& sim : sims) sim->Signal(SIGTERM), sim->Wait(5s);
  EXPECT_EQ(static_cast<long>(Lines(ReadFile(P("held.csv"))).size()) - 1, Stat(P("held.stats"), "points"));
  EXPECT_EQ(static_cast<long>(Lines(ReadFile(P("closed.csv"))).size()) - 1, Stat(P("free.stats"), "points"));
}

}  // namespace
