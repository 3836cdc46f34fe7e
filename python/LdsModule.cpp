// The Python module `lds`: a binding over the C++ library, with no logic of
// its own. Points become NumPy arrays in one C++ pass; every wait releases
// the GIL and looks for signals at least every 50 ms.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "lds/lds.h"

namespace py = pybind11;
using namespace py::literals;

namespace {

constexpr auto kSlice = std::chrono::milliseconds(50);

[[noreturn]] void Raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// One scan setting as Python sees it: its name (lds-record's and the
// window's, in snake_case), its help, and how it is read and written.
struct Field {
  const char* name;
  const char* cppName;  // the member of lds::Settings, as Settings::Check names it
  const char* doc;
  py::object (*get)(const lds::Settings&);
  void (*set)(lds::Settings&, py::handle);
};

bool Bool(const char* name, py::handle v) {
  if (!py::isinstance<py::bool_>(v)) Raise(PyExc_TypeError, std::string(name) + " must be True or False");
  return v.cast<bool>();
}
double Number(const char* name, py::handle v) {
  if (py::isinstance<py::bool_>(v) || !(PyIndex_Check(v.ptr()) || PyFloat_Check(v.ptr())))
    Raise(PyExc_TypeError, std::string(name) + " must be a number");
  return v.cast<double>();
}
int Whole(const char* name, py::handle v) {
  if (py::isinstance<py::bool_>(v) || !PyIndex_Check(v.ptr()))
    Raise(PyExc_TypeError, std::string(name) + " must be a whole number");
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr()));
  int overflow = 0;
  const long long n = index ? PyLong_AsLongLongAndOverflow(index.ptr(), &overflow) : 0;
  if (!index || overflow != 0 || n < INT_MIN || n > INT_MAX)
    Raise(PyExc_ValueError, std::string(name) + " is out of range");
  return static_cast<int>(n);
}

#define LDS_BOOL(py_name, member, help)                                                               \
  Field {                                                                                             \
    py_name, #member, help, [](const lds::Settings& s) -> py::object { return py::bool_(s.member); }, \
        [](lds::Settings& s, py::handle v) { s.member = Bool(py_name, v); }                           \
  }
#define LDS_NUMBER(py_name, member, type, convert, help)                                             \
  Field {                                                                                            \
    py_name, #member, help, [](const lds::Settings& s) -> py::object { return py::cast(s.member); }, \
        [](lds::Settings& s, py::handle v) { s.member = static_cast<type>(convert(py_name, v)); }    \
  }

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = {
      LDS_BOOL("angle_calib", angleCalib, "Angle calibration (True)."),
      LDS_BOOL("algo_filter", algoFilter,
               "Per-point spike and smoothing filter; the points it rejects are dropped (False)."),
      LDS_BOOL("dist_correct", distCorrect, "Distance correction (False)."),
      LDS_BOOL("water_filter", waterFilter,
               "Water-noise filter on each frame: clears a point between min_range and max_range (mm) with an "
               "intensity below intensity_thr where the distance steps around it spread by more than diff_thr (mm) "
               "(False)."),
      LDS_NUMBER("diff_thr", diffThr, double, Number, "Water-noise filter: largest spread, mm, 0 to 10000 (120)."),
      LDS_NUMBER("min_range", minRange, int, Whole, "Water-noise filter: lower distance, mm, 0 to 10000 (300)."),
      LDS_NUMBER("max_range", maxRange, int, Whole, "Water-noise filter: upper distance, mm, 0 to 10000 (1500)."),
      LDS_NUMBER("intensity_thr", intensityThr, int, Whole,
                 "Water-noise filter: intensity that protects a point, 0 to 10000 (40)."),
      LDS_BOOL("edge_filter", edgeFilter,
               "Edge filter: clears the points near the edges of the 60-degree sectors (False)."),
      LDS_NUMBER("edge_margin", edgeMargin, float, Number, "Edge filter: degrees added to the cut, 0 to 22 (1.5)."),
      LDS_NUMBER("angle_offset", angleOffset, float, Number,
                 "Degrees added to every angle as it is decoded, -360 to 360 (0)."),
      Field{"rotation", "rotation", "'counterclockwise' (the default) or 'clockwise': which way y points in xy().",
            [](const lds::Settings& s) -> py::object {
              return py::str(s.rotation == lds::Rotation::Clockwise ? "clockwise" : "counterclockwise");
            },
            [](lds::Settings& s, py::handle v) {
              const std::string text = py::isinstance<py::str>(v) ? v.cast<std::string>() : std::string();
              if (text != "clockwise" && text != "counterclockwise")
                Raise(PyExc_ValueError, "rotation must be 'counterclockwise' or 'clockwise'");
              s.rotation = text == "clockwise" ? lds::Rotation::Clockwise : lds::Rotation::CounterClockwise;
            }},
  };
  return fields;
}

// Settings::Check's complaint, in Python's names.
void CheckOrRaise(const lds::Settings& s) {
  std::string problem = s.Check();
  if (problem.empty()) return;
  for (const Field& f : Fields()) {
    const std::string cpp = std::string(f.cppName) + " ";
    if (problem.rfind(cpp, 0) == 0) problem = f.name + problem.substr(cpp.size() - 1);
  }
  Raise(PyExc_ValueError, problem);
}

lds::Settings SettingsFrom(const py::kwargs& kwargs) {
  lds::Settings s;
  for (auto item : kwargs) {
    const std::string key = py::str(item.first);
    const auto& fields = Fields();
    const auto field = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return key == f.name; });
    if (field == fields.end()) {
      std::string names;
      for (const Field& f : fields) names += std::string(names.empty() ? "" : ", ") + f.name;
      Raise(PyExc_TypeError, "unknown setting '" + key + "'; the settings are " + names);
    }
    field->set(s, item.second);
  }
  CheckOrRaise(s);
  return s;
}

// Points as three arrays, made once.
struct Points {
  py::array_t<float> angle;
  py::array_t<uint16_t> distance;
  py::array_t<uint8_t> intensity;
  std::vector<lds::Point> points;  // for xy()
  lds::Rotation rotation = lds::Rotation::CounterClockwise;

  Points(std::vector<lds::Point> from, lds::Rotation r)
      : angle(from.size()), distance(from.size()), intensity(from.size()), points(std::move(from)), rotation(r) {
    auto a = angle.mutable_unchecked<1>();
    auto d = distance.mutable_unchecked<1>();
    auto i = intensity.mutable_unchecked<1>();
    for (size_t k = 0; k < points.size(); ++k) {
      a(k) = points[k].angle;
      d(k) = points[k].distance;
      i(k) = points[k].intensity;
    }
  }
  py::array_t<float> XY() const {
    py::array_t<float> xy({points.size(), size_t{2}});
    auto m = xy.mutable_unchecked<2>();
    for (size_t k = 0; k < points.size(); ++k) {
      const lds::PlanePoint p = lds::ToPlane(points[k], rotation);
      m(k, 0) = p.x;
      m(k, 1) = p.y;
    }
    return xy;
  }
};

struct Revolution {
  int64_t number;
  float speedRpm;
  int timestampMs;
  Points points;
  Points frame;
  lds::LinkStats link;

  Revolution(lds::Revolution r, lds::Rotation rotation)
      : number(r.number),
        speedRpm(r.speedRpm),
        timestampMs(r.timestampMs),
        points(std::move(r.points), rotation),
        frame(std::move(r.frame), rotation),
        link(r.link) {}
};

struct Sensor {
  lds::Sensor sensor;
  std::string port;
  int baud;
  Sensor(const std::string& p, int b, const lds::Settings& s) : sensor(s), port(p), baud(b) {
    py::gil_scoped_release nogil;
    sensor.Open(port, baud);
  }
};

// The iterator revolutions() returns.
struct Revolutions {
  py::object owner;  // keeps the Sensor alive
  Sensor* sensor;
  std::optional<long> count;
  std::optional<double> timeout;
  long taken = 0;

  Revolution Next() {
    if (count && taken >= *count) throw py::stop_iteration();
    const auto start = std::chrono::steady_clock::now();
    lds::Revolution r;
    for (;;) {
      auto slice = kSlice;
      if (timeout) {
        // In seconds as a double first: a timeout of 1e300 s must not overflow.
        const double left = *timeout - std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (left < 0.05) slice = std::chrono::milliseconds(static_cast<long>(std::max(0.0, left) * 1000.0));
      }
      bool got = false;
      {
        py::gil_scoped_release nogil;
        got = sensor->sensor.Next(r, slice);
      }
      if (got) break;
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (timeout && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(*timeout))
        Raise(PyExc_TimeoutError, "no revolution from " + sensor->port + " within " +
                                      py::str(py::float_(*timeout)).cast<std::string>() + " s");
    }
    ++taken;
    return Revolution(std::move(r), sensor->sensor.GetSettings().rotation);
  }
};

struct RawReader {
  lds::RawReader reader;
  lds::Rotation rotation;
  RawReader(const std::string& path, const lds::Settings& s) : reader(path, s), rotation(s.rotation) {}
  Revolution Next() {
    lds::Revolution r;
    bool got = false;
    {
      py::gil_scoped_release nogil;
      got = reader.Next(r);
    }
    if (!got) throw py::stop_iteration();
    return Revolution(std::move(r), rotation);
  }
};

std::string LinkStatsRepr(const lds::LinkStats& s) {
  return "LinkStats(bytes_received=" + std::to_string(s.bytesReceived) + ", packets=" + std::to_string(s.packets) +
         ", crc_errors=" + std::to_string(s.crcErrors) + ", skipped_bytes=" + std::to_string(s.skippedBytes) +
         ", overflow_chunks=" + std::to_string(s.overflowChunks) + ", acks=" + std::to_string(s.acks) +
         ", dropped_points=" + std::to_string(s.droppedPoints) +
         ", dropped_revolutions=" + std::to_string(s.droppedRevolutions) + ")";
}

}  // namespace

PYBIND11_MODULE(lds, m) {
  m.doc() = R"(Rotating 2-D laser distance sensors: whole revolutions as NumPy arrays.

    with lds.Sensor("/dev/ttyUSB0", baud=230400) as sensor:   # or "tcp://robot:2000"
        sensor.start()
        for rev in sensor.revolutions(count=10, timeout=5.0):
            print(rev.number, rev.speed_rpm, rev.distance.min())
        sensor.stop()

    for rev in lds.read_raw("run.raw"):   # from lds-record --raw or the window
        ...

The points of a revolution are those lds-record --csv writes for it with the
same settings: same decoder, corrections and filters. Settings are keyword
arguments (and attributes of a Sensor): )" +
            [] {
              std::string names;
              for (const Field& f : Fields()) names += std::string(names.empty() ? "" : ", ") + f.name;
              return names + ".";
            }();
  m.attr("__version__") = lds::Version();

  py::register_exception<lds::Error>(m, "Error").attr("__doc__") =
      "What the sensor or a recording failed at, and why: a port that cannot be opened or was lost, a command the "
      "sensor did not acknowledge, a file that cannot be read.";

  py::class_<lds::LinkStats>(m, "LinkStats",
                             "Link-health counters since the sensor object was made (or the recording opened).")
      .def_readonly("bytes_received", &lds::LinkStats::bytesReceived, "Every byte received.")
      .def_readonly("packets", &lds::LinkStats::packets, "Measurement packets decoded, 12 points each.")
      .def_readonly("crc_errors", &lds::LinkStats::crcErrors, "Packets with a wrong check sum, left out.")
      .def_readonly("skipped_bytes", &lds::LinkStats::skippedBytes, "Bytes between packets that belong to none.")
      .def_readonly("overflow_chunks", &lds::LinkStats::overflowChunks, "Blocks lost because the receiver was full.")
      .def_readonly("acks", &lds::LinkStats::acks, "Acknowledgements of commands.")
      .def_readonly("dropped_points", &lds::LinkStats::droppedPoints, "Decoded points not taken in time.")
      .def_readonly("dropped_revolutions", &lds::LinkStats::droppedRevolutions,
                    "Revolutions dropped because more than 600 waited to be taken.")
      .def("__repr__", &LinkStatsRepr);

  py::class_<Points>(m, "Frame",
                     "The 600 slots of 0.6 degrees the window draws as a revolution ends (slot k at k * 0.6 "
                     "degrees), water-noise and edge filters applied; empty slots are all zero.")
      .def_readonly("angle", &Points::angle, "Angles in degrees (float32).")
      .def_readonly("distance", &Points::distance, "Distances in mm, 0 where nothing was measured (uint16).")
      .def_readonly("intensity", &Points::intensity, "Signal strengths 0 to 255 (uint8).")
      .def("xy", &Points::XY, "The points in metres as an (n, 2) float32 array, as the window draws them.")
      .def("__len__", [](const Points& p) { return p.points.size(); });

  py::class_<Revolution>(m, "Revolution",
                         "One whole revolution: the points measured between two passes of 0 degrees, in the order "
                         "measured (the rows lds-record --csv writes for it), one array entry per point.")
      .def_readonly("number", &Revolution::number, "1 for the first whole revolution, then counting up.")
      .def_readonly("speed_rpm", &Revolution::speedRpm, "Rotation speed the sensor reported as it ended, r/min.")
      .def_readonly("timestamp_ms", &Revolution::timestampMs, "The sensor's clock as it ended, ms (wraps at 65536).")
      .def_property_readonly(
          "angle", [](const Revolution& r) { return r.points.angle; }, "Angles in degrees, 0 to 360 (float32).")
      .def_property_readonly(
          "distance", [](const Revolution& r) { return r.points.distance; },
          "Distances in mm, 0 where nothing was measured (uint16).")
      .def_property_readonly(
          "intensity", [](const Revolution& r) { return r.points.intensity; }, "Signal strengths 0 to 255 (uint8).")
      .def_readonly("frame", &Revolution::frame, "The window's 600-slot picture as this revolution ended (a Frame).")
      .def_readonly("link_stats", &Revolution::link, "The link counters as it ended (a LinkStats).")
      .def(
          "xy", [](const Revolution& r) { return r.points.XY(); },
          "The points in metres as an (n, 2) float32 array: x along 0 degrees, y along 90 degrees for the "
          "rotation 'counterclockwise', along -90 for 'clockwise'.")
      .def("__len__", [](const Revolution& r) { return r.points.points.size(); })
      .def("__repr__", [](const Revolution& r) {
        return "<lds.Revolution " + std::to_string(r.number) + ": " + std::to_string(r.points.points.size()) +
               " points, " + py::str(py::float_(r.speedRpm)).cast<std::string>() + " r/min>";
      });

  py::class_<Revolutions>(m, "Revolutions", "The iterator Sensor.revolutions() returns.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Revolutions::Next);

  py::class_<Sensor> sensor(m, "Sensor", R"(A sensor on a port, opened at once.

Sensor(port, baud=230400, **settings)

port is a device path (/dev/ttyUSB0, a /dev/serial/by-id link), tcp://HOST:PORT
or rfc2217://HOST:PORT; baud is 115200, 230400 or 460800. Raises lds.Error with
the reason when the port cannot be opened, ValueError or TypeError for a bad
setting. A thread of the library reads the port and keeps whole revolutions in
order until revolutions() hands them out (the oldest go beyond 600).

Use it as a context manager: leaving the block closes the port, after stopping
the sensor if start() was called and stop() was not.)");
  sensor
      .def(py::init([](const std::string& port, int baud, const py::kwargs& kwargs) {
             return new Sensor(port, baud, SettingsFrom(kwargs));
           }),
           "port"_a, "baud"_a = 230400)
      .def(
          "start", [](Sensor& s) { s.sensor.Start(); }, py::call_guard<py::gil_scoped_release>(),
          "Sends the start command and waits for the acknowledgement; raises lds.Error with the reason if none comes.")
      .def(
          "stop", [](Sensor& s) { s.sensor.Stop(); }, py::call_guard<py::gil_scoped_release>(),
          "Sends the stop command and waits for the acknowledgement; raises lds.Error with the reason if none comes.")
      .def(
          "close", [](Sensor& s) { s.sensor.Close(); }, py::call_guard<py::gil_scoped_release>(),
          "Stops the sensor if start() was called and stop() was not, and closes the port. Harmless when closed.")
      .def(
          "revolutions",
          [](py::object self, std::optional<long> count, std::optional<double> timeout) {
            if (count && *count < 0) Raise(PyExc_ValueError, "count must not be negative");
            if (timeout && !(*timeout >= 0)) Raise(PyExc_ValueError, "timeout must be a number of seconds, 0 or more");
            return Revolutions{self, &self.cast<Sensor&>(), count, timeout};
          },
          "count"_a = py::none(), "timeout"_a = 5.0,
          R"(Iterates over the revolutions as they complete.

count: how many to hand out (None: until the loop ends it).
timeout: seconds to wait for each one (None: for ever); TimeoutError when none
comes in time. A lost port raises lds.Error with the reason, once the
revolutions received before it have been handed out. The wait looks for
signals every 50 ms, so Ctrl-C raises KeyboardInterrupt at once.)")
      .def_property_readonly(
          "is_open", [](Sensor& s) { return s.sensor.IsOpen(); },
          "Whether the port is open: from opening until close(), also once it has been lost (revolutions() then "
          "raises lds.Error with the reason).")
      .def_readonly("port", &Sensor::port, "The port as given.")
      .def_readonly("baud", &Sensor::baud, "The baud rate as given.")
      .def_property_readonly(
          "link_stats", [](Sensor& s) { return s.sensor.GetLinkStats(); }, "The link counters now (a LinkStats).")
      .def(
          "__enter__", [](py::object self) { return self; }, "The sensor itself.")
      .def(
          "__exit__", [](Sensor& s, py::args) { s.sensor.Close(); }, py::call_guard<py::gil_scoped_release>(),
          "Closes, as close() does; an exception goes on.")
      .def("__repr__", [](Sensor& s) {
        return "<lds.Sensor " + s.port + " at " + std::to_string(s.baud) + " baud, " +
               (s.sensor.IsOpen() ? "open" : "closed") + ">";
      });
  for (const Field& field : Fields()) {
    const Field* f = &field;
    sensor.def_property(
        f->name, [f](Sensor& s) { return f->get(s.sensor.GetSettings()); },
        [f](Sensor& s, py::handle value) {
          lds::Settings settings = s.sensor.GetSettings();
          f->set(settings, value);
          CheckOrRaise(settings);
          s.sensor.SetSettings(settings);
        },
        (std::string(f->doc) + " Takes effect with the next points.").c_str());
  }

  py::class_<RawReader>(m, "RawReader", "The iterator read_raw() returns.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &RawReader::Next)
      .def_property_readonly(
          "link_stats", [](RawReader& r) { return r.reader.GetLinkStats(); },
          "The link counters of what has been read so far (a LinkStats).");

  m.def(
      "read_raw",
      [](const std::string& path, const py::kwargs& kwargs) {
        const lds::Settings settings = SettingsFrom(kwargs);
        py::gil_scoped_release nogil;
        return new RawReader(path, settings);
      },
      "path"_a, py::return_value_policy::take_ownership,
      R"(Iterates over the whole revolutions of a raw recording.

read_raw(path, **settings)

The file holds every byte a sensor sent, as lds-record --raw and the window's
保存原始数据 write it. It goes through the same decoder, corrections and
filters as a live sensor and gives the revolutions the window's replay shows.
Raises lds.Error when the file cannot be read.)");
}
