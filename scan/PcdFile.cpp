#include "scan/PcdFile.h"

#include <pcl/io/pcd_io.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

#include "scan/PlanePoint.h"

pcl::PointXYZI ToCloudPoint(const KXScanPoint& point, int rotationSign) {
  const PlanePoint plane = ToPlanePoint(point, rotationSign);
  pcl::PointXYZI out;
  out.x = plane.x;
  out.y = plane.y;
  out.z = 0.0f;
  out.intensity = static_cast<float>(point.intensity);
  return out;
}

bool WritePcdFile(const std::string& path, const std::vector<KXScanPoint>& frame, int rotationSign,
                  std::string& error) {
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.reserve(frame.size());
  for (const KXScanPoint& p : frame) {
    if (p.distance != 0) cloud.push_back(ToCloudPoint(p, rotationSign));
  }
  cloud.width = static_cast<uint32_t>(cloud.size());
  cloud.height = 1;
  cloud.is_dense = true;

  pcl::PCDWriter writer;
  int result = 0;
  try {
    if (cloud.empty()) {
      // PCL refuses to write a cloud without points; a revolution whose
      // points were all filtered out still gets its (empty) file.
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << writer.generateHeader(cloud) << "DATA ascii\n";
      out.close();
      result = out ? 0 : -1;
    } else {
      result = writer.writeBinary(path, cloud);
    }
  } catch (const std::exception& e) {
    error = "writing PCD file " + path + " failed: " + e.what();
    return false;
  }
  if (result != 0) {
    error = "writing PCD file " + path + " failed" + (errno ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }
  return true;
}
