#pragma once

#include <pcl/point_types.h>

#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"

// One revolution as a PCD file, shared by the recorder's --pcd files and the
// window's 保存当前帧, so that both write the same fields in the same format.

// The viewer's conversion of a point to metres in the plane z = 0, with the
// same single- and double-precision steps; `rotationSign` +1 is counter-clockwise.
pcl::PointXYZI ToCloudPoint(const KXScanPoint& point, int rotationSign = 1);

// Writes the filled slots (distance > 0) of `frame` to `path` as a binary PCD
// file with the fields x, y, z and intensity; a frame without any gets a valid
// empty file. False with the reason in `error` otherwise.
bool WritePcdFile(const std::string& path, const std::vector<KXScanPoint>& frame, int rotationSign, std::string& error);
