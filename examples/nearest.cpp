// For each revolution, the nearest point's distance and angle.
//   nearest PORT [BAUD] [REVOLUTIONS]
#include <lds/lds.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [BAUD] [REVOLUTIONS]\n", argv[0]);
    return 2;
  }
  const int baud = argc > 2 ? std::atoi(argv[2]) : 230400;
  const long count = argc > 3 ? std::atol(argv[3]) : 10;
  // Distance 0 means nothing was measured there: it is never the nearest.
  auto nearer = [](const lds::Point& a, const lds::Point& b) {
    return (a.distance ? a.distance : 65536) < (b.distance ? b.distance : 65536);
  };
  try {
    lds::Sensor sensor;
    sensor.Open(argv[1], baud);
    sensor.Start();
    lds::Revolution rev;
    for (long n = 0; n < count; ++n) {
      if (!sensor.Next(rev, std::chrono::seconds(5))) throw lds::Error("no revolution within 5 s");
      const auto p = std::min_element(rev.points.begin(), rev.points.end(), nearer);
      if (p != rev.points.end() && p->distance > 0)
        std::printf("revolution %lld: %u mm at %.1f degrees\n", static_cast<long long>(rev.number), p->distance,
                    p->angle);
    }
    sensor.Stop();
  } catch (const lds::Error& e) {
    std::fprintf(stderr, "nearest: %s\n", e.what());
    return 1;
  }
  return 0;
}
