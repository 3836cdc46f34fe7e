// The window on a sensor behind a real ser2net on 127.0.0.1, as on a robot:
// the room through tcp://, a link that drops while a CSV recording runs, and
// a new connection once ser2net is back.
#include "tests/app/e2e/Session.h"
#include "tests/support/Ser2net.h"
// Last: it brings Xlib's macros.
#include "tests/support/ScreenPixels.h"

using namespace apptest;

namespace {

TEST_F(SessionTest, TheRoomThroughSer2netAndALinkThatDrops) {
  const QString capture = tmp.filePath("sent"), csvFile = tmp.filePath("net.csv");
  Sim sim({"--autostart", "--capture", capture});
  Ser2net server(tmp.path().toStdString(), sim.path.toStdString(), Ser2net::Accepter::Raw);
  const QString address = QString::fromStdString(server.Address());
  Connect(address);
  ASSERT_TRUE(WaitLiveFrames(3));
  QTest::qWait(200);
  EXPECT_GT(CountPixels(SceneArea(ScreenPixels(view)), Coloured), 300);
  EXPECT_TRUE(Find<QLabel>(*window, "diagnosisSource")->text().startsWith("数据来源：实时 " + address + "，"))
      << Find<QLabel>(*window, "diagnosisSource")->text().toStdString();

  Record(csvFile);
  ASSERT_TRUE(WaitLiveFrames(10));
  server.Kill();
  QElapsedTimer lost;
  lost.start();
  EXPECT_TRUE(WaitFor([&] { return Find<QPushButton>(*window, "connectButton")->text() == "连接"; }, 2000));
  EXPECT_LT(lost.elapsed(), 2000);
  EXPECT_FALSE(window->IsSavingCsv());
  const QRegularExpressionMatch m =
      QRegularExpression("^与 (.+) 的连接已断开：(.+) · 已保存 net.csv · (\\d+) 行$").match(Line());
  ASSERT_TRUE(m.hasMatch()) << Line().toStdString();
  EXPECT_EQ(m.captured(1), address);
  EXPECT_EQ(m.captured(2), "the peer closed the connection");

  server.Start();
  Connect(address);
  ASSERT_TRUE(WaitLiveFrames(3));

  // Every row whole, as many as the line says, each the sensor's own values
  // (all of them in the capture once the simulator has ended).
  sim.proc.terminate();
  ASSERT_TRUE(sim.proc.waitForFinished(5000));
  QFile sent(capture);
  ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = Rows(csvFile).split('\n');
  ASSERT_EQ(lines.size() - 1, m.captured(3).toInt());
  EXPECT_TRUE(lines.last().isEmpty());
  EXPECT_GT(lines.size(), 3000);
  EXPECT_EQ(RowsUnlikeSent(lines, sent.readAll(), window->CurrentSettings()), 0) << "of " << lines.size() - 1;
}

}  // namespace
