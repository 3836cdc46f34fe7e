#!/usr/bin/python3
"""Publishes sensor_msgs/LaserScan of the simulated room at 10 Hz.

The same room as lds-sim: 8 m x 6 m, sensor at (3.2, 2.6), a round pillar of
0.25 m radius at (5.4, 4.1) and a box from (1.2, 0.8) to (1.8, 1.3). 600
beams 0.6 degrees apart, angle 0 along +x, counter-clockwise, ranges in
metres with 3 mm Gaussian noise (clipped at 10 mm) so that every scan
differs. Stands in for the sensor driver when the scan is shown in RViz.

    laserscan_pub.py SECONDS [TOPIC]

Prints "subscribed" once a subscriber is connected, and exits after SECONDS.
"""
import math
import random
import sys

import rospy
from sensor_msgs.msg import LaserScan

BEAMS = 600
STEP = math.radians(0.6)
SENSOR = (3.2, 2.6)
ROOM = (0.0, 0.0, 8.0, 6.0)
PILLAR = (5.4, 4.1, 0.25)
BOX = (1.2, 0.8, 1.8, 1.3)


def slab_hit(ox, oy, dx, dy, box):
    """Distance along the ray to the outside of an axis-aligned box, or None."""
    x0, y0, x1, y1 = box
    tmin, tmax = -math.inf, math.inf
    for o, d, lo, hi in ((ox, dx, x0, x1), (oy, dy, y0, y1)):
        if abs(d) < 1e-12:
            if o < lo or o > hi:
                return None
            continue
        a, b = (lo - o) / d, (hi - o) / d
        tmin, tmax = max(tmin, min(a, b)), min(tmax, max(a, b))
    if tmax < max(tmin, 0.0):
        return None
    return tmin if tmin > 0.0 else None


def true_range(angle):
    ox, oy = SENSOR
    dx, dy = math.cos(angle), math.sin(angle)
    # Walls: the sensor is inside the room, so take the nearest exit.
    x0, y0, x1, y1 = ROOM
    best = math.inf
    if dx > 1e-12:
        best = min(best, (x1 - ox) / dx)
    if dx < -1e-12:
        best = min(best, (x0 - ox) / dx)
    if dy > 1e-12:
        best = min(best, (y1 - oy) / dy)
    if dy < -1e-12:
        best = min(best, (y0 - oy) / dy)
    # Pillar: nearest root of |o + t d - c| = r.
    cx, cy, r = PILLAR
    fx, fy = ox - cx, oy - cy
    b = fx * dx + fy * dy
    disc = b * b - (fx * fx + fy * fy - r * r)
    if disc >= 0.0:
        t = -b - math.sqrt(disc)
        if t > 0.0:
            best = min(best, t)
    t = slab_hit(ox, oy, dx, dy, BOX)
    if t is not None:
        best = min(best, t)
    return best


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 120.0
    topic = sys.argv[2] if len(sys.argv) > 2 else "/scan"
    rospy.init_node("laserscan_pub", anonymous=True, disable_signals=False)
    pub = rospy.Publisher(topic, LaserScan, queue_size=10)
    truth = [true_range(i * STEP) for i in range(BEAMS)]
    rng = random.Random(1)

    msg = LaserScan()
    msg.header.frame_id = "laser"
    msg.angle_min = 0.0
    msg.angle_increment = STEP
    msg.angle_max = (BEAMS - 1) * STEP
    msg.scan_time = 0.1
    msg.time_increment = 0.1 / BEAMS
    msg.range_min = 0.05
    msg.range_max = 12.0

    rate = rospy.Rate(10)
    end = rospy.get_time() + seconds
    announced = False
    while not rospy.is_shutdown() and rospy.get_time() < end:
        ranges = []
        for d in truth:
            noise = max(-0.010, min(0.010, rng.gauss(0.0, 0.003)))
            ranges.append(d + noise)
        msg.header.stamp = rospy.Time.now()
        msg.ranges = ranges
        # Weaker returns from farther away, as a sensor's intensity byte would be.
        msg.intensities = [max(10.0, 200.0 - 20.0 * r) for r in ranges]
        pub.publish(msg)
        if not announced and pub.get_num_connections() > 0:
            print("subscribed", flush=True)
            announced = True
        try:
            rate.sleep()
        except rospy.ROSInterruptException:
            break


if __name__ == "__main__":
    main()
