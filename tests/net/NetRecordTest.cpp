// lds-record against a sensor on "another computer": lds-sim behind a real
// ser2net on 127.0.0.1, as a robot serves it. Nothing here talks to any
// address but loopback.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "tests/support/Ser2net.h"
#include "tests/support/TextFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class NetRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/lds-net-record-XXXXXX";
    dir = mkdtemp(name);
  }
  void TearDown() override {
    for (auto& sim : sims) sim->Signal(SIGTERM), sim->Wait(5s);
    fs::remove_all(dir);
  }
  std::string P(const std::string& name) const { return (dir / name).string(); }
  std::string StartSim(std::vector<std::string> extra, const std::string& name) {
    extra.insert(extra.begin(), {LDS_SIM_PATH, "--link", P(name), "--stats-file", P(name + ".stats")});
    sims.push_back(std::make_unique<ChildProcess>(extra));
    EXPECT_EQ(sims.back()->FirstLine().rfind("/dev/pts/", 0), 0u) << sims.back()->Err();
    return P(name);
  }
  std::unique_ptr<ChildProcess> Record(std::vector<std::string> args) {
    args.insert(args.begin(), LDS_RECORD_PATH);
    return std::make_unique<ChildProcess>(args);
  }

  fs::path dir;
  std::vector<std::unique_ptr<ChildProcess>> sims;
};

// One captured stream played through the pseudo-terminal, tcp:// and
// rfc2217://: the same rows, the start and the stop acknowledged each time.
// (That the baud rate reaches the far terminal is checked while connected, in
// the link tests: ser2net puts the terminal's settings back as it closes it.)
TEST_F(NetRecord, EveryAddressKindRecordsTheSameRows) {
  auto capture = Record({"--port", StartSim({}, "room"), "--revolutions", "5", "--raw", P("stream.raw")});
  ASSERT_EQ(capture->Wait(30s), 0) << capture->Err();
  std::string first;
  for (auto accepter : {-1, int(Ser2net::Accepter::Raw), int(Ser2net::Accepter::Rfc2217)}) {
    const std::string name = "replay" + std::to_string(accepter + 1);
    const std::string link = StartSim({"--replay", P("stream.raw"), "--wait-start"}, name);
    std::unique_ptr<Ser2net> server;
    if (accepter >= 0) server = std::make_unique<Ser2net>(dir.string(), link, Ser2net::Accepter(accepter));
    const std::string port = server ? server->Address() : link;
    auto record = Record({"--port", port, "--baud", "460800", "--revolutions", "3", "--csv", P(name + ".csv")});
    ASSERT_EQ(record->Wait(30s), 0) << port << ' ' << record->Err();
    EXPECT_EQ(record->Err().find("acknowledge"), std::string::npos) << record->Err();
    EXPECT_TRUE(WaitFor([&] { return Stat(P(name + ".stats"), "acks") == 2; }, 3s)) << port;
    const std::string rows = ReadFile(P(name + ".csv"));
    EXPECT_EQ(Lines(rows).size(), 1u + 3 * 450) << port;
    if (first.empty()) first = rows;
    EXPECT_EQ(rows, first) << port;
  }
}

// ser2net killed mid-recording: without --reconnect the recorder stops with
// the reason; with it, it waits for ser2net's return, starts the sensor again
// and marks the gap. Either way every row written is whole.
TEST_F(NetRecord, AKilledServerEndsOrInterruptsTheRecording) {
  for (const bool reconnect : {false, true}) {
    SCOPED_TRACE(reconnect ? "--reconnect" : "no --reconnect");
    const std::string name = reconnect ? "again" : "once";
    Ser2net server(dir.string(), StartSim({}, name), Ser2net::Accepter::Raw);
    std::vector<std::string> args = {"--port", server.Address(), "--seconds", reconnect ? "5" : "20",
                                     "--csv",  P(name + ".csv"), "--stats",   P(name + "-stats.csv")};
    if (reconnect) args.push_back("--reconnect");
    auto record = Record(args);
    ASSERT_TRUE(WaitFor([&] { return ReadFile(P(name + ".csv")).size() > 20000; }, 10s)) << record->Err();
    server.Kill();
    if (reconnect) {
      std::this_thread::sleep_for(1500ms);
      server.Start();
    }
    ASSERT_EQ(record->Wait(15s), reconnect ? 0 : 1) << record->Err();
    const std::string lost = "lost the link to " + server.Address() + ": the peer closed the connection";
    EXPECT_NE(record->Err().find(lost + (reconnect ? "; connecting again" : "; recording stopped")), std::string::npos)
        << record->Err();

    const std::string csv = ReadFile(P(name + ".csv"));
    ASSERT_EQ(csv.back(), '\n');
    for (const std::string& row : Lines(csv.substr(csv.find('\n') + 1))) {
      float angle;
      unsigned distance, intensity;
      ASSERT_EQ(std::sscanf(row.c_str(), "%f,%u,%u", &angle, &distance, &intensity), 3) << row;
    }
    // No revolution joins the points from both sides of the gap: one that
    // did would last the 1.5 s outage and more.
    size_t gaps = 0, after = 0;
    for (const std::string& row : Lines(ReadFile(P(name + "-stats.csv")))) {
      long number, timeMs, durationMs;
      if (row.rfind("gap,", 0) == 0) {
        ++gaps;
      } else if (std::sscanf(row.c_str(), "%ld,%ld,%ld,", &number, &timeMs, &durationMs) == 3) {
        EXPECT_LT(durationMs, 1400) << row;
        after += gaps;
      }
    }
    EXPECT_EQ(gaps, reconnect ? 1u : 0u);
    if (!reconnect) continue;
    EXPECT_GT(after, 5u);
    EXPECT_NE(record->Out().find(", 1 outages ("), std::string::npos) << record->Out();
    // The attempts while ser2net was down are reported in the recorder's own lines, not the decoder's.
    EXPECT_EQ(record->Err().find("Error: open serial port failed."), std::string::npos) << record->Err();
    EXPECT_EQ(Stat(P(name + ".stats"), "acks"), 3);  // start, start again, stop
  }
}

}  // namespace
